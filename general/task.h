#pragma once

#include <QObject>
#include <QRunnable>
#include <QString>

#include <atomic>

namespace halvorn::general {

class TreeNode;

// Work that occupies a bus for a long time, run by the TaskScheduler in a
// pool thread, one task at a time. execute() implementations that loop
// check isAborted() between steps.
//
// State: Idle (created or finished) -> Queued (TaskScheduler::addTask) ->
// Running (run() begins) -> Idle (run() ends, taskDone emitted). A task
// aborted before it starts does not execute at all; it still reports
// taskAborted and taskDone. A queued task that is deleted leaves the queue.
class Task : public QObject, public QRunnable
{
    Q_OBJECT

public:
    enum State { Idle = 0, Queued = 1, Running = 2 };

    // kind is 2 for every task of this program; deleteWhenDone: the
    // scheduler deletes the task once it has finished.
    Task(int kind, const QString& name, bool deleteWhenDone);
    ~Task() override;

    // Sets the abort flag; a running execute() stops at its next check.
    void abort();
    bool isAborted() const { return m_aborted.load(); }
    bool deleteWhenDone() const { return m_deleteWhenDone; }
    int kind() const { return m_kind; }
    int state() const { return m_state.load(); }
    void setState(int state);
    QString name() const { return m_name; }
    void setTarget(TreeNode* node) { m_target = node; }
    TreeNode* target() const { return m_target; }

    // The work itself, in a pool thread.
    virtual void execute() = 0;
    // QRunnable's entry: names the pool thread after the task (in the log's
    // thread-name table), runs execute(), emits taskAborted (when aborted)
    // and taskDone. Nothing touches the task after taskDone.
    void run() final;

Q_SIGNALS:
    void taskStarted(halvorn::general::Task* task);
    void taskAborted(halvorn::general::Task* task);
    void taskDone(halvorn::general::Task* task);
    void taskProgress(halvorn::general::Task* task, int val, int max);
    void taskProgress(halvorn::general::Task* task, QString str, int val, int max);
    void taskStatusMessage(int status, QString s);

protected:
    void reportProgress(int val, int max);
    void reportProgress(const QString& text, int val, int max);
    void reportStatus(int status, const QString& text);

private:
    friend class TaskScheduler;
    // Clears the abort flag when the task is queued, so that an abort given
    // between queueing and start is not lost.
    void resetAbort() { m_aborted = false; }

    std::atomic<bool> m_aborted{false};
    const bool m_deleteWhenDone;
    const int m_kind;
    std::atomic<int> m_state{Idle};
    const QString m_name;
    TreeNode* m_target = nullptr;
};

} // namespace halvorn::general
