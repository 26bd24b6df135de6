#include "platform/adodb.h"
#include "platform/msgservice.h"
#include "platform/sqldialect.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSqlResult>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace vardex {

namespace {

QAtomicInt g_connectionCounter;

QString errorText(const QSqlError& e) {
    QString text = e.databaseText().trimmed();
    const QString driver = e.driverText().trimmed();
    if (text.isEmpty())
        text = driver;
    else if (!driver.isEmpty() && !text.contains(driver))
        text = driver + QStringLiteral(": ") + text;
    if (text.isEmpty())
        text = QStringLiteral("Unknown database error");
    return text;
}

sqlite3* sqliteHandle(const QSqlDatabase& db) {
    const QVariant v = db.driver() ? db.driver()->handle() : QVariant();
    if (v.isValid() && qstrcmp(v.typeName(), "sqlite3*") == 0)
        return *static_cast<sqlite3* const*>(v.constData());
    return nullptr;
}

// The database kind an ODBC connection reaches, as its driver names it (SQL_DBMS_NAME): the
// names in the connection string can be anything, so only the driver can say how values must
// be quoted for it.
QString odbcDbmsName(const QSqlDatabase& db) {
    const QVariant v = db.driver() ? db.driver()->handle() : QVariant();
    if (!v.isValid() || (qstrcmp(v.typeName(), "SQLHANDLE") != 0 && qstrcmp(v.typeName(), "void*") != 0))
        return QString();
    const SQLHDBC hdbc = *static_cast<const SQLHDBC*>(v.constData());
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

} // namespace

AdoConnection::AdoConnection()
    : m_name(QStringLiteral("vardex-%1").arg(g_connectionCounter.fetchAndAddRelaxed(1))) {}

AdoConnection::~AdoConnection() {
    forgetCredentials();
    try {
        close();
    } catch (...) {
    }
    if (QSqlDatabase::contains(m_name))
        QSqlDatabase::removeDatabase(m_name);
}

QSqlDatabase AdoConnection::database() const {
    return QSqlDatabase::database(m_name, false);
}

void AdoConnection::setConnectionString(const QString& text) {
    close();
    if (text != m_connectionString)
        forgetCredentials();
    m_connectionString = text;
}

void AdoConnection::forgetCredentials() {
    m_keptUserId.fill(QLatin1Char('\0'));
    m_keptPassword.fill(QLatin1Char('\0'));
    m_keptUserId.clear();
    m_keptPassword.clear();
}

void AdoConnection::open(const QString& userId, const QString& password) {
    openConnection(userId, password, false);
}

void AdoConnection::openOrCreate(const QString& userId, const QString& password) {
    openConnection(userId, password, true);
}

namespace {

bool isMemoryDatabase(const QString& name) {
    return name == QLatin1String(":memory:");
}

// Creates an empty file readable and writable by its owner only; an existing file is left alone.
void createOwnerOnlyFile(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        return;
    }
    if (errno == EEXIST)
        return;
    throw DbError(QStringLiteral("The SQLite store file %1 cannot be created: %2")
                      .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
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

// Whether a server connection's socket tells that the server has ended it: on an idle
// connection the server sends nothing unless it closes it. Nothing is read.
bool idleSocketEnded(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

// The file as an SQLite URI that opens it for reading and writing but never creates it.
QString noCreateUri(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    return QStringLiteral("file://") + QString::fromLatin1(QUrl::toPercentEncoding(absolute, "/")) +
           QStringLiteral("?mode=rw");
}

} // namespace

void AdoConnection::openConnection(const QString& userId, const QString& password, bool create) {
    close();
    m_pgTypes.clear(); // type numbers of another database may mean other types
    m_target = ConnectionString::resolve(m_connectionString);
    if (QSqlDatabase::contains(m_name))
        QSqlDatabase::removeDatabase(m_name);
    if (!QSqlDatabase::isDriverAvailable(m_target.driver))
        throw DbError(QStringLiteral("The database driver %1 is not installed.").arg(m_target.driver));
    const bool sqlite = m_target.driver == QLatin1String("QSQLITE");
    const bool odbc = m_target.driver == QLatin1String("QODBC");
    // Credentials given now take the place of kept ones; none given: the kept ones, if any.
    const bool given = !userId.isEmpty() || !password.isEmpty();
    const QString openUser = given ? userId : m_keptUserId;
    const QString openPassword = given ? password : m_keptPassword;
    const QString user = openUser.isEmpty() ? m_target.userId : openUser;
    const QString pwd = openUser.isEmpty() && openPassword.isEmpty() ? m_target.password : openPassword;

    QString databaseName = m_target.databaseName;
    QString options = m_target.options;
    if (sqlite) {
        options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000");
        if (!isMemoryDatabase(databaseName)) {
            if (create)
                createOwnerOnlyFile(databaseName);
            else if (!QFileInfo::exists(databaseName))
                throw DbError(
                    QStringLiteral("The SQLite store file %1 does not exist (a store is made by installing "
                                   "it; opening never creates one).")
                        .arg(databaseName));
            // Opened through a URI with mode=rw, so a file removed meanwhile is not made anew.
            databaseName = noCreateUri(databaseName);
            options += QStringLiteral(";QSQLITE_OPEN_URI");
        }
    } else if (odbc) {
        if (options.isEmpty())
            options = QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=10;SQL_ATTR_CONNECTION_TIMEOUT=10");
        // Qt's ODBC driver appends credentials given to open() to the connection text unquoted,
        // so a ';' in a password could add keys of its own. They go in here, quoted, instead.
        if (!databaseName.isEmpty() && !databaseName.endsWith(QLatin1Char(';')))
            databaseName += QLatin1Char(';');
        if (!user.isEmpty())
            databaseName += QStringLiteral("UID=") + ConnectionString::odbcQuote(user) + QLatin1Char(';');
        if (!pwd.isEmpty())
            databaseName += QStringLiteral("PWD=") + ConnectionString::odbcQuote(pwd) + QLatin1Char(';');
        databaseName = forQtOdbc(databaseName);
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(m_target.driver, m_name);
    db.setDatabaseName(databaseName);
    if (!m_target.host.isEmpty())
        db.setHostName(m_target.host);
    if (m_target.port > 0)
        db.setPort(m_target.port);
    db.setConnectOptions(options);
    // The socket an ODBC driver opens for the connection is the one new socket of the process
    // after it: watched while the connection is idle, it tells when the server has ended it.
    m_odbcSocket = -1;
    const QList<QPair<int, quint64>> socketsBefore = odbc ? processSockets() : QList<QPair<int, quint64>>();
    const bool opened = odbc ? db.open() : db.open(user, pwd);
    if (opened && odbc) {
        QList<QPair<int, quint64>> added = processSockets();
        added.removeIf([&](const QPair<int, quint64>& s) { return socketsBefore.contains(s); });
        if (added.size() == 1) {
            m_odbcSocket = added.first().first;
            m_odbcSocketInode = added.first().second;
        }
    }
    if (!opened) {
        const QString text = errorText(db.lastError());
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
        throw DbError(text);
    }
    try {
        if (odbc)
            m_target.dialect = odbcDialect(db, m_target);
        if (sqlite) {
            // Several desktops may share one file: write-ahead log so readers never wait for a
            // writer, and a busy timeout so writers queue instead of failing at once.
            runSqliteNative(QStringLiteral("PRAGMA journal_mode=WAL"));
            runSqliteNative(QStringLiteral("PRAGMA synchronous=NORMAL"));
        } else if (m_target.dialect == Dialect::PostgreSQL) {
            setStandardStrings();
            QSqlQuery q(db);
            q.exec(QStringLiteral("SET client_min_messages TO warning"));
        }
    } catch (...) {
        db.close();
        throw;
    }
    if (given) {
        m_keptUserId = userId;
        m_keptPassword = password;
    }
    m_lastStatement.start();
}

void AdoConnection::setStandardStrings() {
    // Every value is put between single quotes with its quotes doubled. With
    // standard_conforming_strings off (a database or role setting, PGOPTIONS, a connection
    // option) a backslash would escape the closing quote, so the session insists on it.
    QSqlDatabase db = database();
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SET standard_conforming_strings TO on")))
        throw DbError(
            QStringLiteral("The session cannot be opened: the server refused standard_conforming_strings "
                           "on (%1).")
                .arg(errorText(q.lastError())));
    QString value;
    if (q.exec(QStringLiteral("SHOW standard_conforming_strings")) && q.next())
        value = q.value(0).toString();
    if (value.compare(QLatin1String("on"), Qt::CaseInsensitive) != 0)
        throw DbError(
            QStringLiteral("The session cannot be opened: standard_conforming_strings is \"%1\" after "
                           "setting it on; values could not be quoted safely.")
                .arg(value));
}

void AdoConnection::dropQuery() {
    if (!m_queryBusy)
        m_query.reset();
}

void AdoConnection::close() {
    m_inTransaction = false;
    m_odbcSocket = -1;
    dropQuery();
    if (!QSqlDatabase::contains(m_name))
        return;
    QSqlDatabase db = database();
    if (db.isOpen())
        db.close();
}

bool AdoConnection::connected() const {
    if (!QSqlDatabase::contains(m_name))
        return false;
    return database().isOpen();
}

namespace {

// The libpq calls used here, taken from the libpq the PostgreSQL driver plugin has loaded (none
// is loaded here; without it the names come from QSqlQuery::record(), and an idle connection is
// not looked at before a statement).
struct PqApi {
    int (*nfields)(const void*) = nullptr;
    char* (*fname)(const void*, int) = nullptr;
    unsigned (*ftype)(const void*, int) = nullptr;
    int (*status)(const void*) = nullptr; // PQstatus: 0 is CONNECTION_OK
    int (*socket)(const void*) = nullptr;
    // A statement with bound parameters (runWithParameters).
    void* (*execParams)(void*, const char*, int, const unsigned*, const char* const*, const int*, const int*,
                        int) = nullptr;
    int (*resultStatus)(const void*) = nullptr;
    char* (*resultErrorMessage)(const void*) = nullptr;
    void (*clear)(void*) = nullptr;
    int (*ntuples)(const void*) = nullptr;
    char* (*getvalue)(const void*, int, int) = nullptr;
    int (*getlength)(const void*, int, int) = nullptr;
    int (*getisnull)(const void*, int, int) = nullptr;
    int (*transactionStatus)(const void*) = nullptr;
    void* (*getResult)(void*) = nullptr;
    char* (*errorMessage)(const void*) = nullptr;
    char* (*cmdTuples)(void*) = nullptr;
    bool ok() const { return nfields && fname && ftype; }
    bool livenessOk() const { return status && socket; }
    bool parametersOk() const {
        return ok() && status && execParams && resultStatus && resultErrorMessage && clear && ntuples &&
               getvalue && getlength && getisnull && transactionStatus && getResult && errorMessage &&
               cmdTuples;
    }
    // libpq's values of the enumerations read here
    static constexpr int kConnectionOk = 0;      // CONNECTION_OK
    static constexpr int kCommandOk = 1;         // PGRES_COMMAND_OK
    static constexpr int kTuplesOk = 2;          // PGRES_TUPLES_OK
    static constexpr int kTransactionIdle = 0;   // PQTRANS_IDLE
    static constexpr int kTransactionActive = 1; // PQTRANS_ACTIVE
};

template <typename F> void pqSymbol(void* lib, const char* name, F* out) {
    *out = reinterpret_cast<F>(dlsym(lib, name));
}

const PqApi& pqApi() {
    static const PqApi api = [] {
        PqApi a;
        void* lib = dlopen("libpq.so.5", RTLD_LAZY | RTLD_NOLOAD);
        if (lib) {
            pqSymbol(lib, "PQnfields", &a.nfields);
            pqSymbol(lib, "PQfname", &a.fname);
            pqSymbol(lib, "PQftype", &a.ftype);
            pqSymbol(lib, "PQstatus", &a.status);
            pqSymbol(lib, "PQsocket", &a.socket);
            pqSymbol(lib, "PQexecParams", &a.execParams);
            pqSymbol(lib, "PQresultStatus", &a.resultStatus);
            pqSymbol(lib, "PQresultErrorMessage", &a.resultErrorMessage);
            pqSymbol(lib, "PQclear", &a.clear);
            pqSymbol(lib, "PQntuples", &a.ntuples);
            pqSymbol(lib, "PQgetvalue", &a.getvalue);
            pqSymbol(lib, "PQgetlength", &a.getlength);
            pqSymbol(lib, "PQgetisnull", &a.getisnull);
            pqSymbol(lib, "PQtransactionStatus", &a.transactionStatus);
            pqSymbol(lib, "PQgetResult", &a.getResult);
            pqSymbol(lib, "PQerrorMessage", &a.errorMessage);
            pqSymbol(lib, "PQcmdTuples", &a.cmdTuples);
            dlclose(lib); // the plugin keeps it loaded
        }
        return a;
    }();
    return api;
}

// The PGconn behind a connection on the PostgreSQL driver; null for any other driver.
void* pgConnection(const QSqlDatabase& db) {
    const QVariant v = db.driver() ? db.driver()->handle() : QVariant();
    if (v.isValid() && (qstrcmp(v.typeName(), "PGconn*") == 0 || qstrcmp(v.typeName(), "pg_conn*") == 0))
        return *static_cast<void* const*>(v.constData());
    return nullptr;
}

// Whether the PostgreSQL connection the driver holds has already been ended by the server (a
// restart, a terminated backend, a failover): libpq knows it for lost, or its socket has
// something to read while idle, which is the server's termination notice or the end of the
// stream. Nothing is sent, nor read.
bool pgConnectionDead(const QSqlDatabase& db) {
    const void* conn = pgConnection(db);
    const PqApi& pq = pqApi();
    if (!conn || !pq.livenessOk())
        return false;
    if (pq.status(conn) != 0)
        return true;
    const int fd = pq.socket(conn);
    return fd < 0 || idleSocketEnded(fd);
}

// Whether the ODBC driver knows the connection to be dead (SQL_ATTR_CONNECTION_DEAD); a driver
// that cannot tell says nothing.
bool odbcConnectionDead(const QSqlDatabase& db) {
    const QVariant v = db.driver() ? db.driver()->handle() : QVariant();
    if (!v.isValid() || (qstrcmp(v.typeName(), "SQLHANDLE") != 0 && qstrcmp(v.typeName(), "void*") != 0))
        return false;
    const SQLHDBC hdbc = *static_cast<const SQLHDBC*>(v.constData());
    if (!hdbc)
        return false;
    SQLUINTEGER dead = SQL_CD_FALSE;
    return SQL_SUCCEEDED(SQLGetConnectAttr(hdbc, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) &&
           dead == SQL_CD_TRUE;
}

// An ODBC connection whose socket is not known, idle this long, is asked whether it still
// answers before a statement goes out on it: its driver may not know that the server has gone.
constexpr qint64 kOdbcIdleProbeMs = 200;

} // namespace

bool AdoConnection::idleConnectionDead() {
    if (m_inTransaction || m_queryBusy || !connected())
        return false;
    const QSqlDatabase db = database();
    if (m_target.driver == QLatin1String("QPSQL"))
        return pgConnectionDead(db);
    if (m_target.driver != QLatin1String("QODBC"))
        return false;
    if (odbcConnectionDead(db))
        return true;
    if (m_odbcSocket >= 0) {
        struct stat st {};
        if (::fstat(m_odbcSocket, &st) == 0 && static_cast<quint64>(st.st_ino) == m_odbcSocketInode)
            return idleSocketEnded(m_odbcSocket);
    }
    if (m_target.dialect == Dialect::SQLite ||
        (m_lastStatement.isValid() && m_lastStatement.elapsed() < kOdbcIdleProbeMs))
        return false;
    return connectionLost();
}

void AdoConnection::ensureOpen() {
    // A connection the server has already ended is replaced before anything is sent on it; a
    // statement is never sent twice, so this is the only moment a fresh one can be taken.
    if (idleConnectionDead())
        close();
    if (!connected())
        openConnection(QString(), QString(), false);
}

void AdoConnection::record(const QString& tsql) {
    if (m_logging)
        m_log.append(tsql);
    if (m_hook)
        m_hook(tsql);
}

AdoConnection::Result AdoConnection::runSqliteNative(const QString& sql) {
    sqlite3* h = sqliteHandle(database());
    if (!h)
        throw DbError(QStringLiteral("The SQLite connection is not open."));
    const QByteArray utf8 = sql.toUtf8();
    const char* tail = utf8.constData();
    const char* end = tail + utf8.size();
    Result result;
    result.rowsAffected = 0;
    while (tail < end) {
        sqlite3_stmt* stmt = nullptr;
        const char* next = nullptr;
        int rc = sqlite3_prepare_v2(h, tail, static_cast<int>(end - tail), &stmt, &next);
        if (rc != SQLITE_OK)
            throw DbError(QString::fromUtf8(sqlite3_errmsg(h)));
        if (!stmt && next == tail) // a NUL character ends SQLite's reading: the rest is never run
            throw DbError(QStringLiteral("The statement text holds a NUL character."));
        tail = next;
        if (!stmt)
            continue; // blanks or a comment
        do {
            rc = sqlite3_step(stmt);
        } while (rc == SQLITE_ROW);
        if (rc != SQLITE_DONE) {
            const QString msg = QString::fromUtf8(sqlite3_errmsg(h));
            sqlite3_finalize(stmt);
            throw DbError(msg);
        }
        sqlite3_finalize(stmt);
        result.rowsAffected = sqlite3_changes(h);
    }
    return result;
}

namespace {

// The type Qt's SQLite driver gives a column declared as typeName.
QMetaType sqliteDeclaredType(const char* declared) {
    const QString typeName = QString::fromUtf8(declared).toLower();
    if (typeName == QLatin1String("integer") || typeName == QLatin1String("int"))
        return QMetaType(QMetaType::Int);
    if (typeName == QLatin1String("double") || typeName == QLatin1String("float") ||
        typeName == QLatin1String("real") || typeName.startsWith(QLatin1String("numeric")))
        return QMetaType(QMetaType::Double);
    if (typeName == QLatin1String("blob"))
        return QMetaType(QMetaType::QByteArray);
    if (typeName == QLatin1String("boolean") || typeName == QLatin1String("bool"))
        return QMetaType(QMetaType::Bool);
    return QMetaType(QMetaType::QString);
}

// A column with no declared type (an expression) takes the type of its value in the first row.
QMetaType sqliteValueType(int storageClass) {
    switch (storageClass) {
    case SQLITE_INTEGER:
        return QMetaType(QMetaType::Int);
    case SQLITE_FLOAT:
        return QMetaType(QMetaType::Double);
    case SQLITE_BLOB:
        return QMetaType(QMetaType::QByteArray);
    case SQLITE_TEXT:
        return QMetaType(QMetaType::QString);
    default:
        return QMetaType();
    }
}

// A column of the current row as Qt's SQLite driver reads it: integers as qlonglong, reals as
// double, NULL as a null text. Text that is plain ASCII is taken from SQLite's own UTF-8 bytes;
// any other text goes through SQLite's UTF-16 conversion, as the driver does, so that even bytes
// that are no valid UTF-8 read exactly as they always did.
QVariant sqliteValue(sqlite3_stmt* stmt, int i) {
    switch (sqlite3_column_type(stmt, i)) {
    case SQLITE_BLOB:
        return QByteArray(static_cast<const char*>(sqlite3_column_blob(stmt, i)),
                          sqlite3_column_bytes(stmt, i));
    case SQLITE_INTEGER:
        return QVariant(static_cast<qlonglong>(sqlite3_column_int64(stmt, i)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(stmt, i));
    case SQLITE_NULL:
        return QVariant(QMetaType::fromType<QString>());
    default: {
        const unsigned char* text = sqlite3_column_text(stmt, i);
        const int bytes = sqlite3_column_bytes(stmt, i);
        bool ascii = true;
        for (int k = 0; k < bytes && ascii; ++k)
            ascii = text[k] < 0x80 && text[k] != 0;
        if (ascii)
            return QString::fromLatin1(reinterpret_cast<const char*>(text), bytes);
        const void* wide = sqlite3_column_text16(stmt, i);
        return QString(static_cast<const QChar*>(wide), sqlite3_column_bytes16(stmt, i) / int(sizeof(QChar)));
    }
    }
}

// The PGresult behind a query on the PostgreSQL driver; null for any other driver.
const void* pgResult(const QSqlQuery& q) {
    const QVariant v = q.result() ? q.result()->handle() : QVariant();
    // Registered under the typedef's name or the structure's, depending on how Qt named it.
    if (v.isValid() && (qstrcmp(v.typeName(), "PGresult*") == 0 || qstrcmp(v.typeName(), "pg_result*") == 0))
        return *static_cast<void* const*>(v.constData());
    return nullptr;
}

QString pqText(const char* text) {
    return QString::fromUtf8(text).trimmed();
}

struct StatementGuard {
    sqlite3_stmt* stmt = nullptr;
    ~StatementGuard() { sqlite3_finalize(stmt); }
};

} // namespace

// A statement whose rows are wanted, run on SQLite's own handle: the names, declared types and
// values come straight from the statement, without a QSqlQuery and its per-row bookkeeping, and
// with the same names, types and values the Qt driver gives. As through the driver, one
// statement per text.
AdoConnection::Result AdoConnection::runSqliteRows(const QString& sql) {
    sqlite3* h = sqliteHandle(database());
    if (!h)
        throw DbError(QStringLiteral("The SQLite connection is not open."));
    const QByteArray utf8 = sql.toUtf8();
    StatementGuard g;
    const char* tail = nullptr;
    int rc = sqlite3_prepare_v2(h, utf8.constData(), static_cast<int>(utf8.size()), &g.stmt, &tail);
    if (rc != SQLITE_OK)
        throw DbError(QStringLiteral("Unable to execute statement: ") + QString::fromUtf8(sqlite3_errmsg(h)));
    const char* end = utf8.constData() + utf8.size();
    if (tail && tail < end && !QString::fromUtf8(tail, end - tail).trimmed().isEmpty())
        throw DbError(QStringLiteral("Unable to execute multiple statements at a time"));
    if (!g.stmt) // blanks or a comment: no statement to read rows from
        throw DbError(sql.trimmed().isEmpty() ? QStringLiteral("Unknown database error")
                                              : QStringLiteral("Unable to fetch row: No query"));
    Result result;
    const int n = sqlite3_column_count(g.stmt);
    result.fields.reserve(n);
    result.types.reserve(n);
    for (int i = 0; i < n; ++i) {
        result.fields.append(QString::fromUtf8(sqlite3_column_name(g.stmt, i)).remove(QLatin1Char('"')));
        const char* declared = sqlite3_column_decltype(g.stmt, i);
        result.types.append(declared && *declared ? sqliteDeclaredType(declared) : QMetaType());
    }
    bool first = true;
    while ((rc = sqlite3_step(g.stmt)) == SQLITE_ROW) {
        if (first) {
            for (int i = 0; i < n; ++i)
                if (!result.types[i].isValid())
                    result.types[i] = sqliteValueType(sqlite3_column_type(g.stmt, i));
            first = false;
        }
        QVector<QVariant> row;
        row.reserve(n);
        for (int i = 0; i < n; ++i)
            row.append(sqliteValue(g.stmt, i));
        result.rows.append(std::move(row));
    }
    if (rc != SQLITE_DONE)
        throw DbError(QStringLiteral("Unable to fetch row: ") + QString::fromUtf8(sqlite3_errmsg(h)));
    result.rowsAffected = sqlite3_changes(h);
    return result;
}

void AdoConnection::recordColumns(const QSqlQuery& q, Result* result) {
    const QSqlRecord rec = q.record();
    const int n = rec.count();
    result->fields.reserve(n);
    result->types.reserve(n);
    for (int i = 0; i < n; ++i) {
        const QSqlField field = rec.field(i); // fieldName() would copy the whole field again
        result->fields.append(field.name());
        result->types.append(field.metaType());
    }
}

// On PostgreSQL, QSqlQuery::record() builds a full field (table, size, precision) per column for
// every statement. The names are read from the result instead, and the type of each column from
// the type numbers the driver has already typed once on this connection (the driver's type of a
// column depends on its type number alone); a number not yet seen is learnt from record().
bool AdoConnection::pgColumns(const QSqlQuery& q, Result* result) {
    const PqApi& pq = pqApi();
    const void* res = pq.ok() ? pgResult(q) : nullptr;
    if (!res)
        return false;
    const int n = pq.nfields(res);
    result->fields.reserve(n);
    result->types.reserve(n);
    for (int i = 0; i < n; ++i) {
        const unsigned oid = pq.ftype(res, i);
        auto known = m_pgTypes.constFind(oid);
        if (known == m_pgTypes.constEnd()) {
            const QSqlRecord rec = q.record();
            if (rec.count() != n) {
                result->fields.clear();
                result->types.clear();
                return false;
            }
            for (int k = 0; k < n; ++k)
                m_pgTypes.insert(pq.ftype(res, k), rec.field(k).metaType());
            known = m_pgTypes.constFind(oid);
        }
        result->fields.append(QString::fromUtf8(pq.fname(res, i)));
        result->types.append(*known);
    }
    return true;
}

AdoConnection::Result AdoConnection::runOnce(const QString& sql, bool fetchRows) {
    if (m_target.driver == QLatin1String("QSQLITE"))
        return fetchRows ? runSqliteRows(sql) : runSqliteNative(sql);
    // The connection's query object, unless it is being read (then one of its own).
    std::unique_ptr<QSqlQuery> own;
    QSqlQuery* q = m_query.get();
    if (m_queryBusy) {
        own = std::make_unique<QSqlQuery>(database());
        q = own.get();
    } else if (!q) {
        m_query = std::make_unique<QSqlQuery>(database());
        q = m_query.get();
    }
    const bool shared = !own;
    if (shared)
        m_queryBusy = true;
    struct Release {
        QSqlQuery* q;
        bool* busy;
        QElapsedTimer* ended;
        ~Release() {
            q->finish(); // the result's memory and any cursor or lock go now, not at the next statement
            if (busy)
                *busy = false;
            ended->start();
        }
    } release{q, shared ? &m_queryBusy : nullptr, &m_lastStatement};

    q->setForwardOnly(true);
    if (!q->exec(sql))
        throw DbError(errorText(q->lastError()));
    Result result;
    result.rowsAffected = q->numRowsAffected();
    if (fetchRows && q->isSelect()) {
        // Names and types once per result; every value read once, by position.
        if (!pgColumns(*q, &result))
            recordColumns(*q, &result);
        const int n = result.fields.size();
        while (q->next()) {
            QVector<QVariant> row;
            row.reserve(n);
            for (int i = 0; i < n; ++i)
                row.append(q->value(i));
            result.rows.append(std::move(row));
        }
        const QSqlError error = q->lastError();
        if (error.isValid() && error.type() != QSqlError::NoError)
            throw DbError(errorText(error));
    }
    return result;
}

bool AdoConnection::connectionLost() {
    // Only a server connection can drop under a session; a statement the server refused leaves
    // the connection answering.
    if (m_target.driver == QLatin1String("QSQLITE") || !connected())
        return !connected();
    QSqlDatabase db = database();
    QSqlQuery probe(db);
    return !probe.exec(QStringLiteral("SELECT 1"));
}

AdoConnection::Result AdoConnection::run(const QString& tsql, bool fetchRows) {
    record(tsql);
    ensureOpen();
    const QString sql = translateStatement(tsql, m_target.dialect);
    // Behind a pooler in transaction mode (PgBouncer) each transaction may run on another server
    // connection than the one the session set standard_conforming_strings on at open. Only a
    // text holding a backslash reads differently with it off: such a text runs inside a
    // transaction that sets it on first, on the server connection that runs the text.
    const bool backslash = m_target.dialect == Dialect::PostgreSQL && sql.contains(QLatin1Char('\\'));
    if (backslash && !m_inTransaction) {
        AdoTransaction own(*this);
        Result r = runTranslated(sql, fetchRows, true);
        own.commit();
        return r;
    }
    return runTranslated(sql, fetchRows, backslash);
}

AdoConnection::Result AdoConnection::runTranslated(const QString& sql, bool fetchRows, bool backslash) {
    if (backslash && !m_standardStringsInTransaction) {
        try {
            runOnce(QStringLiteral("SET LOCAL standard_conforming_strings TO on"), false);
        } catch (const DbError& e) {
            throw DbError(
                QStringLiteral("The statement was not sent: the server refused standard_conforming_strings "
                               "on for it (%1).")
                    .arg(e.message()));
        }
        m_standardStringsInTransaction = true;
    }
    // On PostgreSQL a failed statement aborts the whole transaction. A savepoint around each
    // statement gives the behaviour the windows rely on: a refused statement is undone alone and
    // what was sent before it stays in the transaction.
    const bool guard = m_inTransaction && m_target.dialect == Dialect::PostgreSQL;
    if (!guard) {
        try {
            return runOnce(sql, fetchRows);
        } catch (const DbError& e) {
            // A connection that drops under a statement may have carried it out: its commit can
            // reach the server and only the reply be lost. It is never sent again; the error
            // says so, and the next statement starts on a fresh connection. Inside a
            // transaction the server has discarded the transaction with the connection.
            if (!connectionLost())
                throw;
            const bool wasInTransaction = m_inTransaction;
            close();
            if (wasInTransaction)
                throw;
            throw lostUnderStatement(e);
        }
    }
    QSqlDatabase db = database();
    QSqlQuery sp(db);
    if (!sp.exec(QStringLiteral("SAVEPOINT vardex_stmt"))) {
        const QString text = errorText(sp.lastError());
        if (connectionLost())
            close();
        throw DbError(text);
    }
    try {
        Result r = runOnce(sql, fetchRows);
        sp.exec(QStringLiteral("RELEASE SAVEPOINT vardex_stmt"));
        return r;
    } catch (...) {
        sp.exec(QStringLiteral("ROLLBACK TO SAVEPOINT vardex_stmt"));
        sp.exec(QStringLiteral("RELEASE SAVEPOINT vardex_stmt"));
        throw;
    }
}

AdoConnection::Result AdoConnection::runWithParameters(const QString& sql, const QStringList& parameters,
                                                       bool outsideTransaction) {
    record(sql);
    ensureOpen();
    if (m_target.dialect != Dialect::PostgreSQL)
        throw DbError(QStringLiteral("Statements with bound parameters are sent to PostgreSQL only."));
    if (outsideTransaction && m_inTransaction)
        throw DbError(
            QStringLiteral("The statement was not sent: it must run in a transaction of its own, and "
                           "one is open on this connection."));
    // ensureOpen() has replaced a connection the server ended while it sat idle (nothing was
    // sent on it). Once the statement has gone out nothing is sent again.
    const PqApi& pq = pqApi();
    void* conn = pq.parametersOk() ? pgConnection(database()) : nullptr;
    if (!conn)
        return runBoundByDriver(sql, parameters);
    // The end of the driver's last statement (its final result, the server's ready message) may
    // not have been read yet; it is read here, as PQexecParams would read it first, so that the
    // transaction state is known.
    if (pq.transactionStatus(conn) == PqApi::kTransactionActive)
        while (void* rest = pq.getResult(conn))
            pq.clear(rest);
    if (outsideTransaction && pq.transactionStatus(conn) != PqApi::kTransactionIdle)
        throw DbError(
            QStringLiteral("The statement was not sent: it must run in a transaction of its own, and "
                           "one is open on this connection."));
    std::vector<QByteArray> values;
    std::vector<const char*> pointers;
    values.reserve(size_t(parameters.size()));
    pointers.reserve(size_t(parameters.size()));
    for (const QString& p : parameters) {
        values.push_back(p.toUtf8()); // a null QString is sent as an empty text, never as NULL
        pointers.push_back(values.back().constData());
    }
    const QByteArray text = sql.toUtf8();
    struct Cleared {
        const PqApi& pq;
        void* result;
        ~Cleared() {
            if (result)
                pq.clear(result);
        }
    } res{pq, pq.execParams(conn, text.constData(), int(pointers.size()), nullptr, pointers.data(), nullptr,
                            nullptr, 0)};
    const int status = res.result ? pq.resultStatus(res.result) : -1;
    if (status != PqApi::kTuplesOk && status != PqApi::kCommandOk) {
        QString reason = res.result ? pqText(pq.resultErrorMessage(res.result)) : QString();
        if (reason.isEmpty())
            reason = pqText(pq.errorMessage(conn));
        if (pq.status(conn) != PqApi::kConnectionOk) {
            close();
            throw lostUnderStatement(DbError(reason));
        }
        throw DbError(reason.isEmpty() ? QStringLiteral("Unknown database error") : reason);
    }
    Result result;
    result.rowsAffected = QByteArray(pq.cmdTuples(res.result)).toInt();
    const int fields = pq.nfields(res.result);
    const int rows = pq.ntuples(res.result);
    for (int f = 0; f < fields; ++f)
        result.fields.append(QString::fromUtf8(pq.fname(res.result, f)));
    result.rows.reserve(rows);
    for (int r = 0; r < rows; ++r) {
        QVector<QVariant> row;
        row.reserve(fields);
        for (int f = 0; f < fields; ++f)
            row.append(pq.getisnull(res.result, r, f)
                           ? QVariant()
                           : QVariant(QString::fromUtf8(pq.getvalue(res.result, r, f),
                                                        pq.getlength(res.result, r, f))));
        result.rows.append(std::move(row));
    }
    return result;
}

// Through another driver (psqlODBC): the driver's own binding, $n written as ODBC's ?. The
// statement is sent once; a connection lost under it is closed and the error says so.
AdoConnection::Result AdoConnection::runBoundByDriver(const QString& sql, const QStringList& parameters) {
    static const QRegularExpression placeholder(QStringLiteral("\\$[0-9]+"));
    QString odbc = sql;
    odbc.replace(placeholder, QStringLiteral("?"));
    QSqlQuery q(database());
    q.setForwardOnly(true);
    Result result;
    bool ok = q.prepare(odbc);
    for (const QString& p : parameters)
        q.addBindValue(p.isNull() ? QLatin1String("") : p);
    ok = ok && q.exec();
    if (!ok) {
        const DbError e(errorText(q.lastError()));
        if (!connectionLost())
            throw e;
        close();
        throw lostUnderStatement(e);
    }
    result.rowsAffected = q.numRowsAffected();
    if (q.isSelect()) {
        recordColumns(q, &result);
        while (q.next()) {
            QVector<QVariant> row;
            for (int i = 0; i < result.fields.size(); ++i)
                row.append(q.value(i));
            result.rows.append(std::move(row));
        }
    }
    return result;
}

DbError AdoConnection::lostUnderStatement(const DbError& e) {
    return DbError(
        QStringLiteral("The connection to the store was lost while a statement was running; it may "
                       "or may not have been carried out, so it was not sent again (%1).")
            .arg(e.message()));
}

int AdoConnection::execute(const QString& tsql) {
    return run(tsql, false).rowsAffected;
}

void AdoConnection::beginTrans() {
    ensureOpen();
    if (m_inTransaction)
        throw DbError(QStringLiteral("A transaction is already open on this connection."));
    if (m_target.driver == QLatin1String("QSQLITE")) {
        // Take the write lock at once: a deferred transaction that later needs to write can fail
        // with "database is locked" without waiting when another desktop wrote in between.
        runSqliteNative(QStringLiteral("BEGIN IMMEDIATE"));
    } else {
        QSqlDatabase db = database();
        if (!db.transaction())
            throw DbError(errorText(db.lastError()));
    }
    m_inTransaction = true;
    m_administrationLocked = false;
    m_standardStringsInTransaction = false;
}

void AdoConnection::lockAdministration() {
    if (!m_inTransaction)
        throw DbError(QStringLiteral("The administration lock needs an open transaction."));
    if (m_administrationLocked)
        return;
    // One fixed key for every store on the server: administration of one store rarely waits
    // for another's, and the lock is held for one transaction only.
    switch (m_target.dialect) {
    case Dialect::PostgreSQL:
        runOnce(QStringLiteral("SELECT pg_advisory_xact_lock(7236917)"), false);
        break;
    case Dialect::SqlServer:
        runOnce(
            QStringLiteral("EXEC sp_getapplock @Resource = 'vardex administration', @LockMode = 'Exclusive', "
                           "@LockOwner = 'Transaction'"),
            false);
        break;
    case Dialect::SQLite:
        break;
    }
    m_administrationLocked = true;
}

void AdoConnection::executeOutsideTransaction(const QString& tsql) {
    if (m_inTransaction) {
        m_afterTransaction.append(tsql);
        return;
    }
    runKeptStatements();
    execute(tsql);
}

void AdoConnection::runKeptStatements() {
    const QStringList kept = std::exchange(m_afterTransaction, QStringList());
    for (const QString& sql : kept) {
        QString reason;
        try {
            execute(sql);
            continue;
        } catch (const Error& e) {
            reason = e.message();
        } catch (const std::exception& e) {
            reason = QString::fromLocal8Bit(e.what());
        }
        if (m_keptFailure)
            m_keptFailure(reason);
    }
}

void AdoConnection::commitTrans() {
    if (!m_inTransaction)
        throw DbError(QStringLiteral("No transaction is open on this connection."));
    try {
        if (m_target.driver == QLatin1String("QSQLITE")) {
            runSqliteNative(QStringLiteral("COMMIT"));
        } else {
            QSqlDatabase db = database();
            if (!db.commit()) {
                const QString text = errorText(db.lastError());
                // A COMMIT that reached the server may have been made though its reply was lost:
                // the error says so, and the next statement starts on a fresh connection.
                if (connectionLost()) {
                    close();
                    runKeptStatements();
                    throw DbError(QStringLiteral(
                                      "The connection to the store was lost while its transaction was being "
                                      "committed; the transaction may or may not have been carried out (%1).")
                                      .arg(text));
                }
                throw DbError(text);
            }
        }
    } catch (...) {
        if (!m_inTransaction)
            throw; // the connection was lost at the commit, and closed
        // Never leave the session inside a transaction nobody will end: every later write of
        // the session would be lost with it.
        try {
            rollbackTrans();
        } catch (...) {
        }
        m_inTransaction = false;
        runKeptStatements();
        throw;
    }
    m_inTransaction = false;
    runKeptStatements();
}

void AdoConnection::rollbackTrans() {
    if (!m_inTransaction)
        throw DbError(QStringLiteral("No transaction is open on this connection."));
    m_inTransaction = false;
    struct KeptStatements {
        AdoConnection* cn;
        ~KeptStatements() { cn->runKeptStatements(); }
    } kept{this};
    if (!connected())
        return; // the server ends an open transaction with the connection
    if (m_hook)
        m_hook(QStringLiteral("ROLLBACK")); // not in the statement log
    if (m_target.driver == QLatin1String("QSQLITE")) {
        sqlite3* h = sqliteHandle(database());
        if (h && !sqlite3_get_autocommit(h))
            runSqliteNative(QStringLiteral("ROLLBACK"));
    } else {
        QSqlDatabase db = database();
        if (!db.rollback())
            throw DbError(errorText(db.lastError()));
    }
}

AdoTransaction::AdoTransaction(AdoConnection& cn) : AdoTransaction(cn, true) {}

AdoTransaction::AdoTransaction(AdoConnection& cn, bool begin) : m_cn(&cn), m_active(false) {
    if (begin) {
        cn.beginTrans();
        m_active = true;
    }
}

void AdoTransaction::commit() {
    m_active = false;
    m_cn->commitTrans();
}

void AdoTransaction::rollback() {
    m_active = false;
    try {
        m_cn->rollbackTrans();
    } catch (...) {
        m_cn->close(); // what the server still holds goes with the connection
        throw;
    }
}

void AdoTransaction::abandon() noexcept {
    if (!active())
        return;
    m_active = false;
    QString reason;
    try {
        m_cn->rollbackTrans();
        return;
    } catch (const Error& e) {
        reason = e.message();
    } catch (const std::exception& e) {
        reason = QString::fromUtf8(e.what());
    } catch (...) {
    }
    try {
        m_cn->close();
        notifyWarning(
            QCoreApplication::translate("Ui", "事务回滚失败, 数据库连接已关闭, 未提交的更改已放弃: ") +
                reason,
            QCoreApplication::translate("Ui", "出错"));
    } catch (...) {
    }
}

QStringList AdoConnection::tableNames() {
    ensureOpen();
    return database().tables(QSql::Tables);
}

// ---------------------------------------------------------------------------------------------

QString AdoField::asString() const {
    if (isNull())
        return QString();
    return m_value.toString();
}

int AdoField::asInteger() const {
    if (isNull())
        return 0;
    bool ok = false;
    const qlonglong v = m_value.toLongLong(&ok);
    if (!ok) {
        const QString t = m_value.toString().trimmed();
        if (t.isEmpty())
            return 0;
        throw ConvertError(QStringLiteral("'%1' is not a valid integer value").arg(m_value.toString()));
    }
    return static_cast<int>(v);
}

AdoQuery::AdoQuery(AdoConnection* connection, const QString& initialSql) : m_connection(connection) {
    if (!initialSql.isEmpty())
        m_sql.append(initialSql);
}

void AdoQuery::clearSql() {
    close();
    m_sql.clear();
}

void AdoQuery::addSql(const QString& line) {
    close();
    m_sql.append(line);
}

void AdoQuery::setSql(const QString& oneLine) {
    close();
    m_sql = QStringList{oneLine};
}

void AdoQuery::setSqlLines(const QStringList& lines) {
    close();
    m_sql = lines;
}

QString AdoQuery::commandText() const {
    QString text;
    for (const QString& line : m_sql) {
        text += line;
        text += QLatin1String("\r\n");
    }
    return text;
}

void AdoQuery::open() {
    if (!m_connection)
        throw DbError(QStringLiteral("The query has no connection."));
    close();
    AdoConnection::Result r = m_connection->run(commandText(), true);
    m_fields = std::move(r.fields);
    m_types = std::move(r.types);
    m_rows = std::move(r.rows);
    m_current = 0;
    m_active = true;
}

void AdoQuery::close() {
    m_active = false;
    m_fields.clear();
    m_types.clear();
    m_editing = false;
    m_editBuffer.clear();
    m_insertPos = -1;
    m_rows.clear();
    m_current = 0;
    m_inserting = false;
    m_pending.clear();
}

int AdoQuery::execSql() {
    if (!m_connection)
        throw DbError(QStringLiteral("The query has no connection."));
    close();
    return m_connection->execute(commandText());
}

void AdoQuery::first() {
    m_current = 0;
}
void AdoQuery::next() {
    if (m_current < m_rows.size())
        ++m_current;
}
bool AdoQuery::eof() const {
    return !m_active || m_current >= m_rows.size();
}
void AdoQuery::moveTo(int index) {
    m_current = qBound(0, index, static_cast<int>(m_rows.size()));
}

int AdoQuery::fieldIndex(const QString& name) const {
    for (int i = 0; i < m_fields.size(); ++i)
        if (m_fields[i].compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

AdoField AdoQuery::fieldByName(const QString& name) const {
    if (!m_active)
        throw DbError(QStringLiteral("The query is not open."));
    const int idx = fieldIndex(name);
    if (idx < 0)
        throw DbError(QStringLiteral("Field '%1' not found").arg(name));
    // With no current record (an empty result) a field reads as NULL, as data-aware fields do.
    if (m_current >= m_rows.size())
        return AdoField(m_fields[idx], QVariant());
    return AdoField(m_fields[idx], m_rows[m_current][idx]);
}

QVariant AdoQuery::value(int row, int column) const {
    if (row < 0 || row >= m_rows.size() || column < 0 || column >= m_fields.size())
        return QVariant();
    return m_rows[row][column];
}

QString AdoQuery::tableName() const {
    // The table of "select ... from <table> ...".
    const QString text = commandText();
    const QStringList words = text.simplified().split(QLatin1Char(' '));
    for (int i = 0; i + 1 < words.size(); ++i)
        if (words[i].compare(QLatin1String("from"), Qt::CaseInsensitive) == 0)
            return words[i + 1];
    return QString();
}

void AdoQuery::append() {
    if (!m_active)
        throw DbError(QStringLiteral("The query is not open."));
    if (m_editing)
        throw DbError(QStringLiteral("The record being edited must be posted or cancelled first."));
    m_inserting = true;
    m_insertPos = -1;
    m_pending.clear();
}

void AdoQuery::insertAt(int index) {
    append();
    m_insertPos = qBound(0, index, static_cast<int>(m_rows.size()));
}

void AdoQuery::setFieldValue(const QString& name, const QVariant& value) {
    if (m_editing) {
        const int idx = fieldIndex(name);
        if (idx < 0)
            throw DbError(QStringLiteral("Field '%1' not found").arg(name));
        m_editBuffer[idx] = value;
        return;
    }
    if (!m_inserting)
        throw DbError(QStringLiteral("The query is not in insert mode."));
    for (auto& p : m_pending)
        if (p.first.compare(name, Qt::CaseInsensitive) == 0) {
            p.second = value;
            return;
        }
    m_pending.append({name, value});
}

void AdoQuery::post() {
    if (m_editing) {
        postEdit();
        return;
    }
    if (!m_inserting)
        return;
    const QString table = tableName();
    if (table.isEmpty())
        throw DbError(QStringLiteral("The query names no table to insert into."));
    QStringList columns;
    QStringList values;
    for (const auto& p : m_pending) {
        // A field read under an alias is written to the column it stands for.
        const int idx = fieldIndex(p.first);
        const QString aliased = idx >= 0 ? listedColumn(idx) : QString();
        columns.append(aliased.isEmpty() ? p.first : aliased);
        const QVariant& v = p.second;
        if (v.isNull() || !v.isValid())
            values.append(QStringLiteral("NULL"));
        else if (v.typeId() == QMetaType::Int || v.typeId() == QMetaType::LongLong ||
                 v.typeId() == QMetaType::UInt)
            values.append(QString::number(v.toLongLong()));
        else
            values.append(sqlLiteral(v.toString()));
    }
    // A new record that nothing was entered into is a row of NULLs (and column defaults).
    const QString sql = columns.isEmpty()
                            ? QStringLiteral("INSERT INTO ") + table + QStringLiteral(" DEFAULT VALUES")
                            : QStringLiteral("INSERT INTO ") + table + QStringLiteral(" (") +
                                  columns.join(QLatin1Char(',')) + QStringLiteral(") VALUES (") +
                                  values.join(QLatin1Char(',')) + QLatin1Char(')');
    m_connection->execute(sql);
    QVector<QVariant> row(m_fields.size());
    for (const auto& p : m_pending) {
        const int idx = fieldIndex(p.first);
        if (idx >= 0)
            row[idx] = p.second;
    }
    if (m_insertPos < 0 || m_insertPos >= m_rows.size()) {
        m_rows.append(row);
        m_current = m_rows.size() - 1;
    } else {
        m_rows.insert(m_insertPos, row);
        m_current = m_insertPos;
    }
    m_inserting = false;
    m_insertPos = -1;
    m_pending.clear();
}

void AdoQuery::cancel() {
    m_inserting = false;
    m_insertPos = -1;
    m_pending.clear();
    m_editing = false;
    m_editBuffer.clear();
}

// ---------------------------------------------------------------------------------------------
// Editing fetched records

namespace {

bool isNumberType(int typeId) {
    switch (typeId) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

bool sameValue(const QVariant& a, const QVariant& b) {
    const bool an = a.isNull() || !a.isValid();
    const bool bn = b.isNull() || !b.isValid();
    if (an || bn)
        return an == bn;
    if (isNumberType(a.typeId()) && isNumberType(b.typeId()))
        return a.toDouble() == b.toDouble();
    return a.toString() == b.toString();
}

// One item of a select list: the expression and the name the field is read under.
struct ListItem {
    QString expression;
    QString name;
};

QString unquoteName(QString n) {
    if (n.size() >= 2 && ((n.startsWith(QLatin1Char('"')) && n.endsWith(QLatin1Char('"'))) ||
                          (n.startsWith(QLatin1Char('[')) && n.endsWith(QLatin1Char(']')))))
        n = n.mid(1, n.size() - 2);
    return n;
}

// The items of "SELECT a AS x, b y, c FROM ..."; empty for "*" or a text that is no plain SELECT.
QVector<ListItem> selectList(const QString& text) {
    const QString t = text.simplified();
    static const QRegularExpression head(QStringLiteral("^select\\s+(.*?)\\s+from\\s"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = head.match(t + QLatin1Char(' '));
    if (!m.hasMatch())
        return {};
    const QString list = m.captured(1);
    QStringList items;
    int depth = 0;
    bool quoted = false;
    QString cur;
    for (const QChar c : list) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        else if (!quoted && c == QLatin1Char('('))
            ++depth;
        else if (!quoted && c == QLatin1Char(')'))
            --depth;
        if (!quoted && depth == 0 && c == QLatin1Char(',')) {
            items.append(cur.trimmed());
            cur.clear();
        } else {
            cur += c;
        }
    }
    items.append(cur.trimmed());
    QVector<ListItem> out;
    static const QRegularExpression withAs(QStringLiteral("^(.+)\\s+as\\s+(\\S+)$"),
                                           QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression bare(QStringLiteral("^(\\S+)\\s+(\\S+)$"));
    for (const QString& item : items) {
        if (item == QLatin1String("*") || item.endsWith(QLatin1String(".*")))
            return {};
        QRegularExpressionMatch im = withAs.match(item);
        if (!im.hasMatch())
            im = bare.match(item);
        if (im.hasMatch()) {
            out.append({im.captured(1).trimmed(), unquoteName(im.captured(2))});
        } else {
            const QString name = item.mid(item.lastIndexOf(QLatin1Char('.')) + 1);
            out.append({item, unquoteName(name)});
        }
    }
    return out;
}

bool isPlainColumn(const QString& e) {
    static const QRegularExpression plain(QStringLiteral("^[\\w.\"\\[\\]]+$"));
    return plain.match(e).hasMatch() && !e.front().isDigit();
}

} // namespace

bool AdoQuery::isNumericField(int i) const {
    return isNumberType(m_types.value(i).id());
}

QString AdoQuery::listedColumn(int field) const {
    const QString name = m_fields.value(field);
    for (const ListItem& item : selectList(commandText()))
        if (item.name.compare(name, Qt::CaseInsensitive) == 0)
            return isPlainColumn(item.expression) ? item.expression : QString();
    return QString();
}

QString AdoQuery::baseColumn(int field) const {
    if (field < 0 || field >= m_fields.size())
        return QString();
    const QVector<ListItem> items = selectList(commandText());
    if (items.isEmpty())
        return m_fields[field]; // select *: the fields are the table's columns
    return listedColumn(field);
}

QString AdoQuery::literal(const QVariant& v) const {
    if (v.isNull() || !v.isValid())
        return QStringLiteral("NULL");
    if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float)
        return QString::number(v.toDouble(), 'g', 17);
    if (isNumberType(v.typeId()))
        return v.toString();
    if (v.typeId() == QMetaType::Bool)
        return v.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    return sqlLiteral(v.toString());
}

QString AdoQuery::locateCondition(const QVector<QVariant>& row) const {
    QStringList parts;
    for (int i = 0; i < m_fields.size(); ++i) {
        const QString column = baseColumn(i);
        if (column.isEmpty())
            continue;
        const QVariant& v = row.value(i);
        if (v.isNull() || !v.isValid())
            parts.append(column + QStringLiteral(" IS NULL"));
        else
            parts.append(column + QStringLiteral(" = ") + literal(v));
    }
    if (parts.isEmpty())
        throw DbError(QStringLiteral("The record has no column to locate its row by."));
    return parts.join(QStringLiteral(" AND "));
}

QString AdoQuery::oneRowStatement(bool update, const QString& setList, const QString& condition) const {
    const QString table = tableName();
    if (table.isEmpty())
        throw DbError(QStringLiteral("The query names no table to change."));
    const Dialect d = m_connection ? m_connection->dialect() : Dialect::SqlServer;
    if (d == Dialect::SqlServer)
        return update ? QStringLiteral("UPDATE TOP (1) %1 SET %2 WHERE %3").arg(table, setList, condition)
                      : QStringLiteral("DELETE TOP (1) FROM %1 WHERE %2").arg(table, condition);
    // Of several identical rows exactly one is taken, by its physical row address.
    const QString address = d == Dialect::SQLite ? QStringLiteral("rowid") : QStringLiteral("ctid");
    const QString pick =
        QStringLiteral("%1 = (SELECT %1 FROM %2 WHERE %3 LIMIT 1)").arg(address, table, condition);
    return update ? QStringLiteral("UPDATE %1 SET %2 WHERE %3").arg(table, setList, pick)
                  : QStringLiteral("DELETE FROM %1 WHERE %2").arg(table, pick);
}

bool AdoQuery::modified() const {
    if (m_inserting)
        return !m_pending.isEmpty();
    if (!m_editing)
        return false;
    for (int i = 0; i < m_fields.size(); ++i)
        if (!sameValue(m_rows[m_current].value(i), m_editBuffer.value(i)))
            return true;
    return false;
}

void AdoQuery::edit() {
    if (!m_active)
        throw DbError(QStringLiteral("The query is not open."));
    if (m_inserting || m_editing)
        return;
    if (m_current < 0 || m_current >= m_rows.size())
        throw DbError(QStringLiteral("There is no current record to edit."));
    m_editBuffer = m_rows[m_current];
    m_editing = true;
}

QVariant AdoQuery::bufferValue(int column) const {
    if (m_editing)
        return m_editBuffer.value(column);
    if (m_inserting) {
        const QString name = m_fields.value(column);
        for (const auto& p : m_pending)
            if (p.first.compare(name, Qt::CaseInsensitive) == 0)
                return p.second;
        return QVariant();
    }
    return value(m_current, column);
}

void AdoQuery::postEdit() {
    const QVector<QVariant>& original = m_rows[m_current];
    QStringList sets;
    for (int i = 0; i < m_fields.size(); ++i) {
        if (sameValue(original.value(i), m_editBuffer.value(i)))
            continue;
        const QString column = baseColumn(i);
        if (column.isEmpty())
            throw DbError(QStringLiteral("Field '%1' cannot be modified").arg(m_fields[i]));
        sets.append(column + QStringLiteral(" = ") + literal(m_editBuffer.value(i)));
    }
    if (!sets.isEmpty()) {
        const QString sql = oneRowStatement(true, sets.join(QStringLiteral(", ")), locateCondition(original));
        if (m_connection->execute(sql) != 1)
            throw DbError(QStringLiteral("Row cannot be located for updating. Some values may have been "
                                         "changed since it was last read."));
    }
    m_rows[m_current] = m_editBuffer;
    m_editing = false;
    m_editBuffer.clear();
}

void AdoQuery::deleteRecord() {
    if (!m_active)
        throw DbError(QStringLiteral("The query is not open."));
    if (m_inserting) {
        cancel(); // a record not yet posted is only dropped
        return;
    }
    if (m_current < 0 || m_current >= m_rows.size())
        throw DbError(QStringLiteral("There is no current record to delete."));
    const QString sql = oneRowStatement(false, QString(), locateCondition(m_rows[m_current]));
    if (m_connection->execute(sql) != 1)
        throw DbError(QStringLiteral(
            "Row cannot be located for deleting. Some values may have been changed since it was last read."));
    m_editing = false;
    m_editBuffer.clear();
    m_rows.removeAt(m_current);
    if (m_current >= m_rows.size() && m_current > 0)
        m_current = m_rows.size() - 1;
}

} // namespace vardex
