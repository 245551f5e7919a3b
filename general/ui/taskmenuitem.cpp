#include "general/ui/taskmenuitem.h"

#include "general/taskscheduler.h"

#include <memory>

namespace halvorn::general {

namespace {

// Deletes a task taken from its menu once the scheduler is done with it:
// after taskFinished() (which emits the scheduler's taskDone()) the task is
// idle and no longer current.
void deleteWhenFinished(Task* task)
{
    TaskScheduler* scheduler = TaskScheduler::instance();
    QPointer<Task> guarded(task);
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = QObject::connect(scheduler, &TaskScheduler::taskDone, scheduler,
                                   [guarded, scheduler, connection] {
                                       if (!guarded) {
                                           QObject::disconnect(*connection);
                                           return;
                                       }
                                       if (guarded->state() != Task::Idle
                                           || scheduler->currentTask() == guarded)
                                           return;
                                       QObject::disconnect(*connection);
                                       delete guarded.data();
                                   });
}

} // namespace

TaskMenuItem::TaskMenuItem(Task* task, QObject* menuOwner, QObject* parent)
    : TreeNodeMenuItem(task ? task->name() : QString(), parent)
    , m_task(task)
    , m_menuOwner(menuOwner)
{
    if (task)
        setNode(task->target());
    connect(this, &QAction::triggered, this, &TaskMenuItem::runTask);
}

void TaskMenuItem::runTask()
{
    Task* task = m_task;
    if (!task || task->state() != Task::Idle)
        return;
    if (m_menuOwner && task->parent() == m_menuOwner) {
        task->setParent(nullptr);
        if (!task->deleteWhenDone())
            deleteWhenFinished(task);
    }
    TaskScheduler::instance()->addTask(task);
}

} // namespace halvorn::general
