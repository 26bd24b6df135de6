// The English interface: the language call and its refusals, the windows and boxes in English
// driven with real clicks, the audit rows that stay Chinese, the host's setting and its choice
// on the main page. With VARDEX_SCREENSHOT_DIR set it also writes a picture of every window.
#include "admin/auditlogwindow.h"
#include "admin/manager.h"
#include "admin/qxzu.h"
#include "admin/user.h"
#include "capi/vardex.h"
#include "dialogs/dlgcommon.h"
#include "dialogs/join.h"
#include "dialogs/language.h"
#include "dialogs/qxList.h"
#include "dialogs/repass.h"
#include "host/datalink.h"
#include "host/mainExe.h"
#include "library/cipher.h"
#include "library/uitext.h"
#include "platform/inifile.h"
#include "tests/test_dialogs.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <QTreeWidgetItemIterator>
#include <thread>

using namespace vardex;
using namespace vardex::test;

namespace {

// Puts the library back to its default after each test, whatever the test chose.
struct ChineseAfterwards {
    ~ChineseAfterwards() { gui::setLanguage(QStringLiteral("zh")); }
};

class English : public SessionStore {
  protected:
    void prepareStore() override {
        db->execute("INSERT INTO qx_Name (qxID, qxName) VALUES (7, '开单')");
        db->execute("INSERT INTO qx_Name (qxID, qxName) VALUES (1000, 'Sales')"); // a head item
        db->execute(
            "INSERT INTO qx_user (userID, userName, userPwd, startTime, endTime, Allow, AllowZekou, zuid) "
            "VALUES ('clerk', 'clerk', '" +
            EncryptPassword("pw", "kmpq") + "', '2026-01-01', '2026-12-31', 'T', 0, 10000)");
        db->execute("Exec qxAddUser 'clerk'");
        db->execute("Exec qxAddzuName 'sales'");
        db->execute("Exec qxUpDateAllows 'sales',7,'T'");
        db->execute("Exec qx_user_zu_changed 'clerk','sales','T'");
        db->execute("INSERT INTO qx_user (userID, userName, userPwd, startTime, endTime, Allow, AllowZekou, "
                    "zuid) VALUES ('Finance', 'Finance', '', '000000', '000000', 'T', 0, 1)");
        db->execute("Exec qxAddUser 'Finance'");
    }
    // The audit rows, in the store's order of their texts.
    QStringList logTexts() {
        QStringList out;
        const int n = scalarInt(*db, "select count(*) from qx_Logs");
        for (int i = 0; i < n; ++i)
            out << scalar(*db,
                          QString("select theLog from qx_Logs order by theLog limit 1 offset %1").arg(i));
        return out;
    }
    ChineseAfterwards reset;
};

// ---------------------------------------------------------------------------------------------
// The call

TEST(LanguageCall, OnlyTheTwoExactCodesAreTakenAndEveryOtherCallChangesNothing) {
    ChineseAfterwards reset;
    ASSERT_EQ(VardexSetLanguage("en"), 0);
    EXPECT_EQ(gui::language(), "en");
    const QByteArray huge(1 << 20, 'e');
    for (const char* bad : {static_cast<const char*>(nullptr), "", "fr", "EN", "en ", " en", "e\xff",
                            "\xff\xfe", "en_US", "zh'--", huge.constData()}) {
        EXPECT_EQ(VardexSetLanguage(bad), VARDEX_ERROR) << (bad ? std::string(bad).substr(0, 8) : "NULL");
        EXPECT_STRNE(VardexLastError(), "");
        EXPECT_EQ(gui::language(), "en");
    }
    // Another thread is refused with its own message and leaves the choice alone.
    int32_t fromThread = 0;
    std::string threadError;
    std::thread([&] {
        fromThread = VardexSetLanguage("zh");
        threadError = VardexLastError();
    }).join();
    EXPECT_EQ(fromThread, VARDEX_ERROR);
    EXPECT_NE(threadError.find("thread"), std::string::npos);
    EXPECT_EQ(gui::language(), "en");
    EXPECT_EQ(VardexSetLanguage("zh"), 0);
    EXPECT_EQ(gui::language(), "zh");
    EXPECT_STREQ(VardexLastError(), "");
}

// The machine's locale never picks the language.
TEST(LanguageCall, TheLocaleIsNotConsulted) {
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    TfrJoin w;
    EXPECT_EQ(w.windowTitle(), QString::fromUtf8("系统登录"));
    EXPECT_EQ(w.btnOK->text(), QString::fromUtf8("确定(&O)"));
    QLocale::setDefault(before);
}

TEST_P(English, ChangingTheLanguageFromInsideACallIsRefused) {
    int32_t reentered = 0;
    VardexSetMessageHandler(
        [](const char*, const char*, uint32_t, void* result) {
            *static_cast<int32_t*>(result) = VardexSetLanguage("en");
            return int32_t(VARDEX_IDOK);
        },
        &reentered);
    EXPECT_EQ(CheckUserLogin("nobody", "x", "", nullptr, VARDEX_SHOW_BUILTIN), 4);
    VardexSetMessageHandler(nullptr, nullptr);
    installUnexpectedBoxGuard();
    EXPECT_EQ(reentered, VARDEX_ERROR);
    EXPECT_EQ(gui::language(), "zh");
}

// ---------------------------------------------------------------------------------------------
// English on screen, Chinese in the store

TEST_P(English, TheLoginWindowIsEnglishAndTheAuditRowsStayChinese) {
    ASSERT_EQ(VardexSetLanguage("en"), 0);
    char buffer[32] = {};
    char* ref = buffer;
    int32_t count = 3, shift = 0;
    ModalDriver driver([](QWidget* w) {
        auto* join = qobject_cast<TfrJoin*>(w);
        ASSERT_NE(join, nullptr);
        EXPECT_EQ(join->windowTitle(), "Log In");
        EXPECT_EQ(join->Label1->text(), "User ID:");
        EXPECT_EQ(join->Label3->text(), "You have 3 attempts to log in.");
        EXPECT_EQ(join->btnCancel->text(), "&Cancel");
        QTest::keyClicks(join->Edit1, "clerk");
        QTest::keyClicks(join->Edit2, "pw");
        QTest::mouseClick(join->btnOK, Qt::LeftButton);
    });
    EXPECT_EQ(ShowLoginDialog(nullptr, "2026-06-15", &ref, &count, &shift, 0), 0);
    EXPECT_TRUE(driver.acted());
    EXPECT_STREQ(buffer, "clerk");
    EXPECT_EQ(CheckUserRight("clerk", 7, nullptr, VARDEX_SHOW_NOTHING), 0);
    EXPECT_EQ(logTexts(), QStringList({QString::fromUtf8("使用权限(开单)"), QString::fromUtf8("用户登录")}));

    // The library's own refusal texts are shown in English; the answers are the same codes.
    MessageRecorder boxes;
    EXPECT_EQ(CheckUserLogin("clerk", "wrong", "", nullptr, VARDEX_SHOW_BUILTIN), 3);
    EXPECT_EQ(CheckUserRight("clerk", 99, "report", VARDEX_SHOW_BUILTIN), 3);
    ASSERT_EQ(boxes.boxes.size(), 3u);
    EXPECT_EQ(boxes.boxes[0].caption, "User Login");
    EXPECT_EQ(boxes.boxes[0].text, "The password is incorrect. Login failed. Please try again.");
    EXPECT_EQ(boxes.boxes[1].text, "Permission item not defined (99 report)");
    EXPECT_EQ(boxes.boxes[2].caption, "User Permission");
    // Back in Chinese, the same call shows the Chinese text again.
    ASSERT_EQ(VardexSetLanguage("zh"), 0);
    EXPECT_EQ(CheckUserLogin("clerk", "wrong", "", nullptr, VARDEX_SHOW_BUILTIN), 3);
    EXPECT_EQ(boxes.boxes.back().text, QString::fromUtf8("密码不正确, 登录不成功, 请重试."));
}

TEST_P(English, TheAdministrationWindowAndItsBoxesAreEnglish) {
    ASSERT_EQ(VardexSetLanguage("en"), 0);
    Tfrmanager w;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    EXPECT_EQ(w.windowTitle(), "User Permission Management");
    EXPECT_EQ(w.btnHelp->text(), "&Save");
    EXPECT_EQ(w.dtl1->headerItem()->text(0), "User (group) name");
    // The name dialog, confirmed empty: its refusal comes in English.
    MessageRecorder boxes;
    ModalDriver driver([](QWidget* d) {
        auto* name = qobject_cast<Tfrqxzu*>(d);
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(name->windowTitle(), "Add Permission Group");
        EXPECT_EQ(name->btnOK->text(), "&OK");
        QTest::mouseClick(name->btnOK, Qt::LeftButton);
        QTest::mouseClick(name->SpeedButton1, Qt::LeftButton);
    });
    QTest::mouseClick(w.btnAddZu, Qt::LeftButton);
    EXPECT_TRUE(driver.acted());
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "The group name must not be empty.");
    EXPECT_EQ(boxes.boxes[0].caption, "Error");
    EXPECT_EQ(boxes.boxes[0].type, mb::Ok | mb::IconWarning); // with an icon, as the other boxes
}

