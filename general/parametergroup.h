#pragma once

#include "general/treenode.h"

namespace halvorn::general {

class Parameter;

// A node that holds parameters and sub-groups.
class ParameterGroup : public TreeNode
{
    Q_OBJECT

public:
    explicit ParameterGroup(TreeNode* parent = nullptr);

    // Depth-first in child order: the first parameter with that number.
    Parameter* findParameter(uint paramNumber) const;
    // The direct child group of that name, created (in this node's thread) when absent.
    ParameterGroup* group(const QString& name);

    QVariant data(int column, int role) const override;
    bool setData(int column, const QVariant& value, int role) override;
};

} // namespace halvorn::general
