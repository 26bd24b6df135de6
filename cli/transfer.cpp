// Reading a store out: list, log, export; filling one: import; and copy between kinds.
#include "cli/store.h"

#include "library/adminops.h"
#include "library/dmain.h"
#include "library/installer.h"
#include "platform/sqldialect.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSet>
#include <algorithm>

namespace vardex::cli {

namespace {

// Parses the words after the verb; answers kOk when the verb is to run, else the exit code.
int parse(QCommandLineParser& p, const QStringList& args, int words, const QString& description,
          const QStringList& positionals, bool storeOptions = true) {
    p.setApplicationDescription(description);
    p.addHelpOption();
    if (storeOptions)
        addStoreOptions(p);
    for (const QString& name : positionals)
        p.addPositionalArgument(name, QString());
    if (!p.parse(QStringList{QStringLiteral("vardex-cli ") + args.mid(0, words).join(QLatin1Char(' '))} +
                 args.mid(words))) {
        printErr(p.errorText());
        return kUsage;
    }
    if (p.isSet(QStringLiteral("help"))) {
        printOut(helpText(p, args.mid(0, words).join(QLatin1Char(' '))));
        return -1;
    }
    if (p.positionalArguments().size() != positionals.size()) {
        printErr(QStringLiteral("%1 takes %2")
                     .arg(args.mid(0, words).join(QLatin1Char(' ')), positionals.join(QLatin1Char(' '))));
        return kUsage;
    }
    return kOk;
}

QVariant text(const QVariant& v) {
    return v.isNull() ? QVariant() : QVariant(v.toString());
}

QVariant number(const QVariant& v) {
    return v.isNull() ? QVariant() : QVariant(v.toLongLong());
}

// The grant rows that hold a right (count above 0), of one owner or all.
QString grantsSelect(const QString& owner) {
    QString sql =
        QStringLiteral("select g.userID, g.qxID, n.qxName, g.AllowCount from qx_user_qx g, qx_Name n "
                       "where g.qxID = n.qxID and g.AllowCount > 0");
    if (!owner.isNull())
        sql += QStringLiteral(" and g.userID = ") + sqlText(owner);
    return sql + QStringLiteral(" order by g.userID, g.qxID");
}

} // namespace

int runList(const QStringList& args) {
    QCommandLineParser p;
    addFormatOptions(p);
    p.addOption(
        {QStringLiteral("user"),
         QStringLiteral("grants: only the rights this user holds (through its user group for a member)."),
         QStringLiteral("U")});
    const int rc = parse(p, args, 1, QStringLiteral("Lists users, usergroups, permgroups, items or grants."),
                         {QStringLiteral("WHAT")});
    if (rc != kOk)
        return rc < 0 ? kOk : rc;
    return guarded([&] {
        const Format f = formatFrom(p);
        const QString what = p.positionalArguments().first();
        static const QStringList kinds{QStringLiteral("users"), QStringLiteral("usergroups"),
                                       QStringLiteral("permgroups"), QStringLiteral("items"),
                                       QStringLiteral("grants")};
        if (!kinds.contains(what))
            throw Usage(
                QStringLiteral("list what? one of %1, not %2").arg(kinds.join(QStringLiteral(", ")), what));
        if (p.isSet(QStringLiteral("user")) && what != QLatin1String("grants"))
            throw Usage(QStringLiteral("--user goes with list grants"));
        StoreSession s(p);
        AdoConnection& cn = s.cn();
        Table t;
        const QVector<UserInfo> users = loadUsers(cn);
        if (what == QLatin1String("users")) {
            t.columns = {QStringLiteral("id"),       QStringLiteral("name"),    QStringLiteral("group"),
                         QStringLiteral("enabled"),  QStringLiteral("start"),   QStringLiteral("end"),
                         QStringLiteral("discount"), QStringLiteral("password")};
            for (const UserInfo& u : users) {
                if (u.isGroup() || u.zuid < 1000)
                    continue;
                const UserInfo* g = parentGroup(users, u);
                t.rows.append({u.id, u.name, g ? QVariant(g->id) : QVariant(),
                               u.allow ? QStringLiteral("yes") : QStringLiteral("no"), u.start, u.end,
                               u.discount,
                               u.password.isEmpty() ? QStringLiteral("none") : QStringLiteral("set")});
            }
        } else if (what == QLatin1String("usergroups")) {
            t.columns = {QStringLiteral("number"), QStringLiteral("name"), QStringLiteral("enabled"),
                         QStringLiteral("members")};
            for (const UserInfo& u : users) {
                if (!u.isGroup())
                    continue;
                int members = 0;
                for (const UserInfo& m : users)
                    members += m.zuid == 1000 + u.zuid ? 1 : 0;
                t.rows.append(
                    {u.zuid, u.id, u.allow ? QStringLiteral("yes") : QStringLiteral("no"), members});
            }
        } else if (what == QLatin1String("permgroups")) {
            t.columns = {QStringLiteral("name"), QStringLiteral("items"), QStringLiteral("holders")};
            for (const QString& g : permissionGroups(cn)) {
                const auto items = selectRows(
                    cn, QStringLiteral("select count(*) from qx_zu where zuName = %1 and Allow = 'T'")
                            .arg(sqlText(g)));
                const auto holders = selectRows(
                    cn, QStringLiteral("select count(*) from qx_user_zu where zuName = %1 and Allow = 'T'")
                            .arg(sqlText(g)));
                t.rows.append({g, number(items.value(0).value(0)), number(holders.value(0).value(0))});
            }
        } else if (what == QLatin1String("items")) {
            t.columns = {QStringLiteral("item"), QStringLiteral("name")};
            for (const auto& r :
                 selectRows(cn, QStringLiteral("select qxID, qxName from qx_Name order by qxID")))
                t.rows.append({number(r.value(0)), text(r.value(1))});
        } else {
            t.columns = {QStringLiteral("holder"), QStringLiteral("item"), QStringLiteral("name"),
                         QStringLiteral("count")};
            QString owner;
            bool holdsNothing = false;
            if (p.isSet(QStringLiteral("user"))) {
                const UserInfo* u = findUser(users, p.value(QStringLiteral("user")));
                if (!u)
                    throw Refused(QStringLiteral("no user %1").arg(p.value(QStringLiteral("user"))));
                if (u->zuid >= 1000 && u->zuid < adminops::kNoGroup) {
                    // A member holds its user group's rights; one whose group is gone, none.
                    const UserInfo* g = groupByNumber(users, u->zuid - 1000);
                    holdsNothing = !g;
                    owner = g ? g->id : QString();
                } else {
                    owner = u->id;
                }
            }
            if (!holdsNothing)
                for (const auto& r : selectRows(cn, grantsSelect(owner)))
                    t.rows.append(
                        {text(r.value(0)), number(r.value(1)), text(r.value(2)), number(r.value(3))});
        }
        printOut(render(t, f));
        return kOk;
    });
}

int runLog(const QStringList& args) {
    QCommandLineParser p;
    addFormatOptions(p);
    p.addOption(
        {QStringLiteral("user"), QStringLiteral("Only rows of this user name."), QStringLiteral("U")});
    p.addOption({QStringLiteral("since"),
                 QStringLiteral("Only rows at or after this time (yyyy-mm-dd[ hh:mm:ss])."),
                 QStringLiteral("T")});
    p.addOption(
        {QStringLiteral("until"), QStringLiteral("Only rows at or before this time."), QStringLiteral("T")});
    p.addOption(
        {QStringLiteral("text"), QStringLiteral("Only rows whose text contains S."), QStringLiteral("S")});
    const int rc = parse(p, args, 1, QStringLiteral("Prints the audit log, oldest first."), {});
    if (rc != kOk)
        return rc < 0 ? kOk : rc;
    return guarded([&] {
        const Format f = formatFrom(p);
        QStringList where;
        if (p.isSet(QStringLiteral("user")))
            where << QStringLiteral("userName = ") + sqlText(p.value(QStringLiteral("user")));
        // Times are kept as text of one fixed form, so they compare as text; an end day given
        // without a time takes the whole day.
        if (p.isSet(QStringLiteral("since")))
            where << QStringLiteral("theTime >= ") + sqlText(p.value(QStringLiteral("since")));
        if (p.isSet(QStringLiteral("until"))) {
            QString until = p.value(QStringLiteral("until"));
            if (until.size() == 10)
                until += QStringLiteral(" 99:99:99");
            where << QStringLiteral("theTime <= ") + sqlText(until);
        }
        StoreSession s(p);
        QString sql = QStringLiteral("select CompName, userName, theTime, theLog from qx_Logs");
        if (!where.isEmpty())
            sql += QStringLiteral(" where ") + where.join(QStringLiteral(" and "));
        sql += QStringLiteral(" order by theTime");
        Table t;
        t.columns = {QStringLiteral("computer"), QStringLiteral("user"), QStringLiteral("time"),
                     QStringLiteral("text")};
        const QString contains = p.value(QStringLiteral("text"));
        for (const auto& r : selectRows(s.cn(), sql)) {
            if (!contains.isEmpty() && !r.value(3).toString().contains(contains))
                continue;
            t.rows.append({text(r.value(0)), text(r.value(1)), text(r.value(2)), text(r.value(3))});
        }
        printOut(render(t, f));
        return kOk;
    });
}

// ---------------------------------------------------------------------------------------------
// Export and import

namespace {

constexpr int kExportVersion = 1;
const QString kExportFormat = QStringLiteral("vardex-permissions");

QJsonValue jsonText(const QString& s, bool null) {
    return null ? QJsonValue(QJsonValue::Null) : QJsonValue(s);
}

QJsonObject exportStore(AdoConnection& cn, const QString& keyNote) {
    const QVector<UserInfo> users = loadUsers(cn);
    QJsonObject root;
    root.insert(QStringLiteral("format"), kExportFormat);
    root.insert(QStringLiteral("version"), kExportVersion);
    root.insert(QStringLiteral("keyNote"), keyNote);

    QJsonArray items;
    for (const auto& r :
         selectRows(cn, QStringLiteral("select qxID, qxName from qx_Name order by qxID, qxName"))) {
        if (r.value(0).isNull())
            throw Refused(QStringLiteral("the store holds an item without a number"));
        QJsonObject o{{QStringLiteral("id"), r.value(0).toInt()},
                      {QStringLiteral("name"), jsonText(r.value(1).toString(), r.value(1).isNull())}};
        items.append(o);
    }
    root.insert(QStringLiteral("items"), items);

    QJsonArray groups, people;
    QSet<int> numbers;
    for (const UserInfo& u : users) {
        if (u.isGroup()) {
            if (numbers.contains(u.zuid))
                throw Refused(QStringLiteral("two user groups share number %1").arg(u.zuid));
            numbers.insert(u.zuid);
            groups.append(QJsonObject{{QStringLiteral("id"), u.id},
                                      {QStringLiteral("name"), u.name},
                                      {QStringLiteral("enabled"), u.allow}});
        }
    }
    QVector<const UserInfo*> sorted;
    for (const UserInfo& u : users)
        if (!u.isGroup())
            sorted.append(&u);
    std::sort(sorted.begin(), sorted.end(),
              [](const UserInfo* a, const UserInfo* b) { return a->id < b->id; });
    for (const UserInfo* u : sorted) {
        if (u->zuid < 1000 || u->zuid > adminops::kNoGroup)
            throw Refused(
                QStringLiteral("user %1 has the user-group code %2, which no action of the store makes")
                    .arg(u->id)
                    .arg(u->zuid));
        const UserInfo* g = parentGroup(users, *u);
        if (u->zuid != adminops::kNoGroup && !g)
            throw Refused(QStringLiteral("user %1 belongs to user group number %2, which does not exist")
                              .arg(u->id)
                              .arg(u->zuid - 1000));
        people.append(
            QJsonObject{{QStringLiteral("id"), u->id},
                        {QStringLiteral("name"), u->name},
                        {QStringLiteral("password"), u->password},
                        {QStringLiteral("start"), u->start},
                        {QStringLiteral("end"), u->end},
                        {QStringLiteral("enabled"), u->allow},
                        {QStringLiteral("discount"), u->discount},
                        {QStringLiteral("group"), g ? QJsonValue(g->id) : QJsonValue(QJsonValue::Null)}});
    }
    root.insert(QStringLiteral("userGroups"), groups);
    root.insert(QStringLiteral("users"), people);

    QJsonArray permGroups;
    for (const QString& name : permissionGroups(cn)) {
        QJsonArray granted;
        for (const auto& r : selectRows(
                 cn, QStringLiteral("select qxID from qx_zu where zuName = %1 and Allow = 'T' order by qxID")
                         .arg(sqlText(name))))
            granted.append(r.value(0).toInt());
        QJsonArray holders;
        for (const auto& r : selectRows(
                 cn, QStringLiteral(
                         "select userID from qx_user_zu where zuName = %1 and Allow = 'T' order by userID")
                         .arg(sqlText(name))))
            holders.append(r.value(0).toString());
        permGroups.append(QJsonObject{{QStringLiteral("name"), name},
                                      {QStringLiteral("items"), granted},
                                      {QStringLiteral("assignedTo"), holders}});
    }
    root.insert(QStringLiteral("permissionGroups"), permGroups);

    QJsonArray grants;
    for (const auto& r : selectRows(cn, grantsSelect(QString())))
        grants.append(QJsonObject{{QStringLiteral("holder"), r.value(0).toString()},
                                  {QStringLiteral("item"), r.value(1).toInt()},
                                  {QStringLiteral("count"), r.value(3).toInt()}});
    root.insert(QStringLiteral("grants"), grants);
    return root;
}

QString need(const QJsonObject& o, const char* key, const QString& where) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isString())
        throw Refused(QStringLiteral("%1: \"%2\" is missing or not a text").arg(where, QLatin1String(key)));
    return v.toString();
}

