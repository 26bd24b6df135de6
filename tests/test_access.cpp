// Login verification, right check, password change and the about box, on every database kind,
// through the core and through the C interface.
#include "capi/vardex.h"
#include "library/cipher.h"
#include "library/dmain.h"
#include "platform/sqldialect.h"
#include "tests/support/testsupport.h"

#include <QDate>
#include <gtest/gtest.h>

using namespace vardex;
using namespace vardex::test;

namespace {
const QString kLoginCaption = QString::fromUtf8("用户登录");
const QString kRightCaption = QString::fromUtf8("用户权限");
const uint32_t kWarning = 0x30;
} // namespace

class Access : public ::testing::TestWithParam<Backend> {
  protected:
    void SetUp() override {
        store = std::make_unique<TempStore>(GetParam());
        db = openConnection(store->connectionString());
        session() = SessionValues();
        // Items first: every rights-holding row then gets a grant row per item.
        db->execute("INSERT INTO qx_Name (qxID, qxName) VALUES (1, '查询')");
        db->execute("INSERT INTO qx_Name (qxID, qxName) VALUES (2, 'print')");
        db->execute("Exec qxAddzuName 'clerks'");
        ASSERT_EQ(vardex::ConnectDatabase(store->connectionString(), "", "", "2026-06-15", ""), 0);
    }
    void TearDown() override {
        if (hasDataModule()) {
            session().CurrentUserName.clear();
            vardex::DisconnectDatabase();
        }
        session() = SessionValues();
    }
    void addUser(const QString& id, const QString& password, int zuid = 10000, const QString& allow = "T",
                 const QString& start = "2026-01-01", const QString& end = "2026-12-31",
                 const QString& name = QString()) {
        const QString pwd = password.isEmpty() ? QString() : EncryptPassword(password, "kmpq");
        db->execute(QString("INSERT INTO qx_user (userID, userName, userPwd, startTime, endTime, Allow, "
                            "AllowZekou, zuid) "
                            "VALUES ('%1', '%2', '%3', %4, %5, '%6', 0, %7)")
                        .arg(escapeQuotes(id), escapeQuotes(name.isEmpty() ? id : name), pwd,
                             start.isNull() ? "NULL" : "'" + start + "'",
                             end.isNull() ? "NULL" : "'" + end + "'", allow)
                        .arg(zuid));
        if (zuid < 1000 || zuid >= 10000)
            db->execute("Exec qxAddUser '" + escapeQuotes(id) + "'");
    }
    // Grants one item through a permission group of its own.
    void grant(const QString& id, int item) {
        const QString group = QString("p%1").arg(++groups);
        db->execute("Exec qxAddzuName '" + group + "'");
        db->execute("Exec qxUpDateAllows '" + group + "'," + QString::number(item) + ",'T'");
        db->execute("Exec qx_user_zu_changed '" + escapeQuotes(id) + "','" + group + "','T'");
    }
    int groups = 0;
    int logRows(const QString& where = QString()) {
        return scalarInt(*db,
                         "select count(*) from qx_Logs" + (where.isEmpty() ? QString() : " where " + where));
    }
    QStringList logTexts() {
        AdoQuery q(db.get(), "select userName, theLog from qx_Logs");
        q.open();
        QStringList out;
        for (q.first(); !q.eof(); q.next())
            out << q.fieldByName("theLog").asString() + "/" + q.fieldByName("userName").asString();
        return out;
    }
    int login(const QString& id, const QString& pwd, const QString& date = "2026-06-15", int mode = 0,
              const QString* fail = nullptr) {
        return vardex::CheckUserLogin(id, pwd, date, fail, mode);
    }
    std::unique_ptr<TempStore> store;
    std::unique_ptr<AdoConnection> db;
};

