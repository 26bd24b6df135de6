#include "library/auditlog.h"

#include "library/answers.h"
#include "library/cipher.h"
#include "library/uitext.h"
#include "platform/auditsql.h"
#include "platform/errors.h"
#include "platform/sqldialect.h"

#include <QRegularExpression>

namespace vardex::audit {

namespace {

// One statement being written, with its values: bound parameters where the database takes them
// ($1, $2, ..., each used once and in order, as the ODBC route needs), quoted literals elsewhere.
class Statement {
  public:
    explicit Statement(const AuditSql& sql) : m_sql(sql) {}
    const AuditSql& sql() const { return m_sql; }

    QString value(const QString& v) {
        if (!m_sql.bindsValues())
            return sqlLiteral(v);
        m_parameters << (v.isNull() ? QString(QLatin1String("")) : v);
        return QLatin1Char('$') + QString::number(m_parameters.size());
    }
    SqlValue writer() {
        return [this](const QString& v) { return value(v); };
    }

    // Runs the statement. Its parts may have been written in any order, so the parameters are
    // numbered again in the order the text holds them: through ODBC they become "?" markers,
    // which go by position.
    AdoConnection::Result run(AdoConnection& cn, const QString& sql) const {
        if (!m_sql.bindsValues())
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
    const AuditSql& m_sql;
    QStringList m_parameters;
};

bool isDay(const QString& s) {
    return s.size() == 10 && QDate::fromString(s, QStringLiteral("yyyy-MM-dd")).isValid();
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

bool narrowsByName(const Filter& f) {
    return !f.user.isEmpty() || !f.computer.isEmpty() || !f.text.isEmpty();
}

// Which of the filter's conditions a statement takes.
enum Parts { NameParts = 1, TimeParts = 2, AllParts = 3 };

// The filter's conditions (possibly none), each a term of an AND. With unindexed, the name
// filters are kept from their indexes where the database allows it: a filter that keeps many
// rows is read faster in one pass over the table.
QStringList conditions(Statement& st, const Filter& given, int parts = AllParts, bool unindexed = false) {
    Filter f = given;
    for (QString* s : {&f.user, &f.computer, &f.text, &f.since, &f.until})
        *s = sendable(*s);
    QStringList where;
    const AuditSql& sql = st.sql();
    const SqlValue value = st.writer();
    const auto column = [&](const QString& name) { return unindexed ? sql.unindexed(name) : name; };
    if (parts & NameParts) {
        if (!f.user.isEmpty())
            where << sql.startsWith(column(QStringLiteral("userName")), f.user, value);
        if (!f.computer.isEmpty())
            where << sql.startsWith(column(QStringLiteral("CompName")), f.computer, value);
        if (!f.text.isEmpty())
            where << sql.contains(QStringLiteral("theLog"), f.text, value);
    }
    if (!(parts & TimeParts))
        return where;
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

using Plan = AuditPart::Plan;

// Up to want rows of one part of the table (the dated rows, or those without a time) after
// from, in order.
QVector<Placed> readPart(AdoConnection& cn, const Filter& f, bool undated, const Cursor& from, int want,
                         Order order, Plan plan = Plan::Plain) {
    const AuditSql& sql = auditSql(cn.sql());
    Statement st(sql);
    AuditPart p;
    p.undated = undated;
    p.within = from.started && from.undated == undated;
    if (p.within && !sql.validTie(from.tie))
        throw Error(QStringLiteral("The audit log position is not one read from this kind of store."));
    p.fromTime = from.time;
    p.fromTie = from.tie;
    p.want = want;
    p.desc = order == Order::NewestFirst;
    p.plan = plan;
    // In a window the name filters apply to the window's rows, outside it.
    p.where = conditions(st, f, plan == Plan::Window ? int(TimeParts) : int(AllParts));
    if (plan == Plan::Window)
        p.windowWhere = conditions(st, f, NameParts);
    p.where.prepend(undated ? QStringLiteral("theTime IS NULL") : QStringLiteral("theTime IS NOT NULL"));
    const AdoConnection::Result r = st.run(cn, sql.pageSelect(p, st.writer()));
    QVector<Placed> out;
    out.reserve(r.rows.size());
    QString lastTime = p.within ? from.time : QString();
    int run = sql.rowAddress() || !p.within ? 0 : from.tie.toInt();
    for (const auto& v : r.rows) {
        Placed row{{text(v.value(0)), text(v.value(1)), text(v.value(2)), text(v.value(3))}, undated, {}, {}};
        row.time = row.row.time;
        // Without a row address the tie counts the rows of the same time so far.
        run = row.time == lastTime ? run + 1 : 1;
        lastTime = row.time;
        row.tie = sql.rowAddress() ? text(v.value(4)) : QString::number(run);
        out.append(std::move(row));
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
    const bool windowed = auditSql(cn.sql()).rowAddress();
    for (const bool undated : parts) {
        const int want = limit + 1 - int(got.size());
        QVector<Placed> part;
        if (!undated && windowed && narrowsByName(filter)) {
            part = readPart(cn, filter, undated, at, want, order, Plan::Window);
            if (part.size() < want)
                part = readPart(cn, filter, undated, at, want, order,
                                hasTimeBounds(filter) ? Plan::Plain : Plan::Unordered);
        } else {
            part = readPart(cn, filter, undated, at, want, order);
        }
        got += part;
        if (got.size() > limit)
            break;
        at = Cursor();
    }
    page.more = got.size() > limit;
    if (page.more)
        got.resize(limit);
    page.rows.reserve(got.size());
    page.positions.reserve(got.size());
    for (const Placed& p : got) {
        page.rows.append(p.row);
        page.positions.append({true, p.undated, p.time, p.tie});
    }
    if (!got.isEmpty())
        page.next = {true, got.last().undated, got.last().time, got.last().tie};
    else
        page.next = from;
    return page;
}

QString positionText(const Cursor& at) {
    if (!at.started)
        return QString();
    return QLatin1Char(at.undated ? 'U' : 'D') + at.tie + QLatin1Char(';') + at.time;
}

Cursor positionFromText(const QString& text) {
    Cursor at;
    if (text.isEmpty())
        return at;
    const int semicolon = text.indexOf(QLatin1Char(';'));
    const QChar kind = text.at(0);
    if (semicolon < 2 || (kind != QLatin1Char('D') && kind != QLatin1Char('U')))
        throw Error(QStringLiteral("The audit log position is not one this library handed out."));
    at.started = true;
    at.undated = kind == QLatin1Char('U');
    at.tie = text.mid(1, semicolon - 1);
    at.time = at.undated ? QString() : text.mid(semicolon + 1);
    return at;
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
    Statement st(auditSql(cn.sql()));
    const QString sql =
        QStringLiteral("SELECT count(*) FROM qx_Logs") + sqlWhereClause(conditions(st, filter));
    const AdoConnection::Result r = st.run(cn, sql);
    return r.rows.isEmpty() ? 0 : r.rows.first().value(0).toLongLong();
}

QVector<Day> perDay(AdoConnection& cn, const Filter& filter) {
    QVector<Day> days;
    if (keepsNothing(filter))
        return days;
    cn.ensureOpen();
    const AuditSql& audit = auditSql(cn.sql());
    Statement st(audit);
    const auto countOf = [&](const QString& condition) {
        return QStringLiteral("sum(CASE WHEN ") + condition + QStringLiteral(" THEN 1 ELSE 0 END)");
    };
    const QString failed = QString::fromUtf16(kFailedPrefix);
    const QString right = QString::fromUtf16(kRightUsedPrefix);
    // A name filter that keeps many rows is read in one pass over the table where the database
    // lets the name's index be passed over: through the index each row would be looked up on its
    // own. (The count comes from the index.)
    const bool unindexed = audit.indexAvoidable() && (!filter.user.isEmpty() || !filter.computer.isEmpty()) &&
                           !hasTimeBounds(filter) && count(cn, filter) > kAuditWindowRows;
    QStringList where = conditions(st, filter, AllParts, unindexed);
    where.prepend(QStringLiteral("theTime IS NOT NULL"));
    const QString day = audit.head(QStringLiteral("theTime"), 10);
    const QString sql = QStringLiteral("SELECT ") + day + QStringLiteral(", ") +
                        countOf(QStringLiteral("theLog = ") + st.value(QString::fromUtf16(kLoginText))) +
                        QStringLiteral(", ") +
                        countOf(audit.head(QStringLiteral("theLog"), int(failed.size())) +
                                QStringLiteral(" = ") + st.value(failed)) +
                        QStringLiteral(", ") +
                        countOf(audit.head(QStringLiteral("theLog"), int(right.size())) +
                                QStringLiteral(" = ") + st.value(right)) +
                        QStringLiteral(", count(*) FROM qx_Logs") + sqlWhereClause(where) +
                        QStringLiteral(" GROUP BY ") + day + QStringLiteral(" ORDER BY 1");
    const AdoConnection::Result r = st.run(cn, sql);
    for (const auto& v : r.rows) {
        const QDate d = QDate::fromString(text(v.value(0)), QStringLiteral("yyyy-MM-dd"));
        if (!d.isValid())
            continue; // a time not in the library's form
        days.append({d, v.value(1).toInt(), v.value(2).toInt(), v.value(3).toInt(), v.value(4).toInt()});
    }
    return days;
}

QString failedLoginText(int loginCode, bool locked) {
    QString reason;
    if (locked)
        reason = QStringLiteral("账号锁定");
    else if (loginCode == login::NoSuchUser)
        reason = QStringLiteral("无此用户");
    else if (loginCode == login::Disabled)
        reason = QStringLiteral("账号禁用");
    else if (loginCode == login::Expired)
        reason = QStringLiteral("账号过期");
    else if (loginCode == login::WrongPassword)
        reason = QStringLiteral("密码错误");
    else
        return QString();
    return QString::fromUtf16(kFailedPrefix) + reason + QLatin1Char(')');
}

QString cutToColumn(const QString& text, int width, Dialect dialect) {
    QString out;
    int used = 0;
    for (int i = 0; i < text.size();) {
        // A character is one code point: a surrogate pair stays whole.
        const int n =
            text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate() ? 2 : 1;
        const QString c = text.mid(i, n);
        const int cost = auditSql(dialectSql(dialect)).widthInBytes() ? int(toCipherBytes(c).size()) : 1;
        if (used + cost > width)
            break;
        out += c;
        used += cost;
        i += n;
    }
    return out;
}

QString shownText(const QString& storedText) {
    const QString inner = storedText.mid(5, storedText.size() - 6); // between "xxxx(" and ")"
    switch (eventOf(storedText)) {
    case Event::Login:
        return Ui::tr("用户登录", "an audit event");
    case Event::Logout:
        return Ui::tr("用户退出登录");
    case Event::PasswordChanged:
        return Ui::tr("用户更改密码成功");
    case Event::Locked:
        return Ui::tr("账号锁定");
    case Event::Unlocked:
        return Ui::tr("账号解锁");
    case Event::RightUsed:
        return Ui::tr("使用权限(%1)").arg(inner);
    case Event::Failed: {
        QString reason = inner;
        if (inner == QStringLiteral("无此用户"))
            reason = Ui::tr("无此用户", "why a login failed");
        else if (inner == QStringLiteral("账号禁用"))
            reason = Ui::tr("账号禁用", "why a login failed");
        else if (inner == QStringLiteral("账号过期"))
            reason = Ui::tr("账号过期", "why a login failed");
        else if (inner == QStringLiteral("密码错误"))
            reason = Ui::tr("密码错误", "why a login failed");
        else if (inner == QStringLiteral("账号锁定"))
            reason = Ui::tr("账号锁定", "why a login failed");
        return Ui::tr("登录失败(%1)").arg(reason);
    }
    case Event::Other:
        break;
    }
    return storedText;
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
    if (storedText == QString::fromUtf16(kUnlockedText))
        return Event::Unlocked;
    if (storedText.startsWith(QString::fromUtf16(kRightUsedPrefix)) && storedText.endsWith(QLatin1Char(')')))
        return Event::RightUsed;
    if (storedText.startsWith(QString::fromUtf16(kFailedPrefix)) && storedText.endsWith(QLatin1Char(')')))
        return Event::Failed;
    return Event::Other;
}

} // namespace vardex::audit
