// The library under hostile callers: server settings that change how literals read, values that
// try to smuggle driver options, re-entry from a message handler, foreign threads, invalid bytes,
// racing password changes and stores that do not exist. Runs under the sanitizers too.
#include "capi/vardex.h"
#include "library/cipher.h"
#include "library/dmain.h"
#include "tests/support/testsupport.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using namespace vardex;
using namespace vardex::test;

namespace {

std::string local(const QString& s) {
    return s.toLocal8Bit().toStdString();
}

} // namespace

class Trust : public ::testing::TestWithParam<Backend> {
  protected:
    void SetUp() override {
        store = std::make_unique<TempStore>(GetParam());
        db = openConnection(store->connectionString());
        db->execute("INSERT INTO qx_Name (qxID, qxName) VALUES (1, 'query')");
        addUser("alice", "secret");
        addUser("bob", "bobpw");
        db->execute("Exec qxAddzuName 'pg1'");
        db->execute("Exec qxUpDateAllows 'pg1',1,'T'");
        db->execute("Exec qx_user_zu_changed 'alice','pg1','T'");
        conn = local(store->connectionString());
        session() = SessionValues();
    }
    void TearDown() override {
        VardexSetMessageHandler(nullptr, nullptr);
        if (hasDataModule()) {
            session().CurrentUserName.clear();
            ::DisconnectDatabase();
        }
        session() = SessionValues();
    }
    void addUser(const QString& id, const QString& password) {
        db->execute(
            "INSERT INTO qx_user (userID, userName, userPwd, startTime, endTime, Allow, AllowZekou, zuid) "
            "VALUES ('" +
            id + "', '" + id + "', '" + EncryptPassword(password, "kmpq") +
            "', '2026-01-01', '2026-12-31', 'T', 0, 10000)");
        db->execute("Exec qxAddUser '" + id + "'");
    }
    bool server() const { return GetParam() != Backend::SQLite; }
    // The audit table is still there and the attacks below answered as for any unknown user.
    void expectLiteralsHold(const char* how) {
        SCOPED_TRACE(how);
        ASSERT_EQ(scalar(dataModule().ADOcn, "SHOW standard_conforming_strings"), "on");
        EXPECT_EQ(::CheckUserRight("bob\\' OR 1=1 --", 77, "", 0), 1);
        EXPECT_EQ(::CheckUserLogin("\\' OR 1=1 --", "secret", "2026-06-15", nullptr, 0), 4);
        EXPECT_TRUE(session().CurrentUserID.isEmpty());
        EXPECT_EQ(::ClearLogs("\\'; DROP TABLE qx_logs; --"), 0);
        EXPECT_TRUE(db->tableNames().contains("qx_logs", Qt::CaseInsensitive));
        ::DisconnectDatabase();
    }
    std::unique_ptr<TempStore> store;
    std::unique_ptr<AdoConnection> db;
    std::string conn;
};

TEST_P(Trust, BackslashesStayLiteralWhateverTurnsStandardStringsOff) {
    if (!server())
        GTEST_SKIP() << "a PostgreSQL setting";
    MessageRecorder boxes; // the undefined item 77 shows its warning
    const QString dbName = scalar(*db, "select current_database()");
    // 1. A database setting.
    db->execute("ALTER DATABASE " + dbName + " SET standard_conforming_strings = off");
    ASSERT_EQ(::ConnectDatabase(conn.c_str(), "", "", "2026-06-15", ""), 0);
    expectLiteralsHold("ALTER DATABASE");
    db->execute("ALTER DATABASE " + dbName + " RESET standard_conforming_strings");
    // 2. The client's environment.
    qputenv("PGOPTIONS", "-c standard_conforming_strings=off");
    const int rc = ::ConnectDatabase(conn.c_str(), "", "", "2026-06-15", "");
    qunsetenv("PGOPTIONS");
    ASSERT_EQ(rc, 0);
    expectLiteralsHold("PGOPTIONS");
    // 3. Options inside the connection string's values: refused, naming the key; on ODBC the
    //    driver's own option key is overruled by the session.
    const std::string smuggled =
        conn + ";Connect Timeout=\"10 options='-c standard_conforming_strings=off'\"";
    if (GetParam() == Backend::PostgreSQL) {
        EXPECT_EQ(::ConnectDatabase(smuggled.c_str(), "", "", "", ""), 1);
        EXPECT_NE(std::string(VardexLastError()).find("Connect Timeout"), std::string::npos)
            << VardexLastError();
        // The first Host key counts, so the hostile one goes in front.
        const std::pair<std::string, const char*> hostile[] = {
            {conn + ";SSL Mode=\"prefer options='-c standard_conforming_strings=off'\"", "SSL Mode"},
            {conn + ";Target Session Attrs=\"any options='-c standard_conforming_strings=off'\"",
             "Target Session Attrs"},
            {"Host=\"127.0.0.1 options='-c standard_conforming_strings=off'\";" + conn, "Host"},
            {"Host=\"127.0.0.1,127.0.0.1' options='-c standard_conforming_strings=off\";" + conn, "Host"}};
        for (const auto& [text, key] : hostile) {
            EXPECT_EQ(::ConnectDatabase(text.c_str(), "", "", "", ""), 1) << text;
            EXPECT_NE(std::string(VardexLastError()).find(key), std::string::npos) << VardexLastError();
        }
    } else {
        const std::string pqopt = conn + ";Pqopt={options=-cstandard_conforming_strings=off}";
        ASSERT_EQ(::ConnectDatabase(pqopt.c_str(), "", "", "2026-06-15", ""), 0) << VardexLastError();
        expectLiteralsHold("Pqopt");
    }
}

