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
                        cn.sql().clock(p.lockoutMinutes));
    q.open();
    const bool locked = q.value(0, 0).toInt() > 0;
    q.close();
    return locked;
}

int countAttempt(AdoConnection& cn, const PasswordPolicy& p, const QString& userId) {
    const DialectSql& dialect = cn.sql();
    const QString now = dialect.clock(0);
    const QString who = sqlLiteral(userId);
    const QString since = dialect.clock(p.lockoutMinutes);
    // A lock in force leaves the row as it is (the lock runs from the failure that reached the
    // limit) and the statement returns no row. The count starts again at 1 once a lock has run
    // out; otherwise it grows by one. One statement reads and writes the row under the
    // database's own lock (SQLite: the write lock a writing statement takes before it reads), so
    // attempts racing from many desktops each take their own number, and no more than the limit
    // are ever let through to the verification.
    const QString sql = dialect.lockoutUpsert(who, now, [&](const QString& row, bool inForce) {
        return QStringLiteral("%1.failures >= %2 and %1.lastFailure %3 %4")
            .arg(row)
            .arg(p.lockoutFailures)
            .arg(QLatin1String(inForce ? ">" : "<="), since);
    });
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
