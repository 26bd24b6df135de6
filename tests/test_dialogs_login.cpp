// The login and change-password windows: their handlers driven directly, and real modal runs
// through the C interface, on every database kind.
#include "capi/vardex.h"
#include "dialogs/join.h"
#include "dialogs/repass.h"
#include "dialogs/widgets.h"
#include "library/cipher.h"
#include "platform/sqldialect.h"
#include "tests/test_dialogs.h"

#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTest>
#include <QToolButton>
#include <cstring>

using namespace vardex;
using namespace vardex::test;

namespace {

const QString kLogin = QString::fromUtf8("用户登录");
const uint32_t kWarning = 0x30;

class Dialogs : public SessionStore {
  protected:
    void prepareStore() override {
        addUser("clerk", "pw");
        addUser("off", "pw", "F");
        addUser("old", "pw", "T", "2020-01-01", "2020-12-31");
        addUser(" 张三 ", "pw");                            // an ID stored with blanks around it
        addUser(QString::fromUtf8("甲乙丙丁戊己庚"), "pw"); // 7 characters, 21 bytes of UTF-8
        addUser("abcdefghijklmnopqrst", "pw");              // 20 bytes
        addUser("bad", "");
        db->execute("UPDATE qx_user SET userPwd = 'not cipher text' WHERE userID = 'bad'");
    }
    void addUser(const QString& id, const QString& password, const QString& allow = "T",
                 const QString& start = "2026-01-01", const QString& end = "2026-12-31") {
        db->execute(
            QString("INSERT INTO qx_user (userID, userName, userPwd, startTime, endTime, Allow, AllowZekou, "
                    "zuid) VALUES ('%1', '%1', '%2', '%3', '%4', '%5', 0, 10000)")
                .arg(escapeQuotes(id), password.isEmpty() ? QString() : EncryptPassword(password, "kmpq"),
                     start, end, allow));
    }
    int logRows(const QString& text) {
        return scalarInt(*db, "select count(*) from qx_Logs where theLog = '" + text + "'");
    }
};

// A login window configured as ShowLoginDialog configures it, its timer stopped so that only
// the test moves the clock.
struct Join {
    explicit Join(int count, int shift = 0, int maxShift = 0, const QString& caption = QString()) {
        w.Timer1->stop();
        w.applySettings(caption, "2026-06-15", count, shift, maxShift);
    }
    void attempt(const QString& id, const QString& pwd) {
        w.Edit1->setText(id);
        w.Edit2->setText(pwd);
        w.btnOKClick();
    }
    TfrJoin w;
};

int topmostFrame(const TfrJoin& w) {
    // Raising a picture moves it to the end of its siblings.
    int best = -1, bestAt = -1;
    const QObjectList kids = w.children();
    for (int i = 0; i < 8; ++i) {
        const int at = kids.indexOf(w.Image[i]);
        if (at > bestAt) {
            bestAt = at;
            best = i;
        }
    }
    return best;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Login window: configuration

TEST_P(Dialogs, LoginWindowLayoutAndModes) {
    Join ten(10);
    EXPECT_EQ(ten.w.windowTitle(), QString::fromUtf8("系统登录"));
    EXPECT_EQ(ten.w.size(), QSize(331, 163));
    EXPECT_FALSE(ten.w.timedMode);
    EXPECT_TRUE(ten.w.PBar->isHidden());
    EXPECT_FALSE(ten.w.Label5->isHidden());
    EXPECT_EQ(ten.w.PBar->maximum(), 10);
    EXPECT_EQ(ten.w.Label3->text(), QString::fromUtf8("请您在10次之内输入正确的登录信息."));
    EXPECT_EQ(ten.w.Edit2->echoMode(), QLineEdit::Password);
    EXPECT_EQ(ten.w.btnOK->text(), QString::fromUtf8("确定(&O)"));
    EXPECT_EQ(ten.w.btnCancel->text(), QString::fromUtf8("取消(&C)"));
    EXPECT_EQ(ten.w.btnOK->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(ten.w.findChild<QLineEdit*>("Edit1"), ten.w.Edit1);
    EXPECT_EQ(ten.w.findChild<QWidget*>("UDbanci"), ten.w.UDbanci);

    Join eleven(11, 0, 0, "Shop");
    EXPECT_EQ(eleven.w.windowTitle(), "Shop");
    EXPECT_TRUE(eleven.w.timedMode);
    EXPECT_FALSE(eleven.w.PBar->isHidden());
    EXPECT_TRUE(eleven.w.Label5->isHidden());
    EXPECT_EQ(eleven.w.PBar->maximum(), 15);
    EXPECT_EQ(eleven.w.Label3->text(), QString::fromUtf8("限时登录系统, 请在11秒之内输入正确的登录信息."));

    Join zero(0);
    EXPECT_EQ(zero.w.Label3->text(), QString::fromUtf8("请您在0次之内输入正确的登录信息."));
}

TEST_P(Dialogs, ShiftSelector) {
    Join hidden(3, 0);
    EXPECT_TRUE(hidden.w.Panel1->isHidden());
    EXPECT_EQ(hidden.w.Edit1->width(), 169);

    Join shown(3, 2, 3);
    EXPECT_FALSE(shown.w.Panel1->isHidden());
    EXPECT_EQ(shown.w.Edit1->width(), 81);
    EXPECT_EQ(shown.w.Panel1->text(), QString::fromUtf8("班次："));
    EXPECT_EQ(shown.w.UDbanci->position(), 2);
    EXPECT_EQ(shown.w.Edit3->text(), "2");
    EXPECT_EQ(shown.w.UDbanci->min(), 1);
    EXPECT_EQ(shown.w.UDbanci->max(), 3);
    shown.w.UDbanci->findChild<QToolButton*>("up")->click();
    shown.w.UDbanci->findChild<QToolButton*>("up")->click(); // no wrap-around
    EXPECT_EQ(shown.w.UDbanci->position(), 3);
    EXPECT_EQ(shown.w.Edit3->text(), "3");
    for (int i = 0; i < 5; ++i)
        shown.w.UDbanci->stepBy(-1);
    EXPECT_EQ(shown.w.UDbanci->position(), 1);

    // Typed text: a number in range becomes the position; anything else is put back.
    QTest::keyClicks(shown.w.Edit3, "");
    shown.w.Edit3->setText("");
    QTest::keyClicks(shown.w.Edit3, "2");
    EXPECT_EQ(shown.w.UDbanci->position(), 2);
    shown.w.Edit3->setText("");
    QTest::keyClicks(shown.w.Edit3, "9");
    EXPECT_EQ(shown.w.UDbanci->position(), 2);
    emit shown.w.Edit3->editingFinished();
    EXPECT_EQ(shown.w.Edit3->text(), "2");

    Join outside(3, 7, 3); // a start value above the highest shift shows the highest
    EXPECT_EQ(outside.w.UDbanci->position(), 3);
}

TEST_P(Dialogs, FirstFrameAndClockAreInPlaceAtCreation) {
    TfrJoin w;
    EXPECT_TRUE(w.Timer1->isActive());
    EXPECT_EQ(w.Timer1->interval(), 500);
    w.Timer1->stop();
    EXPECT_EQ(w.frameCounter, 1);
    EXPECT_EQ(topmostFrame(w), 0);
    // ConnectDatabase made '-' the date separator.
    const QRegularExpression clock("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}$");
    EXPECT_TRUE(clock.match(w.Label4->text()).hasMatch()) << w.Label4->text().toStdString();
    for (int tick = 1; tick <= 8; ++tick) {
        w.Label4->setText("");
        w.Timer1Timer();
        EXPECT_EQ(topmostFrame(w), tick % 8);
        EXPECT_EQ(w.frameCounter, (tick + 1) % 8);
        EXPECT_FALSE(w.Label4->text().isEmpty());
    }
    EXPECT_EQ(TfrJoin::clockText(QDateTime(QDate(2026, 6, 5), QTime(8, 7, 9))), "2026-06-05 08:07:09");
    session().DateSeparator = QChar('.');
    EXPECT_EQ(TfrJoin::clockText(QDateTime(QDate(2026, 6, 5), QTime(23, 0, 0))), "2026.06.05 23:00:00");
    // The attempt mode never moves the bar.
    Join attempts(3);
    for (int i = 0; i < 40; ++i)
        attempts.w.Timer1Timer();
    EXPECT_FALSE(attempts.w.closed());
    EXPECT_EQ(attempts.w.PBar->value(), 0);
}

TEST_P(Dialogs, TimedModeClosesWithTwoOnTheRightTick) {
    for (const auto& [seconds, closingTick] : {std::pair{11, 29}, std::pair{60, 127}}) {
        Join j(seconds);
        for (int tick = 1; tick < closingTick; ++tick) {
            j.w.Timer1Timer();
            ASSERT_FALSE(j.w.closed()) << seconds << " s closed on tick " << tick;
        }
        EXPECT_EQ(j.w.PBar->value(), j.w.PBar->maximum() - 1);
        EXPECT_EQ(j.w.loginResult, 3);
        j.w.Timer1Timer();
        EXPECT_TRUE(j.w.closed());
        EXPECT_EQ(j.w.loginResult, 2);
    }
}

// ---------------------------------------------------------------------------------------------
// Login window: attempts

TEST_P(Dialogs, ThreeAttemptsCountDownThenEndWithOne) {
    MessageRecorder rec;
    Join j(3);
    j.attempt("clerk", "x");
    EXPECT_FALSE(j.w.closed());
    j.attempt("clerk", "y");
    EXPECT_FALSE(j.w.closed());
    EXPECT_EQ(j.w.Edit2->text(), "y"); // entries are not cleared
    j.attempt("clerk", "z");
    EXPECT_TRUE(j.w.closed());
    EXPECT_EQ(j.w.loginResult, 1);
    EXPECT_EQ(j.w.failCount, 3);
    ASSERT_EQ(rec.boxes.size(), 3u);
    EXPECT_EQ(rec.boxes[0].text, QString::fromUtf8("密码不正确! 用户登录不成功. 还有2次机会重试."));
    EXPECT_EQ(rec.boxes[1].text, QString::fromUtf8("密码不正确! 用户登录不成功. 还有1次机会重试."));
    EXPECT_EQ(rec.boxes[2].text, QString::fromUtf8("密码不正确! 用户登录不成功. 请与系统管理员联系."));
    for (const auto& b : rec.boxes) {
        EXPECT_EQ(b.caption, kLogin);
        EXPECT_EQ(b.type, kWarning);
    }
}

TEST_P(Dialogs, ReasonTextsByCode) {
    MessageRecorder rec;
    Join j(10);
    j.attempt("off", "pw");
    j.attempt("old", "pw");
    j.attempt("clerk", "bad");
    j.attempt("nobody", "pw");
    ASSERT_EQ(rec.boxes.size(), 4u);
    EXPECT_EQ(rec.boxes[0].text, QString::fromUtf8("用户被禁止使用! 用户登录不成功. 还有9次机会重试."));
    EXPECT_EQ(rec.boxes[1].text, QString::fromUtf8("用户使用期限已过! 用户登录不成功. 还有8次机会重试."));
    EXPECT_EQ(rec.boxes[2].text, QString::fromUtf8("密码不正确! 用户登录不成功. 还有7次机会重试."));
    EXPECT_EQ(rec.boxes[3].text, QString::fromUtf8("无此用户! 用户登录不成功. 还有6次机会重试."));
    EXPECT_EQ(loginReasonText(7), "");
}

TEST_P(Dialogs, CountsZeroAndOneAllowOneAttempt) {
    for (int count : {0, 1}) {
        MessageRecorder rec;
        Join j(count);
        j.attempt("clerk", "x");
        EXPECT_TRUE(j.w.closed()) << count;
        EXPECT_EQ(j.w.loginResult, 1);
        ASSERT_EQ(rec.boxes.size(), 1u);
        EXPECT_EQ(rec.boxes[0].text, QString::fromUtf8("密码不正确! 用户登录不成功. 请与系统管理员联系."));
    }
}

TEST_P(Dialogs, TimedModeFailuresUseNothingUp) {
    MessageRecorder rec;
    Join j(20);
    for (int i = 0; i < 12; ++i)
        j.attempt("clerk", "x");
    EXPECT_FALSE(j.w.closed());
    EXPECT_EQ(j.w.failCount, 0);
    ASSERT_EQ(rec.boxes.size(), 12u);
    EXPECT_EQ(rec.boxes[0].text,
              QString::fromUtf8("密码不正确! 用户登录不成功. 请检查您输入的信息, 或与系统管理员联系."));
    EXPECT_EQ(rec.boxes[0].caption, kLogin);
    EXPECT_EQ(rec.boxes[0].type, kWarning);
    j.attempt("clerk", "pw");
    EXPECT_TRUE(j.w.closed());
    EXPECT_EQ(j.w.loginResult, 0);
}

TEST_P(Dialogs, AVerificationErrorGoesToTheErrorReportAndCountsNothing) {
    MessageRecorder rec;
    Join j(2);
    j.attempt("bad", "x"); // a stored password that is not cipher text
    EXPECT_FALSE(j.w.closed());
    EXPECT_EQ(j.w.failCount, 0);
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].type, 0x10u); // stop icon, OK
    EXPECT_NE(rec.boxes[0].caption, kLogin);
}

TEST_P(Dialogs, TheUserIdIsVerifiedAsTyped) {
    Join j(3);
    log().clearLog();
    j.attempt(" 张三 ", "pw");
    EXPECT_EQ(j.w.loginResult, 0);
    ASSERT_FALSE(statements().isEmpty());
    EXPECT_TRUE(statements()[0].contains(QString::fromUtf8("userID = ' 张三 '")))
        << statements()[0].toStdString();
}

TEST_P(Dialogs, LoginKeys) {
    Join j(3);
    j.w.show();
    QApplication::setActiveWindow(&j.w);
    j.w.Edit1->setFocus();
    QTest::keyClick(j.w.Edit1, Qt::Key_Down);
    EXPECT_EQ(QApplication::focusWidget(), j.w.Edit2);
    QTest::keyClick(j.w.Edit2, Qt::Key_Up);
    EXPECT_EQ(QApplication::focusWidget(), j.w.Edit1);
    QTest::keyClick(j.w.Edit1, Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), j.w.Edit2);
    QTest::keyClick(j.w.Edit2, Qt::Key_Escape); // no key but these closes the window
    EXPECT_FALSE(j.w.closed());
    j.w.Edit1->setText("clerk");
    j.w.Edit2->setText("pw");
    QTest::keyClick(j.w.Edit2, Qt::Key_Return); // Enter in the password box runs OK
    EXPECT_TRUE(j.w.closed());
    EXPECT_EQ(j.w.loginResult, 0);
}

