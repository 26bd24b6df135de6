// The tree list of the administration window: node data by column name, check cells, the three
// ways of adding, the current-node rules on adding and deleting, clicks, collapse refusal.
#include "admin/treelist.h"

#include <QPixmap>
#include <QTest>
#include <gtest/gtest.h>

using namespace vardex;

namespace {

struct Events {
    std::vector<std::pair<QTreeWidgetItem*, QTreeWidgetItem*>> changes; // (old, new)
    std::vector<std::pair<QString, QString>> toggles;                   // (column name, value)
    std::vector<QTreeWidgetItem*> doubleClicks;
};

class TreeListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        list = std::make_unique<TreeList>();
        list->resize(400, 300);
        nameCol = list->addColumn("colName", "名称", "name", TreeListColumn::Text, 150);
        allowCol = list->addColumn("colAllow", "允许", "allow", TreeListColumn::Check, 40);
        list->addColumn("colPwd", "密码", "password", TreeListColumn::Text, 50, false);
        QVector<QIcon> images;
        for (int i = 0; i < 6; ++i) {
            QPixmap pm(16, 16);
            pm.fill(QColor::fromHsv(i * 50, 200, 200));
            images.append(QIcon(pm));
        }
        list->setImages(images);
        QObject::connect(list.get(), &TreeList::currentNodeChanged,
                         [this](QTreeWidgetItem* o, QTreeWidgetItem* n) {
                             ev.changes.push_back({o, n});
                         });
        QObject::connect(list.get(), &TreeList::checkToggled, [this](TreeListColumn* c, const QString& v) {
            ev.toggles.push_back({c->objectName(), v});
        });
        QObject::connect(list.get(), &TreeList::nodeDoubleClicked,
                         [this](QTreeWidgetItem* n) { ev.doubleClicks.push_back(n); });
    }
    QTreeWidgetItem* named(const QString& name, QTreeWidgetItem* parent = nullptr) {
        auto fill = [&](QTreeWidgetItem* n) { list->setText(n, "name", name); };
        return parent ? list->addChildNode(parent, fill) : list->addNode(fill);
    }
    QStringList topNames() {
        QStringList out;
        for (int i = 0; i < list->topCount(); ++i)
            out << list->text(list->topNode(i), "name");
        return out;
    }
    void click(QTreeWidgetItem* node, int column) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                          list->cellRect(node, column).center());
    }
    std::unique_ptr<TreeList> list;
    TreeListColumn* nameCol = nullptr;
    TreeListColumn* allowCol = nullptr;
    Events ev;
};

} // namespace

TEST_F(TreeListTest, NodesCarryTextsFlagsImagesAndAValue) {
    QTreeWidgetItem* n = named("alice");
    list->setText(n, "password", "0A1B");
    list->setText(n, "allow", "T");
    list->setImageIndex(n, 2, 3);
    TreeList::setNodeValue(n, 1005);
    EXPECT_EQ(list->text(n, "name"), "alice");
    EXPECT_EQ(list->text(n, "password"), "0A1B"); // a hidden column, by name
    EXPECT_TRUE(list->isColumnHidden(2));
    EXPECT_EQ(list->text(n, "nosuch"), "");
    EXPECT_EQ(TreeList::imageIndex(n), 2);
    EXPECT_EQ(TreeList::selectedIndex(n), 3);
    EXPECT_EQ(TreeList::nodeValue(n), 1005);
    EXPECT_EQ(list->column("allow"), allowCol);
    EXPECT_EQ(list->column(1), allowCol);

    // The check cell holds the flag text itself and shows it as a check state.
    const struct {
        const char* flag;
        Qt::CheckState state;
    } cases[] = {{"T", Qt::Checked}, {"F", Qt::Unchecked}, {"O", Qt::PartiallyChecked}};
    for (const auto& c : cases) {
        list->setText(n, "allow", c.flag);
        EXPECT_EQ(list->text(n, "allow"), c.flag);
        EXPECT_EQ(n->checkState(1), c.state) << c.flag;
    }
    // A new node starts unchecked; the node itself is not user-checkable (the list toggles).
    QTreeWidgetItem* m = named("bob");
    EXPECT_EQ(list->text(m, "allow"), "F");
    EXPECT_FALSE(m->flags() & Qt::ItemIsUserCheckable);
}

