#include "host/mainExe.h"

#include "capi/vardex.h"
#include "dialogs/dlgcommon.h"
#include "dialogs/language.h"
#include "host/datalink.h"
#include "host/formkit.h"
#include "library/auditlog.h"
#include "library/dmain.h"
#include "library/installer.h"
#include "library/securestore.h"
#include "library/uitext.h"
#include "platform/inifile.h"
#include "platform/msgservice.h"
#include "platform/sqldialect.h"
#include "platform/sysinfo.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDate>
#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QSqlDatabase>
#include <QStatusBar>
#include <QStringConverter>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace vardex::host {

namespace {

const char* const kSection = "setting";
const char* const kNotConnected = QT_TRANSLATE_NOOP("Ui", "数据库尚未连接");
const char* const kConnected = QT_TRANSLATE_NOOP("Ui", "已连接到数据库");
const char* const kCannotConnect =
    QT_TRANSLATE_NOOP("Ui", "可能有些参数设置错误,数据库不能连接成功,请重设或再试.");
const char* const kErrorCaption = QT_TRANSLATE_NOOP("Ui", "错误");

// Readme.txt is UTF-8 here; a copy saved on Windows in the Chinese code page is read too.
QString decodeText(const QByteArray& raw) {
    QByteArray bytes = raw;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    QStringDecoder utf8(QStringConverter::Utf8);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    QStringDecoder gbk("GBK");
    if (gbk.isValid())
        return gbk.decode(bytes);
    return QString::fromLocal8Bit(bytes);
}

} // namespace

