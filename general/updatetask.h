#pragma once

#include "general/task.h"

#include <QPointer>

namespace halvorn::general {

// Refreshes a node and everything below it (update(true)) in the background.
class UpdateTask : public Task
{
    Q_OBJECT

public:
    // Named "Update "<node name>"" by its callers. A node deleted before the
    // task runs is skipped.
    UpdateTask(const QString& name, TreeNode* node, bool deleteWhenDone = false);

    void execute() override;

private:
    QPointer<TreeNode> m_node;
};

} // namespace halvorn::general
