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

QString ConnectionString::value(const QList<QPair<QString, QString>>& pairs, std::initializer_list<const char*> keys) {
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
            v = QLatin1Char('"') + QString(v).replace(QLatin1String("\""), QLatin1String("\"\"")) + QLatin1Char('"');
        out += p.first + QLatin1Char('=') + v + QLatin1Char(';');
    }
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

Dialect dialectFromText(const QString& explicitDialect, const QString& driverText) {
    const QString d = explicitDialect.isEmpty() ? driverText : explicitDialect;
    if (d.contains(QLatin1String("postgre"), Qt::CaseInsensitive) || d.contains(QLatin1String("psql"), Qt::CaseInsensitive))
        return Dialect::PostgreSQL;
    if (d.contains(QLatin1String("sqlite"), Qt::CaseInsensitive))
        return Dialect::SQLite;
    return Dialect::SqlServer;
}

} // namespace

ConnectionSpec ConnectionString::resolve(const QString& text) {
    const auto pairs = parse(text);
    ConnectionSpec target;
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
        target.host = value(pairs, {"Host", "Server", "Data Source"});
        const QString port = value(pairs, {"Port"});
        bool ok = false;
        const int p = port.toInt(&ok);
        target.port = ok ? p : -1;
        target.databaseName = value(pairs, {"Database", "Initial Catalog", "dbname"});
        QStringList opts;
        const QString timeout = value(pairs, {"Connect Timeout", "connect_timeout"});
        opts << QStringLiteral("connect_timeout=") + (timeout.isEmpty() ? QStringLiteral("10") : timeout);
        const QString sslmode = value(pairs, {"SSL Mode", "sslmode"});
        if (!sslmode.isEmpty())
            opts << QStringLiteral("sslmode=") + sslmode;
        target.options = opts.join(QLatin1Char(';'));
        return target;
    }
    if (isOneOf(provider, {"ODBC", "MSDASQL", "MSDASQL.1"}) || (provider.isEmpty() && (!value(pairs, {"Driver"}).isEmpty() || !value(pairs, {"DSN"}).isEmpty()))) {
        target.driver = QStringLiteral("QODBC");
        QList<QPair<QString, QString>> rest;
        for (const auto& p : pairs) {
            if (isAdoOnlyKey(p.first))
                continue;
            if (isOneOf(p.first, {"User ID", "UID", "User", "Password", "PWD"}))
                continue; // passed at open time, so the open call's values can take their place
            rest.append(p);
        }
        target.databaseName = compose(rest);
        target.dialect = dialectFromText(explicitDialect, value(pairs, {"Driver"}) + value(pairs, {"DSN"}));
        return target;
    }
    if (provider.startsWith(QLatin1String("SQLOLEDB"), Qt::CaseInsensitive) ||
        provider.startsWith(QLatin1String("SQLNCLI"), Qt::CaseInsensitive) ||
        provider.startsWith(QLatin1String("MSOLEDBSQL"), Qt::CaseInsensitive) || isOneOf(provider, {"SQLServer", "MSSQL"})) {
        // An ADO string for SQL Server: reach the same server through ODBC (FreeTDS by default).
        target.driver = QStringLiteral("QODBC");
        target.dialect = Dialect::SqlServer;
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
        target.databaseName = compose(odbc);
        return target;
    }
    if (provider.isEmpty())
        throw DbError(QStringLiteral("The connection string names no provider (Provider=SQLite, PostgreSQL, ODBC or SQLOLEDB)."));
    throw DbError(QStringLiteral("Unknown provider \"%1\" in the connection string.").arg(provider));
}

} // namespace vardex
