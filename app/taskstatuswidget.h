#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace halvorn::general {
class Task;
class TaskScheduler;
} // namespace halvorn::general

namespace halvorn {

// The running background task in the status bar: its name, a progress bar
// fed by the scheduler's progress signals (a busy bar until the task
// reports), how many tasks wait behind it, and "Cancel", which asks the
// running task to stop. Hidden while nothing runs.
//
// The scheduler's signals may name a task that is gone by the time they
// arrive: the widget compares task pointers and never reads through them,
// except in taskStarted, which the scheduler emits in this thread while
// the task is alive.
class TaskStatusWidget : public QWidget
{
    Q_OBJECT

public:
    explicit TaskStatusWidget(general::TaskScheduler* scheduler, QWidget* parent = nullptr);

    QString taskName() const;
    QProgressBar* progressBar() const { return m_progress; }
    QPushButton* cancelButton() const { return m_cancel; }
    QLabel* queueLabel() const { return m_queued; }

private:
    void taskStarted(general::Task* task);
    void taskProgress(general::Task* task, int value, int maximum);
    void taskProgressText(general::Task* task, const QString& text, int value, int maximum);
    void taskDone();
    void refreshQueue();

    general::TaskScheduler* const m_scheduler;
    const general::Task* m_current = nullptr; // compared, never dereferenced
    QLabel* m_name;
    QProgressBar* m_progress;
    QLabel* m_queued;
    QPushButton* m_cancel;
    QTimer* m_queueTimer;
};

} // namespace halvorn
