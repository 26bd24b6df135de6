#pragma once
// The tree list of the administration window: one control for its three lists.
//
// A node is a QTreeWidgetItem. Every node carries one text per column (hidden columns hold the
// node's data and are read and written by their field name), an image index and a selected-image
// index into the list's shared image list, and one integer value. Check columns hold the flag
// texts themselves: "T" shows checked, "F" unchecked, "O" grayed; a click on the cell changes the
// value between "T" and "F" unless the column refuses editing.
//
// The current node is reported on every change (currentNodeChanged), with these rules: the first
// node added to an empty list becomes current; when the current node (or the node holding it) is
// deleted, the node before it among its siblings becomes current, or if there is none its parent,
// or if there is none the node that followed it; removing every node leaves no current node and
// reports nothing.
#include <QIcon>
#include <QObject>
#include <QTreeWidget>
#include <QVector>
#include <functional>

namespace vardex {

class TreeList;

class TreeListColumn : public QObject {
    Q_OBJECT
  public:
    enum Kind { Text, Check };
    TreeListColumn(TreeList* list, int index, const QString& fieldName, Kind kind);

    int index() const { return m_index; }
    QString fieldName() const { return m_fieldName; }
    Kind kind() const { return m_kind; }
    bool isCheck() const { return m_kind == Check; }
    // A check column switched to refuse editing ignores clicks; its checks are drawn disabled.
    bool readOnly() const { return m_readOnly; }
    void setReadOnly(bool on);
    TreeList* list() const;

  private:
    int m_index;
    QString m_fieldName;
    Kind m_kind;
    bool m_readOnly = false;
};

class TreeList : public QTreeWidget {
    Q_OBJECT
  public:
    explicit TreeList(QWidget* parent = nullptr);

    // Columns -------------------------------------------------------------------------------
    TreeListColumn* addColumn(const QString& objectName, const QString& caption, const QString& fieldName,
                              TreeListColumn::Kind kind, int width, bool visible = true);
    TreeListColumn* column(int index) const { return m_columns.value(index); }
    TreeListColumn* column(const QString& fieldName) const; // nullptr when unknown
    int columnCount() const { return m_columns.size(); }

    // Images shared by the nodes, used by index.
    void setImages(const QVector<QIcon>& images) { m_images = images; }
    const QVector<QIcon>& images() const { return m_images; }

    // Nodes ---------------------------------------------------------------------------------
    // The three ways of adding a node. `fill` (optional) gives the node its data before the list
    // may make it current, so a reported node is always complete.
    using Fill = std::function<void(QTreeWidgetItem*)>;
    QTreeWidgetItem* addNode(const Fill& fill = Fill()); // top level, at the end
    QTreeWidgetItem* addChildNode(QTreeWidgetItem* parent, const Fill& fill = Fill()); // last child of parent
    QTreeWidgetItem* insertNodeBefore(QTreeWidgetItem* before,
                                      const Fill& fill = Fill()); // top level, before `before`
    // Building a whole list at once: makeNode() gives a filled node that belongs to no list yet
    // (the caller owns it and may give it children with QTreeWidgetItem::addChild); addNodes()
    // then appends such nodes, with their children, at the top level in one step. Adding nothing
    // changes nothing; otherwise the first of them becomes current when the list was empty.
    QTreeWidgetItem* makeNode(const Fill& fill = Fill()) { return newNode(fill); }
    void addNodes(const QList<QTreeWidgetItem*>& nodes);
    // Deletes the node with its children; moves the current node as the class comment says.
    void deleteNode(QTreeWidgetItem* node);
    // Removes every node; the list then has no current node. Nothing is reported.
    void clearNodes();

    int topCount() const { return topLevelItemCount(); }
    QTreeWidgetItem* topNode(int i) const { return topLevelItem(i); }
    int nodeCount() const; // every node, at every level

    // Node data, read and written by column field name (or index).
    QString text(const QTreeWidgetItem* node, const QString& fieldName) const;
    void setText(QTreeWidgetItem* node, const QString& fieldName, const QString& value);
    QString cellText(const QTreeWidgetItem* node, int column) const;
    void setCellText(QTreeWidgetItem* node, int column, const QString& value);

    static int imageIndex(const QTreeWidgetItem* node);
    static int selectedIndex(const QTreeWidgetItem* node);
    void setImageIndex(QTreeWidgetItem* node, int image, int selectedImage);
    static int nodeValue(const QTreeWidgetItem* node);
    static void setNodeValue(QTreeWidgetItem* node, int value);

    // Current node ------------------------------------------------------------------------------
    QTreeWidgetItem* currentNode() const { return currentItem(); }
    void setCurrentNode(QTreeWidgetItem* node); // reports the change

    // Updates, expansion --------------------------------------------------------------------
    void beginUpdate();
    void endUpdate();
    bool updating() const { return m_updateDepth > 0; }
    // Expands every node that has children, and every top-level node (so that one that gains
    // children later shows them).
    void fullExpand();
    // A collapse request; the collapsing() handler may refuse it. Returns whether it collapsed.
    bool collapseNode(QTreeWidgetItem* node);

    // What a click on a check cell does: toggles "T"/"F" and reports it, unless the column refuses
    // editing. Returns whether it toggled.
    bool toggleCheck(QTreeWidgetItem* node, int column);
    // Where a check cell is on screen (for a click).
    QRect cellRect(QTreeWidgetItem* node, int column) const;

  signals:
    void currentNodeChanged(QTreeWidgetItem* oldNode, QTreeWidgetItem* newNode);
    void checkToggled(vardex::TreeListColumn* column, const QString& value);
    // Set *allow to false to refuse the collapse.
    void collapsing(QTreeWidgetItem* node, bool* allow);
    void nodeDoubleClicked(QTreeWidgetItem* node);

  protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;

  private:
    QTreeWidgetItem* newNode(const Fill& fill);
    QTreeWidgetItem* adopt(QTreeWidgetItem* node);
    QIcon iconFor(int image, int selectedImage);
    void onCurrentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous);
    void onItemCollapsed(QTreeWidgetItem* item);
    static bool contains(QTreeWidgetItem* ancestor, QTreeWidgetItem* node);

    QVector<TreeListColumn*> m_columns;
    QVector<QIcon> m_images;
    QHash<int, QIcon> m_iconCache;
    int m_updateDepth = 0;
    int m_quiet = 0; // > 0: current-item changes of the widget are ours and not reported here
    bool m_reexpanding = false;
};

} // namespace vardex
