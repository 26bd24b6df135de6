#pragma once
// Fills an installed, empty store with a generated permission setup through the store's own
// procedures (so every count is right): head items every 1,000 numbers with their items, user
// groups, users (half of them members), permission groups granting a random share of the items,
// assignments and an audit log. The same seed gives the same store.
#include "library/cipher.h"
#include "platform/adodb.h"

#include <QRandomGenerator>
#include <QStringList>

namespace vardex::storegen {

struct Size {
    int users = 2000, items = 500, userGroups = 10, permissionGroups = 20, logRows = 100000;
    quint32 seed = 7;
};

inline void insertRows(AdoConnection& cn, const QString& head, const QStringList& rows) {
    for (int i = 0; i < rows.size(); i += 400)
        cn.execute(head + rows.mid(i, 400).join(QLatin1Char(',')));
}

inline void generate(AdoConnection& cn, const Size& s) {
    QRandomGenerator rng(s.seed);
    cn.beginTrans();
    QStringList rows;
    QList<int> items;
    for (int i = 0; i < s.items; ++i) {
        const int id = (i / 25 + 1) * 1000 + i % 25; // 25 numbers per head item, the head first
        items << id;
        rows << QStringLiteral("(%1,'item %1')").arg(id);
    }
    insertRows(cn, QStringLiteral("INSERT INTO qx_Name (qxID, qxName) VALUES "), rows);
    QStringList holders;
    rows.clear();
    for (int g = 1; g <= s.userGroups; ++g) {
        rows << QStringLiteral("(%1,'group%1','组 %1')").arg(g);
        holders << QStringLiteral("group%1").arg(g);
    }
    if (!rows.isEmpty())
        insertRows(cn, QStringLiteral("INSERT INTO qx_user (zuid, userID, userName) VALUES "), rows);
    rows.clear();
    const QString pwd = EncryptPassword(QStringLiteral("secret"), QStringLiteral("kmpq"));
    for (int u = 0; u < s.users; ++u) {
        const bool member = s.userGroups > 0 && u % 2 == 1;
        const int zuid = member ? 1001 + rng.bounded(s.userGroups) : 10000;
        if (!member)
            holders << QStringLiteral("u%1").arg(u);
        rows << QStringLiteral("('u%1','User %1','%2','2020-01-01','2099-12-31','%3',%4,%5)")
                    .arg(u)
                    .arg(u % 5 ? pwd : QString())
                    .arg(u % 17 ? QStringLiteral("T") : QStringLiteral("F"))
                    .arg(rng.bounded(101))
                    .arg(zuid);
    }
    insertRows(cn,
               QStringLiteral("INSERT INTO qx_user (userID, userName, userPwd, startTime, endTime, Allow, "
                              "AllowZekou, zuid) VALUES "),
               rows);
    for (const QString& h : holders)
        cn.execute(QStringLiteral("Exec qxAddUser '%1'").arg(h));
    for (int p = 0; p < s.permissionGroups; ++p) {
        const QString name = QStringLiteral("perm%1").arg(p);
        cn.execute(QStringLiteral("Exec qxAddzuName '%1'").arg(name));
        for (int id : items)
            if (rng.bounded(10) == 0)
                cn.execute(QStringLiteral("Exec qxUpDateAllows '%1',%2,'T'").arg(name).arg(id));
    }
    for (const QString& h : holders) {
        // One to three distinct permission groups each: assigning one twice would count twice.
        QList<int> chosen;
        for (int k = rng.bounded(3); k >= 0 && s.permissionGroups > 0; --k) {
            const int p = rng.bounded(s.permissionGroups);
            if (!chosen.contains(p))
                chosen << p;
        }
        for (int p : chosen)
            cn.execute(QStringLiteral("Exec qx_user_zu_changed '%1','perm%2','T'").arg(h).arg(p));
    }
    rows.clear();
    for (int l = 0; l < s.logRows; ++l)
        rows << QStringLiteral("('pc%1','User %2','2026-%3-%4 %5:%6:00','使用权限(item %7)')")
                    .arg(l % 40)
                    .arg(rng.bounded(s.users))
                    .arg(1 + l * 12 / qMax(1, s.logRows), 2, 10, QLatin1Char('0'))
                    .arg(1 + rng.bounded(28), 2, 10, QLatin1Char('0'))
                    .arg(rng.bounded(24), 2, 10, QLatin1Char('0'))
                    .arg(rng.bounded(60), 2, 10, QLatin1Char('0'))
                    .arg(items.value(rng.bounded(qMax(1, int(items.size())))));
    insertRows(cn, QStringLiteral("INSERT INTO qx_Logs (CompName, userName, theTime, theLog) VALUES "), rows);
    cn.commitTrans();
}

} // namespace vardex::storegen
