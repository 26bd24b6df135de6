#pragma once
// The secured PostgreSQL store. Its owner installs functions (SECURITY DEFINER) that do what the
// desktop calls do, and the desktops' role may run those functions and nothing else: it can
// read no password, change no grant and touch no audit row. A session opened with such an
// account finds out at ConnectDatabase and then makes each check one call of a function.
#include "platform/adodb.h"

#include <QString>
#include <QStringList>
#include <cstdint>

namespace vardex {
class LibrarySession;
}

namespace vardex::securestore {

// Whether cn is a desktop's session on a secured store: PostgreSQL, the functions present in a
// schema of the search path (pg_temp never counts) beside a qx_user the account may not read.
// One statement; false on the other databases (none sent). *schema is then that schema, quoted:
// every call below names it.
bool detect(AdoConnection& cn, QString* schema = nullptr);

// The message of a call that needs an administrator's account, made on a desktop's session.
QString adminNeededText(const QString& call);
// Raises Error with adminNeededText(call) when the session is a desktop's on a secured store.
void refuseOnDesktop(const LibrarySession& s, const char* call);

struct LoginAnswer {
    int code = 0;
    QString userName; // for 0: the name of the user whose row matched
};
// Every call sends each value as a bound parameter, never in the statement text; schema is what
// detect() found.
//
// Verifies a login (with the lockout); with writeRows, a success writes the logout row of
// previousUser (when not empty) and the login row. Two statements, each a transaction of its
// own: refused (DbError, nothing sent) while a transaction is open on cn.
LoginAnswer login(AdoConnection& cn, const QString& schema, const QString& userId, const QString& password,
                  const QString& workDate, const QString& computer, const QString& previousUser,
                  bool writeRows);

struct RightAnswer {
    int code = 0;
    bool itemDefined = false;
    QString itemName;
};
// Checks a right; a grant writes the audit row under userName.
RightAnswer checkRight(AdoConnection& cn, const QString& schema, const QString& userId, int rightId,
                       const QString& computer, const QString& userName);
// Answers count items (count > 0); answers may overlap rightIds.
void queryRights(AdoConnection& cn, const QString& schema, const QString& userId, const int32_t* rightIds,
                 int count, int32_t* answers);
// The change of password: two statements as a login's.
int changePassword(AdoConnection& cn, const QString& schema, const QString& userId,
                   const QString& oldPassword, const QString& newPassword, const QString& workDate,
                   const QString& computer, const QString& userName);
void logout(AdoConnection& cn, const QString& schema, const QString& computer, const QString& userName);

// What secure and undo did, one line each.
struct Report {
    QStringList lines;
};
// Secures the store cn is opened on (the owner's account) for clientRole: the desktops' login
// role, or a group role whose members are the desktops' logins. Takes from clientRole and PUBLIC
// every privilege on the store's tables (and their columns) and procedures, CREATE on its schema
// and TEMPORARY on the database, recording them for undo, and makes the functions anew.
// Raises Error naming what stands in the way and what to do (not PostgreSQL, a database not
// encoded UTF8, not the owner, no such role, password.hash not bcrypt, cipher text left, and any
// way a role the desktops may act as would still reach the store: an attribute such as
// CREATEROLE or BYPASSRLS, ownership, a predefined role, a privilege held on the store's tables,
// columns, procedures, schema, TEMPORARY or a view reading them, ADMIN OPTION on clientRole,
// default privileges handing it new tables); nothing is changed then. Running it again changes
// nothing on a store it secured; on one an older version secured it brings the functions and
// privileges to today's, keeping what was recorded the first time.
Report secure(AdoConnection& cn, const QString& clientRole);
// Drops the functions and gives back to clientRole and PUBLIC the privileges secure took.
Report undo(AdoConnection& cn, const QString& clientRole);

// Upgrade of a secured store. secure joins a transaction the caller holds (committing none of
// its own then) and records, in vardex_meta's row secure.functions, which functions it made;
// undo forgets that row.
// Whether the store cn is opened on (the owner's account) was secured: it has vardex_secure_grants.
bool isSecured(AdoConnection& cn);
// Whether the secured store's functions are this program's.
bool functionsCurrent(AdoConnection& cn);
// The role the secured store's functions were granted to, as its name. Raises Error when it
// cannot be told (none, or more than one).
QString securedRole(AdoConnection& cn);

} // namespace vardex::securestore
