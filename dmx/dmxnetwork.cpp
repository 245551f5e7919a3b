#include "dmx/dmxnetwork.h"

#include "dmx/dmxsetpoint.h"
#include "general/input.h"
#include "general/iomanager.h"
#include "general/parameter.h"
#include "general/parametergroup.h"
#include "general/threadnames.h"

#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace halvorn::dmx {

namespace {

const QString kParametersGroup = QStringLiteral("Parameters");

} // namespace

DMXNetwork::DMXNetwork(general::TreeNode* parent)
    : general::Network(parent)
{
    m_outputThread = new QThread;
    m_outputThread->setObjectName(QStringLiteral("DMX"));
    m_outputThread->start(QThread::HighestPriority);

    auto* universe0 = new DMXSetpoint(0);
    universe0->moveToThread(m_outputThread);
    m_setpoints.push_back(universe0);

    general::setThreadName(m_outputThread, QStringLiteral("DMX"));

    m_outputTimer = new QTimer;
    m_outputTimer->setTimerType(Qt::PreciseTimer);
    m_outputTimer->setSingleShot(true);
    m_outputTimer->setInterval(DefaultIntervalMs);
    emit dmxTimerIntervalChanged(DefaultIntervalMs);
    m_outputTimer->moveToThread(m_outputThread);
    // The timer is deleted in its own thread when that thread ends.
    connect(m_outputThread, &QThread::finished, m_outputTimer, &QObject::deleteLater);

    // Everything the timer does runs in the output thread: lambdas with the
    // timer as context are queued there from any other thread.
    connect(m_outputTimer, &QTimer::timeout, m_outputTimer, [this] { sendFrameOnSchedule(); },
            Qt::DirectConnection);
    connect(this, &DMXNetwork::startDMXTimer, m_outputTimer, [this](int interval) { startSchedule(interval); });
    connect(this, &DMXNetwork::stopDMXTimer, m_outputTimer, &QTimer::stop);
    // Whoever emits the two signals, the state read back follows them.
    connect(this, &DMXNetwork::startDMXTimer, this, [this](int interval) {
        if (interval >= 1)
            m_intervalMs = interval;
        m_outputEnabled = true;
    }, Qt::DirectConnection);
    connect(this, &DMXNetwork::stopDMXTimer, this, [this] { m_outputEnabled = false; },
            Qt::DirectConnection);
}

DMXNetwork::~DMXNetwork()
{
    // Nothing may use the buffers while they go: neither a frame nor a
    // channel or input in the network's thread.
    shutdownOutput();
    stopNetworkThread();
    for (DMXSetpoint* setpoint : m_setpoints)
        delete setpoint;
    m_setpoints.clear();
}

void DMXNetwork::shutdownOutput()
{
    if (!m_outputThread)
        return;
    m_outputEnabled = false;
    // Ending the thread's event loop stops the timer with it; a frame that is
    // being sent finishes first (each of its exchanges is bounded by the
    // USB time-outs).
    m_outputThread->quit();
    m_outputThread->wait();
    m_outputTimer = nullptr; // deleted in its thread by the finished() connection
    delete m_outputThread;
    m_outputThread = nullptr;
}

DMXSetpoint* DMXNetwork::getSetpoint(unsigned short uni) const
{
    return uni < m_setpoints.size() ? m_setpoints[uni] : nullptr;
}

bool DMXNetwork::setDMXTimerInterval(int ms)
{
    if (ms < 1)
        return false;
    applyInterval(ms);
    emit dmxTimerIntervalChanged(uint(ms));
    return true;
}

void DMXNetwork::applyInterval(int ms)
{
    m_intervalMs = ms;
    if (!m_outputTimer)
        return;
    QMetaObject::invokeMethod(m_outputTimer, [this, ms] { changeScheduleInterval(ms); }, Qt::QueuedConnection);
}

void DMXNetwork::startSchedule(int intervalMs)
{
    m_scheduleIntervalMs = std::max(intervalMs, 1);
    m_nextFrame = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_scheduleIntervalMs);
    m_outputTimer->start(m_scheduleIntervalMs);
}

void DMXNetwork::changeScheduleInterval(int intervalMs)
{
    m_scheduleIntervalMs = intervalMs;
    m_outputTimer->setInterval(intervalMs);
    if (m_outputTimer->isActive())
        startSchedule(intervalMs);
}

void DMXNetwork::sendFrameOnSchedule()
{
    DMX_sendSetpoint();

    // Frames keep to a fixed grid of deadlines: a timer that wakes late
    // delays one frame, not all that follow. Deadlines already missed
    // (a frame that took longer than the interval) are skipped.
    using namespace std::chrono;
    const auto interval = milliseconds(m_scheduleIntervalMs);
    const auto now = steady_clock::now();
    m_nextFrame += interval;
    if (m_nextFrame <= now)
        m_nextFrame += ((now - m_nextFrame) / interval + 1) * interval;
    const auto wait = duration_cast<microseconds>(m_nextFrame - now).count();
    m_outputTimer->start(int((wait + 500) / 1000));
}

void DMXNetwork::startDMXOutput()
{
    emit startDMXTimer(m_intervalMs.load());
}

void DMXNetwork::stopDMXOutput()
{
    emit stopDMXTimer();
}

void DMXNetwork::DMX_sendSetpoint()
{
}

void DMXNetwork::init()
{
    general::Network::init();
    std::printf("DMX Network init %s\n", qPrintable(general::threadName(QThread::currentThread())));
    std::fflush(stdout);
    createParameters();
    createInputs();
}

