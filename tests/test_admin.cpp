// The administration window on every database kind: loading the three lists, the actions on
// users, user groups and permission groups, the three toggles with their cascades, the
// transaction of a visit, and failing statements. Statements are compared word for word with
// the session connection's statement log; after each scripted action the store doctor must find
// the store consistent.
#include "admin/manager.h"
#include "admin/qxzu.h"
#include "admin/user.h"
#include "capi/vardex.h"
#include "library/adminops.h"
#include "library/cipher.h"
#include "library/dmain.h"
#include "library/doctor.h"
#include "platform/passwordhash.h"
#include "tests/support/testsupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

using namespace vardex;
using namespace vardex::test;

namespace {

const QString CRLF = "\r\n";

QString lines(const QStringList& l) {
    QString out;
    for (const QString& s : l)
        out += s + CRLF;
    return out;
}

QString userZuQuery(const QString& owner) {
    return lines({"select * from qx_user_zu", "where userid = '" + owner + "'", "order by zuName"});
}

QString rightsQuery(const QString& zu) {
    return lines({"select qx_zu.zuname a,qx_zu.qxid b,", "qx_name.qxname c,qx_zu.allow d from qx_zu,qx_name",
                  "where qx_zu.qxid = qx_Name.qxid", "and qx_zu.zuname = '" + zu + "'",
                  "order by qx_zu.qxid"});
}

// Acts on the modal windows that open while a handler runs: each step waits for a modal window
// with its object name, acts on it once, and the next step waits for the next one. A script that
// is not finished after 20 s closes what is open and fails the test instead of hanging.
class ModalScript {
  public:
    using Act = std::function<void(QWidget*)>;
    ModalScript& then(const QString& objectName, Act act) {
        m_steps.push_back({objectName, std::move(act)});
        return *this;
    }
    ModalScript() {
        m_clock.start();
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
        m_timer.start(5);
    }
    ~ModalScript() {
        m_timer.stop();
        EXPECT_EQ(m_done, m_steps.size()) << "modal steps left undone";
    }

  private:
    void tick() {
        QWidget* w = QApplication::activeModalWidget();
        if (m_done < m_steps.size() && w && w->objectName() == m_steps[m_done].first) {
            Act act = m_steps[m_done++].second;
            act(w);
            return;
        }
        if (m_clock.elapsed() > 20000) {
            m_timer.stop();
            ADD_FAILURE() << "timed out waiting for a modal window";
            while (QWidget* open = QApplication::activeModalWidget())
                if (auto* d = qobject_cast<QDialog*>(open))
                    d->done(0);
                else
                    break;
        }
    }
    std::vector<std::pair<QString, Act>> m_steps;
    size_t m_done = 0;
    QTimer m_timer;
    QElapsedTimer m_clock;
};

template <typename T> T* child(QWidget* w, const char* name) {
    T* c = w->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(c, nullptr) << name;
    return c;
}

void click(QWidget* w, const char* button) {
    child<QAbstractButton>(w, button)->click();
}

// Fills the user dialog and confirms it.
ModalScript::Act fillUser(QString id, QString name, QString pwd, bool allow, int groupIndexOrMinus = -2,
                          int discount = -1) {
    return [=](QWidget* w) {
        if (!id.isNull())
            child<QLineEdit>(w, "Edit1")->setText(id);
        if (!name.isNull())
            child<QLineEdit>(w, "Edit2")->setText(name);
        if (!pwd.isNull())
            child<QLineEdit>(w, "Edit3")->setText(pwd);
        child<QCheckBox>(w, "chkAllow")->setChecked(allow);
        if (groupIndexOrMinus != -2)
            child<QComboBox>(w, "cbzu")->setCurrentIndex(groupIndexOrMinus);
        if (discount >= 0)
            child<TUpDown>(w, "UpDown1")->setPosition(discount);
        click(w, "btnOK");
    };
}

ModalScript::Act fillName(QString name) {
    return [=](QWidget* w) {
        child<QLineEdit>(w, "Edit1")->setText(name);
        click(w, "btnOK");
    };
}

} // namespace

class Admin : public ::testing::TestWithParam<Backend> {
  protected:
    void SetUp() override {
        store = std::make_unique<TempStore>(GetParam());
        db = openConnection(store->connectionString());
        session() = SessionValues();
        setManagerFaultHook({});
    }
    void TearDown() override {
        window.reset();
        setManagerFaultHook({});
        if (hasDataModule()) {
            dataModule().ADOcn.setStatementHook({});
            vardex::DisconnectDatabase();
        }
        session() = SessionValues();
    }

    // A realistic store: head items with items, two permission groups, user groups 1 and 2 with
    // members, a member whose group is missing, users in no group.
    void seed() {
        const std::pair<int, const char*> items[] = {{1000, "system"}, {1001, "users"}, {1002, "backup"},
                                                     {2000, "sales"},  {2001, "order"}, {2002, "refund"}};
        for (const auto& [id, name] : items)
            db->execute(QString("INSERT INTO qx_Name (qxID, qxName) VALUES (%1, '%2')").arg(id).arg(name));
        addRow("fin", "finance", 1, "T");
        addRow("sal", "sales", 2, "F");
        addRow("m1", "Mary", 1001, "T", "pw1");
        addRow("m2", "Mike", 1001, "T");
        addRow("s1", "Sam", 1002, "F");
        addRow("lost", "Lost", 1009, "T");
        addRow("u1", "Ursula", 10000, "T", "secret");
        addRow("u2", "Uwe", 10000, "F");
        db->execute("Exec qxAddzuName 'admin'");
        db->execute("Exec qxAddzuName 'clerk'");
        db->execute("Exec qxUpDateAllows 'admin',1001,'T'");
        db->execute("Exec qxUpDateAllows 'clerk',2001,'T'");
        db->execute("Exec qx_user_zu_changed 'fin','admin','T'");
        db->execute("Exec qx_user_zu_changed 'u1','clerk','T'");
    }
    void addRow(const QString& id, const QString& name, int zuid, const QString& allow,
                const QString& pwd = "") {
        const QString cipher = pwd.isEmpty() ? QString() : EncryptPassword(pwd, "kmpq");
        if (zuid < 1000)
            db->execute(
                QString(
                    "INSERT INTO qx_user (userID, userName, userPwd, startTime, endTime, Allow, AllowZekou, "
                    "zuid) VALUES ('%1','%2','',NULL,NULL,'%3',0,%4)")
                    .arg(id, name, allow)
                    .arg(zuid));
        else
            db->execute(
                QString(
                    "INSERT INTO qx_user (userID, userName, userPwd, startTime, endTime, Allow, AllowZekou, "
                    "zuid) VALUES ('%1','%2','%3','2026-01-01','2026-12-31','%4',15,%5)")
                    .arg(id, name, cipher, allow)
                    .arg(zuid));
        if (zuid < 1000 || zuid >= 10000)
            db->execute("Exec qxAddUser '" + id + "'");
    }
    void connect() {
        ASSERT_EQ(vardex::ConnectDatabase(store->connectionString(), "", "", "2026-06-15", ""), 0);
        dataModule().ADOcn.setLogging(true);
        dataModule().ADOcn.clearLog();
    }
    // The window as ShowRightManager creates it, shown (not modally) so that clicks reach it.
    Tfrmanager& open() {
        connect();
        window = std::make_unique<Tfrmanager>();
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        return *window;
    }
    QStringList log() const { return dataModule().ADOcn.statementLog(); }
    void clearLog() { dataModule().ADOcn.clearLog(); }
    // The statements that change data, in order.
    QStringList writes() const {
        QStringList out;
        for (const QString& s : log())
            if (!s.startsWith("select", Qt::CaseInsensitive))
                out << s;
        return out;
    }
    void expectClean() {
        const DoctorReport r = checkStore(*db);
        for (const Violation& v : r.violations)
            if (v.kind != Violation::LostMember || v.userId != "lost") // planted: listed on its own
                ADD_FAILURE() << v.describe().toStdString();
    }
    QTreeWidgetItem* user(const QString& id) {
        for (QTreeWidgetItemIterator it(window->dtl1); *it; ++it)
            if (window->dtl1->text(*it, "userID") == id)
                return *it;
        return nullptr;
    }
    QTreeWidgetItem* named(TreeList* list, const QString& name) {
        for (QTreeWidgetItemIterator it(list); *it; ++it)
            if (list->text(*it, "name") == name)
                return *it;
        return nullptr;
    }
    QStringList names(TreeList* list, QTreeWidgetItem* parent = nullptr) {
        QStringList out;
        const int n = parent ? parent->childCount() : list->topCount();
        for (int i = 0; i < n; ++i)
            out << list->text(parent ? parent->child(i) : list->topNode(i), "name");
        return out;
    }
    void clickCheck(TreeList* list, QTreeWidgetItem* node) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, list->cellRect(node, 1).center());
    }
    void select(QTreeWidgetItem* node) {
        QTest::mouseClick(node->treeWidget()->viewport(), Qt::LeftButton, Qt::NoModifier,
                          node->treeWidget()->visualItemRect(node).center() - QPoint(40, 0));
    }
    int count(const QString& sql) { return scalarInt(*db, sql); }
    QString value(const QString& sql) { return scalar(*db, sql); }
    // Every row of the four tables the window changes, as text, sorted.
    QStringList snapshot() {
        QStringList out;
        const char* tables[] = {"qx_user", "qx_user_qx", "qx_user_zu", "qx_zu"};
        for (const char* t : tables) {
            AdoQuery q(db.get(), QString("select * from %1").arg(t));
            q.open();
            for (int r = 0; r < q.recordCount(); ++r) {
                QStringList row{t};
                for (int c = 0; c < q.fieldCount(); ++c)
                    row << q.value(r, c).toString();
                out << row.join('|');
            }
        }
        out.sort();
        return out;
    }

    std::unique_ptr<TempStore> store;
    std::unique_ptr<AdoConnection> db;
    std::unique_ptr<Tfrmanager> window;
};

