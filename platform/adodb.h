#pragma once
// A small ADO-shaped data access layer over QtSql: one connection, queries that fetch every row
// into memory (so the record count is exact), fields by name, transactions, and a statement log.
//
// Statements are given in T-SQL as the library writes them; the connection translates them for
// SQLite and PostgreSQL (sqldialect.h). Failures raise DbError.
#include "platform/connstr.h"
#include "platform/dbbackend.h"
#include "platform/dialectsql.h"
#include "platform/errors.h"

#include <QSqlDatabase>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <functional>
#include <memory>

namespace vardex {

class AdoConnection {
  public:
    AdoConnection();
    ~AdoConnection();
    AdoConnection(const AdoConnection&) = delete;
    AdoConnection& operator=(const AdoConnection&) = delete;

    void setConnectionString(const QString& text); // closes the connection first
    QString connectionString() const { return m_connectionString; }

    // Opens with the given user ID and password; empty values fall back to those of the
    // connection string. Raises DbError when the connection cannot be opened. A SQLite file that
    // does not exist is an error: opening never creates a store.
    //
    // Credentials given here and accepted by the server are kept (in memory only) for the
    // automatic reopen after a lost connection, until forgetCredentials() or another
    // setConnectionString(). PostgreSQL sessions always run with standard_conforming_strings on
    // (a backslash is an ordinary character in a literal); a server that refuses it is refused.
    void open(const QString& userId = QString(), const QString& password = QString());
    // As open(), but a SQLite file that does not exist is created first, readable and writable by
    // its owner only (it holds every password in a reversible form). For installing a store.
    void openOrCreate(const QString& userId = QString(), const QString& password = QString());
    void close();
    bool connected() const;
    // Opens when closed (the lazy reopen every statement does), with the kept credentials. Outside
    // a transaction, a connection found already ended by the server (PostgreSQL: the socket of the
    // idle connection says so; ODBC: the driver says so, or one idle for a while fails a probe) is
    // replaced first. A statement that may have reached the server is never sent again: when the
    // connection drops under it, it raises DbError saying it may or may not have been carried out.
    void ensureOpen();
    // Overwrites and drops the credentials kept from open().
    void forgetCredentials();

    Dialect dialect() const { return m_target.dialect; }
    // The SQL the database speaks, where it differs by kind.
    const DialectSql& sql() const { return dialectSql(m_target.dialect); }

    // Executes one command text (several statements are allowed in one text, as a script batch
    // has them). Returns the rows affected by the last statement as the driver reports them.
    int execute(const QString& tsql);

    void beginTrans();
    void commitTrans();
    void rollbackTrans();
    // Begins a transaction that only reads, from one snapshot taken now: nothing committed by
    // others afterwards is seen in it, and it takes no write lock, so the store's users go on
    // writing meanwhile (SQLite: a reader of the write-ahead log; PostgreSQL: repeatable read,
    // read only; SQL Server: an ordinary transaction). Ended by rollbackTrans() or commitTrans().
    void beginReadSnapshot();
    bool inTransaction() const { return m_inTransaction; }
    // Serialises administration on the store for the rest of the open transaction: PostgreSQL
    // takes a transaction-scoped advisory lock, SQL Server an application lock owned by the
    // transaction; SQLite needs nothing more, its transactions hold the write lock from their
    // beginning. Once per transaction; the statement is not in the statement log. Raises DbError
    // outside a transaction.
    void lockAdministration();
    // Runs the statement now when no transaction is open; inside one, keeps it and runs it
    // right after the transaction ends, committed or rolled back, so what it writes outlasts a
    // rollback (the audit rows). A kept statement that fails then goes to the kept-failure
    // handler.
    void executeOutsideTransaction(const QString& tsql);

    // Names of the user tables, as the database spells them.
    QStringList tableNames();

    // A value as the database holds it (dialectsql.h).
    using RawValue = vardex::RawValue;
    using RawRow = vardex::RawRow;
    // Every row of the table, the columns given, each value as held; integer[i] tells that
    // column i is declared an integer (a server keeps each value in its column's type; SQLite
    // keeps any kind in any column, and says which).
    QVector<RawRow> rawRows(const QString& table, const QStringList& columns, const QVector<bool>& integer);

