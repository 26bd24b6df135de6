// The library session: opening and closing it, its values, the two statement paths and the
// audit log, through the C++ core and through the exported C interface.
#include "capi/vardex.h"
#include "library/cipher.h"
#include "library/dmain.h"
#include "tests/support/testsupport.h"

#include <QDate>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <string>

using namespace vardex;
using namespace vardex::test;

class Session : public ::testing::TestWithParam<Backend> {
  protected:
    void SetUp() override {
        store = std::make_unique<TempStore>(GetParam());
        check = openConnection(store->connectionString());
        session() = SessionValues();
    }
    void TearDown() override {
        if (hasDataModule()) {
            session().CurrentUserName.clear();
            vardex::DisconnectDatabase();
        }
        session() = SessionValues();
    }
    int connect(const QString& workDate = QString(), const QString& key = QString()) {
        return vardex::ConnectDatabase(store->connectionString(), QString(), QString(), workDate, key);
    }
    int logRows(const QString& where = QString()) {
        return scalarInt(*check,
                         "select count(*) from qx_Logs" + (where.isEmpty() ? QString() : " where " + where));
    }
    std::unique_ptr<TempStore> store;
    std::unique_ptr<AdoConnection> check;
};

TEST_P(Session, ConnectSetsDefaultsAndTakesGivenValuesUnchanged) {
    ASSERT_EQ(connect(), 0);
    EXPECT_EQ(session().WorkDate, QDate::currentDate().toString("yyyy-MM-dd"));
    EXPECT_EQ(session().CipherKey, "kmpq");
    EXPECT_TRUE(session().LoginUpdatesSession);
    EXPECT_EQ(session().DateSeparator, QLatin1Char('-'));
    EXPECT_FALSE(session().ComputerName.isEmpty());
    vardex::DisconnectDatabase();
    ASSERT_EQ(connect(" 2020-1-5 ", " key "), 0);
    EXPECT_EQ(session().WorkDate, " 2020-1-5 ");
    EXPECT_EQ(session().CipherKey, " key ");
}

TEST_P(Session, FailedConnectKeepsPreviousValuesAndLaterStatementsReopenOrFail) {
    ASSERT_EQ(connect("2021-02-03", "k1"), 0);
    vardex::DisconnectDatabase();
    session().LoginUpdatesSession = false;
    EXPECT_EQ(vardex::ConnectDatabase("Provider=SQLite;Data Source=/nonexistent-dir/a/b.db", "", "",
                                      "2030-01-01", "k2"),
              1);
    EXPECT_TRUE(hasDataModule()); // the data module stays, unconnected
    EXPECT_EQ(session().WorkDate, "2021-02-03");
    EXPECT_EQ(session().CipherKey, "k1");
    EXPECT_FALSE(session().LoginUpdatesSession);
    // A statement through the unconnected module opens from the connection string, and fails.
    EXPECT_THROW(vardex::ClearLogs(""), DbError);
    // DisconnectDatabase after a failed connect with a current user: its logout row fails too,
    // and the call ends before the module goes.
    session().CurrentUserName = "someone";
    EXPECT_THROW(vardex::DisconnectDatabase(), DbError);
    EXPECT_TRUE(hasDataModule());
    session().CurrentUserName.clear();
    vardex::DisconnectDatabase();
    EXPECT_FALSE(hasDataModule());
}

TEST_P(Session, UnconnectedModuleReopensFromAWorkingConnectionString) {
    ASSERT_EQ(connect(), 0);
    dataModule().ADOcn.close();
    WriteLog("x");
    EXPECT_EQ(logRows(), 1);
}

TEST_P(Session, DisconnectWritesOneLogoutRowOnlyAfterALogin) {
    ASSERT_EQ(connect(), 0);
    vardex::DisconnectDatabase();
    EXPECT_EQ(logRows(), 0);

    ASSERT_EQ(connect(), 0);
    session().CurrentUserID = "u1";
    session().CurrentUserName = QString::fromUtf8("张三");
    vardex::DisconnectDatabase();
    EXPECT_EQ(logRows(), 1);
    EXPECT_EQ(scalar(*check, "select theLog from qx_Logs"), QString::fromUtf8("用户退出登录"));
    EXPECT_EQ(scalar(*check, "select userName from qx_Logs"), QString::fromUtf8("张三"));

    // The current user survives a reconnect: the next disconnect logs him out again.
    ASSERT_EQ(connect(), 0);
    vardex::DisconnectDatabase();
    EXPECT_EQ(logRows(QString::fromUtf8("userName = '张三'")), 2);
}

