#include "platform/adodb.h"
#include "platform/msgservice.h"

#include <QAtomicInt>
#include <QCoreApplication>

#include <utility>

namespace vardex {

namespace {

QAtomicInt g_connectionCounter;

} // namespace

AdoConnection::AdoConnection()
    : m_name(QStringLiteral("vardex-%1").arg(g_connectionCounter.fetchAndAddRelaxed(1))) {}

AdoConnection::~AdoConnection() {
    forgetCredentials();
    try {
        close();
    } catch (...) {
    }
    m_backend.reset(); // its query objects go before the connection they run on
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

void AdoConnection::openConnection(const QString& userId, const QString& password, bool create) {
    close();
    m_target = ConnectionString::resolve(m_connectionString);
    m_backend.reset();
    if (QSqlDatabase::contains(m_name))
        QSqlDatabase::removeDatabase(m_name);
    m_backend = DbBackend::create(m_name, m_target);
    // Credentials given now take the place of kept ones; none given: the kept ones, if any.
    const bool given = !userId.isEmpty() || !password.isEmpty();
    const QString openUser = given ? userId : m_keptUserId;
    const QString openPassword = given ? password : m_keptPassword;
    const QString user = openUser.isEmpty() ? m_target.userId : openUser;
    const QString pwd = openUser.isEmpty() && openPassword.isEmpty() ? m_target.password : openPassword;
    m_backend->open(user, pwd, create);
    m_target.dialect = m_backend->dialect(); // through ODBC, what the driver reaches
    if (given) {
        m_keptUserId = userId;
        m_keptPassword = password;
    }
}

void AdoConnection::close() {
    m_inTransaction = false;
    if (m_backend) {
        m_backend->close();
        return;
    }
    if (QSqlDatabase::contains(m_name) && database().isOpen())
        database().close();
}

bool AdoConnection::connected() const {
    return m_backend && m_backend->connected();
}

void AdoConnection::closeWhenLost() {
    if (m_backend && !m_backend->connected())
        close();
}

void AdoConnection::ensureOpen() {
    // A connection the server has already ended is replaced before anything is sent on it; a
    // statement is never sent twice, so this is the only moment a fresh one can be taken.
    if (m_backend && !m_inTransaction && m_backend->idleConnectionDead())
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

AdoConnection::Result AdoConnection::run(const QString& tsql, bool fetchRows) {
    record(tsql);
    ensureOpen();
    const QString sql = m_backend->sql().translate(tsql);
    // Only a text holding a backslash reads differently with standard_conforming_strings off:
    // such a text runs inside a transaction that sets it on first, on the server connection
    // that runs the text.
    const bool backslash = m_backend->readsBackslashes(sql);
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
        m_backend->standardStringsForTransaction();
        m_standardStringsInTransaction = true;
    }
    // Where a failed statement aborts the whole transaction, each statement runs under a
    // savepoint: a refused statement is undone alone and what was sent before it stays in the
    // transaction, as the windows rely on.
    if (m_inTransaction && m_backend->sql().failureAbortsTransaction()) {
        bool lost = false;
        try {
            return m_backend->runUnderSavepoint(sql, fetchRows, &lost);
        } catch (...) {
            if (lost)
                close();
            throw;
        }
    }
    try {
        return m_backend->run(sql, fetchRows);
    } catch (const DbError& e) {
        // A connection that drops under a statement may have carried it out: its commit can
        // reach the server and only the reply be lost. It is never sent again; the error says
        // so, and the next statement starts on a fresh connection. Inside a transaction the
        // server has discarded the transaction with the connection.
        if (!m_backend->connectionLost())
            throw;
        const bool wasInTransaction = m_inTransaction;
        close();
        if (wasInTransaction)
            throw;
        throw DbBackend::lostUnderStatement(e);
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
    try {
        return m_backend->runWithParameters(sql, parameters, outsideTransaction);
    } catch (...) {
        closeWhenLost();
        throw;
    }
}

int AdoConnection::execute(const QString& tsql) {
    return run(tsql, false).rowsAffected;
}

void AdoConnection::beginTrans() {
    ensureOpen();
    if (m_inTransaction)
        throw DbError(QStringLiteral("A transaction is already open on this connection."));
    m_backend->begin();
    m_inTransaction = true;
    m_administrationLocked = false;
    m_standardStringsInTransaction = false;
}

void AdoConnection::beginReadSnapshot() {
    ensureOpen();
    if (m_inTransaction)
        throw DbError(QStringLiteral("A transaction is already open on this connection."));
    try {
        m_backend->beginReadSnapshot();
    } catch (...) {
        closeWhenLost();
        throw;
    }
    m_inTransaction = true;
    m_administrationLocked = false;
    m_standardStringsInTransaction = false;
}

QVector<AdoConnection::RawRow> AdoConnection::rawRows(const QString& table, const QStringList& columns,
                                                      const QVector<bool>& integer) {
    ensureOpen(); // the kind of database is known once open
    const DialectSql& d = sql();
    QVector<RawRow> out;
    for (const QVector<QVariant>& values : run(d.rawSelect(table, columns, integer), true).rows)
        out.append(d.rawRow(values, integer));
    return out;
}

void AdoConnection::lockAdministration() {
    if (!m_inTransaction)
        throw DbError(QStringLiteral("The administration lock needs an open transaction."));
    if (m_administrationLocked)
        return;
    m_backend->lockAdministration();
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
        try {
            m_backend->commit();
        } catch (const DbError& e) {
            // A COMMIT that reached the server may have been made though its reply was lost:
            // the error says so, and the next statement starts on a fresh connection.
            if (!m_backend->connectionLost())
                throw;
            close();
            runKeptStatements();
            throw DbError(
                QStringLiteral("The connection to the store was lost while its transaction was being "
                               "committed; the transaction may or may not have been carried out (%1).")
                    .arg(e.message()));
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
    m_backend->rollback();
}

QStringList AdoConnection::tableNames() {
    ensureOpen();
    return m_backend->tableNames();
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

} // namespace vardex
