#pragma once

#include "sim/simanswer.h"
#include "sim/simdriver.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMutex>
#include <QString>

#include <array>
#include <functional>
#include <optional>
#include <vector>

namespace halvorn::sim {

// The DMX512 line behind one simulated dongle: the drivers on it, the
// set-point frames the firmware puts on it, and what the dongle hears back
// when it puts a command/reply frame (Chorus, RDM) on it.
//
// Drivers stand in chains. The first driver of a chain (place 0) is on the
// line itself: it answers Chorus commands sent to its device address (LID)
// and RDM requests. The drivers behind it (places 1, 2, ...) are its daisy
// chain: they answer only Chorus skip commands (skip count = place, address
// byte = low byte of the head's LID), never RDM. Every driver receives the
// set-point frames and Chorus broadcasts.
//
// Answers: no driver answering gives NoAnswer (status 5); one gives
// Answered and its bytes; several at once give ReceptionError (status 3)
// with the bitwise AND of their bytes, as a collision on the wire would
// leave them - or, with CollisionMode::Garbled, Answered with those garbled
// bytes.
//
// Chorus broadcast (address 0): every driver applies the command; writes are
// never answered, other commands are answered by every driver (so a
// broadcast read works when exactly one driver is on the line and collides
// otherwise). Skip commands have no broadcast form: address byte 0 matches
// the heads whose LID has the low byte 0 (every uncommissioned driver).
//
// Thread safety: every public function may be called from any thread. The
// firmware calls in with the dongle's lock held; the line's own mutex
// guards the drivers as well (a leaf lock: nothing is called out while it
// is held), so a test may inspect and change the equipment directly.
// Drivers are handed out as copies.
class SimDmxLine
{
public:
    enum class CollisionMode { ReceptionError, Garbled };

    static constexpr int MaxSlots = 512;
    // Answer bytes that fit into a 64-byte reply after 0x82, status, length.
    static constexpr int MaxAnswerLength = 61;

    SimDmxLine() = default;
    SimDmxLine(const SimDmxLine&) = delete;
    SimDmxLine& operator=(const SimDmxLine&) = delete;

    // --- firmware side
    // One command/reply frame (code 0x02 payload: Chorus 0xD0... or RDM
    // 0xCC...) that the firmware put on the line. Malformed frames (bad
    // checksum, wrong length) are ignored by the drivers: no answer. The
    // answer holds at most MaxAnswerLength bytes.
    SimAnswer handleFrame(const QByteArray& frame);
    // A complete set-point frame as the firmware assembled it from the 0x03
    // blocks: `levels` holds the slot values (slot 1 first; at most 512 are
    // used), and the Chorus flags came with block 0. Every driver records
    // the levels at its addresses.
    void setpointFrame(const QByteArray& levels, bool chorusOutput, quint8 chorusMode);
    // The dongle was plugged in: it has not sent a frame yet. The drivers
    // have their own supply and keep their state.
    void powerUp();

    // The last set-point frame (empty before the first) and its Chorus flags.
    QByteArray lastFrame() const;
    bool lastFrameChorusOutput() const;
    quint8 lastFrameChorusMode() const;
    int frameCount() const;
    // Command/reply frames seen, and the newest of them.
    int commandFrameCount() const;
    QByteArray lastCommandFrame() const;

    // --- equipment
    // Puts a driver on the line as the head of a new chain; returns the chain index.
    int addDriver(const SimDriver& driver);
    // Appends a driver to the daisy chain of chain `chain`; returns its
    // place (1, 2, ...), or -1 when there is no such chain. Keeps parameter
    // 74 "Cell count" of every driver of the chain equal to the number of
    // drivers behind it.
    int addChainedDriver(int chain, const SimDriver& driver);
    // Adds `count` random Halvorn drivers (SimDriver::randomDrivers) as
    // chains of their own; returns their chain indices.
    QList<int> addRandomDrivers(int count, quint32 seed,
                                quint16 manufacturerId = SimDriver::HalvornManufacturerId);
    bool removeChain(int chain);
    void removeAllDrivers();

    int chainCount() const;
    // Drivers in the chain including its head; 0 for no such chain.
    int chainLength(int chain) const;
    // All drivers, heads and chains.
    int driverCount() const;

    // A copy of the driver at `place` of chain `chain`.
    std::optional<SimDriver> driver(int chain, int place = 0) const;
    // The first driver (in line order) with this UID / with this GUID.
    std::optional<SimDriver> driverByUid(quint64 uid) const;
    std::optional<SimDriver> driverByGuid(quint32 guid) const;
    // Every driver in line order: chain 0 head, its chain, chain 1 head, ...
    QList<SimDriver> drivers() const;
    // Replaces a driver; false when there is none at that position.
    bool setDriver(int chain, int place, const SimDriver& driver);
    // Changes a driver in place under the line's lock; `change` must not
    // call back into the line. False when there is no driver there.
    bool updateDriver(int chain, int place, const std::function<void(SimDriver&)>& change);

    void setCollisionMode(CollisionMode mode);
    CollisionMode collisionMode() const;

    // --- installation file, the "dmx" section (see docs/simulator.md)
    // Replaces the equipment with the section's; on error leaves the line
    // unchanged and returns false with a message naming the offending entry.
    bool load(const QJsonObject& section, QString* error);
    QJsonObject save() const;
    // A small installation to explore without a file: three Halvorn drivers
    // with LID 0 (waiting for discovery), the first with two drivers
    // daisy-chained behind it.
    static QJsonObject exampleSection();

private:
    using Chain = std::vector<SimDriver>;

    void collectChorusAnswers(const SimDriverFrame& command, QList<QByteArray>& answers);
    void collectRdmAnswers(const QByteArray& frame, QList<QByteArray>& answers);
    SimAnswer combineAnswers(const QList<QByteArray>& answers) const;
    SimDriver* at(int chain, int place);
    const SimDriver* at(int chain, int place) const;
    static void updateCellCounts(Chain& chain);

    mutable QMutex m_mutex;
    std::vector<Chain> m_chains;                                   // guarded by m_mutex
    CollisionMode m_collisionMode = CollisionMode::ReceptionError; // guarded by m_mutex
    QByteArray m_lastFrame;                                        // guarded by m_mutex
    bool m_lastChorusOutput = false;                               // guarded by m_mutex
    quint8 m_lastChorusMode = 0;                                   // guarded by m_mutex
    int m_frameCount = 0;                                          // guarded by m_mutex
    int m_commandFrameCount = 0;                                   // guarded by m_mutex
    QByteArray m_lastCommandFrame;                                 // guarded by m_mutex
};

} // namespace halvorn::sim