TEST_P(Access, LoginCodes) {
    addUser("u", "pw");
    addUser("off", "pw", 10000, "F", "2020-01-01", "2020-12-31"); // disabled and expired
    addUser("late", "pw", 10000, "T", "2026-07-01", "2026-12-31");
    addUser("old", "pw", 10000, "T", "2025-01-01", "2026-06-14");
    addUser("open", "pw", 10000, "T", QString(), "2026-06-15");  // NULL start: no lower bound
    addUser("noend", "pw", 10000, "T", "2026-01-01", QString()); // NULL end: always too late
    addUser("nopw", "");
    addUser("grp", "", 3);
    addUser("m1000", "pw", 1000);
    EXPECT_EQ(login("u", "pw"), 0);
    EXPECT_EQ(login("u", "PW"), 3);
    EXPECT_EQ(login("u", ""), 3);
    EXPECT_EQ(login("nobody", "pw"), 4);
    EXPECT_EQ(login("grp", ""), 4);
    EXPECT_EQ(login("m1000", "pw"), 4);
    EXPECT_EQ(login("off", "pw"), 1); // the enabled test comes before the period
    EXPECT_EQ(login("late", "pw"), 2);
    EXPECT_EQ(login("late", "pw", "2026-07-01"), 0); // first day included
    EXPECT_EQ(login("old", "pw"), 2);
    EXPECT_EQ(login("old", "pw", "2026-06-14"), 0); // last day included
    EXPECT_EQ(login("open", "pw", "1999-01-01"), 0);
    EXPECT_EQ(login("noend", "pw"), 2);
    EXPECT_EQ(login("nopw", ""), 0);
    EXPECT_EQ(login("nopw", "x"), 3);
}

TEST_P(Access, ThePasswordPicksAmongRowsOfOneId) {
    addUser("twin", "a", 10000, "T");
    addUser("twin", "b", 10000, "F");
    EXPECT_EQ(login("twin", "a"), 0);
    EXPECT_EQ(login("twin", "b"), 1);
    EXPECT_EQ(login("twin", "c"), 3);
}

TEST_P(Access, LoginBoxesFollowTheMode) {
    addUser("u", "pw");
    addUser("off", "pw", 10000, "F");
    MessageRecorder rec;
    const QString fail = "custom 'fail'";
    const QString empty;
    EXPECT_EQ(login("u", "x", "2026-06-15", 0), 3);
    EXPECT_EQ(login("u", "x", "2026-06-15", 1, nullptr), 3);
    EXPECT_TRUE(rec.boxes.empty());
    EXPECT_EQ(login("u", "x", "2026-06-15", 1, &fail), 3);
    EXPECT_EQ(login("u", "x", "2026-06-15", 1, &empty), 3);
    ASSERT_EQ(rec.boxes.size(), 2u);
    EXPECT_EQ(rec.boxes[0].text, fail);
    EXPECT_EQ(rec.boxes[1].text, "");
    rec.boxes.clear();
    EXPECT_EQ(login("nobody", "x", "2026-06-15", 2), 4);
    EXPECT_EQ(login("u", "x", "2026-06-15", 2), 3);
    EXPECT_EQ(login("off", "pw", "2026-06-15", 2), 1);
    EXPECT_EQ(login("u", "pw", "2027-01-01", 2), 2);
    EXPECT_EQ(login("u", "pw", "2026-06-15", 2), 0);
    EXPECT_EQ(login("u", "pw", "2026-06-15", 1, &fail), 0);
    ASSERT_EQ(rec.boxes.size(), 4u);
    EXPECT_EQ(rec.boxes[0].text, QString::fromUtf8("无此用户! 登录不成功, 请与系统管理员联系."));
    EXPECT_EQ(rec.boxes[1].text, QString::fromUtf8("密码不正确, 登录不成功, 请重试."));
    EXPECT_EQ(rec.boxes[2].text, QString::fromUtf8("该用户被禁止使用, 登录不成功, 请与系统管理员联系."));
    EXPECT_EQ(rec.boxes[3].text, QString::fromUtf8("该用户使用期限已过, 登录不成功, 请与系统管理员联系."));
    for (const auto& b : rec.boxes) {
        EXPECT_EQ(b.caption, kLoginCaption);
        EXPECT_EQ(b.type, kWarning);
        EXPECT_FALSE(b.hasOwner);
    }
}

TEST_P(Access, LoginsSwitchTheCurrentUserAndWriteRowsInOrder) {
    addUser("a", "1", 10000, "T", "2026-01-01", "2026-12-31", "Alice");
    addUser("b", "2", 10000, "T", "2026-01-01", "2026-12-31", "Bob");
    EXPECT_EQ(login("a", "1"), 0);
    EXPECT_EQ(session().CurrentUserID, "a");
    EXPECT_EQ(login("b", "2"), 0);
    EXPECT_EQ(session().CurrentUserName, "Bob");
    EXPECT_EQ(logTexts(),
              (QStringList{QString::fromUtf8("用户登录/Alice"), QString::fromUtf8("用户退出登录/Alice"),
                           QString::fromUtf8("用户登录/Bob")}));
    // Only verifying: no rows, no switch.
    session().LoginUpdatesSession = false;
    EXPECT_EQ(login("a", "1"), 0);
    EXPECT_EQ(session().CurrentUserName, "Bob");
    EXPECT_EQ(logRows(), 3);
}