// ---------------------------------------------------------------------------------------------
// Loading and the change of the current node

TEST_P(Admin, OpeningLoadsTheUserListAndTheFirstGroupsRights) {
    seed();
    Tfrmanager& w = open();
    // Groups in number order with their members, then the member whose group is missing, then
    // the users in no group.
    EXPECT_EQ(names(w.dtl1), QStringList({"finance", "sales", "Lost", "Ursula", "Uwe"}));
    QTreeWidgetItem* fin = user("fin");
    EXPECT_EQ(names(w.dtl1, fin), QStringList({"Mary", "Mike"}));
    EXPECT_EQ(names(w.dtl1, user("sal")), QStringList({"Sam"}));
    EXPECT_TRUE(fin->isExpanded());
    EXPECT_EQ(TreeList::nodeValue(fin), 1);
    EXPECT_EQ(TreeList::imageIndex(fin), 0);
    EXPECT_EQ(w.dtl1->text(fin, "startDate"), "000000");
    EXPECT_EQ(w.dtl1->text(fin, "discount"), "000000");
    QTreeWidgetItem* u1 = user("u1");
    EXPECT_EQ(TreeList::nodeValue(u1), 10000);
    EXPECT_EQ(TreeList::imageIndex(u1), 1);
    EXPECT_EQ(TreeList::imageIndex(user("lost")), 1);
    EXPECT_EQ(w.dtl1->text(u1, "startDate"), "2026-01-01");
    EXPECT_EQ(w.dtl1->text(u1, "endDate"), "2026-12-31");
    EXPECT_EQ(w.dtl1->text(u1, "discount"), "15");
    EXPECT_EQ(DecryptPassword(w.dtl1->text(u1, "password"), "kmpq"), "secret");
    EXPECT_EQ(w.dtl1->text(user("u2"), "allow"), "F");
    // Only the name and the flag are shown.
    for (int c = 2; c < 7; ++c)
        EXPECT_TRUE(w.dtl1->isColumnHidden(c)) << c;

    // The first user group is current; its permission groups by name, the first one's rights
    // under their head items.
    EXPECT_EQ(w.dtl1->currentNode(), fin);
    EXPECT_EQ(w.CurrentUserNode, fin);
    EXPECT_EQ(names(w.dtl2), QStringList({"admin", "clerk"}));
    EXPECT_EQ(w.dtl2->text(w.dtl2->topNode(0), "allow"), "T");
    EXPECT_EQ(names(w.dtl3), QStringList({"system", "sales"}));
    EXPECT_EQ(names(w.dtl3, w.dtl3->topNode(0)), QStringList({"users", "backup"}));
    EXPECT_EQ(w.dtl3->text(named(w.dtl3, "users"), "allow"), "T");
    EXPECT_EQ(TreeList::nodeValue(named(w.dtl3, "refund")), 2002);
    EXPECT_EQ(TreeList::imageIndex(w.dtl3->topNode(0)), 4);
    EXPECT_EQ(TreeList::imageIndex(named(w.dtl3, "order")), 5);
    EXPECT_EQ(TreeList::imageIndex(w.dtl2->topNode(0)), 2);
    EXPECT_EQ(TreeList::selectedIndex(w.dtl2->topNode(0)), 3);

    EXPECT_EQ(w.labUser->text(), "用户列表:(finance)(组)");
    EXPECT_EQ(w.labZu->text(), "权限组列表:(admin)");
    EXPECT_EQ(w.Label3->text(), "权限组列表:(system)(组)");
    EXPECT_FALSE(w.dxTreeList2Column2->readOnly());
    EXPECT_FALSE(w.TreeListColumn2->readOnly());
    EXPECT_TRUE(w.btnDelUser->isEnabled());
    EXPECT_TRUE(w.btnEditUser->isEnabled());
    EXPECT_TRUE(w.btnDelZu->isEnabled());
    EXPECT_FALSE(w.btnHelp->isEnabled());
    EXPECT_FALSE(w.loading);

    EXPECT_EQ(log(), QStringList({lines({"select * from qx_user Order By zuid"}), userZuQuery("fin"),
                                  rightsQuery("admin")}));
}

TEST_P(Admin, AMemberShowsItsGroupsRightsReadOnlyAndTheGroupEditable) {
    seed();
    Tfrmanager& w = open();
    clearLog();
    select(user("m2"));
    EXPECT_EQ(w.CurrentUserNode, user("m2"));
    EXPECT_EQ(log(), QStringList({userZuQuery("fin"), rightsQuery("admin")}));
    EXPECT_EQ(w.labUser->text(), "用户列表:(Mike)");
    EXPECT_TRUE(w.dxTreeList2Column2->readOnly());
    EXPECT_TRUE(w.TreeListColumn2->readOnly());
    // Clicks on the refusing checks change nothing and send nothing.
    clearLog();
    clickCheck(w.dtl2, w.dtl2->topNode(1));
    clickCheck(w.dtl3, named(w.dtl3, "backup"));
    EXPECT_EQ(writes(), QStringList());
    EXPECT_EQ(w.dtl2->text(w.dtl2->topNode(1), "allow"), "F");
    EXPECT_EQ(w.dtl3->text(named(w.dtl3, "backup"), "allow"), "F");

    // A change of permission group rebuilds the rights list only. (The refused click above made
    // that group current already; another column of the current node is no change.)
    select(w.dtl2->topNode(0));
    clearLog();
    select(w.dtl2->topNode(1));
    EXPECT_EQ(log(), QStringList({rightsQuery("clerk")}));
    EXPECT_EQ(w.labZu->text(), "权限组列表:(clerk)");
    select(named(w.dtl3, "order"));
    EXPECT_EQ(w.Label3->text(), "权限组列表:(order)");

    select(user("sal"));
    EXPECT_EQ(w.labUser->text(), "用户列表:(sales)(组)");
    EXPECT_FALSE(w.dxTreeList2Column2->readOnly());
    EXPECT_FALSE(w.TreeListColumn2->readOnly());

    // The user list and the rights list refuse to collapse; the menus follow the current node.
    EXPECT_FALSE(w.dtl1->collapseNode(user("fin")));
    EXPECT_FALSE(w.dtl3->collapseNode(w.dtl3->topNode(0)));
    EXPECT_TRUE(user("fin")->isExpanded());
    w.pupmUserPopup();
    EXPECT_TRUE(w.mD1->isEnabled());
    EXPECT_TRUE(w.mE1->isEnabled());
    w.pupmZuPopup();
    EXPECT_TRUE(w.mD2->isEnabled());
}

TEST_P(Admin, ACheckClickOnTheCurrentNodeSendsOnlyItsStatement) {
    seed();
    Tfrmanager& w = open();
    // The click moves the widget's current column only: no rebuild of the other lists.
    select(user("u1"));
    clearLog();
    clickCheck(w.dtl1, user("u1"));
    EXPECT_EQ(log(), QStringList({"Exec qxUpDateUserAllows 'u1','F'"}));
    select(w.dtl2->topNode(1));
    clearLog();
    clickCheck(w.dtl2, w.dtl2->topNode(1));
    EXPECT_EQ(log(), QStringList({"Exec qx_user_zu_changed 'u1','clerk','F'"}));

    // A refused click on a member's current permission group leaves the rights list as it was.
    select(user("m2"));
    select(named(w.dtl3, "backup"));
    const QString title = w.Label3->text();
    clearLog();
    clickCheck(w.dtl2, w.dtl2->currentNode());
    EXPECT_EQ(log(), QStringList());
    EXPECT_EQ(w.dtl3->currentNode(), named(w.dtl3, "backup"));
    EXPECT_EQ(w.Label3->text(), title);
}

TEST_P(Admin, AnEmptyStoreGivesEmptyListsAndDisabledButtons) {
    Tfrmanager& w = open();
    EXPECT_EQ(w.dtl1->topCount(), 0);
    EXPECT_EQ(w.dtl2->topCount(), 0);
    EXPECT_EQ(w.dtl3->topCount(), 0);
    EXPECT_FALSE(w.btnDelUser->isEnabled());
    EXPECT_FALSE(w.btnEditUser->isEnabled());
    EXPECT_EQ(w.labUser->text(), "用户列表:");
    EXPECT_EQ(log(), QStringList({lines({"select * from qx_user Order By zuid"})}));
    w.pupmUserPopup();
    EXPECT_FALSE(w.mD1->isEnabled());
    EXPECT_FALSE(w.mE1->isEnabled());
    w.pupmZuPopup();
    EXPECT_FALSE(w.mD2->isEnabled());
    // The actions do nothing without a current node.
    w.dtl1DblClick();
    w.mD1Click();
    w.mD2Click();
    EXPECT_EQ(writes(), QStringList());
}

TEST_P(Admin, AUserWithoutPermissionGroupRowsEmptiesBothListsAndKeepsTheLabels) {
    seed();
    db->execute("DELETE FROM qx_user_zu WHERE userID = 'u2'");
    Tfrmanager& w = open();
    select(user("u2"));
    EXPECT_EQ(w.dtl2->topCount(), 0);
    EXPECT_EQ(w.dtl3->topCount(), 0);
    EXPECT_EQ(w.labUser->text(), "用户列表:(Uwe)");
    EXPECT_EQ(w.labZu->text(), "权限组列表:(admin)");
    EXPECT_EQ(w.Label3->text(), "权限组列表:(system)(组)");
}

