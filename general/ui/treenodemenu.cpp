#include "general/ui/treenodemenu.h"

#include "general/device.h"
#include "general/parameter.h"
#include "general/ui/devicenodemenu.h"
#include "general/ui/parameternodemenu.h"

namespace halvorn::general {

TreeNodeMenu::TreeNodeMenu(TreeNode* node, QWidget* parent)
    : QMenu(parent)
    , m_node(node)
    , m_builder(this, this)
{
    if (node)
        setTitle(node->name());
}

TreeNodeMenu::~TreeNodeMenu() = default;

TreeNodeMenu* TreeNodeMenu::create(TreeNode* node)
{
    if (!node)
        return nullptr;
    if (auto* parameter = qobject_cast<Parameter*>(node))
        return new ParameterNodeMenu(parameter);
    if (auto* device = qobject_cast<Device*>(node); device && device->network())
        return new DeviceNodeMenu(device);
    auto* menu = new TreeNodeMenu(node);
    node->populateMenu(menu->builder());
    return menu;
}

TreeNodeMenu* TreeNodeMenu::popupFor(TreeNode* node, const QPoint& globalPos)
{
    TreeNodeMenu* menu = create(node);
    if (!menu)
        return nullptr;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(globalPos);
    return menu;
}

} // namespace halvorn::general
