#pragma once

#include "general/treenode.h"

#include <QAction>
#include <QPointer>

namespace halvorn::general {

// The base of the menu entries that act on a tree node or one of its
// objects (a task, a parameter).
class TreeNodeMenuItem : public QAction
{
    Q_OBJECT

public:
    explicit TreeNodeMenuItem(const QString& text, QObject* parent = nullptr);

    // The node the entry acts on, if it names one; null once it is gone.
    TreeNode* node() const { return m_node; }
    void setNode(TreeNode* node) { m_node = node; }

private:
    QPointer<TreeNode> m_node;
};

} // namespace halvorn::general
