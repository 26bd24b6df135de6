#include "dialogs/join.h"

#include "dialogs/dlgcommon.h"
#include "dialogs/widgets.h"
#include "library/dmain.h"
#include "library/uitext.h"
#include "platform/msgservice.h"
#include "platform/sqldialect.h"

#include <QDateTime>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTimer>
#include <QToolButton>

namespace vardex {

namespace {

QLabel* label(QWidget* parent, const char* name, const QString& text, int x, int y) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->adjustSize();
    l->move(x, y);
    return l;
}

QLabel* centredLabel(QWidget* parent, const char* name, const QString& text, int x, int y, int w) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    l->setGeometry(x, y, w, l->sizeHint().height());
    return l;
}

QLineEdit* editBox(QWidget* parent, const char* name, int x, int y, int w, int h) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QString::fromLatin1(name));
    e->setGeometry(x, y, w, h);
    return e;
}

} // namespace

QString loginReasonText(int code) {
    switch (code) {
    case login::Disabled:
        return Ui::tr("用户被禁止使用! ");
    case login::Expired:
        return Ui::tr("用户使用期限已过! ");
    case login::WrongPassword:
        return Ui::tr("密码不正确! ");
    case login::NoSuchUser:
        return Ui::tr("无此用户! ");
    default:
        return QString();
    }
}

