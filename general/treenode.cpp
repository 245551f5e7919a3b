#include "general/treenode.h"

#include "general/menubuilder.h"
#include "general/taskscheduler.h"
#include "general/treeobserver.h"
#include "general/updatetask.h"

#include <QAction>
#include <QMutexLocker>
#include <QTextStream>
#include <QThread>

namespace halvorn::general {

namespace {

std::atomic<quint32> s_nodeCounter{0};

QString quoted(const QString& text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

} // namespace

TreeNode::TreeNode(TreeNode* parent)
    : m_id(++s_nodeCounter)
    , m_parent(parent)
{
}

TreeNode::~TreeNode()
{
    // A node deleted while still listed by its parent (instead of retired)
    // must not leave a dangling pointer behind, in the tree or in the views.
    if (TreeNode* parent = m_parent.load(); parent && parent->detachChild(this)) {
        if (TreeObserver* observer = controller())
            observer->nodeRemoved(parent, this, false);
    }

    QList<TreeNode*> children;
    {
        QMutexLocker lock(&m_mutex);
        children.swap(m_children);
    }
    for (TreeNode* child : std::as_const(children)) {
        child->m_parent = nullptr;
        delete child;
    }
}

QString TreeNode::name() const
{
    QMutexLocker lock(&m_mutex);
    return m_name;
}

void TreeNode::setName(const QString& name)
{
    {
        QMutexLocker lock(&m_mutex);
        if (m_name == name)
            return;
        m_name = name;
    }
    notifyChanged(0, 0);
}

QString TreeNode::tooltip() const
{
    QMutexLocker lock(&m_mutex);
    return m_tooltip;
}

void TreeNode::setTooltip(const QString& text)
{
    QMutexLocker lock(&m_mutex);
    m_tooltip = text;
}

bool TreeNode::isEnabled() const
{
    for (const TreeNode* node = this; node; node = node->parentNode()) {
        if (!node->m_enabled.load())
            return false;
    }
    return true;
}

void TreeNode::setEnabled(bool enabled)
{
    if (m_enabled.exchange(enabled) != enabled)
        notifyChanged(0, 4);
}

void TreeNode::setAutoUpdate(bool autoUpdate)
{
    if (m_autoUpdate.exchange(autoUpdate) != autoUpdate)
        notifyChanged(0, 0);
    if (!autoUpdate)
        return;
    // An auto-updated node is reached only through auto-updated ancestors.
    for (TreeNode* node = parentNode(); node; node = node->parentNode()) {
        if (node->m_autoUpdate.exchange(true))
            break;
        node->notifyChanged(0, 0);
    }
}

void TreeNode::setAutoUpdateCheckable(bool checkable)
{
    m_autoUpdateCheckable = checkable;
}

void TreeNode::setRetryCount(int count)
{
    m_retryCount = count;
}

void TreeNode::setUpdateState(int state)
{
    if (m_updateState.exchange(state) != state)
        notifyChanged(0, 0);
}

int TreeNode::childCount() const
{
    QMutexLocker lock(&m_mutex);
    return int(m_children.size());
}

TreeNode* TreeNode::child(int index) const
{
    QMutexLocker lock(&m_mutex);
    return index >= 0 && index < m_children.size() ? m_children.at(index) : nullptr;
}

QList<TreeNode*> TreeNode::childNodes() const
{
    QMutexLocker lock(&m_mutex);
    return m_children; // implicitly shared: no copy unless the tree changes meanwhile
}

int TreeNode::indexOfChild(const TreeNode* child) const
{
    QMutexLocker lock(&m_mutex);
    return int(m_children.indexOf(const_cast<TreeNode*>(child)));
}

int TreeNode::row() const
{
    const TreeNode* parent = parentNode();
    return parent ? parent->indexOfChild(this) : 0;
}

TreeNode* TreeNode::findChild(const QString& name) const
{
    const QList<TreeNode*> children = childNodes();
    for (TreeNode* child : children) {
        if (child->name() == name)
            return child;
    }
    return nullptr;
}

void TreeNode::setController(TreeObserver* controller)
{
    m_controller = controller;
    const QList<TreeNode*> children = childNodes();
    for (TreeNode* child : children)
        child->setController(controller);
}

void TreeNode::addChild(TreeNode* child, bool moveToMyThread)
{
    if (!child)
        return;
    if (moveToMyThread)
        child->moveSubtreeToThread(thread());
    insertAt(kAppend, child);
}

bool TreeNode::insertChild(int row, TreeNode* child)
{
    return row >= 0 && insertAt(row, child);
}

bool TreeNode::insertAt(int row, TreeNode* child)
{
    if (!child || child == this)
        return false;
    TreeNode* oldParent = child->parentNode();
    if (oldParent && oldParent != this && oldParent->indexOfChild(child) >= 0)
        oldParent->removeChild(child);
    {
        // The row is checked and used under one lock: another thread may
        // change the list at any time.
        QMutexLocker lock(&m_mutex);
        if (row == kAppend)
            row = int(m_children.size());
        if (row < 0 || row > m_children.size() || m_children.contains(child))
            return false;
        QList<TreeNode*> children = m_children; // never in place: see detachChild()
        children.insert(row, child);
        m_children = std::move(children);
        child->m_parent = this;
    }
    TreeObserver* observer = controller();
    child->setController(observer);
    if (observer)
        observer->nodeInserted(this, child, row);
    return true;
}

bool TreeNode::detachChild(TreeNode* child)
{
    QMutexLocker lock(&m_mutex);
    // Snapshots from childNodes() share the list's array with other threads.
    // A QList decides to change its array in place from a relaxed read of
    // the reference count, which does not order that write after a reader's
    // last access in another thread (ThreadSanitizer reports it). Changing a
    // copy, which always gets an array of its own, and assigning it back never
    // writes into an array that someone may still be reading.
    QList<TreeNode*> children = m_children;
    if (children.removeAll(child) == 0)
        return false;
    m_children = std::move(children);
    TreeNode* expected = this;
    child->m_parent.compare_exchange_strong(expected, nullptr);
    return true;
}

void TreeNode::removeChild(TreeNode* child)
{
    if (!child || !detachChild(child))
        return;
    child->setController(nullptr);
    if (TreeObserver* observer = controller())
        observer->nodeRemoved(this, child, false);
}

void TreeNode::retire()
{
    TreeObserver* observer = controller();
    TreeNode* parent = parentNode();
    if (parent)
        parent->detachChild(this);
    setController(nullptr);
    if (observer)
        observer->nodeRemoved(parent, this, true);
    else
        deleteLater();
}

void TreeNode::moveSubtreeToThread(QThread* target)
{
    if (thread() != target) {
        if (thread() != QThread::currentThread() && thread() != nullptr) {
            qWarning("TreeNode %u: not moved to its parent's thread (called from a foreign thread)",
                     unsigned(m_id));
        } else {
            moveToThread(target);
        }
    }
    const QList<TreeNode*> children = childNodes();
    for (TreeNode* child : children)
        child->moveSubtreeToThread(target);
}

void TreeNode::printInfo()
{
    QTextStream out(stdout);
    out << ">> TreeNode " << quoted(name()) << '\n'
        << "   * Enabled: " << quoted(isEnabled() ? QStringLiteral("YES") : QStringLiteral("NO")) << '\n'
        << "   * Auto update: " << quoted(autoUpdate() ? QStringLiteral("YES") : QStringLiteral("NO")) << '\n'
        << "   * Retry count: " << retryCount() << '\n'
        << "   * Children: " << childCount() << '\n';
    out.flush();
}

QString TreeNode::toString() const
{
    return QStringLiteral("TreeNode ") + QString::number(m_id);
}

int TreeNode::columnCount() const
{
    return 5;
}

QVariant TreeNode::data(int column, int role) const
{
    if (role == Qt::UserRole)
        return int(m_id);
    if (column == 0 && (role == Qt::DisplayRole || role == Qt::EditRole))
        return name();
    return {};
}

bool TreeNode::setData(int, const QVariant&, int)
{
    return false;
}

Qt::ItemFlags TreeNode::flags(int column) const
{
    Qt::ItemFlags result = Qt::ItemIsSelectable;
    if (isOwnEnabled())
        result |= Qt::ItemIsEnabled;
    if (column == 0 && autoUpdateCheckable())
        result |= Qt::ItemIsUserCheckable;
    return result;
}

void TreeNode::populateMenu(MenuBuilder& menu)
{
    QAction* action = menu.addAction(QStringLiteral("Update ") + quoted(name()));
    connect(action, &QAction::triggered, this, &TreeNode::triggerUpdate);
}

bool TreeNode::update(bool manual)
{
    setUpdateState(1);
    bool result = true;
    const QList<TreeNode*> children = childNodes();
    for (TreeNode* child : children) {
        if (manual || child->autoUpdate())
            result = child->update(manual) && result;
    }
    setUpdateState(0);
    emit updateFinished();
    return result;
}

void TreeNode::triggerUpdate()
{
    auto* task = new UpdateTask(QStringLiteral("Update ") + quoted(name()), this, true);
    TaskScheduler::instance()->addTask(task);
}

void TreeNode::notifyChanged(int firstColumn, int lastColumn) const
{
    if (TreeObserver* observer = controller())
        observer->nodeChanged(const_cast<TreeNode*>(this), firstColumn, lastColumn);
}

} // namespace halvorn::general
