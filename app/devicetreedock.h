#pragma once

#include <QDockWidget>

class QTreeView;

namespace halvorn::general {
class TreeNode;
class TreeNodeController;
class TreeNodeMenu;
class TreeNodeModel;
} // namespace halvorn::general

namespace halvorn {

// The "Devices" dock: the device tree below the root (dongles, their
// networks, devices, parameter groups, parameters, inputs and outputs) in
// the five columns Name, Number, Min, Max and Value, with each node's
// context menu, from which every search, commissioning run, parameter
// search, daisy-chain search, device removal and update is started.
//
// The model mirrors the tree through the controller attached to the root,
// so it follows the changes that networks make in their own threads.
class DeviceTreeDock : public QDockWidget
{
    Q_OBJECT

public:
    DeviceTreeDock(general::TreeNode* root, general::TreeNodeController* controller, QWidget* parent = nullptr);

    QTreeView* view() const { return m_view; }
    general::TreeNodeModel* model() const { return m_model; }
    // The menu of the node at a row (the caller owns it), as the context menu shows it.
    general::TreeNodeMenu* menuFor(const QModelIndex& index) const;

private:
    void showMenu(const QPoint& position);
    // Opens new dongles and networks, so that what a search finds shows.
    void expandNewRows(const QModelIndex& parent, int first, int last);

    general::TreeNodeModel* m_model;
    QTreeView* m_view;
};

} // namespace halvorn
