#include "general/network.h"

#include "general/device.h"
#include "general/iomanager.h"
#include "general/log.h"
#include "general/networklog.h"
#include "general/parameter.h"
#include "general/threadnames.h"

#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <iterator>

namespace halvorn::general {

namespace {

constexpr int DefaultStatusIntervalMs = 50;
constexpr int MinimumStatusIntervalMs = 1;
// How long a join may take before the wait is reported (it still completes:
// the objects below cannot be deleted while the thread runs).
constexpr int SlowJoinReportMs = 5000;

struct NetworkParameterInfo
{
    uint number;
    const char* name;
    const char* tooltip;
};

constexpr NetworkParameterInfo NetworkParameters[] = {
    {Network::AutoUpdateRateParameter, "Auto update rate (ms)",
     "Interval of the automatic refresh of the network's nodes, in milliseconds"},
    {Network::AutoUpdateEnabledParameter, "Auto update enabled",
     "1 while the automatic refresh runs"},
    {Network::LoggingEnabledParameter, "Logging enabled",
     "0 makes the network's log drop new messages"},
    {Network::RetryCountParameter, "Retry count",
     "Attempts for each parameter read on this network"},
    {Network::InterferenceRobustnessParameter, "Interference robustness",
     "Non-zero makes the bus exchanges more tolerant of interference"},
};

// The log signals carry the producing thread across to the log's thread.
void registerMetaTypes()
{
    static const bool registered = [] {
        qRegisterMetaType<QThread*>();
        qRegisterMetaType<MessageClass>();
        qRegisterMetaType<MessageType>();
        qRegisterMetaType<LogMessage*>();
        return true;
    }();
    Q_UNUSED(registered);
}

void joinThread(QThread* thread, const QString& what)
{
    if (!thread->wait(QDeadlineTimer(SlowJoinReportMs))) {
        logToMain(GENERAL, QStringLiteral("%1 did not stop within %2 ms; still waiting")
                               .arg(what)
                               .arg(SlowJoinReportMs),
                  WARN);
        thread->wait();
    }
}

} // namespace

Network::Network(TreeNode* parent)
    : ParameterDevice(parent)
{
    registerMetaTypes();
    setName(QStringLiteral("Network"));

    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("Network"));
    setThreadName(m_thread, QStringLiteral("Network"));
    m_thread->start(QThread::InheritPriority);
    moveToThread(m_thread);

    m_statusTimer = new QTimer;
    m_statusTimer->setInterval(DefaultStatusIntervalMs);
    m_statusTimer->moveToThread(m_thread);
    // The timer is deleted in its own thread as that thread finishes.
    connect(m_thread, &QThread::finished, m_statusTimer, &QObject::deleteLater);
    connect(m_statusTimer, &QTimer::timeout, this, &Network::deviceStatusUpdate,
            Qt::DirectConnection);
    // Whoever emits these, the request is recorded at once and carried out
    // in the network's thread.
    connect(
        this, &Network::startNetworkTimer, this,
        [this](int intervalMs) {
            m_statusIntervalMs = std::max(intervalMs, MinimumStatusIntervalMs);
            m_statusTimerEnabled = true;
            postStatusTimerState();
        },
        Qt::DirectConnection);
    connect(
        this, &Network::stopNetworkTimer, this,
        [this] {
            m_statusTimerEnabled = false;
            postStatusTimerState();
        },
        Qt::DirectConnection);

    connect(this, &Network::networkCreated, this, &Network::OnNetworkCreation, Qt::QueuedConnection);
    connect(this, &Network::networkCreated, this, &Network::init, Qt::QueuedConnection);

    m_ioManager = new IOManager(this);
    addChild(m_ioManager, true);
}

Network::~Network()
{
    stopNetworkThread();
    stopLogThread();
}

