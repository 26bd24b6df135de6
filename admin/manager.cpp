#include "admin/manager.h"

#include "admin/adminshared.h"
#include "admin/auditlogwindow.h"
#include "admin/qxzu.h"
#include "admin/user.h"
#include "dialogs/dlgcommon.h"
#include "library/adminops.h"
#include "library/cipher.h"
#include "library/dmain.h"
#include "library/passwordpolicy.h"
#include "library/securestore.h"
#include "library/storeschema.h"
#include "library/uitext.h"
#include "platform/errors.h"
#include "platform/msgservice.h"
#include "platform/passwordhash.h"
#include "platform/sqldialect.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDateEdit>
#include <QFrame>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScopeGuard>
#include <QSplitter>
#include <QStackedWidget>
#include <QToolButton>
#include <optional>

namespace vardex {

namespace {

const QString kT = schema::kGranted;
const QString kF = schema::kRefused;

// Field names of the user-list columns.
const QString fName = QStringLiteral("name");
const QString fAllow = QStringLiteral("allow");
const QString fPassword = QStringLiteral("password");
const QString fStart = QStringLiteral("startDate");
const QString fEnd = QStringLiteral("endDate");
const QString fDiscount = QStringLiteral("discount");
const QString fUserId = QStringLiteral("userID");

using schema::kNoGroupZuid;

std::function<void(const char*)>& faultHook() {
    static std::function<void(const char*)> hook;
    return hook;
}

void step(const char* name) {
    if (faultHook())
        faultHook()(name);
}

QToolButton* iconButton(QWidget* parent, const char* name, admin::ButtonIcon icon, const QString& hint,
                        const QRect& r) {
    auto* b = new QToolButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setIcon(admin::buttonIcon(icon));
    b->setToolTip(hint);
    b->setGeometry(r);
    b->setFocusPolicy(Qt::NoFocus);
    b->setAutoRaise(true);
    return b;
}

QPushButton* flatButton(QWidget* parent, const char* name, const QString& text, const QRect& r) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(r);
    b->setFocusPolicy(Qt::NoFocus);
    b->setAutoDefault(false);
    return b;
}

// The row a user node shows, as the store keeps it; group is the user group's number, 0 for none.
adminops::UserRow userRow(TreeList* list, QTreeWidgetItem* node, int group) {
    adminops::UserRow r;
    r.userId = list->text(node, fUserId);
    r.userName = list->text(node, fName);
    r.password = list->text(node, fPassword);
    r.startDate = list->text(node, fStart);
    r.endDate = list->text(node, fEnd);
    r.allow = list->text(node, fAllow);
    r.discount = list->text(node, fDiscount).toInt();
    r.setGroup(group);
    return r;
}

QLabel* label(QWidget* parent, const char* name, const QString& text, int x, int y) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->move(x, y);
    l->resize(180, 14);
    return l;
}

// Nodes built off a list join it in one step when the fill ends, also when a row fails: the
// nodes built before it stay, as they would have had they been added one by one.
struct JoinOnExit {
    TreeList* list;
    QList<QTreeWidgetItem*>& nodes;
    ~JoinOnExit() { list->addNodes(nodes); }
};

} // namespace

void setManagerFaultHook(std::function<void(const char*)> hook) {
    faultHook() = std::move(hook);
}

// ---------------------------------------------------------------------------------------------
// The window

