#include "general/ui/treenodemodel.h"

#include "general/treenode.h"

#include <algorithm>

namespace halvorn::general {

TreeNodeModel::TreeNodeModel(TreeNode* root, QObject* parent)
    : QAbstractItemModel(parent)
    , m_columns(root ? root->columnCount() : 5)
{
    m_root.node = root;
    m_root.alive = root;
    mirrorTree(capture(root));
}

TreeNodeModel::~TreeNodeModel()
{
    for (Mirror* child : std::as_const(m_root.children))
        dropMirror(child);
}

void TreeNodeModel::mirrorTree(const Capture& tree)
{
    // Entry 0 is the root, which the mirror has already.
    QList<Mirror*> built(tree.size(), nullptr);
    if (!tree.isEmpty())
        built[0] = &m_root;
    for (int i = 1; i < tree.size(); ++i) {
        const CapturedNode& entry = tree.at(i);
        Mirror* parentMirror = entry.parent < 0 ? nullptr : built.at(entry.parent);
        if (!parentMirror || !entry.alive || m_mirrors.contains(entry.node))
            continue;
        auto* mirror = new Mirror;
        mirror->node = entry.node;
        mirror->alive = entry.alive;
        mirror->parent = parentMirror;
        mirror->row = int(parentMirror->children.size());
        parentMirror->children.append(mirror);
        m_mirrors.insert(entry.node, mirror);
        built[i] = mirror;
    }
}

void TreeNodeModel::resetFrom(const Capture& tree)
{
    beginResetModel();
    for (Mirror* child : std::as_const(m_root.children))
        dropMirror(child);
    m_root.children.clear();
    mirrorTree(tree);
    endResetModel();
}

TreeNodeModel::Capture TreeNodeModel::capture(TreeNode* top)
{
    Capture result;
    if (!top)
        return result;
    result.append({top, top, -1});
    // Breadth-first over the list itself: parents stay ahead of children,
    // and children keep their order.
    for (int i = 0; i < result.size(); ++i) {
        const QList<TreeNode*> children = result.at(i).node->childNodes();
        for (TreeNode* child : children)
            result.append({child, child, i});
    }
    return result;
}

TreeNodeModel::Mirror* TreeNodeModel::buildMirror(const Capture& subtree, Mirror* parent, int row)
{
    QList<Mirror*> built(subtree.size(), nullptr);
    for (int i = 0; i < subtree.size(); ++i) {
        const CapturedNode& entry = subtree.at(i);
        Mirror* parentMirror = entry.parent < 0 ? parent : built.at(entry.parent);
        if (!parentMirror || !entry.alive || m_mirrors.contains(entry.node))
            continue;
        auto* mirror = new Mirror;
        mirror->node = entry.node;
        mirror->alive = entry.alive;
        mirror->parent = parentMirror;
        if (entry.parent < 0) {
            mirror->row = row;
        } else {
            mirror->row = int(parentMirror->children.size());
            parentMirror->children.append(mirror);
        }
        m_mirrors.insert(entry.node, mirror);
        built[i] = mirror;
    }
    return built.value(0, nullptr);
}

void TreeNodeModel::dropMirror(Mirror* mirror)
{
    for (Mirror* child : std::as_const(mirror->children))
        dropMirror(child);
    m_mirrors.remove(mirror->node);
    delete mirror;
}

void TreeNodeModel::renumber(Mirror* parent, int fromRow)
{
    for (int row = std::max(fromRow, 0); row < parent->children.size(); ++row)
        parent->children[row]->row = row;
}

TreeNodeModel::Mirror* TreeNodeModel::mirrorOf(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this)
        return nullptr;
    return static_cast<Mirror*>(index.internalPointer());
}

TreeNodeModel::Mirror* TreeNodeModel::mirrorOfNode(const TreeNode* node) const
{
    if (node && node == m_root.node)
        return const_cast<Mirror*>(&m_root);
    return m_mirrors.value(node, nullptr);
}

