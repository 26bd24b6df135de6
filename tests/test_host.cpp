// The host's main window: start-up with and without settings, connect, install, disconnect,
// close, the connection dialog, and every message with its caption and icon.
#include "capi/vardex.h"
#include "host/datalink.h"
#include "host/mainExe.h"
#include "library/dmain.h"
#include "library/installer.h"
#include "library/passwordpolicy.h"
#include "platform/inifile.h"
#include "tests/support/testsupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

using namespace vardex;
using namespace vardex::test;
using vardex::host::TForm1;
using vardex::host::TfrDataLink;

namespace {

const QString kCannotConnect = QStringLiteral("可能有些参数设置错误,数据库不能连接成功,请重设或再试.");
const uint32_t kWarning = mb::Ok | mb::IconWarning;

// Acts on the first modal window that appears. Should the action leave a modal window open,
// it is rejected after a while so that a broken test fails instead of hanging.
void whenModal(std::function<void(QWidget*)> act) {
    auto* poll = new QTimer;
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    auto acted = std::make_shared<bool>(false);
    QObject::connect(poll, &QTimer::timeout, [=] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!*acted && modal) {
            *acted = true;
            clock->restart();
            act(modal);
            return;
        }
        if (clock->elapsed() > 20000) {
            if (modal) {
                ADD_FAILURE() << "a modal window stayed open: " << modal->objectName().toStdString();
                if (auto* d = qobject_cast<QDialog*>(modal))
                    d->reject();
                return;
            }
            if (!*acted)
                ADD_FAILURE() << "no modal window appeared";
            poll->deleteLater();
        } else if (*acted && !modal) {
            poll->deleteLater();
        }
    });
    poll->start(20);
}

template <typename T> T* child(QObject* parent, const char* name) {
    T* c = parent->findChild<T*>(QLatin1String(name));
    EXPECT_NE(c, nullptr) << name;
    return c;
}

class HostBase {
  protected:
    QTemporaryDir dir;
    QString appPath = dir.path() + "/";
    QString iniFile = appPath + "cnsetting.ini";

