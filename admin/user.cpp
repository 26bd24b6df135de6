#include "admin/user.h"

#include "admin/adminshared.h"
#include "dialogs/dlgcommon.h"
#include "library/adminops.h"
#include "library/dmain.h"
#include "library/passwordpolicy.h"
#include "library/uitext.h"
#include "platform/msgservice.h"
#include "platform/sqldialect.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

namespace vardex {

// ---------------------------------------------------------------------------------------------

namespace {

QLabel* label(QWidget* parent, const char* name, const QString& text, int x, int y,
              bool rightAligned = false) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->adjustSize();
    if (rightAligned)
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    l->move(x, y - 2);
    return l;
}

QPushButton* flatButton(QWidget* parent, const char* name, const QString& text, const QRect& r) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(r);
    b->setFocusPolicy(Qt::NoFocus); // the buttons take no focus
    b->setAutoDefault(false);
    return b;
}

} // namespace

TfrUser::TfrUser(QWidget* parent, LibrarySession& session)
    : QDialog(parent, Qt::Tool | Qt::WindowStaysOnTopHint), m_session(session) {
    setObjectName(QStringLiteral("frUser"));
    setWindowTitle(Ui::tr("添加用户"));
    setFont(admin::windowFont());
    setFixedSize(386, 175);

    Label1 = label(this, "Label1", Ui::tr("用户ID(&I):"), 21, 10, true);
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(83, 6, 104, 20);
    Label1->setBuddy(Edit1);

    Label2 = label(this, "Label2", Ui::tr("用户姓名(&N):"), 194, 10);
    Edit2 = new QLineEdit(this);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    Edit2->setGeometry(268, 6, 105, 20);
    Label2->setBuddy(Edit2);

    Label3 = label(this, "Label3", Ui::tr("密码(&P):"), 33, 37, true);
    Edit3 = new QLineEdit(this);
    Edit3->setObjectName(QStringLiteral("Edit3"));
    Edit3->setGeometry(83, 33, 104, 20);
    Edit3->setEchoMode(QLineEdit::Password);
    Edit3->setStyleSheet(QStringLiteral("lineedit-password-character: 42")); // '*'
    Label3->setBuddy(Edit3);

    Label8 = label(this, "Label8", Ui::tr("用户组(&Z):"), 206, 34);
    cbzu = new QComboBox(this);
    cbzu->setObjectName(QStringLiteral("cbzu"));
    cbzu->setGeometry(268, 33, 105, 20);
    cbzu->setEditable(false);
    Label8->setBuddy(cbzu);
    cbzu2 = new QComboBox(this);
    cbzu2->setObjectName(QStringLiteral("cbzu2"));
    cbzu2->setGeometry(312, 40, 73, 20);
    cbzu2->hide();

    Label4 = label(this, "Label4", Ui::tr("启用日期(&S):"), 9, 65, true);
    dt1 = new QDateEdit(this);
    dt1->setObjectName(QStringLiteral("dt1"));
    dt1->setGeometry(83, 61, 105, 20);
    Label5 = label(this, "Label5", Ui::tr("到期日期(&E):"), 194, 65, true);
    dt2 = new QDateEdit(this);
    dt2->setObjectName(QStringLiteral("dt2"));
    dt2->setGeometry(268, 61, 105, 20);
    for (QDateEdit* d : {dt1, dt2}) {
        d->setCalendarPopup(true);
        d->setDisplayFormat(admin::dateFormat());
        d->setDate(QDate::currentDate());
        dialogs::selectSectionOnClick(d);
    }
    Label4->setBuddy(dt1);
    Label5->setBuddy(dt2);
    // A longer caption of another language stays clear of its box (the boxes start at 83 and 268).
    for (QLabel* l : {Label1, Label3, Label4})
        dialogs::fitLeftOf(l, 83 - dialogs::kCaptionClearance, 2);
    for (QLabel* l : {Label2, Label8, Label5})
        dialogs::fitLeftOf(l, 268 - dialogs::kCaptionClearance, 190);

    chkAllow = new QCheckBox(Ui::tr("是否有效"), this);
    chkAllow->setObjectName(QStringLiteral("chkAllow"));
    chkAllow->setGeometry(27, 96, 69, 17);
    chkAllow->setLayoutDirection(Qt::RightToLeft); // caption left of the box
    chkAllow->setChecked(false);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(176, 88, 185, 41);
    Panel1->setFrameShape(QFrame::NoFrame);
    const char* const discount = QT_TRANSLATE_NOOP("Ui", "最高允许折扣:           %");
    const QString caption = Ui::tr(discount);
    Label7 = new QLabel(caption, Panel1);
    Label7->setObjectName(QStringLiteral("Label7"));
    Label7->move(11, 11);
    const qsizetype gap = caption.indexOf(QLatin1String("  "));
    if (caption == QString::fromUtf8(discount) || gap < 0) {
        // The blanks of the caption make room for the edit box and its arrows, as they do in 宋体,
        // whose blank is half a character wide; the Mono face of the stand-in font has such
        // blanks, so the '%' stands right of the arrows.
        QFont f = font();
        f.setFamilies(
            {QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Micro Hei Mono")});
        Label7->setFont(f);
    } else {
        // Another language's caption keeps the window's font: the words left of the box, the
        // '%' on its own right of the arrows.
        Label7->setText(caption.left(gap));
        auto* percent = new QLabel(caption.mid(gap).trimmed(), Panel1);
        percent->setObjectName(QStringLiteral("Label7Unit"));
        percent->move(156, 11);
        percent->adjustSize();
    }
    Label7->adjustSize();
    Edit4 = new QLineEdit(QStringLiteral("0"), Panel1);
    Edit4->setObjectName(QStringLiteral("Edit4"));
    Edit4->setGeometry(92, 9, 45, 20);
    UpDown1 = new TUpDown(Panel1, Edit4);
    UpDown1->setObjectName(QStringLiteral("UpDown1"));
    UpDown1->setGeometry(137, 9, 15, 20);
    const auto arrows = UpDown1->findChildren<QToolButton*>();
    for (int i = 0; i < arrows.size(); ++i)
        arrows[i]->setGeometry(0, i * 10, 15, 10);
    Panel1->hide();

    Label6 = label(this, "Label6", Ui::tr("注意:用户ID、姓名不能为空"), 18, 144);
    SpeedButton1 = flatButton(this, "SpeedButton1", Ui::tr("取消(&C)"), QRect(217, 142, 72, 25));
    btnOK = flatButton(this, "btnOK", Ui::tr("确定(&O)"), QRect(301, 142, 72, 25));
    connect(SpeedButton1, &QPushButton::clicked, this, &TfrUser::SpeedButton1Click);
    connect(btnOK, &QPushButton::clicked, this, &TfrUser::btnOKClick);

    // Tab order 0..6, and the Enter chain over the same boxes.
    m_chain = {Edit1, Edit2, Edit3, dt1, dt2, chkAllow};
    QWidget::setTabOrder(Edit1, Edit2);
    QWidget::setTabOrder(Edit2, Edit3);
    QWidget::setTabOrder(Edit3, cbzu);
    QWidget::setTabOrder(cbzu, dt1);
    QWidget::setTabOrder(dt1, dt2);
    QWidget::setTabOrder(dt2, chkAllow);
    for (QWidget* w : m_chain)
        w->installEventFilter(this);
    Edit1->setFocus();
}

void TfrUser::addChoice(const QString& name, int code) {
    cbzu->addItem(name);
    cbzu2->addItem(QString::number(code));
}

bool TfrUser::selectCode(int code) {
    for (int i = 0; i < cbzu2->count(); ++i)
        if (cbzu2->itemText(i).toInt() == code) {
            cbzu->setCurrentIndex(i);
            cbzu2->setCurrentIndex(i);
            return true;
        }
    cbzu->setCurrentIndex(-1);
    cbzu2->setCurrentIndex(-1);
    return false;
}

int TfrUser::selectedCode(int fallback) const {
    const int i = cbzu->currentIndex();
    if (i < 0 || i >= cbzu2->count())
        return fallback;
    return cbzu2->itemText(i).toInt();
}

void TfrUser::btnOKClick() {
    const QString id = trimBlanks(Edit1->text());
    const QString name = trimBlanks(Edit2->text());
    if (id.isEmpty() || name.isEmpty()) {
        showMessage(Ui::tr("用户ID和姓名必须输入,不能为空."), Ui::tr("错误"), dialogs::inputErrorBox(), this);
        return;
    }
    const QString typed = trimBlanks(Edit3->text());
    const bool newPassword = Tag == 3 || (typed != ShownPassword && !(EmptyKeepsPassword && typed.isEmpty()));
    if (newPassword && !meetsPolicy(m_session.data().Policy, typed)) {
        showMessage(tooLongToHash(m_session.data().Policy, typed)
                        ? newPasswordTooLongText()
                        : Ui::tr("新密码不符合密码规则(长度不够)! "),
                    Ui::tr("错误"), dialogs::inputErrorBox(), this);
        Edit3->setFocus();
        return;
    }
    if (Tag == 3) {
        try {
            if (adminops::userIdTaken(m_session.data(), id)) {
                showMessage(Ui::tr("用户ID\"") + id + Ui::tr("\"已存在! 请输入一个新的用户ID."),
                            Ui::tr("错误"), dialogs::inputErrorBox(), this);
                return;
            }
        } catch (const std::exception& e) {
            admin::reportError(e, this);
            return;
        }
    }
    Tag = 1;
    close();
}

bool TfrUser::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent*>(event)->key();
    const int at = m_chain.indexOf(qobject_cast<QWidget*>(watched));
    if (at < 0)
        return QDialog::eventFilter(watched, event);
    const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
    const bool isEdit = qobject_cast<QLineEdit*>(watched) != nullptr;
    if (enter || (isEdit && key == Qt::Key_Down)) {
        if (at + 1 < m_chain.size())
            m_chain[at + 1]->setFocus();
        else if (enter)
            btnOKClick(); // Enter in the last box confirms
        return true;
    }
    if (isEdit && key == Qt::Key_Up) {
        if (at > 0)
            m_chain[at - 1]->setFocus();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace vardex