// ---------------------------------------------------------------------------------------------
// The toggles

TEST_P(Admin, UserFlagsCascadeBetweenGroupsAndMembers) {
    seed();
    Tfrmanager& w = open();
    auto toggle = [&](const QString& id) {
        clearLog();
        select(user(id));
        clickCheck(w.dtl1, user(id));
        return writes();
    };
    auto flag = [&](const QString& id) { return w.dtl1->text(user(id), "allow"); };
    auto stored = [&](const QString& id) {
        return value("select Allow from qx_user where userID = '" + id + "'");
    };

    // One of two enabled members: one call.
    EXPECT_EQ(toggle("m1"), QStringList({"Exec qxUpDateUserAllows 'm1','F'"}));
    EXPECT_TRUE(w.btnHelp->isEnabled());
    EXPECT_EQ(flag("fin"), "T");
    // The last enabled member: the member, then the group.
    EXPECT_EQ(toggle("m2"),
              QStringList({"Exec qxUpDateUserAllows 'm2','F'", "Exec qxUpDateUserAllows 'fin','F'"}));
    EXPECT_EQ(flag("fin"), "F");
    EXPECT_EQ(stored("fin"), "F");
    // Enabling a member of a disabled group enables the group; a second member then sends one.
    EXPECT_EQ(toggle("m1"),
              QStringList({"Exec qxUpDateUserAllows 'm1','T'", "Exec qxUpDateUserAllows 'fin','T'"}));
    EXPECT_EQ(toggle("m2"), QStringList({"Exec qxUpDateUserAllows 'm2','T'"}));
    // Disabling a group: the group, then each member that was enabled.
    EXPECT_EQ(toggle("fin"),
              QStringList({"Exec qxUpDateUserAllows 'fin','F'", "Exec qxUpDateUserAllows 'm1','F'",
                           "Exec qxUpDateUserAllows 'm2','F'"}));
    EXPECT_EQ(flag("m1"), "F");
    // Enabling a group whose member is partly enabled sends only for the disabled ones.
    db->execute("UPDATE qx_user SET Allow = 'T' WHERE userID = 's1'");
    w.dtl1->setText(user("s1"), "allow", "T");
    EXPECT_EQ(toggle("sal"), QStringList({"Exec qxUpDateUserAllows 'sal','T'"}));
    // A user in no group, and a member whose group is missing: their own call only.
    EXPECT_EQ(toggle("u2"), QStringList({"Exec qxUpDateUserAllows 'u2','T'"}));
    EXPECT_EQ(toggle("lost"), QStringList({"Exec qxUpDateUserAllows 'lost','F'"}));
    for (const char* id : {"fin", "m1", "m2", "sal", "s1", "u2", "lost"})
        EXPECT_EQ(stored(id), flag(id)) << id;
    expectClean();
}

TEST_P(Admin, APermissionGroupToggleSendsOneCallForTheOwner) {
    seed();
    Tfrmanager& w = open();
    // The group finance is current: its row owns the assignment.
    clearLog();
    clickCheck(w.dtl2, named(w.dtl2, "clerk"));
    EXPECT_EQ(writes(), QStringList({"Exec qx_user_zu_changed 'fin','clerk','T'"}));
    EXPECT_EQ(w.dtl2->text(named(w.dtl2, "clerk"), "allow"), "T");
    EXPECT_EQ(count("select AllowCount from qx_user_qx where userID = 'fin' and qxID = 2001"), 1);
    EXPECT_EQ(
        count("select count(*) from qx_user_zu where userID = 'fin' and zuName = 'clerk' and Allow = 'T'"),
        1);
    expectClean();
    // Taken away again.
    clearLog();
    clickCheck(w.dtl2, named(w.dtl2, "admin"));
    EXPECT_EQ(writes(), QStringList({"Exec qx_user_zu_changed 'fin','admin','F'"}));
    EXPECT_EQ(count("select AllowCount from qx_user_qx where userID = 'fin' and qxID = 1001"), 0);
    expectClean();
    // A user in no group owns its own.
    select(user("u2"));
    clearLog();
    clickCheck(w.dtl2, named(w.dtl2, "admin"));
    EXPECT_EQ(writes(), QStringList({"Exec qx_user_zu_changed 'u2','admin','T'"}));
    EXPECT_EQ(count("select AllowCount from qx_user_qx where userID = 'u2' and qxID = 1001"), 1);
    expectClean();
}

TEST_P(Admin, ItemTogglesCascadeBetweenHeadItemsAndItems) {
    seed();
    Tfrmanager& w = open();
    // admin grants 1001 only and finance is in admin.
    auto toggle = [&](const QString& item) {
        clearLog();
        clickCheck(w.dtl3, named(w.dtl3, item));
        return writes();
    };
    auto grants = [&](int item) {
        return count(
            QString("select AllowCount from qx_user_qx where userID = 'fin' and qxID = %1").arg(item));
    };
    // The head of partly checked items: the head, then only the unchecked item.
    EXPECT_EQ(toggle("system"),
              QStringList({"Exec qxUpDateAllows 'admin',1000,'T'", "Exec qxUpDateAllows 'admin',1002,'T'"}));
    EXPECT_EQ(grants(1001), 1); // not raised twice
    EXPECT_EQ(grants(1002), 1);
    EXPECT_EQ(grants(1000), 1);
    expectClean();
    // One of two checked items: one call; the last one: the item, then the head.
    EXPECT_EQ(toggle("users"), QStringList({"Exec qxUpDateAllows 'admin',1001,'F'"}));
    EXPECT_EQ(toggle("backup"),
              QStringList({"Exec qxUpDateAllows 'admin',1002,'F'", "Exec qxUpDateAllows 'admin',1000,'F'"}));
    EXPECT_EQ(w.dtl3->text(named(w.dtl3, "system"), "allow"), "F");
    // An item under an unchecked head checks the head; a second item sends one call.
    EXPECT_EQ(toggle("order"),
              QStringList({"Exec qxUpDateAllows 'admin',2001,'T'", "Exec qxUpDateAllows 'admin',2000,'T'"}));
    EXPECT_EQ(toggle("refund"), QStringList({"Exec qxUpDateAllows 'admin',2002,'T'"}));
    // Unchecking a head: the head, then every checked item.
    EXPECT_EQ(toggle("sales"),
              QStringList({"Exec qxUpDateAllows 'admin',2000,'F'", "Exec qxUpDateAllows 'admin',2001,'F'",
                           "Exec qxUpDateAllows 'admin',2002,'F'"}));
    for (int item : {1000, 1001, 1002, 2000, 2001, 2002})
        EXPECT_EQ(grants(item), 0) << item;
    EXPECT_EQ(w.dtl3->text(named(w.dtl3, "refund"), "allow"), "F");
    expectClean();
}

TEST_P(Admin, ANewPermissionGroupGrantsNothingUntilItIsAssigned) {
    seed();
    Tfrmanager& w = open();
    clearLog();
    {
        ModalScript s;
        s.then("frqxzu", [](QWidget* d) {
            EXPECT_EQ(d->windowTitle(), "添加权限组");
            child<QLineEdit>(d, "Edit1")->setText("  audit ");
            click(d, "btnOK");
        });
        w.mA2Click();
    }
    EXPECT_EQ(writes(), QStringList({"Exec qxAddzuName 'audit'"}));
    EXPECT_EQ(log().first(), lines({"select * from qx_zu where zuName = 'audit'"}));
    EXPECT_EQ(names(w.dtl2), QStringList({"admin", "clerk", "audit"})); // at the end until the next rebuild
    EXPECT_EQ(w.dtl2->currentNode(), named(w.dtl2, "audit"));
    EXPECT_EQ(w.dtl3->nodeCount(), 6);
    for (QTreeWidgetItemIterator it(w.dtl3); *it; ++it)
        EXPECT_EQ(w.dtl3->text(*it, "allow"), "F");
    EXPECT_EQ(w.labZu->text(), "权限组列表:(audit)");
    EXPECT_TRUE(w.btnHelp->isEnabled());
    expectClean();

    // Items checked in it change nothing for the group until it is assigned.
    clickCheck(w.dtl3, named(w.dtl3, "backup"));
    EXPECT_EQ(count("select AllowCount from qx_user_qx where userID = 'fin' and qxID = 1002"), 0);
    clearLog();
    clickCheck(w.dtl2, named(w.dtl2, "audit"));
    EXPECT_EQ(writes(), QStringList({"Exec qx_user_zu_changed 'fin','audit','T'"}));
    EXPECT_EQ(count("select AllowCount from qx_user_qx where userID = 'fin' and qxID = 1002"), 1);
    expectClean();

    // A name in use is refused in the dialog; an empty one too.
    MessageRecorder rec;
    {
        ModalScript s;
        s.then("frqxzu", fillName("")).then("frqxzu", fillName("admin")).then("frqxzu", [](QWidget* d) {
            click(d, "SpeedButton1");
        });
        w.mA2Click();
    }
    ASSERT_EQ(rec.boxes.size(), 2u);
    EXPECT_EQ(rec.boxes[0].text, "组名称不能为空!");
    EXPECT_EQ(rec.boxes[0].caption, "错误");
    EXPECT_EQ(rec.boxes[1].text, "组名称\"admin\"已存在! 请输入一个新组名称.");
    EXPECT_EQ(names(w.dtl2).size(), 3);
}

