#include "library/doctor.h"
#include "library/passwordpolicy.h"
#include "library/storerules.h"
#include "library/storeschema.h"
#include "platform/passwordhash.h"
#include "platform/sqldialect.h"

#include <QHash>
#include <QSet>
#include <algorithm>
#include <map>
#include <set>
#include <tuple>

namespace vardex {

namespace {

// Everything the checks need, read once.
struct Snapshot {
    QStringList holders;                                  // rights-holding user IDs, in table order, distinct
    QList<int> items;                                     // distinct item numbers
    QStringList groups;                                   // distinct permission-group names
    std::map<std::pair<QString, int>, QList<int>> grants; // (user, item) -> counts
    std::map<std::pair<QString, QString>, QList<QString>> assigned; // (user, group) -> flags
    std::map<std::pair<QString, int>, QList<QString>> contents;     // (group, item) -> flags

    int expectedCount(const QString& user, int item) const {
        int n = 0;
        for (const QString& g : groups) {
            auto a = assigned.find({user, g});
            if (a == assigned.end() || a->second.isEmpty() || a->second.first() != schema::kGranted)
                continue;
            auto c = contents.find({g, item});
            if (c != contents.end() && !c->second.isEmpty() && c->second.first() == schema::kGranted)
                ++n;
        }
        return n;
    }
};

Snapshot read(AdoConnection& cn) {
    Snapshot s;
    AdoQuery query(&cn);
    query.setSql(QStringLiteral("select userID, zuid from qx_user"));
    query.open();
    QSet<QString> seen;
    for (query.first(); !query.eof(); query.next()) {
        const AdoField id = query.fieldByName(QStringLiteral("userID"));
        // A zuid that is no number holds no rights; checkExportable reports it.
        bool number = false;
        const int zuid = query.fieldByName(QStringLiteral("zuid")).value().toInt(&number);
        if (id.isNull() || !number || !schema::holdsOwnRights(zuid))
            continue;
        if (!seen.contains(id.asString())) {
            seen.insert(id.asString());
            s.holders.append(id.asString());
        }
    }
    query.setSql(QStringLiteral("select distinct qxID from qx_Name where qxID is not null order by qxID"));
    query.open();
    for (query.first(); !query.eof(); query.next())
        s.items.append(query.fieldByName(QStringLiteral("qxID")).asInteger());
    query.setSql(
        QStringLiteral("select distinct zuName from qx_zu where zuName is not null order by zuName"));
    query.open();
    for (query.first(); !query.eof(); query.next())
        s.groups.append(query.fieldByName(QStringLiteral("zuName")).asString());

    query.setSql(QStringLiteral(
        "select userID, qxID, AllowCount from qx_user_qx where userID is not null and qxID is not null"));
    query.open();
    for (query.first(); !query.eof(); query.next())
        s.grants[{query.fieldByName(QStringLiteral("userID")).asString(),
                  query.fieldByName(QStringLiteral("qxID")).asInteger()}]
            .append(query.fieldByName(QStringLiteral("AllowCount")).asInteger());
    query.setSql(QStringLiteral(
        "select userID, zuName, Allow from qx_user_zu where userID is not null and zuName is not null"));
    query.open();
    for (query.first(); !query.eof(); query.next())
        s.assigned[{query.fieldByName(QStringLiteral("userID")).asString(),
                    query.fieldByName(QStringLiteral("zuName")).asString()}]
            .append(query.fieldByName(QStringLiteral("Allow")).asString().trimmed());
    query.setSql(QStringLiteral(
        "select zuName, qxID, Allow from qx_zu where zuName is not null and qxID is not null"));
    query.open();
    for (query.first(); !query.eof(); query.next())
        s.contents[{query.fieldByName(QStringLiteral("zuName")).asString(),
                    query.fieldByName(QStringLiteral("qxID")).asInteger()}]
            .append(query.fieldByName(QStringLiteral("Allow")).asString().trimmed());
    return s;
}

// The grant rows of one holder: one a item, with the count its assignments give.
void examineGrants(const Snapshot& s, const QString& u, DoctorReport& r) {
    for (int item : s.items) {
        auto it = s.grants.find({u, item});
        const int n = it == s.grants.end() ? 0 : it->second.size();
        if (n != 1) {
            r.violations.append({n == 0 ? Violation::MissingGrantRow : Violation::DuplicateGrantRow, u,
                                 QString(), item, n, 1, QString()});
            continue;
        }
        const int expected = s.expectedCount(u, item);
        if (it->second.first() != expected)
            r.violations.append(
                {Violation::WrongCount, u, QString(), item, it->second.first(), expected, QString()});
    }
}

DoctorReport examine(const Snapshot& s) {
    DoctorReport r;
    r.rightsHolders = s.holders.size();
    r.items = s.items.size();
    r.groups = s.groups.size();
    for (const QString& g : s.groups)
        for (int item : s.items) {
            auto it = s.contents.find({g, item});
            const int n = it == s.contents.end() ? 0 : it->second.size();
            if (n != 1)
                r.violations.append(
                    {n == 0 ? Violation::MissingGroupItemRow : Violation::DuplicateGroupItemRow, QString(), g,
                     item, n, 1, QString()});
        }
    for (const QString& u : s.holders) {
        for (const QString& g : s.groups) {
            auto it = s.assigned.find({u, g});
            const int n = it == s.assigned.end() ? 0 : it->second.size();
            if (n != 1)
                r.violations.append(
                    {n == 0 ? Violation::MissingAssignmentRow : Violation::DuplicateAssignmentRow, u, g, 0, n,
                     1, QString()});
        }
        examineGrants(s, u, r);
    }
    return r;
}

const char* const storeProcedures[] = {"qxAddUser",      "qxAddzuName",        "qxDelUser",
                                       "qxDelzu",        "qxNameChanged",      "qxNameChanged_before",
                                       "qxUpDateAllows", "qx_user_zu_changed", "qxUpDateUserAllows",
                                       "qxuserintozu",   "qxuseroutzu"};

// Lower-case names of the stored procedures the database holds (on SQLite, each a view with an
// INSTEAD OF trigger, as the connection's SQL tells).
QSet<QString> procedureNames(AdoConnection& cn) {
    cn.ensureOpen(); // the kind of database is known once open
    AdoQuery query(&cn, cn.sql().procedureQuery());
    query.open();
    QVector<QVector<QVariant>> rows;
    for (int r = 0; r < query.recordCount(); ++r) {
        QVector<QVariant> row;
        for (int c = 0; c < query.fieldCount(); ++c)
            row.append(query.value(r, c));
        rows.append(row);
    }
    return cn.sql().procedureNames(rows);
}

// The tables and procedures an install creates that are not there.
QList<Violation> checkSchema(AdoConnection& cn) {
    QList<Violation> out;
    QSet<QString> tables;
    for (const QString& t : cn.tableNames())
        tables.insert(t.section(QLatin1Char('.'), -1).remove(QLatin1Char('"')).toLower());
    for (const schema::Table& t : schema::kTables)
        if (!tables.contains(QString::fromLatin1(t.name).toLower()))
            out.append({Violation::MissingTable, QString(), QString(), 0, 0, 1, QString::fromLatin1(t.name)});
    const QSet<QString> procedures = procedureNames(cn);
    for (const char* p : storeProcedures)
        if (!procedures.contains(QString::fromLatin1(p).toLower()))
            out.append({Violation::MissingProcedure, QString(), QString(), 0, 0, 1, QString::fromLatin1(p)});
    return out;
}

// SQLite's own check of every page and index of the file.
QList<Violation> checkPages(AdoConnection& cn) {
    QList<Violation> out;
    const QString check = cn.sql().pageCheck();
    if (check.isEmpty())
        return out;
    try {
        AdoQuery query(&cn, check);
        query.open();
        for (query.first(); !query.eof(); query.next()) {
            const QString line = query.value(query.recNo(), 0).toString();
            if (line != QLatin1String("ok"))
                out.append({Violation::DamagedStore, QString(), QString(), 0, 0, 0, line});
        }
    } catch (const DbError& e) {
        out.append({Violation::DamagedStore, QString(), QString(), 0, 0, 0, e.message()});
    }
    return out;
}

// The conditions that make a row an orphan, as SQL over the row's own table.
const char* const grantOrphan = "NOT EXISTS (SELECT 1 FROM qx_user u WHERE u.userID = qx_user_qx.userID) "
                                "OR NOT EXISTS (SELECT 1 FROM qx_Name i WHERE i.qxID = qx_user_qx.qxID)";
// An assignment row of a permission group without contents is not one: the procedures leave
// such rows when a group loses its last item (or is made while there is none) and drop them
// when the name is given to a new group; they grant nothing.
const char* const assignmentOrphan =
    "NOT EXISTS (SELECT 1 FROM qx_user u WHERE u.userID = qx_user_zu.userID)";
const char* const contentOrphan = "NOT EXISTS (SELECT 1 FROM qx_Name i WHERE i.qxID = qx_zu.qxID)";

// Rows that refer to a user, item or permission group that does not exist, one finding per
// distinct reference (found = how many rows share it). The database compares the keys, so
// its own collation decides what "the same user" means, as it does for the right check.
QList<Violation> findOrphans(AdoConnection& cn) {
    QList<Violation> out;
    auto collect = [&](Violation::Kind kind, const QString& sql, const char* firstKind,
                       const char* secondKind) {
        AdoQuery query(&cn, sql);
        query.open();
        std::map<std::tuple<QString, QString, int, bool, bool>, int> keys; // ordered: a stable report
        for (query.first(); !query.eof(); query.next()) {
            const bool firstKnown = query.value(query.recNo(), 2).toInt() != 0;
            const bool secondKnown = query.value(query.recNo(), 3).toInt() != 0;
            const QString user =
                kind == Violation::OrphanGroupItemRow ? QString() : query.value(query.recNo(), 0).toString();
            const QString group =
                kind == Violation::OrphanAssignmentRow  ? query.value(query.recNo(), 1).toString().trimmed()
                : kind == Violation::OrphanGroupItemRow ? query.value(query.recNo(), 0).toString()
                                                        : QString();
            const int item =
                kind == Violation::OrphanAssignmentRow ? 0 : query.value(query.recNo(), 1).toInt();
            ++keys[{user, group, item, firstKnown, secondKnown}];
        }
        for (const auto& [key, rows] : keys) {
            const auto& [user, group, item, firstKnown, secondKnown] = key;
            QStringList gone;
            if (!firstKnown)
                gone << QLatin1String(firstKind);
            if (!secondKnown && secondKind)
                gone << QLatin1String(secondKind);
            out.append({kind, user, group, item, rows, 0, gone.join(QLatin1String(" and "))});
        }
    };
    collect(Violation::OrphanGrantRow,
            QStringLiteral(
                "select userID, qxID, "
                "case when exists (select 1 from qx_user u where u.userID = qx_user_qx.userID) then 1 else 0 "
                "end, "
                "case when exists (select 1 from qx_Name i where i.qxID = qx_user_qx.qxID) then 1 else 0 end "
                "from qx_user_qx where ") +
                QLatin1String(grantOrphan),
            "user", "item");
    collect(Violation::OrphanAssignmentRow,
            QStringLiteral("select userID, zuName, 0, 1 from qx_user_zu where ") +
                QLatin1String(assignmentOrphan),
            "user", nullptr);
    collect(Violation::OrphanGroupItemRow,
            QStringLiteral("select zuName, qxID, 0, 1 from qx_zu where ") + QLatin1String(contentOrphan),
            "item", nullptr);
    return out;
}

// A value the administration actions would not have written: its column and what is wrong.
void checkValue(QList<Violation>& out, const QString& user, int item, const char* column,
                const QString& problem) {
    if (!problem.isEmpty())
        out.append({Violation::BadValue, user, QString(), item, 0, 0,
                    QLatin1String(column) + QLatin1Char(' ') + problem});
}

QString nameOrNull(const AdoField& f, int maxLength) {
    return f.isNull() ? QStringLiteral("is NULL") : rules::nameProblem(f.asString(), maxLength);
}

QString flagProblem(const AdoField& f) {
    const QString v = f.isNull() ? QString() : f.asString().trimmed();
    return v == schema::kGranted || v == schema::kRefused ? QString() : QStringLiteral("is neither T nor F");
}

// Integer columns read as they are stored: a real or a text in one reads as a problem, not as
// the number the driver would round it to.
QString wholeNumber(const AdoField& f, int& out) {
    const QVariant v = f.value();
    bool ok = false;
    const qlonglong n = v.toLongLong(&ok);
    if (v.isNull() || !ok || QString::number(n) != v.toString().trimmed() || n < INT32_MIN || n > INT32_MAX)
        return QStringLiteral("is no whole number of 32 bits (%1)")
            .arg(v.isNull() ? QStringLiteral("NULL") : v.toString());
    out = static_cast<int>(n);
    return QString();
}

} // namespace

QList<Violation> checkExportable(AdoConnection& cn) {
    QList<Violation> out;
    AdoQuery query(&cn, QStringLiteral("select qxID, qxName from qx_Name"));
    query.open();
    std::map<int, QStringList> names;
    for (query.first(); !query.eof(); query.next()) {
        const AdoField id = query.fieldByName(QStringLiteral("qxID"));
        const AdoField name = query.fieldByName(QStringLiteral("qxName"));
        if (id.isNull()) {
            out.append({Violation::ItemWithoutNumber, QString(), QString(), 0, 1, 0, name.asString()});
            continue;
        }
        int n = 0;
        const QString problem = wholeNumber(id, n);
        checkValue(out, QString(), n, "qxID", problem);
        if (!problem.isEmpty())
            continue;
        names[n].append(name.isNull() ? QString() : name.asString());
        // The item list editor leaves a name out as NULL; a name it writes is a name.
        if (!name.isNull())
            checkValue(out, QString(), n, "qxName",
                       rules::nameProblem(name.asString(), rules::kItemNameLength));
    }
    for (const auto& [n, rows] : names)
        if (rows.size() > 1)
            out.append({Violation::DuplicateItem, QString(), QString(), n, int(rows.size()), 1, QString()});

    query.setSql(
        QStringLiteral("select userID, userName, userPwd, startTime, endTime, Allow, AllowZekou, zuid "
                       "from qx_user"));
    query.open();
    std::map<int, QStringList> groupIds;
    struct Member {
        QString id;
        int group;
    };
    QList<Member> members;
    for (query.first(); !query.eof(); query.next()) {
        const QString id = query.fieldByName(QStringLiteral("userID")).asString();
        checkValue(out, id, 0, "userID",
                   nameOrNull(query.fieldByName(QStringLiteral("userID")), rules::kIdLength));
        checkValue(out, id, 0, "Allow", flagProblem(query.fieldByName(QStringLiteral("Allow"))));
        int zuid = 0;
        const QString zuidProblem = wholeNumber(query.fieldByName(QStringLiteral("zuid")), zuid);
        checkValue(out, id, 0, "zuid", zuidProblem);
        if (!zuidProblem.isEmpty())
            continue;
        if (schema::isUserGroup(zuid)) {
            groupIds[zuid].append(id);
            checkValue(out, id, 0, "userName",
                       nameOrNull(query.fieldByName(QStringLiteral("userName")), rules::kIdLength));
            continue;
        }
        if (!schema::isKnownUserZuid(zuid)) {
            out.append({Violation::UnknownUserCode, id, QString(), 0, zuid, 0, QString()});
            continue;
        }
        if (zuid != schema::kNoGroupZuid)
            members.append({id, schema::groupOfMember(zuid)});
        checkValue(out, id, 0, "userName",
                   nameOrNull(query.fieldByName(QStringLiteral("userName")), rules::kIdLength));
        checkValue(out, id, 0, "userPwd",
                   rules::cipherTextProblem(query.fieldByName(QStringLiteral("userPwd")).asString()));
        checkValue(out, id, 0, "startTime",
                   rules::dateProblem(query.fieldByName(QStringLiteral("startTime")).asString()));
        checkValue(out, id, 0, "endTime",
                   rules::dateProblem(query.fieldByName(QStringLiteral("endTime")).asString()));
        int discount = 0;
        QString problem = wholeNumber(query.fieldByName(QStringLiteral("AllowZekou")), discount);
        checkValue(out, id, 0, "AllowZekou", problem.isEmpty() ? rules::discountProblem(discount) : problem);
    }
    for (const auto& [n, ids] : groupIds)
        if (ids.size() > 1)
            out.append({Violation::SharedGroupNumber, QString(), QString(), 0, n, 0,
                        ids.join(QLatin1String("', '"))});
    for (const Member& m : members)
        if (groupIds.find(m.group) == groupIds.end())
            out.append({Violation::LostMember, m.id, QString(), 0, m.group, 0, QString()});

    // Permission groups as export lists them: every name of their contents and assignments.
    query.setSql(QStringLiteral("select zuName from qx_zu where zuName is not null union "
                                "select zuName from qx_user_zu where zuName is not null"));
    query.open();
    for (query.first(); !query.eof(); query.next()) {
        const AdoField name = query.fieldByName(QStringLiteral("zuName"));
        const QString problem = rules::nameProblem(name.asString(), rules::kIdLength);
        if (!problem.isEmpty())
            out.append({Violation::BadValue, QString(), name.asString(), 0, 0, 0,
                        QStringLiteral("zuName ") + problem});
    }
    return out;
}

namespace {

bool blocksRepair(const Violation& v) {
    return v.kind == Violation::MissingTable || v.kind == Violation::DamagedStore;
}

// Every check, in the order the report lists them; the rows only when their tables exist.
// On a damaged file, reading the rows may fail: the damage is the finding then.
DoctorReport fullCheck(AdoConnection& cn) {
    DoctorReport r;
    QList<Violation> store = checkPages(cn);
    const bool damaged = !store.isEmpty();
    store += checkSchema(cn);
    if (std::none_of(store.begin(), store.end(),
                     [](const Violation& v) { return v.kind == Violation::MissingTable; })) {
        try {
            r = examine(read(cn));
            r.violations += findOrphans(cn);
            r.violations += checkExportable(cn);
        } catch (const DbError&) {
            if (!damaged)
                throw;
        }
    }
    r.violations += store;
    return r;
}

} // namespace

QString Violation::describe() const {
    const QString rows = found == 1 ? QStringLiteral("1 row") : QStringLiteral("%1 rows").arg(found);
    switch (kind) {
    case MissingGrantRow:
        return QStringLiteral("missing qx_user_qx row: user '%1', item %2").arg(userId).arg(qxID);
    case DuplicateGrantRow:
        return QStringLiteral("duplicated qx_user_qx row: user '%1', item %2 (%3 rows)")
            .arg(userId)
            .arg(qxID)
            .arg(found);
    case MissingAssignmentRow:
        return QStringLiteral("missing qx_user_zu row: user '%1', permission group '%2'").arg(userId, zuName);
    case DuplicateAssignmentRow:
        return QStringLiteral("duplicated qx_user_zu row: user '%1', permission group '%2' (%3 rows)")
            .arg(userId, zuName)
            .arg(found);
    case MissingGroupItemRow:
        return QStringLiteral("missing qx_zu row: permission group '%1', item %2").arg(zuName).arg(qxID);
    case DuplicateGroupItemRow:
        return QStringLiteral("duplicated qx_zu row: permission group '%1', item %2 (%3 rows)")
            .arg(zuName)
            .arg(qxID)
            .arg(found);
    case WrongCount:
        return QStringLiteral("wrong grant count: user '%1', item %2: stored %3, the assignments give %4")
            .arg(userId)
            .arg(qxID)
            .arg(found)
            .arg(expected);
    case OrphanGrantRow:
        return QStringLiteral("orphan qx_user_qx row: user '%1', item %2: no such %3 (%4)")
            .arg(userId)
            .arg(qxID)
            .arg(detail, rows);
    case OrphanAssignmentRow:
        return QStringLiteral("orphan qx_user_zu row: user '%1', permission group '%2': no such %3 (%4)")
            .arg(userId, zuName, detail, rows);
    case OrphanGroupItemRow:
        return QStringLiteral("orphan qx_zu row: permission group '%1', item %2: no such item (%3)")
            .arg(zuName)
            .arg(qxID)
            .arg(rows);
    case MissingTable:
        return QStringLiteral("missing table %1").arg(detail);
    case MissingProcedure:
        return QStringLiteral("missing stored procedure %1").arg(detail);
    case DamagedStore:
        return QStringLiteral("damaged store file: %1").arg(detail);
    case ItemWithoutNumber:
        return QStringLiteral("qx_Name row without a number (name '%1')").arg(detail);
    case DuplicateItem:
        return QStringLiteral("item %1 is listed %2 times in qx_Name").arg(qxID).arg(found);
    case SharedGroupNumber:
        return QStringLiteral("user groups '%1' share the number %2").arg(detail).arg(found);
    case LostMember:
        return QStringLiteral("user '%1' is a member of user group number %2, which does not exist")
            .arg(userId)
            .arg(found);
    case UnknownUserCode:
        return QStringLiteral(
                   "qx_user row '%1' has the user-group code %2, which no action of the store makes")
            .arg(userId)
            .arg(found);
    case BadValue:
        if (!zuName.isNull())
            return QStringLiteral("permission group '%1': %2").arg(zuName, detail);
        if (!userId.isNull())
            return QStringLiteral("qx_user row '%1': %2").arg(userId, detail);
        return QStringLiteral("item %1: %2").arg(qxID).arg(detail);
    }
    return QString();
}

DoctorReport checkStore(AdoConnection& cn) {
    DoctorReport report = fullCheck(cn);
    if (policy::effectiveSettings(cn).value(QStringLiteral("password.hash")) == QLatin1String("bcrypt")) {
        int cipher = 0;
        AdoQuery query(&cn, QStringLiteral("select userPwd from qx_user"));
        query.open();
        for (query.first(); !query.eof(); query.next()) {
            const QString stored = query.fieldByName(QStringLiteral("userPwd")).asString();
            cipher += !stored.isEmpty() && !isPasswordHash(stored) ? 1 : 0;
        }
        if (cipher > 0)
            report.notes << QStringLiteral("note: %1 stored password(s) are still cipher text under "
                                           "password.hash=bcrypt")
                                .arg(cipher);
    }
    return report;
}

namespace {

// A repair that would have to guess is refused whole.
void refuseWhatCannotBeRepaired(const DoctorReport& before) {
    QStringList blockers;
    for (const Violation& v : before.violations)
        if (blocksRepair(v))
            blockers << v.describe();
    if (!blockers.isEmpty())
        throw DbError(
            QStringLiteral("Nothing was repaired: %1. Install the store again or restore it from a backup.")
                .arg(blockers.join(QLatin1String("; "))));
}

// An item listed twice under one name is one item: keep one row of it.
void mendDuplicateItems(AdoConnection& cn, const DoctorReport& before) {
    for (const Violation& v : before.violations) {
        if (v.kind != Violation::DuplicateItem)
            continue;
        AdoQuery rows(
            &cn, QStringLiteral("select distinct qxName, qxNameEx from qx_Name where qxID = %1").arg(v.qxID));
        rows.open();
        if (rows.recordCount() != 1)
            continue; // different names: which one is meant is the operator's choice
        const auto value = [&](const char* column) {
            const AdoField f = rows.fieldByName(QLatin1String(column));
            return f.isNull() ? QStringLiteral("NULL") : sqlLiteral(f.asString());
        };
        const QString name = value("qxName"), nameEx = value("qxNameEx");
        cn.execute(QStringLiteral("DELETE FROM qx_Name WHERE qxID = %1").arg(v.qxID));
        cn.execute(QStringLiteral("INSERT INTO qx_Name (qxID, qxName, qxNameEx) VALUES (%1, %2, %3)")
                       .arg(v.qxID)
                       .arg(name, nameEx));
    }
}

// Leaves exactly one row where rows holds none or several: the first one's flag is kept, a
// missing row is refused. where names the rows (for the delete), key the row's leading values.
void keepOneRow(AdoConnection& cn, QList<QString>& rows, const QString& table, const QString& columns,
                const QString& where, const QString& key) {
    if (rows.size() == 1)
        return;
    const QString flag = rows.isEmpty() ? QString(schema::kRefused) : rows.first();
    if (!rows.isEmpty())
        cn.execute(QStringLiteral("DELETE FROM %1 WHERE %2").arg(table, where));
    cn.execute(QStringLiteral("INSERT INTO %1 (%2, Allow) VALUES (%3, %4)")
                   .arg(table, columns, key, sqlLiteral(flag)));
    rows = {flag};
}

// Every group holds every item exactly once (a missing one refused).
void mendContents(AdoConnection& cn, Snapshot& s) {
    for (const QString& g : s.groups)
        for (int item : s.items)
            keepOneRow(cn, s.contents[{g, item}], QStringLiteral("qx_zu"), QStringLiteral("zuName, qxID"),
                       QStringLiteral("zuName = %1 AND qxID = %2").arg(sqlLiteral(g), QString::number(item)),
                       QStringLiteral("%1, %2").arg(sqlLiteral(g), QString::number(item)));
}

// Every holder has every group's assignment row exactly once (a missing one not assigned).
void mendAssignments(AdoConnection& cn, Snapshot& s) {
    for (const QString& u : s.holders)
        for (const QString& g : s.groups)
            keepOneRow(cn, s.assigned[{u, g}], QStringLiteral("qx_user_zu"), QStringLiteral("userID, zuName"),
                       QStringLiteral("userID = %1 AND zuName = %2").arg(sqlLiteral(u), sqlLiteral(g)),
                       QStringLiteral("%1, %2").arg(sqlLiteral(u), sqlLiteral(g)));
}

// Every holder's grant count is the one its assignments and the groups' contents give.
void mendGrants(AdoConnection& cn, const Snapshot& s) {
    for (const QString& u : s.holders)
        for (int item : s.items) {
            const int expected = s.expectedCount(u, item);
            const auto it = s.grants.find({u, item});
            const int n = it == s.grants.end() ? 0 : it->second.size();
            if (n == 1 && it->second.first() == expected)
                continue;
            if (n == 1) {
                cn.execute(
                    QStringLiteral("UPDATE qx_user_qx SET AllowCount = %1 WHERE userID = %2 AND qxID = %3")
                        .arg(QString::number(expected), sqlLiteral(u), QString::number(item)));
                continue;
            }
            if (n > 1)
                cn.execute(QStringLiteral("DELETE FROM qx_user_qx WHERE userID = %1 AND qxID = %2")
                               .arg(sqlLiteral(u), QString::number(item)));
            cn.execute(QStringLiteral("INSERT INTO qx_user_qx (userID, qxID, AllowCount) VALUES (%1, %2, %3)")
                           .arg(sqlLiteral(u), QString::number(item), QString::number(expected)));
        }
}

} // namespace

DoctorReport repairStore(AdoConnection& cn) {
    AdoTransaction tx(cn);
    DoctorReport before = fullCheck(cn);
    refuseWhatCannotBeRepaired(before);
    mendDuplicateItems(cn, before);
    // Orphans first; the other repairs are worked out on what is left.
    cn.execute(QStringLiteral("DELETE FROM qx_zu WHERE ") + QLatin1String(contentOrphan));
    cn.execute(QStringLiteral("DELETE FROM qx_user_zu WHERE ") + QLatin1String(assignmentOrphan));
    cn.execute(QStringLiteral("DELETE FROM qx_user_qx WHERE ") + QLatin1String(grantOrphan));
    Snapshot s = read(cn);
    // Group contents and assignments first: the counts are computed from them.
    mendContents(cn, s);
    mendAssignments(cn, s);
    mendGrants(cn, s);
    tx.commit();
    return before;
}

} // namespace vardex