void DMXNetwork::createParameters()
{
    general::ParameterGroup* parameters = group(kParametersGroup);
    parameters->setAutoUpdateCheckable(false);

    struct Definition {
        uint number;
        const char* name;
        const char* description;
        int min;
        int max;
    };
    static constexpr Definition kDefinitions[] = {
        {ChorusOutputParameter, "Chorus Setpoint output", "Enables Chorus Setpoint output for this network", -1, -1},
        {ClusterModeIndexParameter, "Chorus cluster mode index", "Chorus cluster mode index", 0, 7},
        {SetpointTypeParameter, "Chorus setpoint type", "Chorus setpoint type", 0, 7},
        {UpdateEnabledParameter, "DMX Update Enabled", "", -1, -1},
        {UpdateRateParameter, "DMX Update Rate", "", -1, -1},
    };
    for (const Definition& definition : kDefinitions) {
        if (parameters->findParameter(definition.number))
            continue;
        auto* param = new general::Parameter(this, definition.number, QString::fromLatin1(definition.name),
                                             QString::fromLatin1(definition.description), definition.min,
                                             definition.max, -1, false, false, general::Parameter::Decimal, 1.0);
        param->setAutoUpdateCheckable(false);
        parameters->addChild(param, true);
        if (definition.number == UpdateEnabledParameter || definition.number == UpdateRateParameter)
            param->update(true);
    }
}

void DMXNetwork::createInputs()
{
    DMXSetpoint* universe0 = getSetpoint(0);
    general::IOManager* io = ioManager();
    if (!io || !universe0)
        return;
    for (int address = 1; address <= InputCount; ++address) {
        general::Input* input = io->input(QStringLiteral("DMX Address %1").arg(address));
        if (!input)
            continue;
        input->setIndex(address);
        connect(input, &general::Input::inputValueChanged, universe0, &DMXSetpoint::inputValueChanged,
                Qt::UniqueConnection);
    }
}

uint DMXNetwork::downloadParameter(general::Parameter* param, bool& ok)
{
    if (!param) {
        ok = false;
        return 0;
    }
    const DMXSetpoint* universe0 = getSetpoint(0);
    switch (param->number()) {
    case ChannelCountParameter:
        ok = true;
        return universe0->channelCount();
    case ChorusOutputParameter:
        ok = true;
        return universe0->chorusOutput() ? 1 : 0;
    case ClusterModeIndexParameter:
        ok = true;
        return universe0->clusterModeIndex();
    case SetpointTypeParameter:
        ok = true;
        return universe0->setpointType();
    case UpdateEnabledParameter:
        ok = true;
        return m_outputEnabled.load() ? 1 : 0;
    case UpdateRateParameter:
        ok = true;
        return uint(m_intervalMs.load());
    default:
        return general::Network::downloadParameter(param, ok);
    }
}

void DMXNetwork::uploadParameter(general::Parameter* param, bool& ok)
{
    if (!param) {
        ok = false;
        return;
    }
    DMXSetpoint* universe0 = getSetpoint(0);
    const int value = param->storedValue();
    switch (param->number()) {
    case ChannelCountParameter:
        universe0->setChannelCount(quint16(value));
        ok = true;
        return;
    case ChorusOutputParameter:
        universe0->setChorusOutput(value != 0);
        ok = true;
        return;
    case ClusterModeIndexParameter:
        universe0->setClusterModeIndex(quint8(value & 0xFF));
        ok = true;
        return;
    case SetpointTypeParameter:
        universe0->setSetpointType(quint8(value & 0xFF));
        ok = true;
        return;
    case UpdateEnabledParameter:
        if (value == 1)
            startDMXOutput();
        else
            stopDMXOutput();
        ok = true;
        return;
    case UpdateRateParameter:
        // An interval below 1 ms would make the highest-priority thread
        // send frames back to back; it is refused.
        ok = value >= 1;
        if (ok)
            applyInterval(value);
        return;
    default:
        if (param->number() >= 12000)
            general::Network::uploadParameter(param, ok);
        else
            ok = false;
        return;
    }
}

general::Device* DMXNetwork::createDevice(uint address, const QString& name)
{
    auto* device = new DMXDevice(this, address, name);
    addDevice(device);
    emit deviceFound(device);
    return device;
}

DMXDevice* DMXNetwork::createDeviceString(int count, quint8 universe, quint16 startAddress,
                                          uint channelCount, DMXDevice::DMXNetworkResolution resolution,
                                          DMXDaisyChainMode mode)
{
    DMXDevice* first = nullptr;
    DMXDevice* previous = nullptr;
    for (int k = 0; k < count; ++k) {
        auto* device = qobject_cast<DMXDevice*>(createDevice(0, QStringLiteral("DMX Device")));
        if (!device)
            break;
        device->setUniverse(universe);
        device->setChannelCount(channelCount);
        device->setDaisyChainMode(mode);
        device->setNetworkResolution(resolution);
        if (previous)
            previous->setOutputDevice(device);
        if (k == 0 || mode != DaisyChainAuto)
            device->setStartAddress(startAddress);
        if (!first)
            first = device;
        previous = device;
    }
    return first;
}

DMXDevice* DMXNetwork::appendDeviceString(DMXDevice* device, int count, quint8 universe,
                                          quint16 startAddress, uint channelCount,
                                          DMXDevice::DMXNetworkResolution resolution,
                                          DMXDaisyChainMode mode)
{
    DMXDevice* first = createDeviceString(count, universe, startAddress, channelCount, resolution, mode);
    if (device && first)
        device->setOutputDevice(first);
    return first;
}

} // namespace halvorn::dmx
