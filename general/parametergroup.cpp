#include "general/parametergroup.h"

#include "general/parameter.h"

#include <QColor>

namespace halvorn::general {

ParameterGroup::ParameterGroup(TreeNode* parent)
    : TreeNode(parent)
{
}

Parameter* ParameterGroup::findParameter(uint paramNumber) const
{
    const QList<TreeNode*> children = childNodes();
    for (TreeNode* child : children) {
        if (auto* param = qobject_cast<Parameter*>(child)) {
            if (param->number() == paramNumber)
                return param;
        } else if (auto* group = qobject_cast<ParameterGroup*>(child)) {
            if (Parameter* found = group->findParameter(paramNumber))
                return found;
        }
    }
    return nullptr;
}

ParameterGroup* ParameterGroup::group(const QString& name)
{
    const QList<TreeNode*> children = childNodes();
    for (TreeNode* child : children) {
        auto* existing = qobject_cast<ParameterGroup*>(child);
        if (existing && existing->name() == name)
            return existing;
    }
    auto* created = new ParameterGroup(this);
    created->setName(name);
    addChild(created, true);
    return created;
}

QVariant ParameterGroup::data(int column, int role) const
{
    if (column == 0 && role == Qt::BackgroundRole && updateState() == 1)
        return QColor(200, 200, 240);
    if (column == 0 && role == Qt::CheckStateRole && autoUpdateCheckable())
        return int(autoUpdate() ? Qt::Checked : Qt::Unchecked);
    return TreeNode::data(column, role);
}

bool ParameterGroup::setData(int column, const QVariant& value, int role)
{
    if (role == Qt::CheckStateRole) {
        setAutoUpdate(value.toInt() == Qt::Checked);
        return true;
    }
    return TreeNode::setData(column, value, role);
}

} // namespace halvorn::general
