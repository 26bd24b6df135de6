#include "platform/dbbackend.h"

#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlRecord>

#include <poll.h>
#include <utility>

namespace vardex {

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

std::unique_ptr<DbBackend> DbBackend::create(const QString& connectionName, const ConnectionTarget& target) {
    if (!QSqlDatabase::isDriverAvailable(target.driver))
        throw DbError(QStringLiteral("The database driver %1 is not installed.").arg(target.driver));
    if (target.driver == QLatin1String("QSQLITE"))
        return makeSqliteBackend(connectionName, target);
    if (target.driver == QLatin1String("QODBC"))
        return makeOdbcBackend(connectionName, target);
    return makePostgresBackend(connectionName, target);
}

DbBackend::DbBackend(QString connectionName, ConnectionTarget target)
    : m_name(std::move(connectionName)), m_target(std::move(target)) {}

DbBackend::~DbBackend() {
    m_query.reset();
}

QSqlDatabase DbBackend::database() const {
    return QSqlDatabase::database(m_name, false);
}

void DbBackend::open(const QString& user, const QString& password, bool create) {
    close();
    if (QSqlDatabase::contains(m_name))
        QSqlDatabase::removeDatabase(m_name);
    openDatabase(user, password, create);
    m_lastStatement.start();
}

void DbBackend::dropQuery() {
    if (!m_queryBusy)
        m_query.reset();
}

void DbBackend::close() {
    m_snapshotByText = false;
    dropQuery();
    if (!QSqlDatabase::contains(m_name))
        return;
    QSqlDatabase db = database();
    if (db.isOpen())
        db.close();
}

bool DbBackend::connected() const {
    if (!QSqlDatabase::contains(m_name))
        return false;
    return database().isOpen();
}

bool DbBackend::connectionLost() {
    // A statement the server refused leaves the connection answering.
    if (!connected())
        return true;
    QSqlQuery probe(database());
    return !probe.exec(QStringLiteral("SELECT 1"));
}

DbError DbBackend::lostUnderStatement(const DbError& e) {
    return DbError(
        QStringLiteral("The connection to the store was lost while a statement was running; it may "
                       "or may not have been carried out, so it was not sent again (%1).")
            .arg(e.message()));
}

void DbBackend::setStandardStrings() {
    // Every value is put between single quotes with its quotes doubled. With
    // standard_conforming_strings off (a database or role setting, PGOPTIONS, a connection
    // option) a backslash would escape the closing quote, so the session insists on it.
    QSqlQuery q(database());
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
    QSqlQuery(database()).exec(QStringLiteral("SET client_min_messages TO warning"));
}

bool DbBackend::readsBackslashes(const QString& sql) const {
    return m_target.dialect == Dialect::PostgreSQL && sql.contains(QLatin1Char('\\'));
}

void DbBackend::standardStringsForTransaction() {
    try {
        run(QStringLiteral("SET LOCAL standard_conforming_strings TO on"), false);
    } catch (const DbError& e) {
        throw DbError(
            QStringLiteral("The statement was not sent: the server refused standard_conforming_strings "
                           "on for it (%1).")
                .arg(e.message()));
    }
}

bool idleSocketEnded(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

void DbBackend::recordColumns(const QSqlQuery& q, DbResult* result) {
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

DbResult DbBackend::runQuery(const QString& sql, bool fetchRows) {
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
    DbResult result;
    result.rowsAffected = q->numRowsAffected();
    if (fetchRows && q->isSelect()) {
        // Names and types once per result; every value read once, by position.
        if (!columns(*q, &result))
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

DbResult DbBackend::runUnderSavepoint(const QString& sql, bool fetchRows, bool* lost) {
    *lost = false;
    QSqlQuery sp(database());
    if (!sp.exec(QStringLiteral("SAVEPOINT vardex_stmt"))) {
        const QString text = errorText(sp.lastError());
        if (connectionLost()) {
            close();
            *lost = true;
        }
        throw DbError(text);
    }
    try {
        DbResult r = run(sql, fetchRows);
        sp.exec(QStringLiteral("RELEASE SAVEPOINT vardex_stmt"));
        return r;
    } catch (...) {
        sp.exec(QStringLiteral("ROLLBACK TO SAVEPOINT vardex_stmt"));
        sp.exec(QStringLiteral("RELEASE SAVEPOINT vardex_stmt"));
        throw;
    }
}

// The driver's own binding, $n written as ODBC's ?. The statement is sent once; a connection
// lost under it is closed and the error says so.
DbResult DbBackend::runWithParameters(const QString& sql, const QStringList& parameters, bool) {
    static const QRegularExpression placeholder(QStringLiteral("\\$[0-9]+"));
    QString odbc = sql;
    odbc.replace(placeholder, QStringLiteral("?"));
    QSqlQuery q(database());
    q.setForwardOnly(true);
    DbResult result;
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

void DbBackend::begin() {
    m_snapshotByText = false;
    QSqlDatabase db = database();
    if (!db.transaction())
        throw DbError(errorText(db.lastError()));
}

void DbBackend::beginReadSnapshot() {
    if (m_target.dialect != Dialect::PostgreSQL) {
        begin(); // SQL Server: an ordinary transaction, in the database's isolation level
        return;
    }
    run(QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"), false);
    m_snapshotByText = true;
    // The snapshot is taken by the first statement of the transaction: one is made at once.
    try {
        run(QStringLiteral("SELECT 1"), false);
    } catch (...) {
        try {
            rollback();
        } catch (...) {
        }
        throw;
    }
}

void DbBackend::commit() {
    if (std::exchange(m_snapshotByText, false)) {
        run(QStringLiteral("COMMIT"), false);
        return;
    }
    QSqlDatabase db = database();
    if (!db.commit())
        throw DbError(errorText(db.lastError()));
}

void DbBackend::rollback() {
    if (std::exchange(m_snapshotByText, false)) {
        run(QStringLiteral("ROLLBACK"), false);
        return;
    }
    QSqlDatabase db = database();
    if (!db.rollback())
        throw DbError(errorText(db.lastError()));
}

void DbBackend::lockAdministration() {
    const QString lock = sql().administrationLock();
    if (!lock.isEmpty())
        run(lock, false);
}

QStringList DbBackend::tableNames() {
    return database().tables(QSql::Tables);
}

} // namespace vardex