// ---------------------------------------------------------------------------------------------
// ShowLoginDialog through the C interface, modal

namespace {

struct LoginCall {
    int32_t result = -99;
    char buffer[32];
    char* bufferRef = buffer;
    int32_t count = 3;
    int32_t shift = 0;
    LoginCall() { std::memset(buffer, 'X', sizeof buffer); }
    void run(const char* caption, int32_t maxShift, std::function<void(TfrJoin*)> act) {
        ModalDriver driver([act](QWidget* w) {
            auto* join = qobject_cast<TfrJoin*>(w);
            ASSERT_NE(join, nullptr);
            act(join);
        });
        result = ShowLoginDialog(caption, "2026-06-15", &bufferRef, &count, &shift, maxShift);
        EXPECT_TRUE(driver.acted());
    }
};

void typeAndOk(TfrJoin* w, const QString& id, const QString& pwd) {
    w->Edit1->setText(id);
    w->Edit2->setText(pwd);
    w->btnOK->click();
}

} // namespace

TEST_P(Dialogs, ModalLoginReturnsTheTrimmedUserIdAndShift) {
    LoginCall c;
    c.run(nullptr, 0, [](TfrJoin* w) {
        EXPECT_EQ(w->windowTitle(), QString::fromUtf8("系统登录"));
        EXPECT_TRUE(w->isVisible());
        typeAndOk(w, " 张三 ", "pw");
    });
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.count, 6); // "张三" is 6 bytes of UTF-8
    EXPECT_STREQ(c.buffer, "张三");
    EXPECT_EQ(c.shift, 1); // no selector: its unchanged start position
    // The session recorded the login.
    EXPECT_EQ(session().CurrentUserID, QString::fromUtf8(" 张三 "));
    EXPECT_EQ(logRows(QString::fromUtf8("用户登录")), 1);
}

