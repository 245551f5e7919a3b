#include "general/parameterview.h"

namespace halvorn::general {

ParameterView::ParameterView(TreeNode* parent)
    : TreeNode(parent)
{
    // Direct: the observer is thread-safe and the refresh must not wait for
    // this node's event loop.
    connect(this, &ParameterView::parameterViewChanged, this, &ParameterView::parameterViewUpdate,
            Qt::DirectConnection);
}

int ParameterView::value() const
{
    return -1;
}

void ParameterView::setValue(int, bool)
{
}

bool ParameterView::isReadOnly() const
{
    return true;
}

bool ParameterView::isChanged() const
{
    return false;
}

int ParameterView::displayMode() const
{
    return 1;
}

double ParameterView::scale() const
{
    return 1.0;
}

void ParameterView::addView(ParameterView* child)
{
    if (!child)
        return;
    addChild(child, true);
    connect(child, &ParameterView::parameterViewChanged, this, &ParameterView::parameterViewChanged,
            Qt::DirectConnection);
}

bool ParameterView::currentValueForChange(int& current)
{
    current = value();
    if (current == -1) {
        update(true);
        current = value();
    }
    return current != -1;
}

void ParameterView::parameterViewUpdate(ParameterView* param, int mincol, int maxcol)
{
    if (!controller())
        return;
    notifyChanged(mincol, maxcol);
    if (param == this)
        refreshSubViews();
}

void ParameterView::refreshSubViews() const
{
    const QList<TreeNode*> children = childNodes();
    for (TreeNode* child : children) {
        if (auto* view = qobject_cast<ParameterView*>(child)) {
            view->notifyChanged(0, 4);
            view->refreshSubViews();
        }
    }
}

} // namespace halvorn::general
