#pragma once

#include "sim/simdaligear.h"

#include <QByteArray>
#include <QList>
#include <QMap>

#include <array>
#include <cstdint>
#include <optional>

namespace halvorn::sim {

// What a tag and the LED driver behind it hold. The driver's bank-1
// registers: 0x30 NTC throttling temperature, 0x7F the number of Ampwise
// (current source) chips, 0x84 + 0x20 × i the 16-bit status word of chip i
// (high byte first; bit 6: its second source is missing, bit 14: its first).
struct SimTagConfig
{
    static constexpr int SourceCount = 4;
    static constexpr int MaxAmpwiseChips = 4;

    // Output currents of sources 1..4 in mA: maker parameters 0x0000,
    // 0x0002, 0x0200 and 0x0202 behind the mailbox.
    std::array<uint16_t, SourceCount> currents{350, 350, 350, 350};
    // Device type 6 dimming curve: 0 standard (logarithmic), 1 linear.
    uint8_t dimmingCurve = 0;
    uint8_t minLevel = 1;
    uint8_t physicalMinLevel = 1;
    uint8_t ntcTemperature = 70;
    // One status word per chip; the count at 0x7F is their number.
    QList<uint16_t> ampwiseStatus{0x0000, 0x0000};
    // More maker parameters, and bank-1 bytes (locations 2..0xFF) written
    // over everything above.
    QMap<uint16_t, uint16_t> makerParameters;
    QMap<uint8_t, uint8_t> bank1;

    bool operator==(const SimTagConfig&) const = default;
};

// A Keymark tag with the driver it configures. The tag's 128 bytes of
// memory are the driver's memory bank 1, locations 0..127 (its registers
// and the mailbox at 0x70..0x74): the tag reads and writes them directly.
// The driver itself is a DALI control gear (device type 6) reached with the
// DALI pass-through.
//
// Tag frames (9 bytes, Chorus layout, to device address 0):
//
//   D0, 0x0D read / 0x0E write, 00, 00, number low, high, value low, high, sum
//
//   0x0A00 + L  8-bit access to location L; a read answers the byte in
//               byte 6 and 0 in byte 7
//   0x0A80 + L  16-bit access: high byte at L, low byte at L + 1; a read
//               answers the low byte in byte 6 and the high byte in byte 7
//   0x0B40      DALI forward frame: address byte in byte 7, data in byte 6;
//               a read answers the driver's backward frame in byte 6
//
// Answers: D0, command | 0x80, 00, 00, number, value (a write echoes the
// value it stored), sum. Refusals: command | 0xC0 with a reason in byte 6
// (ErrorReason). Frames of another length or with a wrong checksum get no
// answer at all.
//
// Locations 0 and 1 (the bank's last location and checksum) cannot be
// written. Locations 18 and 28 are the tag's own control registers: the
// tool writes 0 to 18 to check for a tag through a dongle that cannot read,
// and 0xDF to 28 before groups of accesses. The tag acknowledges such
// writes and records them; they do not change the memory (reads return the
// driver's bytes there: 18 is its version register).
//
// Not thread-safe: SimKeymarkPort calls it with the dongle's lock held.
class SimTag
{
public:
    static constexpr int MemorySize = 128;
    static constexpr uint8_t ProbeLocation = 18;
    static constexpr uint8_t SessionLocation = 28;
    static constexpr uint8_t NtcLocation = 0x30;
    static constexpr uint8_t AmpwiseCountLocation = 0x7F;
    static constexpr uint8_t AmpwiseStatusLocation = 0x84;
    static constexpr uint8_t AmpwiseStatusStride = 0x20;
    static constexpr uint16_t CurrentParameters[SimTagConfig::SourceCount] = {0x0000, 0x0002, 0x0200,
                                                                              0x0202};

    enum ErrorReason : uint8_t {
        UnknownParameter = 1,
        Refused = 2,     // location 0 or 1
        OutOfRange = 3,  // a 16-bit access at location 127
        NoDaliAnswer = 4 // a DALI query the driver did not answer
    };

    explicit SimTag(const SimTagConfig& config = {});

    // The answer to one tag frame; nothing for a frame the tag ignores.
    std::optional<QByteArray> handleFrame(const QByteArray& frame);

    // Tag memory (0 outside 0..127).
    uint8_t memoryByte(int location) const;
    const SimDaliGear& driver() const { return m_driver; }
    uint16_t current(int source) const;
    // Writes to a control register (18, 28): how many, and the last value
    // (−1 before the first).
    int controlWriteCount(int location) const;
    int lastControlValue(int location) const;
    // DALI forward frames through the pass-through, oldest first
    // (address << 8 | data); the last 4096 are kept.
    QList<quint16> driverFrames() const { return m_driverFrames; }

    // The configuration that builds this tag as it is now.
    SimTagConfig state() const;

private:
    std::optional<QByteArray> memoryAccess(const QByteArray& frame, bool write);
    std::optional<QByteArray> passThrough(const QByteArray& frame, bool read);
    void applyDaliFrame(uint8_t address, uint8_t data);
    static bool isControlLocation(int location);

    SimTagConfig m_config;
    SimDaliGear m_driver;
    // The driver's clock: each frame moves it on by its time on a DALI bus.
    qint64 m_nowUs = 0;
    QMap<int, int> m_controlWrites;
    QMap<int, int> m_lastControlValues;
    QList<quint16> m_driverFrames;
};

} // namespace halvorn::sim
