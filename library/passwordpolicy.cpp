#include "library/passwordpolicy.h"
#include "library/cipher.h"
#include "platform/passwordhash.h"
#include "platform/sqldialect.h"

namespace vardex {

bool tooLongToHash(const PasswordPolicy& p, const QString& password) {
    return p.bcrypt && password.toUtf8().size() > kBcryptLongestBytes;
}

bool meetsPolicy(const PasswordPolicy& p, const QString& password) {
    return (p.minLength == 0 || password.toUcs4().size() >= p.minLength) && !tooLongToHash(p, password);
}

QString storedPassword(const PasswordPolicy& p, const QString& password, const QString& cipherKey) {
    if (password.isEmpty())
        return QString();
    return p.bcrypt ? hashPassword(password, p.cost) : EncryptPassword(password, cipherKey);
}

} // namespace vardex

namespace vardex::policy {

namespace {

QString defaultOf(const QString& name) {
    for (const Setting& s : kSettings)
        if (name == QLatin1String(s.name))
            return QLatin1String(s.defaultValue);
    return QString();
}

// A whole number written in plain decimal digits, within [low, high].
bool inRange(const QString& value, int low, int high, int* out = nullptr) {
    if (value.isEmpty() || value.size() > 9)
        return false;
    for (const QChar c : value)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    const int n = value.toInt();
    if (out)
        *out = n;
    return n >= low && n <= high;
}

// The database's clock in UTC as 'yyyy-MM-dd hh:mm:ss', minutes before now (0: now).
QString clockText(Dialect d, int minutesBefore) {
    const QString m = QString::number(minutesBefore);
    switch (d) {
    case Dialect::PostgreSQL:
        return minutesBefore == 0
                   ? QStringLiteral("to_char(now() at time zone 'UTC','YYYY-MM-DD HH24:MI:SS')")
                   : QStringLiteral("to_char((now() at time zone 'UTC') - interval '%1 minutes','YYYY-MM-DD "
                                    "HH24:MI:SS')")
                         .arg(m);
    case Dialect::SqlServer:
        return minutesBefore == 0
                   ? QStringLiteral("convert(varchar(19), getutcdate(), 120)")
                   : QStringLiteral("convert(varchar(19), dateadd(minute, -%1, getutcdate()), 120)").arg(m);
    case Dialect::SQLite:
        break;
    }
    return minutesBefore == 0 ? QStringLiteral("strftime('%Y-%m-%d %H:%M:%S','now')")
                              : QStringLiteral("strftime('%Y-%m-%d %H:%M:%S','now','-%1 minutes')").arg(m);
}

} // namespace

QString valueProblem(const QString& name, const QString& value) {
    bool fits = true;
    if (name == QLatin1String("password.hash"))
        fits = value == QLatin1String("cipher") || value == QLatin1String("bcrypt");
    else if (name == QLatin1String("password.cost"))
        fits = inRange(value, kMinHashCost, kMaxHashCost);
    else if (name == QLatin1String("lockout.failures"))
        fits = inRange(value, 0, 1000);
    else if (name == QLatin1String("lockout.minutes"))
        fits = inRange(value, 1, 100000);
    else if (name == QLatin1String("password.minlength"))
        fits = inRange(value, 0, 49);
    else if (name == QLatin1String("audit.failures"))
        fits = value == QLatin1String("off") || value == QLatin1String("on");
    else
        return QStringLiteral("unknown setting \"%1\"").arg(name);
    if (fits)
        return QString();
    static const QMap<QString, QString> ranges{
        {QStringLiteral("password.hash"), QStringLiteral("cipher or bcrypt")},
        {QStringLiteral("password.cost"), QStringLiteral("a whole number from 10 to 15")},
        {QStringLiteral("lockout.failures"), QStringLiteral("0 (off) or a whole number up to 1000")},
        {QStringLiteral("lockout.minutes"), QStringLiteral("a whole number from 1 to 100000")},
        {QStringLiteral("password.minlength"), QStringLiteral("0 (no rule) or a whole number up to 49")},
        {QStringLiteral("audit.failures"), QStringLiteral("off or on")},
    };
    return QStringLiteral("the setting %1 is \"%2\", not %3").arg(name, value, ranges.value(name));
}

QMap<QString, QString> storedSettings(AdoConnection& cn) {
    QMap<QString, QString> out;
    if (!cn.tableNames().contains(QLatin1String(kSettingsTable), Qt::CaseInsensitive))
        return out;
    AdoQuery q(&cn, QStringLiteral("select name, value from vardex_settings"));
    q.open();
    for (q.first(); !q.eof(); q.next())
        out.insert(q.fieldByName(QStringLiteral("name")).asString(),
                   q.fieldByName(QStringLiteral("value")).asString());
    q.close();
    return out;
}

QMap<QString, QString> effectiveSettings(AdoConnection& cn) {
    QMap<QString, QString> out = storedSettings(cn);
    for (const Setting& s : kSettings)
        if (!out.contains(QLatin1String(s.name)))
            out.insert(QLatin1String(s.name), QLatin1String(s.defaultValue));
    return out;
}

PasswordPolicy readPolicy(AdoConnection& cn) {
    const QMap<QString, QString> stored = storedSettings(cn);
    PasswordPolicy p;
    for (const Setting& s : kSettings) {
        const QString name = QLatin1String(s.name);
        const QString value = stored.value(name, defaultOf(name));
        const QString problem = valueProblem(name, value);
        if (!problem.isEmpty())
            throw Error(QStringLiteral("The store's password policy cannot be read: %1.").arg(problem));
        if (name == QLatin1String("password.hash"))
            p.bcrypt = value == QLatin1String("bcrypt");
        else if (name == QLatin1String("password.cost"))
            p.cost = value.toInt();
        else if (name == QLatin1String("lockout.failures"))
            p.lockoutFailures = value.toInt();
        else if (name == QLatin1String("lockout.minutes"))
            p.lockoutMinutes = value.toInt();
        else if (name == QLatin1String("audit.failures"))
            p.auditFailures = value == QLatin1String("on");
        else
            p.minLength = value.toInt();
    }
    return p;
}

bool isLocked(AdoConnection& cn, const PasswordPolicy& p, const QString& userId) {
    AdoQuery q(&cn, QStringLiteral("select count(*) from vardex_lockout where userID = ") +
                        sqlLiteral(userId) +
                        QStringLiteral(" and failures >= %1 and lastFailure > ").arg(p.lockoutFailures) +
                        clockText(cn.dialect(), p.lockoutMinutes));
    q.open();
    const bool locked = q.value(0, 0).toInt() > 0;
    q.close();
    return locked;
}

int countAttempt(AdoConnection& cn, const PasswordPolicy& p, const QString& userId) {
    const Dialect d = cn.dialect();
    const QString now = clockText(d, 0);
    const QString who = sqlLiteral(userId);
    const QString since = clockText(d, p.lockoutMinutes);
    // A lock in force leaves the row as it is (the lock runs from the failure that reached the
    // limit) and the statement returns no row. The count starts again at 1 once a lock has run
    // out; otherwise it grows by one. One statement reads and writes the row under the
    // database's own lock (SQLite: the write lock a writing statement takes before it reads), so
    // attempts racing from many desktops each take their own number, and no more than the limit
    // are ever let through to the verification.
    const auto condition = [&](const QString& row, const char* comparison) {
        return QStringLiteral("%1.failures >= %2 and %1.lastFailure %3 %4")
            .arg(row)
            .arg(p.lockoutFailures)
            .arg(QLatin1String(comparison), since);
    };
    QString sql;
    if (d == Dialect::SqlServer)
        sql = QStringLiteral(
                  "merge vardex_lockout with (holdlock) as t using (select %1 as userID) as s "
                  "on t.userID = s.userID "
                  "when matched and not (%4) then update set failures = case when %2 then 1 else "
                  "t.failures + 1 end, lastFailure = %3 "
                  "when not matched then insert (userID, failures, lastFailure) values (s.userID, 1, "
                  "%3) output inserted.failures;")
                  .arg(who, condition(QStringLiteral("t"), "<="), now, condition(QStringLiteral("t"), ">"));
    else
        sql = QStringLiteral("insert into vardex_lockout (userID, failures, lastFailure) values (%1, 1, %2) "
                             "on conflict (userID) do update set failures = case when %3 then 1 "
                             "else vardex_lockout.failures + 1 end, lastFailure = excluded.lastFailure "
                             "where not (%4) returning failures")
                  .arg(who, now, condition(QStringLiteral("vardex_lockout"), "<="),
                       condition(QStringLiteral("vardex_lockout"), ">"));
    AdoQuery q(&cn, sql);
    q.open();
    const int attempt = q.recordCount() > 0 ? q.value(0, 0).toInt() : 0;
    q.close();
    return attempt;
}

void clearFailures(AdoConnection& cn, const QString& userId) {
    cn.execute(QStringLiteral("delete from vardex_lockout where userID = ") + sqlLiteral(userId));
}

} // namespace vardex::policy