    void putFile(const QString& name, const QByteArray& bytes) {
        QFile f(appPath + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QString setting(const char* key) {
        return ini::getPrivateProfileString("setting", key, "<none>", ini::DefaultBufferSize, iniFile);
    }
    // The state table's columns for one window.
    static void expectNotConnected(TForm1& w) {
        EXPECT_FALSE(w.IsConnected);
        EXPECT_TRUE(w.btnlink->isEnabled());
        EXPECT_FALSE(w.btndk->isEnabled());
        EXPECT_FALSE(w.SpeedButton8->isEnabled());
        EXPECT_EQ(w.statusText(), QStringLiteral("数据库尚未连接"));
    }
    static void expectSessionOpen(TForm1& w) {
        EXPECT_TRUE(w.IsConnected);
        EXPECT_FALSE(w.btnlink->isEnabled());
        EXPECT_TRUE(w.btndk->isEnabled());
        EXPECT_TRUE(w.SpeedButton8->isEnabled());
        EXPECT_EQ(w.statusText(), QStringLiteral("已连接到数据库"));
    }
    static void expectInstallButton(TForm1& w, bool enabled) {
        EXPECT_EQ(w.btnInport->isEnabled(), enabled);
        EXPECT_EQ(!w.btnInport->isHidden(), enabled); // shown exactly while it can be used
        EXPECT_EQ(w.SpeedButton8->isHidden(), enabled);
    }
};

class Host : public ::testing::Test, public HostBase {};

} // namespace

TEST_F(Host, StartsWithBuiltInValuesWithoutSettingsOrHelp) {
    TForm1 w(appPath);
    EXPECT_EQ(w.objectName(), "Form1");
    EXPECT_EQ(w.windowTitle(), QStringLiteral("权限管理应用工具"));
    EXPECT_EQ(w.AppPath, appPath);
    EXPECT_EQ(w.PageControl1->count(), 3);
    EXPECT_EQ(w.PageControl1->tabText(0), QStringLiteral("构建参数连接数据库"));
    EXPECT_EQ(w.PageControl1->tabText(1), QStringLiteral("权限管理维护和测试"));
    EXPECT_EQ(w.PageControl1->tabText(2), QStringLiteral("帮助"));
    EXPECT_EQ(w.PageControl1->currentWidget(), w.TabSheet1);
    EXPECT_FALSE(w.secondPageShown());
    EXPECT_TRUE(w.Memo1->toPlainText().isEmpty());
    EXPECT_TRUE(w.Memo1->isReadOnly());
    EXPECT_TRUE(w.Edit1->text().isEmpty());
    EXPECT_TRUE(w.Edit2->text().isEmpty());
    EXPECT_EQ(w.Edit2->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(w.Edit3->text(), "KMPQ");
    const QString today = QDate::currentDate().toString("yyyy-MM-dd");
    EXPECT_EQ(w.Edit8->text(), today);
    EXPECT_EQ(w.Edit6->text(), today);
    EXPECT_FALSE(w.chktran->isChecked());
    EXPECT_EQ(w.UpDown1->value(), 0);
    EXPECT_EQ(w.UpDown2->value(), 0);
    EXPECT_TRUE(w.Memo4->toPlainText().isEmpty());
    expectNotConnected(w);
    expectInstallButton(w, false);
    EXPECT_EQ(w.btnInport->text(), QStringLiteral("导入数据表"));
    EXPECT_EQ(w.SpeedButton8->text(), QStringLiteral("清除LOG记录"));
    EXPECT_EQ(w.SpeedButton2->text(), QStringLiteral("获取连接参数"));
    EXPECT_EQ(w.size(), QSize(536, 348));
    EXPECT_FALSE(QFile::exists(iniFile)); // nothing is written at start
}

TEST_F(Host, StartsFromSettingsWrittenOnWindowsAndShowsTheHelpText) {
    putFile("cnsetting.ini", "[SETTING]\r\nCNSTR=  Provider=SQLite;Data Source=/tmp/x y.db  \r\nuserid=sa\r\n"
                             "userPwd=\r\nenPwd=\r\ntran=1\r\nUpDown1=2\r\nUpDown2=9\r\n");
    putFile("Readme.txt", QStringLiteral("第一行\r\n第二行\r\n").toUtf8());
    TForm1 w(appPath);
    EXPECT_EQ(w.Memo1->toPlainText(), "Provider=SQLite;Data Source=/tmp/x y.db");
    EXPECT_EQ(w.Edit1->text(), "sa");
    EXPECT_TRUE(w.Edit2->text().isEmpty());
    EXPECT_EQ(w.Edit3->text(), "KMPQ"); // an empty value leaves the built-in key
    EXPECT_TRUE(w.chktran->isChecked());
    EXPECT_EQ(w.UpDown1->value(), 2);
    EXPECT_EQ(w.UpDown2->value(), 2); // the up-down's range holds it
    EXPECT_EQ(w.Memo4->toPlainText(), QStringLiteral("第一行\n第二行\n"));
}

TEST_F(Host, ConnectWithoutAConnectionStringAsksForOne) {
    TForm1 w(appPath);
    MessageRecorder rec;
    w.btnlinkClick();
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].text, QStringLiteral("请先取得数据库连接参数!"));
    EXPECT_EQ(rec.boxes[0].caption, QStringLiteral("错误"));
    EXPECT_EQ(rec.boxes[0].type, kWarning);
    EXPECT_TRUE(rec.boxes[0].hasOwner);
    expectNotConnected(w);
    EXPECT_FALSE(w.ADOConnection1.connected());
}

TEST_F(Host, BadConnectionStringsGiveOneMessageAndChangeNothing) {
    TForm1 w(appPath);
    for (const QString& bad :
         {QStringLiteral("Provider=Nonsense;x=1"), QStringLiteral(";;;===;\"unclosed"),
          QStringLiteral("Provider=SQLite;Data Source=") + appPath + "no/such/dir/a.db",
          QStringLiteral("Provider=PostgreSQL;Host=127.0.0.1;Port=1;Database=x"), QStringLiteral("   ")}) {
        w.Memo1->setPlainText(bad);
        MessageRecorder rec;
        w.btnlinkClick();
        ASSERT_EQ(rec.boxes.size(), 1u) << bad.toStdString();
        EXPECT_EQ(rec.boxes[0].text, kCannotConnect);
        EXPECT_EQ(rec.boxes[0].caption, QStringLiteral("错误"));
        EXPECT_EQ(rec.boxes[0].type, kWarning);
        expectNotConnected(w);
        expectInstallButton(w, false);
        EXPECT_FALSE(w.secondPageShown());
        EXPECT_FALSE(w.ADOConnection1.connected());
    }
}