TEST_P(Session, LogoutRowFailureKeepsTheSessionOpen) {
    ASSERT_EQ(connect(), 0);
    check->execute("DROP TABLE qx_Logs");
    session().CurrentUserName = "u";
    EXPECT_THROW(vardex::DisconnectDatabase(), DbError);
    EXPECT_TRUE(hasDataModule());
    EXPECT_TRUE(dataModule().ADOcn.connected());
}

TEST_P(Session, AuditRowsCarryComputerUserAndTime) {
    ASSERT_EQ(connect(), 0);
    WriteLog("before login");
    session().CurrentUserName = "o'neil";
    WriteLog("it's");
    AdoQuery q(check.get(), "select * from qx_Logs where theLog = 'before login'");
    q.open();
    ASSERT_EQ(q.recordCount(), 1);
    EXPECT_EQ(q.fieldByName("CompName").asString(), session().ComputerName);
    EXPECT_EQ(q.fieldByName("userName").asString(), "");
    const QString t = q.fieldByName("theTime").asString();
    EXPECT_TRUE(QRegularExpression("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}$").match(t).hasMatch())
        << t.toStdString();
    EXPECT_EQ(logRows("userName = 'o''neil' and theLog = 'it''s'"), 1);
}

TEST_P(Session, ClearLogsComparesTimesAsText) {
    ASSERT_EQ(connect(), 0);
    for (const char* t :
         {"2026-01-30 10:00:00", "2026-01-31 00:00:00", "2026-01-31 23:59:59", "2026-02-01 08:00:00"})
        check->execute(QString("INSERT INTO qx_Logs VALUES ('pc','u','%1','x')").arg(t));
    vardex::ClearLogs("2026-01-31"); // a bare date sorts before every time of that day
    EXPECT_EQ(logRows(), 3);
    vardex::ClearLogs("2026-01-31 23:59:59");
    EXPECT_EQ(logRows(), 1);
    vardex::ClearLogs("' or '1'='1"); // literal text: sorts before every date, deletes nothing
    EXPECT_EQ(logRows(), 1);
    dataModule().ADOcn.setLogging(true);
    vardex::ClearLogs("");
    EXPECT_EQ(logRows(), 0);
    EXPECT_EQ(dataModule().ADOcn.statementLog(), QStringList{"DELETE qx_Logs"});
}

TEST_P(Session, OpenOrExecuteRunsAFailedSelectASecondTime) {
    ASSERT_EQ(connect(), 0);
    AdoQuery& q = dataModule().ADOqrCheck;
    q.clearSql();
    q.addSql("select * from qx_user where userID = 'a'");
    EXPECT_EQ(OpenOrExecute(q), 0);
    dataModule().ADOcn.setLogging(true);
    q.clearSql();
    q.addSql("select * from qx_usr where userID = 'a'");
    EXPECT_THROW(OpenOrExecute(q), DbError);
    const QString text = "select * from qx_usr where userID = 'a'\r\n";
    EXPECT_EQ(dataModule().ADOcn.statementLog(), (QStringList{text, text}));
}

