#pragma once
// The host program's main window, Form1: keeps the connection settings in cnsetting.ini next to
// the executable, builds a connection string, probes the database for the permission tables,
// installs the store when they are missing, and opens and closes the library's session. Its
// second page (panels.cpp) opens the maintenance windows and tries every verification call.
#include "host/settingspath.h"
#include "platform/adodb.h"

#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <vector>

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QStatusBar;
class QTabWidget;

namespace vardex::host {

class TForm1 : public QMainWindow {
    Q_OBJECT
  public:
    // appPath: the folder that holds cnsetting.ini, Readme.txt and the installer's temporary
    // file, with a trailing separator; empty means the executable's folder.
    explicit TForm1(const QString& appPath = QString(), QWidget* parent = nullptr);
    ~TForm1() override;

    // Folder of the running executable, with a trailing separator; set once by FormCreate.
    QString AppPath;
    // True while a library session opened by this window is open.
    bool IsConnected = false;
    // The host's own connection: probes for the permission tables and carries the installer.
    AdoConnection ADOConnection1;

    // Handlers
    void FormCreate();
    void FormClose();
    void SpeedButton2Click(); // 获取连接参数
    void SpeedButton6Click(); // 关于
    void btnlinkClick();      // 连接数据库
    void btndkClick();        // 断开连接
    void btnInportClick();    // 导入数据表
    void SpeedButton8Click(); // 清除LOG记录, after saying how many rows go
    void btnLogClick();       // 查看LOG记录: the audit log window
    void cbLanguageChange();  // the language of the windows, kept in the settings

    // Handlers of the test and maintenance page
    void SpeedButton1Click(); // 权限项目维护
    void SpeedButton3Click(); // 权限管理
    void SpeedButton4Click(); // 登录测试
    void SpeedButton5Click(); // 权限测试
    void SpeedButton7Click(); // 更改用户密码
    void chkwindowClick();    // either "窗口" box

    QString settingsFile() const { return settingsFilePath(AppPath); }
    // The connection string in use, password included (Memo1 shows it masked).
    QString connectionText() const { return m_connectionString; }

    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QWidget* TabSheet3 = nullptr;
    QStatusBar* sbar = nullptr;

    // First page
    QPushButton* SpeedButton2 = nullptr;
    QPushButton* SpeedButton6 = nullptr;
    // Shows the connection string with its password masked; connectionText() is the string.
    QPlainTextEdit* Memo1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QLineEdit* Edit3 = nullptr;
    QLineEdit* Edit8 = nullptr;
    QPushButton* btndk = nullptr;
    QPushButton* btnlink = nullptr;
    QPushButton* btnInport = nullptr;
    QPushButton* SpeedButton8 = nullptr;
    QPushButton* btnLog = nullptr;
    QComboBox* cbLanguage = nullptr;

    // Second page: maintenance windows and the change-password test
    QPushButton* SpeedButton1 = nullptr;
    QPushButton* SpeedButton3 = nullptr;
    QCheckBox* chktran = nullptr;
    QCheckBox* chkwindow2 = nullptr;
    QPushButton* SpeedButton7 = nullptr;
    // The login test. A number box is a spin box (the up-down) whose edit carries the edit's name.
    QGroupBox* GroupBox1 = nullptr;
    QLineEdit* Edit4 = nullptr;
    QLineEdit* Edit5 = nullptr;
    QLineEdit* Edit6 = nullptr;
    QPlainTextEdit* Memo2 = nullptr;
    QSpinBox* UpDown1 = nullptr;
    QLineEdit* Edit7 = nullptr;
    QLabel* Label10 = nullptr;
    QCheckBox* chkwindow = nullptr;
    QFrame* Panel1 = nullptr;
    QSpinBox* UpDown3 = nullptr;
    QLineEdit* Edit12 = nullptr;
    QPushButton* SpeedButton4 = nullptr;
    QLabel* labrt = nullptr;
    // The right test
    QGroupBox* GroupBox2 = nullptr;
    QLineEdit* Edit9 = nullptr;
    QLineEdit* Edit10 = nullptr;
    QPlainTextEdit* Memo3 = nullptr;
    QSpinBox* UpDown2 = nullptr;
    QLineEdit* Edit11 = nullptr;
    QPushButton* SpeedButton5 = nullptr;
    QLabel* labrt2 = nullptr;

    // Third page
    QPlainTextEdit* Memo4 = nullptr;

    bool secondPageShown() const;
    QString statusText() const;

    // Puts every text of the window (title, pages, captions, tool tips, results, status, help)
    // into the language in force; what was typed or chosen stays as it is.
    void retranslateUi();

  protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Chooses the language from the settings file's "language" (zh or en), else VARDEX_LANG.
    static void applySettingsLanguage(const QString& file);
    void buildFirstPage();
    void buildSecondPage();
    void buildThirdPage();
    void setSecondPageShown(bool shown);
    // `source`: one of the untranslated status texts.
    void setStatus(const char* source);
    // A control whose caption is `source` in the language in force. Sized: a label that takes
    // the size of its text; room: the caption shrinks its font to fit that many pixels.
    enum class Fit { None, Sized };
    template <class W> W* captioned(W* widget, const char* source, Fit fit = Fit::None, int room = 0) {
        m_captions.push_back({widget, source, fit, room});
        return widget;
    }
    void loadHelp();
    void showResults();
    // The install button is shown while it is enabled, in the place of "清除LOG记录".
    void setInstallEnabled(bool enabled);
    // Closes the connection a probe left open for the installer and withdraws the installer,
    // so that it can never write into another database than the one shown.
    // On a store older than this program: says which version it found and offers the upgrade.
    void offerUpgrade();
    void closeProbe();
    // The rows of the audit log, counted by the library on the session's connection.
    static qint64 logRowCount();
    void warn(const QString& text);
    void showApplicationError(const QString& text);
    // A library call that failed instead of answering: its message goes to the general error
    // report and the test shows no result.
    void reportLibraryError();

    struct Caption {
        QPointer<QWidget> widget;
        const char* source;
        Fit fit;
        int room;
    };
    std::vector<Caption> m_captions;
    QString m_connectionString = QStringLiteral(""); // written to the settings even when empty
    // "密码:" of the first page: a wider caption takes the room left of it before it shrinks.
    QLabel* m_passwordLabel = nullptr;
    const char* m_statusSource = nullptr;
    // The number each test last answered, shown after "返回值:" (empty before the first test).
    QString m_loginResult;
    QString m_rightResult;
    // The built-in messages of the two tests as last shown, so that only an untouched one
    // follows the language.
    QString m_loginMessage;
    QString m_rightMessage;
    QString m_helpLanguage;
    QLabel* m_status = nullptr;
    bool m_closed = false;
};

} // namespace vardex::host
