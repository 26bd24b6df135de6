// VardexQueryRights: the answers of many right checks in one round trip, without boxes or audit
// rows, on every database kind.
#include "capi/vardex.h"
#include "library/dmain.h"
#include "tests/support/testsupport.h"

#include <QProcess>
#include <algorithm>
#include <gtest/gtest.h>
#include <set>
#include <thread>

using namespace vardex;
using namespace vardex::test;

class Rights : public ::testing::TestWithParam<Backend> {
  protected:
    void SetUp() override {
        store = std::make_unique<TempStore>(GetParam());
        auto db = openConnection(store->connectionString());
        db->execute("INSERT INTO qx_Name (qxID, qxName) VALUES (1, 'a')");
        // User group 3 with two members, a member whose group is gone, zuid 1000 and 5 (no
        // group can match), grants with count 0, on an undefined item (9) and without an item.
        for (const char* u : {"'solo',10000", "'o''brien',10001", "'grp',3", "'mem',1003", "'mem2',1003",
                              "'orphan',1007", "'m1000',1000", "'low',5"})
            db->execute(QString("INSERT INTO qx_user (userID, userName, zuid) VALUES (%1)")
                            .arg(QString(u).replace(",", ",'x',")));
        for (const char* g : {"'solo',1,1", "'solo',2,0", "'solo',9,4", "'solo',NULL,5", "'o''brien',3,2",
                              "'grp',2,1", "'grp',1,0", "'mem',1,7", "'orphan',2,1", "'m1000',2,1"})
            db->execute(QString("INSERT INTO qx_user_qx (userID, qxID, AllowCount) VALUES (%1)").arg(g));
        ASSERT_EQ(vardex::ConnectDatabase(store->connectionString(), "", "", "2026-06-15", ""), 0);
        session().CurrentUserName = "op";
    }
    void TearDown() override {
        if (hasDataModule())
            vardex::DisconnectDatabase();
        session() = SessionValues();
    }
    std::unique_ptr<TempStore> store;
};

TEST_P(Rights, AnswersAreTheRightChecksInConstantStatementsWithoutBoxesOrAuditRows) {
    const char* users[] = {"solo", "o'brien", "grp", "mem", "mem2", "orphan", "m1000", "low", "nobody", ""};
    std::vector<int32_t> items{1, 2, 3, 9, 0, 4, -1, 2147483647, 1};
    AdoConnection& cn = dataModule().ADOcn;
    cn.setLogging(true);
    MessageRecorder rec;
    std::set<int32_t> codes;
    for (const char* u : users) {
        std::vector<int32_t> answers(items.size(), -7);
        ASSERT_EQ(::VardexQueryRights(u, items.data(), int32_t(items.size()), answers.data()), 0);
        ASSERT_TRUE(rec.boxes.empty());
        ASSERT_EQ(cn.statementLog().filter("qx_Logs").size(), 0);
        for (size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(answers[i], ::CheckUserRight(u, items[i], nullptr, 0)) << u << " item " << items[i];
            codes.insert(answers[i]);
        }
        cn.clearLog();
        rec.boxes.clear();
    }
    EXPECT_EQ(codes, (std::set<int32_t>{0, 1, 2, 3}));
    // A member: the user, the group, then the group's grants, however many items are asked.
    for (int32_t count : {1, 1000}) {
        std::vector<int32_t> ids(count, 2), answers(count);
        cn.clearLog();
        ASSERT_EQ(::VardexQueryRights("mem", ids.data(), count, answers.data()), 0);
        EXPECT_EQ(cn.statementLog().size(), 3);
        EXPECT_EQ(cn.statementLog().value(2),
                  "select qxID from qx_user_qx where UserID = 'grp' and AllowCount > 0\r\n");
    }
}

