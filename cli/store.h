#pragma once
// The store as the verbs see it: the session opened from the command line, one transaction
// per verb, and what the administration window would show, read back from the tables.
#include "cli/cli.h"
#include "library/adminops.h"
#include "library/storeschema.h"
#include "library/udata.h"

#include <functional>

namespace vardex::cli {

// Opens the library session on the store of the command line; closes it when it goes.
class StoreSession {
  public:
    StoreSession(const QCommandLineParser& p, const QString& positional = QString());
    ~StoreSession();
    StoreSession(const StoreSession&) = delete;
    StoreSession& operator=(const StoreSession&) = delete;
    TdData& data();
    AdoConnection& cn() { return data().ADOcn; }
    // Runs body in one transaction: committed when it returns, rolled back when it throws.
    void transaction(const std::function<void()>& body);

  private:
    TraceFile m_trace; // where the statement log goes when the session ends
};

struct UserInfo {
    QString id, name, password, start, end;
    bool allow = false;
    int discount = 0;
    int zuid = 0;
    bool isGroup() const { return schema::isUserGroup(zuid); }
};

// The qx_user rows in the order the administration window lists them.
QVector<UserInfo> loadUsers(AdoConnection& cn);
const UserInfo* findUser(const QVector<UserInfo>& users, const QString& id);
// The user group numbered n (the first row with that zuid, as the window finds it).
const UserInfo* groupByNumber(const QVector<UserInfo>& users, int n);
const UserInfo* groupByName(const QVector<UserInfo>& users, const QString& name);
// The user group a member is listed under, or null (a user in none, or a lost member).
const UserInfo* parentGroup(const QVector<UserInfo>& users, const UserInfo& u);
// Every permission group name, sorted.
QStringList permissionGroups(AdoConnection& cn);
bool itemExists(AdoConnection& cn, int qxId);

} // namespace vardex::cli
