#pragma once

#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>

class QThreadPool;

namespace halvorn::general {

class Task;

// Runs every background task of the process, one at a time, in FIFO order,
// on a pool thread of its own (the pool has one thread that never expires,
// so the thread-name table names one thread after whichever task runs).
//
// The scheduler lives in the application's main thread whoever asks for it
// first; addTask() may be called from any thread (the queue is guarded by a
// mutex and the start of the next task is forwarded to the main thread with
// a queued call). A task's completion reaches taskFinished() as a queued call
// made after the task's run() has returned, so the scheduler may delete the
// task there without racing the pool thread. Only tasks created with
// deleteWhenDone are deleted; the owners of the others may delete them once
// they are Idle again (from taskDone on, even before the scheduler has seen
// the end), or while they are queued (they simply leave the queue). A task
// must never be deleted while its run() executes.
class TaskScheduler : public QObject
{
    Q_OBJECT

public:
    // The process-wide scheduler, created on the first call.
    static TaskScheduler* instance();

    // Queues the task (state Queued, abort flag cleared) and starts it when
    // nothing else runs. A task already queued or running is not queued again.
    void addTask(halvorn::general::Task* task);

    // The running task, or nullptr. Only for display: it may finish at once.
    Task* currentTask() const;
    int queuedCount() const;

Q_SIGNALS:
    void taskStartedFromQueue(halvorn::general::Task* task, int queueSizeLeft);
    void taskQueueEmpty();
    void taskStarted(halvorn::general::Task* task);
    void taskDone();
    void taskProgress(halvorn::general::Task* task, QString str, int val, int max);
    void taskProgress(halvorn::general::Task* task, int val, int max);

public Q_SLOTS:
    // Sets the abort flag of the running task; queued tasks are not affected.
    void abortTask();
    // The running task has finished: disconnects it, deletes it if it was
    // made to be deleted, emits taskDone() and starts the next task.
    void taskFinished(halvorn::general::Task* task);

private:
    friend class Task;
    TaskScheduler();
    ~TaskScheduler() override;
    // Called by every task's destructor.
    static void forgetTask(Task* task);
    void startNext();

    mutable QMutex m_mutex;
    QList<Task*> m_queue;        // guarded by m_mutex
    Task* m_current = nullptr;   // guarded by m_mutex
    bool m_currentDeleted = false; // guarded by m_mutex: its owner deleted it after taskDone
    QThreadPool* const m_pool;
};

} // namespace halvorn::general
