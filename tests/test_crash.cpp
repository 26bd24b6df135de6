// Crash durability: a desktop killed with SIGKILL in the middle of an administration transaction
// or of a stream of audit writes. Afterwards the store holds exactly the committed work: the
// doctor finds nothing, the killed transaction left no trace, every acknowledged audit row is
// there, and the next desktop works at once (no lock outlives its process).
#include "library/cipher.h"
#include "library/doctor.h"
#include "tests/support/testsupport.h"

#include <QProcess>
#include <gtest/gtest.h>

using namespace vardex;
using namespace vardex::test;

class Crash : public ::testing::TestWithParam<Backend> {
  protected:
    void SetUp() override {
        store = std::make_unique<TempStore>(GetParam());
        cn = openConnection(store->connectionString());
        for (int item = 1; item <= 3; ++item)
            cn->execute(QString("INSERT INTO qx_Name (qxID, qxName) VALUES (%1, 'item%1')").arg(item));
        cn->execute("Exec qxAddzuName 'g1'");
        cn->execute("Exec qxAddzuName 'g2'");
        cn->execute("Exec qxUpDateAllows 'g1',1,'T'");
        cn->execute("Exec qxUpDateAllows 'g2',2,'T'");
        cn->execute(
            "INSERT INTO qx_user (userID, userName, userPwd, startTime, endTime, Allow, AllowZekou, zuid) "
            "VALUES ('u1', 'user1', '" +
            EncryptPassword("pw", "kmpq") + "', '2026-01-01', '2026-12-31', 'T', 0, 10000)");
        cn->execute("Exec qxAddUser 'u1'");
        cn->execute("Exec qx_user_zu_changed 'u1','g2','T'");
    }
    // Starts the worker and waits until it printed a line containing marker.
    std::unique_ptr<QProcess> start(const QStringList& args, const QByteArray& marker, QByteArray* out) {
        auto p = std::make_unique<QProcess>();
        p->start(binDir() + "/hardening_worker", args);
        EXPECT_TRUE(p->waitForStarted(30000));
        for (int i = 0; i < 600 && !out->contains(marker); ++i) {
            if (!p->waitForReadyRead(1000) && p->state() != QProcess::Running)
                break;
            *out += p->readAllStandardOutput();
        }
        EXPECT_TRUE(out->contains(marker)) << p->readAllStandardError().toStdString();
        return p;
    }
    void killNow(QProcess& p, QByteArray* out) {
        p.kill(); // SIGKILL: no destructor, no rollback, no close runs in the process
        EXPECT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitStatus(), QProcess::CrashExit);
        *out += p.readAllStandardOutput();
    }
    int countOf(const QString& user, int item) {
        return scalarInt(*cn, QString("select AllowCount from qx_user_qx where userID = '%1' and qxID = %2")
                                  .arg(user)
                                  .arg(item));
    }
    void expectDoctorClean() {
        for (const Violation& v : checkStore(*cn).violations)
            ADD_FAILURE() << v.describe().toStdString();
        if (GetParam() == Backend::SQLite) {
            EXPECT_EQ(scalar(*cn, "PRAGMA integrity_check"), "ok");
        }
    }
    std::unique_ptr<TempStore> store;
    std::unique_ptr<AdoConnection> cn;
};

TEST_P(Crash, AKilledAdministrationTransactionLeavesNoTrace) {
    QByteArray out;
    auto p = start({"hang", store->connectionString(), "u1", "g1"}, "inside", &out);
    killNow(*p, &out);
    // Nothing of the killed transaction: name, assignment and counts as before.
    EXPECT_EQ(scalar(*cn, "select userName from qx_user where userID = 'u1'"), "user1");
    EXPECT_EQ(scalar(*cn, "select Allow from qx_user_zu where userID = 'u1' and zuName = 'g1'"), "F");
    EXPECT_EQ(countOf("u1", 1), 0);
    EXPECT_EQ(countOf("u1", 2), 1);
    expectDoctorClean();
    // The next desktop's transaction on the same rows goes through and commits.
    cn->beginTrans();
    cn->execute("UPDATE qx_user SET userName = 'renamed' WHERE userID = 'u1'");
    cn->execute("Exec qx_user_zu_changed 'u1','g1','T'");
    cn->commitTrans();
    EXPECT_EQ(scalar(*cn, "select userName from qx_user where userID = 'u1'"), "renamed");
    EXPECT_EQ(countOf("u1", 1), 1);
    expectDoctorClean();
}

TEST_P(Crash, EveryAcknowledgedAuditRowSurvivesAKill) {
    QByteArray out;
    auto p = start({"audit", store->connectionString(), "u1", "2"}, "ack 200\n", &out);
    killNow(*p, &out);
    const QList<QByteArray> lines = out.trimmed().split('\n');
    ASSERT_FALSE(lines.isEmpty());
    const QByteArray last = lines.last().trimmed();
    ASSERT_TRUE(last.startsWith("ack ")) << last.toStdString();
    const int acknowledged = last.mid(4).toInt();
    ASSERT_GE(acknowledged, 200);
    const int rows = scalarInt(*cn, "select count(*) from qx_Logs where theLog = '" +
                                        QString::fromUtf8("使用权限(item2)") + "'");
    // Each acknowledged check is in the store; at most the one in flight when killed is too.
    EXPECT_GE(rows, acknowledged);
    EXPECT_LE(rows, acknowledged + 1);
    EXPECT_EQ(scalarInt(*cn, "select count(*) from qx_Logs"), rows);
    expectDoctorClean();
    // The log takes new rows at once.
    cn->execute("INSERT INTO qx_Logs VALUES ('pc', 'u1', '2026-06-15 10:00:00', 'after')");
    EXPECT_EQ(scalarInt(*cn, "select count(*) from qx_Logs"), rows + 1);
}

INSTANTIATE_TEST_SUITE_P(Store, Crash, ::testing::ValuesIn(serverAndFile()),
                         [](const ::testing::TestParamInfo<Backend>& info) {
                             return backendName(info.param);
                         });