Tfrmanager::Tfrmanager(QWidget* parent, LibrarySession& session)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      m_session(session) {
    setObjectName(QStringLiteral("frmanager"));
    setWindowTitle(Ui::tr("用户权限管理"));
    setFont(admin::windowFont());
    setFixedSize(592, 393);

    labUser = label(this, "labUser", Ui::tr("用户列表:"), 8, 8);
    labZu = label(this, "labZu", Ui::tr("权限组列表:"), 196, 8);
    Label3 = label(this, "Label3", Ui::tr("组权限设置列表:"), 362, 8);
    labUser->resize(185, 14);
    labZu->resize(162, 14);
    Label3->resize(225, 14);

    Nbook = new QStackedWidget(this);
    Nbook->setObjectName(QStringLiteral("Nbook"));
    Nbook->setGeometry(8, 24, 577, 329);
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("Default"));
    Nbook->addWidget(page);
    Splitter1 = new QSplitter(Qt::Horizontal, page);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setGeometry(0, 0, 577, 329);
    Splitter1->setHandleWidth(3);
    Splitter1->setChildrenCollapsible(false);

    const QVector<QIcon>& images = admin::listImages();
    auto makeList = [&](const char* name) {
        auto* l = new TreeList(Splitter1);
        l->setObjectName(QString::fromLatin1(name));
        l->setImages(images);
        l->setMinimumWidth(100); // the splitters' minimum size
        return l;
    };
    dtl1 = makeList("dtl1");
    dxTreeList1Column1 = dtl1->addColumn(QStringLiteral("dxTreeList1Column1"), Ui::tr("用户(组)名"), fName,
                                         TreeListColumn::Text, 133);
    dxTreeList1Column2 = dtl1->addColumn(QStringLiteral("dxTreeList1Column2"), Ui::tr("允许"), fAllow,
                                         TreeListColumn::Check, 32);
    dxTreeList1Column3 = dtl1->addColumn(QStringLiteral("dxTreeList1Column3"), Ui::tr("密码"), fPassword,
                                         TreeListColumn::Text, 60, false);
    dxTreeList1Column4 =
        dtl1->addColumn(QStringLiteral("dxTreeList1Column4"), Ui::tr("起始日期,组的起始日期为000000"), fStart,
                        TreeListColumn::Text, 60, false);
    dxTreeList1Column5 = dtl1->addColumn(QStringLiteral("dxTreeList1Column5"), Ui::tr("到期日期"), fEnd,
                                         TreeListColumn::Text, 60, false);
    dxTreeList1Column6 = dtl1->addColumn(QStringLiteral("dxTreeList1Column6"), Ui::tr("折扣率"), fDiscount,
                                         TreeListColumn::Text, 60, false);
    dxTreeList1Column7 = dtl1->addColumn(QStringLiteral("dxTreeList1Column7"), Ui::tr("用户ID"), fUserId,
                                         TreeListColumn::Text, 60, false);
    dtl2 = makeList("dtl2");
    dxTreeList2Column1 = dtl2->addColumn(QStringLiteral("dxTreeList2Column1"), Ui::tr("权限组名称"), fName,
                                         TreeListColumn::Text, 114);
    dxTreeList2Column2 = dtl2->addColumn(QStringLiteral("dxTreeList2Column2"), Ui::tr("允许"), fAllow,
                                         TreeListColumn::Check, 30);
    dtl3 = makeList("dtl3");
    TreeListColumn1 = dtl3->addColumn(QStringLiteral("TreeListColumn1"), Ui::tr("权限名称"), fName,
                                      TreeListColumn::Text, 172);
    TreeListColumn2 =
        dtl3->addColumn(QStringLiteral("TreeListColumn2"), Ui::tr("允许"), fAllow, TreeListColumn::Check, 32);
    // The permission-group and group-rights checks start refusing edits.
    dxTreeList2Column2->setReadOnly(true);
    TreeListColumn2->setReadOnly(true);
    Splitter1->setSizes({185, 162, 224});
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 0);
    Splitter1->setStretchFactor(2, 1);

    btnAddUser =
        iconButton(this, "btnAddUser", admin::ButtonIcon::AddUser, Ui::tr("添加用户"), QRect(8, 363, 24, 24));
    btnDelUser = iconButton(this, "btnDelUser", admin::ButtonIcon::DelUser, Ui::tr("删除用户"),
                            QRect(32, 363, 24, 24));
    btnEditUser = iconButton(this, "btnEditUser", admin::ButtonIcon::EditUser, Ui::tr("用户信息编辑"),
                             QRect(56, 363, 24, 24));
    btnAddUserzu = iconButton(this, "btnAddUserzu", admin::ButtonIcon::AddUserGroup, Ui::tr("添加用户组"),
                              QRect(88, 363, 89, 24));
    btnAddUserzu->setText(Ui::tr("添加用户组", "short button text"));
    btnAddUserzu->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    btnAddZu =
        iconButton(this, "btnAddZu", admin::ButtonIcon::AddZu, Ui::tr("添加权限组"), QRect(198, 363, 24, 24));
    btnDelZu =
        iconButton(this, "btnDelZu", admin::ButtonIcon::DelZu, Ui::tr("删除权限组"), QRect(222, 363, 24, 24));
    btnDelUser->setEnabled(false);
    btnEditUser->setEnabled(false);
    btnDelZu->setEnabled(false);

    btnCancel = flatButton(this, "btnCancel", Ui::tr("取消(&C)"), QRect(344, 363, 72, 25));
    btnHelp = flatButton(this, "btnHelp", Ui::tr("保存(&S)"), QRect(428, 363, 72, 25));
    btnOK = flatButton(this, "btnOK", Ui::tr("确定(&O)"), QRect(512, 363, 72, 25));
    btnHelp->setEnabled(false);
    btnLog = flatButton(this, "btnLog", Ui::tr("LOG记录(&L)"), QRect(256, 363, 80, 25));
    // Reading only: no action around it, which would hold the other desktops' administration.
    connect(btnLog, &QPushButton::clicked, this, [this] {
        try {
            ShowAuditLog(this, m_session);
        } catch (const std::exception& e) {
            admin::reportError(e, this);
        }
    });

    pupmUser = new QMenu(this);
    pupmUser->setObjectName(QStringLiteral("pupmUser"));
    mA1 = pupmUser->addAction(Ui::tr("添加用户(&A)"));
    mD1 = pupmUser->addAction(Ui::tr("删除用户(&D)"));
    mE1 = pupmUser->addAction(Ui::tr("编辑(&E)"));
    mA1->setObjectName(QStringLiteral("mA1"));
    mD1->setObjectName(QStringLiteral("mD1"));
    mE1->setObjectName(QStringLiteral("mE1"));
    pupmZu = new QMenu(this);
    pupmZu->setObjectName(QStringLiteral("pupmZu"));
    mA2 = pupmZu->addAction(Ui::tr("添加权限组(&A)"));
    mD2 = pupmZu->addAction(Ui::tr("删除权限组(&D)"));
    mA2->setObjectName(QStringLiteral("mA2"));
    mD2->setObjectName(QStringLiteral("mD2"));

    // Wiring. Buttons and menu items share their handlers.
    connect(btnAddUser, &QToolButton::clicked, this, &Tfrmanager::mA1Click);
    connect(mA1, &QAction::triggered, this, &Tfrmanager::mA1Click);
    connect(btnDelUser, &QToolButton::clicked, this, &Tfrmanager::mD1Click);
    connect(mD1, &QAction::triggered, this, &Tfrmanager::mD1Click);
    connect(btnEditUser, &QToolButton::clicked, this, &Tfrmanager::dtl1DblClick);
    connect(mE1, &QAction::triggered, this, &Tfrmanager::dtl1DblClick);
    connect(dtl1, &TreeList::nodeDoubleClicked, this, [this](QTreeWidgetItem*) { dtl1DblClick(); });
    connect(btnAddUserzu, &QToolButton::clicked, this, &Tfrmanager::btnAddUserzuClick);
    connect(btnAddZu, &QToolButton::clicked, this, &Tfrmanager::mA2Click);
    connect(mA2, &QAction::triggered, this, &Tfrmanager::mA2Click);
    connect(btnDelZu, &QToolButton::clicked, this, &Tfrmanager::mD2Click);
    connect(mD2, &QAction::triggered, this, &Tfrmanager::mD2Click);
    connect(btnOK, &QPushButton::clicked, this, &Tfrmanager::btnOKClick);
    connect(btnCancel, &QPushButton::clicked, this, &Tfrmanager::btnCancelClick);
    connect(btnHelp, &QPushButton::clicked, this, &Tfrmanager::btnHelpClick);

    dtl1->setContextMenuPolicy(Qt::CustomContextMenu);
    dtl2->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(dtl1, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        pupmUserPopup();
        pupmUser->exec(dtl1->viewport()->mapToGlobal(pos));
    });
    connect(dtl2, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        pupmZuPopup();
        pupmZu->exec(dtl2->viewport()->mapToGlobal(pos));
    });

    // The toolkit's own changes of the current node.
    connect(dtl1, &TreeList::currentNodeChanged, this,
            [this](QTreeWidgetItem*, QTreeWidgetItem*) { onChangeEvent([this] { doDtl1ChangeNode(); }); });
    connect(dtl2, &TreeList::currentNodeChanged, this, [this](QTreeWidgetItem*, QTreeWidgetItem* node) {
        onChangeEvent([this, node] { doDtl2ChangeNode(node, dtl2); });
    });
    connect(dtl3, &TreeList::currentNodeChanged, this,
            [this](QTreeWidgetItem*, QTreeWidgetItem* node) { dtl3ChangeNode(node); });
    // The user list and the group-rights list stay fully expanded.
    auto refuse = [](QTreeWidgetItem*, bool* allow) { *allow = false; };
    connect(dtl1, &TreeList::collapsing, this, refuse);
    connect(dtl3, &TreeList::collapsing, this, refuse);
    for (TreeList* l : {dtl1, dtl2, dtl3})
        connect(l, &TreeList::checkToggled, this, &Tfrmanager::dxTreeList1Column2ToggleClick);

    FormCreate();
}