TEST_F(Host, EnterAndDownMoveToTheNextBoxAndUpToThePrevious) {
    TForm1 w(appPath);
    w.show();
    QApplication::setActiveWindow(&w);
    w.Edit1->setFocus();
    const auto press = [](QWidget* target, int key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    };
    press(w.Edit1, Qt::Key_Return);
    EXPECT_TRUE(w.Edit2->hasFocus());
    press(w.Edit2, Qt::Key_Down);
    EXPECT_TRUE(w.Edit3->hasFocus());
    press(w.Edit3, Qt::Key_Up);
    EXPECT_TRUE(w.Edit2->hasFocus());
    EXPECT_EQ(w.btnlink->focusPolicy(), Qt::NoFocus);
}

TEST_F(Host, AboutShowsTheLibrarysBox) {
    TForm1 w(appPath);
    MessageRecorder rec;
    w.SpeedButton6Click();
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].caption, aboutCaption());
    EXPECT_EQ(rec.boxes[0].type, mb::Ok);
    EXPECT_FALSE(rec.boxes[0].hasOwner);
}

TEST_F(Host, CloseWritesEverySettingAndKeepsTheRestOfTheFile) {
    putFile("cnsetting.ini", "[other]\r\nkeep=1\r\n[setting]\r\ncnstr=old\r\nmine=stays\r\n");
    {
        TForm1 w(appPath);
        w.Memo1->setPlainText("  Provider=SQLite;Data Source=/a b.db  ");
        w.Edit1->setText("  sa\t");
        w.Edit2->setText(" pw ");
        w.Edit3->setText(" key ");
        w.chktran->setChecked(false);
        w.UpDown1->setValue(1);
        w.UpDown2->setValue(2);
        w.close();
    }
    QFile f(iniFile);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray raw = f.readAll();
    EXPECT_TRUE(raw.startsWith("[other]\r\nkeep=1\r\n[setting]\r\n"));
    EXPECT_TRUE(raw.contains("cnstr=  Provider=SQLite;Data Source=/a b.db  \r\n")); // untrimmed
    EXPECT_TRUE(raw.contains("mine=stays\r\n"));
    EXPECT_EQ(setting("userID"), "sa");
    EXPECT_EQ(setting("userPwd"), "pw");
    EXPECT_EQ(setting("enPwd"), "key");
    EXPECT_EQ(setting("tran"), "");
    EXPECT_EQ(setting("UpDown1"), "1");
    EXPECT_EQ(setting("UpDown2"), "2");
    // The next start reads them back.
    TForm1 again(appPath);
    EXPECT_EQ(again.Memo1->toPlainText(), "Provider=SQLite;Data Source=/a b.db");
    EXPECT_EQ(again.Edit3->text(), "key");
    EXPECT_FALSE(again.chktran->isChecked());
    EXPECT_EQ(again.UpDown2->value(), 2);
}

