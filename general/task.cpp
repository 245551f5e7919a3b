#include "general/task.h"

#include "general/taskscheduler.h"
#include "general/threadnames.h"

#include <QThread>

namespace halvorn::general {

Task::Task(int kind, const QString& name, bool deleteWhenDone)
    : m_deleteWhenDone(deleteWhenDone)
    , m_kind(kind)
    , m_name(name)
{
    setAutoDelete(false);
}

Task::~Task()
{
    TaskScheduler::forgetTask(this);
}

void Task::abort()
{
    m_aborted = true;
}

void Task::setState(int state)
{
    m_state = state;
}

void Task::run()
{
    setState(Running);
    emit taskStarted(this);
    setThreadName(QThread::currentThread(), m_name);
    if (!isAborted())
        execute();
    if (isAborted())
        emit taskAborted(this);
    setState(Idle);
    emit taskDone(this);
}

void Task::reportProgress(int val, int max)
{
    emit taskProgress(this, val, max);
}

void Task::reportProgress(const QString& text, int val, int max)
{
    emit taskProgress(this, text, val, max);
}

void Task::reportStatus(int status, const QString& text)
{
    emit taskStatusMessage(status, text);
}

} // namespace halvorn::general
