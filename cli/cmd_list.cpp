// list: the users, user groups, permission groups, items or grants of a store, as a table.
#include "cli/commands.h"
#include "cli/store.h"

namespace vardex::cli {

namespace {

// A flag: "yes" or "no" in a text table and a CSV file, true or false in JSON.
QVariant yesNo(bool on) {
    return QVariant(on);
}

Table users(AdoConnection&, const QVector<UserRow>& users, const QCommandLineParser&) {
    Table t;
    t.columns = {QStringLiteral("id"),       QStringLiteral("name"),    QStringLiteral("group"),
                 QStringLiteral("enabled"),  QStringLiteral("start"),   QStringLiteral("end"),
                 QStringLiteral("discount"), QStringLiteral("password")};
    for (const UserRow& u : users) {
        if (u.isGroup() || !schema::isUserRow(u.zuid))
            continue;
        const UserRow* g = parentGroup(users, u);
        t.rows.append({u.userId, u.userName, g ? QVariant(g->userId) : QVariant(), yesNo(u.allowed()),
                       u.startDate, u.endDate, u.discount,
                       u.password.isEmpty() ? QStringLiteral("none") : QStringLiteral("set")});
    }
    return t;
}

Table userGroups(AdoConnection&, const QVector<UserRow>& users, const QCommandLineParser&) {
    Table t;
    t.columns = {QStringLiteral("number"), QStringLiteral("name"), QStringLiteral("enabled"),
                 QStringLiteral("members")};
    for (const UserRow& u : users) {
        if (!u.isGroup())
            continue;
        int members = 0;
        for (const UserRow& m : users)
            members += m.zuid == schema::memberZuid(u.zuid) ? 1 : 0;
        t.rows.append({u.zuid, u.userId, yesNo(u.allowed()), members});
    }
    return t;
}

Table permGroups(AdoConnection& cn, const QVector<UserRow>&, const QCommandLineParser&) {
    Table t;
    t.columns = {QStringLiteral("name"), QStringLiteral("items"), QStringLiteral("holders")};
    for (const QString& g : permissionGroups(cn)) {
        const qint64 items = storeops::grantedItemCount(cn, g);
        const qint64 holders = storeops::holderCount(cn, g);
        t.rows.append({g, numberCell(items), numberCell(holders)});
    }
    return t;
}

Table items(AdoConnection& cn, const QVector<UserRow>&, const QCommandLineParser&) {
    Table t;
    t.columns = {QStringLiteral("item"), QStringLiteral("name")};
    for (const auto& r : storeops::items(cn))
        t.rows.append({numberCell(r.value(0)), textCell(r.value(1))});
    return t;
}

Table grants(AdoConnection& cn, const QVector<UserRow>& users, const QCommandLineParser& p) {
    Table t;
    t.columns = {QStringLiteral("holder"), QStringLiteral("item"), QStringLiteral("name"),
                 QStringLiteral("count")};
    QString owner;
    if (p.isSet(QStringLiteral("user"))) {
        const UserRow* u = findUser(users, p.value(QStringLiteral("user")));
        if (!u)
            throw Refused(Cli::tr("no user %1").arg(p.value(QStringLiteral("user"))));
        if (schema::isGroupMember(u->zuid)) {
            // A member holds its user group's rights; one whose group is gone, none.
            const UserRow* g = groupByNumber(users, schema::groupOfMember(u->zuid));
            if (!g)
                return t;
            owner = g->userId;
        } else {
            owner = u->userId;
        }
    }
    for (const auto& r : storeops::grants(cn, owner))
        t.rows.append(
            {textCell(r.value(0)), numberCell(r.value(1)), textCell(r.value(2)), numberCell(r.value(3))});
    return t;
}

struct Listing {
    QString what;
    Table (*make)(AdoConnection&, const QVector<UserRow>&, const QCommandLineParser&);
};

const Listing kListings[] = {{QStringLiteral("users"), users},
                             {QStringLiteral("usergroups"), userGroups},
                             {QStringLiteral("permgroups"), permGroups},
                             {QStringLiteral("items"), items},
                             {QStringLiteral("grants"), grants}};

void options(Options& p) {
    addFormatOptions(p);
    p << OptionDecl{
        {QStringLiteral("user")},
        QStringLiteral("grants: only the rights this user holds (through its user group for a member)."),
        QStringLiteral("U"),
        Kind::Text};
}

int list(const Invocation& in) {
    const QCommandLineParser& p = in.options;
    const Format f = formatFrom(p);
    const QString what = in.args.first();
    const Listing* listing = nullptr;
    QStringList kinds;
    for (const Listing& l : kListings) {
        kinds << l.what;
        if (l.what == what)
            listing = &l;
    }
    if (!listing)
        throw Usage(Cli::tr("list what? one of %1, not %2").arg(kinds.join(QStringLiteral(", ")), what));
    if (p.isSet(QStringLiteral("user")) && what != QLatin1String("grants"))
        throw Usage(Cli::tr("--user goes with list grants"));
    StoreSession s(p);
    const QVector<UserRow> all = loadUsers(s.cn());
    printOut(render(listing->make(s.cn(), all, p), f));
    return kOk;
}

} // namespace

CommandGroup listCommands() {
    return {QStringLiteral("list users|usergroups|permgroups|items|grants [--user U] [--json|--csv]"),
            false,
            {
                {QStringLiteral("list"),
                 {QStringLiteral("WHAT: users, usergroups, permgroups, items or grants.")},
                 QStringLiteral("Lists users, usergroups, permgroups, items or grants."),
                 Takes::OwnThenStore,
                 options,
                 list,
                 GivesJson},
            }};
}

} // namespace vardex::cli