TEST_F(Host, ANewSettingsFileIsForItsOwnerOnlyAndCheckedTransactionReadsBack) {
    {
        TForm1 w(appPath);
        w.chktran->setChecked(true);
        w.FormClose();
    }
    namespace fs = std::filesystem;
    EXPECT_EQ(fs::status(iniFile.toStdString()).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(setting("tran"), "1");
    EXPECT_EQ(setting("cnstr"), "");
    EXPECT_EQ(setting("enPwd"), "KMPQ");
    TForm1 again(appPath);
    EXPECT_TRUE(again.chktran->isChecked());
}

TEST_F(Host, AnUnreadableSettingsFileIsNotAnErrorButAFailedSaveIsSaid) {
    ASSERT_TRUE(QDir().mkpath(iniFile)); // a folder in its place
    TForm1 w(appPath);
    EXPECT_EQ(w.Edit3->text(), "KMPQ");
    MessageRecorder boxes;
    w.close();
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_TRUE(boxes.boxes[0].text.contains(iniFile)) << boxes.boxes[0].text.toStdString();
    EXPECT_TRUE(QFileInfo(iniFile).isDir());
}

// ---------------------------------------------------------------------------------------------
// On every database kind

class HostOnStore : public ::testing::TestWithParam<Backend>, public HostBase {
  protected:
    void TearDown() override {
        // The library's one session must not outlive a test.
        if (hasDataModule())
            ::DisconnectDatabase();
    }
    static void connect(TForm1& w, const QString& cnstr) {
        w.Memo1->setPlainText(cnstr);
        w.btnlinkClick();
    }
};

TEST_P(HostOnStore, EmptyDatabaseOffersTheInstallerWhichOpensTheSecondPage) {
    TempDatabase db(GetParam());
    TForm1 w(appPath);
    {
        MessageRecorder rec;
        connect(w, db.connectionString());
        EXPECT_TRUE(rec.boxes.empty());
    }
    expectSessionOpen(w);
    expectInstallButton(w, true);
    EXPECT_FALSE(w.secondPageShown());
    EXPECT_TRUE(w.ADOConnection1.connected()); // kept open for the installer

    MessageRecorder rec;
    w.btnInportClick();
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].text, QStringLiteral("成功导入数据表! 您现在可以使用它的功能了."));
    EXPECT_EQ(rec.boxes[0].caption, QStringLiteral("导入数据表"));
    EXPECT_EQ(rec.boxes[0].type, mb::Ok);
    expectInstallButton(w, false);
    EXPECT_TRUE(w.secondPageShown());
    EXPECT_FALSE(w.ADOConnection1.connected());
    EXPECT_FALSE(QFile::exists(appPath + "Morlan.tmp"));
    expectSessionOpen(w); // the session is untouched by the install

    auto cn = openConnection(db.connectionString());
    EXPECT_TRUE(cn->tableNames().contains("qx_user_qx", Qt::CaseInsensitive));
    // The library works on the new store.
    EXPECT_EQ(::CheckUserLogin("nobody", "", "", "", 0), 4);

    w.btndkClick();
    expectNotConnected(w);
    EXPECT_FALSE(w.secondPageShown());
    EXPECT_FALSE(hasDataModule());
}

TEST_P(HostOnStore, InstallerStopsOnAnExistingItemTableAndChangesNothing) {
    TempDatabase db(GetParam());
    openConnection(db.connectionString())->execute("CREATE TABLE qx_Name (qxID int)");
    TForm1 w(appPath);
    connect(w, db.connectionString());
    expectInstallButton(w, true);

    MessageRecorder rec;
    w.btnInportClick();
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].text,
              QStringLiteral("可能与数据库已有的表名称冲突,导入已终止,请先检查原因再导入."));
    EXPECT_EQ(rec.boxes[0].caption, QStringLiteral("出错"));
    EXPECT_EQ(rec.boxes[0].type, kWarning);
    expectInstallButton(w, true);
    EXPECT_FALSE(w.secondPageShown());
    EXPECT_TRUE(w.ADOConnection1.connected());
    EXPECT_FALSE(QFile::exists(appPath + "Morlan.tmp"));
    auto cn = openConnection(db.connectionString());
    const QStringList tables = cn->tableNames();
    EXPECT_TRUE(tables.contains("qx_Name", Qt::CaseInsensitive));
    EXPECT_FALSE(tables.contains("qx_Name_Temp", Qt::CaseInsensitive));

    // Once the operator has cleared the way, the same button installs on the open connection.
    cn->execute("DROP TABLE qx_Name");
    MessageRecorder again;
    w.btnInportClick();
    ASSERT_EQ(again.boxes.size(), 1u);
    EXPECT_EQ(again.boxes[0].caption, QStringLiteral("导入数据表"));
    EXPECT_TRUE(w.secondPageShown());
}

TEST_P(HostOnStore, InstalledStoreShowsTheSecondPageAndCloseLogsTheUserOut) {
    TempStore store(GetParam());
    {
        auto cn = openConnection(store.connectionString());
        cn->execute("Insert qx_user (zuid,userID,userName,userPwd,startTime,endTime,Allow) values "
                    "(10000,'clerk','clerk','','2000-01-01','2999-12-31','T')");
    }
    {
        TForm1 w(appPath);
        w.Edit3->setText("  KMPQ ");
        MessageRecorder rec;
        connect(w, store.connectionString());
        EXPECT_TRUE(rec.boxes.empty());
        expectSessionOpen(w);
        expectInstallButton(w, false);
        EXPECT_TRUE(w.secondPageShown());
        EXPECT_FALSE(w.ADOConnection1.connected());
        EXPECT_EQ(session().CipherKey, "KMPQ"); // passed trimmed
        ASSERT_EQ(::CheckUserLogin("clerk", "", "", "", 0), 0);
        w.close(); // disconnects (logout row) before the settings are written
        EXPECT_FALSE(hasDataModule());
    }
    auto cn = openConnection(store.connectionString());
    EXPECT_EQ(scalarInt(*cn, "select count(*) from qx_Logs where theLog = '用户退出登录'"), 1);
    EXPECT_EQ(setting("cnstr"), store.connectionString());
    // Later tests start with nobody logged in.
    session().CurrentUserID.clear();
    session().CurrentUserName.clear();
}

