#pragma once

#include "general/task.h"
#include "general/ui/treenodemenuitem.h"

#include <QPointer>

namespace halvorn::general {

// A menu entry that hands its task to the process-wide task scheduler.
//
// A task that a node made just for the menu (its QObject parent is the
// menu owner given here) would die with the menu while it still runs; such
// a task is taken from the menu when it is queued and deleted once the
// scheduler has finished with it. Other tasks stay with their owners.
class TaskMenuItem : public TreeNodeMenuItem
{
    Q_OBJECT

public:
    explicit TaskMenuItem(halvorn::general::Task* task, QObject* menuOwner = nullptr,
                          QObject* parent = nullptr);

    Task* task() const { return m_task; }

public Q_SLOTS:
    // Queues the task unless it is already queued or running.
    void runTask();

private:
    QPointer<Task> m_task;
    QPointer<QObject> m_menuOwner;
};

} // namespace halvorn::general
