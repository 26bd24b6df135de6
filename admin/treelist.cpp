#include "admin/treelist.h"

#include "library/storeschema.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QVarLengthArray>

#include <memory>

namespace vardex {

namespace {

constexpr int kFlagRole = Qt::UserRole;         // per check cell: "T", "F" or "O"
constexpr int kImageRole = Qt::UserRole + 1;    // column 0: image index
constexpr int kSelImageRole = Qt::UserRole + 2; // column 0: selected-image index
constexpr int kValueRole = Qt::UserRole + 3;    // column 0: the node's integer value

Qt::CheckState stateOf(const QString& flag) {
    if (flag == schema::kGranted)
        return Qt::Checked;
    if (flag == schema::kPartly)
        return Qt::PartiallyChecked;
    return Qt::Unchecked;
}

// The nodes the list makes. A node keeps its cells, images and value in plain members rather than
// in the item's general per-role lists, so filling thousands of nodes costs a few assignments
// each and reading a cell no search. Through data() and setData() it answers every role exactly
// as a plain item holding the same values would; roles it does not keep itself (and columns added
// after it was made) are left to the plain item. (QTreeWidgetItem::clone() would copy only those.)
class Node final : public QTreeWidgetItem {
  public:
    static constexpr int Type = QTreeWidgetItem::UserType + 0x7653;

    explicit Node(const QVector<TreeListColumn*>& columns) : QTreeWidgetItem(Type), m_cells(columns.size()) {
        for (int i = 0; i < columns.size(); ++i)
            if (columns[i]->isCheck()) {
                m_cells[i].check = true;
                m_cells[i].set = true;
                m_cells[i].text = schema::kRefused;
            }
    }

    static Node* of(QTreeWidgetItem* item) {
        return item && item->type() == Type ? static_cast<Node*>(item) : nullptr;
    }
    static const Node* of(const QTreeWidgetItem* item) {
        return item && item->type() == Type ? static_cast<const Node*>(item) : nullptr;
    }

    // The text of a text column, the flag of a check column; false for a column it does not keep.
    bool hasCell(int column) const { return column >= 0 && column < m_cells.size(); }
    QString cell(int column) const { return m_cells[column].set ? m_cells[column].text : QString(); }
    void setCell(int column, const QString& text) {
        Cell& c = m_cells[column];
        if (c.set && c.text == text)
            return; // unchanged: nobody is told
        c.text = text;
        c.set = true;
        changed();
    }

    // Unset, they read as 0 (and through data() as nothing), as a plain item's would.
    int image = 0;
    int selectedImage = 0;
    int value = 0;
    void setImages(int normal, int selected) {
        image = normal;
        selectedImage = selected;
        m_imageSet = true;
    }
    void setValue(int v) {
        value = v;
        m_valueSet = true;
    }
    void setIcon0(const QIcon& icon) {
        m_icon = icon;
        m_hasIcon = true;
        changed();
    }

    QVariant data(int column, int role) const override {
        if (hasCell(column)) {
            const Cell& c = m_cells[column];
            if (c.check ? role == kFlagRole : (role == Qt::DisplayRole || role == Qt::EditRole))
                return c.set ? QVariant(c.text) : QVariant();
            if (c.check && role == Qt::CheckStateRole)
                return c.set ? QVariant(int(stateOf(c.text))) : QVariant();
        }
        if (column == 0) {
            switch (role) {
            case Qt::DecorationRole:
                return m_hasIcon ? QVariant(m_icon) : QVariant();
            case kImageRole:
                return m_imageSet ? QVariant(image) : QVariant();
            case kSelImageRole:
                return m_imageSet ? QVariant(selectedImage) : QVariant();
            case kValueRole:
                return m_valueSet ? QVariant(value) : QVariant();
            default:
                break;
            }
        }
        return QTreeWidgetItem::data(column, role);
    }

    void setData(int column, int role, const QVariant& v) override {
        if (hasCell(column)) {
            const Cell& c = m_cells[column];
            if (c.check ? role == kFlagRole : (role == Qt::DisplayRole || role == Qt::EditRole)) {
                setCell(column, v.toString());
                return;
            }
            if (c.check && role == Qt::CheckStateRole) {
                const int state = v.toInt();
                setCell(column, state == Qt::Checked            ? QString(schema::kGranted)
                                : state == Qt::PartiallyChecked ? QString(schema::kPartly)
                                                                : QString(schema::kRefused));
                return;
            }
        }
        if (column == 0) {
            switch (role) {
            case Qt::DecorationRole:
                setIcon0(v.value<QIcon>());
                return;
            case kImageRole:
                setImages(v.toInt(), selectedImage);
                return;
            case kSelImageRole:
                setImages(image, v.toInt());
                return;
            case kValueRole:
                setValue(v.toInt());
                return;
            default:
                break;
            }
        }
        QTreeWidgetItem::setData(column, role, v);
    }