// Clicks a node's name, as a person picks a row of one of the three lists.
void clickNode(QTreeWidget* list, QTreeWidgetItem* node) {
    list->scrollToItem(node);
    const QRect row = list->visualItemRect(node);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(row.left() + 20, row.center().y()));
}

QTreeWidgetItem* nodeNamed(QTreeWidget* list, const QString& name) {
    for (QTreeWidgetItemIterator it(list); *it; ++it)
        if ((*it)->text(0) == name)
            return *it;
    ADD_FAILURE() << "no node " << name.toStdString();
    return nullptr;
}

// The titles above the lists say what the chosen row is: a user group, a permission group, an
// item or a head item; the Chinese titles stay as they were.
TEST_P(English, TheListTitlesSayWhichKindOfGroupOrItem) {
    for (const char* language : {"en", "zh"}) {
        ASSERT_EQ(VardexSetLanguage(language), 0);
        Tfrmanager w;
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        clickNode(w.dtl1, nodeNamed(w.dtl1, "Finance"));
        clickNode(w.dtl3, nodeNamed(w.dtl3, "Sales"));
        if (QLatin1String(language) == QLatin1String("en")) {
            EXPECT_EQ(w.labUser->text(), "Users: (Finance) (user group)");
            EXPECT_EQ(w.labZu->text(), "Permission group: (sales)");
            EXPECT_EQ(w.Label3->text(), "Item: (Sales) (head item)");
            EXPECT_EQ(w.btnAddUserzu->text(), "User Group");
        } else {
            EXPECT_EQ(w.labUser->text(), QString::fromUtf8("用户列表:(Finance)(组)"));
            EXPECT_EQ(w.labZu->text(), QString::fromUtf8("权限组列表:(sales)"));
            EXPECT_EQ(w.Label3->text(), QString::fromUtf8("权限组列表:(Sales)(组)"));
            EXPECT_EQ(w.btnAddUserzu->text(), QString::fromUtf8("添加用户组"));
        }
        for (QLabel* title : {w.labUser, w.labZu, w.Label3})
            EXPECT_LE(title->sizeHint().width(), title->width()) << title->text().toStdString();
    }
}

