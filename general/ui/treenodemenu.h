#pragma once

#include "general/treenode.h"
#include "general/ui/widgetmenubuilder.h"

#include <QMenu>
#include <QPointer>

namespace halvorn::general {

// The context menu of a tree node. create() picks the menu for the kind of
// node: a DeviceNodeMenu for a device on a network, a ParameterNodeMenu for
// a parameter, and for every other node (the dongle, networks, groups,
// inputs and outputs) this menu filled from the node's own description
// (TreeNode::populateMenu), which carries its searches and updates.
//
// Menus live in the GUI thread; their entries reach nodes in network
// threads through queued connections. A menu may be deleted as soon as it
// is closed: tasks made for it are kept until they have run.
class TreeNodeMenu : public QMenu
{
    Q_OBJECT

public:
    // A menu without entries for the node; fill it with builder().
    explicit TreeNodeMenu(halvorn::general::TreeNode* node, QWidget* parent = nullptr);
    ~TreeNodeMenu() override;

    // The filled menu for the node (nullptr for a null node); the caller owns it.
    static TreeNodeMenu* create(halvorn::general::TreeNode* node);
    // Pops the node's menu up at a global position; it deletes itself when closed.
    static TreeNodeMenu* popupFor(halvorn::general::TreeNode* node, const QPoint& globalPos);

    TreeNode* node() const { return m_node; }
    MenuBuilder& builder() { return m_builder; }

private:
    QPointer<TreeNode> m_node;
    WidgetMenuBuilder m_builder;
};

} // namespace halvorn::general
