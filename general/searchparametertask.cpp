#include "general/searchparametertask.h"

#include "general/parameterdevice.h"

namespace halvorn::general {

SearchParameterTask::SearchParameterTask(const QString& name, ParameterDevice* device, bool deleteWhenDone)
    : Task(2, name, deleteWhenDone)
    , m_device(device)
{
    setTarget(device);
}

void SearchParameterTask::execute()
{
    if (ParameterDevice* device = m_device.data())
        device->searchParameters();
}

} // namespace halvorn::general
