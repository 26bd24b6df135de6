#include "library/auditlog.h"

#include "platform/sqldialect.h"

#include <QRegularExpression>

namespace vardex::audit {

namespace {

// One statement being written, with its values: bound parameters on PostgreSQL ($1, $2, ...,
// each used once and in order, as the ODBC route needs), quoted literals elsewhere.
class Statement {
  public:
    explicit Statement(Dialect d) : m_dialect(d) {}
    Dialect dialect() const { return m_dialect; }

    QString value(const QString& v) {
        if (m_dialect != Dialect::PostgreSQL)
            return sqlLiteral(v);
        m_parameters << (v.isNull() ? QString(QLatin1String("")) : v);
        return QLatin1Char('$') + QString::number(m_parameters.size());
    }

    // Runs the statement. Its parts may have been written in any order, so the parameters are
    // numbered again in the order the text holds them: through ODBC they become "?" markers,
    // which go by position.
    AdoConnection::Result run(AdoConnection& cn, const QString& sql) const {
        if (m_dialect != Dialect::PostgreSQL)
            return cn.run(sql, true);
        static const QRegularExpression marker(QStringLiteral("\\$([0-9]+)"));
        QString text;
        QStringList inOrder;
        int from = 0;
        for (auto it = marker.globalMatch(sql); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            text += sql.mid(from, m.capturedStart() - from);
            inOrder << m_parameters.at(m.captured(1).toInt() - 1);
            text += QLatin1Char('$') + QString::number(inOrder.size());
            from = int(m.capturedEnd());
        }
        text += sql.mid(from);
        return cn.runWithParameters(text, inOrder, false);
    }

