#include "tests/support/testsupport.h"

#include "library/installer.h"

#include <QFile>
#include <QUuid>
#include <arpa/inet.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vardex::test {

std::string backendName(Backend b) {
    switch (b) {
    case Backend::SQLite:
        return "SQLite";
    case Backend::PostgreSQL:
        return "PostgreSQL";
    case Backend::OdbcPostgreSQL:
        return "ODBC";
    }
    return "?";
}

namespace {

QString pgBase() {
    const QString file = qEnvironmentVariable("VARDEX_PG_CONNFILE");
    if (file.isEmpty())
        return QString();
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readAll()).trimmed();
}

QString pgValue(const QString& base, const char* key) {
    return ConnectionString::value(ConnectionString::parse(base), {key});
}

} // namespace

bool postgresAvailable() {
    return !pgBase().isEmpty();
}

std::vector<Backend> availableBackends() {
    std::vector<Backend> b{Backend::SQLite};
    if (postgresAvailable()) {
        b.push_back(Backend::PostgreSQL);
        b.push_back(Backend::OdbcPostgreSQL);
    } else if (!qEnvironmentVariable("VARDEX_PG_CONNFILE").isEmpty() ||
               !qEnvironmentVariable("CI").isEmpty()) {
        ADD_FAILURE() << "The PostgreSQL test cluster is not running (VARDEX_PG_CONNFILE="
                      << qPrintable(qEnvironmentVariable("VARDEX_PG_CONNFILE")) << ")";
    }
    return b;
}

std::vector<Backend> serverAndFile() {
    std::vector<Backend> out;
    for (Backend b : availableBackends())
        if (b != Backend::OdbcPostgreSQL)
            out.push_back(b);
    return out;
}

std::vector<std::unique_ptr<QProcess>> startWorkersTogether(const std::vector<QStringList>& argLists) {
    std::vector<std::unique_ptr<QProcess>> workers;
    for (const QStringList& args : argLists) {
        auto p = std::make_unique<QProcess>();
        p->start(binDir() + "/hardening_worker", args);
        if (!p->waitForStarted(30000))
            ADD_FAILURE() << "a worker did not start";
        workers.push_back(std::move(p));
    }
    for (auto& p : workers) {
        while (!p->canReadLine())
            if (!p->waitForReadyRead(60000)) {
                ADD_FAILURE() << p->readAllStandardError().toStdString();
                return workers;
            }
        EXPECT_EQ(p->readLine().trimmed(), "ready");
    }
    for (auto& p : workers) {
        p->write("go\n");
        p->closeWriteChannel(); // a QProcess sends buffered input only from its own wait calls
        EXPECT_TRUE(p->waitForBytesWritten(30000));
    }
    return workers;
}

TempDatabase::TempDatabase(Backend backend) : m_backend(backend) {
    if (backend == Backend::SQLite) {
        m_dir = std::make_unique<QTemporaryDir>();
        m_connectionString =
            QStringLiteral("Provider=SQLite;Data Source=") + m_dir->path() + QStringLiteral("/store.db");
        return;
    }
    const QString base = pgBase();
    if (base.isEmpty())
        throw DbError(QStringLiteral("no PostgreSQL test cluster"));
    m_dbName = QStringLiteral("vx_") + QUuid::createUuid().toString(QUuid::Id128).left(16);
    AdoConnection admin;
    admin.setConnectionString(base + QStringLiteral(";Database=postgres"));
    admin.open();
    admin.execute(QStringLiteral("CREATE DATABASE ") + m_dbName);
    m_connectionString = connectionStringFor(backend);
}

QString TempDatabase::connectionStringFor(Backend b) const {
    if (m_backend == Backend::SQLite)
        return m_connectionString;
    const QString base = pgBase();
    if (b == Backend::OdbcPostgreSQL)
        return QStringLiteral(
                   "Provider=ODBC;Driver={PostgreSQL Unicode};Server=%1;Port=%2;Database=%3;Uid=%4")
            .arg(pgValue(base, "Host"), pgValue(base, "Port"), m_dbName, pgValue(base, "User ID"));
    return base + QStringLiteral(";Database=") + m_dbName;
}

TempDatabase::~TempDatabase() {
    if (m_dbName.isEmpty())
        return;
    try {
        AdoConnection admin;
        admin.setConnectionString(pgBase() + QStringLiteral(";Database=postgres"));
        admin.open();
        admin.execute(QStringLiteral("DROP DATABASE IF EXISTS ") + m_dbName +
                      QStringLiteral(" WITH (FORCE)"));
    } catch (...) {
        // The cluster is thrown away at the end of the run anyway.
    }
}

TempStore::TempStore(Backend backend) : TempDatabase(backend) {
    auto cn = openConnection(connectionString());
    QTemporaryDir tmp;
    const InstallOutcome r = runInstallScript(*cn, tmp.path() + QStringLiteral("/Morlan.tmp"));
    if (!r.ok)
        throw DbError(
            QStringLiteral("installing the store failed at batch %1: %2").arg(r.failedBatch).arg(r.error));
}

