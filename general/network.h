#pragma once

#include "general/logmessage.h"
#include "general/parameterdevice.h"

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
    // Attaches the network's log and runs it in a thread of its own; the
    // network takes ownership.
    void setLog(NetworkLog* log);
    NetworkLog* log() const { return m_log; }
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
    // Removes the device from the tree and emits deviceRemoved(); the device
    // is deleted later, once views have let go of it.
    void removeDevice(halvorn::general::Device* device);

    int statusUpdateCount() const { return m_statusUpdateCount.load(); }
    bool interferenceRobustness() const { return m_interferenceRobustness.load(); }
    int statusTimerInterval() const { return m_statusIntervalMs.load(); }
    bool isStatusTimerEnabled() const { return m_statusTimerEnabled.load(); }
    // Changes the status timer from any thread (queued into the network's thread).
    void setStatusTimerInterval(int intervalMs);
    void startStatusTimer();
    void stopStatusTimer();

    virtual Device* createDevice(uint address, const QString& name);

    // Logs to this network's log from any thread.
    void log(MessageClass msgClass, const QString& text, MessageType type);

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

private:
    NetworkLog* m_log = nullptr;
    QThread* m_logThread = nullptr;
    QThread* m_thread = nullptr;
    QTimer* m_statusTimer = nullptr;
    QRecursiveMutex m_mutex;
    IOManager* m_ioManager = nullptr;
    std::atomic<int> m_statusUpdateCount{0};
    std::atomic<int> m_statusIntervalMs{50};
    std::atomic<bool> m_statusTimerEnabled{false};
    std::atomic<bool> m_interferenceRobustness{false};
};

} // namespace halvorn::general