void Network::stopNetworkThread()
{
    if (!m_thread)
        return;
    if (QThread::currentThread() == m_thread) {
        // Destroyed from inside its own thread (a retired network): the
        // timer can go at once; the thread cannot join itself, so it deletes
        // its QThread object once it has finished.
        delete m_statusTimer;
        m_statusTimer = nullptr;
        m_thread->quit();
        connect(m_thread, &QThread::finished, m_thread, &QObject::deleteLater);
        m_thread = nullptr;
        return;
    }
    m_thread->quit();
    joinThread(m_thread, QStringLiteral("The thread of network \"%1\"").arg(name()));
    m_statusTimer = nullptr; // deleted as its thread finished
    delete m_thread;
    m_thread = nullptr;
}

void Network::stopLogThread()
{
    NetworkLog* oldLog = m_log.exchange(nullptr);
    if (!m_logThread)
        return;
    if (oldLog) {
        disconnect(this, nullptr, oldLog, nullptr);
        // Let the log take the messages already on their way, so that none
        // is lost (or leaked) when its thread stops.
        if (QThread::currentThread() != m_logThread)
            QMetaObject::invokeMethod(oldLog, [] {}, Qt::BlockingQueuedConnection);
    }
    m_logThread->quit();
    if (QThread::currentThread() == m_logThread) {
        connect(m_logThread, &QThread::finished, m_logThread, &QObject::deleteLater);
    } else {
        joinThread(m_logThread, QStringLiteral("The log thread of network \"%1\"").arg(name()));
        delete m_logThread; // the log was deleted in its thread as it finished
    }
    m_logThread = nullptr;
}

void Network::emitNetworkCreated()
{
    emit networkCreated();
}

void Network::setLog(NetworkLog* log)
{
    if (!log || log == m_log.load())
        return;
    stopLogThread();

    m_logThread = new QThread;
    m_logThread->setObjectName(log->name());
    m_logThread->start(QThread::InheritPriority);
    log->setParent(nullptr);
    log->moveToThread(m_logThread);
    connect(m_logThread, &QThread::finished, log, &QObject::deleteLater);

    using TextSignal = void (Network::*)(MessageClass, QString, MessageType, QThread*);
    using TextSlot = void (Log::*)(MessageClass, const QString&, MessageType, QThread*);
    using MessageSignal = void (Network::*)(LogMessage*);
    using MessageSlot = void (Log::*)(LogMessage*);
    connect(this, static_cast<TextSignal>(&Network::logMessage), log,
            static_cast<TextSlot>(&Log::logMessage));
    connect(this, static_cast<MessageSignal>(&Network::logMessage), log,
            static_cast<MessageSlot>(&Log::logMessage));
    m_log = log;
}

void Network::log(MessageClass msgClass, const QString& text, MessageType type)
{
    emit logMessage(msgClass, text, type, QThread::currentThread());
}

void Network::log(LogMessage* message)
{
    if (!message)
        return;
    if (!m_log.load()) {
        delete message;
        return;
    }
    emit logMessage(message);
}

Device* Network::findDevice(uint address) const
{
    for (TreeNode* node : childNodes()) {
        auto* device = qobject_cast<Device*>(node);
        if (device && device->address() == address)
            return device;
    }
    return nullptr;
}

int Network::deviceCount() const
{
    const QList<TreeNode*> nodes = childNodes();
    return int(std::count_if(nodes.cbegin(), nodes.cend(),
                             [](TreeNode* node) { return qobject_cast<Device*>(node) != nullptr; }));
}

Device* Network::deviceAt(int index) const
{
    if (index < 0)
        return nullptr;
    for (TreeNode* node : childNodes()) {
        auto* device = qobject_cast<Device*>(node);
        if (device && index-- == 0)
            return device;
    }
    return nullptr;
}

int Network::indexOfDevice(const Device* device) const
{
    return device ? indexOfChild(device) : -1;
}

int Network::deviceIndex(const Device* device) const
{
    if (!device)
        return -1;
    int index = 0;
    for (TreeNode* node : childNodes()) {
        auto* candidate = qobject_cast<Device*>(node);
        if (!candidate)
            continue;
        if (candidate == device)
            return index;
        ++index;
    }
    return -1;
}