TEST_P(Access, EveryCallSetsTheWorkingDate) {
    addUser("u", "pw");
    login("nobody", "x", "2001-02-03");
    EXPECT_EQ(session().WorkDate, "2001-02-03");
    login("nobody", "x", "");
    EXPECT_EQ(session().WorkDate, QDate::currentDate().toString("yyyy-MM-dd"));
}

TEST_P(Access, QuotesInTextArgumentsAreLiteral) {
    addUser("o'brien", "it's");
    EXPECT_EQ(login("o'brien", "it's"), 0);
    EXPECT_EQ(login("' or '1'='1", "x"), 4);
    EXPECT_EQ(login("o'brien", "' or '1'='1"), 3);
    EXPECT_EQ(login("o'brien", "it's", "2027' or '1'='1"), 2); // a date that is just text
    EXPECT_EQ(session().WorkDate, "2027' or '1'='1");
    EXPECT_EQ(vardex::CheckUserRight("' or '1'='1", 1, nullptr, 0), 1);
    const QString fail = "a'b";
    MessageRecorder rec;
    EXPECT_EQ(vardex::CheckUserRight("o'brien", 77, &fail, 0), 3);
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].text, QString::fromUtf8("权限没有定义(77 a'b)"));
    EXPECT_EQ(vardex::ChangeUserPassword("o'brien", "it's", "new'one", "2026-06-15"), 0);
    EXPECT_EQ(login("o'brien", "new'one"), 0);
}

TEST_P(Access, StoredTextThatIsNoCipherIsAnError) {
    db->execute("INSERT INTO qx_user (userID, userName, userPwd, Allow, AllowZekou, zuid) VALUES "
                "('bad','bad','XYZ','T',0,10000)");
    EXPECT_THROW(login("bad", "x"), ConvertError);
    EXPECT_EQ(::CheckUserLogin("bad", "x", "", nullptr, 0), VARDEX_ERROR);
    EXPECT_STRNE(VardexLastError(), "");
}

TEST_P(Access, RightCodesAndAuditRows) {
    addUser("solo", "pw");
    addUser("zero", "pw");
    addUser("grp", "", 3);
    addUser("mem", "pw", 1003);
    addUser("orphan", "pw", 1007);
    grant("solo", 1);
    grant("grp", 2);
    session().CurrentUserName = "op";
    EXPECT_EQ(vardex::CheckUserRight("solo", 1, nullptr, 0), 0);
    EXPECT_EQ(vardex::CheckUserRight("zero", 1, nullptr, 0), 3);
    EXPECT_EQ(vardex::CheckUserRight("mem", 2, nullptr, 0), 0); // through user group 3
    EXPECT_EQ(vardex::CheckUserRight("mem", 1, nullptr, 0), 3);
    EXPECT_EQ(vardex::CheckUserRight("grp", 2, nullptr, 0), 2); // a group's own ID
    EXPECT_EQ(vardex::CheckUserRight("orphan", 2, nullptr, 0), 2);
    EXPECT_EQ(vardex::CheckUserRight("nobody", 2, nullptr, 0), 1);
    EXPECT_EQ(logTexts(),
              (QStringList{QString::fromUtf8("使用权限(查询)/op"), QString::fromUtf8("使用权限(print)/op")}));
    // A member's own grant rows never count.
    db->execute("INSERT INTO qx_user_qx (userID, qxID, AllowCount) VALUES ('mem', 1, 5)");
    EXPECT_EQ(vardex::CheckUserRight("mem", 1, nullptr, 0), 3);
    // Disabled or expired users are not the right check's business.
    db->execute("UPDATE qx_user SET Allow = 'F', endTime = '2000-01-01' WHERE userID = 'solo'");
    EXPECT_EQ(vardex::CheckUserRight("solo", 1, nullptr, 0), 0);
}

TEST_P(Access, RightStatementsWordForWord) {
    addUser("grp", "", 3);
    addUser("mem", "pw", 1003);
    dataModule().ADOcn.setLogging(true);
    vardex::CheckUserRight("mem", 2, nullptr, 0);
    EXPECT_EQ(dataModule().ADOcn.statementLog(),
              (QStringList{
                  "select * from qx_user where userid = 'mem'\r\n", "select * from qx_user where zuid =3\r\n",
                  "select * from qx_user_qx\r\nwhere UserID = 'grp' and qxID = 2 and AllowCount > 0\r\n",
                  "select * from qx_Name\r\nwhere qxID = 2\r\n"}));
    dataModule().ADOcn.clearLog();
    vardex::CheckUserRight("grp", 2, nullptr, 0);
    EXPECT_EQ(dataModule().ADOcn.statementLog().at(1), "select * from qx_user where zuid =-997\r\n");
}