  private:
    struct Cell {
        QString text;
        bool check = false;
        bool set = false;
    };
    // A node in a list tells the list's views; a node not yet in one has nobody to tell.
    void changed() {
        if (treeWidget())
            emitDataChanged();
    }

    QVarLengthArray<Cell, 8> m_cells; // inside the node for the usual number of columns
    QIcon m_icon;
    bool m_hasIcon = false;
    bool m_imageSet = false;
    bool m_valueSet = false;
};

// Draws the grid lines between the cells, and the check of a column that refuses editing as a
// disabled check, so that it does not look clickable.
class GridDelegate : public QStyledItemDelegate {
  public:
    explicit GridDelegate(TreeList* list) : QStyledItemDelegate(list), m_list(list) {}
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const TreeListColumn* c = m_list->column(index.column());
        if (c && c->isCheck() && c->readOnly()) {
            QStyleOptionViewItem dimmed(option);
            dimmed.state &= ~QStyle::State_Enabled;
            dimmed.palette.setCurrentColorGroup(QPalette::Disabled);
            QStyledItemDelegate::paint(painter, dimmed, index);
        } else {
            QStyledItemDelegate::paint(painter, option, index);
        }
        painter->save();
        painter->setPen(QColor(0xC0, 0xC0, 0xC0));
        const QRect r = option.rect;
        painter->drawLine(r.topRight(), r.bottomRight());
        painter->drawLine(r.bottomLeft(), r.bottomRight());
        painter->restore();
    }

  private:
    TreeList* m_list;
};

} // namespace

TreeListColumn::TreeListColumn(TreeList* list, int index, const QString& fieldName, Kind kind)
    : QObject(list), m_index(index), m_fieldName(fieldName), m_kind(kind) {}

TreeList* TreeListColumn::list() const {
    return static_cast<TreeList*>(parent());
}

void TreeListColumn::setReadOnly(bool on) {
    if (m_readOnly == on)
        return;
    m_readOnly = on;
    list()->viewport()->update();
}

TreeList::TreeList(QWidget* parent) : QTreeWidget(parent) {
    setColumnCount(0);
    setRootIsDecorated(false); // no root buttons
    setIndentation(16);        // children are indented, without tree lines
    setExpandsOnDoubleClick(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFrameShape(QFrame::Box); // flat look
    setFrameShadow(QFrame::Plain);
    setItemDelegate(new GridDelegate(this));
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(QHeaderView::Interactive);
    header()->setSectionsMovable(false);

    // Background in the menu colour, highlighted text fuchsia, the selection as visible when the
    // list has lost the focus as when it has it. The selection is a dark navy: fuchsia on the
    // usual mid blue can hardly be read, on navy it stands out.
    QPalette pal = palette();
    const QColor menu = pal.color(QPalette::Active, QPalette::Window);
    const QColor highlight(0x00, 0x00, 0x50);
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive}) {
        pal.setColor(g, QPalette::Base, menu);
        pal.setColor(g, QPalette::AlternateBase, menu);
        pal.setColor(g, QPalette::Highlight, highlight);
        pal.setColor(g, QPalette::HighlightedText, QColor(0xFF, 0x00, 0xFF));
    }
    setPalette(pal);

    connect(this, &QTreeWidget::currentItemChanged, this, &TreeList::onCurrentItemChanged);
    connect(this, &QTreeWidget::itemCollapsed, this, &TreeList::onItemCollapsed);
}

TreeListColumn* TreeList::addColumn(const QString& objectName, const QString& caption,
                                    const QString& fieldName, TreeListColumn::Kind kind, int width,
                                    bool visible) {
    const int index = m_columns.size();
    auto* c = new TreeListColumn(this, index, fieldName, kind);
    c->setObjectName(objectName);
    m_columns.append(c);
    setColumnCount(m_columns.size());
    headerItem()->setText(index, caption);
    setColumnWidth(index, width);
    setColumnHidden(index, !visible);
    return c;
}

TreeListColumn* TreeList::column(const QString& fieldName) const {
    for (TreeListColumn* c : m_columns)
        if (c->fieldName() == fieldName)
            return c;
    return nullptr;
}

// The node is filled before it joins the tree: a detached node's data changes cost no
// notifications, which keeps rebuilding a list of thousands of nodes fast.
QTreeWidgetItem* TreeList::newNode(const Fill& fill) {
    std::unique_ptr<Node> node(new Node(m_columns));          // check cells start as "F"
    node->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled); // checks are toggled by the list only
    if (fill)
        fill(node.get());
    return node.release();
}

