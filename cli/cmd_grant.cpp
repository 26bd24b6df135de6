// grant and revoke: a right given or taken through the permission groups of a user or user
// group, with the steps of the permission-group lists.
#include "cli/admincommon.h"

namespace vardex::cli {

namespace {

void grantOptions(Options& p) {
    p << OptionDecl{{QStringLiteral("permgroup")},
                    QStringLiteral("Permission group to grant through."),
                    QStringLiteral("NAME"),
                    Kind::Text};
}

void grant(StoreSession& s, const QCommandLineParser& p, const QStringList& a) {
    const int item = checkedItem(a[1]);
    s.transaction([&] {
        const QVector<UserRow> users = loadUsers(s.cn());
        const UserRow& o = owner(users, a[0]);
        const QString group =
            p.isSet(QStringLiteral("permgroup"))
                ? p.value(QStringLiteral("permgroup"))
                : checkedName(o.userId, QStringLiteral("permission group name"), schema::kIdLength);
        requireItem(s, item);
        if (!permissionGroups(s.cn()).contains(group)) {
            if (p.isSet(QStringLiteral("permgroup")))
                throw Refused(Cli::tr("no permission group %1").arg(group));
            adminops::permissionGroupTaken(s.data(), group);
            adminops::addPermissionGroup(s.data(), group);
        }
        setItem(s, group, item, kT, true);
        if (assignment(s.cn(), o.userId, group) != kT)
            assign(s, group, o.userId, kT);
    });
}

void revoke(StoreSession& s, const QCommandLineParser&, const QStringList& a) {
    const int item = checkedItem(a[1]);
    s.transaction([&] {
        const QVector<UserRow> users = loadUsers(s.cn());
        const UserRow& o = owner(users, a[0]);
        requireItem(s, item);
        const QStringList groups = storeops::groupsGivingItem(s.cn(), o.userId, item);
        if (groups.isEmpty())
            notice(Cli::tr("%1 holds item %2 through no permission group; nothing to change")
                       .arg(o.userId)
                       .arg(item));
        for (const QString& group : groups) {
            adminops::setAssignment(s.data(), o.userId, group, kF);
            say(Cli::tr("unassigned permission group %1").arg(group));
        }
    });
}

} // namespace

CommandGroup grantCommands() {
    const QList<ArgDecl> holderItem{QStringLiteral("USER"), int32Arg(QStringLiteral("ITEM"))};
    return {
        QStringLiteral("grant|revoke USER ITEM"),
        false,
        {
            {QStringLiteral("grant"), holderItem,
             QStringLiteral("Grant a user or user group an item through a permission group (default: the one "
                            "named like the user, added when missing): the item is switched on there and the "
                            "group assigned."),
             Takes::Store, grantOptions, onStore(grant), Writes},
            {QStringLiteral("revoke"), holderItem,
             QStringLiteral("Take an item from a user or user group: every permission group assigned to it "
                            "that grants the item is taken back (with the other items it grants); they are "
                            "listed."),
             Takes::Store, nullptr, onStore(revoke), Writes},
        }};
}

} // namespace vardex::cli
