#include "app/devicetreedock.h"

#include "general/treenode.h"
#include "general/ui/devicenodemenu.h"
#include "general/ui/parameternodemenu.h"
#include "general/ui/treenodecontroller.h"
#include "general/ui/treenodemenu.h"
#include "general/ui/treenodemodel.h"

#include <QAction>
#include <QHeaderView>
#include <QTreeView>

namespace halvorn {

namespace {

// Dongles are at depth 0, networks at 1: both open on arrival.
constexpr int ExpandedDepth = 1;

int depthOf(QModelIndex index)
{
    int depth = 0;
    while (index.parent().isValid()) {
        index = index.parent();
        ++depth;
    }
    return depth;
}

} // namespace

DeviceTreeDock::DeviceTreeDock(general::TreeNode* root, general::TreeNodeController* controller, QWidget* parent)
    : QDockWidget(tr("Devices"), parent)
    , m_model(new general::TreeNodeModel(root, this))
    , m_view(new QTreeView)
{
    controller->setModel(m_model);
    m_view->setModel(m_model);
    m_view->setObjectName(QStringLiteral("deviceTreeView"));
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    m_view->setUniformRowHeights(true);
    m_view->setAlternatingRowColors(true);
    m_view->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    m_view->header()->setStretchLastSection(true);
    m_view->setColumnWidth(0, 240);
    for (int column = 1; column < 4; ++column)
        m_view->setColumnWidth(column, 60);
    connect(m_view, &QTreeView::customContextMenuRequested, this, &DeviceTreeDock::showMenu);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &DeviceTreeDock::expandNewRows);
    setWidget(m_view);
}

general::TreeNodeMenu* DeviceTreeDock::menuFor(const QModelIndex& index) const
{
    general::TreeNode* node = m_model->nodeForIndex(index.siblingAtColumn(0));
    general::TreeNodeMenu* menu = general::TreeNodeMenu::create(node);
    // The menus of devices and parameters have no update entry of their
    // own; every other node's menu starts with one.
    if (qobject_cast<general::DeviceNodeMenu*>(menu) || qobject_cast<general::ParameterNodeMenu*>(menu)) {
        auto* update = new QAction(QStringLiteral("Update \"%1\"").arg(node->name()), menu);
        connect(update, &QAction::triggered, node, &general::TreeNode::triggerUpdate);
        menu->insertAction(menu->actions().value(0), update);
    }
    return menu;
}

void DeviceTreeDock::showMenu(const QPoint& position)
{
    general::TreeNodeMenu* menu = menuFor(m_view->indexAt(position));
    if (!menu)
        return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(m_view->viewport()->mapToGlobal(position));
}

void DeviceTreeDock::expandNewRows(const QModelIndex& parent, int first, int last)
{
    if (parent.isValid() && depthOf(parent) >= ExpandedDepth)
        return;
    for (int row = first; row <= last; ++row)
        m_view->expand(m_model->index(row, 0, parent));
    if (parent.isValid())
        m_view->expand(parent);
}

} // namespace halvorn