TEST_P(Dialogs, ModalLoginCutsTheCopyAtAWholeCharacter) {
    LoginCall c;
    c.count = 2;
    c.run("", 0, [](TfrJoin* w) { typeAndOk(w, QString::fromUtf8("甲乙丙丁戊己庚"), "pw"); });
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.count, 21);                 // the full length
    EXPECT_STREQ(c.buffer, "甲乙丙丁戊己"); // 18 bytes: the seventh character would need bytes 19 to 21
    EXPECT_EQ(c.buffer[19], 'X');           // nothing written after the terminating zero
    EXPECT_EQ(c.buffer[20], 'X');

    LoginCall d;
    d.run("", 0, [](TfrJoin* w) { typeAndOk(w, "abcdefghijklmnopqrst", "pw"); });
    EXPECT_EQ(d.count, 20);
    EXPECT_STREQ(d.buffer, "abcdefghijklmnopqrst");
}

TEST_P(Dialogs, ModalLoginWithTheShiftSelector) {
    LoginCall c;
    c.shift = 2;
    c.run("Shop", 3, [](TfrJoin* w) {
        EXPECT_EQ(w->windowTitle(), "Shop");
        EXPECT_EQ(w->UDbanci->position(), 2);
        w->UDbanci->findChild<QToolButton*>("up")->click();
        typeAndOk(w, "clerk", "pw");
    });
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.shift, 3);
    EXPECT_EQ(c.count, 5);
}

