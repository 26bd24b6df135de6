#include "library/doctor.h"
#include "platform/sqldialect.h"

#include <QHash>
#include <QSet>
#include <map>
#include <set>

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
                                     item, n, 1});
        }
    for (const QString& u : s.holders) {
        for (const QString& g : s.groups) {
            auto it = s.assigned.find({u, g});
            const int n = it == s.assigned.end() ? 0 : it->second.size();
            if (n != 1)
                r.violations.append({n == 0 ? Violation::MissingAssignmentRow : Violation::DuplicateAssignmentRow, u, g, 0, n, 1});
        }
        for (int item : s.items) {
            auto it = s.grants.find({u, item});
            const int n = it == s.grants.end() ? 0 : it->second.size();
            if (n != 1) {
                r.violations.append({n == 0 ? Violation::MissingGrantRow : Violation::DuplicateGrantRow, u, QString(), item, n, 1});
                continue;
            }
            const int expected = s.expectedCount(u, item);
            if (it->second.first() != expected)
                r.violations.append({Violation::WrongCount, u, QString(), item, it->second.first(), expected});
        }
    }
    return r;
}

} // namespace

QString Violation::describe() const {
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
    }
    return QString();
}

DoctorReport checkStore(AdoConnection& cn) { return examine(read(cn)); }

DoctorReport repairStore(AdoConnection& cn) {
    cn.beginTrans();
    try {
        Snapshot s = read(cn);
        const DoctorReport before = examine(s);
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