int needInt(const QJsonValue& v, const QString& where) {
    const double d = v.toDouble(-1e300);
    if (!v.isDouble() || d != static_cast<double>(static_cast<long long>(d)) || d < INT32_MIN ||
        d > INT32_MAX)
        throw Refused(QStringLiteral("%1 is not a whole number of 32 bits").arg(where));
    return static_cast<int>(d);
}

void importStore(StoreSession& s, const QJsonObject& root) {
    TdData& d = s.data();
    AdoConnection& cn = s.cn();
    if (root.value(QStringLiteral("format")).toString() != kExportFormat)
        throw Refused(QStringLiteral("not an export of this program (format is not %1)").arg(kExportFormat));
    if (root.value(QStringLiteral("version")).toInt() != kExportVersion)
        throw Refused(QStringLiteral("export version %1 is not known (this program reads version %2)")
                          .arg(root.value(QStringLiteral("version")).toVariant().toString())
                          .arg(kExportVersion));
    for (const char* t : {"qx_Name", "qx_user", "qx_zu", "qx_user_zu", "qx_user_qx"}) {
        const auto r = selectRows(cn, QStringLiteral("select count(*) from %1").arg(QLatin1String(t)));
        if (r.value(0).value(0).toLongLong() != 0)
            throw Refused(QStringLiteral("the store is not empty: %1 holds %2 row(s)")
                              .arg(QLatin1String(t))
                              .arg(r.value(0).value(0).toLongLong()));
    }
    // Items: one visit of the item list, every item posted in it.
    const QJsonArray items = root.value(QStringLiteral("items")).toArray();
    QSet<int> itemIds;
    if (!items.isEmpty()) {
        AdoQuery& list = d.ADOqrList;
        list.close();
        list.clearSql();
        list.addSql(adminops::itemListSelect());
        OpenOrExecute(list);
        adminops::beforeItemEdit(d);
        for (int i = 0; i < items.size(); ++i) {
            const QJsonObject o = items[i].toObject();
            const QString where = QStringLiteral("items[%1]").arg(i);
            const int id = needInt(o.value(QStringLiteral("id")), where + QStringLiteral(".id"));
            if (itemIds.contains(id))
                throw Refused(QStringLiteral("item %1 exists").arg(id));
            itemIds.insert(id);
            const QJsonValue name = o.value(QStringLiteral("name"));
            list.append();
            list.setFieldValue(list.fieldName(0), id);
            list.setFieldValue(list.fieldName(1), name.isString() && !name.toString().isEmpty()
                                                      ? QVariant(name.toString())
                                                      : QVariant());
            list.post();
        }
        adminops::afterItemEdit(d);
        list.close();
    }
    // User groups in their order: they take the numbers 1, 2, ...
    QHash<QString, int> groupNumbers;
    QStringList disabledGroups;
    for (const QJsonValue& v : root.value(QStringLiteral("userGroups")).toArray()) {
        const QJsonObject o = v.toObject();
        const QString id = need(o, "id", QStringLiteral("a user group"));
        if (adminops::userGroupNameTaken(d, id))
            throw Refused(QStringLiteral("user or user group %1 exists").arg(id));
        const int n = adminops::addUserGroup(d, id);
        if (n == 0)
            throw Refused(QStringLiteral("用户组已达999个, 不能再添加用户组."));
        groupNumbers.insert(id, n);
        if (!o.value(QStringLiteral("enabled")).toBool(true))
            disabledGroups << id;
    }
    for (const QJsonValue& v : root.value(QStringLiteral("users")).toArray()) {
        const QJsonObject o = v.toObject();
        adminops::UserRow r;
        r.userId = need(o, "id", QStringLiteral("a user"));
        const QString where = QStringLiteral("user ") + r.userId;
        r.userName = need(o, "name", where);
        r.password = o.value(QStringLiteral("password")).toString();
        r.startDate = o.value(QStringLiteral("start")).toString();
        r.endDate = o.value(QStringLiteral("end")).toString();
        r.allow = o.value(QStringLiteral("enabled")).toBool();
        r.discount = needInt(o.value(QStringLiteral("discount")), where + QStringLiteral(" discount"));
        const QJsonValue g = o.value(QStringLiteral("group"));
        if (g.isString()) {
            if (!groupNumbers.contains(g.toString()))
                throw Refused(QStringLiteral("no user group %1 (of user %2)").arg(g.toString(), r.userId));
            r.group = groupNumbers.value(g.toString());
        }
        if (adminops::userIdTaken(d, r.userId))
            throw Refused(QStringLiteral("user %1 exists").arg(r.userId));
        adminops::addUser(d, r);
    }
    QList<QPair<QString, QString>> off;
    for (const QString& id : disabledGroups)
        off.append({id, QStringLiteral("F")});
    adminops::sendUserFlags(d, off);
    for (const QJsonValue& v : root.value(QStringLiteral("permissionGroups")).toArray()) {
        const QJsonObject o = v.toObject();
        const QString name = need(o, "name", QStringLiteral("a permission group"));
        if (adminops::permissionGroupTaken(d, name))
            throw Refused(QStringLiteral("permission group %1 exists").arg(name));
        adminops::addPermissionGroup(d, name);
        QList<QPair<QString, QString>> on;
        for (const QJsonValue& i : o.value(QStringLiteral("items")).toArray()) {
            const int id = needInt(i, QStringLiteral("an item of permission group ") + name);
            if (!itemIds.contains(id))
                throw Refused(QStringLiteral("no item %1 (in permission group %2)").arg(id).arg(name));
            on.append({QString::number(id), QStringLiteral("T")});
        }
        adminops::sendItemFlags(d, name, on);
        for (const QJsonValue& h : o.value(QStringLiteral("assignedTo")).toArray()) {
            const QString holder = h.toString();
            const QVector<UserInfo> users = loadUsers(cn);
            const UserInfo* u = findUser(users, holder);
            if (!u)
                throw Refused(QStringLiteral("no user %1 (holder of permission group %2)").arg(holder, name));
            if (parentGroup(users, *u))
                throw Refused(
                    QStringLiteral("%1 is a member of a user group and holds no permission group of its own")
                        .arg(holder));
            adminops::setAssignment(d, holder, name, QStringLiteral("T"));
        }
    }
}

} // namespace

