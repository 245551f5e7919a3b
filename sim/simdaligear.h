#pragma once

#include <QByteArray>
#include <QMap>

#include <cstdint>
#include <optional>
#include <random>

namespace halvorn::sim {

// How a simulated gear misbehaves (for tests of the tool's error paths).
enum class SimGearFault {
    None,
    // Executes commands but never sends a backward frame.
    NeverAnswers,
    // Answers QUERY SHORT ADDRESS with a wrong short address.
    WrongShortAddress,
};

// The installation data of one gear.
struct SimDaliGearConfig
{
    // Random address after power-up; 0xFFFFFF as the standard asks for new gear.
    uint32_t randomAddress = 0xFFFFFF;
    // When set, RANDOMISE always yields this address (gear with equal random
    // addresses); otherwise the gear draws from a generator seeded with `seed`.
    std::optional<uint32_t> fixedRandomAddress;
    uint32_t seed = 1;
    // 0..63, or 0xFF for none.
    uint8_t shortAddress = 0xFF;
    uint8_t deviceType = 6;
    uint8_t versionNumber = 1;
    uint8_t physicalMinLevel = 1;
    // Memory bank contents from location 0 on (location 0 holds the last
    // accessible location); empty: a default bank.
    QByteArray bank0;
    QByteArray bank1;
    // The maker's parameters and read-only values behind the bank-1 mailbox.
    QMap<uint16_t, uint16_t> makerParameters;
    QMap<uint16_t, uint16_t> makerValues;
    // Keymark bridge registers 0..30.
    QMap<uint8_t, uint8_t> bridgeRegisters;
    SimGearFault fault = SimGearFault::None;
};

// One piece of DALI control gear as IEC 62386-102 describes it, with the LED
// module extensions of device type 6 (IEC 62386-207) and the maker's bank-1
// mailbox. The gear sees every forward frame on the bus and returns the
// backward frame it sends, if any; the bus decides what the receiver makes of
// several gear answering at once.
//
// Configuration commands (0x20..0x81, RANDOMISE, INITIALISE and the device
// type 6 configuration commands) take effect only when the same frame is
// received twice in a row within 100 ms; `sameFrameWindowOnly` drops the
// time limit (the next frame counts, whenever it comes) for a bus that does
// not model time.
//
// Mailbox in bank 1: 0x70/0x71 parameter number or bridge key, 0x72/0x73
// value, 0x74 request code written by the tool, status read back (bit 2 set:
// the request failed). Requests: 0x41 read maker parameter (stored low byte
// first), 0x01 read maker value (high byte first), 0xC1 write maker parameter,
// 0x21 bridge register access with key 0x2E6A (read, register in 0x72) or
// 0x5D19 (write, register in 0x72, value in 0x73).
class SimDaliGear
{
public:
    static constexpr uint8_t Mask = 0xFF;
    static constexpr uint8_t Yes = 0xFF;
    static constexpr qint64 ConfigWindowUs = 100'000;
    static constexpr qint64 InitialiseWindowUs = 15LL * 60 * 1'000'000;
    static constexpr uint16_t BridgeReadKey = 0x2E6A;
    static constexpr uint16_t BridgeWriteKey = 0x5D19;
    static constexpr uint8_t MailboxParameter = 0x70;
    static constexpr uint8_t MailboxValue = 0x72;
    static constexpr uint8_t MailboxRequest = 0x74;
    static constexpr uint8_t MailboxFailed = 0x04;

    explicit SimDaliGear(const SimDaliGearConfig& config = {});

    // One forward frame at bus time nowUs. Returns the backward frame the
    // gear sends (before any fault is applied by the caller).
    std::optional<uint8_t> receive(uint8_t address, uint8_t data, qint64 nowUs,
                                   bool sameFrameWindowOnly);

    // State for tests and the installation view.
    uint8_t shortAddress() const { return m_shortAddress; }
    bool hasShortAddress() const { return m_shortAddress != Mask; }
    uint32_t randomAddress() const { return m_randomAddress; }
    uint32_t searchAddress() const { return m_searchAddress; }
    uint8_t actualLevel(qint64 nowUs) const;
    uint8_t maxLevel() const { return m_maxLevel; }
    uint8_t minLevel() const { return m_minLevel; }
    uint8_t powerOnLevel() const { return m_powerOnLevel; }
    uint8_t systemFailureLevel() const { return m_systemFailureLevel; }
    uint8_t fadeTime() const { return m_fadeTime; }
    uint8_t fadeRate() const { return m_fadeRate; }
    uint16_t groups() const { return m_groups; }
    uint8_t sceneLevel(int scene) const { return m_scenes[scene & 15]; }
    uint8_t dtr() const { return m_dtr; }
    uint8_t dtr1() const { return m_dtr1; }
    uint8_t dtr2() const { return m_dtr2; }
    uint8_t fastFadeTime() const { return m_fastFadeTime; }
    uint8_t dimmingCurve() const { return m_dimmingCurve; }
    bool isInitialised(qint64 nowUs) const;
    bool isWithdrawn() const { return m_withdrawn; }
    uint8_t memory(int bank, int location) const;
    // Memory bank 1 as the module the gear is built into (a Keymark tag)
    // writes it: directly, without frames, DTR or write enable. A location
    // WRITE MEMORY LOCATION could not write is refused (false); a request
    // written to 0x74 runs the mailbox.
    bool writeBank1(uint8_t location, uint8_t value);
    uint16_t makerParameter(uint16_t number) const { return m_makerParameters.value(number); }
    const QMap<uint16_t, uint16_t>& makerParameters() const { return m_makerParameters; }
    uint8_t bridgeRegister(uint8_t reg) const { return m_bridgeRegisters.value(reg); }
    SimGearFault fault() const { return m_fault; }
    // The installation data the gear was made from.
    const SimDaliGearConfig& config() const { return m_config; }
    void setFault(SimGearFault fault) { m_fault = fault; }
    // Sets the next RANDOMISE result for good (equal random addresses).
    void setFixedRandomAddress(uint32_t address) { m_fixedRandomAddress = address; }

private:
    struct Frame
    {
        uint8_t address = 0;
        uint8_t data = 0;
        bool operator==(const Frame&) const = default;
    };