  private:
    Dialect m_dialect;
    QStringList m_parameters;
};

bool isDay(const QString& s) {
    return s.size() == 10 && QDate::fromString(s, QStringLiteral("yyyy-MM-dd")).isValid();
}

// A "starts with" condition that the database can answer from an index on the column.
QString startsWith(Statement& st, const QString& column, const QString& prefix) {
    QString pattern;
    pattern.reserve(prefix.size() + 8);
    switch (st.dialect()) {
    case Dialect::SQLite:
        // SQLite refuses GLOB patterns of more than 50000 bytes; a prefix that long is compared
        // as it is (no index would narrow it further anyway).
        if (prefix.size() > 1000)
            return QStringLiteral("substr(") + column + QStringLiteral(", 1, length(") + st.value(prefix) +
                   QStringLiteral(")) = ") + st.value(prefix);
        // GLOB compares as the column's (binary) index does; its special characters are
        // taken literally inside brackets.
        for (const QChar c : prefix) {
            if (c == QLatin1Char('*') || c == QLatin1Char('?') || c == QLatin1Char('['))
                pattern += QLatin1Char('[') + c + QLatin1Char(']');
            else
                pattern += c;
        }
        return column + QStringLiteral(" GLOB ") + st.value(pattern + QLatin1Char('*'));
    case Dialect::PostgreSQL:
        // The backslash is LIKE's escape character unless another is named.
        for (const QChar c : prefix) {
            if (c == QLatin1Char('\\') || c == QLatin1Char('%') || c == QLatin1Char('_'))
                pattern += QLatin1Char('\\');
            pattern += c;
        }
        return column + QStringLiteral(" LIKE ") + st.value(pattern + QLatin1Char('%'));
    case Dialect::SqlServer:
        for (const QChar c : prefix) {
            if (c == QLatin1Char('\\') || c == QLatin1Char('%') || c == QLatin1Char('_') ||
                c == QLatin1Char('['))
                pattern += QLatin1Char('\\');
            pattern += c;
        }
        return column + QStringLiteral(" LIKE ") + st.value(pattern + QLatin1Char('%')) +
               QStringLiteral(" ESCAPE '\\'");
    }
    return QString();
}

QString contains(Statement& st, const QString& column, const QString& text) {
    switch (st.dialect()) {
    case Dialect::SQLite:
        return QStringLiteral("instr(") + column + QLatin1Char(',') + st.value(text) +
               QStringLiteral(") > 0");
    case Dialect::PostgreSQL:
        return QStringLiteral("strpos(") + column + QLatin1Char(',') + st.value(text) +
               QStringLiteral(") > 0");
    case Dialect::SqlServer:
        return QStringLiteral("CHARINDEX(") + st.value(text) + QLatin1Char(',') + column +
               QStringLiteral(") > 0");
    }
    return QString();
}

bool hasTimeBounds(const Filter& f) {
    return !f.since.isEmpty() || !f.until.isEmpty();
}

// No stored text holds a NUL character on PostgreSQL, and none is written elsewhere; a filter
// holding one keeps no row (and would be cut short on its way to the database).
bool keepsNothing(const Filter& f) {
    const QChar nul(0);
    return f.user.contains(nul) || f.computer.contains(nul) || f.text.contains(nul) ||
           f.since.contains(nul) || f.until.contains(nul);
}

// A text as it reaches the database: UTF-8, where a lone surrogate has no form of its own.
// Made so before any character is escaped, so that what the database gets is still literal.
QString sendable(const QString& s) {
    return QString::fromUtf8(s.toUtf8());
}

// The filter's conditions (possibly none), each a term of an AND.
QStringList conditions(Statement& st, const Filter& given) {
    Filter f = given;
    for (QString* s : {&f.user, &f.computer, &f.text, &f.since, &f.until})
        *s = sendable(*s);
    QStringList where;
    if (!f.user.isEmpty())
        where << startsWith(st, QStringLiteral("userName"), f.user);
    if (!f.computer.isEmpty())
        where << startsWith(st, QStringLiteral("CompName"), f.computer);
    if (!f.text.isEmpty())
        where << contains(st, QStringLiteral("theLog"), f.text);
    // Times are stored as text of one fixed form, so they compare as text. A bare day sorts
    // before every time of that day, so "until" a day means before the next one.
    if (!f.since.isEmpty())
        where << QStringLiteral("theTime >= ") + st.value(f.since);
    if (isDay(f.until))
        where << QStringLiteral("theTime < ") +
                     st.value(QDate::fromString(f.until, QStringLiteral("yyyy-MM-dd"))
                                  .addDays(1)
                                  .toString(QStringLiteral("yyyy-MM-dd")));
    else if (!f.until.isEmpty())
        where << QStringLiteral("theTime <= ") + st.value(f.until);
    return where;
}

QString whereClause(const QStringList& terms) {
    return terms.isEmpty() ? QString() : QStringLiteral(" WHERE ") + terms.join(QStringLiteral(" AND "));
}

QString text(const QVariant& v) {
    return v.isValid() && !v.isNull() ? v.toString() : QString();
}

// A row as read, with where it stands in the order.
struct Placed {
    Row row;
    bool undated;
    QString time;
    QString tie;
};

// Up to want rows of one part of the table (the dated rows, or those without a time) after
// from, in order.
QVector<Placed> readPart(AdoConnection& cn, const Filter& f, bool undated, const Cursor& from, int want,
                         Order order) {
    Statement st(cn.dialect());
    const bool desc = order == Order::NewestFirst;
    const QString dir = desc ? QStringLiteral(" DESC") : QString();
    const QString before = desc ? QStringLiteral(" < ") : QStringLiteral(" > ");
    const QString atOrBefore = desc ? QStringLiteral(" <= ") : QStringLiteral(" >= ");
    const bool within = from.started && from.undated == undated; // goes on inside this part
    QStringList where = conditions(st, f);
    where.prepend(undated ? QStringLiteral("theTime IS NULL") : QStringLiteral("theTime IS NOT NULL"));
    QString sql = QStringLiteral("SELECT CompName, userName, theTime, theLog");
    int skip = 0;
    switch (cn.dialect()) {
    case Dialect::SQLite:
        if (within) {
            // rowid is a number: as text it would sort after every number.
            const QString rowid = QString::number(from.tie.toLongLong());
            where << (undated ? QStringLiteral("rowid") + before + rowid
                              : QStringLiteral("(theTime, rowid)") + before + QLatin1Char('(') +
                                    st.value(from.time) + QStringLiteral(", ") + rowid + QLatin1Char(')'));
        }
        sql += QStringLiteral(", rowid FROM qx_Logs") + whereClause(where) +
               (undated ? QString()
                        : QStringLiteral(" ORDER BY theTime") + dir + QStringLiteral(", rowid") + dir) +
               (undated ? QStringLiteral(" ORDER BY rowid") + dir : QString()) + QStringLiteral(" LIMIT ") +
               QString::number(want);
        break;
    case Dialect::PostgreSQL:
        if (within) {
            if (undated) {
                where << QStringLiteral("ctid") + before + QStringLiteral("CAST(") + st.value(from.tie) +
                             QStringLiteral(" AS tid)");
            } else {
                // Split so that the time's index takes the first term.
                const QString t1 = st.value(from.time);
                const QString t2 = st.value(from.time);
                where << QStringLiteral("theTime") + atOrBefore + t1;
                where << QStringLiteral("(theTime") + before + t2 + QStringLiteral(" OR ctid") + before +
                             QStringLiteral("CAST(") + st.value(from.tie) + QStringLiteral(" AS tid))");
            }
        }
        sql += QStringLiteral(", CAST(ctid AS text) FROM qx_Logs") + whereClause(where) +
               QStringLiteral(" ORDER BY ") +
               (undated ? QString() : QStringLiteral("theTime") + dir + QStringLiteral(", ")) +
               QStringLiteral("ctid") + dir + QStringLiteral(" LIMIT ") + QString::number(want);
        break;
    case Dialect::SqlServer:
        // No key and no row address to go on from: the rows of one time come in an order of
        // their values (identical rows cannot be told apart, so any of them may come first),
        // and the tie is how many rows of the last time were read already.
        if (within) {
            if (!undated)
                where << QStringLiteral("theTime") + atOrBefore + st.value(from.time);
            skip = from.tie.toInt();
        }
        sql += QStringLiteral(" FROM qx_Logs") + whereClause(where) + QStringLiteral(" ORDER BY ") +
               (undated ? QString() : QStringLiteral("theTime") + dir + QStringLiteral(", ")) +
               QStringLiteral("CompName, userName, theLog OFFSET ") + QString::number(skip) +
               QStringLiteral(" ROWS FETCH NEXT ") + QString::number(want) + QStringLiteral(" ROWS ONLY");
        break;
    }
    const AdoConnection::Result r = st.run(cn, sql);
    QVector<Placed> out;
    out.reserve(r.rows.size());
    QString lastTime = within ? from.time : QString();
    int run = skip;
    for (const auto& v : r.rows) {
        Placed p{{text(v.value(0)), text(v.value(1)), text(v.value(2)), text(v.value(3))}, undated, {}, {}};
        p.time = p.row.time;
        if (cn.dialect() == Dialect::SqlServer) {
            run = (p.time == lastTime) ? run + 1 : 1;
            lastTime = p.time;
            p.tie = QString::number(run);
        } else {
            p.tie = text(v.value(4));
        }
        out.append(std::move(p));
    }
    return out;
}

} // namespace

Page read(AdoConnection& cn, const Filter& filter, const Cursor& from, int limit, Order order) {
    Page page;
    limit = qMax(1, limit);
    if (keepsNothing(filter))
        return page;
    cn.ensureOpen(); // the kind of database is known once the connection is open (ODBC)
    // The parts in reading order: rows without a time are the oldest.
    QVector<bool> parts;
    if (!hasTimeBounds(filter))
        parts << true;
    if (order == Order::NewestFirst)
        parts.prepend(false);
    else
        parts.append(false);
    if (from.started)
        while (!parts.isEmpty() && parts.first() != from.undated)
            parts.removeFirst();
    // One row more than asked tells whether another page follows.
    QVector<Placed> got;
    Cursor at = from;
    for (const bool undated : parts) {
        got += readPart(cn, filter, undated, at, limit + 1 - int(got.size()), order);
        if (got.size() > limit)
            break;
        at = Cursor();
    }
    page.more = got.size() > limit;
    if (page.more)
        got.resize(limit);
    page.rows.reserve(got.size());
    for (const Placed& p : got)
        page.rows.append(p.row);
    if (!got.isEmpty())
        page.next = {true, got.last().undated, got.last().time, got.last().tie};
    else
        page.next = from;
    return page;
}

qint64 forEach(AdoConnection& cn, const Filter& filter, Order order,
               const std::function<bool(const Row&)>& each) {
    qint64 given = 0;
    Cursor at;
    for (;;) {
        const Page page = read(cn, filter, at, 1000, order);
        for (const Row& r : page.rows) {
            ++given;
            if (!each(r))
                return given;
        }
        if (!page.more)
            return given;
        at = page.next;
    }
}

qint64 count(AdoConnection& cn, const Filter& filter) {
    if (keepsNothing(filter))
        return 0;
    cn.ensureOpen();
    Statement st(cn.dialect());
    const QString sql = QStringLiteral("SELECT count(*) FROM qx_Logs") + whereClause(conditions(st, filter));
    const AdoConnection::Result r = st.run(cn, sql);
    return r.rows.isEmpty() ? 0 : r.rows.first().value(0).toLongLong();
}

QVector<Day> perDay(AdoConnection& cn, const Filter& filter) {
    QVector<Day> days;
    if (keepsNothing(filter))
        return days;
    cn.ensureOpen();
    Statement st(cn.dialect());
    const bool server = cn.dialect() == Dialect::SqlServer;
    const auto head = [&](const QString& column, int n) {
        return (server ? QStringLiteral("LEFT(") : QStringLiteral("substr(")) + column +
               (server ? QStringLiteral(", ") : QStringLiteral(", 1, ")) + QString::number(n) +
               QLatin1Char(')');
    };
    const auto countOf = [&](const QString& condition) {
        return QStringLiteral("sum(CASE WHEN ") + condition + QStringLiteral(" THEN 1 ELSE 0 END)");
    };
    const QString failed = QString::fromUtf16(kFailedPrefix);
    const QString right = QString::fromUtf16(kRightUsedPrefix);
    QStringList where = conditions(st, filter);
    where.prepend(QStringLiteral("theTime IS NOT NULL"));
    const QString day = head(QStringLiteral("theTime"), 10);
    const QString sql =
        QStringLiteral("SELECT ") + day + QStringLiteral(", ") +
        countOf(QStringLiteral("theLog = ") + st.value(QString::fromUtf16(kLoginText))) +
        QStringLiteral(", ") +
        countOf(head(QStringLiteral("theLog"), int(failed.size())) + QStringLiteral(" = ") +
                st.value(failed)) +
        QStringLiteral(", ") +
        countOf(head(QStringLiteral("theLog"), int(right.size())) + QStringLiteral(" = ") + st.value(right)) +
        QStringLiteral(" FROM qx_Logs") + whereClause(where) + QStringLiteral(" GROUP BY ") + day +
        QStringLiteral(" ORDER BY 1");
    const AdoConnection::Result r = st.run(cn, sql);
    for (const auto& v : r.rows) {
        const QDate d = QDate::fromString(text(v.value(0)), QStringLiteral("yyyy-MM-dd"));
        if (!d.isValid())
            continue; // a time not in the library's form
        days.append({d, v.value(1).toInt(), v.value(2).toInt(), v.value(3).toInt()});
    }
    return days;
}

Event eventOf(const QString& storedText) {
    if (storedText == QString::fromUtf16(kLoginText))
        return Event::Login;
    if (storedText == QString::fromUtf16(kLogoutText))
        return Event::Logout;
    if (storedText == QString::fromUtf16(kPasswordChangedText))
        return Event::PasswordChanged;
    if (storedText == QString::fromUtf16(kLockedText))
        return Event::Locked;
    if (storedText.startsWith(QString::fromUtf16(kRightUsedPrefix)) && storedText.endsWith(QLatin1Char(')')))
        return Event::RightUsed;
    if (storedText.startsWith(QString::fromUtf16(kFailedPrefix)) && storedText.endsWith(QLatin1Char(')')))
        return Event::Failed;
    return Event::Other;
}

} // namespace vardex::audit
