#pragma once

#include "general/device.h"
#include "general/task.h"

#include <QPointer>

namespace halvorn {

// The DMX page's "Refresh parameters" as one background task: the device
// lists the parameters its hardware offers (searchParameters), then reads
// them all (updateParameters). A device that is gone before the task runs
// is skipped; an abort between the two steps skips the reading.
class RefreshParametersTask : public general::Task
{
    Q_OBJECT

public:
    explicit RefreshParametersTask(general::Device* device);

    void execute() override;

private:
    QPointer<general::Device> m_device;
};

} // namespace halvorn
