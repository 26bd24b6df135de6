// A PostgreSQL restart under an open session: the first call after it answers right (or fails
// with an error), never reads the lost connection as "not found", and the session keeps the
// credentials it was opened with. Restarts the test cluster, so it runs alone.
#include "library/cipher.h"
#include "library/dmain.h"
#include "capi/vardex.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

#include <unistd.h>

using namespace vardex;
using namespace vardex::test;

namespace {

// Restarts the cluster the tests run on (its folder holds conn.txt and data/).
void restartCluster() {
    const QString dir = QFileInfo(qEnvironmentVariable("VARDEX_PG_CONNFILE")).absolutePath();
    QStringList bins = QDir("/usr/lib/postgresql").entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    ASSERT_FALSE(bins.isEmpty());
    const QString pgCtl = "/usr/lib/postgresql/" + bins.last() + "/bin/pg_ctl";
    QStringList args{pgCtl, "-D", dir + "/data", "-l", dir + "/server.log", "-m", "fast", "-w", "restart"};
    QString program = args.takeFirst();
    if (::geteuid() == 0) {
        args = QStringList{"-u", "postgres", "--", program} + args;
        program = "runuser";
    }
    QProcess p;
    p.start(program, args);
    ASSERT_TRUE(p.waitForFinished(120000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
}

} // namespace

TEST(TrustRestart, TheFirstCallAfterARestartAnswersRight) {
    if (!postgresAvailable())
        GTEST_SKIP() << "no PostgreSQL cluster";
    MessageRecorder boxes;
    for (Backend backend : {Backend::PostgreSQL, Backend::OdbcPostgreSQL}) {
        SCOPED_TRACE(backendName(backend));
        TempStore store(backend);
        {
            auto db = openConnection(store.connectionString());
            db->execute("INSERT INTO qx_Name (qxID, qxName) VALUES (1, 'query')");
            db->execute("INSERT INTO qx_user (userID, userName, userPwd, startTime, endTime, Allow, AllowZekou, zuid) "
                        "VALUES ('alice', 'Alice', '" + EncryptPassword("secret", "kmpq") +
                        "', '2026-01-01', '2026-12-31', 'T', 0, 10000)");
            db->execute("Exec qxAddUser 'alice'");
            db->execute("Exec qxAddzuName 'pg1'");
            db->execute("Exec qxUpDateAllows 'pg1',1,'T'");
            db->execute("Exec qx_user_zu_changed 'alice','pg1','T'");
        }
        // Credentials in the string, then credentials given at open only (the string names no
        // user, so a reopen from the string alone would log in as somebody else and fail).
        QString withoutUser;
        for (const auto& kv : ConnectionString::parse(store.connectionString()))
            if (kv.first.compare("User ID", Qt::CaseInsensitive) != 0 && kv.first.compare("Uid", Qt::CaseInsensitive) != 0)
                withoutUser += kv.first + "=" + kv.second + ";";
        const QByteArray inString = store.connectionString().toLocal8Bit();
        const QByteArray atOpen = withoutUser.toLocal8Bit();
        for (int way = 0; way < 2; ++way) {
            SCOPED_TRACE(way == 0 ? "credentials in the string" : "credentials given at open");
            if (way == 0)
                ASSERT_EQ(::ConnectDatabase(inString.constData(), "", "", "2026-06-15", ""), 0) << VardexLastError();
            else
                ASSERT_EQ(::ConnectDatabase(atOpen.constData(), "postgres", "", "2026-06-15", ""), 0)
                    << VardexLastError();
            ASSERT_EQ(::CheckUserRight("alice", 1, nullptr, 0), 0);
            restartCluster();
            EXPECT_EQ(::CheckUserRight("alice", 1, nullptr, 0), 0) << VardexLastError();
            restartCluster();
            EXPECT_EQ(::CheckUserLogin("alice", "secret", "2026-06-15", nullptr, 0), 0) << VardexLastError();
            restartCluster();
            EXPECT_EQ(::ClearLogs(""), 0) << VardexLastError();
            EXPECT_EQ(::CheckUserRight("alice", 1, nullptr, 0), 0) << VardexLastError();
            session().CurrentUserName.clear();
            EXPECT_EQ(::DisconnectDatabase(), 0);
        }
    }
}
