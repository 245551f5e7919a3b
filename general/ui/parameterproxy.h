#pragma once

#include "general/device.h"
#include "general/network.h"

#include <QList>
#include <QObject>
#include <QPointer>

namespace halvorn::general {

// Names a parameter (or, for option proxies, a set of parameters) by number
// on the current device of a network, instead of holding the parameter
// itself: devices and their parameters come and go with the dongle. The
// device is the network's device 0.
//
// Lives in the GUI thread; the device and its parameters live in the
// network's thread and reach the proxy through queued signals. The proxy
// keeps no pointer to a device or parameter across calls: it finds them in
// the tree when it needs them. A node found in the tree stays alive until
// the GUI thread returns to its event loop (attached nodes are deleted only
// after the tree model, in the GUI thread, has let go of them), while a
// pointer kept longer could outlive its node.
class ParameterProxy : public QObject
{
    Q_OBJECT

public:
    enum Kind { IntegerKind = 0, OptionKind = 1 };

    explicit ParameterProxy(int kind);

    int kind() const { return m_kind; }
    Network* network() const { return m_network; }
    // The network's device 0 now; without a network the device given to
    // setDevice(). Use the result before returning to the event loop.
    Device* device() const;

    // Follows the network's device 0 as devices come and go.
    void setNetwork(halvorn::general::Network* network);
    // A device of its own, for a proxy without network.
    void setDevice(halvorn::general::Device* device);

    virtual bool isValid() const = 0;
    virtual bool isReadOnly() const = 0;
    virtual QString label() const = 0;
    virtual QString toolTip() const = 0;
    virtual int minimum() const = 0;
    virtual int maximum() const = 0;
    // Writes through the parameter(s) when the value differs.
    virtual void setValue(int value) = 0;
    // −1 while there is nothing to show.
    virtual int value() const = 0;

Q_SIGNALS:
    void deviceChanged(halvorn::general::Device* dev);
    // What the proxy shows may have changed.
    void paramChanged();

protected Q_SLOTS:
    // Connects the new device's notifications and refreshes the views.
    virtual void OnDeviceChange(halvorn::general::Device* dev);

protected:
    // Connects the device's notifications to paramChanged(); connections
    // made through track() are dropped when the device changes.
    virtual void connectDevice(halvorn::general::Device* device) = 0;
    void track(const QMetaObject::Connection& connection);

private:
    // Emits deviceChanged() when the current device is another one.
    void checkDevice();

    const int m_kind;
    QPointer<Network> m_network;
    QPointer<Device> m_ownDevice;
    quint32 m_deviceId = 0; // node id of the device connected to; 0 for none
    QList<QMetaObject::Connection> m_deviceConnections;
};

} // namespace halvorn::general