TEST_P(Rights, BadCallsAreClearErrorsThatLeaveTheAnswersAlone) {
    int32_t ids[2] = {1, 2}, answers[2] = {-7, -7}, fromThread = 0;
    EXPECT_EQ(::VardexQueryRights("solo", ids, -1, answers), VARDEX_ERROR);
    EXPECT_EQ(::VardexQueryRights("solo", nullptr, 2, answers), VARDEX_ERROR);
    EXPECT_EQ(::VardexQueryRights("solo", ids, 2, nullptr), VARDEX_ERROR);
    EXPECT_EQ(::VardexQueryRights("so\xff\xfelo", ids, 2, answers), VARDEX_ERROR);
    std::thread([&] { fromThread = ::VardexQueryRights("solo", ids, 2, answers); }).join();
    EXPECT_EQ(fromThread, VARDEX_ERROR);
    EXPECT_STRNE(VardexLastError(), "");
    EXPECT_EQ(answers[0] + answers[1], -14);
    EXPECT_EQ(::VardexQueryRights("solo", nullptr, 0, nullptr), 0);
    const std::string huge(1 << 20, '\'');
    EXPECT_EQ(::VardexQueryRights(huge.c_str(), ids, 2, answers), 0);
    EXPECT_EQ(answers[1], 1);
    vardex::DisconnectDatabase();
    EXPECT_EQ(::VardexQueryRights("solo", ids, 0, answers), VARDEX_ERROR);
}

// Whatever a grant row holds, the two calls agree; and answers may overlap rightIds.
TEST_P(Rights, AgreesWithTheRightCheckOnEveryStoredValueAndOverlappingArrays) {
    if (GetParam() == Backend::SQLite) {
        // Values a store without types keeps as they are: BLOBs, texts that are no number.
        auto db = openConnection(store->connectionString());
        for (const char* v : {"X'35'", "X'3130'", "'6 '", "' 7'", "'8x'", "11.0", "12.5"})
            db->execute(
                QString("INSERT INTO qx_user_qx (userID, qxID, AllowCount) VALUES ('solo', %1, 1)").arg(v));
    }
    const std::vector<int32_t> items{5, 10, 6, 7, 8, 11, 12, 1, 2, 9, 3};
    MessageRecorder rec; // the undefined items' warnings
    std::vector<int32_t> expected;
    for (int32_t id : items)
        expected.push_back(::CheckUserRight("solo", id, nullptr, 0));
    std::vector<int32_t> answers(items.size(), -7);
    ASSERT_EQ(::VardexQueryRights("solo", items.data(), int32_t(items.size()), answers.data()), 0);
    EXPECT_EQ(answers, expected);
    // answers one place after rightIds, one before, and the same array.
    for (int shift : {1, -1, 0}) {
        std::vector<int32_t> buffer(items.size() + 1, -7);
        const size_t from = shift < 0 ? 1 : 0;
        std::copy(items.begin(), items.end(), buffer.begin() + from);
        ASSERT_EQ(::VardexQueryRights("solo", buffer.data() + from, int32_t(items.size()),
                                      buffer.data() + from + shift),
                  0);
        EXPECT_EQ(
            std::vector<int32_t>(buffer.begin() + from + shift, buffer.begin() + from + shift + items.size()),
            expected)
            << "shift " << shift;
    }
}

TEST_P(Rights, TheCommandLineSessionPrintsTheAnswers) {
    QProcess p;
    p.start(binDir() + "/vardex-cli", {"session", store->connectionString()});
    ASSERT_TRUE(p.waitForStarted(10000));
    p.write("VardexQueryRights \"mem\" 2 1 0\nVardexQueryRights \"solo\" 1 x\nVardexQueryRights\n");
    p.closeWriteChannel();
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(QString::fromUtf8(p.readAllStandardOutput()),
              "# answers 0 3 3\n0\nerror: VardexQueryRights: a whole number of 32 bits was expected\n"
              "error: VardexQueryRights takes 1 or more argument(s)\n");
}

INSTANTIATE_TEST_SUITE_P(Backends, Rights, VARDEX_BACKEND_PARAMS);