TEST_F(TreeListTest, TheThreeWaysOfAddingAndTheFirstNodeBecomesCurrent) {
    EXPECT_EQ(list->currentNode(), nullptr);
    QTreeWidgetItem* a = named("a");
    // The first node of an empty list becomes current, reported once, complete when reported.
    ASSERT_EQ(ev.changes.size(), 1u);
    EXPECT_EQ(ev.changes[0].first, nullptr);
    EXPECT_EQ(ev.changes[0].second, a);
    EXPECT_EQ(list->currentNode(), a);
    QTreeWidgetItem* c = named("c");
    QTreeWidgetItem* child = named("a1", a);
    list->insertNodeBefore(c, [&](QTreeWidgetItem* n) { list->setText(n, "name", "b"); });
    list->insertNodeBefore(nullptr, [&](QTreeWidgetItem* n) { list->setText(n, "name", "z"); }); // at the end
    EXPECT_EQ(topNames(), QStringList({"a", "b", "c", "z"}));
    EXPECT_EQ(child->parent(), a);
    EXPECT_EQ(list->nodeCount(), 5);
    EXPECT_EQ(ev.changes.size(), 1u); // later additions keep the current node
    EXPECT_EQ(list->currentNode(), a);
}

TEST_F(TreeListTest, DeletingTheCurrentNodeMovesToThePreviousSiblingThenParentThenNext) {
    QTreeWidgetItem* g1 = named("g1");
    QTreeWidgetItem* m1 = named("m1", g1);
    QTreeWidgetItem* m2 = named("m2", g1);
    QTreeWidgetItem* g2 = named("g2");
    QTreeWidgetItem* u = named("u");

    // Previous sibling.
    list->setCurrentNode(m2);
    ev.changes.clear();
    list->deleteNode(m2);
    ASSERT_EQ(ev.changes.size(), 1u);
    EXPECT_EQ(ev.changes[0].second, m1);
    EXPECT_EQ(list->currentNode(), m1);

    // No sibling before: the parent.
    ev.changes.clear();
    list->deleteNode(m1);
    ASSERT_EQ(ev.changes.size(), 1u);
    EXPECT_EQ(ev.changes[0].second, g1);
    EXPECT_EQ(g1->childCount(), 0);

    // First top-level node: the one that followed it.
    ev.changes.clear();
    list->deleteNode(g1);
    ASSERT_EQ(ev.changes.size(), 1u);
    EXPECT_EQ(ev.changes[0].second, g2);

    // A node that is not current goes silently.
    ev.changes.clear();
    list->deleteNode(u);
    EXPECT_TRUE(ev.changes.empty());
    EXPECT_EQ(list->currentNode(), g2);

    // The last node: no current node, nothing reported.
    list->deleteNode(g2);
    EXPECT_TRUE(ev.changes.empty());
    EXPECT_EQ(list->currentNode(), nullptr);
    EXPECT_EQ(list->topCount(), 0);
}

TEST_F(TreeListTest, DeletingANodeThatHoldsTheCurrentChildTakesItsChildrenAndFollowsTheRule) {
    QTreeWidgetItem* g1 = named("g1");
    QTreeWidgetItem* g2 = named("g2");
    QTreeWidgetItem* m = named("m", g2);
    named("m'", g2);
    named("u");
    list->setCurrentNode(m);
    ev.changes.clear();
    list->deleteNode(g2);
    EXPECT_EQ(list->nodeCount(), 2); // g2 went with both members
    ASSERT_EQ(ev.changes.size(), 1u);
    EXPECT_EQ(ev.changes[0].second, g1);
    EXPECT_EQ(list->currentNode(), g1);
}