TEST_P(Access, RightBoxesAndUndefinedItems) {
    addUser("solo", "pw");
    db->execute("INSERT INTO qx_user_qx (userID, qxID, AllowCount) VALUES ('solo', 99, 1)");
    MessageRecorder rec;
    const QString fail = "no access";
    // A grant of an item that has no name: granted, logged with an empty name, no box.
    EXPECT_EQ(vardex::CheckUserRight("solo", 99, &fail, 2), 0);
    EXPECT_EQ(logRows(QString::fromUtf8("theLog = '使用权限()'")), 1);
    EXPECT_TRUE(rec.boxes.empty());
    EXPECT_EQ(vardex::CheckUserRight("solo", 98, &fail, 0), 3);
    EXPECT_EQ(vardex::CheckUserRight("solo", 98, nullptr, 2), 3);
    EXPECT_EQ(vardex::CheckUserRight("nobody", 2, &fail, 1), 1);
    EXPECT_EQ(vardex::CheckUserRight("nobody", 2, nullptr, 1), 1);
    EXPECT_EQ(vardex::CheckUserRight("solo", 2, nullptr, 2), 3);
    const QString refused = QString::fromUtf8("您没有使用这个功能的权限, 要想使用, 请与系统管理员联系.");
    ASSERT_EQ(rec.boxes.size(), 5u);
    EXPECT_EQ(rec.boxes[0].text, QString::fromUtf8("权限没有定义(98 no access)"));
    EXPECT_EQ(rec.boxes[1].text, QString::fromUtf8("权限没有定义(98 )"));
    EXPECT_EQ(rec.boxes[2].text, refused);
    EXPECT_EQ(rec.boxes[3].text, fail);
    EXPECT_EQ(rec.boxes[4].text, refused);
    for (const auto& b : rec.boxes) {
        EXPECT_EQ(b.caption, kRightCaption);
        EXPECT_EQ(b.type, kWarning);
    }
}

TEST_P(Access, AFailedAuditRowNeverTurnsAGrantIntoAnError) {
    addUser("solo", "pw");
    grant("solo", 1);
    db->execute("DROP TABLE qx_Logs");
    MessageRecorder rec; // the lost row is reported as a warning, once per check
    EXPECT_EQ(vardex::CheckUserRight("solo", 1, nullptr, 0), 0);
    EXPECT_EQ(::CheckUserRight("solo", 1, nullptr, 0), 0);
    EXPECT_EQ(rec.boxes.size(), 2u);
    // The login's audit row is not swallowed.
    EXPECT_THROW(login("solo", "pw"), DbError);
}

TEST_P(Access, PasswordChange) {
    addUser("u", "old");
    addUser("grp", "", 3);
    addUser("v", "v1", 10000, "T", "2026-01-01", "2026-12-31", "Vic");
    EXPECT_EQ(vardex::ChangeUserPassword("u", "wrong", "wrong", "2026-06-15"), 3);
    EXPECT_EQ(vardex::ChangeUserPassword("u", "old", "old", "2026-06-15"), 5);
    EXPECT_EQ(vardex::ChangeUserPassword("grp", "", "x", "2026-06-15"), 4);
    EXPECT_EQ(vardex::ChangeUserPassword("u", "old", "old", "2027-01-01"), 2);
    EXPECT_EQ(logRows(), 0);
    dataModule().ADOcn.setLogging(true);
    EXPECT_EQ(vardex::ChangeUserPassword("u", "old", "new", "2026-06-15"), 0);
    const QStringList log = dataModule().ADOcn.statementLog();
    ASSERT_GE(log.size(), 2);
    const QString update = log.at(log.size() - 2); // then the audit row
    EXPECT_TRUE(update.startsWith("Update qx_user set userPwd = '")) << update.toStdString();
    EXPECT_TRUE(update.endsWith("' where userID = 'u'"));
    EXPECT_EQ(login("u", "old"), 3);
    EXPECT_EQ(login("u", "new"), 0);
    // The audit row names the session's current user, not the user whose password changed.
    EXPECT_EQ(vardex::ChangeUserPassword("v", "v1", "", "2026-06-15"), 0);
    EXPECT_EQ(session().CurrentUserID, "u");
    EXPECT_EQ(logRows(QString::fromUtf8("theLog = '用户更改密码成功' and userName = 'u'")), 1);
    EXPECT_EQ(scalar(*db, "select userPwd from qx_user where userID = 'v'"), "");
    EXPECT_EQ(login("v", "v1"), 3);
    EXPECT_EQ(login("v", ""), 0);
}