int runExport(const QStringList& args) {
    QCommandLineParser p;
    p.addOption(
        {QStringLiteral("key-note"),
         QStringLiteral(
             "A note on the key the passwords are enciphered with (the key itself is never written)."),
         QStringLiteral("TEXT")});
    const int rc = parse(
        p, args, 1, QStringLiteral("Writes the whole permission setup as JSON (\"-\": standard output)."),
        {QStringLiteral("FILE")});
    if (rc != kOk)
        return rc < 0 ? kOk : rc;
    return guarded([&] {
        StoreSession s(p);
        QJsonObject root;
        s.transaction([&] {
            root = exportStore(
                s.cn(), p.isSet(QStringLiteral("key-note"))
                            ? p.value(QStringLiteral("key-note"))
                            : QStringLiteral("passwords are the store's cipher texts; they read back only "
                                             "with the key the store's clients use"));
        });
        const QByteArray json = QJsonDocument(root).toJson(QJsonDocument::Indented);
        const QString file = p.positionalArguments().first();
        if (file == QLatin1String("-")) {
            std::fwrite(json.constData(), 1, json.size(), stdout);
            return kOk;
        }
        QSaveFile out(file);
        // The file holds every password's cipher text: readable by its owner only.
        if (!out.open(QIODevice::WriteOnly))
            throw Refused(QStringLiteral("cannot write %1: %2").arg(file, out.errorString()));
        out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        out.write(json);
        if (!out.commit())
            throw Refused(QStringLiteral("cannot write %1: %2").arg(file, out.errorString()));
        return kOk;
    });
}