TEST_P(Admin, DeletingPermissionGroupsTakesBackTheirGrantsAndTheLastEmptiesTheRights) {
    seed();
    Tfrmanager& w = open();
    MessageRecorder rec;
    rec.answers = {mb::IdCancel, mb::IdOk, mb::IdOk};
    clearLog();
    w.mD2Click(); // cancelled
    EXPECT_EQ(writes(), QStringList());
    w.mD2Click();
    EXPECT_EQ(writes(), QStringList({"Exec qxDelzu 'admin'"}));
    ASSERT_EQ(rec.boxes.size(), 2u);
    EXPECT_EQ(rec.boxes[1].text, "确实要删除权限组:(admin)吗?");
    EXPECT_EQ(rec.boxes[1].caption, "询问");
    EXPECT_EQ(rec.boxes[1].type, mb::OkCancel | mb::IconQuestion);
    EXPECT_TRUE(rec.boxes[1].hasOwner);
    // The next node became current and its rights are shown.
    EXPECT_EQ(names(w.dtl2), QStringList({"clerk"}));
    EXPECT_EQ(w.labZu->text(), "权限组列表:(clerk)");
    EXPECT_EQ(count("select AllowCount from qx_user_qx where userID = 'fin' and qxID = 1001"), 0);
    expectClean();
    clearLog();
    w.mD2Click();
    EXPECT_EQ(writes(), QStringList({"Exec qxDelzu 'clerk'"}));
    EXPECT_EQ(w.dtl2->topCount(), 0);
    EXPECT_EQ(w.dtl3->topCount(), 0);
    EXPECT_EQ(count("select count(*) from qx_zu"), 0);
    expectClean();
}

// ---------------------------------------------------------------------------------------------
// Users and user groups

TEST_P(Admin, AddingUsersInsertsMembersAndGivesStandaloneUsersTheirRows) {
    seed();
    Tfrmanager& w = open();
    select(user("m2")); // a member: its group is preselected
    clearLog();
    {
        ModalScript s;
        s.then("frUser", [](QWidget* d) {
            EXPECT_EQ(d->windowTitle(), "添加用户");
            EXPECT_EQ(child<QComboBox>(d, "cbzu")->currentText(), "finance");
            EXPECT_EQ(child<QComboBox>(d, "cbzu")->count(), 3); // finance, sales, no group
            EXPECT_FALSE(child<QFrame>(d, "Panel1")->isVisible());
            EXPECT_EQ(child<QDateEdit>(d, "dt1")->date(), QDate::currentDate());
            fillUser(" n1 ", "Nina", "", true)(d);
        });
        w.mA1Click();
    }
    const QString today = QDate::currentDate().toString("yyyy-MM-dd");
    EXPECT_EQ(
        writes(),
        QStringList({"Insert qx_user (userID, userName, userPwd, startTime, endTime, Allow, AllowZekou,zuid) "
                     "VALUES ('n1','Nina','','" +
                     today + "','" + today + "','T',0,1001)"}));
    QTreeWidgetItem* n1 = user("n1");
    ASSERT_NE(n1, nullptr);
    EXPECT_EQ(n1->parent(), user("fin"));
    EXPECT_EQ(n1->parent()->indexOfChild(n1), 2);
    EXPECT_EQ(w.CurrentUserNode, n1);
    EXPECT_EQ(w.labUser->text(), "用户列表:(Nina)");
    EXPECT_EQ(count("select count(*) from qx_user_qx where userID = 'n1'"), 0);
    EXPECT_EQ(value("select userPwd from qx_user where userID = 'n1'"), ""); // empty, not a cipher text
    expectClean();

    // A standalone user is current: nothing is preselected, the user gets the procedure too.
    select(user("u1"));
    w.showDiscount = 1;
    clearLog();
    {
        ModalScript s;
        s.then("frUser", [](QWidget* d) {
            EXPECT_EQ(child<QComboBox>(d, "cbzu")->currentIndex(), -1);
            EXPECT_TRUE(child<QFrame>(d, "Panel1")->isVisible());
            fillUser("n2", "Nora", "abc", false, -2, 35)(d);
        });
        w.mA1Click();
    }
    const QStringList wr = writes();
    ASSERT_EQ(wr.size(), 2);
    EXPECT_TRUE(wr[0].endsWith("'F',35,10000)")) << wr[0].toStdString();
    EXPECT_EQ(wr[1], "Exec qxAddUser 'n2'");
    EXPECT_EQ(DecryptPassword(value("select userPwd from qx_user where userID = 'n2'"), "kmpq"), "abc");
    EXPECT_EQ(user("n2")->parent(), nullptr);
    EXPECT_EQ(w.dtl1->topNode(w.dtl1->topCount() - 1), user("n2"));
    EXPECT_EQ(count("select count(*) from qx_user_qx where userID = 'n2'"), 6);
    expectClean();

    // A user ID in use and empty fields are refused; the dialog stays until cancelled.
    MessageRecorder rec;
    clearLog();
    {
        ModalScript s;
        s.then("frUser", fillUser("m1", "X", "", true))
            .then("frUser", fillUser("", "X", "", true))
            .then("frUser", [](QWidget* d) { click(d, "SpeedButton1"); });
        w.mA1Click();
    }
    ASSERT_EQ(rec.boxes.size(), 2u);
    EXPECT_EQ(rec.boxes[0].text, "用户ID\"m1\"已存在! 请输入一个新的用户ID.");
    EXPECT_EQ(rec.boxes[1].text, "用户ID和姓名必须输入,不能为空.");
    EXPECT_EQ(log(), QStringList({lines({"select * from qx_user where userID ='m1'"})}));
}

TEST_P(Admin, EditingMovesUsersBetweenGroupsWithTheirProcedures) {
    seed();
    Tfrmanager& w = open();
    // Unchanged: the update with the same zuid, no procedure.
    select(user("m1"));
    clearLog();
    {
        ModalScript s;
        s.then("frUser", [](QWidget* d) {
            EXPECT_EQ(d->windowTitle(), "编辑用户信息");
            EXPECT_TRUE(child<QLineEdit>(d, "Edit1")->isReadOnly());
            EXPECT_EQ(child<QLineEdit>(d, "Edit3")->text(), "pw1");
            EXPECT_EQ(child<QComboBox>(d, "cbzu")->currentText(), "finance");
            EXPECT_EQ(child<QDateEdit>(d, "dt1")->date(), QDate(2026, 1, 1));
            EXPECT_TRUE(child<QCheckBox>(d, "chkAllow")->isChecked());
            EXPECT_EQ(child<TUpDown>(d, "UpDown1")->position(), 15);
            click(d, "btnOK");
        });
        w.dtl1DblClick();
    }
    QStringList wr = writes();
    ASSERT_EQ(wr.size(), 1);
    EXPECT_TRUE(wr[0].startsWith("Update qx_user Set userName = 'Mary',userPwd = '")) << wr[0].toStdString();
    EXPECT_TRUE(wr[0].endsWith(
        "',startTime = '2026-01-01',endTime = '2026-12-31',Allow = 'T',AllowZekou = 15, zuid = 1001 "
        "where userID = 'm1'"))
        << wr[0].toStdString();
    EXPECT_EQ(DecryptPassword(value("select userPwd from qx_user where userID = 'm1'"), "kmpq"), "pw1");

    // Member to no group: the update, then qxuseroutzu with the old group; the node moves to
    // the end of the top level and is current.
    clearLog();
    {
        ModalScript s;
        s.then("frUser", fillUser(QString(), "Mary", QString(), true, 2));
        w.dtl1DblClick();
    }
    wr = writes();
    ASSERT_EQ(wr.size(), 2);
    EXPECT_TRUE(wr[0].endsWith(", zuid = 10000 where userID = 'm1'"));
    EXPECT_EQ(wr[1], "exec qxuseroutzu 'm1',1");
    QTreeWidgetItem* m1 = user("m1");
    EXPECT_EQ(m1->parent(), nullptr);
    EXPECT_EQ(w.dtl1->topNode(w.dtl1->topCount() - 1), m1);
    EXPECT_EQ(TreeList::nodeValue(m1), 10000);
    EXPECT_EQ(w.CurrentUserNode, m1);
    EXPECT_EQ(w.dtl1->text(m1, "startDate"), "2026-01-01");
    EXPECT_EQ(names(w.dtl1, user("fin")), QStringList({"Mike"}));
    EXPECT_FALSE(w.dxTreeList2Column2->readOnly()); // owns its permission groups now
    EXPECT_EQ(count("select count(*) from qx_user_qx where userID = 'm1'"), 6);
    expectClean();

    // No group to group 2: the update, then qxuserintozu with the new group.
    select(user("u1"));
    clearLog();
    {
        ModalScript s;
        s.then("frUser", [](QWidget* d) {
            EXPECT_EQ(child<QComboBox>(d, "cbzu")->currentIndex(), 2); // the empty entry
            fillUser(QString(), "Ursula", QString(), true, 1)(d);
        });
        w.dtl1DblClick();
    }
    wr = writes();
    ASSERT_EQ(wr.size(), 2);
    EXPECT_TRUE(wr[0].endsWith(", zuid = 1002 where userID = 'u1'"));
    EXPECT_EQ(wr[1], "exec qxuserintozu 'u1',2");
    EXPECT_EQ(names(w.dtl1, user("sal")), QStringList({"Sam", "Ursula"}));
    EXPECT_TRUE(w.dxTreeList2Column2->readOnly());
    expectClean();

    // Group to group: the update only.
    select(user("m2"));
    clearLog();
    {
        ModalScript s;
        s.then("frUser", fillUser(QString(), "Mike", QString(), false, 1));
        w.dtl1DblClick();
    }
    wr = writes();
    ASSERT_EQ(wr.size(), 1);
    EXPECT_TRUE(wr[0].endsWith(",Allow = 'F',AllowZekou = 15, zuid = 1002 where userID = 'm2'"));
    EXPECT_EQ(user("m2")->parent(), user("sal"));
    EXPECT_EQ(user("fin")->childCount(), 0);
    expectClean();

    // A user group is not edited; a cancelled dialog sends nothing.
    select(user("fin"));
    clearLog();
    w.dtl1DblClick();
    select(user("u2"));
    clearLog();
    {
        ModalScript s;
        s.then("frUser", [](QWidget* d) { click(d, "SpeedButton1"); });
        w.dtl1DblClick();
    }
    EXPECT_EQ(writes(), QStringList());
}

