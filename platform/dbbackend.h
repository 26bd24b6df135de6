#pragma once
// One backend per way of reaching a database: SQLite through its own C interface, PostgreSQL
// through libpq (Qt's QPSQL driver), and ODBC, which reports the kind of database it reaches
// (PostgreSQL through psqlODBC, or SQL Server). A backend owns opening the connection and
// telling when an idle one has died, running statements and reading their rows, beginning and
// ending transactions (read snapshots included) and the administration lock. The SQL text each
// kind of database speaks is its DialectSql. AdoConnection (adodb.h) is the one user: it keeps
// the statement log, the credentials and the transaction's bookkeeping, and delegates the rest.
#include "platform/connstr.h"
#include "platform/dialectsql.h"
#include "platform/errors.h"

#include <QElapsedTimer>
#include <QMetaType>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <memory>

namespace vardex {

// The answer of one statement.
struct DbResult {
    QStringList fields;
    QVector<QVector<QVariant>> rows;
    int rowsAffected = -1;
    QVector<QMetaType> types; // the declared type of each field, when the driver tells it
};

class DbBackend {
  public:
    // Takes the backend for the target's driver; refuses a driver that is not installed.
    static std::unique_ptr<DbBackend> create(const QString& connectionName, const ConnectionTarget& target);
    virtual ~DbBackend();
    DbBackend(const DbBackend&) = delete;
    DbBackend& operator=(const DbBackend&) = delete;

    // The kind of database reached (for ODBC known once open) and the SQL it speaks.
    Dialect dialect() const { return m_target.dialect; }
    const DialectSql& sql() const { return dialectSql(m_target.dialect); }
    QSqlDatabase database() const;

    // Opens with these credentials (already chosen by the caller); create: a SQLite file that
    // does not exist is made first. Raises DbError.
    void open(const QString& user, const QString& password, bool create);
    void close();
    bool connected() const;
    // An idle connection (no transaction open) that the server has already ended. Nothing is
    // sent on it, except by ODBC to a server whose driver cannot tell otherwise.
    virtual bool idleConnectionDead() { return false; }
    // Whether the connection no longer answers, after a statement failed on it.
    virtual bool connectionLost();

    // Runs one text as the database takes it (a SQLite text may hold several statements when
    // no rows are wanted). Raises DbError.
    virtual DbResult run(const QString& sql, bool fetchRows) = 0;
    // Runs a text inside the open transaction under a savepoint of its own, so that a failure
    // undoes it alone (where a failure aborts the whole transaction). *lost tells, on a
    // failure, that the connection was found lost and closed.
    DbResult runUnderSavepoint(const QString& sql, bool fetchRows, bool* lost);
    // Whether a text reads differently unless backslashes are ordinary characters in its
    // literals (PostgreSQL: behind a pooler in transaction mode each transaction may run on
    // another server connection than the one the session set that on).
    bool readsBackslashes(const QString& sql) const;
    // Makes the open transaction read every later text so; raises DbError when refused.
    void standardStringsForTransaction();
    // A PostgreSQL statement with bound parameters $1, $2, ... (AdoConnection::runWithParameters).
    virtual DbResult runWithParameters(const QString& sql, const QStringList& parameters,
                                       bool outsideTransaction);

    virtual void begin();
    virtual void beginReadSnapshot();
    virtual void commit();
    virtual void rollback();
    void lockAdministration();
    QStringList tableNames();

    // The error a statement raises when the connection dropped under it.
    static DbError lostUnderStatement(const DbError& e);

  protected:
    DbBackend(QString connectionName, ConnectionTarget target);
    virtual void openDatabase(const QString& user, const QString& password, bool create) = 0;
    // Runs one text through a QSqlQuery of the connection (kept for its life).
    DbResult runQuery(const QString& sql, bool fetchRows);
    // The names and types of the columns of a result; false when not told this way.
    virtual bool columns(const QSqlQuery&, DbResult*) { return false; }
    static void recordColumns(const QSqlQuery& q, DbResult* result);
    // The sessions of PostgreSQL, by any driver: backslashes are ordinary characters.
    void setStandardStrings();
    bool queryBusy() const { return m_queryBusy; }

    const QString m_name; // QSqlDatabase connection name
    ConnectionTarget m_target;
    QElapsedTimer m_lastStatement; // since the last statement ended on the connection
    bool m_snapshotByText = false; // the open transaction was begun by a statement text

  private:
    void dropQuery();
    // The query object statements are run through, kept for the connection's life (until it is
    // closed) because constructing one per statement makes the driver set up and tear down a
    // result each time. m_queryBusy marks it as being read, so a statement that arrives meanwhile
    // takes a query of its own instead.
    std::unique_ptr<QSqlQuery> m_query;
    bool m_queryBusy = false;
};

// The database's own words for a failure.
QString errorText(const QSqlError& e);
// Whether a server connection's socket tells that the server has ended it: on an idle
// connection the server sends nothing unless it closes it. Nothing is read.
bool idleSocketEnded(int fd);

std::unique_ptr<DbBackend> makeSqliteBackend(const QString& name, const ConnectionTarget& target);
std::unique_ptr<DbBackend> makePostgresBackend(const QString& name, const ConnectionTarget& target);
std::unique_ptr<DbBackend> makeOdbcBackend(const QString& name, const ConnectionTarget& target);

} // namespace vardex
