#pragma once

#include "sim/simdaligear.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace halvorn::sim {

// The DALI bus behind one simulated dongle, with its control gear, and the
// dongle's DALI transceiver (packet codes 0x0A–0x0C):
//
//   0x0A, 0, address, data, 0   send a forward frame   → 0x8A accepted,
//                                                         0xAA, 2 busy (bus not free yet)
//   0x0C                        poll the receiver      → 0x8C, status, counter
//   0x0B                        fetch the backward frame → 0x8B, 0, 0, answer, delay
//
// Bus timing (IEC 62386-101, 1200 baud, Te = 416.7 µs): a forward frame
// takes 38 Te, a backward frame 22 Te and starts 10 Te after the forward
// frame; the bus is free again 22 Te after the last frame ended. The
// receiver counter counts in units of Te / 4 (104 µs) since the end of the
// forward frame; it jumps to 255 when no backward frame has started within
// the answer window (22 Te), and otherwise runs on up to 255.
//
// Receiver status bits: 0x04 the receiver has finished (a backward frame is
// ready), 0x08 a faulty backward frame began: two or more gear answering at
// once always garble the frame, as they do on a real bus.
//
// Time: with realistic timing the bus runs on the wall clock (a forward
// frame sent before the bus is free gets the busy reply). In the default
// zero-latency mode it runs on a virtual clock that every frame moves on by
// its duration and every receiver poll by PollStep counts, so the tool's
// waits end after a few polls and a test never sleeps. The gear get the same
// clock, so their 100 ms and 15 min windows hold in both modes; in
// zero-latency mode a repeated configuration frame counts when it is the
// next frame on the bus.
//
// Called only by the owning SimDongle, with the dongle's lock held.
class SimDaliBus
{
public:
    // Bus timing in microseconds.
    static constexpr qint64 TeUs = 417;          // half a bit at 1200 baud (416.7 µs)
    static constexpr qint64 CountUs = 104;       // one receiver count, Te / 4
    static constexpr qint64 ForwardFrameUs = 15833;  // 38 Te
    static constexpr qint64 BackwardFrameUs = 9167;  // 22 Te
    static constexpr qint64 AnswerStartUs = 4167;    // 10 Te after the forward frame
    static constexpr qint64 SettlingUs = 9167;       // 22 Te of silence between frames
    // Receiver counts.
    static constexpr quint8 AnswerStartCount = 40;
    static constexpr quint8 AnswerEndCount = 128;
    static constexpr quint8 AnswerWindowCount = 88;
    static constexpr quint8 PollStep = 32;

    enum class ReceiverFault {
        None,
        // The counter stops at 60 and status bit 3 stays set.
        StuckCounter,
        // The counter wraps around in steps of 100 and never reads 255.
        WrappingCounter,
    };

    SimDaliBus();
    ~SimDaliBus();

    // One packet with code 0x0A, 0x0B or 0x0C; the reply packet.
    QByteArray handle(const QByteArray& request);

    // The bus has a supply of its own ("powered" in the installation file).
    bool hasExternalSupply() const { return m_externalSupply; }
    void setExternalSupply(bool on) { m_externalSupply = on; }
    // The dongle's own 12 V bus supply (configuration flags bit 0).
    void setDonglePower(bool on) { m_donglePower = on; }
    bool donglePower() const { return m_donglePower; }
    // Bus voltage present: what the dongle reports as "DALI bus connected".
    bool isPowered() const { return m_externalSupply || m_donglePower; }

    // Gear on the bus.
    SimDaliGear& addGear(const SimDaliGearConfig& config = {});
    // `count` new gear (no short address) whose RANDOMISE draws from
    // generators seeded from `seed`.
    void addRandomGear(int count, quint32 seed);
    void clearGear();
    int gearCount() const { return int(m_gear.size()); }
    SimDaliGear& gear(int index) { return *m_gear.at(size_t(index)); }
    const SimDaliGear& gear(int index) const { return *m_gear.at(size_t(index)); }

    void setRealisticTiming(bool realistic);
    bool realisticTiming() const { return m_realistic; }
    // A shorted bus: every forward frame gets the busy reply.
    void setStaysBusy(bool busy) { m_staysBusy = busy; }
    // The next `count` forward frames get the busy reply before one is accepted.
    void setBusyReplies(int count) { m_busyRepliesLeft = count; }
    void setReceiverFault(ReceiverFault fault) { m_receiverFault = fault; }
    // The bus clock in microseconds.
    qint64 nowUs() const;

    // The forward frames the bus carried, oldest first (address << 8 | data);
    // the last 4096 are kept.
    QList<quint16> forwardFrames() const { return m_forwardFrames; }
    void clearForwardFrames() { m_forwardFrames.clear(); }
    // Counts since the last resetStatistics(): forward frames put on the bus,
    // backward frames (clean or garbled), busy replies, and the shortest time
    // the bus needs for those frames (frames plus the settling times).
    struct Statistics
    {
        qint64 forwardFrames = 0;
        qint64 backwardFrames = 0;
        qint64 collisions = 0;
        qint64 busyReplies = 0;
        qint64 receiverPolls = 0;
        qint64 minimumBusTimeUs = 0;
    };
    Statistics statistics() const { return m_statistics; }
    void resetStatistics() { m_statistics = {}; }

    // The "dali" section of the installation file. False with a message
    // when the section is malformed.
    bool load(const QJsonObject& section, QString* error);
    QJsonObject save() const;

    // Back to the state after power-up (the dongle was plugged in). The gear
    // keep their state: they have a supply of their own.
    void powerUp();

private:
    struct Reception
    {
        qint64 forwardEndUs = 0;
        int answers = 0;
        quint8 answer = 0;
    };

    QByteArray forwardFrame(const QByteArray& request);
    QByteArray receiverStatus();
    QByteArray backwardFrame();
    // Counts since the end of the last forward frame.
    qint64 elapsedCounts() const;
    void advanceVirtualClock(qint64 us);

    static constexpr int MaxRecordedFrames = 4096;

    bool m_externalSupply = false;
    bool m_donglePower = false;
    bool m_realistic = false;
    bool m_staysBusy = false;
    int m_busyRepliesLeft = 0;
    ReceiverFault m_receiverFault = ReceiverFault::None;
    QElapsedTimer m_wallClock;
    qint64 m_virtualNowUs = 0;
    // The bus is free for the next forward frame from this time on.
    qint64 m_busFreeUs = 0;
    std::optional<Reception> m_reception;
    int m_wrapPolls = 0;
    std::vector<std::unique_ptr<SimDaliGear>> m_gear;
    QList<quint16> m_forwardFrames;
    Statistics m_statistics;
};

} // namespace halvorn::sim
