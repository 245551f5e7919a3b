#include "app/refreshparameterstask.h"

namespace halvorn {

RefreshParametersTask::RefreshParametersTask(general::Device* device)
    : general::Task(2, QStringLiteral("Refresh parameters \"%1\"").arg(device ? device->name() : QString()), true)
    , m_device(device)
{
    setTarget(device);
}

void RefreshParametersTask::execute()
{
    // The device is deleted only after the tree model has let go of it,
    // which the GUI thread does; the pointer guards against a task that
    // runs after a test's tree is gone.
    general::Device* device = m_device.data();
    if (!device)
        return;
    // The search returns once the parameters it found are in the tree.
    device->searchParameters();
    if (!isAborted())
        device->updateParameters();
}

} // namespace halvorn