TEST_P(Session, TheCInterfaceNeverThrows) {
    const QByteArray cs = store->connectionString().toUtf8();
    EXPECT_EQ(::ClearLogs(""), VARDEX_ERROR); // no session yet
    EXPECT_STRNE(VardexLastError(), "");
    EXPECT_EQ(::DisconnectDatabase(), VARDEX_ERROR);
    EXPECT_EQ(::ConnectDatabase(nullptr, nullptr, nullptr, nullptr, nullptr), 1);
    ASSERT_EQ(::ConnectDatabase(cs.constData(), nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_STREQ(VardexLastError(), "");
    EXPECT_EQ(session().CipherKey, "kmpq");
    check->execute("INSERT INTO qx_Logs VALUES ('pc','u','2000-01-01 00:00:00','x')");
    EXPECT_EQ(::ClearLogs(nullptr), 0);
    EXPECT_EQ(logRows(), 0);
    check->execute("DROP TABLE qx_Logs");
    EXPECT_EQ(::ClearLogs("x"), VARDEX_ERROR);
    EXPECT_STRNE(VardexLastError(), "");
    EXPECT_EQ(::DisconnectDatabase(), 0);
    EXPECT_EQ(::DisconnectDatabase(), VARDEX_ERROR);
    EXPECT_STRNE(VardexVersion(), "");
}

// An audit row the store refuses: a granted right check still answers 0 but says so (on
// VardexLastError, and to the client's handler or standard error), and a login whose row is
// refused leaves the session's current user as it was.
TEST_P(Session, ARefusedAuditRowIsMadeKnownAndSwitchesNoUser) {
    for (const char* u : {"'alice','Alice'", "'bob','Bob'"})
        check->execute(QString("INSERT INTO qx_user (userID, userName, userPwd, startTime, endTime, Allow, "
                               "AllowZekou, zuid) VALUES (%1, '', '2026-01-01', '2026-12-31', 'T', 0, 10000)")
                           .arg(u));
    check->execute("INSERT INTO qx_Name (qxID, qxName) VALUES (1, 'query')");
    check->execute("INSERT INTO qx_user_qx (userID, qxID, AllowCount) VALUES ('alice', 1, 1)");
    if (GetParam() == Backend::SQLite) {
        check->execute("CREATE TRIGGER refuse_alice BEFORE INSERT ON qx_Logs WHEN NEW.userName = 'Alice' "
                       "BEGIN SELECT RAISE(ABORT, 'audit refused'); END");
    } else {
        check->execute(
            "CREATE FUNCTION refuse_alice() RETURNS trigger LANGUAGE plpgsql AS $$BEGIN IF NEW.userName "
            "= 'Alice' THEN RAISE EXCEPTION 'audit refused'; END IF; RETURN NEW; END$$");
        check->execute("CREATE TRIGGER refuse_alice BEFORE INSERT ON qx_Logs FOR EACH ROW EXECUTE FUNCTION "
                       "refuse_alice()");
    }
    ASSERT_EQ(connect("2026-06-15"), 0);
    ASSERT_EQ(::CheckUserLogin("bob", "", "2026-06-15", nullptr, 0), 0);
    EXPECT_EQ(::CheckUserLogin("alice", "", "2026-06-15", nullptr, 0), VARDEX_ERROR);
    EXPECT_NE(std::string(VardexLastError()).find("audit refused"), std::string::npos) << VardexLastError();
    EXPECT_EQ(session().CurrentUserID, "bob");
    EXPECT_EQ(session().CurrentUserName, "Bob");
    EXPECT_EQ(logRows("userName = 'Bob'"), 2); // his login, and the logout written before the refusal

    session().CurrentUserName = "Alice"; // as a client that took her over before the fault was known
    {
        MessageRecorder rec;
        EXPECT_EQ(::CheckUserRight("alice", 1, nullptr, 0), 0);
        EXPECT_NE(std::string(VardexLastError()).find("audit refused"), std::string::npos)
            << VardexLastError();
        ASSERT_EQ(rec.boxes.size(), 1u);
        EXPECT_TRUE(rec.boxes[0].text.contains("audit refused")) << rec.boxes[0].text.toStdString();
        EXPECT_EQ(rec.boxes[0].caption, QString::fromUtf8("用户权限"));
        EXPECT_EQ(rec.boxes[0].type, mb::Ok | mb::IconWarning);
    }
    setMessageHandler(MessageHandler()); // no client handler: the loss goes to standard error
    ::testing::internal::CaptureStderr();
    const int rc = ::CheckUserRight("alice", 1, nullptr, 0);
    const std::string err = ::testing::internal::GetCapturedStderr();
    installUnexpectedBoxGuard();
    EXPECT_EQ(rc, 0);
    EXPECT_NE(err.find("audit refused"), std::string::npos) << err;
    // Inside a window's transaction the row is kept and written when the transaction ends: a
    // refusal then is reported too.
    dataModule().ADOcn.beginTrans();
    EXPECT_EQ(::CheckUserRight("alice", 1, nullptr, 0), 0);
    {
        MessageRecorder rec;
        dataModule().ADOcn.rollbackTrans();
        ASSERT_EQ(rec.boxes.size(), 1u);
        EXPECT_TRUE(rec.boxes[0].text.contains("audit refused")) << rec.boxes[0].text.toStdString();
        EXPECT_EQ(rec.boxes[0].type, mb::Ok | mb::IconWarning);
    }
    session().CurrentUserName = "Bob";
    EXPECT_EQ(::CheckUserRight("alice", 1, nullptr, 0), 0); // written: nothing to report
    EXPECT_STREQ(VardexLastError(), "");
}

INSTANTIATE_TEST_SUITE_P(Backends, Session, VARDEX_BACKEND_PARAMS);

// Two sessions in one process, each on a store of its own under a key of its own: what one
// does (logins, right checks, their audit rows, a disconnect, a call in progress) neither
// changes nor writes into the other, nor the process's session.
TEST(TwoSessions, KeepTheirOwnStoreUserKeyRowsAndGuard) {
    TempStore storeA(Backend::SQLite), storeB(Backend::SQLite);
    const auto dbA = openConnection(storeA.connectionString());
    const auto dbB = openConnection(storeB.connectionString());
    // Items 1 and 2 in both stores; the one user of each holds only the given item.
    const auto prepare = [](AdoConnection& db, const QString& id, const QString& name, const QString& key,
                            int item) {
        db.execute("INSERT INTO qx_Name (qxID, qxName) VALUES (1, 'i1')");
        db.execute("INSERT INTO qx_Name (qxID, qxName) VALUES (2, 'i2')");
        db.execute("Exec qxAddzuName 'g'");
        db.execute(QString("Exec qxUpDateAllows 'g',%1,'T'").arg(item));
        db.execute("INSERT INTO qx_user (userID, userName, userPwd, startTime, endTime, Allow, AllowZekou, "
                   "zuid) VALUES ('" +
                   id + "', '" + name + "', '" + EncryptPassword("pw", key) +
                   "', '2026-01-01', '2026-12-31', 'T', 0, 10000)");
        db.execute("Exec qxAddUser '" + id + "'");
        db.execute("Exec qx_user_zu_changed '" + id + "','g','T'");
    };
    prepare(*dbA, "ua", "Anna", "kmpq", 1);
    prepare(*dbB, "ub", "Bert", "other", 2);
    const auto rows = [](AdoConnection& db, const QString& where) {
        return scalarInt(db, "select count(*) from qx_Logs where " + where);
    };
    const QString day = "2026-06-15";

    LibrarySession a, b;
    ASSERT_EQ(ConnectDatabase(a, storeA.connectionString(), "", "", day, ""), 0);
    ASSERT_EQ(ConnectDatabase(b, storeB.connectionString(), "", "", day, "other"), 0);
    EXPECT_FALSE(hasDataModule());
    EXPECT_EQ(a.values().CipherKey, "kmpq");
    EXPECT_EQ(b.values().CipherKey, "other");

    EXPECT_EQ(CheckUserLogin(a, "ua", "pw", day, nullptr, 0), login::Verified);
    EXPECT_EQ(a.values().CurrentUserName, "Anna");
    EXPECT_EQ(b.values().CurrentUserName, "");
    EXPECT_EQ(session().CurrentUserName, "");
    EXPECT_EQ(CheckUserLogin(b, "ua", "pw", day, nullptr, 0), login::NoSuchUser);
    EXPECT_EQ(CheckUserLogin(b, "ub", "pw", day, nullptr, 0), login::Verified);
    EXPECT_EQ(a.values().CurrentUserName, "Anna");
    EXPECT_EQ(b.values().CurrentUserName, "Bert");
    EXPECT_EQ(a.values().CurrentUserID, "ua");

    EXPECT_EQ(CheckUserRight(a, "ua", 1, nullptr, 0), rights::Held);
    EXPECT_EQ(CheckUserRight(a, "ua", 2, nullptr, 0), rights::NotHeld);
    EXPECT_EQ(CheckUserRight(b, "ub", 1, nullptr, 0), rights::NotHeld);
    EXPECT_EQ(CheckUserRight(b, "ub", 2, nullptr, 0), rights::Held);
    EXPECT_EQ(rows(*dbA, "userName = 'Anna'"), 2); // login, item 1
    EXPECT_EQ(rows(*dbA, "userName <> 'Anna'"), 0);
    EXPECT_EQ(rows(*dbB, "userName = 'Bert'"), 2); // login, item 2
    EXPECT_EQ(rows(*dbB, "userName <> 'Bert'"), 0);

    {
        // A call in progress on one session refuses its own disconnect only.
        CallInProgress busy(a);
        EXPECT_THROW(DisconnectDatabase(a), Error);
        DisconnectDatabase(b);
    }
    EXPECT_TRUE(a.hasData());
    EXPECT_FALSE(b.hasData());
    EXPECT_EQ(rows(*dbB, "theLog = '用户退出登录' and userName = 'Bert'"), 1);
    EXPECT_EQ(CheckUserRight(a, "ua", 1, nullptr, 0), rights::Held);
    DisconnectDatabase(a);
    EXPECT_EQ(rows(*dbA, "theLog = '用户退出登录' and userName = 'Anna'"), 1);
    EXPECT_EQ(rows(*dbA, "userName <> 'Anna'") + rows(*dbB, "userName <> 'Bert'"), 0);
}
