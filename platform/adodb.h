#pragma once
// A small ADO-shaped data access layer over QtSql: one connection, queries that fetch every row
// into memory (so the record count is exact), fields by name, transactions, and a statement log.
//
// Statements are given in T-SQL as the library writes them; the connection translates them for
// SQLite and PostgreSQL (sqldialect.h). Failures raise DbError.
#include "platform/connstr.h"
#include "platform/errors.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlQuery>
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

    // Executes one command text (several statements are allowed in one text, as a script batch
    // has them). Returns the rows affected by the last statement as the driver reports them.
    int execute(const QString& tsql);

    void beginTrans();
    void commitTrans();
    void rollbackTrans();
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
    struct Result {
        QStringList fields;
        QVector<QVector<QVariant>> rows;
        int rowsAffected = -1;
        QVector<QMetaType> types; // the declared type of each field, when the driver tells it
    };
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
    void setStandardStrings();
    bool connectionLost();
    bool idleConnectionDead();
    static DbError lostUnderStatement(const DbError& e);
    Result runTranslated(const QString& sql, bool fetchRows, bool backslash);
    Result runOnce(const QString& sql, bool fetchRows);
    Result runSqliteNative(const QString& sql);
    Result runSqliteRows(const QString& sql);
    Result runBoundByDriver(const QString& sql, const QStringList& parameters);
    void dropQuery();
    static void recordColumns(const QSqlQuery& q, Result* result);
    bool pgColumns(const QSqlQuery& q, Result* result);

    QString m_name; // QSqlDatabase connection name, unique per instance
    QString m_connectionString;
    ConnectionTarget m_target;
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
    // The query object statements are run through, kept for the connection's life (until it is
    // closed) because constructing one per statement makes the driver set up and tear down a
    // result each time. m_queryBusy marks it as being read, so a statement that arrives meanwhile
    // takes a query of its own instead.
    std::unique_ptr<QSqlQuery> m_query;
    bool m_queryBusy = false;
    QHash<unsigned, QMetaType> m_pgTypes; // PostgreSQL type number -> the driver's type for it
    QElapsedTimer m_lastStatement;        // since the last statement ended on the connection
    int m_odbcSocket = -1;                // an ODBC connection's socket, when it could be told
    quint64 m_odbcSocketInode = 0;
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

// One field of the current record of an open query.
class AdoField {
  public:
    AdoField() = default;
    AdoField(QString name, QVariant value) : m_name(std::move(name)), m_value(std::move(value)) {}
    bool isNull() const { return m_value.isNull() || !m_value.isValid(); }
    QString asString() const;
    int asInteger() const; // NULL reads as 0; a text that is no number raises ConvertError
    QVariant value() const { return m_value; }
    QString name() const { return m_name; }

  private:
    QString m_name;
    QVariant m_value;
};

class AdoQuery {
  public:
    explicit AdoQuery(AdoConnection* connection = nullptr, const QString& initialSql = QString());

    void setConnection(AdoConnection* connection) { m_connection = connection; }
    AdoConnection* connection() const { return m_connection; }

    // The SQL is a list of lines; the text sent is every line followed by CR LF.
    // Changing the SQL closes the query.
    const QStringList& sql() const { return m_sql; }
    void clearSql();
    void addSql(const QString& line);
    void setSql(const QString& oneLine); // replaces the whole text with one line
    void setSqlLines(const QStringList& lines);
    QString commandText() const;

    // Runs the statement and fetches every row. Raises DbError.
    void open();
    void close();
    bool active() const { return m_active; }
    // Executes the text as a command; returns the rows affected. Raises DbError.
    int execSql();

    int recordCount() const { return m_active ? m_rows.size() : 0; }
    bool isEmpty() const { return recordCount() == 0; }
    void first();
    void next();
    bool eof() const;
    int recNo() const { return m_current; } // 0-based index of the current record
    void moveTo(int index);

    int fieldCount() const { return m_fields.size(); }
    QString fieldName(int i) const { return m_fields.value(i); }
    int fieldIndex(const QString& name) const;       // case-insensitive, -1 when absent
    AdoField fieldByName(const QString& name) const; // raises DbError for an unknown field
    QVariant value(int row, int column) const;

    // The declared type of a field (integer fields take numbers only); invalid when unknown.
    QMetaType fieldType(int i) const { return m_types.value(i); }
    bool isNumericField(int i) const;

    // Appending a record: append(), setFieldValue() for the fields given, post() sends one
    // INSERT with exactly those columns into the table the query selects from.
    void append();
    void setFieldValue(const QString& name, const QVariant& value);
    void post();
    void cancel();
    bool inInsert() const { return m_inserting; }

    // Editing as a data-aware grid does it. The table the query reads may have no key, so a
    // record is located by the values it was read with: every column of the select list equal
    // to its value as read (IS NULL for a NULL), and exactly one such row is changed even when
    // two rows are identical (they are indistinguishable in what was read).
    //   insertAt(i): like append(), the posted record then takes place i in the result.
    //   edit(): the current record goes into editing; setFieldValue() changes its buffer;
    //           post() sends one UPDATE of the changed columns (nothing when none changed).
    //   deleteRecord(): deletes the row of the current record and removes the record.
    // A row that can no longer be found raises DbError and leaves the record as it was.
    enum class State { Browse, Edit, Insert };
    State state() const { return m_inserting ? State::Insert : (m_editing ? State::Edit : State::Browse); }
    void insertAt(int index);
    // True when the record being edited or inserted holds a value that was set or changed.
    bool modified() const;
    int insertPosition() const { return m_insertPos < 0 ? static_cast<int>(m_rows.size()) : m_insertPos; }
    void edit();
    void deleteRecord();
    // The value a field of the record being edited or inserted holds now (edit buffer).
    QVariant bufferValue(int column) const;
    // The column of the table behind a field ("qxID AS 权限ID" -> qxID); empty when the field is
    // computed.
    QString baseColumn(int field) const;

  private:
    QString tableName() const;
    QString literal(const QVariant& v) const;
    QString locateCondition(const QVector<QVariant>& row) const;
    QString oneRowStatement(bool update, const QString& setList, const QString& condition) const;
    QString listedColumn(int field) const;
    void postEdit();

    AdoConnection* m_connection = nullptr;
    QStringList m_sql;
    bool m_active = false;
    QStringList m_fields;
    QVector<QVector<QVariant>> m_rows;
    int m_current = 0;
    bool m_inserting = false;
    QList<QPair<QString, QVariant>> m_pending;
    QVector<QMetaType> m_types;
    int m_insertPos = -1; // -1: the posted insert goes to the end
    bool m_editing = false;
    QVector<QVariant> m_editBuffer; // the current record's values while it is edited
};

} // namespace vardex