TEST_P(Dialogs, ModalLoginEndingsLeaveTheOutputsAlone) {
    LoginCall cancel;
    cancel.shift = 2;
    cancel.run("", 5, [](TfrJoin* w) {
        w->Edit1->setText("clerk");
        w->btnCancel->click();
    });
    EXPECT_EQ(cancel.result, 3);
    EXPECT_EQ(cancel.count, 0);
    EXPECT_EQ(cancel.shift, 2);
    EXPECT_EQ(cancel.buffer[0], 'X');

    LoginCall closeBox;
    closeBox.run("", 0, [](TfrJoin* w) { w->close(); });
    EXPECT_EQ(closeBox.result, 3);
    EXPECT_EQ(closeBox.count, 0);

    MessageRecorder rec;
    LoginCall lastAttempt;
    lastAttempt.count = 1;
    lastAttempt.run("", 0, [](TfrJoin* w) { typeAndOk(w, "clerk", "wrong"); });
    EXPECT_EQ(lastAttempt.result, 1);
    EXPECT_EQ(lastAttempt.count, 0);
    EXPECT_EQ(lastAttempt.buffer[0], 'X');
    EXPECT_EQ(rec.boxes.size(), 1u);

    LoginCall timeout;
    timeout.count = 11;
    timeout.run("", 0, [](TfrJoin* w) {
        w->Timer1->stop();
        for (int i = 0; i < 29; ++i)
            w->Timer1Timer();
    });
    EXPECT_EQ(timeout.result, 2);
    EXPECT_EQ(timeout.count, 0);
}