// English captions are longer than the Chinese ones the fixed layouts were made for: each must
// still be whole and end before the box it names.
TEST_P(English, LongerCaptionsStayWholeAndClearOfTheirBoxes) {
    ASSERT_EQ(VardexSetLanguage("en"), 0);
    auto clear = [](QLabel* label, QWidget* box) {
        EXPECT_LE(label->sizeHint().width(), label->width()) << label->text().toStdString();
        // Where the text ends: the label's right edge when it is right-aligned.
        const int textEnd = label->alignment() & Qt::AlignRight ? label->geometry().right() + 1
                                                                : label->x() + label->sizeHint().width();
        EXPECT_LE(textEnd + dialogs::kCaptionClearance, box->x()) << label->text().toStdString();
        EXPECT_GE(label->x(), 0) << label->text().toStdString();
    };
    TfrUser user;
    clear(user.Label1, user.Edit1);
    clear(user.Label3, user.Edit3);
    clear(user.Label4, user.dt1);
    clear(user.Label5, user.dt2);
    TfrRepass repass;
    clear(repass.Label2, repass.Edit2);
    clear(repass.Label4, repass.Edit4);
    TfrJoin join;
    clear(join.Label1, join.Edit1);
    clear(join.Label2, join.Edit2);
    QTemporaryDir dir;
    host::TForm1 main(dir.path() + "/");
    QLabel* password = nullptr;
    for (QLabel* l : main.TabSheet1->findChildren<QLabel*>())
        if (l->text() == "Password:")
            password = l;
    ASSERT_NE(password, nullptr);
    clear(password, main.Edit2);
}