TEST_P(Trust, OdbcCredentialsAreQuotedValues) {
    if (GetParam() != Backend::OdbcPostgreSQL)
        GTEST_SKIP() << "ODBC only";
    const QString dbName = scalar(*db, "select current_database()");
    // The test cluster trusts every login, so the password only has to stay a password.
    for (const char* password : {"x;Database=postgres", "p}w;Database=postgres;{", "{a}}b}"}) {
        SCOPED_TRACE(password);
        ASSERT_EQ(::ConnectDatabase(conn.c_str(), "postgres", password, "", ""), 0) << VardexLastError();
        EXPECT_EQ(scalar(dataModule().ADOcn, "select current_database()"), dbName);
        ::DisconnectDatabase();
    }
}

// Through ODBC the database kind is the driver's answer, not a guess from the names: a PostgreSQL
// server behind a driver or DSN called anything still gets standard_conforming_strings on, every
// documented form connects, and a Dialect= (or SQL Server provider) that says otherwise is refused.
TEST_P(Trust, OdbcTakesTheDatabaseKindFromTheDriver) {
    if (GetParam() != Backend::OdbcPostgreSQL)
        GTEST_SKIP() << "ODBC only";
    MessageRecorder boxes; // the undefined item 77 shows its warning
    const auto pairs = ConnectionString::parse(store->connectionString());
    const QString host = ConnectionString::value(pairs, {"Server"});
    const QString port = ConnectionString::value(pairs, {"Port"});
    const QString dbName = scalar(*db, "select current_database()");
    const QString dsn = "perm_" + dbName;
    QFile ini(qEnvironmentVariable("ODBCSYSINI") + "/odbc.ini");
    ASSERT_TRUE(ini.open(QIODevice::Append | QIODevice::Text));
    ini.write(QString("[%1]\nDriver=Perm Driver\nServername=%2\nPort=%3\nDatabase=%4\nUsername=postgres\n\n")
                  .arg(dsn, host, port, dbName)
                  .toUtf8());
    ini.close();
    db->execute("ALTER DATABASE " + dbName + " SET standard_conforming_strings = off");
    const QString byDriver =
        QString("Provider=ODBC;Driver={Perm Driver};Server=%1;Port=%2;Database=%3;Uid=postgres")
            .arg(host, port, dbName);
    for (const QString& text :
         {byDriver, "Provider=ODBC;DSN=" + dsn, "Provider=ODBC;DSN=" + dsn + ";Server=" + host,
          "Provider=ODBC;Database=" + dbName + ";DSN=" + dsn,
          "Provider=ODBC;DSN=" + dsn + ";Dialect=PostgreSQL"}) {
        ASSERT_EQ(::ConnectDatabase(local(text).c_str(), "", "", "2026-06-15", ""), 0)
            << text.toStdString() << ": " << VardexLastError();
        EXPECT_EQ(dataModule().ADOcn.dialect(), Dialect::PostgreSQL);
        EXPECT_EQ(::CheckUserRight("\\' OR 1=1 --", 1, "", 0), 1); // alice's grant is not read
        expectLiteralsHold(qPrintable(text));
    }
    const QString sqlServer = QString("Provider=SQLOLEDB;Driver={Perm Driver};Data Source=%1;Port=%2;Initial "
                                      "Catalog=%3;User ID=postgres")
                                  .arg(host, port, dbName);
    for (const auto& [text, key] : std::vector<std::pair<QString, std::string>>{
             {byDriver + ";Dialect=SQLite", "Dialect in the connection string says SQLite"},
             {"Provider=ODBC;DSN=" + dsn + ";Dialect=SQLServer",
              "Dialect in the connection string says SQL Server"},
             {"Provider=ODBC;DSN=" + dsn + ";Dialect=Oracle", "value of Dialect"},
             {sqlServer, "Provider in the connection string says SQL Server"},
             {byDriver + ";Description=perm.dsn", "\".dsn\" outside a FILEDSN key"},
             {"Provider=ODBC;Database=" + dbName, "names no data source"}}) {
        EXPECT_EQ(::ConnectDatabase(local(text).c_str(), "", "", "", ""), 1) << text.toStdString();
        EXPECT_NE(std::string(VardexLastError()).find(key), std::string::npos) << VardexLastError();
        EXPECT_FALSE(dataModule().ADOcn.connected());
    }
}