TForm1::TForm1(const QString& appPath, QWidget* parent) : QMainWindow(parent) {
    // The language comes first: every text below is made in it.
    QString folder = appPath.isEmpty() ? applicationFolder() : appPath;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    applySettingsLanguage(settingsFilePath(folder));
    setObjectName(QStringLiteral("Form1"));
    // Single fixed border, system menu and minimize box only.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    QFont f;
    f.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Micro Hei")});
    f.setPixelSize(12);
    setFont(f);
    setFixedSize(536, 348);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    setCentralWidget(PageControl1);
    buildFirstPage();
    buildSecondPage();
    buildThirdPage();
    PageControl1->setCurrentWidget(TabSheet1);
    setSecondPageShown(false);

    sbar = new QStatusBar(this);
    sbar->setObjectName(QStringLiteral("sbar"));
    sbar->setSizeGripEnabled(false);
    m_status = new QLabel(sbar);
    sbar->addWidget(m_status, 1);
    setStatusBar(sbar);
    setStatus(kNotConnected);
    retranslateUi();

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }

    AppPath = appPath;
    FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::buildFirstPage() {
    TabSheet1 = new QWidget;
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    PageControl1->addTab(TabSheet1, QString());
    QWidget* p = TabSheet1;

    SpeedButton2 = captioned(makeButton(p, "SpeedButton2", QString(), QRect(14, 10, 110, 26)),
                             QT_TRANSLATE_NOOP("Ui", "获取连接参数"));
    SpeedButton6 = captioned(makeButton(p, "SpeedButton6", QString(), QRect(434, 10, 80, 26)),
                             QT_TRANSLATE_NOOP("Ui", "关于"));

    Memo1 = new QPlainTextEdit(p);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setGeometry(14, 42, 500, 62);
    QPalette menu = Memo1->palette();
    menu.setColor(QPalette::Base, menu.color(QPalette::Window)); // menu colour: it is not typed into
    Memo1->setPalette(menu);

    // The languages are named in their own script, so each can be found whatever is shown.
    auto* languageLabel = captioned(new QLabel(p), QT_TRANSLATE_NOOP("Ui", "界面语言:"));
    languageLabel->setGeometry(200, 12, 134, 24);
    languageLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    cbLanguage = new QComboBox(p);
    cbLanguage->setObjectName(QStringLiteral("cbLanguage"));
    cbLanguage->setGeometry(338, 12, 86, 24);
    cbLanguage->setFocusPolicy(Qt::NoFocus);
    cbLanguage->addItem(QStringLiteral("中文"), QStringLiteral("zh"));
    cbLanguage->addItem(QStringLiteral("English"), QStringLiteral("en"));
    cbLanguage->setCurrentIndex(cbLanguage->findData(gui::language()));
    languageLabel->setBuddy(cbLanguage);

    captioned(makeLabel(p, QString(), QPoint(14, 119)), QT_TRANSLATE_NOOP("Ui", "用户ID:"), Fit::Sized);
    Edit1 = makeEdit(p, "Edit1", QRect(104, 115, 150, 22));
    m_passwordLabel =
        captioned(makeLabel(p, QString(), QPoint(276, 119)), QT_TRANSLATE_NOOP("Ui", "密码:"), Fit::Sized);
    Edit2 = makeEdit(p, "Edit2", QRect(330, 115, 184, 22));
    captioned(makeLabel(p, QString(), QPoint(14, 149)), QT_TRANSLATE_NOOP("Ui", "密码加密因子:"), Fit::Sized);
    Edit3 = makeEdit(p, "Edit3", QRect(104, 145, 150, 22));
    Edit3->setText(QStringLiteral("KMPQ"));
    captioned(makeLabel(p, QString(), QPoint(14, 179)), QT_TRANSLATE_NOOP("Ui", "日期:"), Fit::Sized);
    Edit8 = makeEdit(p, "Edit8", QRect(104, 175, 150, 22));
    captioned(makeLabel(p, QString(), QPoint(262, 179)),
              QT_TRANSLATE_NOOP("Ui", "(格式为yyyy-MM-dd,为空时取计算机日期)"), Fit::Sized);

    btnlink = captioned(makeButton(p, "btnlink", QString(), QRect(104, 218, 100, 28)),
                        QT_TRANSLATE_NOOP("Ui", "连接数据库"));
    btndk = captioned(makeButton(p, "btndk", QString(), QRect(214, 218, 100, 28)),
                      QT_TRANSLATE_NOOP("Ui", "断开连接"));
    btndk->setEnabled(false);
    SpeedButton8 = captioned(makeButton(p, "SpeedButton8", QString(), QRect(324, 218, 100, 28)),
                             QT_TRANSLATE_NOOP("Ui", "清除LOG记录"));
    SpeedButton8->setEnabled(false);
    btnLog = captioned(makeButton(p, "btnLog", QString(), QRect(434, 218, 100, 28)),
                       QT_TRANSLATE_NOOP("Ui", "查看LOG记录"));
    btnLog->setEnabled(false);
    btnInport = captioned(makeButton(p, "btnInport", QString(), QRect(324, 218, 100, 28)),
                          QT_TRANSLATE_NOOP("Ui", "导入数据表"));
    setInstallEnabled(false);

    // Enter and Down move to the next box, Up to the previous one.
    for (QLineEdit* e : {Edit1, Edit2, Edit3, Edit8})
        e->installEventFilter(this);

    connect(SpeedButton2, &QPushButton::clicked, this, [this] { SpeedButton2Click(); });
    connect(SpeedButton6, &QPushButton::clicked, this, [this] { SpeedButton6Click(); });
    connect(btnlink, &QPushButton::clicked, this, [this] { btnlinkClick(); });
    connect(btndk, &QPushButton::clicked, this, [this] { btndkClick(); });
    connect(btnInport, &QPushButton::clicked, this, [this] { btnInportClick(); });
    connect(SpeedButton8, &QPushButton::clicked, this, [this] { SpeedButton8Click(); });
    connect(btnLog, &QPushButton::clicked, this, [this] { btnLogClick(); });
    connect(cbLanguage, qOverload<int>(&QComboBox::activated), this, [this] { cbLanguageChange(); });
    // Another connection string: the probe connection of the old one is of no use any more.
    connect(Memo1, &QPlainTextEdit::textChanged, this, [this] {
        const QString shown = Memo1->toPlainText();
        if (shown != displayedConnectionString(m_connectionString)) {
            // A new string (from the dialog or the settings file): kept as it is, shown masked.
            m_connectionString = shown;
            const QString masked = displayedConnectionString(shown);
            if (masked != shown) {
                const QSignalBlocker quiet(Memo1);
                Memo1->setPlainText(masked);
            }
        }
        if (ADOConnection1.connected() && ADOConnection1.connectionString() != m_connectionString)
            closeProbe();
    });
}

