#include "general/parameterdevice.h"

#include "general/parameter.h"
#include "general/searchparametertask.h"
#include "general/taskscheduler.h"

namespace halvorn::general {

ParameterDevice::ParameterDevice(TreeNode* parent)
    : ParameterGroup(parent)
{
}

void ParameterDevice::searchParameters()
{
}

void ParameterDevice::uploadParameter(Parameter*, bool&)
{
}

uint ParameterDevice::downloadParameter(Parameter*, bool&)
{
    return 0;
}

int ParameterDevice::readAttempts() const
{
    return 1;
}

Parameter* ParameterDevice::addParameter(ParameterGroup* group, Parameter* param)
{
    if (!group || !param)
        return nullptr;
    if (Parameter* existing = group->findParameter(param->number()))
        return existing;
    group->addChild(param, true);
    return param;
}

bool ParameterDevice::parameterWrite(Parameter* param, int retryCount)
{
    if (!param)
        return false;
    if (param->isReadOnly())
        return true;
    const int attempts = qMax(retryCount, 1);
    for (int attempt = 0; attempt < attempts; ++attempt) {
        bool ok = true;
        uploadParameter(param, ok);
        if (ok)
            return true;
    }
    return false;
}

void ParameterDevice::parameterChanged(Parameter*)
{
}

void ParameterDevice::triggerSearchParameters()
{
    auto* task = new SearchParameterTask(
        QStringLiteral("Search parameters \"") + name() + QLatin1Char('"'), this, true);
    TaskScheduler::instance()->addTask(task);
}

} // namespace halvorn::general
