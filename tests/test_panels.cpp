// The main window's test and maintenance page: its controls, the checks of every test handler
// with their messages, and whole sessions through the window on a freshly installed store of
// every database kind: items, user group, permission group, member and grant made in the
// library's own windows, then the login, right, change-password and clear-log tests.
#include "admin/manager.h"
#include "capi/vardex.h"
#include "dialogs/join.h"
#include "dialogs/qxList.h"
#include "dialogs/repass.h"
#include "dialogs/widgets.h"
#include "host/mainExe.h"
#include "library/dmain.h"
#include "tests/support/testsupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QElapsedTimer>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <functional>
#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

using namespace vardex;
using namespace vardex::test;
using vardex::host::TForm1;

namespace {

const QString kNotConnected = QStringLiteral("尚未连接数据库,请先连接数据库.");
const QString kErrorCaption = QStringLiteral("错误");
const uint32_t kWarning = mb::Ok | mb::IconWarning;

// Acts on the modal windows that open while a handler runs: each step waits for the modal
// window with its object name and acts on it once; a step may open the next window itself.
// Steps still waiting after 20 s close what is open and fail the test instead of hanging.
class ModalScript {
  public:
    using Act = std::function<void(QWidget*)>;
    ModalScript& then(const QString& objectName, Act act) {
        m_steps.push_back({objectName, std::move(act)});
        return *this;
    }
    ModalScript() {
        m_clock.start();
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
        m_timer.start(5);
    }
    ~ModalScript() {
        m_timer.stop();
        EXPECT_EQ(m_done, m_steps.size()) << "modal steps left undone";
    }

  private:
    void tick() {
        QWidget* w = QApplication::activeModalWidget();
        if (m_done < m_steps.size() && w && w->objectName() == m_steps[m_done].first) {
            // Acted on from a timer of its own: a step that opens the next window runs that
            // window's loop, in which this polling timer must keep firing.
            Act act = m_steps[m_done++].second;
            QPointer<QWidget> target(w);
            QTimer::singleShot(0, [act, target] {
                if (target)
                    act(target);
            });
            return;
        }
        if (m_clock.elapsed() > 20000) {
            m_timer.stop();
            ADD_FAILURE() << "gave up waiting for a modal window";
            for (int i = 0; i < 10; ++i)
                if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                    d->done(0);
        }
    }
    std::vector<std::pair<QString, Act>> m_steps;
    size_t m_done = 0;
    QTimer m_timer;
    QElapsedTimer m_clock;
};

template <typename T> T* child(QWidget* w, const char* name) {
    T* c = w->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(c, nullptr) << name;
    return c;
}

// The captions of the labels placed directly in a container, top to bottom.
QStringList labelsIn(QWidget* container) {
    QList<QLabel*> labels = container->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly);
    std::sort(labels.begin(), labels.end(), [](QLabel* a, QLabel* b) { return a->y() < b->y(); });
    QStringList out;
    for (QLabel* l : labels)
        if (l->objectName().isEmpty())
            out << l->text();
    return out;
}

class PanelsBase {
  protected:
    QTemporaryDir dir;
    QString appPath = dir.path() + "/";

    static void expectBox(const MessageRecorder::Box& box, const QString& text, const QString& caption,
                          uint32_t type) {
        EXPECT_EQ(box.text, text);
        EXPECT_EQ(box.caption, caption);
        EXPECT_EQ(box.type, type);
        EXPECT_TRUE(box.hasOwner);
    }
    static void endSession() {
        if (hasDataModule())
            ::DisconnectDatabase();
        session() = SessionValues();
    }
};

class Panels : public ::testing::Test, public PanelsBase {
  protected:
    void TearDown() override { endSession(); }
};

} // namespace

// ---------------------------------------------------------------------------------------------
// The page as it starts