TEST_P(HostOnStore, AnOlderStoreOpensAndTheUpgradeIsOfferedWithTheVersionFound) {
    TempStore store(GetParam());
    auto cn = openConnection(store.connectionString());
    const int newest = newestStoreVersion(cn->dialect());
    // A store of the first releases: no policy tables, no version row.
    for (const char* t : {"vardex_meta", "vardex_settings", "vardex_lockout"})
        cn->execute(QString("DROP TABLE %1").arg(t));
    const QString question = QString("数据库是版本 1, 本程序的版本是 %1. 现在升级数据库吗?").arg(newest);
    {
        TForm1 w(appPath);
        MessageRecorder rec;
        rec.answers = {mb::IdNo};
        connect(w, store.connectionString());
        ASSERT_EQ(rec.boxes.size(), 1u);
        EXPECT_EQ(rec.boxes[0].text, question);
        EXPECT_EQ(rec.boxes[0].caption, "升级数据库");
        EXPECT_EQ(rec.boxes[0].type, mb::YesNo | mb::IconQuestion);
        expectSessionOpen(w); // it opens as it is
        EXPECT_TRUE(w.secondPageShown());
        EXPECT_FALSE(cn->tableNames().contains("vardex_meta", Qt::CaseInsensitive));
        w.btndkClick();
    }
    TForm1 w(appPath);
    MessageRecorder rec;
    rec.answers = {mb::IdYes};
    connect(w, store.connectionString());
    ASSERT_EQ(rec.boxes.size(), 2u);
    EXPECT_EQ(rec.boxes[0].text, question);
    EXPECT_EQ(rec.boxes[1].text, QString("数据库已升级到版本 %1.").arg(newest));
    expectSessionOpen(w);
    EXPECT_EQ(scalarInt(*cn, "select value from vardex_meta where name = 'schema.version'"), newest);
    EXPECT_EQ(scalarInt(*cn, "select count(*) from vardex_settings"), int(std::size(policy::kSettings)));
    w.btndkClick();
}

TEST_P(HostOnStore, PermissionTableIsFoundWhateverCaseTheDatabaseReports) {
    TempDatabase db(GetParam());
    openConnection(db.connectionString())->execute("CREATE TABLE \"QX_USER_QX\" (x int)");
    TForm1 w(appPath);
    connect(w, db.connectionString());
    EXPECT_TRUE(w.secondPageShown());
    expectInstallButton(w, false);
    w.btndkClick();
}

TEST_P(HostOnStore, DisconnectClosesTheProbeSoTheInstallerWritesOnlyIntoTheDatabaseShown) {
    TempDatabase db(GetParam());
    TForm1 w(appPath);
    connect(w, db.connectionString());
    expectInstallButton(w, true);
    w.btndkClick();
    expectNotConnected(w);
    expectInstallButton(w, false);
    EXPECT_FALSE(w.ADOConnection1.connected());

    // Another database without tables: probed anew, and the installer writes there only.
    TempDatabase other(Backend::SQLite);
    {
        MessageRecorder rec;
        connect(w, other.connectionString());
        EXPECT_TRUE(rec.boxes.empty());
    }
    expectSessionOpen(w);
    expectInstallButton(w, true);
    EXPECT_EQ(w.ADOConnection1.connectionString(), other.connectionString());
    {
        MessageRecorder rec;
        w.btnInportClick();
        ASSERT_EQ(rec.boxes.size(), 1u);
        EXPECT_EQ(rec.boxes[0].caption, QStringLiteral("导入数据表"));
    }
    EXPECT_TRUE(
        openConnection(other.connectionString())->tableNames().contains("qx_user_qx", Qt::CaseInsensitive));
    EXPECT_TRUE(
        openConnection(db.connectionString())->tableNames().filter("qx_", Qt::CaseInsensitive).isEmpty());

    // A new string while the installer is offered withdraws it.
    w.btndkClick();
    connect(w, db.connectionString());
    expectInstallButton(w, true);
    w.Memo1->setPlainText(other.connectionString());
    expectInstallButton(w, false);
    EXPECT_FALSE(w.ADOConnection1.connected());
    w.close();
    EXPECT_FALSE(hasDataModule());
}

