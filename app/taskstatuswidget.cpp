#include "app/taskstatuswidget.h"

#include "general/task.h"
#include "general/taskscheduler.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace halvorn {

namespace {

// Tasks are queued without a signal; while one runs the count is looked at
// this often.
constexpr int QueueRefreshMs = 250;

} // namespace

TaskStatusWidget::TaskStatusWidget(general::TaskScheduler* scheduler, QWidget* parent)
    : QWidget(parent)
    , m_scheduler(scheduler)
    , m_name(new QLabel)
    , m_progress(new QProgressBar)
    , m_queued(new QLabel)
    , m_cancel(new QPushButton(tr("Cancel")))
    , m_queueTimer(new QTimer(this))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_name->setObjectName(QStringLiteral("taskName"));
    m_progress->setObjectName(QStringLiteral("taskProgress"));
    m_progress->setMaximumWidth(160);
    m_progress->setMaximumHeight(16);
    m_progress->setTextVisible(false);
    m_queued->setObjectName(QStringLiteral("taskQueue"));
    m_cancel->setObjectName(QStringLiteral("taskCancel"));
    m_cancel->setToolTip(tr("Stop the running task"));
    layout->addWidget(m_name);
    layout->addWidget(m_progress);
    layout->addWidget(m_queued);
    layout->addWidget(m_cancel);
    layout->addStretch();

    m_queueTimer->setInterval(QueueRefreshMs);
    connect(m_queueTimer, &QTimer::timeout, this, &TaskStatusWidget::refreshQueue);
    connect(m_cancel, &QPushButton::clicked, scheduler, &general::TaskScheduler::abortTask);
    connect(scheduler, &general::TaskScheduler::taskStarted, this, &TaskStatusWidget::taskStarted);
    connect(scheduler, qOverload<general::Task*, int, int>(&general::TaskScheduler::taskProgress), this,
            &TaskStatusWidget::taskProgress);
    connect(scheduler, qOverload<general::Task*, QString, int, int>(&general::TaskScheduler::taskProgress), this,
            &TaskStatusWidget::taskProgressText);
    connect(scheduler, &general::TaskScheduler::taskDone, this, &TaskStatusWidget::taskDone);

    if (general::Task* running = scheduler->currentTask())
        taskStarted(running);
    else
        setVisible(false);
}

QString TaskStatusWidget::taskName() const
{
    return m_current ? m_name->text() : QString();
}

void TaskStatusWidget::taskStarted(general::Task* task)
{
    m_current = task;
    m_name->setText(task->name());
    m_progress->setRange(0, 0);
    m_cancel->setEnabled(true);
    refreshQueue();
    m_queueTimer->start();
    setVisible(true);
}

void TaskStatusWidget::taskProgress(general::Task* task, int value, int maximum)
{
    if (task != m_current || maximum <= 0)
        return;
    m_progress->setRange(0, maximum);
    m_progress->setValue(qBound(0, value, maximum));
}

void TaskStatusWidget::taskProgressText(general::Task* task, const QString& text, int value, int maximum)
{
    if (task != m_current)
        return;
    m_progress->setToolTip(text);
    taskProgress(task, value, maximum);
}

void TaskStatusWidget::taskDone()
{
    m_current = nullptr;
    // The next task, if any, announces itself at once after this.
    m_queueTimer->stop();
    setVisible(false);
}

void TaskStatusWidget::refreshQueue()
{
    const int waiting = m_scheduler->queuedCount();
    m_queued->setText(waiting > 0 ? tr("%n more queued", nullptr, waiting) : QString());
    m_queued->setVisible(waiting > 0);
}

} // namespace halvorn