TEST_P(Dialogs, ModalLoginRefusesBadArgumentsBeforeShowing) {
    char buffer[21] = {};
    char* ref = buffer;
    int32_t count = -1;
    int32_t shift = 0;
    EXPECT_EQ(ShowLoginDialog("", "", &ref, &count, &shift, 0), VARDEX_ERROR);
    EXPECT_STRNE(VardexLastError(), "");
    EXPECT_EQ(ShowLoginDialog("", "", &ref, nullptr, &shift, 0), VARDEX_ERROR);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(DialogsFromTheCli, WithoutADisplayTheWindowsAnswerWithAnError) {
    TempStore store(Backend::SQLite);
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    cli.setProcessEnvironment(env);
    cli.start(binDir() + "/vardex-cli", {"session", store.connectionString()});
    ASSERT_TRUE(cli.waitForStarted());
    cli.write("ShowLoginDialog \"\" \"\" 3 0 0\nShowChangePasswordDialog \"admin\" \"\"\nEditRightList 1\n"
              "CheckUserLogin \"nobody\" \"\" \"\" \"\" 0\n");
    cli.closeWriteChannel();
    ASSERT_TRUE(cli.waitForFinished(60000));
    const QStringList lines = QString::fromUtf8(cli.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    const QString noDisplay = "error: The window cannot be shown: the process has no display.";
    EXPECT_EQ(lines, (QStringList{noDisplay, noDisplay, noDisplay, "4"}));
}

TEST(DialogsWithoutSession, CallsReturnTheErrorResult) {
    ASSERT_FALSE(hasDataModule());
    char buffer[21] = {};
    char* ref = buffer;
    int32_t count = 3, shift = 0;
    EXPECT_EQ(ShowLoginDialog("", "", &ref, &count, &shift, 0), VARDEX_ERROR);
    EXPECT_EQ(ShowChangePasswordDialog("clerk", ""), VARDEX_ERROR);
    EXPECT_EQ(EditRightList(1), VARDEX_ERROR);
}

// ---------------------------------------------------------------------------------------------
// Change-password window

namespace {

struct Repass {
    Repass(const QString& id = "clerk") {
        w.Edit1->setText(id);
        w.workDate = "2026-06-15";
    }
    void ok(const QString& old, const QString& n1, const QString& n2) {
        w.Edit2->setText(old);
        w.Edit3->setText(n1);
        w.Edit4->setText(n2);
        w.SpeedButton2Click();
    }
    TfrRepass w;
};

const QString kRepassFail = QString::fromUtf8("修改密码不成功. 请重试或与系统管理员联系.");

} // namespace

TEST_P(Dialogs, RepassLayout) {
    Repass r;
    EXPECT_EQ(r.w.windowTitle(), QString::fromUtf8("修改口令"));
    EXPECT_EQ(r.w.size(), QSize(306, 185));
    EXPECT_TRUE(r.w.Edit1->isReadOnly());
    for (QLabel* l : {r.w.Label1, r.w.Label2, r.w.Label3, r.w.Label4})
        EXPECT_EQ(l->geometry().right() + 1, 120) << l->objectName().toStdString();
    for (QLineEdit* e : {r.w.Edit2, r.w.Edit3, r.w.Edit4})
        EXPECT_EQ(e->echoMode(), QLineEdit::Password);
    EXPECT_EQ(r.w.SpeedButton1->text(), QString::fromUtf8("取消(&C)"));
    EXPECT_EQ(r.w.SpeedButton2->text(), QString::fromUtf8("确定(&O)"));
}

TEST_P(Dialogs, RepassNewEntriesMustAgreeExactly) {
    MessageRecorder rec;
    Repass r;
    log().clearLog();
    r.ok("pw", "new", "new ");
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].text, QString::fromUtf8("新密码和重复输入的新密码必须一致! 请重新输入."));
    EXPECT_EQ(rec.boxes[0].caption, QString::fromUtf8("错误"));
    EXPECT_EQ(rec.boxes[0].type, kWarning);
    EXPECT_TRUE(statements().isEmpty()); // nothing was called
    EXPECT_FALSE(r.w.closed());
    r.ok("pw", "New", "new");
    EXPECT_EQ(rec.boxes.size(), 2u); // letter case counts
}