int32_t VARDEX_CALL reenter(const char*, const char*, uint32_t, void* user) {
    auto* answers = static_cast<std::vector<int32_t>*>(user);
    answers->push_back(::DisconnectDatabase());
    answers->push_back(::ConnectDatabase("Provider=SQLite;Data Source=/nonexistent/x.db", "", "", "", ""));
    answers->push_back(::CheckUserRight("alice", 1, nullptr, 0)); // an ordinary nested call still works
    return VARDEX_IDOK;
}

TEST_P(Trust, AHandlerCannotEndTheSessionUnderTheCallShowingItsBox) {
    std::vector<int32_t> nested;
    ASSERT_EQ(::ConnectDatabase(conn.c_str(), "", "", "2026-06-15", ""), 0);
    VardexSetMessageHandler(reenter, &nested);
    // Item 77 is undefined: its warning box comes first, then the refusal box of mode 2.
    EXPECT_EQ(::CheckUserRight("bob", 77, "", 2), 3);
    ASSERT_EQ(nested.size(), 6u);
    for (int i : {0, 1, 3, 4})
        EXPECT_EQ(nested[i], VARDEX_ERROR) << i;
    EXPECT_EQ(nested[2], 0);
    EXPECT_EQ(::CheckUserLogin("alice", "secret", "", nullptr, 2), 0); // the session is whole
    VardexSetMessageHandler(nullptr, nullptr);
    EXPECT_EQ(::DisconnectDatabase(), 0);
}

TEST_P(Trust, EightForeignThreadsAreRefusedWhileTheSessionThreadWorks) {
    ASSERT_EQ(::ConnectDatabase(conn.c_str(), "", "", "2026-06-15", ""), 0);
    std::atomic<int> refused{0}, answered{0};
    std::atomic<bool> go{false};
    const std::string wrongConn = conn;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            while (!go)
                std::this_thread::yield();
            for (int i = 0; i < 40; ++i) {
                int32_t rc = 0;
                switch ((t + i) % 7) {
                case 0:
                    rc = ::CheckUserRight("alice", 1, nullptr, 0);
                    break;
                case 1:
                    rc = ::CheckUserLogin("alice", "secret", "", nullptr, 0);
                    break;
                case 2:
                    rc = ::ChangeUserPassword("bob", "bobpw", "other", "");
                    break;
                case 3:
                    rc = ::ClearLogs("");
                    break;
                case 4:
                    rc = ::DisconnectDatabase();
                    break;
                case 5:
                    rc = ::ConnectDatabase(wrongConn.c_str(), "", "", "", "");
                    break;
                case 6:
                    rc = ::ShowAbout();
                    break;
                }
                if (rc == VARDEX_ERROR && std::string(VardexLastError()).find("thread") != std::string::npos)
                    ++refused;
                else
                    ++answered;
                VardexSetMessageHandler(reenter, nullptr); // refused too: the handler stays unset
            }
        });
    }
    go = true;
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(::CheckUserRight("alice", 1, nullptr, 0), 0);
        ASSERT_EQ(::CheckUserLogin("bob", "bobpw", "2026-06-15", nullptr, 0), 0);
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(refused, 8 * 40);
    EXPECT_EQ(answered, 0);
    EXPECT_EQ(::CheckUserLogin("bob", "bobpw", "2026-06-15", nullptr, 0), 0); // never changed
    EXPECT_EQ(::DisconnectDatabase(), 0);
}

