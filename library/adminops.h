#pragma once
// The administration actions without a window: one function per action of the administration
// window and of the item list editor, each sending exactly the statements and procedure calls,
// in the same order and with the same text, that the window sends for it. The functions run on
// the session's data module (the connection and the two queries the windows use) and raise
// the data layer's errors; they begin and end no transaction of their own.
//
// Flags are the store's texts "T" and "F"; users, user groups and their numbers as
// library/storeschema.h describes them.
#include "library/storeschema.h"
#include "library/udata.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

namespace vardex::adminops {

// Marks the session's transaction as a window's (the item list editor or the administration
// window run with useTransaction 1) from its beginning to its end. What is sent meanwhile lands
// in that transaction and goes with the window's Cancel, so calls that would report such work as
// done, and a second window, are refused while the mark is set.
class WindowTransaction {
  public:
    WindowTransaction();
    ~WindowTransaction();
    WindowTransaction(const WindowTransaction&) = delete;
    WindowTransaction& operator=(const WindowTransaction&) = delete;
    static bool open();
};
// Raises Error naming the call while a window's transaction is open.
void refuseInWindowTransaction(const char* call);

// A modal visit of a window, with transaction true inside a transaction of its own: the one
// place where a window's transaction is begun and marked (WindowTransaction), committed when
// the visit answers tag 1 and rolled back otherwise. prepare runs first (building the window,
// no statements), then the visit (showing it, answering its tag). The transaction never
// outlives the call: a rollback that fails closes the connection (AdoTransaction), so the
// session's next statement starts on a fresh one. step, when given, runs before "begin",
// "commit" and "rollback" (a test's fault hook; when it throws at a rollback after an error the
// connection is closed instead). Returns the message the window shows afterwards: empty, the
// failed commit's, or the unexpected error's.
using VisitStep = std::function<void(const char* step)>;
QString visitInTransaction(AdoConnection& cn, bool transaction, const std::function<void()>& prepare,
                           const std::function<int()>& visit, const VisitStep& step = {});

// One action of a window, for as long as it lives. Every function below serialises itself on
// the store before its first statement: inside a transaction it takes the connection's
// administration lock (held until that transaction ends); with no transaction open and an
// Action alive it begins one of its own first, which the Action commits when it ends, with
// everything that was sent (a statement the store refused is undone alone, as without one).
// With neither, statements go out one by one as before. A duplicate check that finds the name
// taken ends the Action's own transaction at once, so the lock is not held while the operator
// reads the message and types again.
class Action {
  public:
    Action();
    ~Action();
    Action(const Action&) = delete;
    Action& operator=(const Action&) = delete;
};

// A qx_user row: as the user dialog writes it, and as the user list reads it back. password is
// the stored text: the cipher text, or empty for no password (an empty password is never
// enciphered). allow is the stored flag as it reads ("T" for valid); a write sends "T" for
// "T" and "F" for anything else. zuid is the stored code: a user group's number, 1000 + the
// number for a member, schema::kNoGroupZuid for a user in none.
struct UserRow {
    QString userId;
    QString userName;
    QString password;
    QString startDate; // yyyy-MM-dd
    QString endDate;   // yyyy-MM-dd
    QString allow = QStringLiteral("F");
    int discount = 0;
    int zuid = schema::kNoGroupZuid;
    bool allowed() const { return allow == schema::kGranted; }
    bool isGroup() const { return schema::isUserGroup(zuid); }
    // Lists the user in user group number, or in none for 0.
    void setGroup(int number) { zuid = schema::memberZuid(number); }
};

// The user list: the select the administration window reads it with, and its rows read from a
// query opened on it, one by one in the order they come (the fields are looked up before the
// first row, so a missing one raises the data layer's error even for an empty list). The discount
// of a user group's row is not read and stays 0.
QString userListSelect();
void readUsers(AdoQuery& opened, const std::function<void(const UserRow&)>& row);
// The same rows read on a query of their own on cn (opened, not run as a command).
QVector<UserRow> loadUsers(AdoConnection& cn);

// The rights of a permission group as the group-rights list shows them: every item in qx_zu for
// the group that qx_Name still names, by item number.
struct GroupRight {
    int qxId = 0;
    QString name;  // qx_Name's
    QString allow; // the stored flag
};
// Puts the window's select of a group's rights into query (closed and cleared first).
void setGroupRightsSelect(AdoQuery& query, const QString& permissionGroup);
void readGroupRights(AdoQuery& opened, const std::function<void(const GroupRight&)>& row);
QVector<GroupRight> loadGroupRights(AdoConnection& cn, const QString& permissionGroup);

// The duplicate checks of the two dialogs; true when the name is taken.
bool userIdTaken(TdData& d, const QString& userId);        // the user dialog
bool userGroupNameTaken(TdData& d, const QString& name);   // the name dialog, user group
bool permissionGroupTaken(TdData& d, const QString& name); // the name dialog, permission group

// Adds a user: the insert, and for a user in no user group the rows of its own.
void addUser(TdData& d, const UserRow& user);
// Writes the edited row; a change of user group sends the procedure of the move
// (out of a group, into one from none; group to group is the update alone).
void editUser(TdData& d, const UserRow& user, int oldGroup);
// Deletes a user, or a user group with all its members.
void deleteUser(TdData& d, const QString& userId);
// Adds a user group with the first free number and returns it; 0 when all 999 numbers are in
// use (nothing is sent then). With storedAllow the new row is read back before its grant rows
// are added, and its Allow flag as the store defaulted it is returned there (the window shows
// it).
int addUserGroup(TdData& d, const QString& name, QString* storedAllow = nullptr);

void addPermissionGroup(TdData& d, const QString& name);
void deletePermissionGroup(TdData& d, const QString& name);
// Assigns a permission group to a rights-holding row (a user group or a user in none), or
// takes it back.
void setAssignment(TdData& d, const QString& ownerId, const QString& permissionGroup, const QString& flag);

// A toggled node of the user list or the group-rights list and what the list shows around it.
// A node with children (a user group, a head item) passes the new flag down to each child that
// shows another; a child sets its parent when it is enabled, and clears it when it was the
// parent's last enabled child.
struct FlagNode {
    QString key;  // user ID, or item number as text
    QString flag; // as shown before the toggle
};
struct FlagScope {
    FlagNode node;
    bool hasParent = false;
    FlagNode parent;
    QList<FlagNode> children; // of the node when it has no parent, else its parent's (the node included)
    bool cascades = true;     // false: the node's own statement only
};
// The (key, flag) pairs a toggle reports, in order: the toggled node's first, then those of
// the nodes changed with it, in list order.
QList<QPair<QString, QString>> toggleFlags(const FlagScope& scope, const QString& flag);
// Sends them: the user flags, or the item flags of a permission group.
void sendUserFlags(TdData& d, const QList<QPair<QString, QString>>& flags);
void sendItemFlags(TdData& d, const QString& permissionGroup, const QList<QPair<QString, QString>>& flags);

// The item list editor: the select its grid reads, and the two procedures around every visit.
QString itemListSelect();
void beforeItemEdit(TdData& d);
void afterItemEdit(TdData& d);
// One item edit as the editor makes it: the list opened, the procedure before, the row
// posted through the grid's query, the procedure after. Raises DbError when the item to
// change is not in the list.
void addItem(TdData& d, int qxId, const QString& name);
void renameItem(TdData& d, int qxId, const QString& name);
void renumberItem(TdData& d, int qxId, int newQxId);
void deleteItem(TdData& d, int qxId);

} // namespace vardex::adminops
