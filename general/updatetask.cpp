#include "general/updatetask.h"

#include "general/treenode.h"

namespace halvorn::general {

UpdateTask::UpdateTask(const QString& name, TreeNode* node, bool deleteWhenDone)
    : Task(2, name, deleteWhenDone)
    , m_node(node)
{
    setTarget(node);
}

void UpdateTask::execute()
{
    if (TreeNode* node = m_node.data())
        node->update(true);
}

} // namespace halvorn::general
