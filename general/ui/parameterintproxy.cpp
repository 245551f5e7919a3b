#include "general/ui/parameterintproxy.h"

namespace halvorn::general {

ParameterIntProxy::ParameterIntProxy(uint number)
    : ParameterProxy(IntegerKind)
    , m_number(number)
{
}

Parameter* ParameterIntProxy::parameter() const
{
    Device* dev = device();
    return dev ? dev->findParameter(m_number) : nullptr;
}

bool ParameterIntProxy::isValid() const
{
    return parameter() != nullptr;
}

bool ParameterIntProxy::isReadOnly() const
{
    const Parameter* param = parameter();
    if (!param || param->readState() == Parameter::ReadFailed)
        return true;
    return param->isReadOnly();
}

QString ParameterIntProxy::label() const
{
    const Parameter* param = parameter();
    if (!param)
        return {};
    return QString::number(m_number) + QStringLiteral(". ") + param->name();
}

QString ParameterIntProxy::toolTip() const
{
    const Parameter* param = parameter();
    return param ? param->tooltip() : QString();
}

int ParameterIntProxy::minimum() const
{
    const Parameter* param = parameter();
    return param ? param->minimum() : 0;
}

int ParameterIntProxy::maximum() const
{
    const Parameter* param = parameter();
    return param ? param->maximum() : 65535;
}

int ParameterIntProxy::value() const
{
    const Parameter* param = parameter();
    return param ? param->value() : -1;
}

void ParameterIntProxy::setValue(int value)
{
    Parameter* param = parameter();
    if (!param || value == param->value())
        return;
    // The write goes to the bus: run it in the parameter's (network) thread,
    // so a silent dongle never holds up the window.
    QMetaObject::invokeMethod(param, [param, value] { param->setValue(value, true); });
}

void ParameterIntProxy::OnDeviceChange(Device* dev)
{
    m_watchedId = 0;
    ParameterProxy::OnDeviceChange(dev);
}

void ParameterIntProxy::connectDevice(Device* device)
{
    track(connect(device, &Device::parameterSearchFinished, this, &ParameterProxy::paramChanged));
    track(connect(device, &Device::parameterAdded, this, &ParameterIntProxy::parameterFound));
    if (Parameter* param = device->findParameter(m_number)) {
        watch(param);
        emit paramChanged();
    }
}

void ParameterIntProxy::parameterFound(Parameter* param)
{
    // The pointer came through a queue: compare it, never follow it.
    Parameter* mine = parameter();
    if (!param || mine != param)
        return;
    watch(mine);
    // Show it at once, not only at the end of the parameter search.
    emit paramChanged();
}

void ParameterIntProxy::watch(Parameter* param)
{
    if (m_watchedId == param->id())
        return;
    m_watchedId = param->id();
    track(connect(param, &Parameter::parameterChanged, this, &ParameterProxy::paramChanged));
}

} // namespace halvorn::general