void TForm1::buildThirdPage() {
    TabSheet3 = new QWidget;
    TabSheet3->setObjectName(QStringLiteral("TabSheet3"));
    PageControl1->addTab(TabSheet3, QString());
    Memo4 = new QPlainTextEdit(TabSheet3);
    Memo4->setObjectName(QStringLiteral("Memo4"));
    Memo4->setReadOnly(true);
    Memo4->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo4->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto* layout = new QVBoxLayout(TabSheet3);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(Memo4);
}

bool TForm1::secondPageShown() const {
    return PageControl1->isTabVisible(PageControl1->indexOf(TabSheet2));
}

void TForm1::setSecondPageShown(bool shown) {
    PageControl1->setTabVisible(PageControl1->indexOf(TabSheet2), shown);
}

QString TForm1::statusText() const {
    return m_status->text();
}

void TForm1::setStatus(const char* source) {
    m_statusSource = source;
    m_status->setText(Ui::tr(source));
}

void TForm1::retranslateUi() {
    if (!m_status)
        return; // still being built: the constructor calls this once everything is there
    setWindowTitle(Ui::tr("权限管理应用工具"));
    PageControl1->setTabText(PageControl1->indexOf(TabSheet1), Ui::tr("构建参数连接数据库"));
    PageControl1->setTabText(PageControl1->indexOf(TabSheet2), Ui::tr("权限管理维护和测试"));
    PageControl1->setTabText(PageControl1->indexOf(TabSheet3), Ui::tr("帮助"));
    for (const Caption& c : m_captions) {
        if (!c.widget)
            continue;
        const QString text = Ui::tr(c.source);
        if (c.room > 0)
            c.widget->setFont(QFont()); // back to the window's font before it is fitted again
        if (auto* label = qobject_cast<QLabel*>(c.widget))
            label->setText(text);
        else if (auto* button = qobject_cast<QAbstractButton*>(c.widget))
            button->setText(text);
        else if (auto* box = qobject_cast<QGroupBox*>(c.widget))
            box->setTitle(text);
        if (c.fit == Fit::Sized)
            c.widget->adjustSize();
        if (c.room > 0)
            dialogs::fitCaption(c.widget, c.room);
    }
    // The password caption ends where the Chinese one has room to, clear of the edit box at
    // 330; a wider one starts further left, up to the user ID box, and shrinks only past that.
    const int passwordEnd = 330 - dialogs::kCaptionClearance;
    m_passwordLabel->setFont(QFont());
    m_passwordLabel->adjustSize();
    dialogs::fitCaption(m_passwordLabel, passwordEnd - 258);
    m_passwordLabel->move(std::min(276, passwordEnd - m_passwordLabel->width()), m_passwordLabel->y());
    cbLanguage->setToolTip(Ui::tr("所选语言立即生效."));
    SpeedButton7->setToolTip(Ui::tr("请在出错信息框中输入新密码"));
    // The error-message boxes of the tests: a text still as it was put there follows the
    // language, a text someone typed stays.
    const auto follow = [](QPlainTextEdit* memo, QString* shown, const char* source) {
        const QString text = Ui::tr(source);
        if (shown->isNull() || memo->toPlainText() == *shown)
            memo->setPlainText(text);
        *shown = text;
    };
    follow(Memo2, &m_loginMessage, QT_TRANSLATE_NOOP("Ui", "用户登录不成功!"));
    follow(Memo3, &m_rightMessage, QT_TRANSLATE_NOOP("Ui", "您没有使用此功能的权限!"));
    showResults();
    if (m_statusSource)
        m_status->setText(Ui::tr(m_statusSource));
    // Chosen elsewhere (the library's own call): the choice on the first page follows.
    cbLanguage->setCurrentIndex(cbLanguage->findData(gui::language()));
    if (!m_helpLanguage.isNull() && m_helpLanguage != gui::language())
        loadHelp();
}

void TForm1::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange)
        retranslateUi();
    QMainWindow::changeEvent(event);
}

void TForm1::loadHelp() {
    m_helpLanguage = gui::language();
    QFile readme(helpFilePath(AppPath));
    if (!readme.open(QIODevice::ReadOnly)) {
        Memo4->clear();
        return;
    }
    QString text = decodeText(readme.readAll());
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    Memo4->setPlainText(text);
}

