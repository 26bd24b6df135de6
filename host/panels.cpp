// The main window's second page, "权限管理维护和测试": opens the library's maintenance windows
// and tries every verification call by hand, showing the call's result code beside its button.
// Nothing here writes to the store except through the library.
#include "capi/vardex.h"
#include "dialogs/dlgcommon.h"
#include "host/formkit.h"
#include "host/mainExe.h"
#include "library/uitext.h"
#include "platform/msgservice.h"

#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QRegularExpression>
#include <QTabWidget>

#include <vector>

namespace vardex::host {

namespace {

const char* const kErrorCaption = QT_TRANSLATE_NOOP("Ui", "错误");
const char* const kNotConnectedMessage = QT_TRANSLATE_NOOP("Ui", "尚未连接数据库,请先连接数据库.");
const char* const kUserIdEmpty = QT_TRANSLATE_NOOP("Ui", "用户ID不能为空!请重新输入.");
const char* const kResult = QT_TRANSLATE_NOOP("Ui", "返回值:");

// A number box: the spin box is the up-down control, its edit carries the edit box's name.
QSpinBox* makeNumberBox(QWidget* parent, const char* upDownName, const char* editName, int min, int max,
                        int value, const QRect& geometry, QLineEdit** edit) {
    auto* box = new QSpinBox(parent);
    box->setObjectName(QLatin1String(upDownName));
    box->setRange(min, max);
    box->setWrapping(false);
    box->setValue(value);
    box->setGeometry(geometry);
    *edit = box->findChild<QLineEdit*>();
    (*edit)->setObjectName(QLatin1String(editName));
    return box;
}

// A small multi-line text without word wrap.
QPlainTextEdit* makeMemo(QWidget* parent, const char* name, const QString& text, const QRect& geometry) {
    auto* m = new QPlainTextEdit(text, parent);
    m->setObjectName(QLatin1String(name));
    m->setLineWrapMode(QPlainTextEdit::NoWrap);
    m->setGeometry(geometry);
    return m;
}

QCheckBox* makeCheck(QWidget* parent, const char* name, const QString& caption, const QRect& geometry) {
    auto* c = new QCheckBox(caption, parent);
    c->setObjectName(QLatin1String(name));
    c->setGeometry(geometry);
    return c;
}

QLabel* makeResultLabel(QWidget* parent, const char* name, const QRect& geometry) {
    auto* l = new QLabel(Ui::tr(kResult), parent);
    l->setObjectName(QLatin1String(name));
    l->setGeometry(geometry);
    return l;
}

// A whole number in the signed 32-bit range, with an optional sign.
bool toInt32(const QString& text, int32_t* value) {
    static const QRegularExpression whole(QStringLiteral("^[+-]?[0-9]+$"));
    if (!whole.match(text).hasMatch())
        return false;
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok, 10);
    if (!ok || v < INT32_MIN || v > INT32_MAX)
        return false;
    *value = static_cast<int32_t>(v);
    return true;
}

} // namespace

