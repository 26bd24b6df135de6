#include "platform/connstr.h"
#include "platform/errors.h"

#include <QFileInfo>

namespace vardex {

QList<QPair<QString, QString>> ConnectionString::parse(const QString& text) {
    QList<QPair<QString, QString>> pairs;
    int i = 0;
    const int n = text.size();
    while (i < n) {
        // key: up to '=' or ';'
        int start = i;
        while (i < n && text[i] != QLatin1Char('=') && text[i] != QLatin1Char(';'))
            ++i;
        QString key = text.mid(start, i - start).trimmed();
        QString value;
        if (i < n && text[i] == QLatin1Char('=')) {
            ++i;
            while (i < n && text[i] == QLatin1Char(' '))
                ++i;
            if (i < n && (text[i] == QLatin1Char('"') || text[i] == QLatin1Char('\''))) {
                // Quoted value; a doubled quote stands for one.
                const QChar q = text[i++];
                while (i < n) {
                    if (text[i] == q) {
                        if (i + 1 < n && text[i + 1] == q) {
                            value += q;
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    value += text[i++];
                }
                while (i < n && text[i] != QLatin1Char(';'))
                    ++i;
            } else if (i < n && text[i] == QLatin1Char('{')) {
                // Braced value (ODBC style); the braces are kept, drivers expect them.
                int b = i;
                while (i < n && text[i] != QLatin1Char('}'))
                    ++i;
                if (i < n)
                    ++i;
                value = text.mid(b, i - b);
                while (i < n && text[i] != QLatin1Char(';'))
                    ++i;
            } else {
                int vs = i;
                while (i < n && text[i] != QLatin1Char(';'))
                    ++i;
                value = text.mid(vs, i - vs).trimmed();
            }
        }
        if (i < n && text[i] == QLatin1Char(';'))
            ++i;
        if (!key.isEmpty())
            pairs.append({key, value});
    }
    return pairs;
}

QString ConnectionString::value(const QList<QPair<QString, QString>>& pairs,
                                std::initializer_list<const char*> keys) {
    for (const char* k : keys) {
        for (const auto& p : pairs) {
            if (p.first.compare(QLatin1String(k), Qt::CaseInsensitive) == 0)
                return p.second;
        }
    }
    return QString();
}

QString ConnectionString::compose(const QList<QPair<QString, QString>>& pairs) {
    QString out;
    for (const auto& p : pairs) {
        QString v = p.second;
        // Written as it is only when parse reads it back unchanged: a braced value must end at its
        // first '}', and a bare value must not start the way a quoted or braced one does (a
        // password "{x" or "'x" typed into the data-link dialog came back cut or unquoted).
        const bool braced = v.startsWith(QLatin1Char('{')) && v.indexOf(QLatin1Char('}')) == v.size() - 1;
        const bool bare = !v.startsWith(QLatin1Char('{')) && !v.startsWith(QLatin1Char('\'')) &&
                          !v.contains(QLatin1Char(';')) && !v.contains(QLatin1Char('"')) && v == v.trimmed();
        if (!braced && !bare)
            v = QLatin1Char('"') + QString(v).replace(QLatin1String("\""), QLatin1String("\"\"")) +
                QLatin1Char('"');
        out += p.first + QLatin1Char('=') + v + QLatin1Char(';');
    }
    return out;
}

QString ConnectionString::odbcQuote(const QString& value) {
    bool bare = !value.isEmpty() && value == value.trimmed();
    for (const QChar c : value)
        if (c == QLatin1Char(';') || c == QLatin1Char('{') || c == QLatin1Char('}') ||
            c == QLatin1Char('=') || c.unicode() < 0x20)
            bare = false;
    if (bare)
        return value;
    return QLatin1Char('{') + QString(value).replace(QLatin1String("}"), QLatin1String("}}")) +
           QLatin1Char('}');
}

namespace {

// "{...}" whose inside holds no '}' except doubled ones: a value its writer quoted already.
bool isBracedOdbcValue(const QString& v) {
    if (v.size() < 2 || !v.startsWith(QLatin1Char('{')) || !v.endsWith(QLatin1Char('}')))
        return false;
    for (int i = 1; i < v.size() - 1; ++i) {
        if (v[i] != QLatin1Char('}'))
            continue;
        if (i + 1 < v.size() - 1 && v[i + 1] == QLatin1Char('}'))
            ++i;
        else
            return false;
    }
    return true;
}

} // namespace

QString ConnectionString::composeOdbc(const QList<QPair<QString, QString>>& pairs) {
    QString out;
    for (const auto& p : pairs)
        out += p.first + QLatin1Char('=') + (isBracedOdbcValue(p.second) ? p.second : odbcQuote(p.second)) +
               QLatin1Char(';');
    return out;
}

QString dialectName(Dialect d) {
    switch (d) {
    case Dialect::SQLite:
        return QStringLiteral("SQLite");
    case Dialect::PostgreSQL:
        return QStringLiteral("PostgreSQL");
    case Dialect::SqlServer:
        break;
    }
    return QStringLiteral("SQL Server");
}

namespace {

bool isOneOf(const QString& v, std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (v.compare(QLatin1String(n), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

// Keys that belong to the provider selection and never reach an ODBC driver.
bool isAdoOnlyKey(const QString& k) {
    return isOneOf(k, {"Provider", "Dialect", "Persist Security Info", "Extended Properties"});
}

// A value that must be a whole number within [low, high]; anything else names the key in the error.
int wholeNumber(const QString& text, const char* key, int low, int high) {
    const QString t = text.trimmed();
    bool digits = !t.isEmpty() && t.size() <= 9;
    for (const QChar c : t)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            digits = false;
    const int v = digits ? t.toInt() : -1;
    if (!digits || v < low || v > high)
        throw DbError(
            QStringLiteral("The value of %1 in the connection string must be a whole number from %2 to %3.")
                .arg(QLatin1String(key))
                .arg(low)
                .arg(high));
    return v;
}

// A first guess from the driver and DSN names; the connection replaces it by what the driver says.
Dialect dialectFromNames(const QString& driverText) {
    if (driverText.contains(QLatin1String("postgre"), Qt::CaseInsensitive) ||
        driverText.contains(QLatin1String("psql"), Qt::CaseInsensitive))
        return Dialect::PostgreSQL;
    if (driverText.contains(QLatin1String("sqlite"), Qt::CaseInsensitive))
        return Dialect::SQLite;
    return Dialect::SqlServer;
}

Dialect statedDialect(const QString& text) {
    const QString t = text.trimmed();
    if (isOneOf(t, {"PostgreSQL", "Postgres", "PgSQL"}))
        return Dialect::PostgreSQL;
    if (isOneOf(t, {"SQLite", "SQLite3"}))
        return Dialect::SQLite;
    if (isOneOf(t, {"SQLServer", "SQL Server", "MSSQL"}))
        return Dialect::SqlServer;
    throw DbError(QStringLiteral(
        "The value of Dialect in the connection string must be PostgreSQL, SQLite or SQLServer."));
}

// The DSN or FILEDSN key goes first: Qt's ODBC driver puts its own "DSN=" (or "FILEDSN=") in
// front of a text that names no driver or server, and AdoConnection then drops the key written
// here so the two do not stand side by side.
QList<QPair<QString, QString>> dataSourceFirst(QList<QPair<QString, QString>> pairs) {
    for (int i = 0; i < pairs.size(); ++i)
        if (isOneOf(pairs[i].first, {"DSN", "FILEDSN"})) {
            pairs.move(i, 0);
            break;
        }
    return pairs;
}

// One host name, IP address or socket folder as libpq takes it in a list: no separator of the
// list and nothing a conninfo text would read as quoting or as the start of another keyword.
bool plainHostName(const QString& h) {
    if (h.isEmpty())
        return false;
    for (const QChar c : h)
        if (!(c.isLetterOrNumber() || c == QLatin1Char('.') || c == QLatin1Char('-') ||
              c == QLatin1Char('_') || c == QLatin1Char('/') || c == QLatin1Char(':') ||
              c == QLatin1Char('%')))
            return false;
    return true;
}

[[noreturn]] void badHost() {
    throw DbError(
        QStringLiteral("The value of Host in the connection string must be one host name or several "
                       "separated by commas (pg1,pg2), each optionally followed by :port."));
}

// Host=pg1,pg2;Port=5432,5433 or Host=pg1:5432,pg2:5433 (or one host, as always). One host with
// at most one port keeps the driver's own host and port settings; several go to libpq as its
// lists: the hosts through the host name (the driver quotes it), the ports as digits and commas
// in the option text. libpq tries the hosts in order at every connection.
void pgHosts(const QString& hostText, const QString& portText, ConnectionTarget* target, QStringList* opts) {
    const QString text = hostText.trimmed();
    if (text.isEmpty()) {
        target->port = portText.isEmpty() ? -1 : wholeNumber(portText, "Port", 1, 65535);
        return;
    }
    QStringList hosts;
    QStringList hostPorts;
    bool anyHostPort = false;
    for (const QString& item : text.split(QLatin1Char(','))) {
        QString h = item.trimmed();
        QString p;
        bool hasPort = false;
        // "name:port" unless the name is an IPv6 address; "[addr]:port" for one of those.
        const int colon = h.lastIndexOf(QLatin1Char(':'));
        if (h.startsWith(QLatin1Char('['))) {
            const int close = h.indexOf(QLatin1Char(']'));
            if (close < 0 || (close + 1 < h.size() && h[close + 1] != QLatin1Char(':')))
                badHost();
            hasPort = close + 1 < h.size();
            p = h.mid(close + 2);
            h = h.mid(1, close - 1);
        } else if (colon >= 0 && h.indexOf(QLatin1Char(':')) == colon) {
            hasPort = true;
            p = h.mid(colon + 1);
            h = h.left(colon);
        }
        if (!plainHostName(h))
            badHost();
        anyHostPort = anyHostPort || hasPort;
        hosts << h;
        hostPorts << (hasPort ? QString::number(wholeNumber(p, "Host", 1, 65535)) : QString());
    }
    QStringList ports;
    if (!portText.trimmed().isEmpty()) {
        if (anyHostPort)
            throw DbError(
                QStringLiteral("The connection string gives ports both after the hosts and in Port: "
                               "write them in one place only."));
        for (const QString& p : portText.split(QLatin1Char(',')))
            ports << QString::number(wholeNumber(p, "Port", 1, 65535));
        if (ports.size() != 1 && ports.size() != hosts.size())
            throw DbError(QStringLiteral("The value of Port in the connection string must be one port or one "
                                         "for each host in Host."));
    } else if (anyHostPort) {
        ports = hostPorts; // an empty entry: libpq's default port for that host
    }
    target->host = hosts.join(QLatin1Char(','));
    if (ports.size() == 1 && hosts.size() == 1)
        target->port = ports.front().toInt();
    else if (!ports.isEmpty())
        *opts << QStringLiteral("port=") + ports.join(QLatin1Char(','));
}

} // namespace

ConnectionTarget ConnectionString::resolve(const QString& text) {
    const auto pairs = parse(text);
    ConnectionTarget target;
    const QString provider = value(pairs, {"Provider"});
    const QString explicitDialect = value(pairs, {"Dialect"});
    target.userId = value(pairs, {"User ID", "UID", "User"});
    target.password = value(pairs, {"Password", "PWD"});

    if (isOneOf(provider, {"SQLite", "SQLite3"})) {
        target.driver = QStringLiteral("QSQLITE");
        target.dialect = Dialect::SQLite;
        target.databaseName = value(pairs, {"Data Source", "Database", "File"});
        if (target.databaseName.isEmpty())
            throw DbError(QStringLiteral("The connection string names no database file (Data Source=...)."));
        return target;
    }
    if (isOneOf(provider, {"PostgreSQL", "PgSQL", "Postgres", "Npgsql"})) {
        target.driver = QStringLiteral("QPSQL");
        target.dialect = Dialect::PostgreSQL;
        target.databaseName = value(pairs, {"Database", "Initial Catalog", "dbname"});
        // These reach the driver's option text as they are, so only the values the driver
        // defines are let through: anything else could carry options of its own.
        QStringList opts;
        const QString timeout = value(pairs, {"Connect Timeout", "connect_timeout"});
        opts << QStringLiteral("connect_timeout=") +
                    QString::number(timeout.isEmpty() ? 10
                                                      : wholeNumber(timeout, "Connect Timeout", 0, 86400));
        const QString sslmode = value(pairs, {"SSL Mode", "sslmode"}).trimmed();
        if (!sslmode.isEmpty()) {
            if (!isOneOf(sslmode, {"disable", "allow", "prefer", "require", "verify-ca", "verify-full"}))
                throw DbError(
                    QStringLiteral("The value of SSL Mode in the connection string must be one of disable, "
                                   "allow, prefer, require, verify-ca or verify-full."));
            opts << QStringLiteral("sslmode=") + sslmode.toLower();
        }
        pgHosts(value(pairs, {"Host", "Server", "Data Source"}), value(pairs, {"Port"}), &target, &opts);
        const QString attrs = value(pairs, {"Target Session Attrs", "target_session_attrs"}).trimmed();
        if (!attrs.isEmpty()) {
            if (!isOneOf(attrs, {"any", "read-write", "read-only", "primary", "standby", "prefer-standby"}))
                throw DbError(QStringLiteral(
                    "The value of Target Session Attrs in the connection string must be one of any, "
                    "read-write, read-only, primary, standby or prefer-standby."));
            opts << QStringLiteral("target_session_attrs=") + attrs.toLower();
        }
        target.options = opts.join(QLatin1Char(';'));
        return target;
    }
    if (isOneOf(provider, {"ODBC", "MSDASQL", "MSDASQL.1"}) ||
        (provider.isEmpty() && (!value(pairs, {"Driver"}).isEmpty() || !value(pairs, {"DSN"}).isEmpty()))) {
        target.driver = QStringLiteral("QODBC");
        QList<QPair<QString, QString>> rest;
        for (const auto& p : pairs) {
            if (isAdoOnlyKey(p.first))
                continue;
            if (isOneOf(p.first, {"User ID", "UID", "User", "Password", "PWD"}))
                continue; // passed at open time, so the open call's values can take their place
            rest.append(p);
        }
        target.databaseName = composeOdbc(dataSourceFirst(rest));
        if (explicitDialect.isEmpty()) {
            target.dialect = dialectFromNames(value(pairs, {"Driver"}) + value(pairs, {"DSN"}));
        } else {
            target.dialect = statedDialect(explicitDialect);
            target.statedBy = QStringLiteral("Dialect");
        }
        return target;
    }
    if (provider.startsWith(QLatin1String("SQLOLEDB"), Qt::CaseInsensitive) ||
        provider.startsWith(QLatin1String("SQLNCLI"), Qt::CaseInsensitive) ||
        provider.startsWith(QLatin1String("MSOLEDBSQL"), Qt::CaseInsensitive) ||
        isOneOf(provider, {"SQLServer", "MSSQL"})) {
        // An ADO string for SQL Server: reach the same server through ODBC (FreeTDS by default).
        target.driver = QStringLiteral("QODBC");
        target.dialect = Dialect::SqlServer;
        target.statedBy = QStringLiteral("Provider");
        QString driver = value(pairs, {"Driver"});
        if (driver.isEmpty())
            driver = QStringLiteral("{FreeTDS}");
        QList<QPair<QString, QString>> odbc;
        odbc.append({QStringLiteral("Driver"), driver});
        QString server = value(pairs, {"Data Source", "Server"});
        const QString port = value(pairs, {"Port"});
        odbc.append({QStringLiteral("Server"), server});
        if (!port.isEmpty())
            odbc.append({QStringLiteral("Port"), port});
        const QString db = value(pairs, {"Initial Catalog", "Database"});
        if (!db.isEmpty())
            odbc.append({QStringLiteral("Database"), db});
        const QString tds = value(pairs, {"TDS_Version"});
        odbc.append({QStringLiteral("TDS_Version"), tds.isEmpty() ? QStringLiteral("7.4") : tds});
        target.databaseName = composeOdbc(odbc);
        return target;
    }
    if (provider.isEmpty())
        throw DbError(QStringLiteral(
            "The connection string names no provider (Provider=SQLite, PostgreSQL, ODBC or SQLOLEDB)."));
    throw DbError(QStringLiteral("Unknown provider \"%1\" in the connection string.").arg(provider));
}

} // namespace vardex
