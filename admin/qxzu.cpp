#include "admin/qxzu.h"

#include "admin/adminshared.h"
#include "dialogs/dlgcommon.h"
#include "library/adminops.h"
#include "library/dmain.h"
#include "library/uitext.h"
#include "platform/msgservice.h"
#include "platform/sqldialect.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace vardex {

Tfrqxzu::Tfrqxzu(QWidget* parent, LibrarySession& session)
    : QDialog(parent, Qt::Tool | Qt::WindowStaysOnTopHint), m_session(session) {
    setObjectName(QStringLiteral("frqxzu"));
    setWindowTitle(Ui::tr("添加权限组"));
    setFont(admin::windowFont());
    setFixedSize(247, 112);

    Label1 = new QLabel(Ui::tr("请输入要添加的组名称(注意不要重复):"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->move(16, 16);
    Label1->adjustSize();

    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(16, 32, 217, 20);
    Edit1->installEventFilter(this);

    SpeedButton1 = new QPushButton(Ui::tr("取消(&C)"), this);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setGeometry(77, 77, 72, 25);
    SpeedButton1->setFocusPolicy(Qt::NoFocus);
    SpeedButton1->setAutoDefault(false);

    btnOK = new QPushButton(Ui::tr("确定(&O)"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setGeometry(161, 77, 72, 25);
    btnOK->setFocusPolicy(Qt::NoFocus);
    btnOK->setAutoDefault(false);

    connect(SpeedButton1, &QPushButton::clicked, this, &Tfrqxzu::SpeedButton1Click);
    connect(btnOK, &QPushButton::clicked, this, &Tfrqxzu::btnOKClick);
    Edit1->setFocus();
}

QString Tfrqxzu::name() const {
    return trimBlanks(Edit1->text());
}

void Tfrqxzu::btnOKClick() {
    const QString n = name();
    if (n.isEmpty()) {
        showMessage(Ui::tr("组名称不能为空!"), Ui::tr("错误"), dialogs::inputErrorBox(), this);
        return;
    }
    try {
        const bool taken = Tag == 2 ? adminops::permissionGroupTaken(m_session.data(), n)
                                    : adminops::userGroupNameTaken(m_session.data(), n);
        if (!taken) {
            Tag = 1;
            close();
            return;
        }
    } catch (const std::exception& e) {
        admin::reportError(e, this);
        return;
    }
    if (Tag == 2)
        showMessage(Ui::tr("组名称\"") + n + Ui::tr("\"已存在! 请输入一个新组名称."), Ui::tr("错误"),
                    dialogs::inputErrorBox(), this);
    else
        showMessage(Ui::tr("用户组名称不能与已有组,或用户名称重复! 请重新输入."), Ui::tr("错误"),
                    dialogs::inputErrorBox(), this);
}

bool Tfrqxzu::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Edit1 && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            btnOKClick(); // Enter in the last box confirms
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace vardex