TEST_P(Access, PasswordChangeRestoresTheLoginFlag) {
    addUser("u", "a");
    session().LoginUpdatesSession = true;
    EXPECT_EQ(vardex::ChangeUserPassword("u", "a", "b", "2026-06-15"), 0);
    EXPECT_TRUE(session().LoginUpdatesSession);
    EXPECT_EQ(session().CurrentUserName, ""); // verification records no login
    session().LoginUpdatesSession = false;
    EXPECT_EQ(vardex::ChangeUserPassword("u", "b", "c", "2026-06-15"), 0);
    EXPECT_EQ(vardex::ChangeUserPassword("u", "zz", "c", "2026-06-15"), 3);
    EXPECT_FALSE(session().LoginUpdatesSession);
    session().LoginUpdatesSession = true;
    db->execute("UPDATE qx_user SET userPwd = 'Q' WHERE userID = 'u'");
    EXPECT_THROW(vardex::ChangeUserPassword("u", "c", "d", "2026-06-15"), ConvertError);
    EXPECT_TRUE(session().LoginUpdatesSession);
}

TEST_P(Access, OverlongPasswordIsRefusedByTheStore) {
    addUser("u", "a");
    const QByteArray longPwd(50, 'x'); // 50 bytes: a cipher text of 102 characters
    EXPECT_EQ(::ChangeUserPassword("u", "a", longPwd.constData(), "2026-06-15"), VARDEX_ERROR);
    EXPECT_STRNE(VardexLastError(), "");
    EXPECT_EQ(login("u", "a"), 0);
    const QByteArray fits(49, 'x');
    EXPECT_EQ(::ChangeUserPassword("u", "a", fits.constData(), "2026-06-15"), 0);
}

TEST_P(Access, TheCInterfaceTakesNullPointersAsEmptyTexts) {
    addUser("nopw", "");
    MessageRecorder rec;
    EXPECT_EQ(::CheckUserLogin(nullptr, nullptr, nullptr, nullptr, 2), 4);
    EXPECT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(::CheckUserLogin("nopw", nullptr, nullptr, nullptr, 0), 0);
    EXPECT_EQ(::CheckUserRight(nullptr, 1, nullptr, 0), 1);
    EXPECT_EQ(::ChangeUserPassword(nullptr, nullptr, nullptr, nullptr), 4);
    EXPECT_EQ(::ChangeUserPassword("nopw", nullptr, "x", nullptr), 0);
    EXPECT_EQ(::CheckUserLogin("nopw", "x", nullptr, nullptr, 0), 0);
}

INSTANTIATE_TEST_SUITE_P(Backends, Access, VARDEX_BACKEND_PARAMS);

namespace {
struct Seen {
    std::string text, caption;
    uint32_t type = 0;
    int calls = 0;
};
int32_t VARDEX_CALL recordBox(const char* text, const char* caption, uint32_t type, void* user) {
    Seen* s = static_cast<Seen*>(user);
    s->text = text;
    s->caption = caption;
    s->type = type;
    ++s->calls;
    return VARDEX_IDOK;
}
} // namespace

TEST(AboutAndBoxes, AClientHandlerTakesEveryBoxUntilRemoved) {
    Seen seen;
    VardexSetMessageHandler(recordBox, &seen);
    EXPECT_EQ(::ShowAbout(), 0); // no session needed
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.caption, "关于权限管理应用工具");
    EXPECT_EQ(seen.type, VARDEX_MB_OK);
    EXPECT_NE(seen.text.find("\r\n"), std::string::npos);
    for (const char* forbidden : {"http", "www", "@", "Copyright", "(C)"})
        EXPECT_EQ(seen.text.find(forbidden), std::string::npos) << forbidden;
    VardexSetMessageHandler(nullptr, nullptr);
    MessageRecorder rec; // a box after removal goes elsewhere
    EXPECT_EQ(::ShowAbout(), 0);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(rec.boxes.size(), 1u);
}

TEST(AboutAndBoxes, CallsWithoutASessionReturnTheError) {
    ASSERT_FALSE(hasDataModule());
    EXPECT_EQ(::CheckUserLogin("a", "b", "", nullptr, 0), VARDEX_ERROR);
    EXPECT_EQ(::CheckUserRight("a", 1, nullptr, 0), VARDEX_ERROR);
    EXPECT_EQ(::ChangeUserPassword("a", "b", "c", ""), VARDEX_ERROR);
    EXPECT_STRNE(VardexLastError(), "");
}
