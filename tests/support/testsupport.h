#pragma once
// Shared fixtures for the test programs: fresh stores on every database kind, and a recorder
// for message boxes.
#include "platform/adodb.h"
#include "platform/msgservice.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <string>
#include <vector>

namespace vardex::test {

enum class Backend { SQLite, PostgreSQL, OdbcPostgreSQL };
std::string backendName(Backend b);

// The backends this run can use: SQLite always; PostgreSQL and ODBC when the test was started
// with the cluster (VARDEX_PG_CONNFILE). With CI set, a missing cluster is a failure, not a skip.
std::vector<Backend> availableBackends();
bool postgresAvailable();
// The available backends of their own kind: SQLite and PostgreSQL, without the ODBC path.
std::vector<Backend> serverAndFile();

// An empty database of the given kind that is dropped when the object goes: a file in a
// temporary folder for SQLite, a new database in the test cluster for the servers.
class TempDatabase {
  public:
    explicit TempDatabase(Backend backend);
    ~TempDatabase();
    Backend backend() const { return m_backend; }
    QString connectionString() const { return m_connectionString; }
    // Same database through the other server path (PostgreSQL <-> ODBC); SQLite: itself.
    QString connectionStringFor(Backend b) const;

  private:
    Backend m_backend;
    QString m_connectionString;
    QString m_dbName;
    std::unique_ptr<QTemporaryDir> m_dir;
};

// A TempDatabase with the store installed from the program's own stored script.
class TempStore : public TempDatabase {
  public:
    explicit TempStore(Backend backend);
};

// Opens a connection of its own on a database (not the library session).
std::unique_ptr<AdoConnection> openConnection(const QString& connectionString);

// Runs a SELECT and returns the first column of the first row as text ("" when no row).
QString scalar(AdoConnection& cn, const QString& sql);
int scalarInt(AdoConnection& cn, const QString& sql);

// Installed for every test program: a box that no test expected fails the test (instead of
// waiting forever for a click on the offscreen platform) and is answered with its default.
void installUnexpectedBoxGuard();

// Records every message box and answers from a script (default: the box's default answer).
class MessageRecorder {
  public:
    MessageRecorder();
    ~MessageRecorder();
    struct Box {
        QString text;
        QString caption;
        uint32_t type;
        bool hasOwner;
    };
    std::vector<Box> boxes;
    std::vector<int> answers; // taken front first; when empty, defaultAnswer(type)
};

// Starts bin/hardening_worker once per argument list, waits until every one has said "ready",
// then lets them all go at once (a line on stdin). A worker that does not start or get ready
// fails the test; the workers started are returned all the same.
std::vector<std::unique_ptr<QProcess>> startWorkersTogether(const std::vector<QStringList>& argLists);

// Folder of the source tree and of the built binaries (from the test environment).
QString sourceDir();
QString binDir();

// A value of the PostgreSQL test cluster's connection string (Host, Port, User ID); "" without one.
QString clusterSetting(const char* key);

// Runs a program to its end with input on its standard input.
struct ProgramRun {
    int code;
    QString out, err;
};
ProgramRun runAndWait(const QString& program, const QStringList& args,
                      const QByteArray& input = QByteArray());

// Runs a psql script on the test cluster (or on port, a pooler in front of it) as login; the
// ERROR lines it wrote.
QStringList psqlErrors(const QString& login, const QString& database, const QByteArray& script,
                       const QString& port = QString());

// A loopback port nobody listens on now, as the system hands one out.
quint16 freePort();

// A PgBouncer of the test's own in front of the test cluster: transaction pooling, one server
// connection per database and user, every login of logins accepted (the cluster trusts loopback).
// Stopped when the object goes.
class Pooler {
  public:
    explicit Pooler(const QStringList& logins);
    ~Pooler();
    Pooler(const Pooler&) = delete;
    Pooler& operator=(const Pooler&) = delete;
    QString connectionString(const QString& database) const;
    QTemporaryDir dir;
    QProcess process;
    quint16 port = 0;
    bool ready = false;
};

} // namespace vardex::test

// Gives parameterised tests readable names: Store/Backends.X/SQLite
#define VARDEX_BACKEND_PARAMS                                                                                \
    ::testing::ValuesIn(::vardex::test::availableBackends()),                                                \
        [](const ::testing::TestParamInfo<::vardex::test::Backend>& info) {                                  \
            return ::vardex::test::backendName(info.param);                                                  \
        }
