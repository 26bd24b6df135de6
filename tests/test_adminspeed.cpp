// The tree list's nodes as the administration window builds them in bulk: a node answers every
// role exactly as a plain item given the same values does, nodes built off the list join it in
// one step under the current-node rule, and a full expansion leaves every level showing.
#include "admin/treelist.h"

#include <QPixmap>
#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace vardex;

namespace {

class AdminSpeed : public ::testing::Test {
  protected:
    void SetUp() override {
        list = std::make_unique<TreeList>();
        list->resize(300, 200);
        list->addColumn("colName", "名称", "name", TreeListColumn::Text, 120);
        list->addColumn("colAllow", "允许", "allow", TreeListColumn::Check, 40);
        list->addColumn("colPwd", "密码", "password", TreeListColumn::Text, 50, false);
        QVector<QIcon> images;
        for (int i = 0; i < 3; ++i) {
            QPixmap pm(16, 16);
            pm.fill(QColor::fromHsv(i * 80, 200, 200));
            images.append(QIcon(pm));
        }
        list->setImages(images);
    }
    QTreeWidgetItem* make(const QString& name) {
        return list->makeNode([&](QTreeWidgetItem* n) { list->setText(n, "name", name); });
    }
    std::unique_ptr<TreeList> list;
};

} // namespace

TEST_F(AdminSpeed, ANodeAnswersEveryRoleAsAPlainItemWithTheSameValues) {
    std::unique_ptr<QTreeWidgetItem> node(list->makeNode());
    QTreeWidgetItem plain;
    list->setCellText(&plain, 1, "F"); // what a new node starts with
    const QString hostile = QString("a'b\\c\"") + QChar(0xFFFD) + QString(300, QChar(0x4E2D));
    auto both = [&](const std::function<void(QTreeWidgetItem*)>& change) {
        change(node.get());
        change(&plain);
    };
    auto same = [&](const char* step) {
        for (int column = 0; column < 4; ++column)
            for (int role : {int(Qt::DisplayRole), int(Qt::EditRole), int(Qt::CheckStateRole), int(Qt::ToolTipRole),
                             int(Qt::UserRole), int(Qt::UserRole) + 1, int(Qt::UserRole) + 2, int(Qt::UserRole) + 3}) {
                const QVariant a = node->data(column, role), b = plain.data(column, role);
                EXPECT_EQ(a.isValid(), b.isValid()) << step << " column " << column << " role " << role;
                EXPECT_EQ(a.toString(), b.toString()) << step << " column " << column << " role " << role;
                EXPECT_EQ(a.toInt(), b.toInt()) << step << " column " << column << " role " << role;
            }
        const QVariant ia = node->data(0, Qt::DecorationRole), ib = plain.data(0, Qt::DecorationRole);
        EXPECT_EQ(ia.isValid(), ib.isValid()) << step;
        EXPECT_EQ(ia.value<QIcon>().cacheKey(), ib.value<QIcon>().cacheKey()) << step;
        EXPECT_EQ(TreeList::imageIndex(node.get()), TreeList::imageIndex(&plain)) << step;
        EXPECT_EQ(TreeList::nodeValue(node.get()), TreeList::nodeValue(&plain)) << step;
        for (int column = 0; column < 3; ++column)
            EXPECT_EQ(list->cellText(node.get(), column), list->cellText(&plain, column)) << step;
    };
    same("new");
    both([&](QTreeWidgetItem* n) { list->setText(n, "name", hostile); });
    both([&](QTreeWidgetItem* n) { list->setText(n, "password", ""); });
    both([&](QTreeWidgetItem* n) { list->setImageIndex(n, 2, 1); });
    both([&](QTreeWidgetItem* n) { TreeList::setNodeValue(n, 1005); });
    same("filled");
    for (const char* flag : {"T", "O", "F"}) {
        both([&](QTreeWidgetItem* n) { list->setText(n, "allow", flag); });
        same(flag);
    }
    // Written through the plain item's own setters, a role the node keeps and one it does not.
    both([&](QTreeWidgetItem* n) { n->setText(2, "0A1B"); });
    both([&](QTreeWidgetItem* n) { n->setToolTip(0, "tip"); });
    both([&](QTreeWidgetItem* n) { n->setText(3, "beyond the columns"); });
    same("item setters");
}

TEST_F(AdminSpeed, NodesBuiltOffTheListJoinInOneStepAndTheFirstBecomesCurrent) {
    std::vector<std::pair<QString, int>> reported; // (name of the new current node, its children)
    QObject::connect(list.get(), &TreeList::currentNodeChanged, [&](QTreeWidgetItem*, QTreeWidgetItem* n) {
        reported.push_back({list->text(n, "name"), n->childCount()});
    });
    list->addNodes({});
    EXPECT_EQ(list->currentNode(), nullptr);
    QTreeWidgetItem* g = make("g");
    g->addChild(make("m1"));
    g->addChild(make("m2"));
    QTreeWidgetItem* u = make("u");
    list->addNodes({g, u});
    ASSERT_EQ(list->topCount(), 2);
    EXPECT_EQ(list->nodeCount(), 4);
    EXPECT_EQ(list->currentNode(), g);
    // Reported once, complete: with its children already in place.
    EXPECT_EQ(reported, (std::vector<std::pair<QString, int>>{{"g", 2}}));

    // A list that has a current node keeps it; the new nodes go to the end.
    QTreeWidgetItem* v = make("v");
    list->addNodes({v});
    EXPECT_EQ(list->currentNode(), g);
    EXPECT_EQ(list->topNode(2), v);
    EXPECT_EQ(reported.size(), 1u);

    // A node in the list tells its views of a change, once per change.
    QSignalSpy changed(list.get(), &QTreeWidget::itemChanged);
    list->setText(g->child(1), "allow", "T");
    list->setText(g->child(1), "allow", "T");
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(g->child(1)->checkState(1), Qt::Checked);
}

TEST_F(AdminSpeed, AFullExpansionShowsEveryLevelAndATopNodeThatGainsChildren) {
    QTreeWidgetItem* g = make("g");
    QTreeWidgetItem* m = make("m");
    g->addChild(m);
    m->addChild(make("deep"));
    QTreeWidgetItem* leaf = make("leaf");
    list->addNodes({g, leaf});
    list->fullExpand();
    EXPECT_TRUE(g->isExpanded());
    EXPECT_TRUE(m->isExpanded());
    EXPECT_TRUE(list->visualItemRect(m->child(0)).isValid()); // laid out at once, on screen
    QTreeWidgetItem* late = list->addChildNode(leaf, [&](QTreeWidgetItem* n) { list->setText(n, "name", "late"); });
    EXPECT_TRUE(leaf->isExpanded());
    EXPECT_TRUE(list->visualItemRect(late).isValid());
}