int runImport(const QStringList& args) {
    QCommandLineParser p;
    const int rc = parse(
        p, args, 1, QStringLiteral("Fills an empty store from an export, through the store's procedures."),
        {QStringLiteral("FILE")});
    if (rc != kOk)
        return rc < 0 ? kOk : rc;
    return guarded([&] {
        const QString file = p.positionalArguments().first();
        QFile in(file);
        if (!in.open(QIODevice::ReadOnly))
            throw Refused(QStringLiteral("cannot read %1: %2").arg(file, in.errorString()));
        QJsonParseError err;
        const QJsonDocument doc = QJsonDocument::fromJson(in.readAll(), &err);
        if (err.error != QJsonParseError::NoError || !doc.isObject())
            throw Refused(QStringLiteral("%1 is no JSON object: %2 at %3")
                              .arg(file, err.errorString())
                              .arg(err.offset));
        StoreSession s(p);
        s.transaction([&] { importStore(s, doc.object()); });
        return kOk;
    });
}

// ---------------------------------------------------------------------------------------------
// Copy

namespace {

struct TableSpec {
    const char* name;
    QStringList columns;
};

QList<TableSpec> storeTables() {
    return {{"qx_Name", {QStringLiteral("qxID"), QStringLiteral("qxName"), QStringLiteral("qxNameEx")}},
            {"qx_Name_Temp", {QStringLiteral("qxID"), QStringLiteral("qxName"), QStringLiteral("qxNameEx")}},
            {"qx_user",
             {QStringLiteral("userID"), QStringLiteral("userName"), QStringLiteral("userPwd"),
              QStringLiteral("startTime"), QStringLiteral("endTime"), QStringLiteral("Allow"),
              QStringLiteral("AllowZekou"), QStringLiteral("zuid")}},
            {"qx_user_qx", {QStringLiteral("userID"), QStringLiteral("qxID"), QStringLiteral("AllowCount")}},
            {"qx_user_zu", {QStringLiteral("userID"), QStringLiteral("zuName"), QStringLiteral("Allow")}},
            {"qx_zu", {QStringLiteral("zuName"), QStringLiteral("qxID"), QStringLiteral("Allow")}},
            {"qx_Logs",
             {QStringLiteral("CompName"), QStringLiteral("userName"), QStringLiteral("theTime"),
              QStringLiteral("theLog")}}};
}

bool numericColumn(const QString& c) {
    return c == QLatin1String("qxID") || c == QLatin1String("AllowZekou") || c == QLatin1String("zuid") ||
           c == QLatin1String("AllowCount");
}

QString literal(const QVariant& v, bool numeric) {
    if (v.isNull() || !v.isValid())
        return QStringLiteral("NULL");
    if (numeric)
        return QString::number(v.toLongLong());
    return QLatin1Char('\'') + escapeQuotes(v.toString()) + QLatin1Char('\'');
}

// A row as one text, the same on every kind of database (char columns come back padded on
// some: the store's one-character flags are compared trimmed of trailing blanks).
QByteArray rowKey(const QVector<QVariant>& row, const QStringList& columns) {
    QByteArray out;
    for (int c = 0; c < columns.size(); ++c) {
        const QVariant& v = row.value(c);
        if (v.isNull() || !v.isValid())
            out += '\x01';
        else if (numericColumn(columns[c]))
            out += QByteArray::number(v.toLongLong());
        else
            out += v.toString().toUtf8();
        out += '\x02';
    }
    return out;
}

// Count and an order-free digest of a table's rows.
QPair<qint64, QByteArray> digest(AdoConnection& cn, const TableSpec& t) {
    const auto rows = selectRows(
        cn, QStringLiteral("select %1 from %2").arg(t.columns.join(QLatin1Char(',')), QLatin1String(t.name)));
    QVector<QByteArray> hashes;
    hashes.reserve(rows.size());
    for (const auto& r : rows)
        hashes.append(QCryptographicHash::hash(rowKey(r, t.columns), QCryptographicHash::Sha1));
    std::sort(hashes.begin(), hashes.end());
    QCryptographicHash all(QCryptographicHash::Sha256);
    for (const QByteArray& h : hashes)
        all.addData(h);
    return {rows.size(), all.result()};
}

std::unique_ptr<AdoConnection> openStore(const QString& cs, const char* which) {
    auto cn = std::make_unique<AdoConnection>();
    cn->setConnectionString(cs);
    try {
        cn->open();
    } catch (const Error& e) {
        throw Usage(QStringLiteral("cannot open the %1 store: %2").arg(QLatin1String(which), e.message()));
    }
    return cn;
}

} // namespace