INSTANTIATE_TEST_SUITE_P(Backends, English, ::testing::Values(Backend::SQLite));

// ---------------------------------------------------------------------------------------------
// The host: the settings file and the choice on the main page

// Chooses an entry of the main page's language box the way a person does: opens the list and
// clicks the entry.
void chooseLanguage(host::TForm1& w, int entry) {
    QTest::mouseClick(w.cbLanguage, Qt::LeftButton);
    QAbstractItemView* list = w.cbLanguage->view();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(list->window()));
    // The list ignores a click that comes as quickly as the second half of a double click.
    QTest::qWait(QApplication::doubleClickInterval() + 100);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualRect(list->model()->index(entry, 0)).center());
}

void showPage(host::TForm1& w, QWidget* page) {
    QTabBar* bar = w.PageControl1->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(w.PageControl1->indexOf(page)).center());
    ASSERT_EQ(w.PageControl1->currentWidget(), page);
}

TEST(HostLanguage, TheSettingAndTheMainPageChoice) {
    ChineseAfterwards reset;
    QTemporaryDir dir;
    const QString appPath = dir.path() + "/";
    const QString ini = appPath + "cnsetting.ini";
    for (const char* help : {"Readme.txt", "Readme.en.txt"})
        QFile::copy(sourceDir() + "/host/" + help, appPath + help);
    {
        host::TForm1 w(appPath); // no setting: Chinese
        EXPECT_EQ(w.windowTitle(), QString::fromUtf8("权限管理应用工具"));
        EXPECT_EQ(w.cbLanguage->currentText(), QString::fromUtf8("中文"));
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        chooseLanguage(w, 1);
        EXPECT_EQ(w.cbLanguage->currentText(), "English");
        EXPECT_EQ(gui::language(), "en");
        EXPECT_EQ(ini::getPrivateProfileString("setting", "language", "", ini::DefaultBufferSize, ini), "en");
        // A window opened now is English, and so is this one at once.
        host::TfrDataLink link(&w);
        EXPECT_EQ(link.windowTitle(), "Data Source");
        EXPECT_EQ(w.windowTitle(), "Permission Management Tool");
        w.close();
    }
    gui::setLanguage("zh");
    {
        host::TForm1 w(appPath); // the next start reads language=en
        EXPECT_EQ(w.windowTitle(), "Permission Management Tool");
        EXPECT_EQ(w.cbLanguage->currentText(), "English");
        EXPECT_EQ(w.PageControl1->tabText(0), "Connect to Database");
        EXPECT_TRUE(w.Memo4->toPlainText().startsWith("Permission Management Tool: how to use it"));
        MessageRecorder boxes;
        QTest::mouseClick(w.SpeedButton6, Qt::LeftButton);
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].caption, "About the Permission Management Tool");
        w.close();
    }
    EXPECT_EQ(ini::getPrivateProfileString("setting", "language", "", ini::DefaultBufferSize, ini), "en");
}

// In English every caption of the host's fixed pages, of its connection dialog (every kind) and
// of the user dialog is drawn in the window's font, proportional, and a button's caption
// leaves room at both ends.
void expectCaptionsFit(QWidget& top, const std::string& where) {
    const int pixels = QFontInfo(top.font()).pixelSize();
    for (QWidget* c : top.findChildren<QWidget*>()) {
        QString text;
        if (auto* l = qobject_cast<QLabel*>(c))
            text = l->text();
        else if (auto* b = qobject_cast<QAbstractButton*>(c); b && !qobject_cast<QTabBar*>(b->parent()))
            text = b->text();
        if (text.isEmpty() || !c->isVisibleTo(&top))
            continue;
        const std::string name = where + " " + text.toStdString();
        EXPECT_EQ(QFontInfo(c->font()).pixelSize(), pixels) << name;
        EXPECT_FALSE(QFontInfo(c->font()).fixedPitch()) << name;
        if (auto* b = qobject_cast<QPushButton*>(c)) {
            EXPECT_LE(b->fontMetrics().horizontalAdvance(text.remove('&')) + 16, b->width()) << name;
        }
    }
}

