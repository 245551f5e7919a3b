#pragma once

#include "general/parameterdevice.h"

#include <QColor>
#include <QList>
#include <QMutex>

#include <atomic>

namespace halvorn::general {

class Channel;
class Network;
class Parameter;

// One piece of equipment on a network, or the dongle itself: a parameter
// device with an identity (address) on its network, a colour for the views,
// a connection state and output channels.
//
// A device lives in its network's thread (the constructor moves it there);
// its slots run there, while tasks call its parameter operations from pool
// threads. Delete an attached device only through Network::removeDevice()
// or TreeNode::retire().
//
// Subclass constructors run after the move, possibly in a task thread (a
// search creating the devices it finds): create QObject helpers without a
// parent there, or in a slot that runs in the device's thread. Tree nodes
// (groups, parameters) are fine: addChild(node, true) moves them.
class Device : public ParameterDevice
{
    Q_OBJECT

public:
    // Named `typeName`; moves itself to the network's thread when there is a
    // network; takes part in automatic updates (which also marks the network
    // and the nodes between). The tree parent defaults to the network; the
    // dongle device (no network) passes the node it will be added to.
    Device(Network* network, uint address, const QString& typeName, TreeNode* parent = nullptr);
    ~Device() override;

    // The nine colours handed out in rotation to the devices of the process.
    static int paletteSize();
    static QColor paletteColour(int index);

    Network* network() const { return m_network.load(); }
    uint address() const { return m_address.load(); }
    void setAddress(uint address);
    QColor colour() const { return m_colour; }
    bool isConnected() const { return m_isConnected.load(); }
    bool isDaisyChained() const { return m_daisyChained.load(); }
    QString connectedIcon() const { return m_connectedIcon; }
    QString disconnectedIcon() const { return m_disconnectedIcon; }
    QString configKey() const { return m_configKey; }

    int channelCount() const;
    Channel* channel(int index) const;

    void setConnected();
    void setDisconnected();
    // The device's row among all children of its network, −1 if absent.
    int networkIndex() const;

    virtual void setNetwork(Network* network);
    virtual QString logPrefix() const;
    // Extension points that no device family overrides yet.
    virtual void onBeforeAccess();
    virtual bool isAccessible() const;
    virtual int daisyChildCount() const;
    // HTML description shown by the status widgets.
    virtual QString infoText() const;
    // Adds `param` to `group` unless the group already holds that number,
    // and emits parameterAdded(); returns the parameter that is in the tree
    // (the caller deletes `param` when another one is returned).
    Parameter* addParameter(ParameterGroup* group, Parameter* param) override;
    // The network's retry count on a network, else one attempt.
    int readAttempts() const override;

    QVariant data(int column, int role) const override;
    bool setData(int column, const QVariant& value, int role) override;
    Qt::ItemFlags flags(int column) const override;
    void populateMenu(MenuBuilder& menu) override;
    void printInfo() override;
    // Base: reports the search as finished at once.
    void searchParameters() override;

public Q_SLOTS:
    void removeFromParent();
    virtual void searchDaisyChildren();
    virtual void removeDaisyChildren();
    virtual void updateParameters();
    virtual void OnParameterSearchFinished();
    virtual void OnParameterUpdateFinished();
    // Reads the device type's parameter definitions (configKey|Parameters) into the device.
    virtual void addParameters();

Q_SIGNALS:
    void channelCountChanged(uint oldChannelCount, uint newChannelCount);
    void parameterSearchFinished();
    void parameterUpdateFinished();
    void daisySearchFinished();
    void parameterAdded(halvorn::general::Parameter* param);
    void connected();
    void disconnected();
    void activity();

protected:
    virtual void onConnect();
    virtual void onDisconnect();

    void setDaisyChained(bool daisyChained) { m_daisyChained = daisyChained; }
    void setIcons(const QString& connectedIcon, const QString& disconnectedIcon);
    void setConfigKey(const QString& key) { m_configKey = key; }
    // Channels are owned by the device; appendChannel() moves a channel to
    // the device's thread (call it from the channel's thread) and both emit
    // channelCountChanged(). Removed channels are deleted later in their
    // thread, as views may still be drawing them.
    void appendChannel(Channel* channel);
    void removeChannelsFrom(int index);

private:
    std::atomic<Network*> m_network;
    std::atomic<uint> m_address;
    const QColor m_colour;
    std::atomic<bool> m_isConnected{false};
    std::atomic<bool> m_daisyChained{false};
    QString m_connectedIcon;
    QString m_disconnectedIcon;
    QString m_configKey;
    QMutex m_addParameterMutex; // makes find-or-add of a parameter number atomic
    mutable QMutex m_channelMutex;
    QList<Channel*> m_channels; // guarded by m_channelMutex
};

} // namespace halvorn::general
