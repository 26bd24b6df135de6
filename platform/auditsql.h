#pragma once
// The SQL of the audit log's reading (table qx_Logs) where it differs by kind of database: the
// page SELECTs and what a page goes on from, the literal name filters, and how values reach the
// statement. auditSql(cn.sql()) gives the one of a connection's database.
#include "platform/dialectsql.h"

#include <QString>
#include <QStringList>
#include <functional>

namespace vardex {

// Writes one value into the statement being written and returns the text that stands for it
// there (a quoted literal, or a bound parameter's marker).
using SqlValue = std::function<QString(const QString&)>;

// " WHERE " and terms joined by AND; empty for no terms.
QString sqlWhereClause(const QStringList& terms);

// How many of the newest rows a windowed reading takes before it filters them by name.
inline constexpr int kAuditWindowRows = 20000;

// One reading of a part of the log (the dated rows, or those without a time).
struct AuditPart {
    // How the dated rows are read when a name or text filter narrows them. The time's index
    // gives the rows in order, each to be tested: fast while the filter keeps many of the newest
    // rows, a walk through the whole log when it keeps few. So a window of the newest rows is
    // tried first (Window); only when it holds too few matches are the filter's rows found
    // otherwise: by a name's index, or in one pass over the table, then put in order (Unordered:
    // the order is written so that the time's index cannot serve it).
    enum class Plan { Plain, Window, Unordered };

    bool undated = false;
    bool within = false; // goes on inside this part, after fromTime and fromTie
    QString fromTime;
    QString fromTie;
    int want = 1;
    bool desc = false;
    Plan plan = Plan::Plain;
    QStringList where;       // the part's and the filter's conditions
    QStringList windowWhere; // Window: the name filters, applied to the window's rows
};

class AuditSql {
  public:
    virtual ~AuditSql() = default;

    // The SELECT of up to p.want rows of the part, in order: CompName, userName, theTime, theLog,
    // then (where rows have an address) the row's tie as text. Adds its own terms to p.where.
    virtual QString pageSelect(AuditPart& p, const SqlValue& value) const = 0;
    // tie is one that pageSelect's rows hand out on this kind of database.
    virtual bool validTie(const QString& tie) const;
    // Rows have an address a page goes on from (SQLite's rowid, PostgreSQL's ctid). Without one
    // the tie is how many rows of the last time were read already (skipped by OFFSET), and no
    // window is read (pageSelect writes Plain for every plan).
    virtual bool rowAddress() const { return true; }

    // column starts with prefix, as a condition the column's index can answer.
    virtual QString startsWith(const QString& column, const QString& prefix, const SqlValue& value) const = 0;
    // column holds text anywhere, taken literally.
    virtual QString contains(const QString& column, const QString& text, const SqlValue& value) const = 0;
    // The first n characters of column.
    virtual QString head(const QString& column, int n) const;
    // column written so that no index answers a condition on it (the same column otherwise).
    virtual QString unindexed(const QString& column) const { return column; }
    // unindexed() keeps the planner off an index (else a caller need not weigh it).
    virtual bool indexAvoidable() const { return false; }

    // Values go as bound parameters $1, $2, ... (each used once) rather than quoted literals.
    virtual bool bindsValues() const { return false; }
    // A text column's width counts the bytes of the database's 8-bit code page, not characters.
    virtual bool widthInBytes() const { return false; }
};

const AuditSql& auditSql(const DialectSql& sql);

} // namespace vardex
