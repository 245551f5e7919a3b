#pragma once

#include "sim/simdriverframe.h"
#include "sim/simrdmpacket.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <array>
#include <optional>

namespace halvorn::sim {

// One simulated Halvorn LED driver: its identities (32-bit GUID, 48-bit RDM
// UID, 16-bit device address = parameter 161 "Device Local ID"), its
// parameter table, its RDM discovery state and the levels it last received
// on the DMX line.
//
// A plain value type, not thread-safe on its own: the DMX line that holds
// drivers guards them with its mutex and hands out copies.
//
// Parameter table: numbers 1..255, each with a 16-bit type word and a
// 16-bit value. Type word: bit 15 read-only; bits 14-13 kind (0x/01 value,
// 10/11 flag); value kind: bit 10 minimum is 1, bits 9-0 maximum (0 = 65535);
// flag kind: bits 2-0 the bit number of the flag, which is the only bit a
// write keeps. Parameter 0 always exists, is read-only and holds the number
// of parameters in the table (the tool probes it before listing).
//
// DMX footprint: start address = parameter 2, resolution = parameter 4
// (0 = 16 bits, otherwise 8 bits), channel count = parameter 52 "Group count"
// (4 when the table has none).
class SimDriver
{
public:
    // How the driver deviates from a well-behaved RDM responder.
    enum class Behaviour {
        Normal,
        NonMuting,    // ignores DISC_MUTE: keeps answering discovery, never acknowledges a mute
        Garbage,      // answers DISC_UNIQUE_BRANCH with bytes that do not decode
        FlakeyMuting, // loses the first DISC_MUTE after each un-mute (and after power-up)
        Silent,       // never transmits (RDM or Chorus) but still receives and applies everything
    };

    static constexpr quint16 HalvornManufacturerId = 0x4856;
    static constexpr int MaxChannels = 32;
    static constexpr int NoLevel = -1;

    // Parameter numbers with a meaning to the simulation.
    enum ParameterNumber : int {
        StartAddressParameter = 2,
        ResolutionParameter = 4,
        GroupCountParameter = 52,
        CellCountParameter = 74,
        LidParameter = 161,
    };

    // Type-word bits.
    static constexpr quint16 ReadOnlyBit = 0x8000;
    static constexpr quint16 FlagKindBit = 0x4000;
    static constexpr quint16 MinimumOneBit = 0x0400;
    static constexpr quint16 MaximumMask = 0x03FF;

    // Result of a write through the bus.
    enum class WriteResult { Written, UnknownParameter, ReadOnly, OutOfRange };

    // A driver with an empty parameter table, GUID 0, UID 0, LID 0.
    SimDriver() = default;
    // A driver with the default Halvorn parameter table.
    static SimDriver halvorn(quint32 guid, quint64 uid, quint16 lid = 0);
    // `count` Halvorn drivers with distinct random GUIDs and UIDs drawn from
    // `seed` (the same seed gives the same drivers), LID 0. UIDs use
    // `manufacturerId`, or a random manufacturer per driver when it is 0;
    // the broadcast IDs are never drawn.
    static QList<SimDriver> randomDrivers(int count, quint32 seed,
                                          quint16 manufacturerId = HalvornManufacturerId);

    quint32 guid() const { return m_guid; }
    void setGuid(quint32 guid) { m_guid = guid; }
    quint64 uid() const { return m_uid; }
    void setUid(quint64 uid) { m_uid = uid & SimRdmPacket::BroadcastUid; }
    quint16 lid() const;
    // Sets parameter 161 (defining it when the table lacks it).
    void setLid(quint16 lid);

    Behaviour behaviour() const { return m_behaviour; }
    void setBehaviour(Behaviour behaviour) { m_behaviour = behaviour; }

