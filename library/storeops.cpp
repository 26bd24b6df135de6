#include "library/storeops.h"

#include "library/storeschema.h"

#include <QSet>
#include <QStringDecoder>

namespace vardex::storeops {

namespace {

qint64 count(AdoConnection& cn, const QString& sql) {
    return selectRows(cn, sql).value(0).value(0).toLongLong();
}

} // namespace

Rows selectRows(AdoConnection& cn, const QString& sql) {
    return cn.run(sql, true).rows;
}

QStringList permissionGroups(AdoConnection& cn) {
    QSet<QString> names;
    for (const auto& r : selectRows(cn, QStringLiteral("select distinct zuName from qx_zu")))
        if (!r.value(0).isNull())
            names.insert(r.value(0).toString());
    for (const auto& r : selectRows(cn, QStringLiteral("select distinct zuName from qx_user_zu")))
        if (!r.value(0).isNull())
            names.insert(r.value(0).toString());
    QStringList out(names.begin(), names.end());
    out.sort();
    return out;
}

bool itemExists(AdoConnection& cn, int qxId) {
    return !selectRows(cn, QStringLiteral("select qxID from qx_Name where qxID = %1").arg(qxId)).isEmpty();
}

QString assignment(AdoConnection& cn, const QString& ownerId, const QString& group) {
    const Rows rows =
        selectRows(cn, QStringLiteral("select Allow from qx_user_zu where userID = %1 and zuName = %2")
                           .arg(schema::sqlLiteral(ownerId), schema::sqlLiteral(group)));
    return rows.isEmpty() ? QString() : rows.first().value(0).toString();
}

QStringList groupsGivingItem(AdoConnection& cn, const QString& ownerId, int qxId) {
    QStringList out;
    for (const auto& r : selectRows(
             cn, QStringLiteral("select a.zuName from qx_user_zu a, qx_zu z where a.userID = %1 and "
                                "a.Allow = 'T' and z.zuName = a.zuName and z.qxID = %2 and z.Allow = 'T' "
                                "order by a.zuName")
                     .arg(schema::sqlLiteral(ownerId), QString::number(qxId))))
        out << r.value(0).toString();
    return out;
}

qint64 grantedItemCount(AdoConnection& cn, const QString& group) {
    return count(cn, QStringLiteral("select count(*) from qx_zu where zuName = %1 and Allow = 'T'")
                         .arg(schema::sqlLiteral(group)));
}

qint64 holderCount(AdoConnection& cn, const QString& group) {
    return count(cn, QStringLiteral("select count(*) from qx_user_zu where zuName = %1 and Allow = 'T'")
                         .arg(schema::sqlLiteral(group)));
}

QList<int> grantedItems(AdoConnection& cn, const QString& group) {
    QList<int> out;
    for (const auto& r : selectRows(
             cn, QStringLiteral("select qxID from qx_zu where zuName = %1 and Allow = 'T' order by qxID")
                     .arg(schema::sqlLiteral(group))))
        out << r.value(0).toInt();
    return out;
}

QStringList assignedOwners(AdoConnection& cn, const QString& group) {
    QStringList out;
    for (const auto& r : selectRows(cn, QStringLiteral("select distinct userID from qx_user_zu where "
                                                       "zuName = %1 and Allow = 'T' order by userID")
                                            .arg(schema::sqlLiteral(group))))
        out << r.value(0).toString();
    return out;
}

Rows items(AdoConnection& cn) {
    return selectRows(cn, QStringLiteral("select qxID, qxName from qx_Name order by qxID"));
}

Rows itemsByNumberAndName(AdoConnection& cn) {
    return selectRows(cn, QStringLiteral("select qxID, qxName from qx_Name order by qxID, qxName"));
}

Rows grants(AdoConnection& cn, const QString& owner) {
    QString sql =
        QStringLiteral("select g.userID, g.qxID, n.qxName, g.AllowCount from qx_user_qx g, qx_Name n "
                       "where g.qxID = n.qxID and g.AllowCount > 0");
    if (!owner.isNull())
        sql += QStringLiteral(" and g.userID = ") + schema::sqlLiteral(owner);
    return selectRows(cn, sql + QStringLiteral(" order by g.userID, g.qxID"));
}

qint64 rowCount(AdoConnection& cn, const QString& table) {
    return count(cn, QStringLiteral("select count(*) from %1").arg(table));
}

qint64 logRowsAtOrBefore(AdoConnection& cn, const QString& before) {
    return count(cn, QStringLiteral("select count(*) from qx_Logs where theTime <= ") +
                         schema::sqlLiteral(before));
}

Rows lockouts(AdoConnection& cn) {
    return selectRows(
        cn, QStringLiteral("select userID, failures, lastFailure from vardex_lockout order by userID"));
}

void replaceSetting(AdoConnection& cn, const QString& name, const QString& value) {
    cn.execute(QStringLiteral("delete from vardex_settings where name = %1").arg(schema::sqlLiteral(name)));
    cn.execute(QStringLiteral("insert into vardex_settings (name, value) values (%1, %2)")
                   .arg(schema::sqlLiteral(name), schema::sqlLiteral(value)));
}

void writeSetting(AdoConnection& cn, const QString& name, const QString& value, bool exists) {
    cn.execute(exists ? QStringLiteral("update vardex_settings set value = %1 where name = %2")
                            .arg(schema::sqlLiteral(value), schema::sqlLiteral(name))
                      : QStringLiteral("insert into vardex_settings (name, value) values (%1, %2)")
                            .arg(schema::sqlLiteral(name), schema::sqlLiteral(value)));
}

void replaceLockout(AdoConnection& cn, const QString& userId, int failures, const QString& lastFailure) {
    cn.execute(
        QStringLiteral("delete from vardex_lockout where userID = %1").arg(schema::sqlLiteral(userId)));
    cn.execute(
        QStringLiteral("insert into vardex_lockout (userID, failures, lastFailure) values (%1, %2, %3)")
            .arg(schema::sqlLiteral(userId), QString::number(failures), schema::sqlLiteral(lastFailure)));
}

QString utf8Text(const QByteArray& bytes, bool* ok) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    QString text = utf8(bytes);
    if (ok)
        *ok = !utf8.hasError() && text.toUtf8() == bytes;
    return text;
}