    // Statement log: when on, every text given to execute() or opened by a query is recorded as
    // given (before translation), in order.
    void setLogging(bool on) { m_logging = on; }
    const QStringList& statementLog() const { return m_log; }
    void clearLog() { m_log.clear(); }

    // A hook run before every statement, and with "ROLLBACK" before a rollback is sent; tests use
    // it to make a chosen statement fail.
    using StatementHook = std::function<void(const QString& tsql)>;
    void setStatementHook(StatementHook hook) { m_hook = std::move(hook); }

    // Told the reason when a statement kept by executeOutsideTransaction() fails once the
    // transaction has ended: the call that made it has answered long before, so this is the
    // only way the loss becomes known.
    using KeptFailureHandler = std::function<void(const QString& reason)>;
    void setKeptFailureHandler(KeptFailureHandler handler) { m_keptFailure = std::move(handler); }

    // Runs a SELECT (or any statement) and returns its rows; used by AdoQuery::open.
    using Result = DbResult;
    Result run(const QString& tsql, bool fetchRows);

    // Runs one PostgreSQL statement (as written, not translated) whose values are bound
    // parameters $1, $2, ... given as text: on the PostgreSQL driver through libpq's
    // PQexecParams (the extended protocol with the unnamed statement, so a pooler in transaction
    // mode can take it, and the statement text the server shows in pg_stat_activity holds $n,
    // never the values); on ODBC with the driver's binding. A null text is sent as an empty one.
    // Rows come back as text (NULL as an invalid QVariant). The statement goes to the log as
    // written. A connection found ended before sending is opened anew first; once the statement
    // was sent it is never sent again: a connection lost meanwhile is closed and the call raises
    // DbError. With outsideTransaction the statement must be a transaction of its own: it is not
    // sent (DbError) while a transaction is open on the connection, the library's or one begun
    // by a statement.
    Result runWithParameters(const QString& sql, const QStringList& parameters, bool outsideTransaction);

    QSqlDatabase database() const;
    QString name() const { return m_name; }

  private:
    void record(const QString& tsql);
    void runKeptStatements();
    void openConnection(const QString& userId, const QString& password, bool create);
    Result runTranslated(const QString& sql, bool fetchRows, bool backslash);
    void closeWhenLost();

    QString m_name; // QSqlDatabase connection name, unique per instance
    QString m_connectionString;
    ConnectionTarget m_target;
    std::unique_ptr<DbBackend> m_backend; // the database reached, once opened
    bool m_inTransaction = false;
    bool m_logging = false;
    QStringList m_log;
    StatementHook m_hook;
    KeptFailureHandler m_keptFailure;
    bool m_administrationLocked = false;         // lockAdministration() ran in the open transaction
    bool m_standardStringsInTransaction = false; // the open transaction set standard_conforming_strings
    QStringList m_afterTransaction;              // statements kept by executeOutsideTransaction()
    QString m_keptUserId; // credentials of the last successful open() that was given some
    QString m_keptPassword;
};

// One block of work in a transaction of its own: begun by the constructor, kept only by
// commit(). What is not committed is rolled back when the object goes (an error leaving the
// block included). A rollback that fails leaves the connection in a state nobody knows, so the
// connection is then closed (the server discards the transaction with it, and the next
// statement opens the connection anew) and a warning says so; the destructor never throws.
class AdoTransaction {
  public:
    // Raises what beginTrans() raises; nothing is to be undone then.
    explicit AdoTransaction(AdoConnection& cn);
    // With begin false nothing is begun and the object does nothing: for a block that joins
    // the transaction its caller holds.
    AdoTransaction(AdoConnection& cn, bool begin);
    ~AdoTransaction() { abandon(); }
    AdoTransaction(const AdoTransaction&) = delete;
    AdoTransaction& operator=(const AdoTransaction&) = delete;

    // Began here and not yet ended.
    bool active() const { return m_active && m_cn->inTransaction(); }
    // Raise what commitTrans() / rollbackTrans() raise; the transaction is over either way (a
    // rollback that fails closes the connection before its error is raised).
    void commit();
    void rollback();
    // What the destructor does: rolls back, and closes the connection with a warning when the
    // rollback fails. Does nothing when not active.
    void abandon() noexcept;

  private:
    AdoConnection* m_cn;
    bool m_active;
};

} // namespace vardex

#include "platform/adoquery.h"