    // --- parameter table (test and installation access: no read-only check)
    bool hasParameter(int number) const;
    // 0 for a parameter that does not exist.
    quint16 typeWord(int number) const;
    quint16 parameterValue(int number) const;
    // Defines (or redefines) a parameter; numbers outside 1..255 are ignored.
    void defineParameter(int number, quint16 typeWord, quint16 value);
    void removeParameter(int number);
    void clearParameters();
    // Sets the value of an existing parameter; false when it does not exist.
    bool setParameterValue(int number, quint16 value);
    // The defined numbers in increasing order.
    QList<int> parameterNumbers() const;
    // The first defined number above `number`, 0 when there is none.
    int nextParameter(int number) const;
    // A write as a bus command makes it: read-only and range checks, flags
    // keep only their bit.
    WriteResult writeParameter(int number, quint16 value);

    // --- DMX reception
    int startAddress() const;
    bool is16Bit() const;
    int channelCount() const;
    // Takes one complete frame of `count` slots (slot 1 = slotValues[0]) and
    // records the levels at the driver's addresses; a channel whose
    // addresses lie beyond the frame keeps its last level.
    void receiveDmxFrame(const quint8* slotValues, int count);
    // The last level received on `channel` (0-based): 0..255 at 8 bits,
    // 0..65535 at 16 bits; NoLevel before any frame reached it.
    int level(int channel) const;
    QList<int> levels() const;
    int receivedFrameCount() const { return m_frameCount; }

    // --- RDM discovery state
    bool isMuted() const { return m_muted; }
    void setMuted(bool muted);

    // --- bus behaviour
    // Carries out a Chorus command that reached this driver. Returns the
    // answer, or nothing when the driver stays silent (its behaviour, or a
    // command that is never answered such as a broadcast write).
    // `broadcast`: the command was sent to address 0.
    std::optional<SimDriverFrame> handleChorus(const SimDriverFrame& command, bool broadcast);
    // Carries out an RDM request (already parsed and known to be well
    // formed). Returns the bytes to put on the line, empty for no answer.
    QByteArray handleRdm(const SimRdmPacket& request);
    // Whether an RDM request to `destination` concerns this driver.
    bool isAddressedBy(quint64 destination) const;

    // --- installation file
    QJsonObject toJson() const;
    // Reads a driver; the table starts as the Halvorn default unless the
    // object says "table": "empty". Returns nothing and sets `error` for
    // malformed input.
    static std::optional<SimDriver> fromJson(const QJsonObject& object, QString* error);

    // "1234:56789abc" (manufacturer, ":", device, lower case).
    static QString uidText(quint64 uid);
    // Reads "1234:56789abc", "12:34:56:78:9a:bc" or a number.
    static std::optional<quint64> parseUid(const QString& text);
    // A number of the installation file: a JSON number, or a text in
    // decimal or with "0x" in hexadecimal; nothing when it is not a whole
    // number in 0..maximum.
    static std::optional<quint64> readNumber(const QJsonValue& value, quint64 maximum);
    static QString behaviourName(Behaviour behaviour);
    static std::optional<Behaviour> behaviourFromName(const QString& name);

private:
    struct Parameter {
        bool defined = false;
        quint16 type = 0;
        quint16 value = 0;
    };

    void addDefaultTable();
    std::optional<SimDriverFrame> answer(const SimDriverFrame& command, quint8 code,
                                         quint8 d0, quint8 d1, quint8 d2, quint8 d3) const;
    std::optional<SimDriverFrame> errorAnswer(const SimDriverFrame& command, quint16 number,
                                              SimDriverFrame::ErrorReason reason) const;
    QByteArray discoveryAnswer();
    QByteArray muteAnswer(const SimRdmPacket& request, bool mute);
    QByteArray driverParameterAnswer(const SimRdmPacket& request);

    quint32 m_guid = 0;
    quint64 m_uid = 0;
    Behaviour m_behaviour = Behaviour::Normal;
    std::array<Parameter, 256> m_parameters{};
    std::array<int, MaxChannels> m_levels = filledLevels();
    int m_frameCount = 0;
    bool m_muted = false;
    bool m_muteLost = false;   // FlakeyMuting: the first mute since the last un-mute was lost
    int m_garbageCount = 0;    // Garbage: cycles through the kinds of bad answer

    static std::array<int, MaxChannels> filledLevels();
};

} // namespace halvorn::sim
