#pragma once

#include "general/logmessage.h"
#include "general/parameterdevice.h"

#include <QMutex>
#include <QRecursiveMutex>

#include <atomic>

class QThread;
class QTimer;

namespace halvorn::general {

class Device;
class IOManager;
class LogMessage;
class NetworkLog;

// One bus reached through the dongle. A network lives in a thread of its own,
// with a status timer (50 ms) that refreshes every auto-updated node below
// it, a recursive mutex that serialises its bus transactions between its
// own thread and task threads, a log, and the five network parameters
// 100000..100004. Bus families override createDevice(), init() and the
// parameter read/write.
//
// Life cycle: constructed in the creator's thread (its thread is started and
// it moves itself there); the creator calls emitNetworkCreated() once the
// object is complete, so that init() runs in the network's thread.
// Destruction stops and joins the network's thread and its log's thread.
//
// Writing a bus network
// ---------------------
//  - Constructor: runs in the creator's thread AFTER the object has moved to
//    networkThread(), so create helper QObjects without a parent (or in
//    init(), which runs in the network's thread). Name the thread with
//    setThreadName(networkThread(), "DaliNetwork") and attach the log with
//    setLog(new NetworkLog("…")).
//  - init(): call Network::init() first (it creates the "Parameters" group
//    and the network parameters; calling it twice adds nothing), create the
//    network's own parameters, devices and inputs, then emit
//    networkInitialized().
//  - Bus exchanges: take lock()/unlock() (or QMutexLocker on mutex()) around
//    each request/reply pair; tasks call downloadParameter/uploadParameter
//    from pool threads. Never hold it while waiting for the GUI thread.
//  - downloadParameter/uploadParameter: handle your own numbers and call the
//    Network versions for any other number (they serve 100000..100004 and
//    leave ok false for the rest).
//  - Logging: log(class, text, type) or log(LogMessage*) from any thread;
//    both reach the log's thread through queued signals.
//  - createDevice(address, name): override to create the family's device
//    class; add it with addChild(device, true) and emit deviceFound().
//  - removeDevice(device): takes the device out of the tree, emits
//    deviceRemoved() and retires it (deleted once views have let go). The
//    pointer in deviceRemoved() identifies the device; do not keep it.
//  - Status timer: startStatusTimer()/stopStatusTimer()/
//    setStatusTimerInterval() (or the startNetworkTimer/stopNetworkTimer
//    signals) from any thread; the timer itself is only touched in the
//    network's thread.
//  - Destructor: call stopNetworkThread() FIRST in a subclass destructor, so
//    that no tick or queued call runs in the network's thread while the
//    subclass part is being destroyed. Objects a subclass keeps in the
//    network's thread (timers) are best deleted through
//    connect(networkThread(), &QThread::finished, obj, &QObject::deleteLater).
class Network : public ParameterDevice
{
    Q_OBJECT

public:
    enum NetworkParameter : uint {
        AutoUpdateRateParameter = 100000,
        AutoUpdateEnabledParameter = 100001,
        LoggingEnabledParameter = 100002,
        RetryCountParameter = 100003,
        InterferenceRobustnessParameter = 100004
    };

    explicit Network(TreeNode* parent = nullptr);
    ~Network() override;

    void emitNetworkCreated();
    // Attaches the network's log and runs it in a thread of its own (call
    // from the log's thread); the network takes ownership. A log attached
    // earlier is stopped and deleted.
    void setLog(NetworkLog* log);
    NetworkLog* log() const { return m_log.load(); }
    QThread* networkThread() const { return m_thread; }
    IOManager* ioManager() const { return m_ioManager; }

    // Serialises bus transactions of this network (recursive).
    void lock() { m_mutex.lock(); }
    void unlock() { m_mutex.unlock(); }
    QRecursiveMutex& mutex() { return m_mutex; }

    Device* findDevice(uint address) const;
    int deviceCount() const;
    // The i-th child that is a Device, counting devices only; nullptr past the end.
    Device* deviceAt(int index) const;
    // The device's row among all children of the network, −1 if absent.
    int indexOfDevice(const Device* device) const;
    // The device's index among the devices only, −1 if absent.
    int deviceIndex(const Device* device) const;
    // Removes the device from the tree, emits deviceRemoved() and retires
    // the device (deleted later, once views have let go of it). Runs in the
    // network's thread: a call from another thread is queued there.
    void removeDevice(halvorn::general::Device* device);

    int statusUpdateCount() const { return m_statusUpdateCount.load(); }
    bool interferenceRobustness() const { return m_interferenceRobustness.load(); }
    int statusTimerInterval() const { return m_statusIntervalMs.load(); }
    bool isStatusTimerEnabled() const { return m_statusTimerEnabled.load(); }
    // Changes the status timer from any thread (queued into the network's
    // thread). Intervals below 1 ms are taken as 1 ms.
    void setStatusTimerInterval(int intervalMs);
    void startStatusTimer();
    void stopStatusTimer();

    virtual Device* createDevice(uint address, const QString& name);

    // Logs to this network's log from any thread (nothing without a log).
    void log(MessageClass msgClass, const QString& text, MessageType type);
    // Appends a message built by the caller; takes ownership (deletes it
    // when the network has no log).
    void log(LogMessage* message);

public Q_SLOTS:
    void deviceStatusUpdate();
    virtual void OnNetworkCreation();
    virtual void init();
    uint downloadParameter(halvorn::general::Parameter* param, bool& ok) override;
    void uploadParameter(halvorn::general::Parameter* param, bool& ok) override;

Q_SIGNALS:
    void deviceFound(halvorn::general::Device* dev);
    void deviceAdded(halvorn::general::Device* dev);
    void deviceRemoved(halvorn::general::Device* dev);
    void deviceSelected(halvorn::general::Device* dev);
    void deviceDeselected(halvorn::general::Device* dev);
    void networkActivity(bool error);
    void networkCreated();
    void networkInitialized();
    void networkConnected();
    void networkDisconnected();
    void progress(QString progressString, int progressValue);
    void logMessage(halvorn::general::MessageClass cat, QString msg,
                    halvorn::general::MessageType msgType, QThread* thread);
    void logMessage(halvorn::general::LogMessage* msg);
    void startNetworkTimer(int interval);
    void stopNetworkTimer();

protected:
    // Adds a device as a child (in the network's thread) and emits deviceAdded.
    void addDevice(Device* device);
    // Stops the status timer and joins the network's thread (from any other
    // thread); idempotent. Subclass destructors call it first.
    void stopNetworkThread();

private:
    // Brings the timer in line with the state last requested; runs in the
    // network's thread, so the order in which requests arrive from several
    // threads does not matter.
    void applyStatusTimerState();
    void postStatusTimerState();
    void stopLogThread();
    void createNetworkParameters();

    std::atomic<NetworkLog*> m_log{nullptr};
    QThread* m_logThread = nullptr;
    QThread* m_thread = nullptr;
    QTimer* m_statusTimer = nullptr;
    QRecursiveMutex m_mutex;
    IOManager* m_ioManager = nullptr;
    std::atomic<int> m_statusUpdateCount{0};
    // The state last requested (what 100000 and 100001 read back).
    std::atomic<int> m_statusIntervalMs{50};
    std::atomic<bool> m_statusTimerEnabled{false};
    std::atomic<bool> m_interferenceRobustness{false};
};

} // namespace halvorn::general
