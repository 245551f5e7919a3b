#pragma once

#include "dmx/dmxdaisychainmode.h"
#include "dmx/dmxdevice.h"
#include "general/network.h"

#include <atomic>
#include <chrono>
#include <vector>

class QThread;
class QTimer;

namespace halvorn::dmx {

class DMXSetpoint;

// The DMX512 line of one dongle as a network node: the set-point buffer of
// universe 0, a highest-priority output thread ("DMX") whose timer sends
// the buffer as one DMX frame per period (DMX_sendSetpoint, implemented by
// the network that owns the dongle link), the network parameters
// 11001–11006 that control the output, and 512 inputs "DMX Address n" that
// drive single addresses.
//
// Threads: the network lives in its own thread (Network); the set-point
// buffer and the output timer live in the output thread, and the timer
// calls DMX_sendSetpoint() directly there. The timer is re-armed after each
// frame for the next deadline of a fixed grid (start + k × interval), so
// the frame rate does not drift when wake-ups come late. The timer is started, stopped
// and re-timed only through queued calls into that thread (a QTimer cannot
// be restarted from another thread); the interval and the running state
// last asked for are kept in atomics, so parameters 11005/11006 read back
// what was last written from any thread. Reads of the buffer from other
// threads are safe: its slots are atomic bytes (DMXSetpoint).
//
// The network holds exactly one universe: getSetpoint() returns nullptr for
// any other universe number, and callers check.
//
// Destruction stops the timer and joins the output thread, then the
// network's thread, before anything else goes; subclasses whose
// DMX_sendSetpoint() uses their own members call shutdownOutput() first
// thing in their destructor.
class DMXNetwork : public general::Network
{
    Q_OBJECT

public:
    enum DMXParameter : uint {
        ChannelCountParameter = 11001,
        ChorusOutputParameter = 11002,
        ClusterModeIndexParameter = 11003,
        SetpointTypeParameter = 11004,
        UpdateEnabledParameter = 11005,
        UpdateRateParameter = 11006
    };
    static constexpr int DefaultIntervalMs = 50;
    static constexpr int InputCount = 512;

    explicit DMXNetwork(general::TreeNode* parent = nullptr);
    ~DMXNetwork() override;

    // Universe 0's buffer for `uni` = 0; nullptr for any other universe.
    Q_INVOKABLE halvorn::dmx::DMXSetpoint* getSetpoint(unsigned short uni) const;
    Q_INVOKABLE halvorn::dmx::DMXSetpoint* getSetpoint() const { return getSetpoint(0); }
    int setpointCount() const { return int(m_setpoints.size()); }

    // The output thread ("DMX").
    QThread* outputThread() const { return m_outputThread; }
    // The interval last asked for, in milliseconds.
    int dmxTimerInterval() const { return m_intervalMs.load(); }
    // Whether output was last asked to run.
    bool isDMXOutputEnabled() const { return m_outputEnabled.load(); }

    // Changes the frame interval (ms, at least 1) from any thread and
    // announces it with dmxTimerIntervalChanged(). Returns false (and
    // changes nothing) for an interval below 1 ms.
    bool setDMXTimerInterval(int ms);
    void startDMXOutput();
    void stopDMXOutput();

    // Creates `count` devices through createDevice() ("DMX Device",
    // address 0) chained one after the other with the given addressing;
    // returns the first (nullptr for a count of 0 or less).
    DMXDevice* createDeviceString(int count, quint8 universe, quint16 startAddress,
                                  uint channelCount, DMXDevice::DMXNetworkResolution resolution,
                                  DMXDaisyChainMode mode);
    // createDeviceString(), then chains the first new device behind `device`.
    DMXDevice* appendDeviceString(DMXDevice* device, int count, quint8 universe,
                                  quint16 startAddress, uint channelCount,
                                  DMXDevice::DMXNetworkResolution resolution,
                                  DMXDaisyChainMode mode);

    general::Device* createDevice(uint address, const QString& name) override;

public Q_SLOTS:
    // Sends one DMX frame; nothing here (there is no dongle link).
    virtual void DMX_sendSetpoint();
    void init() override;
    uint downloadParameter(halvorn::general::Parameter* param, bool& ok) override;
    void uploadParameter(halvorn::general::Parameter* param, bool& ok) override;

Q_SIGNALS:
    void startDMXTimer(int interval);
    void stopDMXTimer();
    void dmxTimerIntervalChanged(uint newVal);

protected:
    // Stops the timer and joins the output thread; idempotent. After it no
    // DMX_sendSetpoint() runs any more.
    void shutdownOutput();

private:
    void createParameters();
    void createInputs();
    // Queues a new interval into the timer's thread.
    void applyInterval(int ms);
    // Output thread: (re)starts the frame schedule, changes its interval,
    // sends a frame and arms the timer for the next deadline.
    void startSchedule(int intervalMs);
    void changeScheduleInterval(int intervalMs);
    void sendFrameOnSchedule();

    std::vector<DMXSetpoint*> m_setpoints; // owned; index = universe
    QThread* m_outputThread = nullptr;
    QTimer* m_outputTimer = nullptr;       // lives in m_outputThread, deleted there
    // The frame schedule; used only in the output thread.
    std::chrono::steady_clock::time_point m_nextFrame;
    int m_scheduleIntervalMs = DefaultIntervalMs;
    std::atomic<int> m_intervalMs{DefaultIntervalMs};
    std::atomic<bool> m_outputEnabled{false};
};

} // namespace halvorn::dmx