namespace {

QString literal(const AdoConnection::RawValue& v) {
    if (v.kind == 'n')
        return QStringLiteral("NULL");
    if (v.kind == 'i')
        return QString::fromLatin1(v.bytes);
    return schema::sqlLiteral(utf8Text(v.bytes));
}

} // namespace

void insertRawRows(AdoConnection& cn, const QString& table, const QStringList& columns,
                   const QVector<AdoConnection::RawRow>& rows, int batch,
                   const std::function<void(qint64)>& inserted) {
    const QString head =
        QStringLiteral("INSERT INTO %1 (%2) VALUES ").arg(table, columns.join(QLatin1Char(',')));
    QString sql;
    int inBatch = 0;
    for (const AdoConnection::RawRow& r : rows) {
        QStringList values;
        for (const AdoConnection::RawValue& v : r)
            values << literal(v);
        sql += (inBatch == 0 ? head : QStringLiteral(",")) + QLatin1Char('(') +
               values.join(QLatin1Char(',')) + QLatin1Char(')');
        if (++inBatch == batch) {
            cn.execute(sql);
            inserted(inBatch);
            sql.clear();
            inBatch = 0;
        }
    }
    if (inBatch > 0) {
        cn.execute(sql);
        inserted(inBatch);
    }
}

void clearTable(AdoConnection& cn, const QString& table) {
    cn.execute(QStringLiteral("DELETE FROM %1").arg(table));
}

Rows storedPasswords(AdoConnection& cn) {
    return selectRows(cn, QStringLiteral("select userID, userPwd from qx_user"));
}

int replaceStoredPassword(AdoConnection& cn, const QString& userId, const QString& was, const QString& now) {
    return cn.execute(QStringLiteral("Update qx_user set userPwd = %1 where userID = %2 and userPwd = %3")
                          .arg(schema::sqlLiteral(now), schema::sqlLiteral(userId), schema::sqlLiteral(was)));
}

} // namespace vardex::storeops
