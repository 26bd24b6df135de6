#include "platform/adodb.h"
#include "platform/sqldialect.h"

#include <QAtomicInt>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <sqlite3.h>

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

} // namespace

AdoConnection::AdoConnection() : m_name(QStringLiteral("vardex-%1").arg(g_connectionCounter.fetchAndAddRelaxed(1))) {}

AdoConnection::~AdoConnection() {
    try {
        close();
    } catch (...) {
    }
    if (QSqlDatabase::contains(m_name))
        QSqlDatabase::removeDatabase(m_name);
}

QSqlDatabase AdoConnection::database() const { return QSqlDatabase::database(m_name, false); }

void AdoConnection::setConnectionString(const QString& text) {
    close();
    m_connectionString = text;
}

void AdoConnection::open(const QString& userId, const QString& password) {
    close();
    m_spec = ConnectionString::resolve(m_connectionString);
    if (QSqlDatabase::contains(m_name))
        QSqlDatabase::removeDatabase(m_name);
    if (!QSqlDatabase::isDriverAvailable(m_spec.driver))
        throw DbError(QStringLiteral("The database driver %1 is not installed.").arg(m_spec.driver));
    QSqlDatabase db = QSqlDatabase::addDatabase(m_spec.driver, m_name);
    db.setDatabaseName(m_spec.databaseName);
    if (!m_spec.host.isEmpty())
        db.setHostName(m_spec.host);
    if (m_spec.port > 0)
        db.setPort(m_spec.port);
    QString options = m_spec.options;
    if (m_spec.driver == QLatin1String("QSQLITE"))
        options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000");
    else if (m_spec.driver == QLatin1String("QODBC") && options.isEmpty())
        options = QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=10;SQL_ATTR_CONNECTION_TIMEOUT=10");
    db.setConnectOptions(options);
    const QString user = userId.isEmpty() ? m_spec.userId : userId;
    const QString pwd = userId.isEmpty() && password.isEmpty() ? m_spec.password : password;
    if (!db.open(user, pwd)) {
        const QString text = errorText(db.lastError());
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
        throw DbError(text);
    }
    try {
        if (m_spec.driver == QLatin1String("QSQLITE")) {
            // Several desktops may share one file: write-ahead log so readers never wait for a
            // writer, and a busy timeout so writers queue instead of failing at once.
            runSqliteNative(QStringLiteral("PRAGMA journal_mode=WAL"));
            runSqliteNative(QStringLiteral("PRAGMA synchronous=NORMAL"));
        } else if (m_spec.dialect == Dialect::PostgreSQL) {
            QSqlQuery q(db);
            q.exec(QStringLiteral("SET client_min_messages TO warning"));
        }
    } catch (...) {
        db.close();
        throw;
    }
}

