#pragma once

#include "general/treenode.h"

namespace halvorn::general {

// The base of everything shown in a parameter's row or below it: the
// parameter itself, and its byte and bit sub-views.
//
// Row refreshes travel both ways: a change of a sub-view also refreshes the
// rows of the views above it (its parameterViewChanged is chained to its
// parent's), and a change that starts at a view refreshes the rows of the
// sub-views below it, whose values are derived from it.
class ParameterView : public TreeNode
{
    Q_OBJECT

public:
    explicit ParameterView(TreeNode* parent = nullptr);

    // −1 when there is no value (base: always −1).
    virtual int value() const;
    virtual void setValue(int value, bool write);
    virtual bool isReadOnly() const;
    virtual bool isChanged() const;
    virtual int displayMode() const;
    virtual double scale() const;

    // For a read-modify-write by a sub-view: this view's value, read from
    // the hardware first when it is unknown (−1: never read, or the last read
    // failed). False when it stays unknown.
    bool currentValueForChange(int& value);

    // Adds a sub-view below this one.
    void addView(ParameterView* child);

Q_SIGNALS:
    void parameterViewChanged(halvorn::general::ParameterView* param, int mincol, int maxcol);

public Q_SLOTS:
    // Asks the tree observer to refresh columns mincol..maxcol of this row
    // (and, when the change started here, the rows of the sub-views).
    void parameterViewUpdate(halvorn::general::ParameterView* param, int mincol, int maxcol);

private:
    void refreshSubViews() const;
};

} // namespace halvorn::general