TEST(HostLanguage, EnglishCaptionsFitTheFixedLayoutsAtTheWindowsFont) {
    ChineseAfterwards reset;
    QTemporaryDir dir;
    host::TForm1 w(dir.path() + "/");
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    chooseLanguage(w, 1);
    ASSERT_EQ(gui::language(), "en");
    expectCaptionsFit(*w.TabSheet1, "main page:");
    expectCaptionsFit(*w.TabSheet2, "test page:");
    host::TfrDataLink link(&w);
    link.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&link));
    link.cbKind->setFocus();
    for (int kind = 0; kind < link.cbKind->count(); ++kind) {
        expectCaptionsFit(link, "connection dialog, " + link.cbKind->currentText().toStdString() + ":");
        QTest::keyClick(link.cbKind, Qt::Key_Down);
    }
    TfrUser user;
    user.Panel1->show(); // the discount, shown where the window offers it
    expectCaptionsFit(user, "user dialog:");
    w.close();
}

// Every text of the window with where and how large it is drawn, and every typed text.
QStringList everyText(QWidget& w) {
    QStringList out{w.windowTitle()};
    const auto where = [](QWidget* c) {
        const QRect g = c->geometry();
        return QString(" @%1,%2 %3x%4 %5px [%6] %7")
            .arg(g.x())
            .arg(g.y())
            .arg(g.width())
            .arg(g.height())
            .arg(QFontInfo(c->font()).pixelSize())
            .arg(c->toolTip())
            .arg(c->isEnabled());
    };
    for (QLabel* l : w.findChildren<QLabel*>())
        out << l->text() + where(l);
    for (QAbstractButton* b : w.findChildren<QAbstractButton*>())
        if (!qobject_cast<QTabBar*>(b->parent())) // its scroll arrows are placed only when needed
            out << b->text() + where(b);
    for (QGroupBox* g : w.findChildren<QGroupBox*>())
        out << g->title() + where(g);
    for (QTabWidget* t : w.findChildren<QTabWidget*>())
        for (int i = 0; i < t->count(); ++i)
            out << t->tabText(i) + QString::number(t->isTabVisible(i)) + where(t) +
                       QString::number(t->tabBar()->tabRect(i).width());
    for (QLineEdit* e : w.findChildren<QLineEdit*>())
        out << e->text();
    for (QPlainTextEdit* m : w.findChildren<QPlainTextEdit*>())
        out << m->toPlainText();
    for (QComboBox* c : w.findChildren<QComboBox*>())
        out << c->currentText() + where(c);
    return out;
}

