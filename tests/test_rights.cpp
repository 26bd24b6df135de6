// VardexQueryRights: the answers of many right checks in one round trip, without boxes or audit
// rows, on every database kind.
#include "capi/vardex.h"
#include "library/dmain.h"
#include "platform/sqldialect.h"
#include "tests/support/testsupport.h"

#include <QProcess>
#include <gtest/gtest.h>
#include <thread>

using namespace vardex;
using namespace vardex::test;

namespace {

std::vector<int32_t> query(const char* userId, const std::vector<int32_t>& ids) {
    std::vector<int32_t> answers(ids.size(), -7);
    EXPECT_EQ(::VardexQueryRights(userId, ids.data(), static_cast<int32_t>(ids.size()), answers.data()), 0)
        << VardexLastError();
    return answers;
}

} // namespace

class Rights : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        store = std::make_unique<TempStore>(GetParam());
        db = openConnection(store->connectionString());
        session() = SessionValues();
        for (int item : {1, 2, 3, 5})
            db->execute(QString("INSERT INTO qx_Name (qxID, qxName) VALUES (%1, 'n%1')").arg(item));
        // Users, a user group (number 3) with members, a member whose group is gone, a row whose
        // group number would be 0, and a group number below 1000.
        const QList<QPair<QString, int>> users{{"solo", 10000}, {"o'brien", 10001}, {"zero", 10000},
                                               {"grp", 3},      {"mem", 1003},      {"mem2", 1003},
                                               {"orphan", 1007}, {"m1000", 1000},    {"low", 5}};
        for (const auto& u : users)
            db->execute(QString("INSERT INTO qx_user (userID, userName, zuid) VALUES ('%1', 'x', %2)")
                            .arg(escapeQuotes(u.first))
                            .arg(u.second));
        // Grant rows: held, held with count 0, held for an undefined item (9), a member's own rows
        // (which never count) and a row without an item.
        const QStringList grants{"'solo',1,1",  "'solo',2,0",   "'solo',9,4",  "'o''brien',3,2", "'grp',2,1",
                                 "'grp',5,3",   "'grp',1,0",    "'mem',1,7",   "'orphan',2,1",   "'solo',NULL,5",
                                 "'zero',3,-1", "'m1000',2,1"};
        for (const QString& g : grants)
            db->execute("INSERT INTO qx_user_qx (userID, qxID, AllowCount) VALUES (" + g + ")");
        ASSERT_EQ(vardex::ConnectDatabase(store->connectionString(), "", "", "2026-06-15", ""), 0);
        session().CurrentUserName = "op";
    }
    void TearDown() override {
        if (hasDataModule())
            vardex::DisconnectDatabase();
        session() = SessionValues();
    }
    int logRows() { return scalarInt(*db, "select count(*) from qx_Logs"); }
    std::unique_ptr<TempStore> store;
    std::unique_ptr<AdoConnection> db;
};

TEST_P(Rights, EveryAnswerIsTheRightChecksAndNothingIsShownOrLogged) {
    const std::vector<const char*> users{"solo", "o'brien", "zero", "grp",   "mem",    "mem2",
                                         "orphan", "m1000", "low",  "nobody", "' or '1'='1", ""};
    const std::vector<int32_t> items{1, 2, 3, 5, 9, 0, 4, -1, 2147483647, -2147483647 - 1, 1};
    MessageRecorder rec;
    std::vector<std::vector<int32_t>> asked;
    for (const char* u : users)
        asked.push_back(query(u, items));
    EXPECT_EQ(logRows(), 0);
    EXPECT_TRUE(rec.boxes.empty());
    for (size_t u = 0; u < users.size(); ++u)
        for (size_t i = 0; i < items.size(); ++i)
            EXPECT_EQ(asked[u][i], ::CheckUserRight(users[u], items[i], nullptr, 0))
                << users[u] << " item " << items[i];
    // Not all alike: the comparison above covers every code.
    EXPECT_EQ(asked[0], (std::vector<int32_t>{0, 3, 3, 3, 0, 3, 3, 3, 3, 3, 0}));
    EXPECT_EQ(asked[4], (std::vector<int32_t>{3, 0, 3, 0, 3, 3, 3, 3, 3, 3, 3}));
    EXPECT_EQ(asked[6][0], 2);
    EXPECT_EQ(asked[9][0], 1);
}