void Network::removeDevice(Device* device)
{
    if (!device)
        return;
    // In the network's thread the device, which is deleted later in that
    // thread, is still alive while deviceRemoved() is delivered.
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this, device] { removeDevice(device); },
                                  Qt::QueuedConnection);
        return;
    }
    if (indexOfChild(device) < 0)
        return;
    device->retire();
    emit deviceRemoved(device);
}

void Network::addDevice(Device* device)
{
    if (!device)
        return;
    addChild(device, true);
    emit deviceAdded(device);
}

Device* Network::createDevice(uint address, const QString& name)
{
    auto* device = new Device(this, address, QStringLiteral("Device"));
    device->setName(name);
    addChild(device, true);
    emit deviceFound(device);
    return device;
}

void Network::setStatusTimerInterval(int intervalMs)
{
    m_statusIntervalMs = std::max(intervalMs, MinimumStatusIntervalMs);
    postStatusTimerState();
}

void Network::startStatusTimer()
{
    emit startNetworkTimer(m_statusIntervalMs.load());
}

void Network::stopStatusTimer()
{
    emit stopNetworkTimer();
}

void Network::postStatusTimerState()
{
    // Queued to the network object, not to the timer: a request that comes
    // in while the network is being destroyed is dropped with the object.
    QMetaObject::invokeMethod(this, [this] { applyStatusTimerState(); }, Qt::QueuedConnection);
}

void Network::applyStatusTimerState()
{
    if (!m_statusTimer)
        return;
    const int intervalMs = m_statusIntervalMs.load();
    if (!m_statusTimerEnabled.load()) {
        m_statusTimer->stop();
        return;
    }
    if (!m_statusTimer->isActive() || m_statusTimer->interval() != intervalMs)
        m_statusTimer->start(intervalMs);
}

void Network::deviceStatusUpdate()
{
    ++m_statusUpdateCount;
    update(false);
}

void Network::OnNetworkCreation()
{
}

void Network::init()
{
    createNetworkParameters();
}

void Network::createNetworkParameters()
{
    ParameterGroup* parameters = group(QStringLiteral("Parameters"));
    parameters->setAutoUpdateCheckable(false);
    for (const NetworkParameterInfo& info : NetworkParameters) {
        if (parameters->findParameter(info.number))
            continue;
        auto* param = new Parameter(this, info.number, QString::fromLatin1(info.name),
                                    QString::fromLatin1(info.tooltip), -1, -1, -1, false, false,
                                    Parameter::Decimal);
        param->setAutoUpdateCheckable(false);
        parameters->addChild(param, true);
        param->update(true);
    }
}

uint Network::downloadParameter(Parameter* param, bool& ok)
{
    ok = false;
    if (!param)
        return 0;
    switch (param->number()) {
    case AutoUpdateRateParameter:
        ok = true;
        return uint(m_statusIntervalMs.load());
    case AutoUpdateEnabledParameter:
        ok = true;
        return m_statusTimerEnabled.load() ? 1 : 0;
    case LoggingEnabledParameter: {
        ok = true;
        const NetworkLog* networkLog = m_log.load();
        return (!networkLog || !networkLog->isDisabled()) ? 1 : 0;
    }
    case RetryCountParameter:
        ok = true;
        return uint(std::max(retryCount(), 0));
    case InterferenceRobustnessParameter:
        ok = true;
        return m_interferenceRobustness.load() ? 1 : 0;
    default:
        return 0;
    }
}

void Network::uploadParameter(Parameter* param, bool& ok)
{
    ok = false;
    if (!param)
        return;
    const int value = param->value();
    switch (param->number()) {
    case AutoUpdateRateParameter:
        setStatusTimerInterval(value);
        break;
    case AutoUpdateEnabledParameter:
        if (value == 0)
            emit stopNetworkTimer();
        else
            emit startNetworkTimer(m_statusIntervalMs.load());
        break;
    case LoggingEnabledParameter:
        if (NetworkLog* networkLog = m_log.load())
            networkLog->setDisabled(value == 0);
        break;
    case RetryCountParameter:
        setRetryCount(value);
        break;
    case InterferenceRobustnessParameter:
        m_interferenceRobustness = value != 0;
        break;
    default:
        return;
    }
    ok = true;
}

} // namespace halvorn::general