QModelIndex TreeNodeModel::indexOfMirror(const Mirror* mirror, int column) const
{
    if (!mirror || mirror == &m_root)
        return {};
    return createIndex(mirror->row, column, const_cast<Mirror*>(mirror));
}

TreeNode* TreeNodeModel::nodeForIndex(const QModelIndex& index) const
{
    const Mirror* mirror = mirrorOf(index);
    return mirror ? mirror->alive.data() : nullptr;
}

QModelIndex TreeNodeModel::indexForNode(const TreeNode* node, int column) const
{
    const Mirror* mirror = m_mirrors.value(node, nullptr);
    if (!mirror || column < 0 || column >= m_columns)
        return {};
    return indexOfMirror(mirror, column);
}

QModelIndex TreeNodeModel::index(int row, int column, const QModelIndex& parent) const
{
    if (row < 0 || column < 0 || column >= m_columns)
        return {};
    // Only column-0 items have children.
    if (parent.isValid() && parent.column() != 0)
        return {};
    const Mirror* parentMirror = parent.isValid() ? mirrorOf(parent) : &m_root;
    if (!parentMirror || row >= parentMirror->children.size())
        return {};
    return createIndex(row, column, parentMirror->children.at(row));
}

QModelIndex TreeNodeModel::parent(const QModelIndex& index) const
{
    const Mirror* mirror = mirrorOf(index);
    if (!mirror || mirror->parent == &m_root)
        return {};
    return indexOfMirror(mirror->parent, 0);
}

int TreeNodeModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return int(m_root.children.size());
    if (parent.column() != 0)
        return 0;
    const Mirror* mirror = mirrorOf(parent);
    return mirror ? int(mirror->children.size()) : 0;
}

int TreeNodeModel::columnCount(const QModelIndex&) const
{
    return m_columns;
}

QVariant TreeNodeModel::data(const QModelIndex& index, int role) const
{
    const TreeNode* node = nodeForIndex(index);
    return node ? node->data(index.column(), role) : QVariant();
}

bool TreeNodeModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    TreeNode* node = nodeForIndex(index);
    if (!node)
        return false;
    if (node->thread() != thread()) {
        // An edit of a parameter value or a bit writes to the bus: run it in
        // the node's (network) thread, so a silent dongle never holds up the
        // window. The change comes back through the controller.
        const Qt::ItemFlags allowed = node->flags(index.column());
        const bool editable = role == Qt::CheckStateRole ? bool(allowed & Qt::ItemIsUserCheckable)
                                                         : bool(allowed & Qt::ItemIsEditable);
        if (!editable)
            return false;
        const int column = index.column();
        QMetaObject::invokeMethod(node, [node, column, value, role] { node->setData(column, value, role); });
        return true;
    }
    if (!node->setData(index.column(), value, role))
        return false;
    emit dataChanged(index, index);
    return true;
}

Qt::ItemFlags TreeNodeModel::flags(const QModelIndex& index) const
{
    // The root is no item: Qt's item views expect no flags (or only
    // drop-enabled) for the invalid index that stands for it.
    if (!index.isValid())
        return Qt::NoItemFlags;
    const TreeNode* node = nodeForIndex(index);
    return node ? node->flags(index.column()) : Qt::NoItemFlags;
}

QVariant TreeNodeModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case 0:
        return tr("Name");
    case 1:
        return tr("Number");
    case 2:
        return tr("Min");
    case 3:
        return tr("Max");
    case 4:
        return tr("Value");
    default:
        return {};
    }
}

