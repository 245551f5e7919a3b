#include "general/ui/parameterproxy.h"

#include "general/parameter.h"

namespace halvorn::general {

ParameterProxy::ParameterProxy(int kind)
    : m_kind(kind)
{
    // Devices announce their parameters across threads.
    qRegisterMetaType<halvorn::general::Parameter*>();
    qRegisterMetaType<halvorn::general::Device*>();
    connect(this, &ParameterProxy::deviceChanged, this, &ParameterProxy::OnDeviceChange);
}

Device* ParameterProxy::device() const
{
    if (m_network)
        return m_network->deviceAt(0);
    return m_ownDevice;
}

void ParameterProxy::setNetwork(Network* network)
{
    if (m_network != network) {
        if (m_network)
            disconnect(m_network, nullptr, this, nullptr);
        m_network = network;
        if (network) {
            connect(network, &Network::deviceAdded, this, &ParameterProxy::checkDevice);
            connect(network, &Network::deviceFound, this, &ParameterProxy::checkDevice);
            connect(network, &Network::deviceRemoved, this, &ParameterProxy::checkDevice);
        }
    }
    checkDevice();
}

void ParameterProxy::setDevice(Device* device)
{
    m_ownDevice = device;
    checkDevice();
}

void ParameterProxy::checkDevice()
{
    Device* current = device();
    const quint32 id = current ? current->id() : 0;
    if (id == m_deviceId)
        return;
    for (const QMetaObject::Connection& connection : std::as_const(m_deviceConnections))
        disconnect(connection);
    m_deviceConnections.clear();
    m_deviceId = id;
    emit deviceChanged(current);
}

void ParameterProxy::track(const QMetaObject::Connection& connection)
{
    if (connection)
        m_deviceConnections.append(connection);
}

void ParameterProxy::OnDeviceChange(Device* dev)
{
    if (dev)
        connectDevice(dev);
    emit paramChanged();
}

} // namespace halvorn::general