TEST_P(Admin, AStoredDateThatCannotBeReadStopsTheEditBeforeTheDialog) {
    seed();
    db->execute("UPDATE qx_user SET startTime = '2026-1-5' WHERE userID = 'u1'");
    Tfrmanager& w = open();
    select(user("u1"));
    MessageRecorder rec;
    clearLog();
    w.dtl1DblClick(); // no dialog opens: the recorder would see no box otherwise
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_TRUE(rec.boxes[0].text.contains("2026-1-5"));
    EXPECT_EQ(rec.boxes[0].type, mb::Ok | mb::IconError);
    EXPECT_EQ(writes(), QStringList());
}

TEST_P(Admin, DeletingAUserGroupTakesItsMembers) {
    seed();
    Tfrmanager& w = open();
    MessageRecorder rec;
    rec.answers = {mb::IdCancel, mb::IdOk, mb::IdOk};
    select(user("u2"));
    clearLog();
    w.mD1Click();
    EXPECT_EQ(writes(), QStringList());
    w.mD1Click();
    EXPECT_EQ(writes(), QStringList({"Exec qxDelUser 'u2'"}));
    EXPECT_EQ(rec.boxes[0].text, "确实要删除用户“Uwe”吗?");
    // The node before it became current.
    EXPECT_EQ(w.CurrentUserNode, user("u1"));
    EXPECT_EQ(w.labUser->text(), "用户列表:(Ursula)");
    expectClean();

    select(user("fin"));
    clearLog();
    w.mD1Click();
    EXPECT_EQ(rec.boxes[2].text, "确实要删除用户组“finance”及该组所有用户吗?");
    EXPECT_EQ(writes(), QStringList({"Exec qxDelUser 'fin'"}));
    EXPECT_EQ(user("m1"), nullptr);
    EXPECT_EQ(user("m2"), nullptr);
    EXPECT_EQ(count("select count(*) from qx_user where zuid = 1001 or userID = 'fin'"), 0);
    EXPECT_EQ(w.CurrentUserNode, user("sal")); // no node before it: the one that followed
    EXPECT_TRUE(w.btnHelp->isEnabled());
    expectClean();
}

TEST_P(Admin, DeletingTheLastUserLeavesTheOtherListsRefusingEdits) {
    seed();
    db->execute("DELETE FROM qx_user WHERE userID <> 'u1'");
    Tfrmanager& w = open();
    MessageRecorder rec;
    w.mD1Click();
    EXPECT_EQ(w.dtl1->topCount(), 0);
    EXPECT_EQ(w.CurrentUserNode, nullptr);
    EXPECT_EQ(w.dtl2->topCount(), 2); // keep what they showed
    EXPECT_TRUE(w.dxTreeList2Column2->readOnly());
    EXPECT_TRUE(w.TreeListColumn2->readOnly());
    clearLog();
    clickCheck(w.dtl2, w.dtl2->topNode(0));
    EXPECT_EQ(writes(), QStringList());
}

TEST_P(Admin, AUserGroupTakesTheFirstFreeNumber) {
    seed();
    addRow("g4", "fourth", 4, "T");
    Tfrmanager& w = open();
    clearLog();
    {
        ModalScript s;
        s.then("frqxzu", [](QWidget* d) {
             EXPECT_EQ(d->windowTitle(), "添加用户组");
             fillName("u1")(d); // a user's ID is refused
         }).then("frqxzu", fillName("third"));
        MessageRecorder rec;
        w.btnAddUserzuClick();
        ASSERT_EQ(rec.boxes.size(), 1u);
        EXPECT_EQ(rec.boxes[0].text, "用户组名称不能与已有组,或用户名称重复! 请重新输入.");
    }
    EXPECT_EQ(log(), QStringList({lines({"select * from qx_user where userid = 'u1'"}),
                                  lines({"select * from qx_user where userid = 'third'"}),
                                  lines({"select * from qx_user where zuid < 1000 order by zuid"}),
                                  "INSERT INTO qx_user (zuid,userid,username) VALUES (3,'third','third')",
                                  lines({"select * from qx_user where userid = 'third'"}),
                                  "Exec qxAddUser 'third'", userZuQuery("third"), rightsQuery("admin"),
                                  userZuQuery("third"), rightsQuery("admin")}));
    EXPECT_EQ(names(w.dtl1).mid(0, 4), QStringList({"finance", "sales", "third", "fourth"}));
    EXPECT_EQ(TreeList::nodeValue(user("third")), 3);
    // The node shows the flag the store gave the row the insert left it to.
    EXPECT_EQ(w.dtl1->text(user("third"), "allow"),
              value("select Allow from qx_user where userID = 'third'"));
    EXPECT_EQ(w.dtl1->text(user("third"), "allow"), "T");
    EXPECT_EQ(w.CurrentUserNode, user("third"));
    EXPECT_EQ(w.labUser->text(), "用户列表:(third)(组)");
    EXPECT_EQ(count("select zuid from qx_user where userID = 'third'"), 3);
    EXPECT_EQ(count("select count(*) from qx_user_qx where userID = 'third'"), 6);
    expectClean();

    // 1, 2, 3, 4 in use: the next is 5, placed after them.
    {
        ModalScript s;
        s.then("frqxzu", fillName("fifth"));
        w.btnAddUserzuClick();
    }
    EXPECT_EQ(TreeList::nodeValue(user("fifth")), 5);
    EXPECT_EQ(w.dtl1->topNode(4), user("fifth"));
    // A user can now join it.
    EXPECT_EQ(user("fifth")->childCount(), 0);
    expectClean();
}

TEST_P(Admin, AThousandthUserGroupIsRefusedAndNothingIsSent) {
    // 999 user groups: every number the numbering holds.
    db->execute("INSERT INTO qx_Name (qxID, qxName) VALUES (1000, 'system')");
    for (int i = 1; i <= 999; ++i)
        db->execute(QString("INSERT INTO qx_user (userID, userName, userPwd, Allow, AllowZekou, zuid) "
                            "VALUES ('g%1','g%1','','T',0,%1)")
                        .arg(i));
    Tfrmanager& w = open();
    MessageRecorder rec;
    clearLog();
    {
        ModalScript s;
        s.then("frqxzu", fillName("one-too-many"));
        w.btnAddUserzuClick();
    }
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].text, "用户组已达999个, 不能再添加用户组.");
    EXPECT_EQ(rec.boxes[0].caption, "错误");
    EXPECT_EQ(writes(), QStringList());
    EXPECT_EQ(count("select count(*) from qx_user"), 999);
    EXPECT_EQ(w.dtl1->topCount(), 999);
    EXPECT_FALSE(w.btnHelp->isEnabled());
}

// Under the store's password policy: a hashed row opens with an empty password box and keeps its
// hash unless one is typed, a typed one is stored as a hash, and saving the user lifts its lock.
TEST_P(Admin, TheUserDialogKeepsAHashAndSavingLiftsTheLock) {
    seed();
    db->execute("update vardex_settings set value = 'bcrypt' where name = 'password.hash'");
    db->execute("update vardex_settings set value = '2' where name = 'lockout.failures'");
    const QString hash = hashPassword("secret", 10);
    db->execute("update qx_user set userPwd = '" + hash + "' where userID = 'u1'");
    db->execute(
        "insert into vardex_lockout (userID, failures, lastFailure) values ('u1', 2, '2999-01-01 00:00:00')");
    Tfrmanager& w = open();
    const auto edit = [&](const char* typed) {
        ModalScript s;
        s.then("frUser", [typed](QWidget* d) {
            QLineEdit* box = child<QLineEdit>(d, "Edit3");
            EXPECT_EQ(box->text(), "");
            QTest::mouseClick(box, Qt::LeftButton);
            QTest::keyClicks(box, typed);
            QTest::mouseClick(child<QAbstractButton>(d, "btnOK"), Qt::LeftButton);
        });
        QTest::mouseDClick(w.dtl1->viewport(), Qt::LeftButton, Qt::NoModifier,
                           w.dtl1->visualItemRect(user("u1")).center() - QPoint(40, 0));
    };
    edit("");
    EXPECT_EQ(value("select userPwd from qx_user where userID = 'u1'"), hash);
    EXPECT_EQ(count("select count(*) from vardex_lockout"), 0);
    EXPECT_EQ(count("select count(*) from qx_Logs where theLog = '账号解锁' and userName = 'Ursula'"), 1);
    edit("fresh");
    const QString stored = value("select userPwd from qx_user where userID = 'u1'");
    EXPECT_NE(stored, hash);
    EXPECT_TRUE(verifyPasswordHash("fresh", stored));
    EXPECT_EQ(count("select count(*) from qx_Logs where theLog = '账号解锁'"), 1); // no lock, no row
    // A least length: the box empty keeps the hash, a new password over bcrypt's 72 bytes or a
    // short one is refused with the dialog left open, a long enough one is taken.
    db->execute("update vardex_settings set value = '6' where name = 'password.minlength'");
    dataModule().Policy.minLength = 6; // as the next ConnectDatabase reads it
    MessageRecorder boxes;
    ModalScript s;
    s.then("frUser", [](QWidget* d) {
        QLineEdit* box = child<QLineEdit>(d, "Edit3");
        QTest::mouseClick(box, Qt::LeftButton);
        QTest::keyClicks(box, QString(73, QLatin1Char('x')));
        QTest::mouseClick(child<QAbstractButton>(d, "btnOK"), Qt::LeftButton);
        EXPECT_TRUE(d->isVisible());
        box->clear();
        QTest::keyClicks(box, "abc");
        QTest::mouseClick(child<QAbstractButton>(d, "btnOK"), Qt::LeftButton);
        EXPECT_TRUE(d->isVisible());
        QTest::keyClicks(box, "def");
        QTest::mouseClick(child<QAbstractButton>(d, "btnOK"), Qt::LeftButton);
    });
    QTest::mouseDClick(w.dtl1->viewport(), Qt::LeftButton, Qt::NoModifier,
                       w.dtl1->visualItemRect(user("u1")).center() - QPoint(40, 0));
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[0].text, QStringLiteral("新密码太长(超过 72 字节)! "));
    EXPECT_EQ(boxes.boxes[1].text, QStringLiteral("新密码不符合密码规则(长度不够)! "));
    EXPECT_TRUE(verifyPasswordHash("abcdef", value("select userPwd from qx_user where userID = 'u1'")));
}

