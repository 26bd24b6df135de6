// ODBC through Qt's QODBC driver. What the connection reaches is asked of the driver: the
// ODBC-reached PostgreSQL (psqlODBC) or SQL Server.
#include "platform/dbbackend.h"

#include <QDir>
#include <QSqlDriver>
#include <QSqlError>

#include <sql.h>
#include <sqlext.h>
#include <sys/stat.h>

namespace vardex {

namespace {

SQLHDBC odbcHandle(const QSqlDatabase& db) {
    const QVariant v = db.driver() ? db.driver()->handle() : QVariant();
    if (!v.isValid() || (qstrcmp(v.typeName(), "SQLHANDLE") != 0 && qstrcmp(v.typeName(), "void*") != 0))
        return nullptr;
    return *static_cast<const SQLHDBC*>(v.constData());
}

// The database kind an ODBC connection reaches, as its driver names it (SQL_DBMS_NAME): the
// names in the connection string can be anything, so only the driver can say how values must
// be quoted for it.
QString odbcDbmsName(const QSqlDatabase& db) {
    const SQLHDBC hdbc = odbcHandle(db);
    if (!hdbc)
        return QString();
    static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "unixODBC's wide characters are UTF-16");
    SQLWCHAR name[256] = {};
    SQLSMALLINT bytes = 0;
    if (!SQL_SUCCEEDED(SQLGetInfoW(hdbc, SQL_DBMS_NAME, name, SQLSMALLINT(sizeof name), &bytes)))
        return QString();
    const qsizetype length = qBound<qsizetype>(0, bytes / qsizetype(sizeof(SQLWCHAR)), std::size(name) - 1);
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(name), length).trimmed();
}

// The dialect of what the driver reaches; a database of another kind, a driver that does not say,
// or a Dialect= (or SQL Server provider) that says otherwise refuses the connection.
Dialect odbcDialect(const QSqlDatabase& db, const ConnectionTarget& target) {
    const QString dbms = odbcDbmsName(db);
    if (dbms.isEmpty())
        throw DbError(
            QStringLiteral("The connection is refused: the ODBC driver does not tell which database it "
                           "reaches (SQL_DBMS_NAME), so values could not be quoted safely for it."));
    Dialect reached;
    if (dbms.contains(QLatin1String("PostgreSQL"), Qt::CaseInsensitive))
        reached = Dialect::PostgreSQL;
    else if (dbms.contains(QLatin1String("SQLite"), Qt::CaseInsensitive))
        reached = Dialect::SQLite;
    else if (dbms.contains(QLatin1String("SQL Server"), Qt::CaseInsensitive))
        reached = Dialect::SqlServer;
    else
        throw DbError(
            QStringLiteral("The connection is refused: the ODBC data source is a \"%1\" database; a store "
                           "is kept in SQLite, PostgreSQL or SQL Server.")
                .arg(dbms));
    if (!target.statedBy.isEmpty() && reached != target.dialect)
        throw DbError(
            QStringLiteral("The connection is refused: %1 in the connection string says %2, but the ODBC "
                           "driver reaches a %3 database (\"%4\").")
                .arg(target.statedBy, dialectName(target.dialect), dialectName(reached), dbms));
    return reached;
}

// Qt's ODBC driver puts "FILEDSN=" before a text that contains ".dsn", passes a text that
// contains "DRIVER=" or "SERVER=" as it is, and puts "DSN=" before any other. The text is given
// to it so that the driver manager receives the connection string as written (a DSN or FILEDSN
// key comes first, see ConnectionString::resolve).
QString forQtOdbc(const QString& text) {
    const auto withoutFirstKey = [&text](const QString& key, const QString& refusal) {
        if (!text.startsWith(key, Qt::CaseInsensitive))
            throw DbError(refusal);
        return text.mid(key.size());
    };
    if (text.contains(QLatin1String(".dsn"), Qt::CaseInsensitive))
        return withoutFirstKey(
            QStringLiteral("FILEDSN="),
            QStringLiteral("The ODBC connection string contains \".dsn\" outside a FILEDSN key; Qt's "
                           "ODBC driver would take the whole text for a file DSN, so it cannot be "
                           "passed as written."));
    if (text.contains(QLatin1String("DRIVER="), Qt::CaseInsensitive) ||
        text.contains(QLatin1String("SERVER="), Qt::CaseInsensitive))
        return text;
    return withoutFirstKey(
        QStringLiteral("DSN="),
        QStringLiteral("The ODBC connection string names no data source: give DSN=, FILEDSN= or "
                       "Driver=."));
}