void TreeNodeModel::applyInsert(TreeNode* parent, const Capture& subtree, int row)
{
    if (subtree.isEmpty() || !subtree.first().alive)
        return; // gone before the insertion reached us
    TreeNode* child = subtree.first().node;
    if (Mirror* existing = m_mirrors.value(child, nullptr)) {
        if (existing->parent->node == parent)
            return; // mirrored with its parent's subtree already
        applyRemove(existing->parent->node, child);
    }
    Mirror* parentMirror = mirrorOfNode(parent);
    if (!parentMirror)
        return; // mirrored whole when the parent's own insertion arrives
    const int insertRow = std::clamp(row, 0, int(parentMirror->children.size()));
    beginInsertRows(indexOfMirror(parentMirror, 0), insertRow, insertRow);
    Mirror* mirror = buildMirror(subtree, parentMirror, insertRow);
    parentMirror->children.insert(insertRow, mirror);
    renumber(parentMirror, insertRow + 1);
    endInsertRows();
}

void TreeNodeModel::applyRemove(TreeNode* parent, TreeNode* child)
{
    Mirror* mirror = m_mirrors.value(child, nullptr);
    if (!mirror || mirror->parent->node != parent)
        return; // never mirrored there, or already dropped
    Mirror* parentMirror = mirror->parent;
    const int row = mirror->row;
    beginRemoveRows(indexOfMirror(parentMirror, 0), row, row);
    parentMirror->children.removeAt(row);
    renumber(parentMirror, row);
    dropMirror(mirror);
    endRemoveRows();
}

QList<QPair<QModelIndex, QModelIndex>>
TreeNodeModel::changedRanges(const PendingChanges& changes) const
{
    // The spans are gathered in the parents' mirror entries, which keeps
    // this to one hash look-up per tracked node: it runs for every value of
    // every device several times a second.
    QList<Mirror*> touched;
    auto widen = [&touched](Mirror* parent, int firstRow, int lastRow, ColumnSpan columns) {
        ChangedSpan& span = parent->changed;
        if (span.firstRow < 0) {
            span = {firstRow, lastRow, columns.first, columns.last};
            touched.append(parent);
            return;
        }
        span.firstRow = std::min(span.firstRow, firstRow);
        span.lastRow = std::max(span.lastRow, lastRow);
        span.firstColumn = std::min(span.firstColumn, columns.first);
        span.lastColumn = std::max(span.lastColumn, columns.last);
    };

    auto clampColumns = [this](ColumnSpan columns) {
        return ColumnSpan{std::clamp(columns.first, 0, m_columns - 1), std::clamp(columns.last, 0, m_columns - 1)};
    };
    auto widenAll = [&](Mirror* parent, ColumnSpan columns) {
        if (parent && !parent->children.isEmpty() && columns.first <= columns.last)
            widen(parent, 0, int(parent->children.size()) - 1, columns);
    };
    for (auto group = changes.cbegin(); group != changes.cend(); ++group) {
        const ChangedChildren& children = group.value();
        if (children.all) {
            widenAll(mirrorOfNode(group.key()), clampColumns(children.allColumns));
            continue;
        }
        for (auto it = children.nodes.cbegin(); it != children.nodes.cend(); ++it) {
            const ColumnSpan columns = clampColumns(it.value());
            if (columns.first > columns.last)
                continue;
            if (it.key() == m_root.node) {
                // The root is no item: its change concerns every top-level row.
                widenAll(const_cast<Mirror*>(&m_root), columns);
            } else if (Mirror* mirror = m_mirrors.value(it.key(), nullptr)) {
                widen(mirror->parent, mirror->row, mirror->row, columns);
            }
        }
    }

    QList<QPair<QModelIndex, QModelIndex>> ranges;
    ranges.reserve(touched.size());
    for (Mirror* parent : std::as_const(touched)) {
        const ChangedSpan span = std::exchange(parent->changed, ChangedSpan());
        ranges.append({createIndex(span.firstRow, span.firstColumn, parent->children.at(span.firstRow)),
                       createIndex(span.lastRow, span.lastColumn, parent->children.at(span.lastRow))});
    }
    return ranges;
}

} // namespace halvorn::general