TEST_F(Panels, PageHoldsEveryControlWithItsCaptionAndStartValue) {
    TForm1 w(appPath);
    QWidget* page = w.TabSheet2;
    EXPECT_EQ(w.PageControl1->tabText(w.PageControl1->indexOf(page)), QStringLiteral("权限管理维护和测试"));
    EXPECT_EQ(w.SpeedButton1->text(), QStringLiteral("权限项目维护"));
    EXPECT_EQ(w.SpeedButton3->text(), QStringLiteral("权限管理"));
    EXPECT_EQ(w.chktran->text(), QStringLiteral("使用ADO事务"));
    EXPECT_EQ(w.chkwindow2->text(), QStringLiteral("窗口"));
    EXPECT_EQ(w.SpeedButton7->text(), QStringLiteral("更改用户密码"));
    EXPECT_EQ(w.SpeedButton7->toolTip(), QStringLiteral("请在出错信息框中输入新密码"));
    for (QWidget* c : {static_cast<QWidget*>(w.SpeedButton1), static_cast<QWidget*>(w.SpeedButton3),
                       static_cast<QWidget*>(w.chktran), static_cast<QWidget*>(w.chkwindow2),
                       static_cast<QWidget*>(w.SpeedButton7)})
        EXPECT_EQ(c->parentWidget(), page) << c->objectName().toStdString();
    EXPECT_FALSE(w.chktran->isChecked());
    EXPECT_FALSE(w.chkwindow2->isChecked());

    // The login test.
    EXPECT_EQ(w.GroupBox1->title(), QStringLiteral("用户登录测试"));
    EXPECT_EQ(labelsIn(w.GroupBox1), QStringList({"用户ID:", "密码:", "日期:", "出错信息:", "出错处理:"}));
    for (QWidget* c :
         {static_cast<QWidget*>(w.Edit4), static_cast<QWidget*>(w.Edit5), static_cast<QWidget*>(w.Edit6),
          static_cast<QWidget*>(w.Memo2), static_cast<QWidget*>(w.UpDown1), static_cast<QWidget*>(w.Label10),
          static_cast<QWidget*>(w.chkwindow), static_cast<QWidget*>(w.Panel1),
          static_cast<QWidget*>(w.SpeedButton4), static_cast<QWidget*>(w.labrt)})
        EXPECT_EQ(c->parentWidget(), w.GroupBox1) << c->objectName().toStdString();
    EXPECT_TRUE(w.Edit4->text().isEmpty());
    EXPECT_TRUE(w.Edit5->text().isEmpty());
    EXPECT_EQ(w.Edit5->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(w.Edit6->text(), QDate::currentDate().toString("yyyy-MM-dd"));
    EXPECT_EQ(w.Memo2->toPlainText(), QStringLiteral("用户登录不成功!"));
    EXPECT_EQ(w.Memo2->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_EQ(w.Edit7->objectName(), "Edit7");
    EXPECT_EQ(w.Edit7->parentWidget(), w.UpDown1);
    EXPECT_EQ(w.Edit7->text(), "0");
    EXPECT_EQ(w.Label10->text(), QStringLiteral("(0,自己处理,1,提供文本,3,程序处理)"));
    EXPECT_EQ(w.chkwindow->text(), QStringLiteral("窗口"));
    EXPECT_FALSE(w.chkwindow->isChecked());
    EXPECT_TRUE(w.Panel1->isHidden());
    EXPECT_EQ(w.Panel1->frameShape(), QFrame::NoFrame);
    EXPECT_EQ(labelsIn(w.Panel1), QStringList({"测试次数或秒数:"}));
    EXPECT_EQ(w.Edit12->parentWidget(), w.UpDown3);
    EXPECT_EQ(w.UpDown3->parentWidget(), w.Panel1);
    EXPECT_EQ(w.Edit12->text(), "3");
    EXPECT_EQ(w.SpeedButton4->text(), QStringLiteral("登录测试"));
    EXPECT_EQ(w.labrt->text(), QStringLiteral("返回值:"));

    // The right test.
    EXPECT_EQ(w.GroupBox2->title(), QStringLiteral("权限检测测试"));
    EXPECT_EQ(labelsIn(w.GroupBox2), QStringList({"用户ID:", "权限ID:", "出错信息:", "出错处理:"}));
    for (QWidget* c : {static_cast<QWidget*>(w.Edit9), static_cast<QWidget*>(w.Edit10),
                       static_cast<QWidget*>(w.Memo3), static_cast<QWidget*>(w.UpDown2),
                       static_cast<QWidget*>(w.SpeedButton5), static_cast<QWidget*>(w.labrt2)})
        EXPECT_EQ(c->parentWidget(), w.GroupBox2) << c->objectName().toStdString();
    EXPECT_TRUE(w.Edit9->text().isEmpty());
    EXPECT_TRUE(w.Edit10->text().isEmpty());
    EXPECT_EQ(w.Memo3->toPlainText(), QStringLiteral("您没有使用此功能的权限!"));
    EXPECT_EQ(w.Memo3->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_EQ(w.Edit11->parentWidget(), w.UpDown2);
    EXPECT_EQ(w.SpeedButton5->text(), QStringLiteral("权限测试"));
    EXPECT_EQ(w.labrt2->text(), QStringLiteral("返回值:"));

    // The number boxes: their ranges, no wrap-around.
    struct Range {
        QSpinBox* box;
        int min, max, value;
    };
    for (const Range& r :
         {Range{w.UpDown1, 0, 2, 0}, Range{w.UpDown2, 0, 2, 0}, Range{w.UpDown3, 3, 180, 3}}) {
        SCOPED_TRACE(r.box->objectName().toStdString());
        EXPECT_EQ(r.box->minimum(), r.min);
        EXPECT_EQ(r.box->maximum(), r.max);
        EXPECT_EQ(r.box->value(), r.value);
        EXPECT_FALSE(r.box->wrapping());
        r.box->setValue(r.max);
        r.box->stepBy(1);
        EXPECT_EQ(r.box->value(), r.max);
        r.box->setValue(r.min);
        r.box->stepBy(-1);
        EXPECT_EQ(r.box->value(), r.min);
    }

    // Every control lies inside its container and the buttons take no focus.
    for (QWidget* c : page->findChildren<QWidget*>()) {
        QWidget* parent = c->parentWidget();
        if (parent != page && parent != w.GroupBox1 && parent != w.GroupBox2 && parent != w.Panel1)
            continue;
        EXPECT_TRUE(QRect(QPoint(0, 0), parent->size()).contains(c->geometry()))
            << c->objectName().toStdString() << " " << c->metaObject()->className();
    }
    for (QPushButton* b : page->findChildren<QPushButton*>())
        EXPECT_EQ(b->focusPolicy(), Qt::NoFocus);
}

TEST_F(Panels, TheWindowBoxesShowTheAttemptsPanelOnlyForTheLoginTest) {
    {
        TForm1 w(appPath);
        w.chkwindow->click();
        EXPECT_FALSE(w.Panel1->isHidden());
        w.chkwindow2->click(); // re-applies the login test's box, changes nothing else
        EXPECT_FALSE(w.Panel1->isHidden());
        EXPECT_TRUE(w.chkwindow->isChecked());
        w.chkwindow->click();
        EXPECT_TRUE(w.Panel1->isHidden());
        w.chkwindow2->click();
        EXPECT_TRUE(w.Panel1->isHidden());
        // A box changed without a click is picked up by the next click on either box.
        w.chkwindow->setChecked(true);
        EXPECT_TRUE(w.Panel1->isHidden());
        w.chkwindow2->click();
        EXPECT_FALSE(w.Panel1->isHidden());
        w.chktran->setChecked(true);
        w.UpDown1->setValue(1);
        w.UpDown2->setValue(2);
        w.close();
    }
    // The "窗口" boxes are not kept: the panel starts hidden; the others come back.
    TForm1 again(appPath);
    EXPECT_FALSE(again.chkwindow->isChecked());
    EXPECT_FALSE(again.chkwindow2->isChecked());
    EXPECT_TRUE(again.Panel1->isHidden());
    EXPECT_TRUE(again.chktran->isChecked());
    EXPECT_EQ(again.Edit7->text(), "1");
    EXPECT_EQ(again.Edit11->text(), "2");
}

TEST_F(Panels, WithoutASessionEveryTestButTheChangePasswordSaysSoAndShowsNoResult) {
    TForm1 w(appPath);
    w.Edit4->setText("clerk");
    w.Edit9->setText("clerk");
    w.Edit10->setText("1");
    MessageRecorder rec;
    w.SpeedButton1->click();
    w.SpeedButton3->click();
    w.SpeedButton4->click();
    w.SpeedButton5->click();
    w.chkwindow->click();
    w.SpeedButton4->click(); // window mode looks at the connection too
    ASSERT_EQ(rec.boxes.size(), 5u);
    for (const auto& box : rec.boxes)
        expectBox(box, kNotConnected, kErrorCaption, kWarning);
    EXPECT_EQ(w.labrt->text(), QStringLiteral("返回值:"));
    EXPECT_EQ(w.labrt2->text(), QStringLiteral("返回值:"));

    // The change-password test checks only the user ID; then the library has no session and
    // the failure goes to the general error report.
    rec.boxes.clear();
    w.Edit4->setText(" \t ");
    w.SpeedButton7->click();
    w.chkwindow2->click();
    w.SpeedButton7->click();
    w.Edit4->setText("clerk");
    w.SpeedButton7->click();
    ASSERT_EQ(rec.boxes.size(), 3u);
    expectBox(rec.boxes[0], QStringLiteral("用户ID必须输入! 新密码可输在出错信息框中."), kErrorCaption,
              mb::Ok);
    expectBox(rec.boxes[1], QStringLiteral("用户ID必须输入!"), kErrorCaption, mb::Ok);
    EXPECT_EQ(rec.boxes[2].type, mb::Ok | mb::IconError);
    EXPECT_FALSE(rec.boxes[2].text.isEmpty());
}

// ---------------------------------------------------------------------------------------------
// On a store with a session

namespace {

class PanelsOnStore : public ::testing::TestWithParam<Backend>, public PanelsBase {
  protected:
    void TearDown() override { endSession(); }

    // A fresh database, connected through the window and installed by its installer.
    void connectAndInstall(TForm1& w, const QString& cnstr) {
        w.Memo1->setPlainText(cnstr);
        MessageRecorder rec;
        w.btnlinkClick();
        ASSERT_TRUE(w.IsConnected);
        ASSERT_FALSE(w.secondPageShown());
        w.btnInportClick();
        ASSERT_EQ(rec.boxes.size(), 1u);
        ASSERT_EQ(rec.boxes[0].caption, QStringLiteral("导入数据表"));
        ASSERT_TRUE(w.secondPageShown());
    }
    int count(AdoConnection& cn, const QString& sql) { return scalarInt(cn, sql); }

    // The item editor: appends items and closes.
    static void addItems(QWidget* modal, const QList<QPair<int, QString>>& items) {
        auto* list = qobject_cast<TfrqxList*>(modal);
        ASSERT_NE(list, nullptr);
        using N = dialogs::TDBNavigator;
        for (const auto& [id, name] : items) {
            list->DBNavigator1->button(N::Insert)->click();
            const int row = list->model()->currentRow();
            EXPECT_TRUE(list->model()->setData(list->model()->index(row, 0), id, Qt::EditRole));
            EXPECT_TRUE(list->model()->setData(list->model()->index(row, 1), name, Qt::EditRole));
            list->DBNavigator1->button(N::Post)->click();
        }
        list->btnOK->click();
    }
    static QTreeWidgetItem* node(TreeList* list, const QString& name) {
        for (QTreeWidgetItemIterator it(list); *it; ++it)
            if (list->text(*it, "name") == name)
                return *it;
        ADD_FAILURE() << "no node " << name.toStdString();
        return nullptr;
    }
    static void clickCheck(TreeList* list, QTreeWidgetItem* n) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, list->cellRect(n, 1).center());
    }
    static ModalScript::Act fillName(const QString& name) {
        return [=](QWidget* d) {
            child<QLineEdit>(d, "Edit1")->setText(name);
            child<QAbstractButton>(d, "btnOK")->click();
        };
    }
    // Right test and login test through the page.
    static QString rightTest(TForm1& w, const QString& user, const QString& item) {
        w.Edit9->setText(user);
        w.Edit10->setText(item);
        w.SpeedButton5->click();
        return w.labrt2->text();
    }
    static QString loginTest(TForm1& w, const QString& user, const QString& password) {
        w.Edit4->setText(user);
        w.Edit5->setText(password);
        w.SpeedButton4->click();
        return w.labrt->text();
    }
};

} // namespace

TEST_P(PanelsOnStore, AWholeSessionThroughTheWindow) {
    TempDatabase db(GetParam());
    TForm1 w(appPath);
    connectAndInstall(w, db.connectionString());
    auto cn = openConnection(db.connectionString());
    const QString today = QDate::currentDate().toString("yyyy-MM-dd");

    // Items, in the editor outside a transaction.
    {
        ModalScript s;
        s.then("frqxList", [](QWidget* m) {
            addItems(m, {{1000, QStringLiteral("销售")},
                         {1001, QStringLiteral("开单")},
                         {1002, QStringLiteral("退货")}});
        });
        w.SpeedButton1->click();
    }
    EXPECT_EQ(count(*cn, "select count(*) from qx_Name"), 3);

    // A user group, a permission group with one item, given to the user group, and a member;
    // the whole visit one transaction, kept by OK.
    w.chktran->setChecked(true);
    bool inTransaction = false;
    {
        ModalScript s;
        s.then("frmanager", [&](QWidget* m) {
            auto* mgr = qobject_cast<Tfrmanager*>(m);
            ASSERT_NE(mgr, nullptr);
            inTransaction = dataModule().ADOcn.inTransaction();
            mgr->btnAddUserzu->click(); // the next steps act on its dialogs
            mgr->btnAddZu->click();
            clickCheck(mgr->dtl3, node(mgr->dtl3, QStringLiteral("开单")));
            clickCheck(mgr->dtl2, node(mgr->dtl2, QStringLiteral("前台")));
            mgr->btnAddUser->click();
            EXPECT_EQ(node(mgr->dtl1, QStringLiteral("Mary"))->parent(),
                      node(mgr->dtl1, QStringLiteral("sales")));
            mgr->btnOK->click();
        });
        s.then("frqxzu", fillName("sales"));
        s.then("frqxzu", fillName(QStringLiteral("前台")));
        s.then("frUser", [](QWidget* d) {
            EXPECT_EQ(child<QComboBox>(d, "cbzu")->currentText(), "sales"); // the current user group
            child<QLineEdit>(d, "Edit1")->setText("m1");
            child<QLineEdit>(d, "Edit2")->setText("Mary");
            child<QLineEdit>(d, "Edit3")->setText("pw1");
            child<QCheckBox>(d, "chkAllow")->setChecked(true);
            child<QAbstractButton>(d, "btnOK")->click();
        });
        w.SpeedButton3->click();
    }
    EXPECT_TRUE(inTransaction);
    EXPECT_FALSE(dataModule().ADOcn.inTransaction());
    EXPECT_EQ(count(*cn, "select zuid from qx_user where userID = 'm1'"), 1001);
    EXPECT_EQ(count(*cn, "select AllowCount from qx_user_qx where userID = 'sales' and qxID = 1001"), 1);

    MessageRecorder rec;
    // The right test: the member holds the item through the group's grant.
    EXPECT_EQ(rightTest(w, " m1 ", " 1001 "), QStringLiteral("返回值: 0"));
    EXPECT_EQ(rightTest(w, "m1", "1002"), QStringLiteral("返回值: 3"));
    EXPECT_EQ(rightTest(w, "nobody", "1001"), QStringLiteral("返回值: 1"));
    EXPECT_EQ(rightTest(w, "sales", "1001"), QStringLiteral("返回值: 2"));
    EXPECT_TRUE(rec.boxes.empty()); // mode 0 shows nothing
    EXPECT_EQ(count(*cn, QStringLiteral("select count(*) from qx_Logs where theLog = '使用权限(开单)'")), 1);
    // Mode 1 shows the message text, mode 2 the library's own.
    w.UpDown2->setValue(1);
    w.Memo3->setPlainText("  no entry \r\n");
    EXPECT_EQ(rightTest(w, "m1", "1002"), QStringLiteral("返回值: 3"));
    w.UpDown2->setValue(2);
    EXPECT_EQ(rightTest(w, "m1", "1002"), QStringLiteral("返回值: 3"));
    EXPECT_EQ(rightTest(w, "m1", "1000"), QStringLiteral("返回值: 0")); // the head item came with its item
    ASSERT_EQ(rec.boxes.size(), 2u);
    EXPECT_EQ(rec.boxes[0].text, "no entry");
    EXPECT_EQ(rec.boxes[0].caption, QStringLiteral("用户权限"));
    EXPECT_EQ(rec.boxes[1].caption, QStringLiteral("用户权限"));
    EXPECT_NE(rec.boxes[1].text, "no entry");
    w.UpDown2->setValue(0);
    rec.boxes.clear();

    // Revoked in the administration window, without a transaction: the right is gone.
    w.chktran->setChecked(false);
    {
        ModalScript s;
        s.then("frmanager", [&](QWidget* m) {
            auto* mgr = qobject_cast<Tfrmanager*>(m);
            ASSERT_NE(mgr, nullptr);
            EXPECT_FALSE(dataModule().ADOcn.inTransaction());
            QTest::mouseClick(mgr->dtl1->viewport(), Qt::LeftButton, Qt::NoModifier,
                              mgr->dtl1->visualItemRect(node(mgr->dtl1, "sales")).center() - QPoint(40, 0));
            mgr->dtl2->setCurrentItem(node(mgr->dtl2, QStringLiteral("前台")));
            clickCheck(mgr->dtl3, node(mgr->dtl3, QStringLiteral("开单")));
            mgr->btnCancel->click(); // outside a transaction the change stays
        });
        w.SpeedButton3->click();
    }
    EXPECT_EQ(rightTest(w, "m1", "1001"), QStringLiteral("返回值: 3"));
    EXPECT_TRUE(rec.boxes.empty());

    // The login test: the member's password on today's date, a wrong one, an unknown user.
    EXPECT_EQ(loginTest(w, "m1", " pw1 "), QStringLiteral("返回值: 0"));
    EXPECT_EQ(session().CurrentUserID, "m1");
    EXPECT_EQ(loginTest(w, "m1", "wrong"), QStringLiteral("返回值: 3"));
    EXPECT_EQ(loginTest(w, "nobody", "pw1"), QStringLiteral("返回值: 4"));
    w.Edit6->setText(" 2000-01-01 "); // before the member's validity
    EXPECT_EQ(loginTest(w, "m1", "pw1"), QStringLiteral("返回值: 2"));
    w.Edit6->setText(today);
    EXPECT_TRUE(rec.boxes.empty());
    w.UpDown1->setValue(1);
    w.Memo2->setPlainText(QStringLiteral(" 登录失败 "));
    EXPECT_EQ(loginTest(w, "m1", "wrong"), QStringLiteral("返回值: 3"));
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].text, QStringLiteral("登录失败"));
    EXPECT_EQ(rec.boxes[0].caption, QStringLiteral("用户登录"));
    w.UpDown1->setValue(0);
    rec.boxes.clear();

    // The login test in window mode: the dialog with the attempts from the panel; its result
    // written without a blank.
    w.chkwindow->click();
    ASSERT_FALSE(w.Panel1->isHidden());
    w.Edit4->clear(); // the dialog asks for the ID itself
    {
        bool attemptMode = false;
        ModalScript s;
        s.then("frJoin", [&](QWidget* m) {
            auto* join = qobject_cast<TfrJoin*>(m);
            ASSERT_NE(join, nullptr);
            attemptMode = !join->timedMode;
            join->Edit1->setText("m1");
            join->Edit2->setText("pw1");
            join->btnOK->click();
        });
        w.SpeedButton4->click();
        EXPECT_TRUE(attemptMode);
    }
    EXPECT_EQ(w.labrt->text(), QStringLiteral("返回值:0"));
    w.UpDown3->setValue(30);
    {
        bool timed = false;
        ModalScript s;
        s.then("frJoin", [&](QWidget* m) {
            auto* join = qobject_cast<TfrJoin*>(m);
            ASSERT_NE(join, nullptr);
            timed = join->timedMode;
            join->btnCancel->click();
        });
        w.SpeedButton4->click();
        EXPECT_TRUE(timed);
    }
    EXPECT_EQ(w.labrt->text(), QStringLiteral("返回值:3"));
    EXPECT_TRUE(rec.boxes.empty());
    w.chkwindow->click();

    // The change-password test, direct: the new password comes from the message box.
    w.Edit4->setText("m1");
    w.Edit5->setText("pw1");
    w.Memo2->setPlainText(" pw2 ");
    w.SpeedButton7->click();
    w.SpeedButton7->click(); // the old password no longer matches
    ASSERT_EQ(rec.boxes.size(), 2u);
    expectBox(rec.boxes[0], QStringLiteral("密码修改成功!"), QStringLiteral("修改密码"), mb::Ok);
    expectBox(rec.boxes[1], QStringLiteral("密码修改没有成功!"), QStringLiteral("修改密码"), kWarning);
    EXPECT_EQ(loginTest(w, "m1", "pw2"), QStringLiteral("返回值: 0"));
    rec.boxes.clear();

    // ... and through the dialog, for the user in Edit4.
    w.chkwindow2->click();
    const QString labelBefore = w.labrt->text();
    {
        ModalScript s;
        s.then("frRepass", [](QWidget* m) {
            auto* r = qobject_cast<TfrRepass*>(m);
            ASSERT_NE(r, nullptr);
            EXPECT_EQ(r->Edit1->text(), "m1");
            r->Edit2->setText("pw2");
            r->Edit3->setText("pw3");
            r->Edit4->setText("pw3");
            r->SpeedButton2->click();
        });
        w.SpeedButton7->click();
    }
    ASSERT_EQ(rec.boxes.size(), 1u); // the dialog's own; the page shows no result
    EXPECT_EQ(rec.boxes[0].caption, QStringLiteral("修改密码"));
    EXPECT_EQ(w.labrt->text(), labelBefore);
    EXPECT_EQ(loginTest(w, "m1", "pw3"), QStringLiteral("返回值: 0"));
    rec.boxes.clear();

    // Clearing the log asks first, naming how many rows go: No keeps them all, Yes empties the
    // log and says how many went; an empty log has nothing to ask about.
    const int rows = count(*cn, "select count(*) from qx_Logs");
    ASSERT_GT(rows, 0);
    rec.answers = {mb::IdNo};
    w.SpeedButton8->click();
    EXPECT_EQ(count(*cn, "select count(*) from qx_Logs"), rows);
    rec.answers = {mb::IdYes};
    w.SpeedButton8->click();
    EXPECT_EQ(count(*cn, "select count(*) from qx_Logs"), 0);
    w.SpeedButton8->click();
    const QString question =
        QStringLiteral("将清除全部 %1 条LOG记录, 清除后不能恢复. 确定要清除吗?").arg(rows);
    ASSERT_EQ(rec.boxes.size(), 4u);
    expectBox(rec.boxes[0], question, QStringLiteral("询问"), mb::YesNo | mb::IconQuestion);
    expectBox(rec.boxes[1], question, QStringLiteral("询问"), mb::YesNo | mb::IconQuestion);
    expectBox(rec.boxes[2], QStringLiteral("已清除 %1 条LOG记录.").arg(rows), QStringLiteral("清除LOG记录"),
              mb::Ok | mb::IconInformation);
    expectBox(rec.boxes[3], QStringLiteral("LOG记录是空的, 没有可清除的记录."), QStringLiteral("清除LOG记录"),
              mb::Ok | mb::IconInformation);
    rec.boxes.clear();

    w.close();
    EXPECT_FALSE(hasDataModule());
}