void TreeList::addNodes(const QList<QTreeWidgetItem*>& nodes) {
    if (nodes.isEmpty())
        return;
    addTopLevelItems(nodes);
    adopt(nodes.first());
}

QTreeWidgetItem* TreeList::adopt(QTreeWidgetItem* node) {
    if (!currentItem())
        setCurrentNode(node); // the first node of an empty list becomes current
    return node;
}

QTreeWidgetItem* TreeList::addNode(const Fill& fill) {
    QTreeWidgetItem* node = newNode(fill);
    addTopLevelItem(node);
    return adopt(node);
}

QTreeWidgetItem* TreeList::addChildNode(QTreeWidgetItem* parent, const Fill& fill) {
    if (!parent)
        return addNode(fill);
    QTreeWidgetItem* node = newNode(fill);
    parent->addChild(node);
    return adopt(node);
}

QTreeWidgetItem* TreeList::insertNodeBefore(QTreeWidgetItem* before, const Fill& fill) {
    const int at = before ? indexOfTopLevelItem(before) : -1;
    if (at < 0)
        return addNode(fill);
    QTreeWidgetItem* node = newNode(fill);
    insertTopLevelItem(at, node);
    return adopt(node);
}

bool TreeList::contains(QTreeWidgetItem* ancestor, QTreeWidgetItem* node) {
    for (QTreeWidgetItem* n = node; n; n = n->parent())
        if (n == ancestor)
            return true;
    return false;
}

void TreeList::deleteNode(QTreeWidgetItem* node) {
    if (!node)
        return;
    QTreeWidgetItem* current = currentItem();
    const bool holdsCurrent = current && contains(node, current);
    QTreeWidgetItem* next = current;
    if (holdsCurrent) {
        QTreeWidgetItem* parent = node->parent();
        const int at = parent ? parent->indexOfChild(node) : indexOfTopLevelItem(node);
        auto sibling = [&](int i) { return parent ? parent->child(i) : topLevelItem(i); };
        if (at > 0)
            next = sibling(at - 1);
        else if (parent)
            next = parent;
        else
            next = sibling(at + 1); // nullptr when the node was the only one
    }
    ++m_quiet;
    if (holdsCurrent)
        setCurrentItem(next);
    delete node;
    --m_quiet;
    // The old node is gone; the change is reported with no old node. A list left empty has no
    // current node and reports nothing.
    if (holdsCurrent && next)
        emit currentNodeChanged(nullptr, next);
}

void TreeList::clearNodes() {
    ++m_quiet;
    clear();
    setCurrentItem(nullptr);
    --m_quiet;
}

int TreeList::nodeCount() const {
    int n = 0;
    for (QTreeWidgetItemIterator it(const_cast<TreeList*>(this)); *it; ++it)
        ++n;
    return n;
}

QString TreeList::text(const QTreeWidgetItem* node, const QString& fieldName) const {
    const TreeListColumn* c = column(fieldName);
    return c ? cellText(node, c->index()) : QString();
}

void TreeList::setText(QTreeWidgetItem* node, const QString& fieldName, const QString& value) {
    if (const TreeListColumn* c = column(fieldName))
        setCellText(node, c->index(), value);
}

QString TreeList::cellText(const QTreeWidgetItem* node, int column) const {
    if (!node)
        return QString();
    if (const Node* n = Node::of(node); n && n->hasCell(column))
        return n->cell(column);
    const TreeListColumn* c = m_columns.value(column);
    if (c && c->isCheck())
        return node->data(column, kFlagRole).toString();
    return node->text(column);
}

void TreeList::setCellText(QTreeWidgetItem* node, int column, const QString& value) {
    if (!node)
        return;
    if (Node* n = Node::of(node); n && n->hasCell(column)) {
        n->setCell(column, value);
        return;
    }
    const TreeListColumn* c = m_columns.value(column);
    if (c && c->isCheck()) {
        node->setData(column, kFlagRole, value);
        node->setData(column, Qt::CheckStateRole, stateOf(value));
        return;
    }
    node->setText(column, value);
}

int TreeList::imageIndex(const QTreeWidgetItem* node) {
    if (const Node* n = Node::of(node))
        return n->image;
    return node ? node->data(0, kImageRole).toInt() : -1;
}
int TreeList::selectedIndex(const QTreeWidgetItem* node) {
    if (const Node* n = Node::of(node))
        return n->selectedImage;
    return node ? node->data(0, kSelImageRole).toInt() : -1;
}

QIcon TreeList::iconFor(int image, int selectedImage) {
    const int key = image * 256 + selectedImage;
    auto it = m_iconCache.constFind(key);
    if (it != m_iconCache.constEnd())
        return *it;
    QIcon icon;
    const QSize size(16, 16);
    if (image >= 0 && image < m_images.size())
        icon.addPixmap(m_images[image].pixmap(size), QIcon::Normal);
    if (selectedImage >= 0 && selectedImage < m_images.size())
        icon.addPixmap(m_images[selectedImage].pixmap(size), QIcon::Selected);
    m_iconCache.insert(key, icon);
    return icon;
}