void AdoConnection::close() {
    m_inTransaction = false;
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

void AdoConnection::ensureOpen() {
    if (!connected())
        open();
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

AdoConnection::Result AdoConnection::runOnce(const QString& sql, bool fetchRows) {
    if (m_spec.driver == QLatin1String("QSQLITE") && !fetchRows)
        return runSqliteNative(sql);
    QSqlDatabase db = database();
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(sql))
        throw DbError(errorText(q.lastError()));
    Result result;
    result.rowsAffected = q.numRowsAffected();
    if (fetchRows && q.isSelect()) {
        const QSqlRecord rec = q.record();
        for (int i = 0; i < rec.count(); ++i)
            result.fields.append(rec.fieldName(i));
        const int n = rec.count();
        while (q.next()) {
            QVector<QVariant> row(n);
            for (int i = 0; i < n; ++i)
                row[i] = q.value(i);
            result.rows.append(std::move(row));
        }
        if (q.lastError().isValid() && q.lastError().type() != QSqlError::NoError)
            throw DbError(errorText(q.lastError()));
    }
    return result;
}

AdoConnection::Result AdoConnection::run(const QString& tsql, bool fetchRows) {
    record(tsql);
    ensureOpen();
    const QString sql = translateStatement(tsql, m_spec.dialect);
    // On PostgreSQL a failed statement aborts the whole transaction. A savepoint around each
    // statement gives the behaviour the windows rely on: a refused statement is undone alone and
    // what was sent before it stays in the transaction.
    const bool guard = m_inTransaction && m_spec.dialect == Dialect::PostgreSQL;
    if (!guard)
        return runOnce(sql, fetchRows);
    QSqlDatabase db = database();
    QSqlQuery sp(db);
    if (!sp.exec(QStringLiteral("SAVEPOINT vardex_stmt")))
        throw DbError(errorText(sp.lastError()));
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

int AdoConnection::execute(const QString& tsql) { return run(tsql, false).rowsAffected; }

void AdoConnection::beginTrans() {
    ensureOpen();
    if (m_inTransaction)
        throw DbError(QStringLiteral("A transaction is already open on this connection."));
    if (m_spec.driver == QLatin1String("QSQLITE")) {
        // Take the write lock at once: a deferred transaction that later needs to write can fail
        // with "database is locked" without waiting when another desktop wrote in between.
        runSqliteNative(QStringLiteral("BEGIN IMMEDIATE"));
    } else {
        QSqlDatabase db = database();
        if (!db.transaction())
            throw DbError(errorText(db.lastError()));
    }
    m_inTransaction = true;
}

void AdoConnection::commitTrans() {
    if (!m_inTransaction)
        throw DbError(QStringLiteral("No transaction is open on this connection."));
    try {
        if (m_spec.driver == QLatin1String("QSQLITE")) {
            runSqliteNative(QStringLiteral("COMMIT"));
        } else {
            QSqlDatabase db = database();
            if (!db.commit())
                throw DbError(errorText(db.lastError()));
        }
    } catch (...) {
        // Never leave the session inside a transaction nobody will end: every later write of
        // the session would be lost with it.
        try {
            rollbackTrans();
        } catch (...) {
        }
        m_inTransaction = false;
        throw;
    }
    m_inTransaction = false;
}

void AdoConnection::rollbackTrans() {
    if (!m_inTransaction)
        throw DbError(QStringLiteral("No transaction is open on this connection."));
    m_inTransaction = false;
    if (!connected())
        return; // the server ends an open transaction with the connection
    if (m_spec.driver == QLatin1String("QSQLITE")) {
        sqlite3* h = sqliteHandle(database());
        if (h && !sqlite3_get_autocommit(h))
            runSqliteNative(QStringLiteral("ROLLBACK"));
    } else {
        QSqlDatabase db = database();
        if (!db.rollback())
            throw DbError(errorText(db.lastError()));
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
    m_fields = r.fields;
    m_rows = std::move(r.rows);
    m_current = 0;
    m_active = true;
}

void AdoQuery::close() {
    m_active = false;
    m_fields.clear();
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

void AdoQuery::first() { m_current = 0; }
void AdoQuery::next() {
    if (m_current < m_rows.size())
        ++m_current;
}
bool AdoQuery::eof() const { return !m_active || m_current >= m_rows.size(); }
void AdoQuery::moveTo(int index) { m_current = qBound(0, index, static_cast<int>(m_rows.size())); }

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
    m_inserting = true;
    m_pending.clear();
}

void AdoQuery::setFieldValue(const QString& name, const QVariant& value) {
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
    if (!m_inserting)
        return;
    const QString table = tableName();
    if (table.isEmpty())
        throw DbError(QStringLiteral("The query names no table to insert into."));
    QStringList columns;
    QStringList values;
    for (const auto& p : m_pending) {
        columns.append(p.first);
        const QVariant& v = p.second;
        if (v.isNull() || !v.isValid())
            values.append(QStringLiteral("NULL"));
        else if (v.typeId() == QMetaType::Int || v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::UInt)
            values.append(QString::number(v.toLongLong()));
        else
            values.append(QLatin1Char('\'') + escapeQuotes(v.toString()) + QLatin1Char('\''));
    }
    const QString sql = QStringLiteral("INSERT INTO ") + table + QStringLiteral(" (") + columns.join(QLatin1Char(',')) +
                        QStringLiteral(") VALUES (") + values.join(QLatin1Char(',')) + QLatin1Char(')');
    m_connection->execute(sql);
    QVector<QVariant> row(m_fields.size());
    for (const auto& p : m_pending) {
        const int idx = fieldIndex(p.first);
        if (idx >= 0)
            row[idx] = p.second;
    }
    m_rows.append(row);
    m_current = m_rows.size() - 1;
    m_inserting = false;
    m_pending.clear();
}

void AdoQuery::cancel() {
    m_inserting = false;
    m_pending.clear();
}

} // namespace vardex
