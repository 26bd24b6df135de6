#pragma once
// The reads and writes of a store that the command-line verbs make beside the administration
// actions (library/adminops.h): what a list shows, what an export reads and an import writes
// beyond the procedures, the password policy's rows and the password re-write. One function per
// statement or per small group of them, each sending the same text, in the same order, whoever
// calls it; they begin and end no transaction of their own and raise the data layer's errors.
#include "platform/adodb.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <functional>

namespace vardex::storeops {

using Rows = QVector<QVector<QVariant>>;

// The rows a select answers.
Rows selectRows(AdoConnection& cn, const QString& sql);

// Every permission group name, of the group lists and of the assignment lists, sorted.
QStringList permissionGroups(AdoConnection& cn);
bool itemExists(AdoConnection& cn, int qxId);
// The Allow of an owner's assignment row of a permission group; empty when there is none.
QString assignment(AdoConnection& cn, const QString& ownerId, const QString& group);
// The permission groups assigned to an owner that switch the item on, sorted.
QStringList groupsGivingItem(AdoConnection& cn, const QString& ownerId, int qxId);
// How many items a permission group switches on, and how many owners it is assigned to.
qint64 grantedItemCount(AdoConnection& cn, const QString& group);
qint64 holderCount(AdoConnection& cn, const QString& group);
// The items a permission group switches on, by number.
QList<int> grantedItems(AdoConnection& cn, const QString& group);
// The owners a permission group is assigned to (whatever rows they are), by ID.
QStringList assignedOwners(AdoConnection& cn, const QString& group);

// The items: number and name, by number (and by name, for two rows of one number).
Rows items(AdoConnection& cn);
Rows itemsByNumberAndName(AdoConnection& cn);
// The grant rows that hold a right (count above 0), of one owner, or of all for a null owner:
// holder, item, item name, count; by holder and item.
Rows grants(AdoConnection& cn, const QString& owner = QString());
// The rows of a table of the store (its name as the store spells it).
qint64 rowCount(AdoConnection& cn, const QString& table);

// The lockout counts: user ID, failures, last failure; by user ID.
Rows lockouts(AdoConnection& cn);
// A setting of the password policy, its row replaced (deleted, then inserted).
void replaceSetting(AdoConnection& cn, const QString& name, const QString& value);
// A setting changed in place when the store holds it (exists), else inserted.
void writeSetting(AdoConnection& cn, const QString& name, const QString& value, bool exists);
// A user's lockout count, its row replaced.
void replaceLockout(AdoConnection& cn, const QString& userId, int failures, const QString& lastFailure);

// The text of UTF-8 bytes, a leading byte-order mark kept (it is a character of the value);
// ok tells whether the bytes were UTF-8 and come back from the text unchanged.
QString utf8Text(const QByteArray& bytes, bool* ok = nullptr);
// Inserts rows into a table's columns, each value as a database held it (null, a whole number,
// or text as UTF-8), batch rows a statement; inserted(n) after each statement.
void insertRawRows(AdoConnection& cn, const QString& table, const QStringList& columns,
                   const QVector<AdoConnection::RawRow>& rows, int batch,
                   const std::function<void(qint64)>& inserted);
// Deletes every row of a table.
void clearTable(AdoConnection& cn, const QString& table);

// How many audit rows ClearLogs(before) deletes: those whose time is at or before it.
qint64 logRowsAtOrBefore(AdoConnection& cn, const QString& before);

// Every user row's ID and stored password.
Rows storedPasswords(AdoConnection& cn);
// Re-writes a user's stored password, unless another desktop changed it meanwhile (the row is
// matched on the value read): answers the rows changed.
int replaceStoredPassword(AdoConnection& cn, const QString& userId, const QString& was, const QString& now);

} // namespace vardex::storeops
