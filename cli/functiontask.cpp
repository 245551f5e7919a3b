#include "cli/functiontask.h"

namespace halvorn::cli {

FunctionTask::FunctionTask(const QString& name, Work work)
    : general::Task(2, name, false)
    , m_work(std::move(work))
{
}

void FunctionTask::execute()
{
    if (m_work)
        m_work(*this);
}

} // namespace halvorn::cli