TEST_P(Admin, ButtonsMenusAndDoubleClicksReachTheActions) {
    seed();
    Tfrmanager& w = open();
    // A double click on a user opens the edit dialog; on a user group nothing opens.
    {
        ModalScript s;
        s.then("frUser", [](QWidget* d) {
            EXPECT_EQ(d->windowTitle(), "编辑用户信息");
            EXPECT_EQ(child<QLineEdit>(d, "Edit1")->text(), "u2");
            click(d, "SpeedButton1");
        });
        QTest::mouseDClick(w.dtl1->viewport(), Qt::LeftButton, Qt::NoModifier,
                           w.dtl1->visualItemRect(user("u2")).center() - QPoint(40, 0));
    }
    QTest::mouseDClick(w.dtl1->viewport(), Qt::LeftButton, Qt::NoModifier,
                       w.dtl1->visualItemRect(user("fin")).center() - QPoint(40, 0));
    // The buttons.
    clearLog();
    {
        ModalScript s;
        s.then("frqxzu", fillName("team"));
        click(&w, "btnAddUserzu");
    }
    EXPECT_NE(user("team"), nullptr);
    {
        ModalScript s;
        s.then("frUser", [](QWidget* d) {
            EXPECT_EQ(child<QComboBox>(d, "cbzu")->currentText(), "team"); // the current group
            fillUser("t1", "Tina", "", true)(d);
        });
        click(&w, "btnAddUser");
    }
    EXPECT_EQ(user("t1")->parent(), user("team"));
    {
        ModalScript s;
        s.then("frqxzu", fillName("audit"));
        click(&w, "btnAddZu");
    }
    MessageRecorder rec;
    click(&w, "btnDelZu");
    click(&w, "btnDelUser");
    EXPECT_EQ(
        writes(),
        QStringList({"INSERT INTO qx_user (zuid,userid,username) VALUES (3,'team','team')",
                     "Exec qxAddUser 'team'",
                     "Insert qx_user (userID, userName, userPwd, startTime, endTime, Allow, AllowZekou,zuid) "
                     "VALUES ('t1','Tina','','" +
                         QDate::currentDate().toString("yyyy-MM-dd") + "','" +
                         QDate::currentDate().toString("yyyy-MM-dd") + "','T',0,1003)",
                     "Exec qxAddzuName 'audit'", "Exec qxDelzu 'audit'", "Exec qxDelUser 't1'"}));
    expectClean();
}

TEST_P(Admin, TheFirstUserOfAnEmptyStoreHasNoGroupToChoose) {
    Tfrmanager& w = open();
    {
        ModalScript s;
        s.then("frUser", [](QWidget* d) {
            auto* cb = child<QComboBox>(d, "cbzu");
            EXPECT_EQ(cb->count(), 1);
            EXPECT_EQ(cb->currentIndex(), 0); // the empty entry
            fillUser("first", "First", "pw", true)(d);
        });
        w.mA1Click();
    }
    EXPECT_EQ(writes().size(), 2);
    EXPECT_EQ(writes().last(), "Exec qxAddUser 'first'");
    EXPECT_EQ(w.CurrentUserNode, user("first"));
    EXPECT_TRUE(w.btnDelUser->isEnabled());
    expectClean();
}

// ---------------------------------------------------------------------------------------------
// Failing statements

TEST_P(Admin, AFailingStatementStopsTheActionAndKeepsWhatWasDone) {
    seed();
    Tfrmanager& w = open();
    AdoConnection& cn = dataModule().ADOcn;
    cn.setStatementHook([](const QString& sql) {
        if (sql == "Exec qxUpDateUserAllows 'fin','F'" || sql == "Exec qxAddUser 'n9'")
            throw DbError("refused by the test");
    });
    MessageRecorder rec;
    // The cascade stops at the group's call; the member's change stays, shown and stored.
    select(user("m1"));
    clickCheck(w.dtl1, user("m1"));
    select(user("m2"));
    clickCheck(w.dtl1, user("m2"));
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].text, "refused by the test");
    EXPECT_EQ(rec.boxes[0].type, mb::Ok | mb::IconError);
    EXPECT_EQ(w.dtl1->text(user("m2"), "allow"), "F");
    EXPECT_EQ(w.dtl1->text(user("fin"), "allow"), "F"); // shown before it was sent
    EXPECT_EQ(value("select Allow from qx_user where userID = 'm2'"), "F");
    EXPECT_EQ(value("select Allow from qx_user where userID = 'fin'"), "T");

    // A new user's node stays when the procedure call fails after the insert.
    select(user("u1"));
    {
        ModalScript s;
        s.then("frUser", fillUser("n9", "Nine", "", true));
        w.mA1Click();
    }
    ASSERT_EQ(rec.boxes.size(), 2u);
    EXPECT_NE(user("n9"), nullptr);
    EXPECT_EQ(count("select count(*) from qx_user where userID = 'n9'"), 1);

    // A failing list query while the current user changes: shown, the window goes on.
    cn.setStatementHook([](const QString& sql) {
        if (sql.contains("qx_user_zu") && sql.contains("'sal'"))
            throw DbError("query refused");
    });
    select(user("sal"));
    ASSERT_EQ(rec.boxes.size(), 3u);
    EXPECT_EQ(rec.boxes[2].text, "query refused");
    EXPECT_FALSE(w.loading);
    cn.setStatementHook({});
    select(user("u2"));
    EXPECT_EQ(w.labUser->text(), "用户列表:(Uwe)");
    EXPECT_EQ(w.dtl2->topCount(), 2);
}

TEST_P(Admin, AFailingLoadIsShownAndLeavesAWorkingWindow) {
    seed();
    connect();
    dataModule().ADOcn.setStatementHook([](const QString& sql) {
        if (sql.contains("Order By zuid"))
            throw DbError("load refused");
    });
    MessageRecorder rec;
    window = std::make_unique<Tfrmanager>();
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].text, "load refused");
    EXPECT_EQ(window->dtl1->topCount(), 0);
    EXPECT_FALSE(window->loading);
}

// ---------------------------------------------------------------------------------------------
// The library call and its transaction

class AdminVisit : public Admin {
  protected:
    // Runs ShowRightManager; `script` acts on the window once it is on the screen.
    int visit(int useTransaction, const std::function<void(Tfrmanager&)>& script, int showDiscount = 1) {
        ModalScript s;
        s.then("frmanager", [&](QWidget* w) { script(*static_cast<Tfrmanager*>(w)); });
        return vardex::ShowRightManager(useTransaction, showDiscount);
    }
    void someChanges(Tfrmanager& w) {
        w.dtl1->setCurrentNode(user(w, "u1"));
        w.dtl1->toggleCheck(user(w, "u1"), 1);
        w.dtl2->setCurrentNode(w.dtl2->topNode(0));
        w.dtl2->toggleCheck(w.dtl2->topNode(0), 1);
        MessageRecorder rec;
        w.mD2Click();
        w.dtl1->setCurrentNode(user(w, "m1"));
        w.dtl1->toggleCheck(user(w, "m1"), 1);
    }
    QTreeWidgetItem* user(Tfrmanager& w, const QString& id) {
        for (QTreeWidgetItemIterator it(w.dtl1); *it; ++it)
            if (w.dtl1->text(*it, "userID") == id)
                return *it;
        return nullptr;
    }
};

TEST_P(AdminVisit, CancelDiscardsEverythingAndOkKeepsIt) {
    seed();
    connect();
    const QStringList before = snapshot();
    visit(1, [&](Tfrmanager& w) {
        EXPECT_TRUE(dataModule().ADOcn.inTransaction());
        EXPECT_TRUE(w.btnCancel->isVisible());
        EXPECT_EQ(w.btnOK->text(), "确定(&O)");
        someChanges(w);
        EXPECT_TRUE(w.btnHelp->isEnabled());
        w.btnCancelClick();
    });
    EXPECT_FALSE(dataModule().ADOcn.inTransaction());
    EXPECT_EQ(snapshot(), before);

    visit(1, [&](Tfrmanager& w) {
        someChanges(w);
        w.btnOKClick();
    });
    EXPECT_FALSE(dataModule().ADOcn.inTransaction());
    EXPECT_NE(snapshot(), before);
    EXPECT_EQ(value("select Allow from qx_user where userID = 'u1'"), "F");
    EXPECT_EQ(count("select count(*) from qx_zu where zuName = 'admin'"), 0);
    expectClean();
}