    bool isAddressed(uint8_t address) const;
    bool isConfigurationFrame(uint8_t address, uint8_t data, bool extended) const;
    // True when this frame repeats the pending configuration frame in time.
    bool confirmsPending(const Frame& frame, qint64 nowUs, bool sameFrameWindowOnly) const;

    std::optional<uint8_t> special(uint8_t address, uint8_t data, qint64 nowUs);
    std::optional<uint8_t> command(uint8_t data, qint64 nowUs);
    std::optional<uint8_t> configure(uint8_t data, qint64 nowUs);
    std::optional<uint8_t> query(uint8_t data, qint64 nowUs);
    std::optional<uint8_t> extended(uint8_t data, qint64 nowUs, bool confirmed);

    void setArcPower(uint8_t level, qint64 nowUs, bool fade);
    void setLevelNow(uint8_t level, qint64 nowUs);
    int fadeStepsPer200Ms() const;
    qint64 fadeDurationUs() const;
    uint8_t status(qint64 nowUs) const;
    bool inResetState() const;
    void reset();

    std::optional<uint8_t> readMemory();
    std::optional<uint8_t> writeMemory(uint8_t value);
    bool isWritable(int bank, int location) const;
    void runMailboxRequest(uint8_t request);
    uint16_t mailboxWord(uint8_t location) const;
    void setMailboxWord(uint8_t location, uint16_t value);

    // Persistent variables (IEC 62386-102 names).
    uint8_t m_shortAddress;
    uint32_t m_randomAddress;
    uint32_t m_searchAddress = 0xFFFFFF;
    uint8_t m_maxLevel = 254;
    uint8_t m_minLevel;
    uint8_t m_physicalMinLevel;
    uint8_t m_powerOnLevel = 254;
    uint8_t m_systemFailureLevel = 254;
    uint8_t m_fadeTime = 0;
    uint8_t m_fadeRate = 7;
    uint16_t m_groups = 0;
    uint8_t m_scenes[16];
    const uint8_t m_deviceType;
    const uint8_t m_versionNumber;

    // Arc power: the level fades linearly from m_fadeFrom to m_fadeTo between
    // m_fadeStartUs and m_fadeEndUs.
    uint8_t m_fadeFrom = 0;
    uint8_t m_fadeTo = 0;
    qint64 m_fadeStartUs = 0;
    qint64 m_fadeEndUs = 0;
    bool m_limitError = false;
    bool m_powerFailure = true;

    uint8_t m_dtr = 0;
    uint8_t m_dtr1 = 0;
    uint8_t m_dtr2 = 0;

    // Addressing state machine.
    bool m_initialised = false;
    qint64 m_initialiseStartUs = 0;
    bool m_withdrawn = false;

    // Device type 6.
    uint8_t m_fastFadeTime = 0;
    uint8_t m_minFastFadeTime = 4;
    uint8_t m_dimmingCurve = 0;
    uint8_t m_operatingMode = 0;
    uint8_t m_failureStatus = 0;
    bool m_currentProtectorEnabled = true;

    // The frame received before the current one, for configuration commands
    // sent twice and for ENABLE DEVICE TYPE X.
    std::optional<Frame> m_pendingConfiguration;
    qint64 m_pendingConfigurationUs = 0;
    bool m_deviceTypeEnabled = false;
    bool m_writeEnabled = false;

    QByteArray m_banks[2];
    QMap<uint16_t, uint16_t> m_makerParameters;
    QMap<uint16_t, uint16_t> m_makerValues;
    QMap<uint8_t, uint8_t> m_bridgeRegisters;

    const SimDaliGearConfig m_config;
    std::optional<uint32_t> m_fixedRandomAddress;
    std::mt19937 m_random;
    SimGearFault m_fault;
};

} // namespace halvorn::sim
