// SQLite through its own C interface, on the handle Qt's SQLite driver opened.
#include "platform/dbbackend.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QUrl>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

namespace vardex {

namespace {

sqlite3* sqliteHandle(const QSqlDatabase& db) {
    const QVariant v = db.driver() ? db.driver()->handle() : QVariant();
    if (v.isValid() && qstrcmp(v.typeName(), "sqlite3*") == 0)
        return *static_cast<sqlite3* const*>(v.constData());
    return nullptr;
}

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

// The file as an SQLite URI that opens it for reading and writing but never creates it.
QString noCreateUri(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    return QStringLiteral("file://") + QString::fromLatin1(QUrl::toPercentEncoding(absolute, "/")) +
           QStringLiteral("?mode=rw");
}

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

struct StatementGuard {
    sqlite3_stmt* stmt = nullptr;
    ~StatementGuard() { sqlite3_finalize(stmt); }
};

class SqliteBackend final : public DbBackend {
  public:
    SqliteBackend(const QString& name, const ConnectionTarget& target) : DbBackend(name, target) {}

    bool connectionLost() override { return !connected(); } // a file does not drop

    DbResult run(const QString& sql, bool fetchRows) override { return fetchRows ? rows(sql) : script(sql); }

    // Takes the write lock at once: a deferred transaction that later needs to write can fail
    // with "database is locked" without waiting when another desktop wrote in between.
    void begin() override { script(QStringLiteral("BEGIN IMMEDIATE")); }
    // A reader of the write-ahead log: its snapshot is taken by its first read, made at once.
    void beginReadSnapshot() override {
        script(QStringLiteral("BEGIN DEFERRED"));
        try {
            script(QStringLiteral("SELECT count(*) FROM sqlite_master"));
        } catch (...) {
            script(QStringLiteral("ROLLBACK"));
            throw;
        }
    }
    void commit() override { script(QStringLiteral("COMMIT")); }
    void rollback() override {
        sqlite3* h = sqliteHandle(database());
        if (h && !sqlite3_get_autocommit(h))
            script(QStringLiteral("ROLLBACK"));
    }

  protected:
    void openDatabase(const QString& user, const QString& password, bool create) override;

  private:
    DbResult script(const QString& sql);
    DbResult rows(const QString& sql);
};

void SqliteBackend::openDatabase(const QString& user, const QString& password, bool create) {
    QString databaseName = m_target.databaseName;
    QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000");
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
    QSqlDatabase db = QSqlDatabase::addDatabase(m_target.driver, m_name);
    db.setDatabaseName(databaseName);
    db.setConnectOptions(options);
    if (!db.open(user, password)) {
        const QString text = errorText(db.lastError());
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
        throw DbError(text);
    }
    try {
        // Several desktops may share one file: write-ahead log so readers never wait for a
        // writer, and a busy timeout so writers queue instead of failing at once.
        script(QStringLiteral("PRAGMA journal_mode=WAL"));
        script(QStringLiteral("PRAGMA synchronous=NORMAL"));
    } catch (...) {
        db.close();
        throw;
    }
}

// Every statement of the text, in order, on SQLite's own handle.
DbResult SqliteBackend::script(const QString& sql) {
    sqlite3* h = sqliteHandle(database());
    if (!h)
        throw DbError(QStringLiteral("The SQLite connection is not open."));
    const QByteArray utf8 = sql.toUtf8();
    const char* tail = utf8.constData();
    const char* end = tail + utf8.size();
    DbResult result;
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

// A statement whose rows are wanted: the names, declared types and values come straight from
// the statement, without a QSqlQuery and its per-row bookkeeping, and with the same names, types
// and values the Qt driver gives. As through the driver, one statement per text.
DbResult SqliteBackend::rows(const QString& sql) {
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
    DbResult result;
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

} // namespace

std::unique_ptr<DbBackend> makeSqliteBackend(const QString& name, const ConnectionTarget& target) {
    return std::make_unique<SqliteBackend>(name, target);
}

} // namespace vardex