std::unique_ptr<AdoConnection> openConnection(const QString& connectionString) {
    auto cn = std::make_unique<AdoConnection>();
    cn->setConnectionString(connectionString);
    cn->openOrCreate();
    return cn;
}

QString scalar(AdoConnection& cn, const QString& sql) {
    AdoQuery q(&cn, sql);
    q.open();
    if (q.isEmpty() || q.fieldCount() == 0)
        return QString();
    const QVariant v = q.value(0, 0);
    return v.isNull() ? QString() : v.toString();
}

int scalarInt(AdoConnection& cn, const QString& sql) {
    return scalar(cn, sql).toInt();
}

MessageRecorder::MessageRecorder() {
    setMessageHandler([this](const MessageBoxRequest& r) {
        boxes.push_back({r.text, r.caption, r.type, r.owner != nullptr});
        if (!answers.empty()) {
            const int a = answers.front();
            answers.erase(answers.begin());
            return a;
        }
        return defaultAnswer(r.type);
    });
}

MessageRecorder::~MessageRecorder() {
    installUnexpectedBoxGuard();
}

void installUnexpectedBoxGuard() {
    setMessageHandler([](const MessageBoxRequest& r) {
        ADD_FAILURE() << "unexpected message box [" << r.caption.toStdString() << "] "
                      << r.text.toStdString();
        return defaultAnswer(r.type);
    });
}

QString sourceDir() {
    return qEnvironmentVariable("VARDEX_SOURCE_DIR");
}
QString binDir() {
    return qEnvironmentVariable("VARDEX_BIN_DIR");
}

QString clusterSetting(const char* key) {
    return pgValue(pgBase(), key);
}

ProgramRun runAndWait(const QString& program, const QStringList& args, const QByteArray& input) {
    QProcess p;
    p.start(program, args);
    EXPECT_TRUE(p.waitForStarted(10000)) << program.toStdString();
    p.write(input);
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(120000));
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

QStringList psqlErrors(const QString& login, const QString& database, const QByteArray& script,
                       const QString& port) {
    const ProgramRun r =
        runAndWait(QStringLiteral("psql"),
                   {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-h"), clusterSetting("Host"),
                    QStringLiteral("-p"), port.isEmpty() ? clusterSetting("Port") : port,
                    QStringLiteral("-U"), login, QStringLiteral("-d"), database},
                   script);
    QStringList errors;
    for (const QString& line : r.err.split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("ERROR:")))
            errors << line;
    return errors;
}

quint16 freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    quint16 port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

Pooler::Pooler(const QStringList& logins) {
    port = freePort();
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                          QFileDevice::ExeOther);
    QFile users(dir.filePath(QStringLiteral("users.txt")));
    users.open(QIODevice::WriteOnly);
    for (const QString& l : logins + QStringList{clusterSetting("User ID")})
        users.write("\"" + l.toUtf8() + "\" \"\"\n");
    users.close();
    QFile ini(dir.filePath(QStringLiteral("pgbouncer.ini")));
    ini.open(QIODevice::WriteOnly);
    ini.write(
        QStringLiteral("[databases]\n* = host=%1 port=%2\n[pgbouncer]\nlisten_addr = 127.0.0.1\n"
                       "listen_port = %3\nunix_socket_dir =\nauth_type = trust\nauth_file = %4\n"
                       "pool_mode = transaction\ndefault_pool_size = 1\nmax_client_conn = 100\n"
                       "ignore_startup_parameters = extra_float_digits, options\n")
            .arg(clusterSetting("Host"), clusterSetting("Port"), QString::number(port), users.fileName())
            .toUtf8());
    ini.close();
    for (QFile* f : {&users, &ini})
        f->setPermissions(f->permissions() | QFileDevice::ReadOther);
    // PgBouncer refuses to run as root: as root it runs as the cluster's postgres user.
    const passwd* pw = geteuid() == 0 ? getpwnam("postgres") : nullptr;
    if (pw) {
        const uid_t uid = pw->pw_uid;
        const gid_t gid = pw->pw_gid;
        process.setChildProcessModifier([uid, gid] {
            if (setgroups(1, &gid) != 0 || setgid(gid) != 0 || setuid(uid) != 0)
                _exit(127);
        });
    }
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("pgbouncer"), {ini.fileName()});
    QByteArray said;
    while (!said.contains("listening on") && process.waitForReadyRead(30000))
        said += process.readAll();
    ready = said.contains("listening on");
    EXPECT_TRUE(ready) << said.toStdString();
}
Pooler::~Pooler() {
    process.terminate();
    process.waitForFinished(30000);
}

QString Pooler::connectionString(const QString& database) const {
    return QStringLiteral("Provider=PostgreSQL;Host=127.0.0.1;Port=%1;Database=%2")
        .arg(QString::number(port), database);
}

} // namespace vardex::test