void TreeList::setImageIndex(QTreeWidgetItem* node, int image, int selectedImage) {
    if (!node)
        return;
    if (Node* n = Node::of(node)) {
        n->setImages(image, selectedImage);
        n->setIcon0(iconFor(image, selectedImage));
        return;
    }
    node->setData(0, kImageRole, image);
    node->setData(0, kSelImageRole, selectedImage);
    node->setIcon(0, iconFor(image, selectedImage));
}

int TreeList::nodeValue(const QTreeWidgetItem* node) {
    if (const Node* n = Node::of(node))
        return n->value;
    return node ? node->data(0, kValueRole).toInt() : 0;
}
void TreeList::setNodeValue(QTreeWidgetItem* node, int value) {
    if (Node* n = Node::of(node))
        n->setValue(value);
    else if (node)
        node->setData(0, kValueRole, value);
}

void TreeList::setCurrentNode(QTreeWidgetItem* node) {
    if (node == currentItem())
        return;
    setCurrentItem(node); // reported through onCurrentItemChanged
}

void TreeList::onCurrentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous) {
    // The widget also reports a move to another column of the same node; only a change of
    // node is a change of the current node.
    if (m_quiet > 0 || current == previous)
        return;
    emit currentNodeChanged(previous, current);
}

void TreeList::beginUpdate() {
    if (m_updateDepth++ == 0)
        setUpdatesEnabled(false);
}

void TreeList::endUpdate() {
    if (m_updateDepth == 0)
        return;
    if (--m_updateDepth == 0)
        setUpdatesEnabled(true);
}

// Leaves are not marked: the view would keep a persistent index for each of them, which every
// later change of the list has to maintain. With a layout pending, each expansion is only noted;
// the rows are then laid out once, at the end, as expanding everything would.
void TreeList::fullExpand() {
    scheduleDelayedItemsLayout();
    const std::function<void(QTreeWidgetItem*)> expandBelow = [&](QTreeWidgetItem* node) {
        for (int i = 0; i < node->childCount(); ++i) {
            QTreeWidgetItem* child = node->child(i);
            if (child->childCount() > 0) {
                child->setExpanded(true);
                expandBelow(child);
            }
        }
    };
    for (int i = 0; i < topLevelItemCount(); ++i) {
        QTreeWidgetItem* top = topLevelItem(i);
        top->setExpanded(true);
        expandBelow(top);
    }
    executeDelayedItemsLayout();
}

bool TreeList::collapseNode(QTreeWidgetItem* node) {
    if (!node || !node->isExpanded())
        return false;
    bool allow = true;
    emit collapsing(node, &allow);
    if (!allow)
        return false;
    m_reexpanding = true; // asked already
    node->setExpanded(false);
    m_reexpanding = false;
    return true;
}

void TreeList::onItemCollapsed(QTreeWidgetItem* item) {
    if (m_reexpanding)
        return;
    // A collapse from the keyboard or the widget itself: ask, and undo it when refused.
    bool allow = true;
    emit collapsing(item, &allow);
    if (!allow) {
        m_reexpanding = true;
        item->setExpanded(true);
        m_reexpanding = false;
    }
}

bool TreeList::toggleCheck(QTreeWidgetItem* node, int column) {
    TreeListColumn* c = m_columns.value(column);
    if (!node || !c || !c->isCheck() || c->readOnly())
        return false;
    const QString value = schema::flagText(cellText(node, column) != schema::kGranted);
    setCellText(node, column, value);
    emit checkToggled(c, value);
    return true;
}

QRect TreeList::cellRect(QTreeWidgetItem* node, int column) const {
    return visualRect(indexFromItem(node, column));
}

void TreeList::mousePressEvent(QMouseEvent* e) {
    const QPoint pos = e->position().toPoint();
    // The click first makes the node current (and that change is handled), then toggles a check
    // cell it fell on, as immediate editing does.
    QTreeWidget::mousePressEvent(e);
    if (e->button() != Qt::LeftButton)
        return;
    const QModelIndex index = indexAt(pos);
    if (!index.isValid())
        return;
    toggleCheck(itemFromIndex(index), index.column());
}

void TreeList::mouseDoubleClickEvent(QMouseEvent* e) {
    QTreeWidget::mouseDoubleClickEvent(e);
    const QModelIndex index = indexAt(e->position().toPoint());
    if (index.isValid())
        emit nodeDoubleClicked(itemFromIndex(index));
}

} // namespace vardex
