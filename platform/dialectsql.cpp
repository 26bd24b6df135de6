#include "platform/dialectsql.h"
#include "platform/sqldialect.h"

namespace vardex {

QString DialectSql::translate(const QString& tsql) const {
    return translateStatement(tsql, dialect());
}

QString DialectSql::lockoutUpsert(const QString& who, const QString& now,
                                  const LockoutCondition& condition) const {
    return QStringLiteral("insert into vardex_lockout (userID, failures, lastFailure) values (%1, 1, %2) "
                          "on conflict (userID) do update set failures = case when %3 then 1 "
                          "else vardex_lockout.failures + 1 end, lastFailure = excluded.lastFailure "
                          "where not (%4) returning failures")
        .arg(who, now, condition(QStringLiteral("vardex_lockout"), false),
             condition(QStringLiteral("vardex_lockout"), true));
}

QString DialectSql::rawSelect(const QString& table, const QStringList& columns, const QVector<bool>&) const {
    return QStringLiteral("select %1 from %2").arg(columns.join(QLatin1Char(',')), table);
}

RawRow DialectSql::rawRow(const QVector<QVariant>& values, const QVector<bool>& integer) const {
    RawRow row;
    for (qsizetype c = 0; c < integer.size(); ++c) {
        const QVariant& v = values.value(c);
        if (v.isNull() || !v.isValid())
            row.append(RawValue{'n', {}});
        else
            row.append(RawValue{integer[c] ? 'i' : 't', v.toString().toUtf8()});
    }
    return row;
}

QString DialectSql::oneRowStatement(bool update, const QString& table, const QString& setList,
                                    const QString& condition) const {
    return update ? QStringLiteral("UPDATE TOP (1) %1 SET %2 WHERE %3").arg(table, setList, condition)
                  : QStringLiteral("DELETE TOP (1) FROM %1 WHERE %2").arg(table, condition);
}

QSet<QString> DialectSql::procedureNames(const QVector<QVector<QVariant>>& rows) const {
    QSet<QString> names;
    for (const QVector<QVariant>& r : rows)
        names.insert(r.value(0).toString().trimmed().toLower());
    return names;
}

namespace {

// Of several identical rows exactly one is taken, by its physical row address.
QString oneRowByAddress(const char* address, bool update, const QString& table, const QString& setList,
                        const QString& condition) {
    const QString pick = QStringLiteral("%1 = (SELECT %1 FROM %2 WHERE %3 LIMIT 1)")
                             .arg(QLatin1String(address), table, condition);
    return update ? QStringLiteral("UPDATE %1 SET %2 WHERE %3").arg(table, setList, pick)
                  : QStringLiteral("DELETE FROM %1 WHERE %2").arg(table, pick);
}

class SqliteSql final : public DialectSql {
  public:
    Dialect dialect() const override { return Dialect::SQLite; }
    QString clock(int minutesBefore) const override {
        return minutesBefore == 0
                   ? QStringLiteral("strftime('%Y-%m-%d %H:%M:%S','now')")
                   : QStringLiteral("strftime('%Y-%m-%d %H:%M:%S','now','-%1 minutes')").arg(minutesBefore);
    }
    // A writing transaction holds the whole file from its start.
    QString selectForUpdate(const QString& columns, const QString& table,
                            const QString& condition) const override {
        return QStringLiteral("select %1 from %2 where %3").arg(columns, table, condition);
    }
    // SQLite keeps any kind in any column and any bytes in a text: read through typeof() and hex().
    QString rawSelect(const QString& table, const QStringList& columns, const QVector<bool>&) const override {
        QStringList cols;
        for (const QString& c : columns)
            cols << QStringLiteral("typeof(%1), hex(%1)").arg(c);
        return QStringLiteral("select %1 from %2 order by rowid").arg(cols.join(QLatin1Char(',')), table);
    }
    RawRow rawRow(const QVector<QVariant>& values, const QVector<bool>& integer) const override {
        RawRow row;
        for (qsizetype c = 0; c < integer.size(); ++c) {
            const QString type = values.value(2 * c).toString();
            row.append(RawValue{type == QLatin1String("null")      ? 'n'
                                : type == QLatin1String("integer") ? 'i'
                                : type == QLatin1String("real")    ? 'r'
                                : type == QLatin1String("text")    ? 't'
                                                                   : 'b',
                                QByteArray::fromHex(values.value(2 * c + 1).toString().toLatin1())});
        }
        return row;
    }
    QString oneRowStatement(bool update, const QString& table, const QString& setList,
                            const QString& condition) const override {
        return oneRowByAddress("rowid", update, table, setList, condition);
    }
    bool textComparesAsNumber() const override { return false; }
    QString pageCheck() const override { return QStringLiteral("PRAGMA integrity_check"); }
    // A procedure is a view with an INSTEAD OF trigger named after it with "_run" appended;
    // both must be there.
    QString procedureQuery() const override {
        return QStringLiteral("select name, type from sqlite_master where type in ('view', 'trigger')");
    }
    QSet<QString> procedureNames(const QVector<QVector<QVariant>>& rows) const override {
        QSet<QString> views, triggers, names;
        for (const QVector<QVariant>& r : rows)
            (r.value(1).toString() == QLatin1String("view") ? views : triggers)
                .insert(r.value(0).toString().toLower());
        for (const QString& v : views)
            if (triggers.contains(v + QLatin1String("_run")))
                names.insert(v);
        return names;
    }
};

class PostgresSql final : public DialectSql {
  public:
    Dialect dialect() const override { return Dialect::PostgreSQL; }
    QString clock(int minutesBefore) const override {
        return minutesBefore == 0
                   ? QStringLiteral("to_char(now() at time zone 'UTC','YYYY-MM-DD HH24:MI:SS')")
                   : QStringLiteral("to_char((now() at time zone 'UTC') - interval '%1 minutes','YYYY-MM-DD "
                                    "HH24:MI:SS')")
                         .arg(minutesBefore);
    }
    QString selectForUpdate(const QString& columns, const QString& table,
                            const QString& condition) const override {
        return QStringLiteral("select %1 from %2 where %3 for update").arg(columns, table, condition);
    }
    // Texts are handed over as the bytes they are (the driver's conversion would drop a leading
    // byte-order mark).
    QString rawSelect(const QString& table, const QStringList& columns,
                      const QVector<bool>& integer) const override {
        QStringList cols;
        for (qsizetype c = 0; c < columns.size(); ++c)
            cols << (integer.value(c)
                         ? columns[c]
                         : QStringLiteral("encode(convert_to(%1, 'UTF8'), 'hex')").arg(columns[c]));
        return DialectSql::rawSelect(table, cols, integer);
    }
    RawRow rawRow(const QVector<QVariant>& values, const QVector<bool>& integer) const override {
        RawRow row = DialectSql::rawRow(values, integer);
        for (qsizetype c = 0; c < row.size(); ++c)
            if (row[c].kind == 't')
                row[c].bytes = QByteArray::fromHex(row[c].bytes);
        return row;
    }
    QString oneRowStatement(bool update, const QString& table, const QString& setList,
                            const QString& condition) const override {
        return oneRowByAddress("ctid", update, table, setList, condition);
    }
    // One fixed key for every store on the server: administration of one store rarely waits
    // for another's, and the lock is held for one transaction only.
    QString administrationLock() const override {
        return QStringLiteral("SELECT pg_advisory_xact_lock(7236917)");
    }
    bool failureAbortsTransaction() const override { return true; }
    QString procedureQuery() const override {
        return QStringLiteral("select p.proname from pg_proc p join pg_namespace n on n.oid = p.pronamespace "
                              "where n.nspname = current_schema() and p.prokind = 'p'");
    }
};

class SqlServerSql final : public DialectSql {
  public:
    Dialect dialect() const override { return Dialect::SqlServer; }
    QString clock(int minutesBefore) const override {
        return minutesBefore == 0
                   ? QStringLiteral("convert(varchar(19), getutcdate(), 120)")
                   : QStringLiteral("convert(varchar(19), dateadd(minute, -%1, getutcdate()), 120)")
                         .arg(minutesBefore);
    }
    QString selectForUpdate(const QString& columns, const QString& table,
                            const QString& condition) const override {
        return QStringLiteral("select %1 from %2 with (updlock, rowlock) where %3")
            .arg(columns, table, condition);
    }
    QString lockoutUpsert(const QString& who, const QString& now,
                          const LockoutCondition& condition) const override {
        return QStringLiteral(
                   "merge vardex_lockout with (holdlock) as t using (select %1 as userID) as s "
                   "on t.userID = s.userID "
                   "when matched and not (%4) then update set failures = case when %2 then 1 else "
                   "t.failures + 1 end, lastFailure = %3 "
                   "when not matched then insert (userID, failures, lastFailure) values (s.userID, 1, "
                   "%3) output inserted.failures;")
            .arg(who, condition(QStringLiteral("t"), false), now, condition(QStringLiteral("t"), true));
    }
    QString administrationLock() const override {
        return QStringLiteral(
            "EXEC sp_getapplock @Resource = 'vardex administration', @LockMode = 'Exclusive', "
            "@LockOwner = 'Transaction'");
    }
    // Batches apply one by one: the doctor's schema check tells what a broken run left out.
    bool transactionalDdl() const override { return false; }
    QString procedureQuery() const override {
        return QStringLiteral("select name from sysobjects where xtype = 'P'");
    }
};

} // namespace

const DialectSql& dialectSql(Dialect d) {
    static const SqliteSql sqlite;
    static const PostgresSql postgres;
    static const SqlServerSql sqlServer;
    switch (d) {
    case Dialect::SQLite:
        return sqlite;
    case Dialect::PostgreSQL:
        return postgres;
    case Dialect::SqlServer:
        break;
    }
    return sqlServer;
}

} // namespace vardex