void TForm1::setInstallEnabled(bool enabled) {
    btnInport->setEnabled(enabled);
    btnInport->setVisible(enabled);
    SpeedButton8->setVisible(!enabled);
    btnLog->setVisible(!enabled);
}

void TForm1::closeProbe() {
    try {
        ADOConnection1.close();
    } catch (...) {
        // Closing only lets go of the connection; there is nothing to report.
    }
    setInstallEnabled(false);
}

void TForm1::warn(const QString& text) {
    showMessage(text, Ui::tr(kErrorCaption), mb::Ok | mb::IconWarning, this);
}

// The program's general error report: the error's own text, with the error icon.
void TForm1::showApplicationError(const QString& text) {
    showMessage(text, QStringLiteral("Vardex"), mb::Ok | mb::IconError, this);
}

void TForm1::FormCreate() {
    if (AppPath.isEmpty())
        AppPath = applicationFolder();
    if (!AppPath.endsWith(QLatin1Char('/')))
        AppPath += QLatin1Char('/');

    loadHelp();

    const QString file = settingsFile();
    const auto read = [&](const char* key) {
        return ini::getPrivateProfileString(QLatin1String(kSection), QLatin1String(key), QString(),
                                            ini::DefaultBufferSize, file);
    };
    // Only values that are there and not empty replace the built-in texts.
    const QString cnstr = read("cnstr");
    if (!cnstr.isEmpty())
        Memo1->setPlainText(cnstr);
    const QString userId = read("userID");
    if (!userId.isEmpty())
        Edit1->setText(userId);
    const QString userPwd = read("userPwd");
    if (!userPwd.isEmpty())
        Edit2->setText(userPwd);
    const QString enPwd = read("enPwd");
    if (!enPwd.isEmpty())
        Edit3->setText(enPwd);
    chktran->setChecked(ini::getPrivateProfileInt(QLatin1String(kSection), QStringLiteral("tran"), 0, file) ==
                        1);
    UpDown1->setValue(ini::getPrivateProfileInt(QLatin1String(kSection), QStringLiteral("UpDown1"), 0, file));
    UpDown2->setValue(ini::getPrivateProfileInt(QLatin1String(kSection), QStringLiteral("UpDown2"), 0, file));

    const QString today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    Edit6->setText(today);
    Edit8->setText(today);
}

void TForm1::applySettingsLanguage(const QString& file) {
    const QString code = ini::getPrivateProfileString(QLatin1String(kSection), QStringLiteral("language"),
                                                      QString(), ini::DefaultBufferSize, file)
                             .trimmed()
                             .toLower();
    // A value this program does not know leaves the choice to VARDEX_LANG, else Chinese.
    if (code.isEmpty() || !gui::setLanguage(code))
        gui::applyEnvironmentLanguage();
}

void TForm1::cbLanguageChange() {
    const QString code = cbLanguage->currentData().toString();
    if (code == gui::language())
        return;
    const bool changed = gui::setLanguage(code);
    // This window follows at once (the application's language-change event would bring it too,
    // but only once the event loop runs again); a refused choice puts the box back.
    retranslateUi();
    if (!changed)
        return;
    // Kept at once, so the choice holds even when the program does not close normally.
    const QString file = settingsFile();
    if (!prepareSettingsFolder(file) ||
        !ini::writePrivateProfileString(QLatin1String(kSection), QStringLiteral("language"), code, file))
        warn(Ui::tr("设置无法保存到 %1").arg(file));
}

void TForm1::SpeedButton2Click() {
    QString text = m_connectionString;
    if (TfrDataLink::execute(this, text))
        Memo1->setPlainText(text);
}

void TForm1::SpeedButton6Click() {
    ::ShowAbout();
}

