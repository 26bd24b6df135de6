// The permission group verbs: add, delete, assign, unassign and set, as the permission-group
// lists of the administration window do them.
#include "cli/admincommon.h"

namespace vardex::cli {

namespace {

QString checkedFlag(const QString& text) {
    const QString t = text.toLower();
    if (t == QLatin1String("on") || t == QLatin1String("t") || t == QLatin1String("yes") ||
        t == QLatin1String("1"))
        return kT;
    if (t == QLatin1String("off") || t == QLatin1String("f") || t == QLatin1String("no") ||
        t == QLatin1String("0"))
        return kF;
    throw Refused(Cli::tr("\"%1\" is neither on nor off").arg(text));
}

void add(StoreSession& s, const QCommandLineParser&, const QStringList& a) {
    const QString name = checkedName(a[0], QStringLiteral("permission group name"), schema::kIdLength);
    s.transaction([&] {
        if (adminops::permissionGroupTaken(s.data(), name))
            throw Refused(Cli::tr("permission group %1 exists").arg(name));
        adminops::addPermissionGroup(s.data(), name);
    });
}

void remove(StoreSession& s, const QCommandLineParser&, const QStringList& a) {
    s.transaction([&] {
        if (!permissionGroups(s.cn()).contains(a[0]))
            throw Refused(Cli::tr("no permission group %1").arg(a[0]));
        adminops::deletePermissionGroup(s.data(), a[0]);
    });
}

StoreBody assignTo(const QString& flag) {
    return [flag](StoreSession& s, const QCommandLineParser&, const QStringList& a) {
        s.transaction([&] { assign(s, a[0], a[1], flag); });
    };
}

void set(StoreSession& s, const QCommandLineParser&, const QStringList& a) {
    const int item = checkedItem(a[1]);
    const QString flag = checkedFlag(a[2]);
    s.transaction([&] { setItem(s, a[0], item, flag); });
}

} // namespace

CommandGroup permGroupCommands() {
    const QString group = QStringLiteral("NAME: The permission group's name.");
    const QList<ArgDecl> name{group};
    const QList<ArgDecl> holder{group, QStringLiteral("USER")};
    return {QStringLiteral("permgroup add|delete NAME | assign|unassign NAME USER | set NAME ITEM on|off"),
            false,
            {
                {QStringLiteral("permgroup add"), name,
                 QStringLiteral("Add a permission group (it grants nothing yet)."), Takes::Store, nullptr,
                 onStore(add), Writes},
                {QStringLiteral("permgroup delete"), name,
                 QStringLiteral("Delete a permission group; its grants go with it."), Takes::Store, nullptr,
                 onStore(remove), Destructive},
                {QStringLiteral("permgroup assign"), holder,
                 QStringLiteral("Give a user or user group a permission group."), Takes::Store, nullptr,
                 onStore(assignTo(kT)), Writes},
                {QStringLiteral("permgroup unassign"), holder,
                 QStringLiteral("Take a permission group back from a user or user group."), Takes::Store,
                 nullptr, onStore(assignTo(kF)), Writes},
                {QStringLiteral("permgroup set"),
                 {group, int32Arg(QStringLiteral("ITEM")),
                  QStringLiteral("on|off: on (also t, yes, 1) or off (f, no, 0).")},
                 QStringLiteral(
                     "Switch an item of a permission group on or off (a head item, number divisible by "
                     "1000, takes its items along)."),
                 Takes::Store,
                 nullptr,
                 onStore(set),
                 Writes},
            }};
}

} // namespace vardex::cli
