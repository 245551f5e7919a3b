#pragma once

#include "general/parameter.h"
#include "general/ui/parameterproxy.h"

namespace halvorn::general {

// A proxy for one integer parameter, by number.
class ParameterIntProxy : public ParameterProxy
{
    Q_OBJECT

public:
    explicit ParameterIntProxy(uint number);

    uint number() const { return m_number; }
    // The device's parameter of the proxy's number, or nullptr.
    Parameter* parameter() const;

    bool isValid() const override;
    bool isReadOnly() const override;
    QString label() const override;
    QString toolTip() const override;
    int minimum() const override;
    int maximum() const override;
    void setValue(int value) override;
    int value() const override;

public Q_SLOTS:
    void parameterFound(halvorn::general::Parameter* param);

protected Q_SLOTS:
    void OnDeviceChange(halvorn::general::Device* dev) override;

protected:
    void connectDevice(halvorn::general::Device* device) override;

private:
    void watch(Parameter* param);

    const uint m_number;
    quint32 m_watchedId = 0; // node id of the parameter whose changes are followed
};

} // namespace halvorn::general
