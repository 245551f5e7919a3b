#pragma once

#include "dmx/dmxnetwork.h"
#include "usb/usbnetwork.h"
#include "vx/chorusframe.h"

#include <QByteArray>

#include <array>
#include <atomic>
#include <condition_variable>
#include <mutex>

namespace halvorn::general {
class ByteData;
class Parameter;
} // namespace halvorn::general

namespace halvorn::usb {
class USBDongle;
}

namespace halvorn::vx {

class RDMBinSearch;
class VxDevice;

// The DMX line of one dongle with its command/reply traffic: the DMX
// network (the set-point frames) plus the two protocols the drivers answer
// on the same line, Chorus (their own 9-byte frames,
// ChorusFrame) and RDM (ANSI E1.20, for discovery).
//
// Every command/reply frame is one dongle exchange with code 0x02:
//   request  0x02, frame length n, the n frame bytes
//   reply    0x82, dongle status, answer length, answer bytes
// transaction() sends it, logs the frame and the answer to the network's
// log ("Vela Network Log") as VxNetworkLogMessages, and keeps the outcome:
//
//   status  0   an answer came (it is in answer())
//           1   no dongle attached; nothing was sent
//           4   the dongle reported a reception error (for RDM discovery:
//               several responders answered at once)
//           5   no answer (no reply, an empty answer, dongle status 5, or a
//               reply that is not a code 0x82 reply)
//           11  a Chorus error reply (answer code with bit 6 set)
//           other values: the dongle's status byte as received
// The Chorus operations (readGuid, readParameter, …) return the status and
// fill their outputs only when it is 0; an operation that reads values
// from the answer also needs a Chorus answer of exactly 9 bytes with a
// correct checksum, and reports StatusMalformedAnswer or StatusBadChecksum
// otherwise, so a truncated, overlong or garbled answer never passes as a
// value.
//
// Locking: every transaction, the parameter list retrieval and the DMX
// frame output (DMX_sendSetpoint, in the "DMX" thread) hold the bus (the
// network's recursive mutex, through BusLocker), so they never interleave
// on the dongle. A frame that is waiting for the bus goes before the next
// transaction of another thread, so that back-to-back transactions (a
// parameter search, a discovery) cannot hold the frames back. status(),
// answer() and answerLength() belong to the last transaction: a caller
// that reads them holds a BusLocker around the transaction and the
// reading (DMX frames do not change them). The RDM builders' internal
// packet is used the same way.
//
// The RDM source UID of the tool is 7ff0:54560001, a manufacturer ID from
// the ESTA prototyping range 0x7FF0–0x7FFF (no registered manufacturer).
//
// Threads: the network lives in its own thread ("VxNetwork"); transactions
// are called from that thread, task threads and the GUI thread.
class VxNetwork : public dmx::DMXNetwork, public usb::USBNetwork
{
    Q_OBJECT
    Q_INTERFACES(halvorn::usb::USBNetwork)

public:
    enum TransactionStatus : int {
        StatusAnswer = 0,
        StatusNoDongle = 1,
        StatusReceptionError = 4,
        StatusNoAnswer = 5,
        StatusErrorReply = 11,
        // Not dongle status bytes (those are below 256): a Chorus answer that
        // is not a 9-byte frame, or one with a bad checksum, where an
        // operation reads values from it.
        StatusMalformedAnswer = 256,
        StatusBadChecksum = 257
    };
    // The dongle's status byte for a reception error.
    static constexpr int DongleStatusReceptionError = 3;
    static constexpr int DongleStatusNoAnswer = 5;
    static constexpr unsigned char CommandReplyCode = 0x02;
    static constexpr int MaxFrameLength = PacketLength - 2;
    static constexpr int MaxAnswerLength = PacketLength - 3;
    static constexpr quint64 SourceUid = 0x7FF054560001ull;
    // find-next answers give one-byte numbers: at most 255 steps.
    static constexpr int MaxRetrievalSteps = 255;

    enum BreakLengthParameter : uint {
        DmxBreakLengthParameter = 32,
        ChorusBreakLengthParameter = 33,
        RdmBreakLengthParameter = 35
    };

    // How long a transaction lets a waiting DMX frame go first, at most.
    static constexpr int FrameWaitMs = 50;

    // Holds the network's bus for a run of exchanges and the reading of
    // their answers. A locker in a thread that does not hold the bus yet
    // lets a DMX frame that waits for the bus through first (waiting at
    // most FrameWaitMs); lockers nested in the same thread never wait.
    class BusLocker
    {
    public:
        explicit BusLocker(VxNetwork* network);
        ~BusLocker();
        BusLocker(const BusLocker&) = delete;
        BusLocker& operator=(const BusLocker&) = delete;
        void unlock();

    private:
        VxNetwork* m_network;
        bool m_locked = false;
    };

    explicit VxNetwork(usb::USBDongle* dongle);
    ~VxNetwork() override;

    // --- command/reply
    // One frame (at most 62 bytes) as a code 0x02 exchange; returns the status.
    int transaction(const quint8* frame, int length);
    int status() const { return m_status; }
    int answerLength() const { return m_answerLength; }
    const quint8* answer() const { return m_answer.data(); }
    QByteArray answerBytes() const;

