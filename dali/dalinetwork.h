#pragma once

#include "general/network.h"
#include "usb/usbnetwork.h"

#include <QList>

#include <array>
#include <atomic>
#include <cstdint>

class QThread;

namespace halvorn::general {
class Input;
class NetworkLog;
class Task;
} // namespace halvorn::general

namespace halvorn::usb {
class USBDongle;
}

namespace halvorn::dali {

class DaliBinSearch;
class DaliShortSearch;

// The DALI bus behind one dongle.
//
// A forward frame (address byte, data byte) goes to the dongle as packet
// 0x0A; the network then polls the receiver with 0x0C until the dongle
// reports a backward frame (status bit 2, fetched with 0x0B), a faulty one
// (bit 3: several gear answered at once) or the end of the answer window
// (its counter reaches 255, or passes 88 when no answer is expected). Every
// frame is logged in decoded form in the "DALI Network log"; parameter
// accesses and the search trace go to the "Simple DALI Network log".
//
// On top of the frames: the addressing operations, DTR and memory-bank
// access, the parameter number map of DaliDevice (readParameter and
// writeParameter), the broadcast and group inputs, and the three
// commissioning tasks.
//
// Serialisation: every transaction (a frame and its answer) holds the
// network's recursive mutex, and so does every sequence that must not be
// split (DTR then command, memory-bank access, a parameter access, each step
// of a search), so a search in a task thread and a slider in the network
// thread never mix their frames or answers.
//
// KeymarkNetwork replaces the packet layer (sendForward, readAnswer) and the
// bank-1 access (readMemoryBank1, writeMemoryBank1); everything above them is
// shared.
class DaliNetwork : public general::Network, public usb::USBNetwork
{
    Q_OBJECT
    Q_INTERFACES(halvorn::usb::USBNetwork)

public:
    enum SearchKind { SearchAllDevices = 0, SearchNewDevices = 1, SearchShortAddresses = 2 };

    // Special commands (address bytes) the network sends itself.
    enum Special : uint8_t {
        Terminate = 0xA1,
        DataTransferRegister = 0xA3,
        Initialise = 0xA5,
        Randomise = 0xA7,
        Compare = 0xA9,
        Withdraw = 0xAB,
        SearchAddrH = 0xB1,
        SearchAddrM = 0xB3,
        SearchAddrL = 0xB5,
        ProgramShortAddress = 0xB7,
        VerifyShortAddress = 0xB9,
        QueryShortAddress = 0xBB,
        EnableDeviceType = 0xC1,
        DataTransferRegister1 = 0xC3,
        DataTransferRegister2 = 0xC5,
        WriteMemoryLocation = 0xC7,
    };
    // Commands (data bytes) the network sends itself.
    enum Command : uint8_t {
        Off = 0x00,
        Up = 0x01,
        Down = 0x02,
        StepUp = 0x03,
        StepDown = 0x04,
        RecallMaxLevel = 0x05,
        RecallMinLevel = 0x06,
        EnableWriteMemory = 0x81,
        QueryControlGear = 0x91,
        ReadMemoryLocation = 0xC5,
    };

    static constexpr int HighestShortAddress = 63;
    // Short addresses the commissioning searches give out and remove: 0..62.
    static constexpr int HighestAssignableShortAddress = 62;
    static constexpr uint BroadcastDeviceAddress = 254;

    // Bounds of the dongle exchanges of one frame.
    static constexpr int MaxBusyResends = 1000;
    static constexpr int MaxBusyWaitMs = 250;
    static constexpr int MaxReceiverPolls = 1000;
    static constexpr int MaxReceiverWaitMs = 100;

    // Attaches itself to the dongle (its parent).
    explicit DaliNetwork(usb::USBDongle* dongle);
    ~DaliNetwork() override;

    // Packet layer.
    virtual bool hasAnswer() const;
    virtual void readAnswer(bool answerExpected);
    virtual void sendForward(uint8_t address, uint8_t data);
    bool answerFailed() const { return m_answerFailed.load(); }
    // 0 when no answer is present.
    uint8_t answerValue() const;
    uint8_t answerDelay() const { return m_answerDelay.load(); }
    void setLoggingEnabled(bool enabled) { m_loggingEnabled = enabled; }
    bool loggingEnabled() const { return m_loggingEnabled.load(); }
    // Data byte of the last ENABLE DEVICE TYPE X and of the last DTR1 sent.
    int deviceType() const { return m_deviceType.load(); }
    uint8_t lastDTR1() const { return m_lastDTR1.load(); }

    // One transaction, sent `repeat` times (multiplied by the retry count
    // when "Interference robustness" is on); see dalinetwork.cpp.
    void sendFrame(uint8_t address, uint8_t data, uint8_t repeat = 1);

