#include "library/doctor.h"
#include "platform/sqldialect.h"

#include <QHash>
#include <QSet>
#include <algorithm>
#include <map>
#include <set>
#include <tuple>

namespace vardex {

namespace {

bool isRightsHolding(int zuid) { return (zuid >= 1 && zuid <= 999) || zuid >= 10000; }

QString q(const QString& v) { return QLatin1Char('\'') + escapeQuotes(v) + QLatin1Char('\''); }

// Everything the checks need, read once.
struct Snapshot {
    QStringList holders; // rights-holding user IDs, in table order, distinct
    QList<int> items;    // distinct item numbers
    QStringList groups;  // distinct permission-group names
    std::map<std::pair<QString, int>, QList<int>> grants;           // (user, item) -> counts
    std::map<std::pair<QString, QString>, QList<QString>> assigned; // (user, group) -> flags
    std::map<std::pair<QString, int>, QList<QString>> contents;     // (group, item) -> flags

    int expectedCount(const QString& user, int item) const {
        int n = 0;
        for (const QString& g : groups) {
            auto a = assigned.find({user, g});
            if (a == assigned.end() || a->second.isEmpty() || a->second.first() != QLatin1String("T"))
                continue;
            auto c = contents.find({g, item});
            if (c != contents.end() && !c->second.isEmpty() && c->second.first() == QLatin1String("T"))
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
        if (id.isNull() || !isRightsHolding(query.fieldByName(QStringLiteral("zuid")).asInteger()))
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
    query.setSql(QStringLiteral("select distinct zuName from qx_zu where zuName is not null order by zuName"));
    query.open();
    for (query.first(); !query.eof(); query.next())
        s.groups.append(query.fieldByName(QStringLiteral("zuName")).asString());

    query.setSql(QStringLiteral("select userID, qxID, AllowCount from qx_user_qx where userID is not null and qxID is not null"));
    query.open();
    for (query.first(); !query.eof(); query.next())
        s.grants[{query.fieldByName(QStringLiteral("userID")).asString(), query.fieldByName(QStringLiteral("qxID")).asInteger()}]
            .append(query.fieldByName(QStringLiteral("AllowCount")).asInteger());
    query.setSql(QStringLiteral("select userID, zuName, Allow from qx_user_zu where userID is not null and zuName is not null"));
    query.open();
    for (query.first(); !query.eof(); query.next())
        s.assigned[{query.fieldByName(QStringLiteral("userID")).asString(), query.fieldByName(QStringLiteral("zuName")).asString()}]
            .append(query.fieldByName(QStringLiteral("Allow")).asString().trimmed());
    query.setSql(QStringLiteral("select zuName, qxID, Allow from qx_zu where zuName is not null and qxID is not null"));
    query.open();
    for (query.first(); !query.eof(); query.next())
        s.contents[{query.fieldByName(QStringLiteral("zuName")).asString(), query.fieldByName(QStringLiteral("qxID")).asInteger()}]
            .append(query.fieldByName(QStringLiteral("Allow")).asString().trimmed());
    return s;
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
                r.violations.append({n == 0 ? Violation::MissingGroupItemRow : Violation::DuplicateGroupItemRow, QString(), g,
                                     item, n, 1, QString()});
        }
    for (const QString& u : s.holders) {
        for (const QString& g : s.groups) {
            auto it = s.assigned.find({u, g});
            const int n = it == s.assigned.end() ? 0 : it->second.size();
            if (n != 1)
                r.violations.append({n == 0 ? Violation::MissingAssignmentRow : Violation::DuplicateAssignmentRow, u, g, 0, n, 1, QString()});
        }
        for (int item : s.items) {
            auto it = s.grants.find({u, item});
            const int n = it == s.grants.end() ? 0 : it->second.size();
            if (n != 1) {
                r.violations.append({n == 0 ? Violation::MissingGrantRow : Violation::DuplicateGrantRow, u, QString(), item, n, 1, QString()});
                continue;
            }
            const int expected = s.expectedCount(u, item);
            if (it->second.first() != expected)
                r.violations.append({Violation::WrongCount, u, QString(), item, it->second.first(), expected, QString()});
        }
    }
    return r;
}

const char* const storeTables[] = {"qx_Name", "qx_Name_Temp", "qx_user", "qx_user_qx", "qx_user_zu", "qx_zu", "qx_Logs"};
const char* const storeProcedures[] = {"qxAddUser", "qxAddzuName", "qxDelUser", "qxDelzu", "qxNameChanged",
                                       "qxNameChanged_before", "qxUpDateAllows", "qx_user_zu_changed",
                                       "qxUpDateUserAllows", "qxuserintozu", "qxuseroutzu"};

// Lower-case names of the stored procedures the database holds. On SQLite a procedure is a view
// with an INSTEAD OF trigger named after it with "_run" appended; both must be there.
QSet<QString> procedureNames(AdoConnection& cn) {
    QSet<QString> names;
    AdoQuery query(&cn);
    switch (cn.dialect()) {
    case Dialect::SQLite: {
        QSet<QString> views, triggers;
        query.setSql(QStringLiteral("select name, type from sqlite_master where type in ('view', 'trigger')"));
        query.open();
        for (query.first(); !query.eof(); query.next()) {
            const QString name = query.fieldByName(QStringLiteral("name")).asString().toLower();
            (query.fieldByName(QStringLiteral("type")).asString() == QLatin1String("view") ? views : triggers).insert(name);
        }
        for (const QString& v : views)
            if (triggers.contains(v + QLatin1String("_run")))
                names.insert(v);
        return names;
    }
    case Dialect::PostgreSQL:
        query.setSql(QStringLiteral("select p.proname from pg_proc p join pg_namespace n on n.oid = p.pronamespace "
                                    "where n.nspname = current_schema() and p.prokind = 'p'"));
        break;
    case Dialect::SqlServer:
        query.setSql(QStringLiteral("select name from sysobjects where xtype = 'P'"));
        break;
    }
    query.open();
    for (query.first(); !query.eof(); query.next())
        names.insert(query.value(query.recNo(), 0).toString().trimmed().toLower());
    return names;
}

// The tables and procedures an install creates that are not there.
QList<Violation> checkSchema(AdoConnection& cn) {
    QList<Violation> out;
    QSet<QString> tables;
    for (const QString& t : cn.tableNames())
        tables.insert(t.section(QLatin1Char('.'), -1).remove(QLatin1Char('"')).toLower());
    for (const char* t : storeTables)
        if (!tables.contains(QString::fromLatin1(t).toLower()))
            out.append({Violation::MissingTable, QString(), QString(), 0, 0, 1, QString::fromLatin1(t)});
    const QSet<QString> procedures = procedureNames(cn);
    for (const char* p : storeProcedures)
        if (!procedures.contains(QString::fromLatin1(p).toLower()))
            out.append({Violation::MissingProcedure, QString(), QString(), 0, 0, 1, QString::fromLatin1(p)});
    return out;
}

// SQLite's own check of every page and index of the file.
QList<Violation> checkPages(AdoConnection& cn) {
    QList<Violation> out;
    if (cn.dialect() != Dialect::SQLite)
        return out;
    try {
        AdoQuery query(&cn, QStringLiteral("PRAGMA integrity_check"));
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
const char* const assignmentOrphan = "NOT EXISTS (SELECT 1 FROM qx_user u WHERE u.userID = qx_user_zu.userID)";
const char* const contentOrphan = "NOT EXISTS (SELECT 1 FROM qx_Name i WHERE i.qxID = qx_zu.qxID)";

// Rows that refer to a user, item or permission group that does not exist, one finding per
// distinct reference (found = how many rows share it). The database compares the keys, so
// its own collation decides what "the same user" means, as it does for the right check.
QList<Violation> findOrphans(AdoConnection& cn) {
    QList<Violation> out;
    auto collect = [&](Violation::Kind kind, const QString& sql, const char* firstKind, const char* secondKind) {
        AdoQuery query(&cn, sql);
        query.open();
        std::map<std::tuple<QString, QString, int, bool, bool>, int> keys; // ordered: a stable report
        for (query.first(); !query.eof(); query.next()) {
            const bool firstKnown = query.value(query.recNo(), 2).toInt() != 0;
            const bool secondKnown = query.value(query.recNo(), 3).toInt() != 0;
            const QString user = kind == Violation::OrphanGroupItemRow ? QString() : query.value(query.recNo(), 0).toString();
            const QString group = kind == Violation::OrphanAssignmentRow ? query.value(query.recNo(), 1).toString().trimmed()
                                  : kind == Violation::OrphanGroupItemRow ? query.value(query.recNo(), 0).toString()
                                                                          : QString();
            const int item = kind == Violation::OrphanAssignmentRow ? 0 : query.value(query.recNo(), 1).toInt();
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
            QStringLiteral("select userID, qxID, "
                           "case when exists (select 1 from qx_user u where u.userID = qx_user_qx.userID) then 1 else 0 end, "
                           "case when exists (select 1 from qx_Name i where i.qxID = qx_user_qx.qxID) then 1 else 0 end "
                           "from qx_user_qx where ") + QLatin1String(grantOrphan),
            "user", "item");
    collect(Violation::OrphanAssignmentRow,
            QStringLiteral("select userID, zuName, 0, 1 from qx_user_zu where ") + QLatin1String(assignmentOrphan), "user",
            nullptr);
    collect(Violation::OrphanGroupItemRow,
            QStringLiteral("select zuName, qxID, 0, 1 from qx_zu where ") + QLatin1String(contentOrphan), "item", nullptr);
    return out;
}

bool blocksRepair(const Violation& v) { return v.kind == Violation::MissingTable || v.kind == Violation::DamagedStore; }

// Every check, in the order the report lists them; the rows only when their tables exist.
// On a damaged file, reading the rows may fail: the damage is the finding then.
DoctorReport fullCheck(AdoConnection& cn) {
    DoctorReport r;
    QList<Violation> store = checkPages(cn);
    const bool damaged = !store.isEmpty();
    store += checkSchema(cn);
    if (std::none_of(store.begin(), store.end(), [](const Violation& v) { return v.kind == Violation::MissingTable; })) {
        try {
            r = examine(read(cn));
            r.violations += findOrphans(cn);
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
        return QStringLiteral("duplicated qx_user_qx row: user '%1', item %2 (%3 rows)").arg(userId).arg(qxID).arg(found);
    case MissingAssignmentRow:
        return QStringLiteral("missing qx_user_zu row: user '%1', permission group '%2'").arg(userId, zuName);
    case DuplicateAssignmentRow:
        return QStringLiteral("duplicated qx_user_zu row: user '%1', permission group '%2' (%3 rows)").arg(userId, zuName).arg(found);
    case MissingGroupItemRow:
        return QStringLiteral("missing qx_zu row: permission group '%1', item %2").arg(zuName).arg(qxID);
    case DuplicateGroupItemRow:
        return QStringLiteral("duplicated qx_zu row: permission group '%1', item %2 (%3 rows)").arg(zuName).arg(qxID).arg(found);
    case WrongCount:
        return QStringLiteral("wrong grant count: user '%1', item %2: stored %3, the assignments give %4")
            .arg(userId).arg(qxID).arg(found).arg(expected);
    case OrphanGrantRow:
        return QStringLiteral("orphan qx_user_qx row: user '%1', item %2: no such %3 (%4)")
            .arg(userId).arg(qxID).arg(detail, rows);
    case OrphanAssignmentRow:
        return QStringLiteral("orphan qx_user_zu row: user '%1', permission group '%2': no such %3 (%4)")
            .arg(userId, zuName, detail, rows);
    case OrphanGroupItemRow:
        return QStringLiteral("orphan qx_zu row: permission group '%1', item %2: no such item (%3)")
            .arg(zuName).arg(qxID).arg(rows);
    case MissingTable:
        return QStringLiteral("missing table %1").arg(detail);
    case MissingProcedure:
        return QStringLiteral("missing stored procedure %1").arg(detail);
    case DamagedStore:
        return QStringLiteral("damaged store file: %1").arg(detail);
    }
    return QString();
}

DoctorReport checkStore(AdoConnection& cn) { return fullCheck(cn); }

DoctorReport repairStore(AdoConnection& cn) {
    cn.beginTrans();
    try {
        const DoctorReport before = fullCheck(cn);
        QStringList blockers;
        for (const Violation& v : before.violations)
            if (blocksRepair(v))
                blockers << v.describe();
        if (!blockers.isEmpty())
            throw DbError(QStringLiteral("Nothing was repaired: %1. Install the store again or restore it from a backup.")
                              .arg(blockers.join(QLatin1String("; "))));
        // Orphans first; the other repairs are worked out on what is left.
        cn.execute(QStringLiteral("DELETE FROM qx_zu WHERE ") + QLatin1String(contentOrphan));
        cn.execute(QStringLiteral("DELETE FROM qx_user_zu WHERE ") + QLatin1String(assignmentOrphan));
        cn.execute(QStringLiteral("DELETE FROM qx_user_qx WHERE ") + QLatin1String(grantOrphan));
        Snapshot s = read(cn);
        // Group contents and assignments first: the counts are computed from them.
        for (const QString& g : s.groups)
            for (int item : s.items) {
                QList<QString>& rows = s.contents[{g, item}];
                if (rows.size() == 1)
                    continue;
                const QString flag = rows.isEmpty() ? QStringLiteral("F") : rows.first();
                if (!rows.isEmpty())
                    cn.execute(QStringLiteral("DELETE FROM qx_zu WHERE zuName = %1 AND qxID = %2").arg(q(g)).arg(item));
                cn.execute(QStringLiteral("INSERT INTO qx_zu (zuName, qxID, Allow) VALUES (%1, %2, %3)").arg(q(g)).arg(item).arg(q(flag)));
                rows = {flag};
            }
        for (const QString& u : s.holders)
            for (const QString& g : s.groups) {
                QList<QString>& rows = s.assigned[{u, g}];
                if (rows.size() == 1)
                    continue;
                const QString flag = rows.isEmpty() ? QStringLiteral("F") : rows.first();
                if (!rows.isEmpty())
                    cn.execute(QStringLiteral("DELETE FROM qx_user_zu WHERE userID = %1 AND zuName = %2").arg(q(u), q(g)));
                cn.execute(QStringLiteral("INSERT INTO qx_user_zu (userID, zuName, Allow) VALUES (%1, %2, %3)").arg(q(u), q(g), q(flag)));
                rows = {flag};
            }
        for (const QString& u : s.holders)
            for (int item : s.items) {
                const int expected = s.expectedCount(u, item);
                auto it = s.grants.find({u, item});
                const int n = it == s.grants.end() ? 0 : it->second.size();
                if (n == 1 && it->second.first() == expected)
                    continue;
                if (n == 1) {
                    cn.execute(QStringLiteral("UPDATE qx_user_qx SET AllowCount = %1 WHERE userID = %2 AND qxID = %3")
                                   .arg(expected).arg(q(u)).arg(item));
                    continue;
                }
                if (n > 1)
                    cn.execute(QStringLiteral("DELETE FROM qx_user_qx WHERE userID = %1 AND qxID = %2").arg(q(u)).arg(item));
                cn.execute(QStringLiteral("INSERT INTO qx_user_qx (userID, qxID, AllowCount) VALUES (%1, %2, %3)")
                               .arg(q(u)).arg(item).arg(expected));
            }
        cn.commitTrans();
        return before;
    } catch (...) {
        if (cn.inTransaction()) {
            try {
                cn.rollbackTrans();
            } catch (...) {
            }
        }
        throw;
    }
}

} // namespace vardex
