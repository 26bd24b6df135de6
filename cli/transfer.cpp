// Reading a store out: list, log, export; filling one: import; and copy between kinds.
#include "cli/store.h"

#include "library/adminops.h"
#include "library/dmain.h"
#include "library/doctor.h"
#include "library/exportfile.h"
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
#include <QStringDecoder>
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

QJsonValue jsonText(const QString& s, bool null) {
    return null ? QJsonValue(QJsonValue::Null) : QJsonValue(s);
}

QJsonObject exportStore(AdoConnection& cn, const QString& keyNote) {
    // What the store doctor calls unsound cannot be carried: the file would not import back, or
    // would import as something else.
    QStringList faults;
    for (const Violation& v : checkExportable(cn))
        faults << v.describe();
    if (!faults.isEmpty())
        throw Refused(QStringLiteral("the store cannot be exported (vardex-cli doctor lists it): %1")
                          .arg(faults.join(QStringLiteral("; "))));
    const QVector<UserInfo> users = loadUsers(cn);
    QJsonObject root;
    root.insert(QStringLiteral("format"), QLatin1String(exportfile::kFormat));
    root.insert(QStringLiteral("version"), exportfile::kVersion);
    root.insert(QStringLiteral("keyNote"), keyNote);

    QJsonArray items;
    for (const auto& r :
         selectRows(cn, QStringLiteral("select qxID, qxName from qx_Name order by qxID, qxName"))) {
        QJsonObject o{{QStringLiteral("id"), r.value(0).toInt()},
                      {QStringLiteral("name"), jsonText(r.value(1).toString(), r.value(1).isNull())}};
        items.append(o);
    }
    root.insert(QStringLiteral("items"), items);

    QJsonArray groups, people;
    for (const UserInfo& u : users) {
        if (u.isGroup()) {
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
        const UserInfo* g = parentGroup(users, *u);
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
        // A member's own assignment rows are read by nothing (its rights are its group's):
        // only rights-holding rows are holders.
        QJsonArray holders;
        for (const auto& r : selectRows(cn, QStringLiteral("select distinct userID from qx_user_zu where "
                                                           "zuName = %1 and Allow = 'T' order by userID")
                                                .arg(sqlText(name)))) {
            const UserInfo* u = findUser(users, r.value(0).toString());
            if (u && !parentGroup(users, *u) && (u->isGroup() || u->zuid == adminops::kNoGroup))
                holders.append(u->id);
        }
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

// Fills the empty store from a checked setup, through the actions the verbs use.
void importStore(StoreSession& s, const exportfile::Setup& setup) {
    TdData& d = s.data();
    AdoConnection& cn = s.cn();
    for (const char* t : {"qx_Name", "qx_user", "qx_zu", "qx_user_zu", "qx_user_qx"}) {
        const auto r = selectRows(cn, QStringLiteral("select count(*) from %1").arg(QLatin1String(t)));
        if (r.value(0).value(0).toLongLong() != 0)
            throw Refused(QStringLiteral("the store is not empty: %1 holds %2 row(s)")
                              .arg(QLatin1String(t))
                              .arg(r.value(0).value(0).toLongLong()));
    }
    // Items: one visit of the item list, every item posted in it.
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
        }
        adminops::afterItemEdit(d);
        list.close();
    }
    // User groups in their order: they take the numbers 1, 2, ...
    QHash<QString, int> groupNumbers;
    QList<QPair<QString, QString>> off;
    for (const exportfile::UserGroup& g : setup.userGroups) {
        const int n = adminops::addUserGroup(d, g.id);
        if (n == 0)
            throw Refused(QStringLiteral("用户组已达999个, 不能再添加用户组."));
        groupNumbers.insert(g.id, n);
        if (!g.enabled)
            off.append({g.id, QStringLiteral("F")});
    }
    for (exportfile::User u : setup.users) {
        u.row.group = u.group.isNull() ? 0 : groupNumbers.value(u.group);
        adminops::addUser(d, u.row);
    }
    adminops::sendUserFlags(d, off);
    for (const exportfile::PermissionGroup& p : setup.permissionGroups) {
        adminops::addPermissionGroup(d, p.name);
        QList<QPair<QString, QString>> on;
        for (int id : p.items)
            on.append({QString::number(id), QStringLiteral("T")});
        adminops::sendItemFlags(d, p.name, on);
        for (const QString& holder : p.assignedTo)
            adminops::setAssignment(d, holder, p.name, QStringLiteral("T"));
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
        // The whole file is checked before the store is opened: a fault writes nothing.
        exportfile::Setup setup;
        try {
            setup = exportfile::read(in.readAll());
        } catch (const ConvertError& e) {
            throw Refused(QStringLiteral("%1: %2").arg(file, e.message()));
        }
        StoreSession s(p);
        s.transaction([&] { importStore(s, setup); });
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

// A value as the database holds it: its kind and its bytes (the decimal digits of an integer,
// the text's own bytes, a blob's bytes). SQLite keeps any kind in any column and any bytes in a
// text, so there it is read through typeof() and hex(), never through a conversion.
struct RawValue {
    char kind = 'n'; // n null, i integer, r real, t text, b blob
    QByteArray bytes;
};
using RawRow = QVector<RawValue>;

QVector<RawRow> rawRows(AdoConnection& cn, const TableSpec& t) {
    QVector<RawRow> out;
    if (cn.dialect() == Dialect::SQLite) {
        QStringList cols;
        for (const QString& c : t.columns)
            cols << QStringLiteral("typeof(%1), hex(%1)").arg(c);
        for (const auto& r : selectRows(cn, QStringLiteral("select %1 from %2 order by rowid")
                                                .arg(cols.join(QLatin1Char(',')), QLatin1String(t.name)))) {
            RawRow row;
            for (int c = 0; c < t.columns.size(); ++c) {
                const QString type = r.value(2 * c).toString();
                row.append(RawValue{type == QLatin1String("null")      ? 'n'
                                    : type == QLatin1String("integer") ? 'i'
                                    : type == QLatin1String("real")    ? 'r'
                                    : type == QLatin1String("text")    ? 't'
                                                                       : 'b',
                                    QByteArray::fromHex(r.value(2 * c + 1).toString().toLatin1())});
            }
            out.append(row);
        }
        return out;
    }
    // The servers keep every value in its column's type. PostgreSQL hands its texts over as the
    // bytes they are (the driver's conversion would drop a leading byte-order mark).
    const bool pg = cn.dialect() == Dialect::PostgreSQL;
    QStringList cols;
    for (const QString& c : t.columns)
        cols << (pg && !numericColumn(c) ? QStringLiteral("encode(convert_to(%1, 'UTF8'), 'hex')").arg(c)
                                         : c);
    for (const auto& r : selectRows(
             cn,
             QStringLiteral("select %1 from %2").arg(cols.join(QLatin1Char(',')), QLatin1String(t.name)))) {
        RawRow row;
        for (int c = 0; c < t.columns.size(); ++c) {
            const QVariant& v = r.value(c);
            const bool numeric = numericColumn(t.columns[c]);
            if (v.isNull() || !v.isValid())
                row.append(RawValue{'n', {}});
            else
                row.append(RawValue{numeric ? 'i' : 't', pg && !numeric
                                                             ? QByteArray::fromHex(v.toString().toLatin1())
                                                             : v.toString().toUtf8()});
        }
        out.append(row);
    }
    return out;
}

// The text of UTF-8 bytes, a leading byte-order mark kept (it is a character of the value);
// ok tells whether the bytes were UTF-8 and come back from the text unchanged.
QString utf8Text(const QByteArray& bytes, bool* ok = nullptr) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    const QString text = utf8(bytes);
    if (ok)
        *ok = !utf8.hasError() && text.toUtf8() == bytes;
    return text;
}

// Why a value cannot be carried faithfully into the store's column, or empty: the columns are
// 32-bit integers and texts, and the servers hold a text only as valid UTF-8 without NUL.
QString unfaithful(const RawValue& v, bool numeric) {
    static const char* const kinds[] = {"a real", "a text", "a blob", "an integer"};
    const auto kindName = [&] {
        return QLatin1String(kinds[v.kind == 'r' ? 0 : v.kind == 't' ? 1 : v.kind == 'b' ? 2 : 3]);
    };
    const QString shown = v.kind == 'b' ? QStringLiteral("X'%1'").arg(QString::fromLatin1(v.bytes.toHex()))
                                        : QString::fromUtf8(v.bytes).left(40);
    if (v.kind == 'n')
        return QString();
    if (numeric) {
        bool ok = false;
        const qlonglong n = v.bytes.toLongLong(&ok);
        if (v.kind != 'i')
            return QStringLiteral("%1 (%2) in an integer column").arg(kindName(), shown);
        if (!ok || n < INT32_MIN || n > INT32_MAX)
            return QStringLiteral("%1 does not fit 32 bits").arg(shown);
        return QString();
    }
    if (v.kind != 't')
        return QStringLiteral("%1 (%2) in a text column").arg(kindName(), shown);
    bool ok = false;
    utf8Text(v.bytes, &ok);
    if (!ok)
        return QStringLiteral("the bytes %1 are no UTF-8 text").arg(QString::fromLatin1(v.bytes.toHex(' ')));
    if (v.bytes.contains('\0'))
        return QStringLiteral("a text holding a NUL character");
    return QString();
}

QString literal(const RawValue& v) {
    if (v.kind == 'n')
        return QStringLiteral("NULL");
    if (v.kind == 'i')
        return QString::fromLatin1(v.bytes);
    return QLatin1Char('\'') + escapeQuotes(utf8Text(v.bytes)) + QLatin1Char('\'');
}

// Count and an order-free digest of a table's rows, over the values as held.
QPair<qint64, QByteArray> digest(const QVector<RawRow>& rows) {
    QVector<QByteArray> hashes;
    hashes.reserve(rows.size());
    for (const RawRow& r : rows) {
        QCryptographicHash h(QCryptographicHash::Sha1);
        for (const RawValue& v : r) {
            h.addData(QByteArrayView(&v.kind, 1));
            h.addData(QByteArray::number(v.bytes.size()) + ':');
            h.addData(v.bytes);
        }
        hashes.append(h.result());
    }
    std::sort(hashes.begin(), hashes.end());
    QCryptographicHash all(QCryptographicHash::Sha256);
    for (const QByteArray& h : hashes)
        all.addData(h);
    return {rows.size(), all.result()};
}

// The source is read in one read transaction: every table from one snapshot, and no write
// lock, so the store's users go on logging in and writing while it is copied.
void beginReading(AdoConnection& src) {
    switch (src.dialect()) {
    case Dialect::SQLite:
        src.execute(QStringLiteral("BEGIN DEFERRED")); // a reader of the write-ahead log
        break;
    case Dialect::PostgreSQL:
        src.execute(QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"));
        break;
    case Dialect::SqlServer:
        src.beginTrans();
        break;
    }
}

void endReading(AdoConnection& src) {
    if (src.inTransaction())
        src.rollbackTrans();
    else
        src.execute(QStringLiteral("ROLLBACK"));
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
        beginReading(*src);
        qint64 copied = 0;
        try {
            // Every value is read and checked before anything is written.
            QList<QVector<RawRow>> source;
            for (const TableSpec& t : tables) {
                source.append(rawRows(*src, t));
                for (int r = 0; r < source.last().size(); ++r)
                    for (int c = 0; c < t.columns.size(); ++c) {
                        const QString why = unfaithful(source.last()[r][c], numericColumn(t.columns[c]));
                        if (!why.isEmpty())
                            throw Refused(QStringLiteral("%1 row %2, column %3: %4, which the store's column "
                                                         "cannot hold as it is; nothing was copied")
                                              .arg(QLatin1String(t.name))
                                              .arg(r + 1)
                                              .arg(t.columns[c], why));
                    }
            }
            dst->beginTrans();
            for (int i = 0; i < tables.size(); ++i) {
                const TableSpec& t = tables[i];
                const QString head = QStringLiteral("INSERT INTO %1 (%2) VALUES ")
                                         .arg(QLatin1String(t.name), t.columns.join(QLatin1Char(',')));
                QString sql;
                int inBatch = 0;
                for (const RawRow& r : source[i]) {
                    QStringList values;
                    for (const RawValue& v : r)
                        values << literal(v);
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
                copied += source[i].size();
            }
            // Verified before the commit, value for value as each side holds it: a copy that
            // differs is never left behind. Equal rows in every table also mean the store
            // doctor finds the same in both.
            for (int i = 0; i < tables.size(); ++i) {
                const auto expected = digest(source[i]);
                const auto got = digest(rawRows(*dst, tables[i]));
                if (got.first != expected.first)
                    throw Refused(
                        QStringLiteral("verification failed: %1 has %2 row(s) in the copy, %3 in the source")
                            .arg(QLatin1String(tables[i].name))
                            .arg(got.first)
                            .arg(expected.first));
                if (got.second != expected.second)
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
                endReading(*src);
            } catch (...) {
            }
            throw;
        }
        endReading(*src);
        printOut(QStringLiteral("copied %1 row(s) of %2 tables in %3 s; counts and contents agree")
                     .arg(copied)
                     .arg(tables.size())
                     .arg(clock.elapsed() / 1000.0, 0, 'f', 1));
        return kOk;
    });
}

} // namespace vardex::cli