int runCopy(const QStringList& args) {
    QCommandLineParser p;
    p.addOption({QStringLiteral("batch"), QStringLiteral("Rows per insert statement (default 400)."),
                 QStringLiteral("N")});
    const int rc = parse(
        p, args, 1,
        QStringLiteral("Copies a whole store, audit log included, into an installed, empty store of any "
                       "kind, in one transaction there, and verifies the copy. Credentials go in the "
                       "connection strings."),
        {QStringLiteral("SRC"), QStringLiteral("DST")}, false);
    if (rc != kOk)
        return rc < 0 ? kOk : rc;
    return guarded([&] {
        int batch = 400;
        if (p.isSet(QStringLiteral("batch")) &&
            (!parseInt32(p.value(QStringLiteral("batch")), batch) || batch < 1 || batch > 1000))
            throw Usage(QStringLiteral("--batch takes a number from 1 to 1000"));
        QElapsedTimer clock;
        clock.start();
        auto src = openStore(p.positionalArguments()[0], "source");
        auto dst = openStore(p.positionalArguments()[1], "destination");
        const QList<TableSpec> tables = storeTables();
        for (const TableSpec& t : tables) {
            QVector<QVector<QVariant>> n;
            try {
                n = selectRows(*dst, QStringLiteral("select count(*) from %1").arg(QLatin1String(t.name)));
            } catch (const Error& e) {
                throw Refused(
                    QStringLiteral("the destination has no store (install it first): %1").arg(e.message()));
            }
            if (n.value(0).value(0).toLongLong() != 0)
                throw Refused(QStringLiteral("the destination is not empty: %1 holds %2 row(s)")
                                  .arg(QLatin1String(t.name))
                                  .arg(n.value(0).value(0).toLongLong()));
        }
        // The source is read in one transaction, so the copy is of one moment.
        src->beginTrans();
        QList<QPair<qint64, QByteArray>> expected;
        qint64 copied = 0;
        dst->beginTrans();
        try {
            for (const TableSpec& t : tables) {
                const QString cols = t.columns.join(QLatin1Char(','));
                const auto rows =
                    selectRows(*src, QStringLiteral("select %1 from %2").arg(cols, QLatin1String(t.name)));
                QVector<QByteArray> hashes;
                hashes.reserve(rows.size());
                const QString head =
                    QStringLiteral("INSERT INTO %1 (%2) VALUES ").arg(QLatin1String(t.name), cols);
                QString sql;
                int inBatch = 0;
                for (const auto& r : rows) {
                    hashes.append(QCryptographicHash::hash(rowKey(r, t.columns), QCryptographicHash::Sha1));
                    QStringList values;
                    for (int c = 0; c < t.columns.size(); ++c)
                        values << literal(r.value(c), numericColumn(t.columns[c]));
                    sql += (inBatch == 0 ? head : QStringLiteral(",")) + QLatin1Char('(') +
                           values.join(QLatin1Char(',')) + QLatin1Char(')');
                    if (++inBatch == batch) {
                        dst->execute(sql);
                        sql.clear();
                        inBatch = 0;
                    }
                }
                if (inBatch > 0)
                    dst->execute(sql);
                copied += rows.size();
                std::sort(hashes.begin(), hashes.end());
                QCryptographicHash all(QCryptographicHash::Sha256);
                for (const QByteArray& h : hashes)
                    all.addData(h);
                expected.append({rows.size(), all.result()});
            }
            // Verified before the commit: a copy that differs is never left behind. Equal rows in
            // every table also mean the store doctor finds the same in both.
            for (int i = 0; i < tables.size(); ++i) {
                const auto got = digest(*dst, tables[i]);
                if (got.first != expected[i].first)
                    throw Refused(
                        QStringLiteral("verification failed: %1 has %2 row(s) in the copy, %3 in the source")
                            .arg(QLatin1String(tables[i].name))
                            .arg(got.first)
                            .arg(expected[i].first));
                if (got.second != expected[i].second)
                    throw Refused(QStringLiteral("verification failed: the rows of %1 differ")
                                      .arg(QLatin1String(tables[i].name)));
            }
            dst->commitTrans();
        } catch (...) {
            try {
                if (dst->inTransaction())
                    dst->rollbackTrans();
            } catch (...) {
            }
            try {
                src->rollbackTrans();
            } catch (...) {
            }
            throw;
        }
        src->rollbackTrans();
        printOut(QStringLiteral("copied %1 row(s) of %2 tables in %3 s; counts and contents agree")
                     .arg(copied)
                     .arg(tables.size())
                     .arg(clock.elapsed() / 1000.0, 0, 'f', 1));
        return kOk;
    });
}

} // namespace vardex::cli