TfrJoin::TfrJoin(QWidget* parent, LibrarySession& session) : QDialog(parent), m_session(session) {
    setObjectName(QStringLiteral("frJoin"));
    dialogs::makeFixedDialog(this, 331, 163, Ui::tr("系统登录"));

    for (int i = 0; i < 8; ++i) {
        auto* img = new QLabel(this);
        img->setObjectName(QStringLiteral("Image%1").arg(i + 1));
        img->setGeometry(10, 8, 68, 68);
        img->setPixmap(dialogs::animationFrame(i));
        Image[i] = img;
    }
    PBar = new QProgressBar(this);
    PBar->setObjectName(QStringLiteral("PBar"));
    PBar->setGeometry(96, 8, 225, 7);
    PBar->setTextVisible(false);
    PBar->setRange(0, 100);
    PBar->setValue(0);
    Label5 = label(this, "Label5", Ui::tr("请输入您的登录信息:"), 96, 8);
    Label5->hide();
    Label1 = label(this, "Label1", Ui::tr("用户名："), 96, 36);
    Edit1 = editBox(this, "Edit1", 152, 30, 81, 20);

    Panel1 = new QLabel(Ui::tr("班次："), this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Panel1->setGeometry(240, 28, 89, 25);
    Edit3 = editBox(Panel1, "Edit3", 32, 2, 33, 20);
    UDbanci = new dialogs::TUpDown(Panel1, Edit3);
    UDbanci->setObjectName(QStringLiteral("UDbanci"));
    UDbanci->setGeometry(65, 2, 15, 20);
    UDbanci->setMin(1);
    UDbanci->setMax(10);
    UDbanci->setPosition(1);

    Label2 = label(this, "Label2", Ui::tr("口  令："), 96, 68);
    for (QLabel* l : {Label1, Label2})
        dialogs::fitCaption(l, 54); // a longer caption of another language stays clear of its box
    Edit2 = editBox(this, "Edit2", 152, 62, 169, 20);
    dialogs::setStarEcho(Edit2);
    Label4 = centredLabel(this, "Label4", Ui::tr("当前时间"), 152, 88, 169);
    btnCancel = dialogs::flatButton(this, "btnCancel", Ui::tr("取消(&C)"), 152, 112, 73, 22);
    btnOK = dialogs::flatButton(this, "btnOK", Ui::tr("确定(&O)"), 248, 112, 73, 22);
    Label3 = centredLabel(this, "Label3", QStringLiteral("Label3"), 0, 144, 332);

    // Tab order: the user ID first, then the password; the buttons take no focus.
    setTabOrder(Edit1, Edit2);
    setTabOrder(Edit2, Edit3);
    Edit1->installEventFilter(this);
    Edit2->installEventFilter(this);
    connect(btnOK, &QToolButton::clicked, this, [this] { btnOKClick(); });
    connect(btnCancel, &QToolButton::clicked, this, [this] { btnCancelClick(); });

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(500);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    Timer1->start();

    FormCreate();
    Edit1->setFocus();
}

TfrJoin::~TfrJoin() = default;

void TfrJoin::FormCreate() {
    loginResult = loginDialog::Cancelled;
    for (int i = 0; i < 8; ++i)
        m_frames[i] = Image[i];
    // The first frame and the clock are in place before the window is shown; timedMode is
    // still false, so the countdown does not move.
    Timer1Timer();
}

void TfrJoin::applySettings(const QString& caption, const QString& date, int count, int shift, int maxShift) {
    if (!caption.isEmpty())
        setWindowTitle(caption);
    workDate = date;
    if (count <= 10) {
        timedMode = false;
        PBar->hide();
        Label5->show();
        Label3->setText(Ui::tr("请您在%1次之内输入正确的登录信息.").arg(count));
        // The bar's maximum is the attempt limit the OK handler compares with.
        PBar->setMaximum(count);
    } else {
        timedMode = true;
        Label3->setText(Ui::tr("限时登录系统, 请在%1秒之内输入正确的登录信息.").arg(count));
        PBar->setMaximum(count + 4);
    }
    if (shift == 0) {
        Panel1->hide();
        Edit1->resize(169, Edit1->height());
    } else {
        // The selector's numbers are 16-bit; a highest shift below 1 offers shift 1 only.
        UDbanci->setMax(qBound(1, maxShift, 32767));
        UDbanci->setPosition(shift);
    }
}

QString TfrJoin::clockText(const QDateTime& when, const LibrarySession& session) {
    QChar sep = session.values().DateSeparator;
    if (sep.isNull())
        sep = QLatin1Char('/');
    const QDate d = when.date();
    const QTime t = when.time();
    return QStringLiteral("%1%2%3%2%4 %5:%6:%7")
        .arg(d.year(), 4, 10, QLatin1Char('0'))
        .arg(sep)
        .arg(d.month(), 2, 10, QLatin1Char('0'))
        .arg(d.day(), 2, 10, QLatin1Char('0'))
        .arg(t.hour(), 2, 10, QLatin1Char('0'))
        .arg(t.minute(), 2, 10, QLatin1Char('0'))
        .arg(t.second(), 2, 10, QLatin1Char('0'));
}

void TfrJoin::Timer1Timer() {
    QLabel* frame = m_frames[frameCounter];
    frame->raise();
    frame->update();
    frameCounter = (frameCounter + 1) % 8;
    Label4->setText(clockText(QDateTime::currentDateTime(), m_session));
    if (timedMode) {
        // The bar moves on every second tick, once a second.
        if (frameCounter % 2 == 0 && PBar->value() < PBar->maximum())
            PBar->setValue(PBar->value() + 1);
        if (PBar->value() == PBar->maximum() && !m_timedOut) {
            loginResult = loginDialog::TimedOut;
            m_timedOut = true;
            // The window must not vanish behind its own message box: it closes once the box
            // has been dismissed.
            if (!m_boxOpen)
                reject();
        }
    }
}

void TfrJoin::btnOKClick() {
    int code = login::Verified;
    try {
        const QString noText;
        code = CheckUserLogin(m_session, Edit1->text(), Edit2->text(), workDate, &noText, 0);
    } catch (const std::exception& e) {
        // Not an answer: the window stays open and the attempt is not counted.
        dialogs::reportError(e, this);
        return;
    }
    if (code == login::Verified) {
        loginResult = loginDialog::Verified;
        reject();
        return;
    }
    const QString reason = loginReasonText(code);
    if (timedMode) {
        showFailure(reason + Ui::tr("用户登录不成功. ") + Ui::tr("请检查您输入的信息, 或与系统管理员联系."));
        return;
    }
    ++failCount;
    const int limit = PBar->maximum();
    if (limit > failCount) {
        showFailure(reason + Ui::tr("用户登录不成功. ") + Ui::tr("还有") +
                    QString::number(limit - failCount) + Ui::tr("次机会重试."));
    } else {
        showFailure(reason + Ui::tr("用户登录不成功. ") + Ui::tr("请与系统管理员联系."));
        loginResult = loginDialog::AttemptsUsed;
        reject();
    }
}

void TfrJoin::showFailure(const QString& text) {
    m_boxOpen = true;
    showMessage(text, Ui::tr("用户登录"), mb::Ok | mb::IconWarning, this);
    m_boxOpen = false;
    if (m_timedOut && !m_closed)
        reject(); // the time ran out while the box was open: the answer is 2
}

void TfrJoin::btnCancelClick() {
    loginResult = loginDialog::Cancelled;
    reject();
}

bool TfrJoin::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
        if (watched == Edit1 && (enter || key == Qt::Key_Down)) {
            Edit2->setFocus();
            return true;
        }
        if (watched == Edit2 && key == Qt::Key_Up) {
            Edit1->setFocus();
            return true;
        }
        if (watched == Edit2 && enter) {
            btnOKClick();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TfrJoin::keyPressEvent(QKeyEvent* event) {
    // Only the keys of the two boxes are handled; Escape does not close the window.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrJoin::done(int r) {
    m_closed = true;
    Timer1->stop();
    QDialog::done(r);
}

LoginDialogOutcome ShowLoginDialog(const QString& caption, const QString& workDate, int count, int shift,
                                   int maxShift, LibrarySession& session) {
    session.data(); // the verification needs the session open
    if (count < 0)
        throw Error(
            QStringLiteral("The login limit %1 is negative: give a number of attempts (0 to 10) or of "
                           "seconds (more than 10).")
                .arg(count));
    dialogs::requireDisplay();
    TfrJoin window(nullptr, session);
    window.applySettings(caption, workDate, count, shift, maxShift);
    dialogs::centreOnScreen(&window);
    window.exec();
    LoginDialogOutcome out;
    out.result = window.loginResult;
    if (out.result == loginDialog::Verified) {
        out.userId = trimBlanks(window.Edit1->text());
        out.shift = static_cast<qint16>(window.UDbanci->position());
    }
    return out;
}

} // namespace vardex
