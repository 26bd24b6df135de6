#include "dialogs/repass.h"

#include "dialogs/dlgcommon.h"
#include "library/dmain.h"
#include "library/uitext.h"
#include "platform/msgservice.h"
#include "platform/sqldialect.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

namespace vardex {

namespace {

// The four captions end at x = 120.
QLabel* caption(QWidget* parent, const char* name, const QString& text, int x, int y) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setAlignment(Qt::AlignRight | Qt::AlignTop);
    l->setGeometry(x, y, 120 - x, l->sizeHint().height());
    dialogs::fitLeftOf(l, 120, 4); // a longer caption of another language reaches further left
    return l;
}

QLineEdit* editBox(QWidget* parent, const char* name, int x, int y, bool password) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QString::fromLatin1(name));
    e->setGeometry(x, y, 121, 20);
    if (password)
        dialogs::setStarEcho(e);
    return e;
}

} // namespace

QString repassReasonText(int code) {
    switch (code) {
    case login::Disabled:
        return Ui::tr("用户被禁止使用! ");
    case login::Expired:
        return Ui::tr("用户使用期限已过! ");
    case login::WrongPassword:
        return Ui::tr("原密码不正确! ");
    case login::NoSuchUser:
        return Ui::tr("无此用户! ");
    case passwordChange::PolicyRefused:
        return Ui::tr("新密码不符合密码规则(长度不够)! ");
    default:
        return QString();
    }
}

TfrRepass::TfrRepass(QWidget* parent, LibrarySession& session) : QDialog(parent), m_session(session) {
    setObjectName(QStringLiteral("frRepass"));
    dialogs::makeFixedDialog(this, 306, 185, Ui::tr("修改口令"));
    Label1 = caption(this, "Label1", Ui::tr("用户名："), 72, 16);
    Edit1 = editBox(this, "Edit1", 128, 11, false);
    Edit1->setReadOnly(true);
    Edit1->setFocusPolicy(Qt::ClickFocus); // not a tab stop
    QPalette pal = Edit1->palette();
    pal.setColor(QPalette::Base, QColor(212, 208, 200)); // the active-border colour
    Edit1->setPalette(pal);
    Label2 = caption(this, "Label2", Ui::tr("输入原口令："), 48, 43);
    Edit2 = editBox(this, "Edit2", 128, 38, true);
    Label3 = caption(this, "Label3", Ui::tr("新口令："), 72, 70);
    Edit3 = editBox(this, "Edit3", 128, 65, true);
    Label4 = caption(this, "Label4", Ui::tr("重复输入新口令："), 24, 98);
    Edit4 = editBox(this, "Edit4", 128, 93, true);
    SpeedButton1 = dialogs::flatButton(this, "SpeedButton1", Ui::tr("取消(&C)"), 40, 136, 73, 22);
    SpeedButton2 = dialogs::flatButton(this, "SpeedButton2", Ui::tr("确定(&O)"), 176, 136, 73, 22);
    setTabOrder(Edit2, Edit3);
    setTabOrder(Edit3, Edit4);
    for (QLineEdit* e : {Edit1, Edit2, Edit3, Edit4})
        e->installEventFilter(this);
    connect(SpeedButton2, &QToolButton::clicked, this, [this] { SpeedButton2Click(); });
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
    Edit2->setFocus();
}

void TfrRepass::SpeedButton2Click() {
    const uint32_t warning = mb::Ok | mb::IconWarning;
    // The two new entries are compared exactly as typed.
    if (Edit3->text() != Edit4->text()) {
        showMessage(Ui::tr("新密码和重复输入的新密码必须一致! 请重新输入."), Ui::tr("错误"), warning, this);
        return;
    }
    const QString userId = trimBlanks(Edit1->text());
    const QString oldPassword = trimBlanks(Edit2->text());
    const QString newPassword = trimBlanks(Edit3->text());
    QString reason;
    try {
        const QString noText;
        const int code = CheckUserLogin(m_session, userId, oldPassword, workDate, &noText, 0);
        if (code == login::Verified) {
            const int changed = ChangeUserPassword(m_session, userId, oldPassword, newPassword, workDate);
            if (changed == passwordChange::Changed) {
                repassResult = passwordDialog::Changed;
                showMessage(Ui::tr("恭喜您! 密码修改成功."), Ui::tr("修改密码"), mb::Ok | mb::IconInformation,
                            this);
                reject();
                return;
            }
            if (changed != passwordChange::PolicyRefused)
                reason = Ui::tr("不明原因, ");
            else if (newPasswordTooLong(m_session, newPassword))
                reason = newPasswordTooLongText();
            else
                reason = repassReasonText(changed);
        } else {
            reason = repassReasonText(code);
        }
    } catch (const std::exception& e) {
        dialogs::reportError(e, this);
        return;
    }
    if (!reason.isEmpty())
        showMessage(reason + Ui::tr("修改密码不成功. 请重试或与系统管理员联系."), Ui::tr("修改密码"), warning,
                    this);
}

void TfrRepass::SpeedButton1Click() {
    reject();
}

bool TfrRepass::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
        QLineEdit* const boxes[4] = {Edit1, Edit2, Edit3, Edit4};
        for (int i = 0; i < 4; ++i) {
            if (watched != boxes[i])
                continue;
            if (enter && i == 3) {
                SpeedButton2Click();
                return true;
            }
            if ((enter || key == Qt::Key_Down) && i < 3) {
                boxes[i + 1]->setFocus();
                return true;
            }
            if (key == Qt::Key_Up && i > 0) {
                boxes[i - 1]->setFocus();
                return true;
            }
            if (key == Qt::Key_Up || key == Qt::Key_Down)
                return true; // nothing
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TfrRepass::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrRepass::done(int r) {
    m_closed = true;
    QDialog::done(r);
}

int ShowChangePasswordDialog(const QString& userId, const QString& workDate, LibrarySession& session) {
    session.data(); // the change needs the session open
    dialogs::requireDisplay();
    SessionValues& s = session.values();
    // Verifying the old password must not count as a new login.
    s.LoginUpdatesSession = false;
    struct Restore {
        SessionValues& s;
        ~Restore() { s.LoginUpdatesSession = true; }
    } restore{s};
    TfrRepass window(nullptr, session);
    window.Edit1->setText(userId);
    window.workDate = workDate;
    window.repassResult = passwordDialog::NotChanged;
    dialogs::centreOnScreen(&window);
    window.exec();
    return window.repassResult;
}

} // namespace vardex