TEST_P(HostOnStore, AScriptThatCannotBeExtractedIsReportedAndRunsNothing) {
    TempDatabase db(GetParam());
    TForm1 w(appPath);
    connect(w, db.connectionString());
    ASSERT_TRUE(QDir().mkpath(appPath + "Morlan.tmp")); // a folder where the temporary file goes
    MessageRecorder rec;
    w.btnInportClick();
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].type, mb::Ok | mb::IconError); // the program's general error report
    expectInstallButton(w, true);
    EXPECT_TRUE(w.ADOConnection1.connected());
    EXPECT_TRUE(
        openConnection(db.connectionString())->tableNames().filter("qx_", Qt::CaseInsensitive).isEmpty());
    w.btndkClick();
}

INSTANTIATE_TEST_SUITE_P(Backends, HostOnStore, VARDEX_BACKEND_PARAMS);

// ---------------------------------------------------------------------------------------------
// The connection dialog

TEST(DataLink, EveryKindRoundTripsItsConnectionString) {
    const QStringList strings{
        "Provider=SQLite;Data Source=/home/me/perm store.db",
        "Provider=PostgreSQL;Host=db.example;Port=5432;Database=perm;User ID=clerk;Password=\"s;cret\"",
        "Provider=PostgreSQL;Host=h;Database=perm;Connect Timeout=3;SSL Mode=disable",
        "Provider=SQLOLEDB;Data Source=srv;Port=1433;Initial Catalog=perm;Driver={ODBC Driver 18 for SQL "
        "Server};User ID=sa",
        "Provider=ODBC;Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=5432;Database=perm;User "
        "ID=u;Password=p",
        "Provider=ODBC;DSN=payroll"};
    const QList<TfrDataLink::Kind> kinds{TfrDataLink::KindSQLite,     TfrDataLink::KindPostgreSQL,
                                         TfrDataLink::KindPostgreSQL, TfrDataLink::KindSqlServer,
                                         TfrDataLink::KindOdbc,       TfrDataLink::KindOdbc};
    for (int i = 0; i < strings.size(); ++i) {
        TfrDataLink d;
        d.loadConnectionString(strings[i]);
        EXPECT_EQ(d.kind(), kinds[i]) << strings[i].toStdString();
        const QString out = d.connectionString();
        // Same pairs, so the same connection (the password with its ';' is quoted).
        EXPECT_EQ(ConnectionString::parse(out), ConnectionString::parse(strings[i])) << out.toStdString();
    }
    TfrDataLink d;
    d.loadConnectionString(strings[1]);
    EXPECT_EQ(d.edHost->text(), "db.example");
    EXPECT_EQ(d.edPassword->text(), "s;cret");
    // Keys only one kind understands are dropped when the kind changes.
    d.loadConnectionString(strings[2]);
    d.cbKind->setCurrentIndex(TfrDataLink::KindSqlServer);
    EXPECT_EQ(d.connectionString(), "Provider=SQLOLEDB;Data Source=h;Initial Catalog=perm");
}

TEST(DataLink, StringsItCannotReadOpenAnEmptyDialog) {
    for (const QString& bad : {QString("garbage"), QString(";;==;;"),
                               QString("Provider=Oracle;Data Source=x"), QString("\"\"\"{{{")}) {
        TfrDataLink d;
        d.loadConnectionString(bad);
        EXPECT_EQ(d.kind(), TfrDataLink::KindSQLite);
        EXPECT_TRUE(d.edFile->text().isEmpty());
    }
}

TEST(DataLink, TestButtonReportsWhetherTheConnectionOpens) {
    TempDatabase db(Backend::SQLite);
    openConnection(db.connectionString()); // the test button opens a store, never makes one
    TfrDataLink d;
    d.loadConnectionString(db.connectionString());
    MessageRecorder rec;
    d.btnTestClick();
    d.edFile->setText("/no/such/folder/x.db");
    d.btnTestClick();
    ASSERT_EQ(rec.boxes.size(), 2u);
    EXPECT_EQ(rec.boxes[0].text, QStringLiteral("测试连接成功."));
    EXPECT_EQ(rec.boxes[0].type, mb::Ok | mb::IconInformation);
    EXPECT_TRUE(rec.boxes[1].text.startsWith(QStringLiteral("测试连接失败: ")));
    EXPECT_EQ(rec.boxes[1].type, kWarning);
}