void TForm1::buildSecondPage() {
    TabSheet2 = new QWidget;
    TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
    PageControl1->addTab(TabSheet2, QString());
    QWidget* p = TabSheet2;

    // The maintenance windows, the transaction box and the change-password test.
    // Longer captions of another language shrink into the room the Chinese ones leave.
    SpeedButton1 = captioned(makeButton(p, "SpeedButton1", QString(), QRect(6, 6, 96, 26)),
                             QT_TRANSLATE_NOOP("Ui", "权限项目维护"), Fit::None, 88);
    SpeedButton3 = captioned(makeButton(p, "SpeedButton3", QString(), QRect(106, 6, 80, 26)),
                             QT_TRANSLATE_NOOP("Ui", "权限管理"));
    chktran = captioned(makeCheck(p, "chktran", QString(), QRect(194, 8, 100, 22)),
                        QT_TRANSLATE_NOOP("Ui", "使用ADO事务"), Fit::None, 80);
    chkwindow2 = captioned(makeCheck(p, "chkwindow2", QString(), QRect(364, 8, 54, 22)),
                           QT_TRANSLATE_NOOP("Ui", "窗口"));
    SpeedButton7 = captioned(makeButton(p, "SpeedButton7", QString(), QRect(420, 6, 100, 26)),
                             QT_TRANSLATE_NOOP("Ui", "更改用户密码"));

    // The login test.
    GroupBox1 = captioned(new QGroupBox(p), QT_TRANSLATE_NOOP("Ui", "用户登录测试"));
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(6, 38, 262, 232);
    QWidget* g = GroupBox1;
    captioned(makeLabel(g, QString(), QPoint(8, 24)), QT_TRANSLATE_NOOP("Ui", "用户ID:"), Fit::Sized);
    Edit4 = makeEdit(g, "Edit4", QRect(66, 20, 186, 20));
    captioned(makeLabel(g, QString(), QPoint(8, 48)), QT_TRANSLATE_NOOP("Ui", "密码:"), Fit::Sized);
    Edit5 = makeEdit(g, "Edit5", QRect(66, 44, 186, 20)); // shown as typed
    captioned(makeLabel(g, QString(), QPoint(8, 72)), QT_TRANSLATE_NOOP("Ui", "日期:"), Fit::Sized);
    Edit6 = makeEdit(g, "Edit6", QRect(66, 68, 186, 20));
    captioned(makeLabel(g, QString(), QPoint(8, 96)), QT_TRANSLATE_NOOP("Ui", "出错信息:"), Fit::Sized);
    Memo2 = makeMemo(g, "Memo2", QString(), QRect(66, 92, 186, 36));
    captioned(makeLabel(g, QString(), QPoint(8, 138)), QT_TRANSLATE_NOOP("Ui", "出错处理:"), Fit::Sized);
    UpDown1 = makeNumberBox(g, "UpDown1", "Edit7", 0, 2, 0, QRect(66, 134, 52, 20), &Edit7);
    Label10 = captioned(makeLabel(g, QString(), QPoint(8, 160)),
                        QT_TRANSLATE_NOOP("Ui", "(0,自己处理,1,提供文本,3,程序处理)"), Fit::Sized);
    Label10->setObjectName(QStringLiteral("Label10"));
    chkwindow = captioned(makeCheck(g, "chkwindow", QString(), QRect(8, 180, 54, 22)),
                          QT_TRANSLATE_NOOP("Ui", "窗口"));
    // The attempts/seconds limit of the login dialog, shown only while chkwindow is checked.
    Panel1 = new QFrame(g);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameShape(QFrame::NoFrame);
    Panel1->setGeometry(66, 180, 186, 22);
    captioned(makeLabel(Panel1, QString(), QPoint(0, 4)), QT_TRANSLATE_NOOP("Ui", "测试次数或秒数:"),
              Fit::Sized);
    UpDown3 = makeNumberBox(Panel1, "UpDown3", "Edit12", 3, 180, 3, QRect(100, 1, 60, 20), &Edit12);
    Panel1->hide();
    SpeedButton4 = captioned(makeButton(g, "SpeedButton4", QString(), QRect(8, 204, 80, 24)),
                             QT_TRANSLATE_NOOP("Ui", "登录测试"));
    labrt = makeResultLabel(g, "labrt", QRect(98, 208, 154, 16));

    // The right test.
    GroupBox2 = captioned(new QGroupBox(p), QT_TRANSLATE_NOOP("Ui", "权限检测测试"));
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    GroupBox2->setGeometry(274, 38, 250, 232);
    g = GroupBox2;
    captioned(makeLabel(g, QString(), QPoint(8, 24)), QT_TRANSLATE_NOOP("Ui", "用户ID:"), Fit::Sized);
    Edit9 = makeEdit(g, "Edit9", QRect(66, 20, 174, 20));
    captioned(makeLabel(g, QString(), QPoint(8, 48)), QT_TRANSLATE_NOOP("Ui", "权限ID:"), Fit::Sized);
    Edit10 = makeEdit(g, "Edit10", QRect(66, 44, 174, 20));
    captioned(makeLabel(g, QString(), QPoint(8, 72)), QT_TRANSLATE_NOOP("Ui", "出错信息:"), Fit::Sized);
    Memo3 = makeMemo(g, "Memo3", QString(), QRect(66, 68, 174, 36));
    captioned(makeLabel(g, QString(), QPoint(8, 114)), QT_TRANSLATE_NOOP("Ui", "出错处理:"), Fit::Sized);
    UpDown2 = makeNumberBox(g, "UpDown2", "Edit11", 0, 2, 0, QRect(66, 110, 52, 20), &Edit11);
    SpeedButton5 = captioned(makeButton(g, "SpeedButton5", QString(), QRect(8, 204, 80, 24)),
                             QT_TRANSLATE_NOOP("Ui", "权限测试"));
    labrt2 = makeResultLabel(g, "labrt2", QRect(98, 208, 142, 16));

    for (QLineEdit* e : {Edit4, Edit5, Edit6, Edit9, Edit10})
        e->installEventFilter(this);

    connect(SpeedButton1, &QPushButton::clicked, this, [this] { SpeedButton1Click(); });
    connect(SpeedButton3, &QPushButton::clicked, this, [this] { SpeedButton3Click(); });
    connect(SpeedButton4, &QPushButton::clicked, this, [this] { SpeedButton4Click(); });
    connect(SpeedButton5, &QPushButton::clicked, this, [this] { SpeedButton5Click(); });
    connect(SpeedButton7, &QPushButton::clicked, this, [this] { SpeedButton7Click(); });
    connect(chkwindow, &QCheckBox::clicked, this, [this] { chkwindowClick(); });
    connect(chkwindow2, &QCheckBox::clicked, this, [this] { chkwindowClick(); });
}

void TForm1::showResults() {
    labrt->setText(Ui::tr(kResult) + m_loginResult);
    labrt2->setText(Ui::tr(kResult) + m_rightResult);
}

