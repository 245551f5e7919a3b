#pragma once

#include "general/task.h"

#include <QPointer>

namespace halvorn::general {

class ParameterDevice;

// Asks a device for the parameters its hardware offers (searchParameters()).
class SearchParameterTask : public Task
{
    Q_OBJECT

public:
    // Named "Search parameters "<device name>"" by its callers. A device
    // deleted before the task runs is skipped.
    SearchParameterTask(const QString& name, ParameterDevice* device, bool deleteWhenDone = false);

    void execute() override;

private:
    QPointer<ParameterDevice> m_device;
};

} // namespace halvorn::general