TEST_P(Rights, TheStatementsDoNotGrowWithTheCount) {
    AdoConnection& cn = dataModule().ADOcn;
    cn.setLogging(true);
    for (int32_t count : {1, 10, 1000}) {
        std::vector<int32_t> ids(count);
        for (int32_t i = 0; i < count; ++i)
            ids[i] = i;
        cn.clearLog();
        const std::vector<int32_t> a = query("mem", ids);
        EXPECT_EQ(cn.statementLog(),
                  (QStringList{"select * from qx_user where userid = 'mem'\r\n", "select * from qx_user where zuid =3\r\n",
                               "select qxID from qx_user_qx where UserID = 'grp' and AllowCount > 0\r\n"}));
        if (count > 5)
            EXPECT_EQ((std::vector<int32_t>{a[1], a[2], a[5]}), (std::vector<int32_t>{3, 0, 0})); // group 3's grants
        else
            EXPECT_EQ(a[0], 3);
        cn.clearLog();
        query("o'brien", ids);
        EXPECT_EQ(cn.statementLog().size(), 2);
        EXPECT_EQ(cn.statementLog().value(1),
                  "select qxID from qx_user_qx where UserID = 'o''brien' and AllowCount > 0\r\n");
    }
    cn.clearLog();
    EXPECT_EQ(::VardexQueryRights("mem", nullptr, 0, nullptr), 0);
    EXPECT_TRUE(cn.statementLog().isEmpty());
}

TEST_P(Rights, BadArgumentsAreClearErrorsThatLeaveTheAnswersAlone) {
    int32_t ids[2] = {1, 2};
    int32_t answers[2] = {-7, -7};
    EXPECT_EQ(::VardexQueryRights("solo", ids, -1, answers), VARDEX_ERROR);
    EXPECT_STRNE(VardexLastError(), "");
    EXPECT_EQ(::VardexQueryRights("solo", nullptr, 2, answers), VARDEX_ERROR);
    EXPECT_EQ(::VardexQueryRights("solo", ids, 2, nullptr), VARDEX_ERROR);
    EXPECT_EQ(::VardexQueryRights("so\xff\xfelo", ids, 2, answers), VARDEX_ERROR);
    EXPECT_EQ(answers[0], -7);
    EXPECT_EQ(answers[1], -7);
    // A null user ID reads as empty, as in the other calls; a 1 MB one is simply nobody.
    EXPECT_EQ(::VardexQueryRights(nullptr, ids, 2, answers), 0);
    EXPECT_EQ(answers[0], 1);
    const std::string huge(1 << 20, '\'');
    EXPECT_EQ(query(huge.c_str(), {1}), std::vector<int32_t>{1});

    // Another thread is refused; a call from inside a box of another call is answered.
    int32_t fromThread = 0;
    std::thread([&] { fromThread = ::VardexQueryRights("solo", ids, 2, answers); }).join();
    EXPECT_EQ(fromThread, VARDEX_ERROR);
    std::vector<int32_t> nested;
    setMessageHandler([&](const MessageBoxRequest&) {
        nested = query("solo", {1, 4});
        return 1;
    });
    EXPECT_EQ(::CheckUserRight("solo", 4, nullptr, 0), 3); // item 4 is undefined: a box
    installUnexpectedBoxGuard();
    EXPECT_EQ(nested, (std::vector<int32_t>{0, 3}));

    vardex::DisconnectDatabase();
    EXPECT_EQ(::VardexQueryRights("solo", ids, 2, answers), VARDEX_ERROR);
    EXPECT_EQ(::VardexQueryRights("solo", ids, 0, answers), VARDEX_ERROR);
}

TEST_P(Rights, TheCommandLineSessionPrintsTheAnswers) {
    QProcess p;
    p.start(binDir() + "/vardex-cli", {"session", store->connectionString()});
    ASSERT_TRUE(p.waitForStarted(10000));
    p.write("VardexQueryRights \"mem\" 2 1 0\nVardexQueryRights \"o'brien\" 3\n"
            "VardexQueryRights \"solo\" 1 x\nVardexQueryRights\n");
    p.closeWriteChannel();
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(QString::fromUtf8(p.readAllStandardOutput()),
              "# answers 0 3 3\n0\n# answers 0\n0\n"
              "error: VardexQueryRights: a whole number of 32 bits was expected\n"
              "error: VardexQueryRights takes 1 or more argument(s)\n");
    EXPECT_EQ(p.exitCode(), 1);
}

INSTANTIATE_TEST_SUITE_P(Backends, Rights, VARDEX_BACKEND_PARAMS);