// The main window changes language at once, keeping what was typed, chosen and connected; back
// in Chinese every text, size and font is what it was.
TEST_P(English, TheMainWindowSwitchesAtOnceAndKeepsWhatWasTyped) {
    QTemporaryDir dir;
    for (const char* help : {"Readme.txt", "Readme.en.txt"})
        QFile::copy(sourceDir() + "/host/" + help, dir.path() + "/" + help);
    vardex::DisconnectDatabase(); // the window opens the session itself
    host::TForm1 w(dir.path() + "/");
    w.Memo1->setPlainText(store->connectionString());
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QTest::mouseClick(w.btnlink, Qt::LeftButton);
    ASSERT_TRUE(w.IsConnected);
    showPage(w, w.TabSheet2);
    QTest::keyClicks(w.Edit4, "clerk");
    QTest::keyClicks(w.Edit5, "pw");
    w.Memo2->selectAll();
    QTest::keyClicks(w.Memo2, "typed 'message' \\ here");
    QTest::mouseClick(w.SpeedButton4, Qt::LeftButton);
    QTest::keyClicks(w.Edit9, "clerk");
    QTest::keyClicks(w.Edit10, "7");
    QTest::mouseClick(w.SpeedButton5, Qt::LeftButton);
    QTest::mouseClick(w.chkwindow, Qt::LeftButton); // shows the attempts panel
    const QString login = w.labrt->text(), right = w.labrt2->text();
    ASSERT_TRUE(login.startsWith(QString::fromUtf8("返回值: "))) << login.toStdString();
    showPage(w, w.TabSheet1);
    QTest::keyClicks(w.Edit1, "user\\"); // the connection's own fields, typed after connecting
    w.Edit8->selectAll();
    QTest::keyClicks(w.Edit8, "2026-06-15");
    const QStringList chinese = everyText(w);

    chooseLanguage(w, 1);
    EXPECT_EQ(gui::language(), "en");
    EXPECT_EQ(w.windowTitle(), "Permission Management Tool");
    EXPECT_EQ(w.PageControl1->tabText(0), "Connect to Database");
    EXPECT_EQ(w.PageControl1->tabText(1), "Maintenance and Tests");
    EXPECT_EQ(w.btnlink->text(), "Connect");
    EXPECT_EQ(w.GroupBox1->title(), "Login test");
    EXPECT_EQ(w.SpeedButton5->text(), "Test Right");
    EXPECT_EQ(w.statusText(), "Connected to the database");
    EXPECT_EQ(w.labrt->text(), "Result:" + login.mid(4));
    EXPECT_EQ(w.labrt2->text(), "Result:" + right.mid(4));
    EXPECT_EQ(w.Memo3->toPlainText(), "Permission denied!");      // the built-in text follows
    EXPECT_EQ(w.Memo2->toPlainText(), "typed 'message' \\ here"); // a typed one stays
    EXPECT_TRUE(w.Memo4->toPlainText().startsWith("Permission Management Tool: how to use it"))
        << w.Memo4->toPlainText().left(40).toStdString();
    // What was typed, the enabled buttons and the shown pages are compared in Chinese below.
    EXPECT_TRUE(w.IsConnected);
    EXPECT_TRUE(w.Panel1->isVisibleTo(w.GroupBox1));
    EXPECT_EQ(w.PageControl1->currentWidget(), w.TabSheet1);
    // Longer captions are fitted into the room the Chinese ones leave.
    EXPECT_LE(QFontMetrics(w.chktran->font()).horizontalAdvance(w.chktran->text()), 80);
    if (const QString shots = qEnvironmentVariable("VARDEX_SCREENSHOT_DIR"); !shots.isEmpty()) {
        QTest::qWait(150);
        w.grab().save(shots + "/main-switched.png");
        showPage(w, w.TabSheet2);
        QTest::qWait(150);
        w.grab().save(shots + "/panels-switched.png");
        showPage(w, w.TabSheet1);
    }

    chooseLanguage(w, 0);
    EXPECT_EQ(gui::language(), "zh");
    const QStringList back = everyText(w);
    ASSERT_EQ(back.size(), chinese.size());
    for (int i = 0; i < back.size(); ++i)
        EXPECT_EQ(back[i], chinese[i]);
    QTest::mouseClick(w.btndk, Qt::LeftButton);
    EXPECT_EQ(w.statusText(), QString::fromUtf8("数据库尚未连接"));
    // Chosen by the library's own call: the window and its language box follow on the event.
    ASSERT_EQ(VardexSetLanguage("en"), 0);
    QTest::qWait(50);
    EXPECT_EQ(w.statusText(), "Not connected to a database");
    EXPECT_EQ(w.cbLanguage->currentText(), "English");
    w.close();
}

// Registered a second time with VARDEX_LANG=en: the library reads it at its first call, and a
// host setting still overrides it.
TEST(EnvironmentLanguage, ReadAtTheFirstCall) {
    if (qEnvironmentVariable("VARDEX_LANG") != "en")
        GTEST_SKIP() << "run with VARDEX_LANG=en (the test_i18n_environment entry)";
    ClearLogs(""); // any call reads it (without a session this one then fails)
    EXPECT_EQ(gui::language(), "en");
    QTemporaryDir dir;
    QFile f(dir.path() + "/cnsetting.ini");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[setting]\r\nlanguage=zh\r\n");
    f.close();
    host::TForm1 w(dir.path() + "/");
    EXPECT_EQ(w.windowTitle(), QString::fromUtf8("权限管理应用工具"));
    EXPECT_EQ(gui::language(), "zh");
}

// ---------------------------------------------------------------------------------------------
// Pictures of every window for the documentation (docs/screenshots/take.sh): skipped unless
// VARDEX_SCREENSHOT_DIR names a folder. VARDEX_SCREENSHOT_LANG chooses the language (en).