Tfrmanager::~Tfrmanager() = default;

// Runs an operator's action: a failing statement stops it, its text is shown, and what was done
// before stays. A change handler that the action set off through the list and that failed stops
// the action at the point where the action looks (rethrowPending).
template <typename F> void Tfrmanager::action(F&& body) {
    ++m_actionDepth;
    try {
        // The action's check and its changes are serialised with other desktops' administration;
        // without the window's transaction the action's own one ends here, before any message.
        adminops::Action serialised;
        body();
        rethrowPending();
    } catch (const std::exception& e) {
        m_pending = nullptr;
        --m_actionDepth;
        admin::reportError(e, this);
        return;
    }
    --m_actionDepth;
}

void Tfrmanager::rethrowPending() {
    if (m_pending) {
        std::exception_ptr p = m_pending;
        m_pending = nullptr;
        std::rethrow_exception(p);
    }
}

// A change of the current node reported by a list. Errors never travel through the list: inside
// an action they are kept for the action, otherwise shown at once.
void Tfrmanager::onChangeEvent(const std::function<void()>& body) {
    try {
        body();
    } catch (const std::exception& e) {
        if (m_actionDepth > 0) {
            if (!m_pending)
                m_pending = std::current_exception();
        } else {
            admin::reportError(e, this);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Loading and the change of the current node

void Tfrmanager::FormCreate() {
    action([this] { loadUsers(); });
}

void Tfrmanager::loadUsers() {
    loading = true;
    AdoQuery& qr = m_session.data().ADOqr;
    dtl1->beginUpdate();
    {
        const auto reset = qScopeGuard([&] {
            dtl1->endUpdate();
            dtl1->fullExpand();
            qr.close();
            loading = false;
        });
        qr.close();
        qr.clearSql();
        qr.addSql(adminops::userListSelect());
        OpenOrExecute(qr);
        // A group is found by its number in a table that keeps the first top-level node of each
        // number, which is the node a walk from the first finds.
        QHash<int, QTreeWidgetItem*> groups;
        QList<QTreeWidgetItem*> tops;
        JoinOnExit join{dtl1, tops};
        adminops::readUsers(qr, [&](const adminops::UserRow& u) {
            const int zuid = u.zuid;
            QTreeWidgetItem* group = nullptr;
            if (schema::isGroupMember(zuid))
                group = groups.value(schema::groupOfMember(zuid), nullptr);
            auto fill = [&](QTreeWidgetItem* n) {
                dtl1->setCellText(n, dxTreeList1Column1->index(), u.userName);
                dtl1->setCellText(n, dxTreeList1Column2->index(), u.allow);
                dtl1->setCellText(n, dxTreeList1Column3->index(), u.password);
                if (!schema::isUserRow(zuid)) {
                    const QString none = QStringLiteral("000000");
                    dtl1->setCellText(n, dxTreeList1Column4->index(), none);
                    dtl1->setCellText(n, dxTreeList1Column5->index(), none);
                    dtl1->setCellText(n, dxTreeList1Column6->index(), none);
                    dtl1->setImageIndex(n, 0, 0);
                } else {
                    dtl1->setCellText(n, dxTreeList1Column4->index(), u.startDate);
                    dtl1->setCellText(n, dxTreeList1Column5->index(), u.endDate);
                    dtl1->setCellText(n, dxTreeList1Column6->index(), QString::number(u.discount));
                    dtl1->setImageIndex(n, 1, 1);
                }
                dtl1->setCellText(n, dxTreeList1Column7->index(), u.userId);
                TreeList::setNodeValue(n, zuid);
            };
            QTreeWidgetItem* node = dtl1->makeNode(fill);
            if (group) {
                group->addChild(node);
            } else {
                tops.append(node);
                if (!groups.contains(zuid))
                    groups.insert(zuid, node);
            }
        });
    }
    if (dtl1->topCount() > 0)
        doDtl1ChangeNode();
}

void Tfrmanager::dtl1ChangeNode() {
    action([this] { doDtl1ChangeNode(); });
}

void Tfrmanager::doDtl1ChangeNode() {
    if (loading)
        return;
    loading = true;
    dtl2->beginUpdate();
    dtl2->clearNodes();
    {
        const auto reset = qScopeGuard([&] {
            dtl2->endUpdate();
            loading = false;
        });
        QTreeWidgetItem* node = dtl1->currentNode();
        if (node) {
            CurrentUserNode = node;
            // A member's permission groups and rights are those of its user group and are
            // changed there.
            const bool member = node->parent() != nullptr;
            dxTreeList2Column2->setReadOnly(member);
            TreeListColumn2->setReadOnly(member);
            QTreeWidgetItem* owner = node->parent() ? node->parent() : node;
            AdoQuery& qr = m_session.data().ADOqr;
            qr.close();
            qr.clearSql();
            qr.addSql(QStringLiteral("select * from qx_user_zu"));
            qr.addSql(QStringLiteral("where userid = ") + schema::sqlLiteral(dtl1->text(owner, fUserId)));
            qr.addSql(QStringLiteral("order by zuName"));
            OpenOrExecute(qr);
            for (qr.first(); !qr.eof(); qr.next()) {
                dtl2->addNode([&](QTreeWidgetItem* n) {
                    dtl2->setText(n, fName, qr.fieldByName(QStringLiteral("zuname")).asString());
                    dtl2->setText(n, fAllow, qr.fieldByName(QStringLiteral("allow")).asString());
                    dtl2->setImageIndex(n, 2, 3);
                });
            }
            qr.close();
            QString title = Ui::tr("用户列表:(") + dtl1->text(node, fName) + QLatin1Char(')');
            if (!schema::isUserRow(TreeList::nodeValue(node)))
                title += Ui::tr("(组)", "a user group in the users' title");
            setListTitle(labUser, title);
        }
    }
    if (dtl2->topCount() > 0)
        doDtl2ChangeNode(dtl2->topNode(0), dtl1);
    else
        clearRights();
    btnDelUser->setEnabled(true);
    btnEditUser->setEnabled(true);
}

void Tfrmanager::setListTitle(QLabel* title, const QString& text) {
    // A title longer than its list is wide (a long name) is drawn smaller rather than cut off.
    title->setFont(font());
    title->setText(text);
    dialogs::fitCaption(title, title->width());
}

void Tfrmanager::clearRights() {
    dtl3->beginUpdate();
    dtl3->clearNodes();
    dtl3->endUpdate();
}

void Tfrmanager::dtl2ChangeNode(QTreeWidgetItem* node, QWidget* origin) {
    action([this, node, origin] { doDtl2ChangeNode(node, origin); });
}

void Tfrmanager::doDtl2ChangeNode(QTreeWidgetItem* node, QWidget* origin) {
    if (loading || !node)
        return;
    const QString zuName = dtl2->text(node, fName);
    dtl3->beginUpdate();
    dtl3->clearNodes();
    {
        const auto reset = qScopeGuard([&] { dtl3->endUpdate(); });
        AdoQuery& qr = m_session.data().ADOqr;
        adminops::setGroupRightsSelect(qr, zuName);
        OpenOrExecute(qr);
        QTreeWidgetItem* head = nullptr;
        QList<QTreeWidgetItem*> tops;
        JoinOnExit join{dtl3, tops};
        adminops::readGroupRights(qr, [&](const adminops::GroupRight& r) {
            const int b = r.qxId;
            const bool isHead = schema::isHeadItem(b);
            auto fill = [&](QTreeWidgetItem* n) {
                dtl3->setText(n, fName, r.name);
                dtl3->setText(n, fAllow, r.allow);
                dtl3->setImageIndex(n, isHead ? 4 : 5, isHead ? 4 : 5);
                TreeList::setNodeValue(n, b);
            };
            QTreeWidgetItem* item = dtl3->makeNode(fill);
            if (isHead)
                tops.append(head = item);
            else if (head)
                head->addChild(item);
            else
                tops.append(item); // items before the first head item stand at the top level
        });
        qr.close();
    }
    dtl3->fullExpand();
    if (dtl3->topCount() > 0)
        dtl3ChangeNode(dtl3->topNode(0));
    if (origin && origin->isVisible())
        origin->setFocus();
    setListTitle(labZu, Ui::tr("权限组列表:(") + zuName + QLatin1Char(')'));
    btnDelZu->setEnabled(true);
}

void Tfrmanager::dtl3ChangeNode(QTreeWidgetItem* node) {
    if (!node)
        return;
    // The Chinese titles name the item list as the permission group list does; the English ones
    // say item and head item.
    QString title =
        Ui::tr("权限组列表:(", "the item list's title") + dtl3->text(node, fName) + QLatin1Char(')');
    if (!node->parent())
        title += Ui::tr("(组)", "a head item in the item list's title");
    setListTitle(Label3, title);
}

void Tfrmanager::markChanged() {
    btnHelp->setEnabled(true);
}

void Tfrmanager::pupmUserPopup() {
    const bool has = dtl1->currentNode() != nullptr;
    mD1->setEnabled(has);
    mE1->setEnabled(has);
}

void Tfrmanager::pupmZuPopup() {
    mD2->setEnabled(dtl2->currentNode() != nullptr);
}

// ---------------------------------------------------------------------------------------------
// Closing and saving

void Tfrmanager::btnOKClick() {
    Tag = 1;
    close();
}

void Tfrmanager::btnCancelClick() {
    Tag = 2;
    close();
}

void Tfrmanager::btnHelpClick() {
    AdoConnection& cn = m_session.data().ADOcn;
    try {
        step("save-commit");
        cn.commitTrans();
        step("save-begin");
        cn.beginTrans();
        btnHelp->setEnabled(false);
    } catch (const std::exception&) {
        showMessage(Ui::tr("数据更新不成功! 请再试."), Ui::tr("出错"), mb::Ok, this);
        // The rest of the visit stays one transaction: a failed commit has already been rolled
        // back by the connection, so a new one is begun when none is open.
        if (!cn.inTransaction()) {
            try {
                cn.beginTrans();
            } catch (const std::exception&) {
            }
        }
    }
}

bool Tfrmanager::FormCloseQuery() {
    if (!btnHelp->isVisibleTo(this) || !btnHelp->isEnabled() || Tag == 1 || Tag == 2)
        return true;
    const int answer = showMessage(Ui::tr("数据可能已经更改, 是否先保存数据再退出?"), Ui::tr("确认"),
                                   mb::YesNoCancel | mb::IconQuestion, this);
    if (answer == mb::IdYes) {
        Tag = 1;
        return true;
    }
    return answer == mb::IdNo;
}

// Every close request (title bar, Escape, the two buttons) comes here.
void Tfrmanager::reject() {
    if (FormCloseQuery())
        QDialog::reject();
}

// ---------------------------------------------------------------------------------------------
// Users and user groups

void Tfrmanager::fillChoice(TfrUser& dlg) {
    for (int i = 0; i < dtl1->topCount(); ++i) {
        QTreeWidgetItem* n = dtl1->topNode(i);
        if (!schema::isUserRow(TreeList::nodeValue(n)))
            dlg.addChoice(dtl1->text(n, fName), TreeList::nodeValue(n));
    }
    dlg.addChoice(QString(), 0); // no user group
}

void Tfrmanager::runDialog(QDialog& dlg) {
    if (onDialog)
        onDialog(&dlg);
    dlg.exec();
}

void Tfrmanager::copyNode(QTreeWidgetItem* from, QTreeWidgetItem* to) {
    for (int i = 0; i < dtl1->columnCount(); ++i)
        dtl1->setCellText(to, i, dtl1->cellText(from, i));
    dtl1->setImageIndex(to, TreeList::imageIndex(from), TreeList::selectedIndex(from));
}

void Tfrmanager::deleteUserNode(QTreeWidgetItem* node) {
    for (QTreeWidgetItem* n = CurrentUserNode; n; n = n->parent())
        if (n == node) {
            CurrentUserNode = nullptr; // the deletion reports the node that takes its place
            break;
        }
    dtl1->deleteNode(node);
}

void Tfrmanager::mA1Click() {
    action([this] {
        TfrUser dlg(this, m_session);
        dlg.dt1->setDate(QDate::currentDate());
        dlg.dt2->setDate(QDate::currentDate());
        dlg.Panel1->setVisible(showDiscount != 0);
        dlg.Tag = 3;
        QTreeWidgetItem* cur = dtl1->currentNode();
        const int p = !cur ? 0 : TreeList::nodeValue(cur->parent() ? cur->parent() : cur);
        fillChoice(dlg);
        dlg.selectCode(p);
        runDialog(dlg);
        if (dlg.Tag != 1)
            return;
        const int n = dlg.selectedCode(0);
        QTreeWidgetItem* group = nullptr;
        if (n != 0)
            for (int i = 0; i < dtl1->topCount() && !group; ++i)
                if (TreeList::nodeValue(dtl1->topNode(i)) == n)
                    group = dtl1->topNode(i);
        const int zuid = schema::memberZuid(n);
        auto fill = [&](QTreeWidgetItem* node) {
            dtl1->setText(node, fName, trimBlanks(dlg.Edit2->text()));
            dtl1->setText(node, fAllow, dlg.chkAllow->isChecked() ? kT : kF);
            dtl1->setText(node, fPassword,
                          storedPassword(m_session.data().Policy, trimBlanks(dlg.Edit3->text()),
                                         m_session.values().CipherKey));
            dtl1->setText(node, fStart, dlg.dt1->date().toString(admin::dateFormat()));
            dtl1->setText(node, fEnd, dlg.dt2->date().toString(admin::dateFormat()));
            dtl1->setText(node, fDiscount, QString::number(dlg.UpDown1->position()));
            dtl1->setText(node, fUserId, trimBlanks(dlg.Edit1->text()));
            TreeList::setNodeValue(node, zuid);
            dtl1->setImageIndex(node, 1, 1);
        };
        QTreeWidgetItem* node = group ? dtl1->addChildNode(group, fill) : dtl1->addNode(fill);
        dtl1->setCurrentNode(node);
        rethrowPending();
        adminops::addUser(m_session.data(), userRow(dtl1, node, n));
        doDtl1ChangeNode();
        markChanged();
    });
}

void Tfrmanager::dtl1DblClick() {
    action([this] {
        QTreeWidgetItem* node = CurrentUserNode;
        if (!node || !schema::isUserRow(TreeList::nodeValue(node)))
            return; // user groups are not edited
        TfrUser dlg(this, m_session);
        dlg.Panel1->setVisible(showDiscount != 0);
        dlg.setWindowTitle(Ui::tr("编辑用户信息"));
        dlg.Edit2->setText(dtl1->text(node, fName));
        dlg.Edit1->setText(dtl1->text(node, fUserId));
        dlg.Edit1->setReadOnly(true);
        QPalette pal = dlg.Edit1->palette();
        pal.setColor(QPalette::Base, pal.color(QPalette::Window));
        dlg.Edit1->setPalette(pal);
        // A hash never deciphers: its box starts empty, and the hash stays unless one is typed.
        const QString stored = dtl1->text(node, fPassword);
        const bool hashed = isPasswordHash(stored);
        dlg.Edit3->setText(
            stored.isEmpty() || hashed ? QString() : DecryptPassword(stored, m_session.values().CipherKey));
        dlg.ShownPassword = dlg.Edit3->text();
        dlg.EmptyKeepsPassword = hashed;
        auto readDate = [](const QString& text) {
            const QDate d = QDate::fromString(text, admin::dateFormat());
            if (!d.isValid())
                throw ConvertError(Ui::tr("“") + text + Ui::tr("”不是有效的日期."));
            return d;
        };
        dlg.dt1->setDate(readDate(dtl1->text(node, fStart)));
        dlg.dt2->setDate(readDate(dtl1->text(node, fEnd)));
        dlg.chkAllow->setChecked(dtl1->text(node, fAllow) == kT);
        bool ok = false;
        const int discount = dtl1->text(node, fDiscount).toInt(&ok);
        if (ok)
            dlg.UpDown1->setPosition(discount);
        const int value = TreeList::nodeValue(node);
        const int g = schema::groupOfMember(value);
        fillChoice(dlg);
        dlg.selectCode(g);
        runDialog(dlg);
        if (dlg.Tag != 1)
            return;

        dtl1->setText(node, fName, trimBlanks(dlg.Edit2->text()));
        dtl1->setText(node, fUserId, trimBlanks(dlg.Edit1->text()));
        const QString typed = trimBlanks(dlg.Edit3->text());
        if (!hashed || !typed.isEmpty())
            dtl1->setText(node, fPassword,
                          storedPassword(m_session.data().Policy, typed, m_session.values().CipherKey));
        dtl1->setText(node, fAllow, dlg.chkAllow->isChecked() ? kT : kF);
        dtl1->setText(node, fStart, dlg.dt1->date().toString(admin::dateFormat()));
        dtl1->setText(node, fEnd, dlg.dt2->date().toString(admin::dateFormat()));
        dtl1->setText(node, fDiscount, QString::number(dlg.UpDown1->position()));
        dtl1->viewport()->update();

        const int oldZuid = schema::memberZuid(g);
        // No entry selected counts as the last (empty) entry.
        const int n = dlg.selectedCode(0);
        const adminops::UserRow row = userRow(dtl1, node, n);
        const int newZuid = row.zuid;
        // The row, and for a change of user group the procedure of the move.
        adminops::editUser(m_session.data(), row, g);
        UnlockUser(m_session, row.userId, row.userName); // saving the user lifts a lockout
        if (newZuid != oldZuid) {
            QTreeWidgetItem* moved = nullptr;
            if (newZuid == kNoGroupZuid) {
                // The member has left its user group and holds rights of its own again.
                moved = dtl1->addNode([&](QTreeWidgetItem* m) {
                    copyNode(node, m);
                    TreeList::setNodeValue(m, kNoGroupZuid);
                });
            } else {
                QTreeWidgetItem* group = nullptr;
                for (int i = 0; i < dtl1->topCount() && !group; ++i)
                    if (schema::memberZuid(TreeList::nodeValue(dtl1->topNode(i))) == newZuid)
                        group = dtl1->topNode(i);
                moved = dtl1->addChildNode(group, [&](QTreeWidgetItem* m) {
                    copyNode(node, m);
                    TreeList::setNodeValue(m, newZuid);
                });
            }
            // Making the moved node current shows the rights of the user's new owner.
            dtl1->setCurrentNode(moved);
            deleteUserNode(node);
            rethrowPending();
        }
        markChanged();
    });
}

void Tfrmanager::mD1Click() {
    action([this] {
        QTreeWidgetItem* node = CurrentUserNode;
        if (!node)
            return;
        const QString name = dtl1->text(node, fName);
        const QString question = !schema::isUserRow(TreeList::nodeValue(node))
                                     ? Ui::tr("确实要删除用户组“") + name + Ui::tr("”及该组所有用户吗?")
                                     : Ui::tr("确实要删除用户“") + name + Ui::tr("”吗?");
        if (showMessage(question, Ui::tr("询问"), mb::OkCancel | mb::IconQuestion, this) != mb::IdOk)
            return;
        adminops::deleteUser(m_session.data(), dtl1->text(node, fUserId));
        deleteUserNode(node);
        rethrowPending();
        if (dtl1->topCount() == 0) {
            // Nobody is left to own permission groups: the other two lists keep what they
            // showed and refuse edits.
            dxTreeList2Column2->setReadOnly(true);
            TreeListColumn2->setReadOnly(true);
        }
        markChanged();
    });
}

void Tfrmanager::btnAddUserzuClick() {
    action([this] {
        Tfrqxzu dlg(this, m_session);
        dlg.setWindowTitle(Ui::tr("添加用户组"));
        dlg.Tag = 3;
        runDialog(dlg);
        const QString name = dlg.name();
        if (dlg.Tag != 1)
            return;
        // The node shows the row as stored, so the group's flag is what the cascades compare with.
        QString allow;
        const int number = adminops::addUserGroup(m_session.data(), name, &allow);
        if (number == 0) {
            showMessage(Ui::tr("用户组已达999个, 不能再添加用户组."), Ui::tr("错误"),
                        mb::Ok | mb::IconWarning, this);
            return;
        }
        QTreeWidgetItem* before = nullptr;
        for (int i = 0; i < dtl1->topCount() && !before; ++i)
            if (TreeList::nodeValue(dtl1->topNode(i)) > number)
                before = dtl1->topNode(i);
        QTreeWidgetItem* node = dtl1->insertNodeBefore(before, [&](QTreeWidgetItem* n) {
            dtl1->setText(n, fName, name);
            dtl1->setText(n, fAllow, allow);
            dtl1->setText(n, fUserId, name);
            TreeList::setNodeValue(n, number);
            dtl1->setImageIndex(n, 0, 0);
        });
        dtl1->setCurrentNode(node);
        rethrowPending();
        doDtl1ChangeNode();
        markChanged();
    });
}

// ---------------------------------------------------------------------------------------------
// Permission groups and grants

void Tfrmanager::mA2Click() {
    action([this] {
        Tfrqxzu dlg(this, m_session);
        dlg.Tag = 2;
        runDialog(dlg);
        const QString name = dlg.name();
        if (dlg.Tag != 1)
            return;
        adminops::addPermissionGroup(m_session.data(), name);
        QTreeWidgetItem* node = dtl2->addNode([&](QTreeWidgetItem* n) {
            dtl2->setText(n, fName, name);
            dtl2->setText(n, fAllow, kF);
            dtl2->setImageIndex(n, 2, 3);
        });
        dtl2->setCurrentNode(node);
        rethrowPending();
        doDtl2ChangeNode(node, dtl2);
        markChanged();
    });
}

void Tfrmanager::mD2Click() {
    action([this] {
        QTreeWidgetItem* node = dtl2->currentNode();
        if (!node)
            return;
        const QString name = dtl2->text(node, fName);
        if (showMessage(Ui::tr("确实要删除权限组:(") + name + Ui::tr(")吗?"), Ui::tr("询问"),
                        mb::OkCancel | mb::IconQuestion, this) != mb::IdOk)
            return;
        adminops::deletePermissionGroup(m_session.data(), name);
        dtl2->deleteNode(node);
        rethrowPending();
        if (dtl2->topCount() == 0)
            clearRights();
        markChanged();
    });
}

void Tfrmanager::setFlag(TreeList* list, QTreeWidgetItem* node, const QString& flag) {
    list->setText(node, fAllow, flag);
    list->viewport()->update();
}

// Each changed flag is reported to the store exactly once: the toggled node's first, then those
// of the nodes changed with it, in list order. Nodes that already show the new flag get nothing.
// A node is shown with its new flag just before its statement is sent, so a failing statement
// leaves the list showing what was attempted up to there.
void Tfrmanager::dxTreeList1Column2ToggleClick(TreeListColumn* column, const QString& flag) {
    action([this, column, flag] {
        markChanged();
        if (column == dxTreeList2Column2) {
            QTreeWidgetItem* n = CurrentUserNode;
            QTreeWidgetItem* zu = dtl2->currentNode();
            if (!n || !zu)
                return;
            QTreeWidgetItem* owner = n->parent() ? n->parent() : n;
            adminops::setAssignment(m_session.data(), dtl1->text(owner, fUserId), dtl2->text(zu, fName),
                                    flag);
            return;
        }
        TreeList* list = nullptr;
        QTreeWidgetItem* node = nullptr;
        adminops::FlagScope scope;
        if (column == dxTreeList1Column2) {
            list = dtl1;
            node = CurrentUserNode;
            if (!node)
                return;
            // A user group passes the flag to its members, a member reaches its user group. A
            // top-level node that is neither a user group nor a user without one (a member
            // whose group is missing) has nothing above it: its own statement only.
            const int value = TreeList::nodeValue(node);
            scope.hasParent = schema::isUserRow(value) && node->parent();
            scope.cascades = !schema::isUserRow(value) || (value != kNoGroupZuid && node->parent());
        } else if (column == TreeListColumn2) {
            // A head item passes the flag to its items, an item reaches its head item.
            list = dtl3;
            node = dtl3->currentNode();
            if (!node)
                return;
            scope.hasParent = node->parent() != nullptr;
        } else {
            return;
        }
        auto keyOf = [&](QTreeWidgetItem* n) {
            return list == dtl1 ? dtl1->text(n, fUserId) : QString::number(TreeList::nodeValue(n));
        };
        QHash<QString, QTreeWidgetItem*> nodes;
        auto describe = [&](QTreeWidgetItem* n) {
            nodes.insert(keyOf(n), n);
            return adminops::FlagNode{keyOf(n), list->text(n, fAllow)};
        };
        scope.node = describe(node);
        QTreeWidgetItem* around = node;
        if (scope.hasParent) {
            around = node->parent();
            scope.parent = describe(around);
        }
        for (int i = 0; i < around->childCount(); ++i)
            scope.children.append(describe(around->child(i)));
        nodes.insert(scope.node.key, node); // the toggled node wins over a namesake

        const auto flags = adminops::toggleFlags(scope, flag);
        for (int i = 0; i < flags.size(); ++i) {
            if (i > 0)
                setFlag(list, nodes.value(flags[i].first), flags[i].second);
            if (list == dtl1)
                adminops::sendUserFlags(m_session.data(), {flags[i]});
            else
                adminops::sendItemFlags(m_session.data(), dtl2->text(dtl2->currentNode(), fName), {flags[i]});
        }
    });
}

// ---------------------------------------------------------------------------------------------
// The library call

int ShowRightManager(int useTransaction, int showDiscount, LibrarySession& session) {
    AdoConnection& cn = session.data().ADOcn;
    // Inside another window's transaction this window would end, or write into, a transaction
    // it did not begin.
    adminops::refuseInWindowTransaction("ShowRightManager");
    securestore::refuseOnDesktop(session, "ShowRightManager");
    const bool transaction = useTransaction == 1;
    std::unique_ptr<Tfrmanager> window;
    const QString noted = adminops::visitInTransaction(
        cn, transaction,
        [&] {
            window = std::make_unique<Tfrmanager>(nullptr, session);
            step("prepare");
            if (!transaction) {
                window->btnCancel->hide();
                window->btnHelp->hide();
                window->btnOK->setText(Ui::tr("关闭(&C)"));
            }
            if (showDiscount != 0)
                window->showDiscount = showDiscount;
        },
        [&] {
            step("show");
            window->exec();
            return window->Tag;
        },
        step);
    if (!noted.isEmpty())
        showMessage(noted, Ui::tr("出错"), mb::Ok, window.get());
    window.reset();
    return 0;
}

} // namespace vardex