TEST_P(Dialogs, RepassStoresTheTrimmedNewPassword) {
    MessageRecorder rec;
    Repass r;
    r.ok("pw", "new ", "new ");
    EXPECT_TRUE(r.w.closed());
    EXPECT_EQ(r.w.repassResult, 0);
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].text, QString::fromUtf8("恭喜您! 密码修改成功."));
    EXPECT_EQ(rec.boxes[0].caption, QString::fromUtf8("修改密码"));
    EXPECT_EQ(rec.boxes[0].type, 0x40u);
    session().LoginUpdatesSession = false;
    EXPECT_EQ(vardex::CheckUserLogin("clerk", "new", "", nullptr, 0), 0);
    EXPECT_EQ(vardex::CheckUserLogin("clerk", "new ", "", nullptr, 0), 3);
}

TEST_P(Dialogs, RepassRefusals) {
    MessageRecorder rec;
    Repass r;
    r.ok("wrong", "a", "a");
    r.ok("pw", "pw", "pw"); // new equals old
    Repass off("off");
    off.ok("pw", "a", "a");
    Repass old("old");
    old.ok("pw", "a", "a");
    Repass nobody("nobody");
    nobody.ok("pw", "a", "a");
    ASSERT_EQ(rec.boxes.size(), 5u);
    EXPECT_EQ(rec.boxes[0].text, QString::fromUtf8("原密码不正确! ") + kRepassFail);
    EXPECT_EQ(rec.boxes[1].text, QString::fromUtf8("不明原因, ") + kRepassFail);
    EXPECT_EQ(rec.boxes[2].text, QString::fromUtf8("用户被禁止使用! ") + kRepassFail);
    EXPECT_EQ(rec.boxes[3].text, QString::fromUtf8("用户使用期限已过! ") + kRepassFail);
    EXPECT_EQ(rec.boxes[4].text, QString::fromUtf8("无此用户! ") + kRepassFail);
    for (const auto& b : rec.boxes) {
        EXPECT_EQ(b.caption, QString::fromUtf8("修改密码"));
        EXPECT_EQ(b.type, kWarning);
    }
    EXPECT_FALSE(r.w.closed());
    EXPECT_EQ(r.w.repassResult, 1);
}