class Screenshots : public SessionStore {
  protected:
    void prepareStore() override {
        const std::pair<int, const char*> items[] = {
            {1000, "System"},   {1001, "User maintenance"}, {1002, "Backup"},
            {2000, "Sales"},    {2001, "New order"},        {2002, "Returns"},
            {3000, "Accounts"}, {3001, "Vouchers"},         {3002, "Reports"}};
        for (const auto& [id, name] : items)
            db->execute(QString("INSERT INTO qx_Name (qxID, qxName) VALUES (%1, '%2')").arg(id).arg(name));
        auto add = [&](const QString& id, const QString& name, int zuid, const QString& allow) {
            db->execute(
                QString("INSERT INTO qx_user (userID, userName, userPwd, startTime, endTime, Allow, "
                        "AllowZekou, zuid) VALUES ('%1','%2','','2026-01-01','2026-12-31','%3',10,%4)")
                    .arg(id, name, allow)
                    .arg(zuid));
            if (zuid < 1000 || zuid >= 10000)
                db->execute("Exec qxAddUser '" + id + "'");
        };
        add("Finance", "Finance", 1, "T");
        add("Sales", "Sales", 2, "T");
        add("wangf", "Wang Fang", 1001, "T");
        add("liq", "Li Qiang", 1001, "F");
        add("zhangw", "Zhang Wei", 1002, "T");
        add("admin", "Administrator", 10000, "T");
        for (const char* zu : {"Auditing", "Administration", "Selling"})
            db->execute(QString("Exec qxAddzuName '%1'").arg(zu));
        for (int item : {3000, 3001, 3002})
            db->execute(QString("Exec qxUpDateAllows 'Auditing',%1,'T'").arg(item));
        db->execute("Exec qxUpDateAllows 'Selling',2001,'T'");
        db->execute("Exec qx_user_zu_changed 'Finance','Auditing','T'");
        db->execute("Exec qx_user_zu_changed 'Sales','Selling','T'");
    }
    void save(QWidget* w, const QString& name) {
        QTest::qWait(150);
        EXPECT_TRUE(w->grab().save(dir + "/" + name)) << name.toStdString();
    }
    // Runs a call that opens a modal window, pictures the window (after `prepare`) and closes it.
    void shootModal(const QString& name, const std::function<void()>& call,
                    const std::function<void(QWidget*)>& prepare = {}) {
        ModalDriver driver([&](QWidget* w) {
            if (prepare)
                prepare(w);
            save(w, name);
            w->close();
        });
        call();
        EXPECT_TRUE(driver.acted()) << name.toStdString();
    }
    QString dir = qEnvironmentVariable("VARDEX_SCREENSHOT_DIR");
    ChineseAfterwards reset;
};

