#pragma once

#include "dali/dalinetwork.h"

#include <array>
#include <atomic>
#include <cstdint>

class QTimer;

namespace halvorn::vx {
class ChorusFrame;
}

namespace halvorn::km {

class KeymarkDevice;

// The DALI gear behind a Keymark tag. Its DALI traffic does not go onto the
// DALI bus: every forward frame, and every access to memory bank 1 below
// location 128, travels as a 9-byte tag frame in a code-0x02 packet — a
// Chorus read-parameter (0x0D) or write-parameter (0x0E) command to device
// address 0:
//
//   D0, command, 00, 00, number low, number high, value low, value high, sum
//
//   0x0A00 + L   8-bit access to tag location L (0..127)
//   0x0A80 + L   16-bit access (high byte at L, low byte at L + 1)
//   0x0B40       DALI pass-through: value = address byte × 256 + data byte;
//                read (0x0D) for a command that expects an answer, which
//                comes back in reply byte 6
//
// A reply frame with bit 6 of its command byte set is the tag refusing the
// access. Bank-1 locations 128..255 are read and written with the DALI
// memory commands through the pass-through, like everything else above the
// packet layer (parameter map, searches, log), which DaliNetwork provides.
//
// Dongles that cannot read the tag ("Keymark read supported" clear) cannot
// confirm anything: a write goes out once, is followed by a 15 ms pause and
// counts as done; presence then rests on the dongle's "Keymark error" flag.
//
// Presence: pollDevice() (on the poll timer, or at once through
// startPolling) checks that flag up to ten times. Finding the tag after it
// was missing writes 0xDF to location 28, marks device 0 connected and
// emits OnKeymarkConnect(); losing it marks device 0 disconnected and emits
// OnKeymarkDisconnect(). Polls that find nothing new emit nothing.
//
// Threads: the primitives hold the network's mutex for their whole run (a
// parameter access holds it for all of its frames, so a poll never lands in
// the middle of one). The poll timer and pollDevice() live in the network's
// thread; startPolling/stopPolling may be called from any thread.
class KeymarkNetwork : public dali::DaliNetwork
{
    Q_OBJECT

public:
    static constexpr int PollIntervalMs = 2000;
    static constexpr int Attempts = 3;
    static constexpr int PresenceChecks = 10;
    static constexpr int PauseMs = 15;
    // Locations the presence poll writes (their meaning is the tag's).
    static constexpr uint8_t ProbeLocation = 18;
    static constexpr uint8_t SessionLocation = 28;
    static constexpr uint8_t SessionValue = 0xDF;
    static constexpr uint8_t LastTagLocation = 127;
    // Parameter numbers of the tag frames.
    static constexpr uint16_t TagMemoryParameter = 0x0A00;
    static constexpr uint16_t WideAccessBit = 0x80;
    static constexpr uint16_t PassThroughParameter = 0x0B40;

    // Reply status after a tag memory read: the dongle's status byte (0: an
    // answer, 5: none), or one of these.
    enum ReplyStatus : int {
        AnswerStatus = 0,
        ReceptionErrorStatus = 4, // the dongle reported a garbled answer (3)
        NoAnswerStatus = 5,
        ErrorAnswerStatus = 11,   // the tag refused, or the frame did not decode
    };

    // Attaches itself to the dongle (its parent).
    explicit KeymarkNetwork(usb::USBDongle* dongle);
    ~KeymarkNetwork() override;

    // One poll now, then one every intervalMs (callers use PollIntervalMs).
    void startPolling(int intervalMs = PollIntervalMs);
    void stopPolling();
    // Whether the last poll found a tag.
    bool isTagConnected() const { return m_connected.load(); }
    // Device 0, the "Broadcast Device" through which the form reads and
    // writes the tag's settings; null before init().
    KeymarkDevice* tagDevice() const;
    // The dongle can read the tag (and so confirm writes).
    bool canReadTag() const;

    // The last tag reply: status (ReplyStatus or the dongle's status byte)
    // and the reply-frame bytes that arrived (at most 61).
    int lastReplyStatus();
    QByteArray lastReplyFrame();

    general::Device* createDevice(uint address, const QString& name) override;

    // Packet layer through the tag.
    void sendForward(uint8_t address, uint8_t data) override;
    void readAnswer(bool answerExpected) override;
    // Locations 0..127: the tag's memory; 128..255: DALI memory bank 1 of
    // the gear behind it. The address is used only for the latter.
    uint readMemoryBank1(uint8_t address, uint8_t location, bool eightBit, bool& ok) override;
    bool writeMemoryBank1(uint8_t address, uint8_t location, uint16_t value, bool eightBit) override;

public Q_SLOTS:
    void pollDevice();

Q_SIGNALS:
    void OnKeymarkConnect();
    void OnKeymarkDisconnect();
    void startPollTimer(int val);
    void stopPollTimer();
    void singlePoll();

private:
    enum class ReplyKind {
        None,           // no reply packet, a foreign one, or no answer bytes
        ReceptionError, // the dongle saw an answer it could not decode
        Malformed,      // not one 9-byte frame with start byte and checksum
        Refused,        // an answer with the error bit
        Answer,
    };

    // Logs the frame, exchanges it and keeps the reply-frame bytes that
    // arrived (never more than the reply holds, whatever count it claims).
    ReplyKind exchangeFrame(const vx::ChorusFrame& frame);
    void logFrame(general::MessageType type, const quint8* bytes, int length);
    void logReply(general::MessageType type);
    uint16_t replyValue() const;
    static vx::ChorusFrame memoryFrame(uint8_t command, uint8_t location, bool eightBit, uint16_t value);
    void tagFound();
    void tagLost();

    QTimer* m_pollTimer = nullptr; // lives in the network's thread
    std::atomic<bool> m_connected{false};

    // The last reply; guarded by the network's mutex.
    std::array<quint8, 64> m_replyFrame{};
    int m_replyFrameLength = 0;
    int m_replyStatus = NoAnswerStatus;
};

} // namespace halvorn::km
