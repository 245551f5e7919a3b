#include "general/ui/treenodecontroller.h"

#include "general/treenode.h"
#include "general/ui/treenodemodel.h"

#include <QMutexLocker>
#include <QTimer>

#include <algorithm>

namespace halvorn::general {

TreeNodeController::TreeNodeController()
    : m_flushTimer(new QTimer(this))
{
    m_flushTimer->setSingleShot(true);
    connect(m_flushTimer, &QTimer::timeout, this, &TreeNodeController::flush);
}

TreeNodeController::~TreeNodeController()
{
    // Retired nodes still waiting for us must not leak.
    QMutexLocker lock(&m_mutex);
    for (const StructureChange& change : std::as_const(m_structure)) {
        if (change.kind == StructureChange::Remove && change.retire && change.alive)
            change.alive->deleteLater();
    }
}

void TreeNodeController::setModel(TreeNodeModel* model)
{
    if (m_model)
        disconnect(this, &TreeNodeController::dataChanged, m_model, nullptr);
    m_model = model;
    TreeNodeModel::Capture tree;
    {
        // The model starts from the tree as it is at this point of the
        // queue: earlier structural changes are in it already (retired
        // nodes among them are still deleted at the next flush).
        QMutexLocker lock(&m_mutex);
        m_hasModel = model != nullptr;
        QList<StructureChange> retired;
        for (StructureChange& change : m_structure) {
            if (change.kind == StructureChange::Remove && change.retire)
                retired.append(std::move(change));
        }
        m_structure = std::move(retired);
        if (model)
            tree = TreeNodeModel::capture(model->rootNode());
    }
    if (model)
        model->resetFrom(tree);
    if (model)
        connect(this, &TreeNodeController::dataChanged, model,
                [model](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                    emit model->dataChanged(topLeft, bottomRight);
                });
}

void TreeNodeController::nodeChanged(TreeNode* node, int firstColumn, int lastColumn)
{
    if (!node)
        return;
    using Children = TreeNodeModel::ChangedChildren;
    auto widen = [](TreeNodeModel::ColumnSpan& span, int first, int last) {
        span.first = std::min(span.first, first);
        span.last = std::max(span.last, last);
    };
    TreeNode* parent = node->parentNode();
    QMutexLocker lock(&m_mutex);
    Children& children = m_changed[parent];
    if (children.all) {
        widen(children.allColumns, firstColumn, lastColumn);
    } else if (auto it = children.nodes.find(node); it != children.nodes.end()) {
        widen(*it, firstColumn, lastColumn);
    } else {
        children.nodes.insert(node, {firstColumn, lastColumn});
        if (parent && children.nodes.size() > Children::kMaxTrackedChildren) {
            children.all = true;
            children.allColumns = {firstColumn, lastColumn};
            for (const auto& span : std::as_const(children.nodes))
                widen(children.allColumns, span.first, span.last);
            children.nodes.clear();
        }
    }
    scheduleFlushLocked();
}

void TreeNodeController::nodeInserted(TreeNode* parent, TreeNode* child, int row)
{
    if (!child)
        return;
    QPointer<TreeNode> alive(child);
    // Captured under the mutex, so that the queue orders the capture with
    // the changes other threads announce (see the class comment).
    QMutexLocker lock(&m_mutex);
    TreeNodeModel::Capture subtree;
    if (m_hasModel)
        subtree = TreeNodeModel::capture(child);
    m_structure.append({StructureChange::Insert, parent, child, alive, std::move(subtree), row, false});
    scheduleFlushLocked();
}

void TreeNodeController::nodeRemoved(TreeNode* parent, TreeNode* child, bool retire)
{
    if (!child)
        return;
    QPointer<TreeNode> alive(child);
    QMutexLocker lock(&m_mutex);
    m_structure.append({StructureChange::Remove, parent, child, alive, {}, -1, retire});
    scheduleFlushLocked();
}

void TreeNodeController::scheduleFlushLocked()
{
    if (m_flushPosted)
        return;
    m_flushPosted = true;
    // Posting an event neither blocks nor calls back into the tree.
    QMetaObject::invokeMethod(this, &TreeNodeController::onFlushRequested, Qt::QueuedConnection);
}

bool TreeNodeController::hasPendingChanges() const
{
    QMutexLocker lock(&m_mutex);
    return !m_structure.isEmpty() || !m_changed.isEmpty();
}

void TreeNodeController::onFlushRequested()
{
    if (m_flushTimer->isActive())
        return;
    const qint64 since = m_sinceFlush.isValid() ? m_sinceFlush.elapsed() : kMinFlushIntervalMs;
    if (since < kMinFlushIntervalMs)
        m_flushTimer->start(int(kMinFlushIntervalMs - since));
    else
        flush();
}

void TreeNodeController::flush()
{
    m_flushTimer->stop();
    QList<StructureChange> structure;
    TreeNodeModel::PendingChanges changed;
    {
        QMutexLocker lock(&m_mutex);
        structure.swap(m_structure);
        changed.swap(m_changed);
        m_flushPosted = false;
    }
    m_sinceFlush.start();

    if (TreeNodeModel* model = m_model) {
        for (const StructureChange& change : std::as_const(structure)) {
            if (change.kind == StructureChange::Insert)
                model->applyInsert(change.parent, change.subtree, change.row);
            else
                model->applyRemove(change.parent, change.child);
        }
        if (!changed.isEmpty()) {
            const auto ranges = model->changedRanges(changed);
            for (const auto& range : ranges)
                emit dataChanged(range.first, range.second);
        }
    }

    // Only now that the model has let go of them.
    for (const StructureChange& change : std::as_const(structure)) {
        if (change.kind == StructureChange::Remove && change.retire && change.alive)
            change.alive->deleteLater();
    }
}

} // namespace halvorn::general