    // --- Chorus operations (skip 0: address the LID; skip k: the driver k
    // places down the chain of the device with that address)
    int readGuid(quint16 skip, quint16 address, quint32& guid);
    int readParameter(quint16 skip, quint16 address, quint16 number, quint16& value);
    int writeParameter(quint16 skip, quint16 address, quint16 number, quint16 value);
    int findNextParameter(quint16 skip, quint16 address, quint16 number, quint16& next, quint16& type);
    int probeParameterZero(quint16 skip, quint16 address);

    // --- RDM requests, built into internalPacket() (the transaction number
    // goes up by one for each)
    void rdmDiscUniqueBranch(quint64 lowerUid, quint64 upperUid);
    void rdmDiscMute(quint64 uid);
    void rdmDiscUnMute(quint64 uid);
    void rdmRequest(quint64 uid, quint8 commandClass, quint16 pid, const QByteArray& data);
    general::ByteData* internalPacket() const { return m_internalPacket; }
    quint8 transactionNumber() const { return m_transactionNumber.load(); }
    quint64 sourceUid() const { return SourceUid; }

    // Lists the parameters of the driver at (skip, address) with find-next
    // commands and announces each with parameterFound(). Stops at the first
    // failure, at a number that does not go up, and after 255 steps.
    void retrieveParameterList(quint16 skip, quint16 address);

    // Queues the RDM discovery ("RDM Search all") on the task scheduler.
    Q_INVOKABLE void rdmSearchAll();
    RDMBinSearch* rdmSearch() const { return m_rdmSearch; }
    VxDevice* broadcastDevice() const { return m_broadcastDevice; }
    general::Parameter* dmxBreakLength() const { return m_dmxBreakLength; }
    general::Parameter* chorusBreakLength() const { return m_chorusBreakLength; }
    general::Parameter* rdmBreakLength() const { return m_rdmBreakLength; }
    bool isInitialized() const { return m_initialized.load(); }

    // --- devices
    // A VxDevice with its parameter groups, attached to the network (emits
    // deviceAdded and deviceFound).
    general::Device* createDevice(uint address, const QString& name) override;
    // A VxDevice with its parameter groups, not yet in the tree: the
    // searches attach it where it belongs (attachDevice, or below a device).
    VxDevice* makeDevice(uint address, const QString& name);
    // Adds a device made by makeDevice() to the network (deviceAdded, deviceFound).
    void attachDevice(VxDevice* device);
    // Takes a device of this network out of the tree wherever it hangs
    // (directly below the network or below another device) and retires it.
    void removeVxDevice(VxDevice* device);

    QString toString() const override;
    void populateMenu(general::MenuBuilder& menu) override;

    void dongleAttached() override;
    void dongleDetached() override;

public Q_SLOTS:
    // Sends the internal packet, if any, as one transaction.
    void sendInternalPacket();
    void DMX_sendSetpoint() override;
    void init() override;
    uint downloadParameter(halvorn::general::Parameter* param, bool& ok) override;
    void uploadParameter(halvorn::general::Parameter* param, bool& ok) override;
    void deviceOnConnect(halvorn::general::Device* device);

Q_SIGNALS:
    void parameterFound(unsigned short skpCount, unsigned short devIndex, unsigned short paramNum,
                        unsigned short paramType, unsigned short paramVal);

private:
    // A Chorus command whose answer must hold a complete, intact frame when
    // `readsAnswer` is set; returns the status.
    int chorus(const ChorusFrame& frame, bool readsAnswer);
    void buildRdm(quint64 destination, quint8 commandClass, quint16 pid, const quint8* data, int dataLength);
    void createBreakLengthParameters();
    void logFrame(general::MessageClass msgClass, general::MessageType type, const quint8* frame, int length);
    // Waits (bounded) until the discovery task is not running any more.
    void stopRdmSearch();
    // `yieldToFrames`: let a waiting DMX frame go first (not for the
    // output thread itself, nor when this thread holds the bus already).
    void lockBus(bool yieldToFrames);
    void unlockBus();
    // The set-point blocks of one frame, with the bus held.
    void sendFrame();

    general::ByteData* m_internalPacket = nullptr; // owned
    VxDevice* m_broadcastDevice = nullptr;
    general::Parameter* m_dmxBreakLength = nullptr;
    general::Parameter* m_chorusBreakLength = nullptr;
    general::Parameter* m_rdmBreakLength = nullptr;
    RDMBinSearch* m_rdmSearch = nullptr; // owned

    // The last transaction; guarded by the network mutex.
    int m_status = StatusNoAnswer;
    int m_answerLength = 0;
    std::array<quint8, MaxAnswerLength> m_answer{};

    // Who holds the bus: the owner thread and its nesting depth (the depth
    // is changed only by the owner, with the bus held).
    std::atomic<Qt::HANDLE> m_busOwner{nullptr};
    std::atomic<int> m_busDepth{0};
    // DMX frames waiting for the bus; transactions wait on m_framesGone.
    std::atomic<int> m_framesWaiting{0};
    std::mutex m_frameGateMutex;
    std::condition_variable m_framesGone;

    std::atomic<quint8> m_transactionNumber{0};
    quint8 m_messageCount = 0;
    quint8 m_portId = 0;
    std::atomic<bool> m_initialized{false};
};

} // namespace halvorn::vx
