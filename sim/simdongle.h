#pragma once

#include "sim/simdalibus.h"
#include "sim/simdmxline.h"
#include "sim/simfault.h"
#include "sim/simkeymarkport.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>

#include <functional>
#include <mutex>
#include <optional>

namespace halvorn::sim {

// The firmware of one simulated Portline dongle: it turns each request
// packet into the reply packet the real firmware would send, working from
// the packet layouts only.
//
//   0x02  command/reply frame → the Keymark port (Chorus read/write parameter
//         to address 0, parameter 0x0A00–0x0BFF) or the DMX line (all else)
//   0x03  set-point block; block 0 completes a frame on the DMX line
//   0x0A–0x0C  DALI transceiver → the DALI bus
//   0x0D  read one parameter word  → 0x8D, address high, low, value high, low
//   0x0E  write one parameter word → 0x8E, address high, low, value high, low
//
// Every accepted request gets a reply (the host always reads one); a
// request that is too short for its code, an unknown code, or a code the
// dongle's capabilities do not include (DALI: bit 2, Keymark: bit 5) gets
// none, so the host's read times out.
//
// The dongle also carries its USB-level behaviour for the VirtualPortline:
// the IDs it enumerates with, the results of opening and claiming it, and
// the fault-injection rules.
//
// Thread safety: every public method takes the dongle's own recursive lock.
// The bus objects returned by daliBus()/dmxLine()/keymarkPort() are called
// by the firmware with that lock held; code that changes equipment while
// the dongle is plugged in takes it too:  auto guard = dongle->lock();
class SimDongle
{
public:
    enum ParameterAddress : quint16 {
        VersionAddress = 0,
        KeymarkVersionAddress = 1,
        CapabilitiesAddress = 2,
        KeymarkCapabilitiesAddress = 3,
        StatusFlagsAddress = 4,
        ConfigurationFlagsAddress = 8,
        IoPinsAddress = 10,
        ModeAddress = 12,
        DmxBreakLengthAddress = 32,
        ChorusBreakLengthAddress = 33,
        RdmBreakLengthAddress = 35,
        DmxChannelCountAddress = 37,
        DaliDutyCycleAddress = 39,
        DaliFeedbackHighAddress = 41,
        DaliFeedbackLowMinAddress = 43,
        DaliFeedbackLowMaxAddress = 45
    };
    enum StatusFlag : quint16 { DaliBusConnected = 0x0001, KeymarkError = 0x0002 };
    enum ConfigurationFlag : quint16 { DaliBusPower = 0x0001 };
    enum Capability : quint16 {
        DmxCapability = 0x0001,
        ChorusCapability = 0x0002,
        DaliCapability = 0x0004,
        DaliBusPowerCapability = 0x0008,
        IoPinCapability = 0x0010,
        KeymarkCapability = 0x0020,
        KeymarkReadCapability = 0x0040
    };

    static constexpr quint16 PortlineVendorId = 0x04D8;
    static constexpr quint16 PortlineProductId = 0xFF00;
    static constexpr int MaxReplyLength = 64;

    explicit SimDongle(int firmwareVersion = 5, quint16 capabilities = 0x007F);
    ~SimDongle();

    SimDongle(const SimDongle&) = delete;
    SimDongle& operator=(const SimDongle&) = delete;

    [[nodiscard]] std::unique_lock<std::recursive_mutex> lock() const
    {
        return std::unique_lock<std::recursive_mutex>(m_mutex);
    }

    QString name() const;
    void setName(const QString& name);
    int firmwareVersion() const;
    quint16 capabilities() const;
    void setCapabilities(quint16 capabilities);

    // The firmware: the reply to one request packet, empty for no reply.
    QByteArray process(const QByteArray& request);
    // Plugging in powers the dongle up: the volatile state starts afresh
    // (bus power off, no half-received DMX frame); its configuration stays.
    void powerUp();