// A new password the store's policy refuses is refused with a reason of its own: shorter than
// password.minlength, or over bcrypt's 72 bytes.
TEST_P(Dialogs, RepassTellsWhyThePolicyRefusesTheNewPassword) {
    const struct {
        const char* setting;
        QString typed;
        const char* reason;
    } cases[] = {
        {"password.minlength = '6'", "short", "新密码不符合密码规则(长度不够)! "},
        {"password.hash = 'bcrypt'", QString(73, QLatin1Char('x')), "新密码太长(超过 72 字节)! "},
    };
    for (const auto& c : cases) {
        const QString setting(c.setting);
        const QString name = setting.section(QLatin1String(" = "), 0, 0);
        db->execute("update vardex_settings set value = " + setting.section(QLatin1String(" = "), 1) +
                    " where name = '" + name + "'");
        vardex::DisconnectDatabase();
        ASSERT_EQ(vardex::ConnectDatabase(store->connectionString(), "", "", "2026-06-15", ""), 0);
        MessageRecorder rec;
        Repass r;
        r.w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&r.w));
        for (const auto& [box, text] : {std::pair{r.w.Edit2, QString("pw")}, std::pair{r.w.Edit3, c.typed},
                                        std::pair{r.w.Edit4, c.typed}}) {
            QTest::mouseClick(box, Qt::LeftButton);
            QTest::keyClicks(box, text);
        }
        QTest::mouseClick(r.w.SpeedButton2, Qt::LeftButton);
        ASSERT_EQ(rec.boxes.size(), 1u) << c.setting;
        EXPECT_EQ(rec.boxes[0].text, QString::fromUtf8(c.reason) + kRepassFail);
        EXPECT_EQ(r.w.repassResult, 1);
        EXPECT_EQ(vardex::CheckUserLogin("clerk", "pw", "", nullptr, 0), 0);
    }
}

