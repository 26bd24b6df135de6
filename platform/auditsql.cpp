#include "platform/auditsql.h"

#include <QRegularExpression>

namespace vardex {

QString sqlWhereClause(const QStringList& terms) {
    return terms.isEmpty() ? QString() : QStringLiteral(" WHERE ") + terms.join(QStringLiteral(" AND "));
}

bool AuditSql::validTie(const QString& tie) const {
    static const QRegularExpression number(QStringLiteral("^-?[0-9]{1,19}$"));
    return number.match(tie).hasMatch();
}

QString AuditSql::head(const QString& column, int n) const {
    return QStringLiteral("substr(") + column + QStringLiteral(", 1, ") + QString::number(n) +
           QLatin1Char(')');
}

namespace {

QString columns() {
    return QStringLiteral("SELECT CompName, userName, theTime, theLog");
}

QString dir(const AuditPart& p) {
    return p.desc ? QStringLiteral(" DESC") : QString();
}

QString before(const AuditPart& p) {
    return p.desc ? QStringLiteral(" < ") : QStringLiteral(" > ");
}

QString atOrBefore(const AuditPart& p) {
    return p.desc ? QStringLiteral(" <= ") : QStringLiteral(" >= ");
}

class SqliteAudit final : public AuditSql {
  public:
    QString pageSelect(AuditPart& p, const SqlValue& value) const override {
        const QString time =
            p.plan == AuditPart::Plan::Unordered ? QStringLiteral("+theTime") : QStringLiteral("theTime");
        if (p.within) {
            // rowid is a number: as text it would sort after every number.
            const QString rowid = QString::number(p.fromTie.toLongLong());
            p.where << (p.undated ? QStringLiteral("rowid") + before(p) + rowid
                                  : QLatin1Char('(') + time + QStringLiteral(", rowid)") + before(p) +
                                        QLatin1Char('(') + value(p.fromTime) + QStringLiteral(", ") + rowid +
                                        QLatin1Char(')'));
        }
        const QString orderBy =
            p.undated ? QStringLiteral(" ORDER BY rowid") + dir(p)
                      : QStringLiteral(" ORDER BY ") + time + dir(p) + QStringLiteral(", rowid") + dir(p);
        QString sql =
            columns() + QStringLiteral(", rowid AS tie FROM qx_Logs") + sqlWhereClause(p.where) + orderBy;
        if (p.plan == AuditPart::Plan::Window)
            sql = QStringLiteral("SELECT * FROM (") + sql + QStringLiteral(" LIMIT ") +
                  QString::number(kAuditWindowRows) + QStringLiteral(") w") + sqlWhereClause(p.windowWhere) +
                  QStringLiteral(" ORDER BY theTime") + dir(p) + QStringLiteral(", tie") + dir(p);
        return sql + QStringLiteral(" LIMIT ") + QString::number(p.want);
    }

    QString startsWith(const QString& column, const QString& prefix, const SqlValue& value) const override {
        // SQLite refuses GLOB patterns of more than 50000 bytes; a prefix that long is compared
        // as it is (no index would narrow it further anyway).
        if (prefix.size() > 1000)
            return QStringLiteral("substr(") + column + QStringLiteral(", 1, length(") + value(prefix) +
                   QStringLiteral(")) = ") + value(prefix);
        // GLOB compares as the column's (binary) index does; its special characters are taken
        // literally inside brackets.
        QString pattern;
        pattern.reserve(prefix.size() + 8);
        for (const QChar c : prefix) {
            if (c == QLatin1Char('*') || c == QLatin1Char('?') || c == QLatin1Char('['))
                pattern += QLatin1Char('[') + c + QLatin1Char(']');
            else
                pattern += c;
        }
        return column + QStringLiteral(" GLOB ") + value(pattern + QLatin1Char('*'));
    }
    QString contains(const QString& column, const QString& text, const SqlValue& value) const override {
        return QStringLiteral("instr(") + column + QLatin1Char(',') + value(text) + QStringLiteral(") > 0");
    }
    // A unary + makes the column an expression, which no index has.
    QString unindexed(const QString& column) const override { return QLatin1Char('+') + column; }
    bool indexAvoidable() const override { return true; }
};

class PostgresAudit final : public AuditSql {
  public:
    QString pageSelect(AuditPart& p, const SqlValue& value) const override {
        if (p.within && p.undated) {
            p.where << QStringLiteral("ctid") + before(p) + QStringLiteral("CAST(") + value(p.fromTie) +
                           QStringLiteral(" AS tid)");
        } else if (p.within) {
            // Split so that the time's index takes the first term.
            const QString t1 = value(p.fromTime);
            const QString t2 = value(p.fromTime);
            p.where << QStringLiteral("theTime") + atOrBefore(p) + t1;
            p.where << QStringLiteral("(theTime") + before(p) + t2 + QStringLiteral(" OR ctid") + before(p) +
                           QStringLiteral("CAST(") + value(p.fromTie) + QStringLiteral(" AS tid))");
        }
        QString sql;
        if (p.plan == AuditPart::Plan::Window) {
            sql = columns() + QStringLiteral(", ctid AS tie FROM qx_Logs") + sqlWhereClause(p.where) +
                  QStringLiteral(" ORDER BY theTime") + dir(p) + QStringLiteral(", ctid") + dir(p) +
                  QStringLiteral(" LIMIT ") + QString::number(kAuditWindowRows);
            sql = QStringLiteral("SELECT CompName, userName, theTime, theLog, CAST(tie AS text) FROM (") +
                  sql + QStringLiteral(") w") + sqlWhereClause(p.windowWhere) +
                  QStringLiteral(" ORDER BY theTime") + dir(p) + QStringLiteral(", tie") + dir(p);
        } else {
            // Appending '' leaves the text as it is and its order too, but no index has it.
            const QString time = p.plan == AuditPart::Plan::Unordered ? QStringLiteral("(theTime || '')")
                                                                      : QStringLiteral("theTime");
            sql = columns() + QStringLiteral(", CAST(ctid AS text) FROM qx_Logs") + sqlWhereClause(p.where) +
                  QStringLiteral(" ORDER BY ") +
                  (p.undated ? QString() : time + dir(p) + QStringLiteral(", ")) + QStringLiteral("ctid") +
                  dir(p);
        }
        return sql + QStringLiteral(" LIMIT ") + QString::number(p.want);
    }
    bool validTie(const QString& tie) const override {
        static const QRegularExpression tid(QStringLiteral("^\\([0-9]{1,10},[0-9]{1,5}\\)$"));
        return tid.match(tie).hasMatch();
    }

