#pragma once

namespace halvorn::general {

class TreeNode;

// Told about every change of a tree it is attached to (the tree controller
// of the ui layer implements it). All three are called on the thread that
// made the change, after the change; implementations must not block and
// must not call back into the tree: they post the change to the GUI thread.
class TreeObserver
{
public:
    virtual ~TreeObserver() = default;

    // Columns firstColumn..lastColumn of the node's row show something new.
    virtual void nodeChanged(TreeNode* node, int firstColumn, int lastColumn) = 0;
    // `child` (with its whole subtree) was inserted under `parent` at `row`.
    virtual void nodeInserted(TreeNode* parent, TreeNode* child, int row) = 0;
    // `child` was removed from `parent`. If `retire` is set the observer
    // deletes the child (deleteLater in its thread) once no view refers to it.
    virtual void nodeRemoved(TreeNode* parent, TreeNode* child, bool retire) = 0;
};

} // namespace halvorn::general