    // Addressing (n a short address 0..63, g a group 0..15).
    void setShortLevel(int n, uint8_t level);
    void setGroupLevel(int g, uint8_t level);
    void setBroadcastLevel(uint8_t level);
    void send(uint8_t address, uint8_t data);
    void sendCommand(uint8_t address, uint8_t command, uint8_t repeat = 1);
    void sendShortCommand(int n, uint8_t command, uint8_t repeat = 1);
    void sendGroupCommand(int g, uint8_t command);
    void sendBroadcastCommand(uint8_t command, uint8_t repeat = 1);
    void sendSpecial(uint8_t address, uint8_t data, uint8_t repeat = 1);

    // DTR and memory banks; `address` is the target's address byte.
    void setDTR16(uint16_t value);
    uint readMemory(uint8_t address, uint8_t bank, uint8_t location, bool eightBit, bool& ok);
    virtual uint readMemoryBank1(uint8_t address, uint8_t location, bool eightBit, bool& ok);
    bool writeMemory(uint8_t address, uint8_t bank, uint8_t location, uint16_t value, bool eightBit);
    virtual bool writeMemoryBank1(uint8_t address, uint8_t location, uint16_t value, bool eightBit);

    // The DALI parameter number map (dalinetwork.cpp); `address` is the
    // device's arc-power address byte (2n, or 254 for broadcast). Each access
    // holds the network's mutex for its whole sequence and logs one line to
    // the simple log. writeParameter returns whether the gear confirmed it
    // (stores without an answer count as confirmed).
    uint readParameter(uint8_t address, uint number, bool eightBit, bool& ok);
    bool writeParameter(uint8_t address, uint number, bool eightBit, uint value);

    // The search address last put on the bus with SEARCHADDRH/M/L
    // (H << 16 | M << 8 | L; 0 before any was sent).
    uint32_t lastSearchAddress() const { return m_lastSearchAddress.load(); }

    // Commissioning helpers: removes the devices with short addresses 0..62
    // (in the network's thread, waiting for it), and the smallest short
    // address 0..62 without a device, −1 when all are taken.
    void removeShortAddressDevices();
    int firstFreeShortAddress() const;

    general::NetworkLog* simpleLog() const { return m_simpleLog; }
    // Logs a line to the simple log.
    void logSimple(const QString& text, general::MessageType type);
    // 0 "Search all devices", 1 "Search new devices", 2 "Search short addresses".
    general::Task* searchTask(int kind) const;

    general::Device* createDevice(uint address, const QString& name) override;
    void populateMenu(general::MenuBuilder& menu) override;

    void dongleAttached() override;
    void dongleDetached() override;

public Q_SLOTS:
    void cycle();
    void inputValueChanged(halvorn::general::Input* input);
    void init() override;
    Q_INVOKABLE void daliSearch(int i);

Q_SIGNALS:
    void answerReceived(unsigned char answer);
    void answerNoReply();
    void answerError();

protected:
    // For packet layers that store the answer themselves (KeymarkNetwork).
    void setAnswer(bool present, uint8_t value, bool failed, uint8_t delay = 0);
    // False when there is no dongle or it is disabled (unplugged).
    bool dongleUsable() const;

private:
    // Each exchange is a request/reply pair with the dongle; false when the
    // reply is missing or does not carry `replyCode`.
    bool exchangePacket(int length, uint8_t replyCode, int minimumReplyLength);
    void createInputs();
    void createSearchTasks();
    void logFrame(general::LogMessage* message);
    void recordSearchAddressByte(uint8_t address, uint8_t data);

    // Parameter map helpers (dalinetwork.cpp).
    uint readShortAddress(uint8_t address, bool& ok);
    uint readMailbox(uint8_t address, uint parameter, uint8_t request, bool eightBit, bool swapped, bool& ok);
    bool writeMailbox(uint8_t address, uint parameter, uint value);
    uint readBridgeRegister(uint8_t address, uint8_t reg, bool& ok);
    bool writeBridgeRegister(uint8_t address, uint8_t reg, uint8_t value);
    bool writeGroups(uint8_t address, int firstGroup, uint value);
    void storeTwice(uint8_t address, uint8_t command);
    void logParameter(bool read, const QString& name, uint value, bool ok);

    std::atomic<uint8_t> m_answerValue{0};
    std::atomic<uint8_t> m_answerDelay{0};
    std::atomic<bool> m_answerFailed{false};
    std::atomic<bool> m_answerPresent{false};
    std::atomic<bool> m_loggingEnabled{true};
    std::atomic<int> m_deviceType{0};
    std::atomic<uint8_t> m_lastDTR1{0};
    std::atomic<uint32_t> m_lastSearchAddress{0};
    // Whether the last sendForward() got the frame onto the bus; an answer
    // is only looked for after a frame that went out.
    bool m_forwardSent = false; // guarded by the network mutex

    // Last level sent per set-point input (broadcast, groups 0..3).
    std::array<int, 5> m_lastLevels{255, 255, 255, 255, 255}; // network thread only
    QList<general::Input*> m_inputs;                          // network thread only

    general::NetworkLog* m_simpleLog = nullptr;
    QThread* m_simpleLogThread = nullptr;
    DaliBinSearch* m_searchAll = nullptr;
    DaliBinSearch* m_searchNew = nullptr;
    DaliShortSearch* m_searchShort = nullptr;
};

} // namespace halvorn::dali
