// Many desktops on one store: several processes at once mix login checks, right checks and the
// administration window's actions (each in its own transaction) on one SQLite file and on one
// PostgreSQL database. Afterwards the store doctor finds nothing and every audit row is there.
#include "library/cipher.h"
#include "library/doctor.h"
#include "tests/support/testsupport.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <iostream>

using namespace vardex;
using namespace vardex::test;

namespace {

// The store every worker starts from: users u1..u6 (password "pw", no user group), permission
// groups g1..g4, items 1..6; some groups grant some items and some users are in some groups.
void seedStore(AdoConnection& cn) {
    for (int item = 1; item <= 6; ++item)
        cn.execute(QString("INSERT INTO qx_Name (qxID, qxName) VALUES (%1, 'item%1')").arg(item));
    for (int g = 1; g <= 4; ++g)
        cn.execute(QString("Exec qxAddzuName 'g%1'").arg(g));
    const QString pwd = EncryptPassword("pw", "kmpq");
    for (int u = 1; u <= 6; ++u) {
        cn.execute(
            QString("INSERT INTO qx_user (userID, userName, userPwd, startTime, endTime, Allow, AllowZekou, "
                    "zuid) VALUES ('u%1', 'user%1', '%2', '2026-01-01', '2026-12-31', 'T', 0, 10000)")
                .arg(u)
                .arg(pwd));
        cn.execute(QString("Exec qxAddUser 'u%1'").arg(u));
    }
    for (int g = 1; g <= 4; ++g)
        cn.execute(QString("Exec qxUpDateAllows 'g%1',%2,'T'").arg(g).arg(g));
    for (int u = 1; u <= 6; u += 2)
        cn.execute(QString("Exec qx_user_zu_changed 'u%1','g%2','T'").arg(u).arg(u % 4 + 1));
}

struct Totals {
    long rights = 0, logins = 0, logouts = 0, admin = 0, errors = 0;
};

int count(AdoConnection& cn, const QString& log) {
    return scalarInt(cn, "select count(*) from qx_Logs where theLog = '" + log + "'");
}

} // namespace

class ManyDesktops : public ::testing::TestWithParam<Backend> {};

TEST_P(ManyDesktops, FourProcessesKeepEveryCountAndEveryAuditRow) {
    const int processes = 4, operations = 2000;
    TempStore store(GetParam());
    auto cn = openConnection(store.connectionString());
    seedStore(*cn);
    ASSERT_TRUE(checkStore(*cn).clean());

    QElapsedTimer clock; // for the figures only, never asserted
    clock.start();
    // Every worker connected, then all go at once so that their operations overlap.
    std::vector<QStringList> args;
    for (int i = 0; i < processes; ++i)
        args.push_back(
            {"load", store.connectionString(), QString::number(1000 + i), QString::number(operations)});
    const auto workers = startWorkersTogether(args);
    Totals t;
    const QRegularExpression line("rights=(\\d+) logins=(\\d+) admin=(\\d+) errors=(\\d+)");
    for (auto& p : workers) {
        ASSERT_TRUE(p->waitForFinished(600000)) << "a worker did not finish";
        const QString out = QString::fromLocal8Bit(p->readAllStandardOutput());
        const QString err = QString::fromLocal8Bit(p->readAllStandardError());
        EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p->exitCode(), 0) << err.toStdString();
        const auto m = line.match(out);
        ASSERT_TRUE(m.hasMatch()) << out.toStdString() << err.toStdString();
        t.rights += m.captured(1).toLong();
        const long logins = m.captured(2).toLong();
        t.logins += logins;
        t.logouts += logins > 0 ? logins : 0; // one per change of user, and one at the end
        t.admin += m.captured(3).toLong();
        t.errors += m.captured(4).toLong();
    }
    const double seconds = clock.elapsed() / 1000.0;
    std::cout << "[ figures  ] " << backendName(GetParam()) << ": " << processes << " x " << operations
              << " operations in " << seconds << " s; granted checks " << t.rights << ", logins " << t.logins
              << ", committed window actions " << t.admin << ", errors " << t.errors << std::endl;
    EXPECT_EQ(t.errors, 0);
    EXPECT_GT(t.admin, 0);
    EXPECT_GT(t.rights, 0);

    const DoctorReport report = checkStore(*cn);
    for (const Violation& v : report.violations)
        ADD_FAILURE() << v.describe().toStdString();
    QProcess doctor;
    doctor.start(binDir() + "/vardex-cli", {"doctor", store.connectionString()});
    ASSERT_TRUE(doctor.waitForFinished(120000));
    EXPECT_EQ(doctor.exitCode(), 0) << doctor.readAllStandardOutput().toStdString();

    // Every granted check and every login and logout left exactly one audit row.
    EXPECT_EQ(scalarInt(*cn, "select count(*) from qx_Logs where theLog like '" +
                                 QString::fromUtf8("使用权限") + "(%'"),
              t.rights);
    EXPECT_EQ(count(*cn, QString::fromUtf8("用户登录")), t.logins);
    EXPECT_EQ(count(*cn, QString::fromUtf8("用户退出登录")), t.logouts);
    EXPECT_EQ(scalarInt(*cn, "select count(*) from qx_Logs"), t.rights + t.logins + t.logouts);
}

INSTANTIATE_TEST_SUITE_P(Store, ManyDesktops, ::testing::ValuesIn(serverAndFile()),
                         [](const ::testing::TestParamInfo<Backend>& info) {
                             return backendName(info.param);
                         });
