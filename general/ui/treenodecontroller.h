#pragma once

#include "general/treeobserver.h"
#include "general/ui/treenodemodel.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QModelIndex>
#include <QMutex>
#include <QObject>
#include <QPointer>

class QTimer;

namespace halvorn::general {

class TreeNode;

// The single way by which a device tree tells its model what changed.
//
// Nodes change the tree in their own (network, task) threads and then call
// the observer functions on that thread. The controller never blocks and
// never calls back into the tree there: it appends the change to a queue
// under its mutex and posts one flush to the GUI thread. The flush applies
// the structural changes to the model's mirror of the tree in the order
// they happened, then announces the changed rows, coalesced (many changes
// of the same node, or of neighbouring rows, become one dataChanged), and
// finally deletes retired nodes (deleteLater in their own thread) once the
// model has let go of them. Flushes are at least kMinFlushIntervalMs apart
// (ten per second at most), so a tree whose values change hundreds of
// thousands of times per second costs the GUI thread a few batches per
// second.
//
// Lives in the GUI thread, without parent. Attach it with
// root->setController(controller); detach it (root->setController(nullptr))
// before destroying it.
class TreeNodeController : public QObject, public TreeObserver
{
    Q_OBJECT

public:
    static constexpr int kMinFlushIntervalMs = 100;

    TreeNodeController();
    ~TreeNodeController() override;

    // The model that mirrors the tree (null: changes are dropped, retired
    // nodes still deleted). Connects dataChanged() to the model's signal.
    void setModel(halvorn::general::TreeNodeModel* model);
    TreeNodeModel* model() const { return m_model; }

    // TreeObserver, called from any thread.
    void nodeChanged(TreeNode* node, int firstColumn, int lastColumn) override;
    void nodeInserted(TreeNode* parent, TreeNode* child, int row) override;
    void nodeRemoved(TreeNode* parent, TreeNode* child, bool retire) override;

    // Applies every queued change now (GUI thread). Tests and the
    // benchmark use it; normally the posted flush does it.
    void flush();
    // True while changes wait for the GUI thread.
    bool hasPendingChanges() const;

Q_SIGNALS:
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight);

private:
    struct StructureChange {
        enum Kind { Insert, Remove } kind;
        TreeNode* parent;
        TreeNode* child;
        QPointer<TreeNode> alive;         // null once the child is gone
        TreeNodeModel::Capture subtree;   // Insert: the subtree as inserted
        int row;
        bool retire;
    };

    // Under m_mutex: makes sure one flush is posted.
    void scheduleFlushLocked();
    void onFlushRequested();

    // Only posting an event happens while it is held; never a call into
    // the tree or the model.
    mutable QMutex m_mutex;
    QList<StructureChange> m_structure;                     // guarded by m_mutex
    TreeNodeModel::PendingChanges m_changed;                // guarded by m_mutex
    bool m_flushPosted = false;                             // guarded by m_mutex
    bool m_hasModel = false;                                // guarded by m_mutex

    // GUI thread only.
    QPointer<TreeNodeModel> m_model;
    QTimer* m_flushTimer;
    QElapsedTimer m_sinceFlush;
};

} // namespace halvorn::general