void TForm1::btnlinkClick() {
    const QString cnstr = m_connectionString;
    if (cnstr.isEmpty()) {
        warn(Ui::tr("请先取得数据库连接参数!"));
        return;
    }
    if (ADOConnection1.connected()) {
        // Left open by an earlier probe that found the tables missing: the same string reuses
        // it; another string cannot be set on an open connection.
        if (ADOConnection1.connectionString() != cnstr) {
            showApplicationError(Ui::tr("对象打开时,不允许操作."));
            return;
        }
    } else {
        ADOConnection1.setConnectionString(cnstr);
        try {
            ADOConnection1.openOrCreate(trimmedText(Edit1), trimmedText(Edit2));
        } catch (...) {
            // The reason is not shown: the message below covers every failure to open.
        }
    }
    if (!ADOConnection1.connected()) {
        warn(Ui::tr(kCannotConnect));
        return;
    }

    QStringList names;
    try {
        names = ADOConnection1.tableNames();
        names += ADOConnection1.database().tables(QSql::Views);
    } catch (const Error& e) {
        showApplicationError(e.message());
        return;
    }
    bool found = false;
    for (const QString& name : names)
        if (name.toLower() == QLatin1String("qx_user_qx")) {
            found = true;
            break;
        }
    if (found) {
        offerUpgrade();
        setSecondPageShown(true);
        ADOConnection1.close();
    } else {
        setInstallEnabled(true); // the connection stays open for the installer
    }

    const int rc =
        ::ConnectDatabase(local8(cnstr).constData(), local8(trimmedText(Edit1)).constData(),
                          local8(trimmedText(Edit2)).constData(), local8(trimmedText(Edit8)).constData(),
                          local8(trimmedText(Edit3)).constData());
    if (rc != VARDEX_OK) {
        warn(Ui::tr(kCannotConnect));
        return;
    }
    IsConnected = true;
    btnlink->setEnabled(false);
    btndk->setEnabled(true);
    SpeedButton8->setEnabled(true);
    btnLog->setEnabled(true);
    setStatus(kConnected);
}

void TForm1::btndkClick() {
    if (::DisconnectDatabase() == VARDEX_ERROR) {
        // The logout row could not be written: the session stays open, as does the window's state.
        showApplicationError(QString::fromLocal8Bit(::VardexLastError()));
        return;
    }
    IsConnected = false;
    closeProbe(); // the next connect probes again
    setSecondPageShown(false);
    setStatus(kNotConnected);
    btnlink->setEnabled(true);
    btndk->setEnabled(false);
    SpeedButton8->setEnabled(false);
    btnLog->setEnabled(false);
}

void TForm1::offerUpgrade() {
    // A store of an older version opens as it is; the operator may bring it to this program's
    // version first, with the steps vardex-cli upgrade runs, in one transaction. A store whose
    // version cannot be read here (a desktop's account on a secured store) is left to the CLI.
    StoreVersion found;
    try {
        found = storeVersion(ADOConnection1);
    } catch (const Error&) {
        return;
    }
    if (found.current())
        return;
    const QString question =
        Ui::tr("数据库是版本 %1, 本程序的版本是 %2. 现在升级数据库吗?").arg(found.version).arg(found.newest);
    if (showMessage(question, Ui::tr("升级数据库"), mb::YesNo | mb::IconQuestion, this) != mb::IdYes)
        return;
    try {
        upgradeStore(ADOConnection1, found);
    } catch (const Error& e) {
        showApplicationError(e.message());
        return;
    }
    showMessage(Ui::tr("数据库已升级到版本 %1.").arg(found.newest), Ui::tr("升级数据库"), mb::Ok, this);
}

void TForm1::btnInportClick() {
    // Only into the database shown, on the connection its probe opened.
    if (!ADOConnection1.connected() || ADOConnection1.connectionString() != m_connectionString) {
        closeProbe();
        warn(Ui::tr(kCannotConnect));
        return;
    }
    InstallOutcome outcome;
    try {
        outcome = runInstallScript(ADOConnection1, AppPath + QStringLiteral("Morlan.tmp"));
    } catch (const Error& e) {
        QFile::remove(AppPath + QStringLiteral("Morlan.tmp"));
        showApplicationError(e.message());
        return;
    }
    if (outcome.fileError) {
        showApplicationError(outcome.error);
        return;
    }
    if (!outcome.ok) {
        // Nothing stays applied on SQLite and PostgreSQL, the batches before the refused one do
        // on SQL Server; the operator fixes the database and runs the installer again on the
        // connection that stays open.
        showMessage(installFailureText(), Ui::tr("出错"), mb::Ok | mb::IconWarning, this);
        return;
    }
    setInstallEnabled(false);
    setSecondPageShown(true);
    ADOConnection1.close();
    showMessage(installSuccessText(), Ui::tr("导入数据表"), mb::Ok, this);
}

