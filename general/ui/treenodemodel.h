#pragma once

#include <QAbstractItemModel>
#include <QHash>
#include <QList>
#include <QPointer>

namespace halvorn::general {

class TreeNode;
class TreeNodeController;

// Shows a device tree as an item model. The root node is not an item; its
// children are the top-level rows. Columns, data and flags are the nodes'
// own (five columns: name, number, min, max, value); the user role carries
// the node's id.
//
// Nodes live in network threads and change the tree there, while a model
// may only change in its own thread. The model therefore keeps a mirror of
// the structure: rows exist in the model only once the TreeNodeController
// has brought their insertion to the GUI thread, and stay until it brings
// their removal, so the model always agrees with what it announced to its
// views. data() and flags() read the live nodes (their fields are atomic
// or locked); a node stays alive while it is mirrored, because attached
// nodes are deleted only through TreeNode::retire(), which lets the
// controller delete them after the model has dropped them.
//
// An index's internal pointer is the mirror entry; nodeForIndex() gives the
// node.
class TreeNodeModel : public QAbstractItemModel
{
    Q_OBJECT

public:
    // Mirrors the tree below root as it is now; later changes arrive
    // through the controller (TreeNodeController::setModel).
    explicit TreeNodeModel(TreeNode* root, QObject* parent = nullptr);
    ~TreeNodeModel() override;

    TreeNode* rootNode() const { return m_root.node; }
    // The node of an index; nullptr for an invalid index or a node that is gone.
    TreeNode* nodeForIndex(const QModelIndex& index) const;
    // The index of a mirrored node in a column; invalid for the root or a
    // node not (or no longer) in the model.
    QModelIndex indexForNode(const TreeNode* node, int column = 0) const;
    // Number of nodes in the mirror, root excluded.
    int mirroredCount() const { return int(m_mirrors.size()); }

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& index) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    friend class TreeNodeController;

    // Rows of a parent that changed since the last announcement (used only
    // while changedRanges() runs).
    struct ChangedSpan {
        int firstRow = -1; // -1: none
        int lastRow = -1;
        int firstColumn = 0;
        int lastColumn = 0;
    };
    struct Mirror {
        TreeNode* node = nullptr;
        QPointer<TreeNode> alive;
        Mirror* parent = nullptr;
        QList<Mirror*> children;
        int row = 0;
        ChangedSpan changed;
    };
    struct ColumnSpan {
        int first;
        int last;
    };
    // The changed children of one parent: each with its columns while they
    // are few; past kMaxTrackedChildren simply all children (a network
    // refreshing every value of a device), which costs no look-up per node.
    struct ChangedChildren {
        static constexpr int kMaxTrackedChildren = 16;
        QHash<TreeNode*, ColumnSpan> nodes;
        bool all = false;
        ColumnSpan allColumns{0, 0};
    };
    // Keyed by the parent at the time of the change; nullptr for the root
    // and other nodes without parent.
    using PendingChanges = QHash<TreeNode*, ChangedChildren>;
    // One node of a subtree as it was when its insertion was announced;
    // parents come before their children.
    struct CapturedNode {
        TreeNode* node;
        QPointer<TreeNode> alive;
        int parent; // index in the capture, -1 for the subtree's top
    };
    using Capture = QList<CapturedNode>;

    // The structure of a subtree now (called by the controller, on the
    // changing thread, under the controller's mutex).
    static Capture capture(TreeNode* top);

    // Called by the controller in the GUI thread, in the order the changes
    // happened. Both tolerate changes the mirror already reflects and
    // changes of nodes that are not mirrored.
    void applyInsert(TreeNode* parent, const Capture& subtree, int row);
    void applyRemove(TreeNode* parent, TreeNode* child);
    // Mirrors afresh the tree captured from the root (capture(rootNode()),
    // taken under the controller's mutex so that the queued changes that
    // follow apply to this state).
    void resetFrom(const Capture& tree);
    // The index ranges to announce for changed nodes: one range per parent,
    // from the first to the last changed row, over the union of the columns.
    QList<QPair<QModelIndex, QModelIndex>> changedRanges(const PendingChanges& changes) const;

    Mirror* mirrorOf(const QModelIndex& index) const;
    Mirror* mirrorOfNode(const TreeNode* node) const;
    QModelIndex indexOfMirror(const Mirror* mirror, int column) const;
    // Builds the mirror of a captured subtree below `parent` (the top at
    // `row`); nodes gone since, or still mirrored elsewhere because their
    // move has not reached the model yet, are left out with their subtrees.
    Mirror* buildMirror(const Capture& subtree, Mirror* parent, int row);
    // Fills the empty mirror from a capture of the whole tree.
    void mirrorTree(const Capture& tree);
    void dropMirror(Mirror* mirror);
    static void renumber(Mirror* parent, int fromRow);

    Mirror m_root;
    QHash<const TreeNode*, Mirror*> m_mirrors; // every mirrored node but the root
    const int m_columns;
};

} // namespace halvorn::general
