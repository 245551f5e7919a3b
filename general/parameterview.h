#pragma once

#include "general/treenode.h"

namespace halvorn::general {

// The base of everything shown in a parameter's row or below it: the
// parameter itself, and its byte and bit sub-views.
class ParameterView : public TreeNode
{
    Q_OBJECT

public:
    explicit ParameterView(TreeNode* parent = nullptr);

    virtual int value() const;
    virtual void setValue(int value, bool write);
    virtual bool isReadOnly() const;
    virtual bool isChanged() const;
    virtual int displayMode() const;
    virtual double scale() const;

    // Adds a sub-view below this one; a change of the sub-view also refreshes
    // this view's row (its parameterViewChanged is chained to ours).
    void addView(ParameterView* child);

Q_SIGNALS:
    void parameterViewChanged(halvorn::general::ParameterView* param, int mincol, int maxcol);

public Q_SLOTS:
    // Asks the tree observer to refresh columns mincol..maxcol of this row.
    void parameterViewUpdate(halvorn::general::ParameterView* param, int mincol, int maxcol);
};

} // namespace halvorn::general