TEST_P(Trust, DistinctInvalidBytesNeverLogInAsEachOther) {
    ASSERT_EQ(::ConnectDatabase(conn.c_str(), "", "", "2026-06-15", ""), 0);
    EXPECT_EQ(::ChangeUserPassword("bob", "bobpw", "caf\xe9", ""), VARDEX_ERROR);
    EXPECT_NE(std::string(VardexLastError()).find("newPassword"), std::string::npos);
    ASSERT_EQ(::ChangeUserPassword("bob", "bobpw", "caf\xef\xbf\xbd", "2026-06-15"), 0); // U+FFFD itself
    for (const char* other : {"caf\xe9", "caf\xe8", "caf\xff"})
        EXPECT_EQ(::CheckUserLogin("bob", other, "2026-06-15", nullptr, 0), VARDEX_ERROR) << other;
    EXPECT_EQ(::CheckUserLogin("bob", "caf\xef\xbf\xbd", "2026-06-15", nullptr, 0), 0);
    EXPECT_EQ(::CheckUserRight("alic\xe5", 1, nullptr, 0), VARDEX_ERROR);
    EXPECT_EQ(::ConnectDatabase(conn.c_str(), "", "", "", "km\xf0q"), VARDEX_ERROR);
    EXPECT_NE(std::string(VardexLastError()).find("cipherKey"), std::string::npos);
    EXPECT_EQ(::CheckUserLogin("alice", "secret", "2026-06-15", nullptr, 0), 0); // session untouched
}

TEST_P(Trust, SixteenRacingPasswordChangesMakeExactlyOne) {
    const int processes = 16;
    std::vector<QStringList> args;
    for (int i = 0; i < processes; ++i)
        args.push_back({"passwd", store->connectionString(), "bob", "bobpw", QString("new%1").arg(i)});
    const auto workers = startWorkersTogether(args);
    int changed = -1, winners = 0;
    for (int i = 0; i < processes; ++i) {
        QProcess& p = *workers[i];
        ASSERT_TRUE(p.waitForFinished(120000));
        const QString out = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
        if (out == "rc=0") {
            ++winners;
            changed = i;
        } else {
            EXPECT_TRUE(out == "rc=6" || out == "rc=3")
                << out.toStdString() << p.readAllStandardError().toStdString();
        }
    }
    ASSERT_EQ(winners, 1);
    ASSERT_EQ(::ConnectDatabase(conn.c_str(), "", "", "2026-06-15", ""), 0);
    EXPECT_EQ(::CheckUserLogin("bob", qPrintable(QString("new%1").arg(changed)), "2026-06-15", nullptr, 0),
              0);
    EXPECT_EQ(scalarInt(*db, "select count(*) from qx_Logs where theLog = '" +
                                 QString::fromUtf8("用户更改密码成功") + "'"),
              1);
}

INSTANTIATE_TEST_SUITE_P(Store, Trust, VARDEX_BACKEND_PARAMS);

TEST(TrustOpen, AMissingStoreIsNotMadeAndTheReasonIsKept) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/mistyped.db";
    const std::string missing = local("Provider=SQLite;Data Source=" + path);
    EXPECT_EQ(::ConnectDatabase(missing.c_str(), "", "", "", ""), 1);
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_NE(std::string(VardexLastError()).find(local(path)), std::string::npos) << VardexLastError();
    ::DisconnectDatabase();
    // A refused server login explains itself too.
    EXPECT_EQ(::ConnectDatabase("Provider=PostgreSQL;Host=127.0.0.1;Port=1;Database=x;Connect Timeout=2", "",
                                "", "", ""),
              1);
    EXPECT_STRNE(VardexLastError(), "");
    ::DisconnectDatabase();
    // Installing makes the file, for its owner only.
    AdoConnection cn;
    cn.setConnectionString("Provider=SQLite;Data Source=" + path);
    cn.openOrCreate();
    cn.execute("CREATE TABLE t (x int)");
    for (const QString& file : {path, path + "-wal"}) {
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0) << file.toStdString();
        EXPECT_EQ(st.st_mode & 0777, 0600u) << file.toStdString();
    }
}