void TForm1::SpeedButton8Click() {
    // The whole log goes: the operator hears how much first and may keep it.
    qint64 before = 0;
    try {
        securestore::refuseOnDesktop(processSession(), "ClearLogs");
        before = logRowCount();
    } catch (const Error& e) {
        showApplicationError(e.message());
        return;
    }
    if (before == 0) {
        showMessage(Ui::tr("LOG记录是空的, 没有可清除的记录."), Ui::tr("清除LOG记录"),
                    mb::Ok | mb::IconInformation, this);
        return;
    }
    const QString question = Ui::tr("将清除全部 %1 条LOG记录, 清除后不能恢复. 确定要清除吗?").arg(before);
    if (showMessage(question, Ui::tr("询问"), mb::YesNo | mb::IconQuestion, this) != mb::IdYes)
        return;
    qint64 removed = 0;
    try {
        // Counted again at the moment of deleting: rows other desktops wrote while the question
        // was open go too. What stays after the delete was written after it.
        const qint64 atDelete = logRowCount();
        if (::ClearLogs("") == VARDEX_ERROR) {
            showApplicationError(QString::fromLocal8Bit(::VardexLastError()));
            return;
        }
        removed = std::max<qint64>(atDelete - logRowCount(), 0);
    } catch (const Error& e) {
        showApplicationError(e.message());
        return;
    }
    showMessage(Ui::tr("已清除 %1 条LOG记录.").arg(removed), Ui::tr("清除LOG记录"),
                mb::Ok | mb::IconInformation, this);
}

qint64 TForm1::logRowCount() {
    return audit::count(processSession().data().ADOcn, audit::Filter());
}

void TForm1::btnLogClick() {
    if (!IsConnected) {
        warn(Ui::tr("尚未连接数据库,请先连接数据库."));
        return;
    }
    if (::VardexShowAuditLog() == VARDEX_ERROR)
        showApplicationError(QString::fromLocal8Bit(::VardexLastError()));
}

void TForm1::FormClose() {
    if (m_closed)
        return;
    m_closed = true;
    if (btndk->isEnabled())
        btndkClick();
    const QString file = settingsFile();
    const QString section = QLatin1String(kSection);
    bool saved = prepareSettingsFolder(file);
    saved =
        saved && ini::writePrivateProfileString(section, QStringLiteral("cnstr"), m_connectionString, file);
    saved =
        saved && ini::writePrivateProfileString(section, QStringLiteral("userID"), trimmedText(Edit1), file);
    saved =
        saved && ini::writePrivateProfileString(section, QStringLiteral("userPwd"), trimmedText(Edit2), file);
    saved =
        saved && ini::writePrivateProfileString(section, QStringLiteral("enPwd"), trimmedText(Edit3), file);
    saved = saved && ini::writePrivateProfileString(
                         section, QStringLiteral("tran"),
                         chktran->isChecked() ? QStringLiteral("1") : QLatin1String(""), file);
    saved = saved && ini::writePrivateProfileString(section, QStringLiteral("UpDown1"),
                                                    QString::number(UpDown1->value()), file);
    saved = saved && ini::writePrivateProfileString(section, QStringLiteral("UpDown2"),
                                                    QString::number(UpDown2->value()), file);
    // The settings would otherwise be lost without a word.
    if (!saved)
        warn(Ui::tr("设置无法保存到 %1").arg(file));
    if (ADOConnection1.connected())
        ADOConnection1.close();
}

void TForm1::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        // The edit boxes that follow one another: the connection page's and each test's.
        const QList<QList<QLineEdit*>> chains{
            {Edit1, Edit2, Edit3, Edit8}, {Edit4, Edit5, Edit6}, {Edit9, Edit10}};
        const int key = static_cast<QKeyEvent*>(event)->key();
        for (const QList<QLineEdit*>& order : chains) {
            const int i = order.indexOf(qobject_cast<QLineEdit*>(watched));
            if (i < 0)
                continue;
            if ((key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Down) &&
                i + 1 < order.size()) {
                order[i + 1]->setFocus();
                return true;
            }
            if (key == Qt::Key_Up && i > 0) {
                order[i - 1]->setFocus();
                return true;
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace vardex::host