// The PostgreSQL page as typed into: several hosts with their ports, SSL Mode and Target Session
// Attrs chosen from the keyboard; OK gives the string, and the string opens the dialog as it was
// left. Hosts and ports that do not agree are refused with a message, the dialog staying open.
TEST(DataLink, ThePostgreSQLPageTakesSeveralHostsSslModeAndTargetSession) {
    struct Case {
        const char *host, *port, *ssl, *target, *expected;
    };
    const Case cases[] = {
        {"pg1, pg2", "5432,5433", "verify-full", "read-write",
         "Provider=PostgreSQL;Host=pg1,pg2;Port=5432,5433;Database=perm;SSL Mode=verify-full;"
         "Target Session Attrs=read-write;User ID=u;Password=p'w"},
        {"pg1:5432,pg2:5433", "", "verify-ca", "prefer-standby",
         "Provider=PostgreSQL;Host=pg1:5432,pg2:5433;Database=perm;SSL Mode=verify-ca;"
         "Target Session Attrs=prefer-standby;User ID=u;Password=p'w"},
        {"db", "5432", "", "", "Provider=PostgreSQL;Host=db;Port=5432;Database=perm;User ID=u;Password=p'w"},
        {"pg1,pg2,pg3", "5432,5433", "", "", nullptr},
        {"pg1:5432,pg2", "5433", "", "", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        TfrDataLink d;
        d.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
        d.cbKind->setFocus();
        QTest::keyClick(d.cbKind, Qt::Key_Down); // SQLite -> PostgreSQL
        ASSERT_EQ(d.kind(), TfrDataLink::KindPostgreSQL);
        ASSERT_TRUE(d.cbSslMode->isVisible() && d.cbTargetAttrs->isVisible());
        QTest::keyClicks(d.edHost, c.host);
        QTest::keyClicks(d.edPort, c.port);
        QTest::keyClicks(d.edDatabase, "perm");
        QTest::keyClicks(d.edUser, "u");
        QTest::keyClicks(d.edPassword, "p'w");
        d.cbSslMode->setFocus();
        QTest::keyClicks(d.cbSslMode, c.ssl); // a closed list selects the entry typed
        d.cbTargetAttrs->setFocus();
        QTest::keyClicks(d.cbTargetAttrs, c.target);
        MessageRecorder rec;
        QTest::mouseClick(d.btnOK, Qt::LeftButton);
        if (!c.expected) {
            ASSERT_EQ(rec.boxes.size(), 1u);
            EXPECT_EQ(rec.boxes[0].type, kWarning);
            EXPECT_TRUE(d.isVisible());
            continue;
        }
        EXPECT_TRUE(rec.boxes.empty());
        EXPECT_EQ(d.result(), QDialog::Accepted);
        EXPECT_EQ(d.connectionString(), c.expected);
        TfrDataLink again;
        again.loadConnectionString(c.expected);
        EXPECT_EQ(again.edHost->text(), QString(c.host).remove(' '));
        EXPECT_EQ(again.cbSslMode->currentText(), c.ssl);
        EXPECT_EQ(again.cbTargetAttrs->currentText(), c.target);
        EXPECT_EQ(again.connectionString(), c.expected);
    }
    // A value the choices do not hold is given back as it was; one chosen replaces it.
    TfrDataLink d;
    d.loadConnectionString("Provider=PostgreSQL;Host=h;SSL Mode=sometimes;target_session_attrs=Standby");
    EXPECT_EQ(d.cbSslMode->currentText(), "");
    EXPECT_EQ(d.cbTargetAttrs->currentText(), "standby");
    EXPECT_EQ(d.connectionString(),
              "Provider=PostgreSQL;Host=h;SSL Mode=sometimes;Target Session Attrs=standby");
    d.show();
    d.cbSslMode->setFocus();
    QTest::keyClicks(d.cbSslMode, "require");
    EXPECT_EQ(d.connectionString(),
              "Provider=PostgreSQL;Host=h;SSL Mode=require;Target Session Attrs=standby");
}

class HostDialog : public ::testing::Test, public HostBase {};

TEST_F(HostDialog, OkPutsTheNewStringInMemo1AndCancelLeavesItAlone) {
    TForm1 w(appPath);
    w.Memo1->setPlainText("Provider=PostgreSQL;Host=old;Database=perm");
    // Cancel: the dialog opened filled in from the current string.
    QString seenHost;
    whenModal([&](QWidget* modal) {
        seenHost = child<QLineEdit>(modal, "edHost")->text();
        child<QLineEdit>(modal, "edHost")->setText("changed");
        child<QPushButton>(modal, "btnCancel")->click();
    });
    w.SpeedButton2Click();
    EXPECT_EQ(seenHost, "old");
    EXPECT_EQ(w.Memo1->toPlainText(), "Provider=PostgreSQL;Host=old;Database=perm");

    // OK: another kind, and the result replaces the text.
    QString title;
    whenModal([&](QWidget* modal) {
        title = modal->windowTitle();
        child<QComboBox>(modal, "cbKind")->setCurrentIndex(TfrDataLink::KindSQLite);
        child<QLineEdit>(modal, "edFile")->setText(appPath + "store.db");
        child<QPushButton>(modal, "btnOK")->click();
    });
    w.SpeedButton2Click();
    EXPECT_EQ(title, QStringLiteral("获取连接参数"));
    EXPECT_EQ(w.Memo1->toPlainText(), "Provider=SQLite;Data Source=" + appPath + "store.db");

    // The string the dialog built connects.
    MessageRecorder rec;
    w.btnlinkClick();
    EXPECT_TRUE(rec.boxes.empty());
    EXPECT_TRUE(w.IsConnected);
    w.btndkClick();
}

// The connection string box shows the password masked, whatever key carries it; the settings
// file, the connection and the dialog opened again get it as it is.
TEST_F(HostDialog, TheShownStringMasksThePasswordAndTheSettingsKeepIt) {
    const QString secret = "v;p'w\\\"";
    const QString expected =
        ConnectionString::compose(
            {{"Provider", "PostgreSQL"}, {"Host", "db"}, {"User ID", "clerk"}, {"Password", secret}})
            .chopped(1);
    const QString masked = "Provider=PostgreSQL;Host=db;User ID=clerk;Password=********";
    {
        TForm1 w(appPath);
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        whenModal([&](QWidget* modal) {
            auto* kind = child<QComboBox>(modal, "cbKind");
            kind->setFocus();
            QTest::keyClick(kind, Qt::Key_Down);
            QTest::keyClicks(child<QLineEdit>(modal, "edHost"), "db");
            QTest::keyClicks(child<QLineEdit>(modal, "edUser"), "clerk");
            QTest::keyClicks(child<QLineEdit>(modal, "edPassword"), secret);
            QTest::mouseClick(child<QPushButton>(modal, "btnOK"), Qt::LeftButton);
        });
        QTest::mouseClick(w.SpeedButton2, Qt::LeftButton);
        EXPECT_EQ(w.Memo1->toPlainText(), masked);
        EXPECT_EQ(w.connectionText(), expected);
        QString seen;
        whenModal([&](QWidget* modal) {
            seen = child<QLineEdit>(modal, "edPassword")->text();
            QTest::mouseClick(child<QPushButton>(modal, "btnCancel"), Qt::LeftButton);
        });
        QTest::mouseClick(w.SpeedButton2, Qt::LeftButton);
        EXPECT_EQ(seen, secret);
        EXPECT_EQ(w.Memo1->toPlainText(), masked);
        w.close();
    }
    EXPECT_EQ(setting("cnstr"), expected);
    TForm1 again(appPath);
    EXPECT_EQ(again.Memo1->toPlainText(), masked);
    EXPECT_EQ(again.connectionText(), expected);
    for (const auto& [text, shown] : std::initializer_list<std::pair<QString, QString>>{
             {"Provider=ODBC;DSN=x;pwd={a;b};UID=u", "Provider=ODBC;DSN=x;pwd=********;UID=u"},
             {" Provider=SQLite;Data Source=/a;b.db ", " Provider=SQLite;Data Source=/a;b.db "},
             {"Provider=PostgreSQL;Host=h;Password=", "Provider=PostgreSQL;Host=h;Password="}}) {
        again.Memo1->setPlainText(text);
        EXPECT_EQ(again.Memo1->toPlainText(), shown);
        EXPECT_EQ(again.connectionText(), text);
    }
}
