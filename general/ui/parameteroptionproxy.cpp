#include "general/ui/parameteroptionproxy.h"

namespace halvorn::general {

ParameterOptionProxy::ParameterOptionProxy()
    : ParameterProxy(OptionKind)
{
}

ParameterOptionProxy::~ParameterOptionProxy() = default;

ParameterOptionProxy::Option* ParameterOptionProxy::addOption(const QString& text, const QString& iconPath)
{
    m_options.push_back(std::make_unique<Option>(text, iconPath));
    return m_options.back().get();
}

const ParameterOptionProxy::Option* ParameterOptionProxy::option(int index) const
{
    return index >= 0 && index < int(m_options.size()) ? m_options[size_t(index)].get() : nullptr;
}

bool ParameterOptionProxy::isValid() const
{
    Device* dev = device();
    if (!dev || m_options.empty())
        return false;
    for (const auto& option : m_options) {
        for (const Setting& setting : option->settings()) {
            if (!dev->findParameter(setting.number))
                return false;
        }
    }
    return true;
}

bool ParameterOptionProxy::isReadOnly() const
{
    Device* dev = device();
    if (!dev)
        return true;
    for (const auto& option : m_options) {
        for (const Setting& setting : option->settings()) {
            const Parameter* param = dev->findParameter(setting.number);
            if (!param || param->isReadOnly() || param->readState() == Parameter::ReadFailed)
                return true;
        }
    }
    return false;
}

QString ParameterOptionProxy::label() const
{
    return {};
}

QString ParameterOptionProxy::toolTip() const
{
    return {};
}

int ParameterOptionProxy::minimum() const
{
    return 0;
}

int ParameterOptionProxy::maximum() const
{
    return int(m_options.size()) - 1;
}

int ParameterOptionProxy::value() const
{
    Device* dev = device();
    if (!dev)
        return -1;
    for (int i = 0; i < int(m_options.size()); ++i) {
        const QList<Setting>& settings = m_options[size_t(i)]->settings();
        if (settings.isEmpty())
            continue;
        const Parameter* param = dev->findParameter(settings.first().number);
        if (param && param->value() == settings.first().value)
            return i;
    }
    return -1;
}

void ParameterOptionProxy::setValue(int index)
{
    Device* dev = device();
    const Option* chosen = option(index);
    if (!dev || !chosen)
        return;
    for (const Setting& setting : chosen->settings()) {
        Parameter* param = dev->findParameter(setting.number);
        if (param && param->value() != setting.value) {
            // Written in the parameter's (network) thread, off the window's.
            const int value = setting.value;
            QMetaObject::invokeMethod(param, [param, value] { param->setValue(value, true); });
        }
    }
}

void ParameterOptionProxy::connectDevice(Device* device)
{
    track(connect(device, &TreeNode::updateFinished, this, &ParameterProxy::paramChanged));
    // Also when the parameters first appear.
    track(connect(device, &Device::parameterSearchFinished, this, &ParameterProxy::paramChanged));
    track(connect(device, &Device::parameterAdded, this, &ParameterProxy::paramChanged));
}

} // namespace halvorn::general