// The sockets the process holds: descriptor and inode.
QList<QPair<int, quint64>> processSockets() {
    QList<QPair<int, quint64>> out;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& name : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const int fd = name.toInt(&ok);
        struct stat st {};
        if (ok && ::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode))
            out.append({fd, static_cast<quint64>(st.st_ino)});
    }
    return out;
}

// Whether the ODBC driver knows the connection to be dead (SQL_ATTR_CONNECTION_DEAD); a driver
// that cannot tell says nothing.
bool odbcConnectionDead(const QSqlDatabase& db) {
    const SQLHDBC hdbc = odbcHandle(db);
    if (!hdbc)
        return false;
    SQLUINTEGER dead = SQL_CD_FALSE;
    return SQL_SUCCEEDED(SQLGetConnectAttr(hdbc, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) &&
           dead == SQL_CD_TRUE;
}

// A connection whose socket is not known, idle this long, is asked whether it still answers
// before a statement goes out on it: its driver may not know that the server has gone.
constexpr qint64 kIdleProbeMs = 200;

class OdbcBackend final : public DbBackend {
  public:
    OdbcBackend(const QString& name, const ConnectionTarget& target) : DbBackend(name, target) {}

    bool idleConnectionDead() override;
    DbResult run(const QString& sql, bool fetchRows) override { return runQuery(sql, fetchRows); }

  protected:
    void openDatabase(const QString& user, const QString& password, bool create) override;

  private:
    int m_socket = -1; // the connection's socket, when it could be told
    quint64 m_socketInode = 0;
};

void OdbcBackend::openDatabase(const QString& user, const QString& password, bool) {
    QString options = m_target.options;
    if (options.isEmpty())
        options = QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=10;SQL_ATTR_CONNECTION_TIMEOUT=10");
    // Qt's ODBC driver appends credentials given to open() to the connection text unquoted, so a
    // ';' in a password could add keys of its own. They go in here, quoted, instead.
    QString databaseName = m_target.databaseName;
    if (!databaseName.isEmpty() && !databaseName.endsWith(QLatin1Char(';')))
        databaseName += QLatin1Char(';');
    if (!user.isEmpty())
        databaseName += QStringLiteral("UID=") + ConnectionString::odbcQuote(user) + QLatin1Char(';');
    if (!password.isEmpty())
        databaseName += QStringLiteral("PWD=") + ConnectionString::odbcQuote(password) + QLatin1Char(';');
    databaseName = forQtOdbc(databaseName);
    QSqlDatabase db = QSqlDatabase::addDatabase(m_target.driver, m_name);
    db.setDatabaseName(databaseName);
    if (!m_target.host.isEmpty())
        db.setHostName(m_target.host);
    if (m_target.port > 0)
        db.setPort(m_target.port);
    db.setConnectOptions(options);
    // The socket the driver opens for the connection is the one new socket of the process after
    // it: watched while the connection is idle, it tells when the server has ended it.
    m_socket = -1;
    const QList<QPair<int, quint64>> socketsBefore = processSockets();
    if (!db.open()) {
        const QString text = errorText(db.lastError());
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
        throw DbError(text);
    }
    QList<QPair<int, quint64>> added = processSockets();
    added.removeIf([&](const QPair<int, quint64>& s) { return socketsBefore.contains(s); });
    if (added.size() == 1) {
        m_socket = added.first().first;
        m_socketInode = added.first().second;
    }
    try {
        m_target.dialect = odbcDialect(db, m_target);
        if (m_target.dialect == Dialect::PostgreSQL)
            setStandardStrings();
    } catch (...) {
        db.close();
        throw;
    }
}

bool OdbcBackend::idleConnectionDead() {
    if (queryBusy() || !connected())
        return false;
    const QSqlDatabase db = database();
    if (odbcConnectionDead(db))
        return true;
    if (m_socket >= 0) {
        struct stat st {};
        if (::fstat(m_socket, &st) == 0 && static_cast<quint64>(st.st_ino) == m_socketInode)
            return idleSocketEnded(m_socket);
    }
    if (m_target.dialect == Dialect::SQLite ||
        (m_lastStatement.isValid() && m_lastStatement.elapsed() < kIdleProbeMs))
        return false;
    return connectionLost();
}

} // namespace

std::unique_ptr<DbBackend> makeOdbcBackend(const QString& name, const ConnectionTarget& target) {
    return std::make_unique<OdbcBackend>(name, target);
}

} // namespace vardex