    // The parameter memory as the firmware holds it (status flags computed).
    quint16 parameter(quint16 address) const;
    void setParameter(quint16 address, quint16 value);
    // Old or broken firmware: the version read (parameter 0) gets no reply.
    void setAnswersVersionRead(bool answers);
    bool answersVersionRead() const;

    SimDaliBus& daliBus() { return m_dali; }
    SimDmxLine& dmxLine() { return m_dmx; }
    SimKeymarkPort& keymarkPort() { return m_keymark; }
    // Locked shorthands for tests.
    QByteArray lastDmxFrame() const;
    int dmxFrameCount() const;
    QList<quint16> daliForwardFrames() const;

    // USB identity and the results of opening and claiming the dongle
    // (UsbResult values; UsbErrorAccess for a missing udev rule,
    // UsbErrorBusy for a dongle held by another program).
    quint16 vendorId() const;
    quint16 productId() const;
    void setUsbIds(quint16 vendorId, quint16 productId);
    int openResult() const;
    void setOpenResult(int result);
    int claimResult() const;
    void setClaimResult(int result);

    void injectFault(const SimFault& fault);
    void clearFaults();
    // A scripted reply, for fuzzing and for firmware that answers nonsense:
    // called for every request the firmware has processed, with the request
    // and the firmware's own reply; what it returns goes to the host instead
    // (empty: no reply, so the host's read times out). The firmware's state
    // changes as usual. It runs with the dongle's lock held and must not
    // call back into the dongle. An empty function removes the script.
    using ReplyScript = std::function<QByteArray(const QByteArray& request, const QByteArray& reply)>;
    void setReplyScript(ReplyScript script);
    // Called by the VirtualPortline for each transfer: the rule that fires,
    // counted as fired. `code`/`parameter` describe the request the transfer
    // belongs to (−1 when unknown).
    std::optional<SimFault> takeFault(SimFault::Direction direction, int code, int parameter);
    // How often rules of that kind have fired (soak tests report it).
    int firedFaultCount(SimFault::Kind kind) const;

    // Statistics: transfers per direction seen by the VirtualPortline, and
    // requests that reached the firmware per command code.
    void countTransfer(SimFault::Direction direction);
    int transferCount(SimFault::Direction direction) const;
    int requestCount(int code) const;
    // The last request that reached the firmware, as received.
    QByteArray lastRequest() const;
    int totalRequestCount() const;

    // The dongle's entry in the installation file (see docs/simulator.md).
    bool load(const QJsonObject& entry, QString* error);
    QJsonObject save() const;

private:
    struct FaultRule {
        SimFault fault;
        int seen = 0;
    };

    QByteArray firmwareReply(const QByteArray& request);
    QByteArray commandReply(const QByteArray& request);
    QByteArray setpointBlock(const QByteArray& request);
    QByteArray parameterRead(const QByteArray& request);
    QByteArray parameterWrite(const QByteArray& request);
    QByteArray daliPacket(const QByteArray& request);
    void writeParameterLocked(quint16 address, quint16 value);
    void restartDmxAssembly(int slotCount);

    mutable std::recursive_mutex m_mutex;
    QString m_name;
    QMap<quint16, quint16> m_memory;
    QMap<quint16, quint16> m_configuredParameters; // from the installation file
    bool m_answersVersionRead = true;
    quint16 m_vendorId = PortlineVendorId;
    quint16 m_productId = PortlineProductId;
    int m_openResult = 0;
    int m_claimResult = 0;
    QList<FaultRule> m_faults;
    ReplyScript m_replyScript;
    QHash<int, int> m_firedFaults; // per SimFault::Kind
    int m_transfers[2] = {0, 0};
    QHash<int, int> m_requestCounts;
    int m_totalRequests = 0;
    QByteArray m_lastRequest;

    // DMX frame assembly from the set-point blocks.
    QByteArray m_dmxAssembly;
    int m_dmxSlotCount = -1;
    int m_dmxExpectedBlock = 0;
    bool m_dmxAssemblyIntact = true;

    SimDaliBus m_dali;
    SimDmxLine m_dmx;
    SimKeymarkPort m_keymark;
};

} // namespace halvorn::sim
