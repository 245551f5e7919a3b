#include "general/taskscheduler.h"

#include "general/task.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <QThread>
#include <QThreadPool>

#include <atomic>
#include <utility>

namespace halvorn::general {

namespace {
std::atomic<TaskScheduler*> s_scheduler{nullptr};
}

TaskScheduler::TaskScheduler()
    : m_pool(new QThreadPool(this))
{
    m_pool->setMaxThreadCount(1);
    m_pool->setExpiryTimeout(-1);
}

TaskScheduler::~TaskScheduler() = default;

TaskScheduler* TaskScheduler::instance()
{
    static TaskScheduler* const scheduler = [] {
        auto* created = new TaskScheduler;
        // The main thread has an event loop for the queued calls; a pool or
        // network thread asking first may not.
        if (QCoreApplication* app = QCoreApplication::instance(); app && app->thread() != created->thread())
            created->moveToThread(app->thread());
        s_scheduler = created;
        return created;
    }();
    return scheduler;
}

void TaskScheduler::addTask(Task* task)
{
    if (!task)
        return;
    int idle = Task::Idle;
    if (!task->m_state.compare_exchange_strong(idle, Task::Queued)) {
        qWarning("Task \"%s\" is already queued or running", qPrintable(task->name()));
        return;
    }
    task->resetAbort();
    {
        QMutexLocker lock(&m_mutex);
        m_queue.append(task);
    }
    if (QThread::currentThread() == thread())
        startNext();
    else
        QMetaObject::invokeMethod(this, &TaskScheduler::startNext, Qt::QueuedConnection);
}

Task* TaskScheduler::currentTask() const
{
    QMutexLocker lock(&m_mutex);
    return m_current;
}

int TaskScheduler::queuedCount() const
{
    QMutexLocker lock(&m_mutex);
    return int(m_queue.size());
}

void TaskScheduler::abortTask()
{
    QMutexLocker lock(&m_mutex);
    if (m_current)
        m_current->abort();
}

void TaskScheduler::forgetTask(Task* task)
{
    if (TaskScheduler* scheduler = s_scheduler.load()) {
        QMutexLocker lock(&scheduler->m_mutex);
        scheduler->m_queue.removeAll(task);
        if (scheduler->m_current == task)
            scheduler->m_currentDeleted = true;
    }
}

void TaskScheduler::startNext()
{
    Task* task = nullptr;
    int left = 0;
    {
        QMutexLocker lock(&m_mutex);
        if (m_current)
            return;
        if (!m_queue.isEmpty()) {
            task = m_queue.takeFirst();
            m_current = task;
            m_currentDeleted = false;
            left = int(m_queue.size());
        }
    }
    if (!task) {
        emit taskQueueEmpty();
        return;
    }

    connect(task, qOverload<Task*, int, int>(&Task::taskProgress), this,
            qOverload<Task*, int, int>(&TaskScheduler::taskProgress));
    connect(task, qOverload<Task*, QString, int, int>(&Task::taskProgress), this,
            qOverload<Task*, QString, int, int>(&TaskScheduler::taskProgress));
    m_pool->start([this, task] {
        task->run();
        QMetaObject::invokeMethod(this, [this, task] { taskFinished(task); }, Qt::QueuedConnection);
    });
    emit taskStartedFromQueue(task, left);
    emit taskStarted(task);
}

void TaskScheduler::taskFinished(Task* task)
{
    bool deleted = false;
    {
        QMutexLocker lock(&m_mutex);
        if (!task || task != m_current)
            return;
        m_current = nullptr;
        deleted = std::exchange(m_currentDeleted, false);
    }
    if (!deleted) {
        disconnect(task, nullptr, this, nullptr);
        if (task->deleteWhenDone())
            delete task;
    }
    emit taskDone();
    startNext();
}

} // namespace halvorn::general