TEST_P(AdminVisit, SaveCommitsPartWayAndCancelDiscardsOnlyWhatFollowed) {
    seed();
    connect();
    visit(1, [&](Tfrmanager& w) {
        w.dtl1->setCurrentNode(user(w, "u1"));
        w.dtl1->toggleCheck(user(w, "u1"), 1);
        w.btnHelpClick();
        EXPECT_FALSE(w.btnHelp->isEnabled());
        EXPECT_TRUE(dataModule().ADOcn.inTransaction());
        w.dtl1->setCurrentNode(user(w, "u2"));
        w.dtl1->toggleCheck(user(w, "u2"), 1);
        w.btnCancelClick();
    });
    EXPECT_EQ(value("select Allow from qx_user where userID = 'u1'"), "F"); // saved
    EXPECT_EQ(value("select Allow from qx_user where userID = 'u2'"), "F"); // discarded
    visit(1, [&](Tfrmanager& w) {
        w.dtl1->setCurrentNode(user(w, "u1"));
        w.dtl1->toggleCheck(user(w, "u1"), 1);
        w.btnHelpClick();
        w.dtl1->setCurrentNode(user(w, "u2"));
        w.dtl1->toggleCheck(user(w, "u2"), 1);
        w.btnOKClick();
    });
    EXPECT_EQ(value("select Allow from qx_user where userID = 'u1'"), "T");
    EXPECT_EQ(value("select Allow from qx_user where userID = 'u2'"), "T");
    expectClean();
}

TEST_P(AdminVisit, TheSaveQuestionOnClose) {
    seed();
    connect();
    // Cancel keeps the window open; No closes and rolls back.
    {
        MessageRecorder rec;
        rec.answers = {mb::IdCancel, mb::IdNo};
        visit(1, [&](Tfrmanager& w) {
            w.dtl1->setCurrentNode(user(w, "u1"));
            w.dtl1->toggleCheck(user(w, "u1"), 1);
            w.close();
            EXPECT_TRUE(w.isVisible());
            w.close();
        });
        ASSERT_EQ(rec.boxes.size(), 2u);
        EXPECT_EQ(rec.boxes[0].text, "数据可能已经更改, 是否先保存数据再退出?");
        EXPECT_EQ(rec.boxes[0].caption, "确认");
        EXPECT_EQ(rec.boxes[0].type, mb::YesNoCancel | mb::IconQuestion);
        EXPECT_EQ(value("select Allow from qx_user where userID = 'u1'"), "T");
    }
    // Yes: the tag becomes 1 and the visit is committed.
    {
        MessageRecorder rec;
        rec.answers = {mb::IdYes};
        visit(1, [&](Tfrmanager& w) {
            w.dtl1->setCurrentNode(user(w, "u1"));
            w.dtl1->toggleCheck(user(w, "u1"), 1);
            QTest::keyClick(&w, Qt::Key_Escape); // the keyboard's close request
            EXPECT_EQ(w.Tag, 1);
        });
        EXPECT_EQ(rec.boxes.size(), 1u);
        EXPECT_EQ(value("select Allow from qx_user where userID = 'u1'"), "F");
    }
    // Nothing changed since the last save: no question.
    visit(1, [&](Tfrmanager& w) { w.close(); });
    expectClean();
}

TEST_P(AdminVisit, WithoutATransactionEveryStatementStandsAlone) {
    seed();
    connect();
    visit(2, [&](Tfrmanager& w) {
        EXPECT_FALSE(dataModule().ADOcn.inTransaction());
        EXPECT_FALSE(w.btnCancel->isVisible());
        EXPECT_FALSE(w.btnHelp->isVisible());
        EXPECT_EQ(w.btnOK->text(), "关闭(&C)");
        EXPECT_EQ(w.showDiscount, 1);
        w.dtl1->setCurrentNode(user(w, "u1"));
        w.dtl1->toggleCheck(user(w, "u1"), 1);
        EXPECT_EQ(value("select Allow from qx_user where userID = 'u1'"), "F"); // at once
        w.close();                                                              // no question
    });
    EXPECT_EQ(value("select Allow from qx_user where userID = 'u1'"), "F");
}

TEST_P(AdminVisit, FailuresAroundTheWindowNeverLeaveATransactionOpen) {
    seed();
    connect();
    for (const char* failing : {"show", "rollback"}) {
        SCOPED_TRACE(failing);
        MessageRecorder rec;
        std::string which = failing;
        setManagerFaultHook([which](const char* s) {
            if (which == s)
                throw DbError("step refused");
        });
        if (which == "show") {
            vardex::ShowRightManager(1, 0);
        } else {
            visit(1, [&](Tfrmanager& w) {
                w.dtl1->setCurrentNode(user(w, "u1"));
                w.dtl1->toggleCheck(user(w, "u1"), 1);
                w.btnCancelClick();
            });
        }
        setManagerFaultHook({});
        ASSERT_EQ(rec.boxes.size(), 1u);
        EXPECT_EQ(rec.boxes[0].text, "程序发生意外错误, 请关闭程序, 重量新运行.");
        EXPECT_EQ(rec.boxes[0].caption, "出错");
        AdoConnection& cn = dataModule().ADOcn;
        EXPECT_FALSE(cn.inTransaction());
        // A later write of the session is not swallowed by a forgotten transaction.
        vardex::ExecSql("UPDATE qx_user SET userName = 'later' WHERE userID = 'u2'");
        EXPECT_EQ(value("select userName from qx_user where userID = 'u2'"), "later");
        EXPECT_EQ(value("select Allow from qx_user where userID = 'u1'"), "T");
    }
    // Beginning fails: the message, nothing open.
    {
        MessageRecorder rec;
        setManagerFaultHook([](const char* s) {
            if (std::string(s) == "begin")
                throw DbError("no begin");
        });
        vardex::ShowRightManager(1, 0);
        setManagerFaultHook({});
        ASSERT_EQ(rec.boxes.size(), 1u);
        EXPECT_EQ(rec.boxes[0].text, "程序发生意外错误, 请关闭程序, 重量新运行.");
        EXPECT_FALSE(dataModule().ADOcn.inTransaction());
    }
}

TEST_P(AdminVisit, AFailedCommitRollsBackAndSays) {
    seed();
    connect();
    MessageRecorder rec;
    setManagerFaultHook([](const char* s) {
        if (std::string(s) == "commit")
            throw DbError("commit refused");
    });
    visit(1, [&](Tfrmanager& w) {
        w.dtl1->setCurrentNode(user(w, "u1"));
        w.dtl1->toggleCheck(user(w, "u1"), 1);
        w.btnOKClick();
    });
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].text, "数据更新不成功! 请再试.");
    EXPECT_EQ(rec.boxes[0].caption, "出错");
    EXPECT_FALSE(dataModule().ADOcn.inTransaction());
    EXPECT_EQ(value("select Allow from qx_user where userID = 'u1'"), "T");

    // A failed save says so and leaves the button enabled; the visit stays one transaction.
    setManagerFaultHook([](const char* s) {
        if (std::string(s) == "save-commit")
            throw DbError("save refused");
    });
    visit(1, [&](Tfrmanager& w) {
        w.dtl1->setCurrentNode(user(w, "u2"));
        w.dtl1->toggleCheck(user(w, "u2"), 1);
        w.btnHelpClick();
        EXPECT_TRUE(w.btnHelp->isEnabled());
        EXPECT_TRUE(dataModule().ADOcn.inTransaction());
        w.btnCancelClick();
    });
    setManagerFaultHook({});
    ASSERT_EQ(rec.boxes.size(), 2u);
    EXPECT_EQ(rec.boxes[1].text, "数据更新不成功! 请再试.");
    EXPECT_FALSE(dataModule().ADOcn.inTransaction());
    EXPECT_EQ(value("select Allow from qx_user where userID = 'u2'"), "F");
}

TEST_P(AdminVisit, StatementsSentBeforeAFailingOneStayInTheTransaction) {
    seed();
    connect();
    MessageRecorder rec;
    visit(1, [&](Tfrmanager& w) {
        dataModule().ADOcn.setStatementHook([](const QString& sql) {
            if (sql == "Exec qxUpDateUserAllows 'fin','F'")
                throw DbError("refused by the test");
        });
        w.dtl1->setCurrentNode(user(w, "m1"));
        w.dtl1->toggleCheck(user(w, "m1"), 1);
        w.dtl1->setCurrentNode(user(w, "m2"));
        w.dtl1->toggleCheck(user(w, "m2"), 1); // the group's call fails
        dataModule().ADOcn.setStatementHook({});
        w.dtl1->setCurrentNode(user(w, "u2"));
        w.dtl1->toggleCheck(user(w, "u2"), 1);
        w.btnOKClick();
    });
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].text, "refused by the test");
    EXPECT_EQ(value("select Allow from qx_user where userID = 'm1'"), "F");
    EXPECT_EQ(value("select Allow from qx_user where userID = 'm2'"), "F");
    EXPECT_EQ(value("select Allow from qx_user where userID = 'fin'"), "T");
    EXPECT_EQ(value("select Allow from qx_user where userID = 'u2'"), "T");
    expectClean();
}