TEST_P(PanelsOnStore, TheRightTestChecksItsInputsInOrderAndPassesThemTrimmed) {
    TempDatabase db(GetParam());
    TForm1 w(appPath);
    connectAndInstall(w, db.connectionString());
    MessageRecorder rec;
    const auto lastText = [&] { return rec.boxes.empty() ? QString() : rec.boxes.back().text; };

    // Empty user ID before anything about the item number.
    w.Edit9->setText("  ");
    w.Edit10->setText("abc");
    w.SpeedButton5->click();
    EXPECT_EQ(lastText(), QStringLiteral("用户ID不能为空!请重新输入."));
    w.Edit9->setText("someone");
    w.Edit10->setText(" \t");
    w.SpeedButton5->click();
    EXPECT_EQ(lastText(), QStringLiteral("权限ID不能为空!请重新输入."));
    for (const char* bad : {"abc", "1.5", "1 2", "0x10", "2147483648", "-2147483649", "12a", "+"}) {
        w.Edit10->setText(bad);
        w.SpeedButton5->click();
        EXPECT_EQ(lastText(), QStringLiteral("权限ID必须为整数型值!请重新输入.")) << bad;
    }
    ASSERT_EQ(rec.boxes.size(), 10u);
    for (const auto& box : rec.boxes)
        EXPECT_EQ(box.type, kWarning);
    EXPECT_EQ(w.labrt2->text(), QStringLiteral("返回值:")); // a failed check leaves the result
    rec.boxes.clear();

    // An undefined item is named in the library's warning with the number and message text as
    // they arrived: trimmed, and a message of blanks arrives empty.
    w.Memo3->setPlainText("  why? \n");
    w.Edit10->setText(" 77 ");
    w.SpeedButton5->click();
    w.Memo3->setPlainText("   ");
    w.Edit10->setText("-2147483648");
    w.SpeedButton5->click();
    w.Edit10->setText("+2147483647");
    w.SpeedButton5->click();
    ASSERT_EQ(rec.boxes.size(), 3u);
    EXPECT_EQ(rec.boxes[0].text, QStringLiteral("权限没有定义(77 why?)"));
    EXPECT_EQ(rec.boxes[1].text, QStringLiteral("权限没有定义(-2147483648 )"));
    EXPECT_EQ(rec.boxes[2].text, QStringLiteral("权限没有定义(2147483647 )"));
    EXPECT_EQ(w.labrt2->text(), QStringLiteral("返回值: 1"));

    // The login test's own check.
    rec.boxes.clear();
    w.Edit4->setText("\t ");
    w.SpeedButton4->click();
    ASSERT_EQ(rec.boxes.size(), 1u);
    expectBox(rec.boxes[0], QStringLiteral("用户ID不能为空!请重新输入."), kErrorCaption, kWarning);
    EXPECT_EQ(w.labrt->text(), QStringLiteral("返回值:"));
    // After a disconnect the tests refuse again.
    w.btndkClick();
    w.Edit4->setText("x");
    w.SpeedButton4->click();
    w.SpeedButton5->click();
    ASSERT_EQ(rec.boxes.size(), 3u);
    EXPECT_EQ(rec.boxes[1].text, kNotConnected);
    EXPECT_EQ(rec.boxes[2].text, kNotConnected);
}

INSTANTIATE_TEST_SUITE_P(Backends, PanelsOnStore, VARDEX_BACKEND_PARAMS);