TEST_P(Dialogs, RepassKeys) {
    Repass r;
    r.w.show();
    QApplication::setActiveWindow(&r.w);
    r.w.Edit2->setFocus();
    QTest::keyClick(r.w.Edit2, Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), r.w.Edit3);
    QTest::keyClick(r.w.Edit3, Qt::Key_Down);
    EXPECT_EQ(QApplication::focusWidget(), r.w.Edit4);
    QTest::keyClick(r.w.Edit4, Qt::Key_Down); // nothing
    EXPECT_EQ(QApplication::focusWidget(), r.w.Edit4);
    QTest::keyClick(r.w.Edit4, Qt::Key_Up);
    EXPECT_EQ(QApplication::focusWidget(), r.w.Edit3);
    QTest::keyClick(r.w.Edit3, Qt::Key_Up);
    QTest::keyClick(r.w.Edit2, Qt::Key_Up);
    EXPECT_EQ(QApplication::focusWidget(), r.w.Edit1);
    QTest::keyClick(r.w.Edit1, Qt::Key_Up); // nothing
    EXPECT_EQ(QApplication::focusWidget(), r.w.Edit1);
    MessageRecorder rec;
    r.w.Edit2->setText("pw");
    r.w.Edit3->setText("a");
    r.w.Edit4->setText("b");
    QTest::keyClick(r.w.Edit4, Qt::Key_Enter); // runs OK
    EXPECT_EQ(rec.boxes.size(), 1u);
}

TEST_P(Dialogs, ModalRepassKeepsLoginUpdatesSessionOffWhileOpen) {
    ASSERT_EQ(vardex::CheckUserLogin("off", "pw", "", nullptr, 0), 1);
    session().CurrentUserName = "before";
    const int loginsBefore = logRows(QString::fromUtf8("用户登录"));
    MessageRecorder rec;
    bool flagWhileOpen = true;
    ModalDriver driver([&](QWidget* w) {
        auto* r = qobject_cast<TfrRepass*>(w);
        ASSERT_NE(r, nullptr);
        flagWhileOpen = session().LoginUpdatesSession;
        EXPECT_EQ(r->Edit1->text(), "clerk");
        r->Edit2->setText("wrong");
        r->Edit3->setText("n");
        r->Edit4->setText("n");
        r->SpeedButton2->click(); // fails: the window stays
        EXPECT_TRUE(r->isVisible());
        EXPECT_FALSE(session().LoginUpdatesSession);
        r->Edit2->setText("pw");
        r->SpeedButton2->click();
    });
    EXPECT_EQ(ShowChangePasswordDialog("clerk", "2026-06-15"), 0);
    EXPECT_FALSE(flagWhileOpen);
    EXPECT_TRUE(session().LoginUpdatesSession);
    EXPECT_EQ(session().CurrentUserName, "before");
    EXPECT_EQ(logRows(QString::fromUtf8("用户登录")), loginsBefore); // no login row
    EXPECT_EQ(logRows(QString::fromUtf8("用户更改密码成功")), 1);
    EXPECT_EQ(rec.boxes.size(), 2u);
}

TEST_P(Dialogs, ModalRepassCancelAfterAFailureReturnsOne) {
    session().LoginUpdatesSession = false;
    MessageRecorder rec;
    ModalDriver driver([&](QWidget* w) {
        auto* r = qobject_cast<TfrRepass*>(w);
        ASSERT_NE(r, nullptr);
        r->Edit2->setText("wrong");
        r->Edit3->setText("n");
        r->Edit4->setText("n");
        r->SpeedButton2->click();
        r->SpeedButton1->click();
    });
    EXPECT_EQ(ShowChangePasswordDialog("clerk", ""), 1);
    EXPECT_TRUE(session().LoginUpdatesSession); // true afterwards whatever it was before
    EXPECT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(vardex::CheckUserLogin("clerk", "pw", "", nullptr, 0), 0);
}

INSTANTIATE_TEST_SUITE_P(Backends, Dialogs, VARDEX_BACKEND_PARAMS);