TEST_F(TreeListTest, ClearingLeavesNoCurrentNodeAndReportsNothingUntilTheNextFirstNode) {
    named("a");
    named("b");
    list->beginUpdate();
    list->beginUpdate();
    EXPECT_FALSE(list->updatesEnabled());
    ev.changes.clear();
    list->clearNodes();
    EXPECT_TRUE(ev.changes.empty());
    EXPECT_EQ(list->currentNode(), nullptr);
    QTreeWidgetItem* c = named("c");
    EXPECT_EQ(list->currentNode(), c);
    EXPECT_EQ(ev.changes.size(), 1u);
    list->endUpdate();
    EXPECT_FALSE(list->updatesEnabled()); // brackets nest
    list->endUpdate();
    EXPECT_TRUE(list->updatesEnabled());
}

TEST_F(TreeListTest, AClickOnACheckCellMakesTheNodeCurrentThenTogglesIt) {
    QTreeWidgetItem* a = named("a");
    QTreeWidgetItem* b = named("b");
    list->setText(b, "allow", "T");
    QTreeWidgetItem* c = named("c");
    list->setText(c, "allow", "O");
    list->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(list.get()));
    std::vector<QString> order;
    QObject::connect(list.get(), &TreeList::currentNodeChanged, [&](QTreeWidgetItem*, QTreeWidgetItem* n) {
        order.push_back("current " + list->text(n, "name"));
    });
    QObject::connect(list.get(), &TreeList::checkToggled,
                     [&](TreeListColumn*, const QString& v) { order.push_back("toggle " + v); });

    click(b, 1);
    EXPECT_EQ(list->currentNode(), b);
    EXPECT_EQ(list->text(b, "allow"), "F");
    EXPECT_EQ(order, (std::vector<QString>{"current b", "toggle F"}));
    click(b, 1);
    EXPECT_EQ(list->text(b, "allow"), "T");
    click(c, 1); // grayed goes to checked
    EXPECT_EQ(list->text(c, "allow"), "T");
    ASSERT_EQ(ev.toggles.size(), 3u);
    EXPECT_EQ(ev.toggles[0], std::make_pair(QString("colAllow"), QString("F")));
    EXPECT_EQ(ev.toggles[2], std::make_pair(QString("colAllow"), QString("T")));

    // A click on the text cell only moves the current node.
    click(a, 0);
    EXPECT_EQ(list->currentNode(), a);
    EXPECT_EQ(list->text(a, "allow"), "F");
    EXPECT_EQ(ev.toggles.size(), 3u);

    // A column switched to refuse editing ignores the click, and so does a direct toggle.
    allowCol->setReadOnly(true);
    click(a, 1);
    EXPECT_FALSE(list->toggleCheck(a, 1));
    EXPECT_EQ(list->text(a, "allow"), "F");
    EXPECT_EQ(ev.toggles.size(), 3u);
    allowCol->setReadOnly(false);
    EXPECT_TRUE(list->toggleCheck(a, 1));
    EXPECT_EQ(list->text(a, "allow"), "T");
    EXPECT_FALSE(list->toggleCheck(a, 0)); // a text column is no check

    // A double click is reported with its node.
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, list->cellRect(c, 0).center());
    ASSERT_EQ(ev.doubleClicks.size(), 1u);
    EXPECT_EQ(ev.doubleClicks[0], c);
}

TEST_F(TreeListTest, ACollapseCanBeRefused) {
    QTreeWidgetItem* g = named("g");
    named("m", g);
    list->fullExpand();
    ASSERT_TRUE(g->isExpanded());
    bool refuse = true;
    int asked = 0;
    QObject::connect(list.get(), &TreeList::collapsing, [&](QTreeWidgetItem* n, bool* allow) {
        EXPECT_EQ(n, g);
        ++asked;
        *allow = !refuse;
    });
    EXPECT_FALSE(list->collapseNode(g));
    EXPECT_TRUE(g->isExpanded());
    list->collapseItem(g); // the widget's own collapse (keyboard, mouse) is undone too
    EXPECT_TRUE(g->isExpanded());
    EXPECT_EQ(asked, 2);
    refuse = false;
    EXPECT_TRUE(list->collapseNode(g));
    EXPECT_FALSE(g->isExpanded());
    EXPECT_EQ(asked, 3);
}