void TForm1::reportLibraryError() {
    showApplicationError(QString::fromLocal8Bit(::VardexLastError()));
}

void TForm1::SpeedButton1Click() {
    if (!IsConnected) {
        warn(Ui::tr(kNotConnectedMessage));
        return;
    }
    if (::EditRightList(chktran->isChecked() ? 1 : 0) == VARDEX_ERROR)
        reportLibraryError();
}

void TForm1::SpeedButton3Click() {
    if (!IsConnected) {
        warn(Ui::tr(kNotConnectedMessage));
        return;
    }
    if (::ShowRightManager(chktran->isChecked() ? 1 : 0, 1) == VARDEX_ERROR)
        reportLibraryError();
}

void TForm1::SpeedButton4Click() {
    if (chkwindow->isChecked()) {
        // The login dialog asks for the user ID itself, so the box is not looked at.
        if (!IsConnected) {
            warn(Ui::tr(kNotConnectedMessage));
            return;
        }
        std::vector<char> buffer(21, '\0'); // 20 characters and the terminating zero
        char* userId = buffer.data();
        int32_t count = positionOf(UpDown3);
        int32_t shift = 2;
        const int32_t rc = ::ShowLoginDialog("", "", &userId, &count, &shift, 3);
        if (rc == VARDEX_ERROR) {
            reportLibraryError();
            return;
        }
        // What the dialog handed back (user ID, length, shift) is not shown.
        m_loginResult = QString::number(rc);
        showResults();
        return;
    }

    QString message;
    if (!IsConnected)
        message = Ui::tr(kNotConnectedMessage);
    else if (trimmedText(Edit4).isEmpty())
        message = Ui::tr(kUserIdEmpty);
    if (!message.isEmpty()) {
        warn(message);
        return;
    }
    const int32_t rc = ::CheckUserLogin(
        local8(trimmedText(Edit4)).constData(), local8(trimmedText(Edit5)).constData(),
        local8(trimmedText(Edit6)).constData(), local8(trimmedText(Memo2)).constData(), positionOf(UpDown1));
    if (rc == VARDEX_ERROR) {
        reportLibraryError();
        return;
    }
    m_loginResult = QLatin1Char(' ') + QString::number(rc);
    showResults();
}

void TForm1::SpeedButton5Click() {
    const QString userId = trimmedText(Edit9);
    const QString rightText = trimmedText(Edit10);
    int32_t rightId = 0;
    QString message;
    if (!IsConnected)
        message = Ui::tr(kNotConnectedMessage);
    else if (userId.isEmpty())
        message = Ui::tr(kUserIdEmpty);
    else if (rightText.isEmpty())
        message = Ui::tr("权限ID不能为空!请重新输入.");
    else if (!toInt32(rightText, &rightId))
        message = Ui::tr("权限ID必须为整数型值!请重新输入.");
    if (!message.isEmpty()) {
        warn(message);
        return;
    }
    const int32_t rc = ::CheckUserRight(local8(userId).constData(), rightId,
                                        local8(trimmedText(Memo3)).constData(), positionOf(UpDown2));
    if (rc == VARDEX_ERROR) {
        reportLibraryError();
        return;
    }
    m_rightResult = QLatin1Char(' ') + QString::number(rc);
    showResults();
}

void TForm1::SpeedButton7Click() {
    // This test does not look at IsConnected: the library answers for itself.
    const QString userId = trimmedText(Edit4);
    if (chkwindow2->isChecked()) {
        if (userId.isEmpty()) {
            showMessage(Ui::tr("用户ID必须输入!"), Ui::tr(kErrorCaption), mb::Ok, this);
            return;
        }
        if (::ShowChangePasswordDialog(local8(userId).constData(), "") == VARDEX_ERROR)
            reportLibraryError();
        return; // the dialog's result is not shown
    }
    if (userId.isEmpty()) {
        showMessage(Ui::tr("用户ID必须输入! 新密码可输在出错信息框中."), Ui::tr(kErrorCaption), mb::Ok, this);
        return;
    }
    // The new password is taken from the login test's message box, as the tool tip says.
    const int32_t rc =
        ::ChangeUserPassword(local8(userId).constData(), local8(trimmedText(Edit5)).constData(),
                             local8(trimmedText(Memo2)).constData(), local8(trimmedText(Edit6)).constData());
    if (rc == VARDEX_ERROR) {
        reportLibraryError();
        return;
    }
    const QString caption = Ui::tr("修改密码");
    if (rc == VARDEX_OK)
        showMessage(Ui::tr("密码修改成功!"), caption, mb::Ok, this);
    else
        showMessage(Ui::tr("密码修改没有成功!"), caption, mb::Ok | mb::IconWarning, this);
}

void TForm1::chkwindowClick() {
    // Whichever box was clicked, the panel follows the login test's box.
    Panel1->setVisible(chkwindow->isChecked());
}

} // namespace vardex::host