TEST_P(AdminVisit, ACommitTheServerRefusesIsRolledBack) {
    if (GetParam() == Backend::SQLite)
        GTEST_SKIP() << "needs a constraint checked at commit";
    seed();
    // A check the server makes only at commit: a user called 'boom' is refused then.
    db->execute(
        "CREATE FUNCTION no_boom() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
        "IF NEW.userid = 'boom' THEN RAISE EXCEPTION 'boom refused at commit'; END IF; RETURN NEW; END $$");
    db->execute("CREATE CONSTRAINT TRIGGER no_boom AFTER INSERT ON qx_user DEFERRABLE INITIALLY DEFERRED "
                "FOR EACH ROW EXECUTE FUNCTION no_boom()");
    connect();
    const QStringList before = snapshot();
    MessageRecorder rec;
    visit(1, [&](Tfrmanager& w) {
        ModalScript s;
        s.then("frUser", fillUser("boom", "Boom", "", true));
        w.mA1Click();
        w.dtl1->setCurrentNode(user(w, "u1"));
        w.dtl1->toggleCheck(user(w, "u1"), 1);
        w.btnOKClick();
    });
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].text, "数据更新不成功! 请再试.");
    EXPECT_EQ(rec.boxes[0].caption, "出错");
    EXPECT_FALSE(dataModule().ADOcn.inTransaction());
    EXPECT_EQ(snapshot(), before);
    // The session goes on outside any transaction.
    vardex::ExecSql("UPDATE qx_user SET userName = 'later' WHERE userID = 'u2'");
    EXPECT_EQ(value("select userName from qx_user where userID = 'u2'"), "later");
}

TEST_P(AdminVisit, TheCInterfaceRunsTheWindowAndRefusesWithoutASession) {
    seed();
    connect();
    {
        ModalScript s;
        s.then("frmanager", [](QWidget* w) { static_cast<Tfrmanager*>(w)->btnOKClick(); });
        EXPECT_EQ(::ShowRightManager(1, 0), 0);
    }
    vardex::DisconnectDatabase();
    EXPECT_EQ(::ShowRightManager(1, 0), VARDEX_ERROR);
    EXPECT_STRNE(VardexLastError(), "");
}

INSTANTIATE_TEST_SUITE_P(Store, Admin, VARDEX_BACKEND_PARAMS);
INSTANTIATE_TEST_SUITE_P(Store, AdminVisit, VARDEX_BACKEND_PARAMS);

// ---------------------------------------------------------------------------------------------
// The dialogs on their own

TEST(AdminDialogs, EnterWalksTheUserDialogsBoxesAndConfirmsInTheLastOne) {
    TfrUser dlg;
    dlg.show();
    QApplication::setActiveWindow(&dlg);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    dlg.Edit1->setFocus();
    dlg.Edit1->setText(" id ");
    dlg.Edit2->setText("name");
    const std::vector<QWidget*> chain{dlg.Edit1, dlg.Edit2, dlg.Edit3, dlg.dt1, dlg.dt2, dlg.chkAllow};
    for (size_t i = 0; i + 1 < chain.size(); ++i) {
        ASSERT_TRUE(chain[i]->hasFocus()) << i;
        QTest::keyClick(chain[i], Qt::Key_Return);
    }
    ASSERT_TRUE(dlg.chkAllow->hasFocus());
    // Up and Down move between the edit boxes too.
    dlg.Edit2->setFocus();
    QTest::keyClick(dlg.Edit2, Qt::Key_Up);
    EXPECT_TRUE(dlg.Edit1->hasFocus());
    QTest::keyClick(dlg.Edit1, Qt::Key_Down);
    EXPECT_TRUE(dlg.Edit2->hasFocus());
    // Enter in the check box confirms (edit mode: no query).
    dlg.chkAllow->setFocus();
    QTest::keyClick(dlg.chkAllow, Qt::Key_Return);
    EXPECT_EQ(dlg.Tag, 1);
    EXPECT_FALSE(dlg.isVisible());
    // The buttons take no focus; the discount field starts hidden at 0.
    EXPECT_EQ(dlg.btnOK->focusPolicy(), Qt::NoFocus);
    EXPECT_TRUE(dlg.Panel1->isHidden());
    EXPECT_EQ(dlg.Edit4->text(), "0");
    EXPECT_EQ(dlg.Label7->text(), "最高允许折扣:           %");
}

TEST(AdminDialogs, TheDiscountArrowsStayBetweenZeroAndAHundred) {
    TfrUser dlg;
    TUpDown* ud = dlg.UpDown1;
    ud->stepBy(-1);
    EXPECT_EQ(ud->position(), 0);
    ud->setPosition(99);
    ud->stepBy(1);
    ud->stepBy(1);
    EXPECT_EQ(ud->position(), 100);
    EXPECT_EQ(dlg.Edit4->text(), "100");
    ud->setPosition(-5);
    EXPECT_EQ(dlg.Edit4->text(), "0");
    QTest::keyClicks(dlg.Edit4, "42");
    EXPECT_EQ(ud->position(), 42);
}

TEST(AdminDialogs, TheNameDialogRefusesAnEmptyNameOnEnter) {
    MessageRecorder rec;
    Tfrqxzu dlg;
    dlg.Tag = 3;
    dlg.show();
    dlg.Edit1->setText("   ");
    QTest::keyClick(dlg.Edit1, Qt::Key_Return);
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].text, "组名称不能为空!");
    EXPECT_EQ(rec.boxes[0].caption, "错误");
    EXPECT_EQ(dlg.Tag, 3);
    EXPECT_TRUE(dlg.isVisible());
}

// ---------------------------------------------------------------------------------------------
// Several desktops administering one store at the same moment

namespace {

// Lets a number of threads start each step together.
class StepTogether {
  public:
    explicit StepTogether(int threads) : m_threads(threads) {}
    void arrive() {
        std::unique_lock<std::mutex> lock(m_mutex);
        const int step = m_step;
        if (++m_arrived == m_threads) {
            m_arrived = 0;
            ++m_step;
            m_changed.notify_all();
            return;
        }
        m_changed.wait(lock, [&] { return m_step != step; });
    }

  private:
    const int m_threads;
    int m_arrived = 0, m_step = 0;
    std::mutex m_mutex;
    std::condition_variable m_changed;
};

} // namespace

class ConcurrentWindows : public ::testing::TestWithParam<Backend> {};

// Each thread is a desktop with its own connection making the window's actions as the window
// makes them (the dialog's duplicate check, then the insert), with and without the window's
// transaction, all starting each action at once. No user group number, user or permission
// group comes out twice.
TEST_P(ConcurrentWindows, ActionsAtTheSameMomentAddNothingTwice) {
    if (GetParam() == Backend::PostgreSQL && !postgresAvailable())
        GTEST_SKIP() << "no PostgreSQL cluster";
    TempStore store(GetParam());
    const QString cs = store.connectionString();
    {
        auto cn = openConnection(cs);
        for (int item = 1; item <= 3; ++item)
            cn->execute(QString("INSERT INTO qx_Name (qxID, qxName) VALUES (%1, 'i%1')").arg(item));
    }
    const int desktops = 6, rounds = 3;
    StepTogether together(desktops);
    std::vector<std::thread> threads;
    std::vector<std::string> errors(desktops);
    for (int t = 0; t < desktops; ++t)
        threads.emplace_back([&, t] {
            try {
                TdData d;
                d.ADOcn.setConnectionString(cs);
                d.ADOcn.open();
                for (int r = 0; r < rounds; ++r) {
                    // Half the desktops run each action in a window's transaction.
                    const bool windowTransaction = (t + r) % 2 == 0;
                    const auto act = [&](const std::function<void()>& body) {
                        together.arrive();
                        if (windowTransaction)
                            d.ADOcn.beginTrans();
                        {
                            adminops::Action action;
                            body();
                        }
                        if (windowTransaction)
                            d.ADOcn.commitTrans();
                    };
                    act([&] { adminops::addUserGroup(d, QString("g%1_%2").arg(r).arg(t)); });
                    act([&] {
                        const QString name = QString("shared%1").arg(r);
                        if (!adminops::userGroupNameTaken(d, name))
                            adminops::addUserGroup(d, name);
                    });
                    act([&] {
                        adminops::UserRow u;
                        u.userId = u.userName = QString("u%1").arg(r);
                        u.startDate = "2026-01-01";
                        u.endDate = "2026-12-31";
                        if (!adminops::userIdTaken(d, u.userId))
                            adminops::addUser(d, u);
                    });
                    act([&] {
                        const QString name = QString("pg%1").arg(r);
                        if (!adminops::permissionGroupTaken(d, name))
                            adminops::addPermissionGroup(d, name);
                    });
                }
            } catch (const std::exception& e) {
                errors[t] = e.what();
            }
        });
    for (std::thread& t : threads)
        t.join();
    for (const std::string& e : errors)
        EXPECT_EQ(e, "");
    auto cn = openConnection(cs);
    EXPECT_EQ(scalarInt(*cn, "select count(*) from qx_user where zuid < 1000"), rounds * (desktops + 1));
    EXPECT_EQ(scalarInt(*cn, "select count(distinct zuid) from qx_user where zuid < 1000"),
              rounds * (desktops + 1));
    EXPECT_EQ(scalarInt(*cn, "select count(*) from qx_user where zuid = 10000"), rounds);
    EXPECT_EQ(scalarInt(*cn, "select count(*) from qx_zu"), rounds * 3);
    EXPECT_TRUE(checkStore(*cn).clean());
}

INSTANTIATE_TEST_SUITE_P(Store, ConcurrentWindows, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         [](const ::testing::TestParamInfo<Backend>& info) {
                             return backendName(info.param);
                         });