    QString startsWith(const QString& column, const QString& prefix, const SqlValue& value) const override {
        // The backslash is LIKE's escape character unless another is named.
        QString pattern;
        pattern.reserve(prefix.size() + 8);
        for (const QChar c : prefix) {
            if (c == QLatin1Char('\\') || c == QLatin1Char('%') || c == QLatin1Char('_'))
                pattern += QLatin1Char('\\');
            pattern += c;
        }
        return column + QStringLiteral(" LIKE ") + value(pattern + QLatin1Char('%'));
    }
    QString contains(const QString& column, const QString& text, const SqlValue& value) const override {
        return QStringLiteral("strpos(") + column + QLatin1Char(',') + value(text) + QStringLiteral(") > 0");
    }
    bool bindsValues() const override { return true; }
};

class SqlServerAudit final : public AuditSql {
  public:
    // No key and no row address to go on from: the rows of one time come in an order of their
    // values (identical rows cannot be told apart, so any of them may come first), and the tie
    // is how many rows of the last time were read already, skipped here.
    QString pageSelect(AuditPart& p, const SqlValue& value) const override {
        const int skip = p.within ? p.fromTie.toInt() : 0;
        if (p.within && !p.undated)
            p.where << QStringLiteral("theTime") + atOrBefore(p) + value(p.fromTime);
        return columns() + QStringLiteral(" FROM qx_Logs") + sqlWhereClause(p.where) +
               QStringLiteral(" ORDER BY ") +
               (p.undated ? QString() : QStringLiteral("theTime") + dir(p) + QStringLiteral(", ")) +
               QStringLiteral("CompName, userName, theLog OFFSET ") + QString::number(skip) +
               QStringLiteral(" ROWS FETCH NEXT ") + QString::number(p.want) + QStringLiteral(" ROWS ONLY");
    }
    bool rowAddress() const override { return false; }
    // A count of rows to skip: never negative, and within an int.
    bool validTie(const QString& tie) const override {
        static const QRegularExpression count(QStringLiteral("^[0-9]{1,9}$"));
        return count.match(tie).hasMatch();
    }

    QString startsWith(const QString& column, const QString& prefix, const SqlValue& value) const override {
        QString pattern;
        pattern.reserve(prefix.size() + 8);
        for (const QChar c : prefix) {
            if (c == QLatin1Char('\\') || c == QLatin1Char('%') || c == QLatin1Char('_') ||
                c == QLatin1Char('['))
                pattern += QLatin1Char('\\');
            pattern += c;
        }
        return column + QStringLiteral(" LIKE ") + value(pattern + QLatin1Char('%')) +
               QStringLiteral(" ESCAPE '\\'");
    }
    QString contains(const QString& column, const QString& text, const SqlValue& value) const override {
        return QStringLiteral("CHARINDEX(") + value(text) + QLatin1Char(',') + column +
               QStringLiteral(") > 0");
    }
    QString head(const QString& column, int n) const override {
        return QStringLiteral("LEFT(") + column + QStringLiteral(", ") + QString::number(n) +
               QLatin1Char(')');
    }
    // The columns are varchar.
    bool widthInBytes() const override { return true; }
};

} // namespace

const AuditSql& auditSql(const DialectSql& sql) {
    static const SqlServerAudit sqlServer;
    static const SqliteAudit sqlite;
    static const PostgresAudit postgres;
    // In the order of Dialect's values.
    static_assert(int(Dialect::SqlServer) == 0 && int(Dialect::SQLite) == 1 && int(Dialect::PostgreSQL) == 2);
    static const AuditSql* const byKind[] = {&sqlServer, &sqlite, &postgres};
    return *byKind[int(sql.dialect())];
}

} // namespace vardex
