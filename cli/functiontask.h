#pragma once

#include "general/task.h"

#include <functional>

namespace halvorn::cli {

// A task that runs a function in the task pool, so that the command line
// tool's bus work goes through the TaskScheduler like every search and
// update of the window: one piece of work at a time, abortable (Ctrl-C)
// through TaskScheduler::abortTask(). The function checks isAborted()
// between steps.
class FunctionTask : public general::Task
{
    Q_OBJECT

public:
    using Work = std::function<void(FunctionTask&)>;

    FunctionTask(const QString& name, Work work);

    void execute() override;

    using general::Task::reportProgress;

private:
    const Work m_work;
};

} // namespace halvorn::cli
