#pragma once
// What differs in the SQL each kind of database speaks: the statements and expressions the
// library needs in one form per kind. A connection hands out the one of the database it
// reaches (AdoConnection::sql()), so code above the platform never asks which kind it is.
#include "platform/connstr.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <functional>

namespace vardex {

// A value as the database holds it: its kind and its bytes (the decimal digits of an integer,
// the text's own bytes, a blob's bytes), never read through a conversion.
struct RawValue {
    char kind = 'n'; // n null, i integer, r real, t text, b blob
    QByteArray bytes;
};
using RawRow = QVector<RawValue>;

class DialectSql {
  public:
    virtual ~DialectSql() = default;
    virtual Dialect dialect() const = 0;

    // The library's T-SQL text as this database takes it (sqldialect.h).
    QString translate(const QString& tsql) const;

    // The server's clock in UTC, minutesBefore minutes ago, as a 'YYYY-MM-DD HH:MM:SS' text
    // expression.
    virtual QString clock(int minutesBefore) const = 0;

    // A SELECT of the columns of table's rows that meet condition, those rows locked against
    // other writers until the transaction ends.
    virtual QString selectForUpdate(const QString& columns, const QString& table,
                                    const QString& condition) const = 0;

    // Counts one failed login of who (a literal) at now (an expression) in vardex_lockout, in
    // one statement under the database's own lock, and returns the new count as one row; a row
    // whose lock is in force (condition(row, true)) is left alone and no row is returned; the
    // count restarts at 1 once the lock has run out (condition(row, false)).
    using LockoutCondition = std::function<QString(const QString& row, bool inForce)>;
    virtual QString lockoutUpsert(const QString& who, const QString& now,
                                  const LockoutCondition& condition) const;

    // Reading values as held: the SELECT, and one row of its answer decoded. integer[i] tells
    // that column i is declared an integer.
    virtual QString rawSelect(const QString& table, const QStringList& columns,
                              const QVector<bool>& integer) const;
    virtual RawRow rawRow(const QVector<QVariant>& values, const QVector<bool>& integer) const;

    // One UPDATE (update) or DELETE of exactly one of the rows of table that meet condition,
    // even when several are alike.
    virtual QString oneRowStatement(bool update, const QString& table, const QString& setList,
                                    const QString& condition) const;

    // The statement that serialises administration for the rest of a transaction; empty when
    // the transaction's own write lock does it.
    virtual QString administrationLock() const { return QString(); }
    // A failed statement aborts the whole transaction (each statement then runs under a
    // savepoint of its own, so that it is undone alone).
    virtual bool failureAbortsTransaction() const { return false; }
    // Tables and procedures can be created inside a transaction and go with its rollback.
    virtual bool transactionalDdl() const { return true; }
    // A stored text that reads as a number equals that number in a comparison (on SQLite the
    // column's integer affinity has already turned every such text into a number).
    virtual bool textComparesAsNumber() const { return true; }
    // SQLite's own check of every page and index; empty where the database has none.
    virtual QString pageCheck() const { return QString(); }

    // The stored procedures the database holds, lower case: the query, and its answer read.
    virtual QString procedureQuery() const = 0;
    virtual QSet<QString> procedureNames(const QVector<QVector<QVariant>>& rows) const;
};

const DialectSql& dialectSql(Dialect d);

} // namespace vardex
