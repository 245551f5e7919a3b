#include "app/refreshparameterstask.h"

#include <QDeadlineTimer>
#include <QThread>

#include <atomic>
#include <memory>

namespace halvorn {

namespace {

// How long the parameters a search reported may take to reach the device.
constexpr int SettleTimeoutMs = 2000;

// The parameters a search reports reach the device through queued calls in
// the device's own thread; a marker queued behind them tells when they are
// all in. Bounded: a device whose thread has stopped is not waited for.
void waitForQueuedCalls(general::Device* device, const general::Task& task)
{
    if (device->thread() == QThread::currentThread())
        return;
    auto reached = std::make_shared<std::atomic<bool>>(false);
    QMetaObject::invokeMethod(device, [reached] { *reached = true; }, Qt::QueuedConnection);
    const QDeadlineTimer deadline(SettleTimeoutMs);
    while (!*reached && !deadline.hasExpired() && !task.isAborted())
        QThread::msleep(1);
}

} // namespace

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
    device->searchParameters();
    waitForQueuedCalls(device, *this);
    if (!isAborted())
        device->updateParameters();
}

} // namespace halvorn
