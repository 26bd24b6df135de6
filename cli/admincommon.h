#pragma once
// What the administration verbs (user, usergroup, permgroup, item, grant, revoke) share: the
// checks of what the window's lists and dialogs would have refused, and the assignment and item
// toggles of the permission-group lists.
#include "cli/commands.h"
#include "cli/store.h"

namespace vardex::cli {

extern const QString kT; // a flag on
extern const QString kF; // a flag off

// A name as the dialogs take it: blanks trimmed, then the store's rule for a name. Raises
// Refused naming what.
QString checkedName(const QString& raw, const QString& what, int maxLength);
// An item number: a whole number of 32 bits, else Usage.
int checkedItem(const QString& text);
// The number of the user group named, else Refused.
int groupNumber(const QVector<UserRow>& users, const QString& name);
// Refused unless the item is there.
void requireItem(StoreSession& s, int qxId);
const UserRow& existingUser(const QVector<UserRow>& users, const QString& id);
// The owner of a user's permission groups: the user itself, or a rights-holding row. Members
// of a listed user group are refused: their groups are those of their user group.
const UserRow& owner(const QVector<UserRow>& users, const QString& id);
using storeops::assignment;
// Sets an owner's assignment of a permission group to flag, as the assignment list does.
void assign(StoreSession& s, const QString& group, const QString& ownerId, const QString& flag);
// Sets an item of a permission group to flag, as the group-rights list does (a head item takes
// its items along); false when it was so already (said on standard error unless quiet).
bool setItem(StoreSession& s, const QString& group, int qxId, const QString& flag, bool quiet = false);

} // namespace vardex::cli
