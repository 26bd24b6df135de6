#pragma once
// The store as the verbs see it: the session opened from the command line, one transaction
// per verb, and what the administration window would show, read back from the tables.
#include "cli/cli.h"
#include "library/adminops.h"
#include "library/dmain.h"
#include "library/storeops.h"
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
    TdData& data() { return m_session.data(); }
    AdoConnection& cn() { return data().ADOcn; }
    // The library session the verb works on: its own, so that verbs run one after another in
    // one process start from nothing, as separate processes would.
    LibrarySession& session() { return m_session; }
    // Runs body in one transaction: committed when it returns, rolled back when it throws.
    void transaction(const std::function<void()>& body);

  private:
    LibrarySession m_session;
    TraceFile m_trace; // where the statement log goes when the session ends
};

// The qx_user rows in the order the administration window lists them, read as it reads them.
using adminops::loadUsers;
using adminops::UserRow;
const UserRow* findUser(const QVector<UserRow>& users, const QString& id);
// The user group numbered n (the first row with that zuid, as the window finds it).
const UserRow* groupByNumber(const QVector<UserRow>& users, int n);
const UserRow* groupByName(const QVector<UserRow>& users, const QString& name);
// The user group a member is listed under, or null (a user in none, or a lost member).
const UserRow* parentGroup(const QVector<UserRow>& users, const UserRow& u);
using storeops::itemExists;
using storeops::permissionGroups;

} // namespace vardex::cli
