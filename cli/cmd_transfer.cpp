// export and import: the whole permission setup of a store written as JSON, and an empty store
// filled from such a file through the store's procedures.
#include "cli/commands.h"
#include "cli/store.h"

#include "library/adminops.h"
#include "library/dmain.h"
#include "library/doctor.h"
#include "library/exportfile.h"
#include "library/passwordpolicy.h"
#include "library/uitext.h"

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <algorithm>
#include <cstdio>

namespace vardex::cli {

namespace {

QJsonValue jsonText(const QString& s, bool null) {
    return null ? QJsonValue(QJsonValue::Null) : QJsonValue(s);
}

// The rows of the tables an export reads, for its progress.
qint64 storeRows(AdoConnection& cn) {
    qint64 n = 0;
    for (const char* t : {"qx_Name", "qx_user", "qx_zu", "qx_user_zu", "qx_user_qx"})
        n += storeops::rowCount(cn, QLatin1String(t));
    return n;
}

// The password policy as the store's rows hold it, and the lockout counts of its users; a store
// without the tables writes neither.
void exportPolicy(AdoConnection& cn, const QVector<UserRow>& users, QJsonObject& root) {
    const QStringList tables = cn.tableNames();
    if (tables.contains(QLatin1String(policy::kSettingsTable), Qt::CaseInsensitive)) {
        QJsonObject settings;
        const QMap<QString, QString> stored = policy::storedSettings(cn);
        for (auto it = stored.begin(); it != stored.end(); ++it)
            settings.insert(it.key(), it.value());
        root.insert(QStringLiteral("settings"), settings);
    }
    if (tables.contains(QLatin1String(policy::kLockoutTable), Qt::CaseInsensitive)) {
        QJsonArray rows;
        for (const auto& r : storeops::lockouts(cn)) {
            const UserRow* u = findUser(users, r.value(0).toString());
            if (u && !u->isGroup())
                rows.append(QJsonObject{{QStringLiteral("user"), u->userId},
                                        {QStringLiteral("failures"), r.value(1).toInt()},
                                        {QStringLiteral("lastFailure"), r.value(2).toString()}});
        }
        root.insert(QStringLiteral("lockout"), rows);
    }
}

// Writes the policy and the lockout counts of an export into the store being filled.
void importPolicy(AdoConnection& cn, const exportfile::Setup& setup) {
    if (setup.settings.isEmpty() && setup.lockouts.isEmpty())
        return;
    const QStringList tables = cn.tableNames();
    for (const char* t : {policy::kSettingsTable, policy::kLockoutTable})
        if (!tables.contains(QLatin1String(t), Qt::CaseInsensitive))
            throw Refused(Cli::tr("the store has no table %1: run vardex-cli upgrade on it first")
                              .arg(QLatin1String(t)));
    for (const auto& [name, value] : setup.settings)
        storeops::replaceSetting(cn, name, value);
    for (const exportfile::Lockout& l : setup.lockouts)
        storeops::replaceLockout(cn, l.userId, l.failures, l.lastFailure);
}

QJsonObject exportStore(AdoConnection& cn, const QString& keyNote) {
    // What the store doctor calls unsound cannot be carried: the file would not import back, or
    // would import as something else.
    QStringList faults;
    for (const Violation& v : checkExportable(cn))
        faults << v.describe();
    if (!faults.isEmpty())
        throw Refused(Cli::tr("the store cannot be exported (vardex-cli doctor lists it): %1")
                          .arg(faults.join(QStringLiteral("; "))));
    Progress progress(storeRows(cn));
    progress.table(QStringLiteral("qx_user"));
    const QVector<UserRow> users = loadUsers(cn);
    progress.advance(users.size());
    QJsonObject root;
    root.insert(QStringLiteral("format"), QLatin1String(exportfile::kFormat));
    root.insert(QStringLiteral("version"), exportfile::kVersion);
    root.insert(QStringLiteral("keyNote"), keyNote);

    progress.table(QStringLiteral("qx_Name"));
    QJsonArray items;
    for (const auto& r : storeops::itemsByNumberAndName(cn)) {
        QJsonObject o{{QStringLiteral("id"), r.value(0).toInt()},
                      {QStringLiteral("name"), jsonText(r.value(1).toString(), r.value(1).isNull())}};
        items.append(o);
    }
    root.insert(QStringLiteral("items"), items);
    progress.advance(items.size());
    progress.table(QStringLiteral("qx_zu, qx_user_zu"));

    QJsonArray groups, people;
    for (const UserRow& u : users) {
        if (u.isGroup()) {
            groups.append(QJsonObject{{QStringLiteral("id"), u.userId},
                                      {QStringLiteral("name"), u.userName},
                                      {QStringLiteral("enabled"), u.allowed()}});
        }
    }
    QVector<const UserRow*> sorted;
    for (const UserRow& u : users)
        if (!u.isGroup())
            sorted.append(&u);
    std::sort(sorted.begin(), sorted.end(),
              [](const UserRow* a, const UserRow* b) { return a->userId < b->userId; });
    for (const UserRow* u : sorted) {
        const UserRow* g = parentGroup(users, *u);
        people.append(
            QJsonObject{{QStringLiteral("id"), u->userId},
                        {QStringLiteral("name"), u->userName},
                        {QStringLiteral("password"), u->password},
                        {QStringLiteral("start"), u->startDate},
                        {QStringLiteral("end"), u->endDate},
                        {QStringLiteral("enabled"), u->allowed()},
                        {QStringLiteral("discount"), u->discount},
                        {QStringLiteral("group"), g ? QJsonValue(g->userId) : QJsonValue(QJsonValue::Null)}});
    }
    root.insert(QStringLiteral("userGroups"), groups);
    root.insert(QStringLiteral("users"), people);

    QJsonArray permGroups;
    for (const QString& name : permissionGroups(cn)) {
        QJsonArray granted;
        for (int item : storeops::grantedItems(cn, name))
            granted.append(item);
        progress.advance(granted.size());
        // A member's own assignment rows are read by nothing (its rights are its group's):
        // only rights-holding rows are holders.
        QJsonArray holders;
        for (const QString& id : storeops::assignedOwners(cn, name)) {
            const UserRow* u = findUser(users, id);
            if (u && !parentGroup(users, *u) && (u->isGroup() || u->zuid == schema::kNoGroupZuid))
                holders.append(u->userId);
            progress.advance(1);
        }
        permGroups.append(QJsonObject{{QStringLiteral("name"), name},
                                      {QStringLiteral("items"), granted},
                                      {QStringLiteral("assignedTo"), holders}});
    }
    root.insert(QStringLiteral("permissionGroups"), permGroups);

    progress.table(QStringLiteral("qx_user_qx"));
    QJsonArray grants;
    for (const auto& r : storeops::grants(cn))
        grants.append(QJsonObject{{QStringLiteral("holder"), r.value(0).toString()},
                                  {QStringLiteral("item"), r.value(1).toInt()},
                                  {QStringLiteral("count"), r.value(3).toInt()}});
    root.insert(QStringLiteral("grants"), grants);
    progress.advance(grants.size());
    exportPolicy(cn, users, root);
    return root;
}

// Fills the empty store from a checked setup, through the actions the verbs use.
void importStore(StoreSession& s, const exportfile::Setup& setup) {
    TdData& d = s.data();
    AdoConnection& cn = s.cn();
    for (const char* t : {"qx_Name", "qx_user", "qx_zu", "qx_user_zu", "qx_user_qx"}) {
        const qint64 rows = storeops::rowCount(cn, QLatin1String(t));
        if (rows != 0)
            throw Refused(
                Cli::tr("the store is not empty: %1 holds %2 row(s)").arg(QLatin1String(t)).arg(rows));
    }
    qint64 rows = setup.items.size() + setup.userGroups.size() + setup.users.size();
    for (const exportfile::PermissionGroup& p : setup.permissionGroups)
        rows += p.items.size() + p.assignedTo.size() + 1;
    Progress progress(rows);
    // Items: one visit of the item list, every item posted in it.
    progress.table(QStringLiteral("qx_Name"));
    if (!setup.items.isEmpty()) {
        AdoQuery& list = d.ADOqrList;
        list.close();
        list.clearSql();
        list.addSql(adminops::itemListSelect());
        OpenOrExecute(list);
        adminops::beforeItemEdit(d);
        for (const exportfile::Item& item : setup.items) {
            list.append();
            list.setFieldValue(list.fieldName(0), item.id);
            list.setFieldValue(list.fieldName(1), item.name.isNull() ? QVariant() : QVariant(item.name));
            list.post();
            progress.advance(1);
        }
        adminops::afterItemEdit(d);
        list.close();
    }
    // User groups in their order: they take the numbers 1, 2, ...
    QHash<QString, int> groupNumbers;
    QList<QPair<QString, QString>> off;
    progress.table(QStringLiteral("qx_user"));
    for (const exportfile::UserGroup& g : setup.userGroups) {
        const int n = adminops::addUserGroup(d, g.id);
        if (n == 0)
            throw Refused(Ui::tr("用户组已达999个, 不能再添加用户组."));
        groupNumbers.insert(g.id, n);
        if (!g.enabled)
            off.append({g.id, schema::kRefused});
        progress.advance(1);
    }
    for (exportfile::User u : setup.users) {
        u.row.setGroup(u.group.isNull() ? 0 : groupNumbers.value(u.group));
        adminops::addUser(d, u.row);
        progress.advance(1);
    }
    adminops::sendUserFlags(d, off);
    progress.table(QStringLiteral("qx_zu, qx_user_zu"));
    for (const exportfile::PermissionGroup& p : setup.permissionGroups) {
        adminops::addPermissionGroup(d, p.name);
        QList<QPair<QString, QString>> on;
        for (int id : p.items)
            on.append({QString::number(id), schema::kGranted});
        adminops::sendItemFlags(d, p.name, on);
        for (const QString& holder : p.assignedTo)
            adminops::setAssignment(d, holder, p.name, schema::kGranted);
        progress.advance(1 + p.items.size() + p.assignedTo.size());
    }
    importPolicy(cn, setup);
}

void exportOptions(Options& p) {
    p << OptionDecl{
        {QStringLiteral("key-note")},
        QStringLiteral(
            "A note on the key the passwords are enciphered with (the key itself is never written)."),
        QStringLiteral("TEXT"),
        Kind::Text};
}

int exportVerb(const Invocation& in) {
    const QCommandLineParser& p = in.options;
    StoreSession s(p);
    QJsonObject root;
    s.transaction([&] {
        root =
            exportStore(s.cn(), p.isSet(QStringLiteral("key-note"))
                                    ? p.value(QStringLiteral("key-note"))
                                    : QStringLiteral("passwords are the store's cipher texts; they read back "
                                                     "only with the key the store's clients use"));
    });
    const QByteArray json = QJsonDocument(root).toJson(QJsonDocument::Indented);
    const QString file = in.args.first();
    if (file == QLatin1String("-")) {
        std::fwrite(json.constData(), 1, json.size(), stdout);
        return kOk;
    }
    QSaveFile out(file);
    // The file holds every password's cipher text: readable by its owner only.
    if (!out.open(QIODevice::WriteOnly))
        throw Refused(Cli::tr("cannot write %1: %2").arg(file, out.errorString()));
    out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    out.write(json);
    if (!out.commit())
        throw Refused(Cli::tr("cannot write %1: %2").arg(file, out.errorString()));
    return kOk;
}

int importVerb(const Invocation& in) {
    const QString file = in.args.first();
    QFile f(file);
    const bool opened =
        file == QLatin1String("-") ? f.open(stdin, QIODevice::ReadOnly) : f.open(QIODevice::ReadOnly);
    if (!opened)
        throw Refused(Cli::tr("cannot read %1: %2").arg(file, f.errorString()));
    // The whole file is checked before the store is opened: a fault writes nothing.
    exportfile::Setup setup;
    try {
        setup = exportfile::read(f.readAll());
    } catch (const ConvertError& e) {
        throw Refused(Cli::tr("%1: %2").arg(file, e.message()));
    }
    StoreSession s(in.options);
    s.transaction([&] { importStore(s, setup); });
    return kOk;
}

} // namespace

CommandGroup transferCommands() {
    return {QStringLiteral("export FILE | import FILE"),
            false,
            {
                {QStringLiteral("export"),
                 {QStringLiteral("FILE: The file to write (\"-\": standard output).")},
                 QStringLiteral("Writes the whole permission setup as JSON (\"-\": standard output)."),
                 Takes::OwnThenStore,
                 exportOptions,
                 exportVerb},
                {QStringLiteral("import"),
                 {QStringLiteral("FILE: The export to read (\"-\": standard input).")},
                 QStringLiteral("Fills an empty store from an export, through the store's procedures."),
                 Takes::OwnThenStore,
                 nullptr,
                 importVerb,
                 Writes},
            }};
}

} // namespace vardex::cli
