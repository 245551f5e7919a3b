#include "general/device.h"

#include "general/channel.h"
#include "general/menubuilder.h"
#include "general/network.h"
#include "general/parameter.h"
#include "general/parameterdefinitionreader.h"

#include <QAction>
#include <QTextStream>
#include <QThread>

#include <array>

namespace halvorn::general {

namespace {

const std::array<QColor, 9> Palette = {
    QColor(255, 50, 100), QColor(100, 255, 50), QColor(50, 100, 255),
    QColor(255, 100, 50), QColor(50, 255, 100), QColor(100, 50, 255),
    QColor(255, 50, 255), QColor(255, 255, 50), QColor(50, 255, 255),
};

// Shared by every device of the process, whichever thread creates it.
std::atomic<uint> s_nextColour{0};

QColor takeNextColour()
{
    return Palette[s_nextColour.fetch_add(1) % Palette.size()];
}

QString quoted(const QString& text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QString quotedOrNone(const QString& text)
{
    return quoted(text.isEmpty() ? QStringLiteral("<None>") : text);
}

} // namespace

Device::Device(Network* network, uint address, const QString& typeName, TreeNode* parent)
    : ParameterDevice(parent ? parent : network)
    , m_network(network)
    , m_address(address)
    , m_colour(takeNextColour())
{
    setName(typeName);
    if (network && network->networkThread())
        moveToThread(network->networkThread());
    setAutoUpdateCheckable(true);
    setAutoUpdate(true);
    connect(this, &Device::parameterSearchFinished, this, &Device::OnParameterSearchFinished);
    connect(this, &Device::parameterUpdateFinished, this, &Device::OnParameterUpdateFinished);
}

Device::~Device()
{
    QMutexLocker locker(&m_channelMutex);
    qDeleteAll(m_channels);
    m_channels.clear();
}

int Device::paletteSize()
{
    return int(Palette.size());
}

QColor Device::paletteColour(int index)
{
    if (index < 0 || index >= paletteSize())
        return {};
    return Palette[size_t(index)];
}

void Device::setAddress(uint address)
{
    m_address = address;
}

int Device::channelCount() const
{
    QMutexLocker locker(&m_channelMutex);
    return int(m_channels.size());
}

Channel* Device::channel(int index) const
{
    QMutexLocker locker(&m_channelMutex);
    return index >= 0 && index < m_channels.size() ? m_channels.at(index) : nullptr;
}

void Device::appendChannel(Channel* channel)
{
    if (!channel)
        return;
    if (channel->thread() != thread() && channel->thread() == QThread::currentThread())
        channel->moveToThread(thread());
    uint oldCount = 0;
    uint newCount = 0;
    {
        QMutexLocker locker(&m_channelMutex);
        oldCount = uint(m_channels.size());
        m_channels.append(channel);
        newCount = uint(m_channels.size());
    }
    emit channelCountChanged(oldCount, newCount);
}

void Device::removeChannelsFrom(int index)
{
    QList<Channel*> removed;
    uint oldCount = 0;
    uint newCount = 0;
    {
        QMutexLocker locker(&m_channelMutex);
        oldCount = uint(m_channels.size());
        const int first = std::max(index, 0);
        if (first >= m_channels.size())
            return;
        removed = m_channels.mid(first);
        m_channels.resize(first);
        newCount = uint(m_channels.size());
    }
    for (Channel* channel : std::as_const(removed))
        channel->deleteLater();
    emit channelCountChanged(oldCount, newCount);
}

void Device::setConnected()
{
    m_isConnected = true;
    onConnect();
    emit connected();
}

void Device::setDisconnected()
{
    m_isConnected = false;
    onDisconnect();
    emit disconnected();
}

int Device::networkIndex() const
{
    const Network* owner = network();
    return owner ? owner->indexOfDevice(this) : -1;
}

void Device::setNetwork(Network* network)
{
    m_network = network;
}

QString Device::logPrefix() const
{
    return QStringLiteral("[Dev:") + name() + QLatin1Char(']');
}

void Device::onBeforeAccess()
{
}

bool Device::isAccessible() const
{
    return true;
}

int Device::daisyChildCount() const
{
    return 0;
}

QString Device::infoText() const
{
    return {};
}

Parameter* Device::addParameter(ParameterGroup* group, Parameter* param)
{
    if (!param)
        return nullptr;
    if (!group)
        group = this;
    {
        // Two threads adding the same number must not both succeed.
        QMutexLocker locker(&m_addParameterMutex);
        if (Parameter* existing = group->findParameter(param->number()))
            return existing;
        group->addChild(param, true);
    }
    emit parameterAdded(param);
    return param;
}

int Device::readAttempts() const
{
    const Network* owner = network();
    return owner ? owner->retryCount() : ParameterDevice::readAttempts();
}

QVariant Device::data(int column, int role) const
{
    if (column == 0 && role == Qt::DecorationRole)
        return m_colour;
    return ParameterDevice::data(column, role);
}

bool Device::setData(int column, const QVariant& value, int role)
{
    if (column != 0)
        return ParameterDevice::setData(column, value, role);
    if (role == Qt::EditRole) {
        const QString newName = value.toString();
        // A device without a name could not be told apart in the views.
        if (newName.trimmed().isEmpty())
            return false;
        if (newName != name()) {
            setName(newName);
            emit nameChanged(newName);
        }
        return true;
    }
    if (role == Qt::CheckStateRole && autoUpdateCheckable()) {
        setAutoUpdate(value.toInt() == Qt::Checked);
        return true;
    }
    return ParameterDevice::setData(column, value, role);
}

Qt::ItemFlags Device::flags(int column) const
{
    Qt::ItemFlags result = ParameterDevice::flags(column);
    if (column == 0)
        result |= Qt::ItemIsEditable | Qt::ItemIsSelectable;
    return result;
}

void Device::populateMenu(MenuBuilder& menu)
{
    ParameterDevice::populateMenu(menu);
    menu.addSeparator();
    connect(menu.addAction(tr("Search parameters")), &QAction::triggered, this,
            &ParameterDevice::triggerSearchParameters);
    connect(menu.addAction(tr("Add parameter(s)")), &QAction::triggered, this,
            &Device::addParameters);
    connect(menu.addAction(tr("Remove device")), &QAction::triggered, this,
            &Device::removeFromParent);
    if (isDaisyChained()) {
        menu.addSeparator();
        connect(menu.addAction(tr("Search daisy-chain children")), &QAction::triggered, this,
                &Device::searchDaisyChildren);
    }
}

void Device::printInfo()
{
    const Network* owner = network();
    QTextStream out(stdout);
    out << ">> Device " << quoted(name()) << " of network "
        << quotedOrNone(owner ? owner->name() : QString()) << '\n'
        << "   * Address: " << address() << '\n'
        << "   * Connected " << quoted(isConnected() ? QStringLiteral("YES") : QStringLiteral("NO"))
        << '\n'
        << "   * Connected Icon: " << quotedOrNone(connectedIcon()) << '\n'
        << "   * Disconnected Icon: " << quotedOrNone(disconnectedIcon()) << '\n';
    out.flush();
}

void Device::searchParameters()
{
    emit parameterSearchFinished();
}

void Device::removeFromParent()
{
    if (Network* owner = network())
        owner->removeDevice(this);
}

void Device::searchDaisyChildren()
{
    emit daisySearchFinished();
}

void Device::removeDaisyChildren()
{
}

void Device::updateParameters()
{
    update(true);
    emit parameterUpdateFinished();
}

void Device::OnParameterSearchFinished()
{
}

void Device::OnParameterUpdateFinished()
{
}

void Device::addParameters()
{
    const QString key = configKey();
    if (!key.isEmpty())
        ParameterDefinitionReader::readDevice(this, key);
}

void Device::onConnect()
{
}

void Device::onDisconnect()
{
}

void Device::setIcons(const QString& connectedIcon, const QString& disconnectedIcon)
{
    m_connectedIcon = connectedIcon;
    m_disconnectedIcon = disconnectedIcon;
}

} // namespace halvorn::general