TEST_P(Screenshots, EveryWindow) {
    if (dir.isEmpty())
        GTEST_SKIP() << "set VARDEX_SCREENSHOT_DIR to take the screenshots";
    QDir().mkpath(dir);
    QString language = qEnvironmentVariable("VARDEX_SCREENSHOT_LANG");
    ASSERT_EQ(VardexSetLanguage(language.isEmpty() ? "en" : language.toLatin1().constData()), 0);

    QTemporaryDir hostDir;
    QFile readme(hostDir.path() + "/Readme.txt");
    QFile::copy(sourceDir() + "/host/Readme.txt", readme.fileName());
    QFile::copy(sourceDir() + "/host/Readme.en.txt", hostDir.path() + "/Readme.en.txt");
    {
        host::TForm1 w(hostDir.path() + "/");
        w.Memo1->setPlainText(store->connectionString());
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        save(&w, "main.png");
        shootModal("connect.png", [&] { QTest::mouseClick(w.SpeedButton2, Qt::LeftButton); });
        // A PostgreSQL string: its password masked in the box, and the dialog's PostgreSQL page.
        const QString embedded = w.connectionText();
        w.Memo1->setPlainText(
            "Provider=PostgreSQL;Host=pg1,pg2;Port=5432,5433;Database=perm;SSL Mode=verify-full;"
            "Target Session Attrs=read-write;User ID=vardex;Password=secret");
        save(&w, "main-postgresql.png");
        shootModal("connect-postgresql.png", [&] { QTest::mouseClick(w.SpeedButton2, Qt::LeftButton); });
        w.Memo1->setPlainText(embedded);
        w.PageControl1->setCurrentIndex(2);
        save(&w, "help.png");
        vardex::DisconnectDatabase(); // the host opens the session itself
        QTest::mouseClick(w.btnlink, Qt::LeftButton);
        ASSERT_TRUE(w.IsConnected);
        w.PageControl1->setCurrentWidget(w.TabSheet2);
        QTest::mouseClick(w.chkwindow, Qt::LeftButton); // shows the attempts box too
        save(&w, "panels.png");
        w.PageControl1->setCurrentWidget(w.TabSheet1);
        save(&w, "main-connected.png");
        QTest::mouseClick(w.btndk, Qt::LeftButton);
        w.close();
    }
    ASSERT_EQ(vardex::ConnectDatabase(store->connectionString(), "", "", "2026-06-15", ""), 0);
    char buffer[32] = {};
    char* ref = buffer;
    int32_t count = 3, shift = 2;
    shootModal("login.png", [&] { ShowLoginDialog(nullptr, "2026-06-15", &ref, &count, &shift, 0); });
    count = 30;
    shootModal("login-timed-shift.png",
               [&] { ShowLoginDialog(nullptr, "2026-06-15", &ref, &count, &shift, 3); });
    shootModal("repass.png", [&] { ShowChangePasswordDialog("wangf", "2026-06-15"); });
    shootModal("qxlist.png", [&] { ::EditRightList(1); });
    // The administration window with a user (and, with headItem, the second head item) chosen.
    const auto manager = [&](const QString& name, const QString& userId, bool headItem) {
        shootModal(
            name, [] { ::ShowRightManager(1, 1); },
            [&](QWidget* w) {
                auto* m = qobject_cast<Tfrmanager*>(w);
                m->dtl1->expandAll();
                for (QTreeWidgetItemIterator it(m->dtl1); *it; ++it)
                    if (m->dtl1->text(*it, "userID") == userId)
                        m->dtl1->setCurrentNode(*it);
                if (headItem && m->dtl3->topCount() > 1)
                    m->dtl3->setCurrentNode(m->dtl3->topNode(1));
            });
    };
    manager("manager.png", "wangf", false);
    manager("manager-group.png", "Finance", true);
    shootModal(
        "auditlog.png", [] { ::VardexShowAuditLog(); },
        [](QWidget* w) {
            auto* log = qobject_cast<TfrAuditLog*>(w);
            ASSERT_NE(log, nullptr);
            EXPECT_TRUE(QTest::qWaitFor([&] { return !log->tallying(); }, 10000));
        });
    {
        TfrUser u;
        u.Edit1->setText("liuy");
        u.Edit2->setText("Liu Yang");
        u.Edit3->setText("secret");
        u.Panel1->show();
        u.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&u));
        save(&u, "user.png");
    }
    {
        Tfrqxzu z;
        z.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&z));
        save(&z, "qxzu.png");
    }
    // The message boxes themselves, as the library shows them.
    VardexSetMessageHandler(nullptr, nullptr);
    shootModal("about.png", [] { ::ShowAbout(); });
    shootModal("box-refused.png", [] { ::CheckUserRight("liq", 2001, nullptr, VARDEX_SHOW_BUILTIN); });
    shootModal("box-login.png", [] { ::CheckUserLogin("wangf", "wrong", "", nullptr, VARDEX_SHOW_BUILTIN); });
    // An input error of the windows, as the name dialog shows it for an empty name.
    shootModal("box-error.png",
               [] { showMessage(Ui::tr("组名称不能为空!"), Ui::tr("错误"), dialogs::inputErrorBox()); });
    // The administration window's question on closing, with its three buttons.
    shootModal("box-question.png", [] {
        showMessage(Ui::tr("数据可能已经更改, 是否先保存数据再退出?"), Ui::tr("确认"),
                    mb::YesNoCancel | mb::IconQuestion);
    });
    installUnexpectedBoxGuard();
}

INSTANTIATE_TEST_SUITE_P(Backends, Screenshots, ::testing::Values(Backend::SQLite));

} // namespace
