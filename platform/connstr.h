#pragma once
// Connection strings in the ADO "key=value;" style.
//
//   Provider=SQLite;Data Source=/path/to/store.db
//   Provider=PostgreSQL;Host=127.0.0.1;Port=5432;Database=perm;User ID=clerk;Password=secret
//   Provider=ODBC;Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=5432;Database=perm
//   Provider=ODBC;DSN=payroll            (any ODBC connection string after the provider)
//   Provider=ODBC;DSN=payroll;Dialect=PostgreSQL   (Dialect= only confirms the database kind)
//   Provider=SQLOLEDB;Data Source=srv;Initial Catalog=perm   (SQL Server, through ODBC/FreeTDS)
//
// Keys are case-insensitive; a value may be wrapped in double quotes or braces to hold a ';'.
#include <QList>
#include <QPair>
#include <QString>

namespace vardex {

enum class Dialect { SqlServer, SQLite, PostgreSQL };

struct ConnectionTarget {
    QString driver; // Qt SQL driver: QSQLITE, QPSQL or QODBC
    Dialect dialect = Dialect::SqlServer;
    QString databaseName; // file path, database, or the ODBC connection string
    QString host;
    int port = -1;
    QString userId;
    QString password;
    QString options; // driver options (QSqlDatabase::setConnectOptions)
    // Through ODBC the dialect above is only a first guess from the names in the text: the
    // connection asks the driver which database it reaches and takes the dialect from that.
    // statedBy names the key that states a database kind (Dialect, or Provider for SQL Server);
    // what the driver says must then agree with it.
    QString statedBy;
};

class ConnectionString {
  public:
    // Splits the text into key/value pairs, in order. Empty segments are skipped; a segment
    // without '=' is kept as a key with an empty value.
    static QList<QPair<QString, QString>> parse(const QString& text);
    // Looks a key up case-insensitively (first occurrence); the aliases are tried in order.
    static QString value(const QList<QPair<QString, QString>>& pairs,
                         std::initializer_list<const char*> keys);
    // Builds the driver settings. Throws DbError for an unknown provider or a missing file name.
    static ConnectionTarget resolve(const QString& text);
    // Joins pairs back to "key=value;" text, quoting values that need it.
    static QString compose(const QList<QPair<QString, QString>>& pairs);
    // A value as an ODBC connection string carries it: bare when that is unambiguous, else
    // between braces with every '}' doubled.
    static QString odbcQuote(const QString& value);
    // Joins pairs to an ODBC connection string; a value already braced by its writer is kept.
    static QString composeOdbc(const QList<QPair<QString, QString>>& pairs);
};

QString dialectName(Dialect d);

} // namespace vardex
