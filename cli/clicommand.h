#pragma once

#include <QList>
#include <QPair>
#include <QString>

#include <array>
#include <optional>

namespace halvorn::cli {

// Who a DALI command addresses.
struct DaliTarget
{
    enum Kind { Short, Group, Broadcast };
    Kind kind = Broadcast;
    int address = 0; // short address 0..63 or group 0..15

    // "short 3", "group 2", "broadcast".
    QString text() const;
};

// The Keymark settings a `keymark write` changes; unset fields stay as they are.
struct KeymarkSettings
{
    enum class Curve { Linear, Logarithmic };
    std::array<std::optional<int>, 4> currentsMa;
    std::optional<Curve> curve;
    std::optional<double> minLevelPercent;
    std::optional<int> ntcCelsius;

    bool isEmpty() const;
};

// One command of the command line, checked and converted: running it needs
// no further parsing.
struct CliCommand
{
    enum Kind {
        None,
        Info,
        DongleGet,
        DongleSet,
        DaliScan,
        DaliCommission,
        DaliGet,
        DaliSet,
        DaliLevel,
        DaliPower,
        DmxDiscover,
        DmxDaisy,
        DmxParams,
        DmxGet,
        DmxSet,
        DmxSend,
        KeymarkRead,
        KeymarkWrite,
        SnapshotSave,
        SnapshotRestore,
    };
    enum class SnapshotKind { Dali, Dmx, Keymark };

    Kind kind = None;
    // The command words as typed, e.g. "dali get".
    QString name;

    DaliTarget target;
    uint number = 0;
    uint value = 0;
    // dali commission: only gear without a short address.
    bool newOnly = false;
    // dali power: empty to report, "on" or "off".
    std::optional<bool> power;
    // DMX driver: device address (LID) and place in its daisy chain.
    int lid = 0;
    int skip = 0;
    // dmx send: DMX address 1..512 → value, in the order given.
    QList<QPair<int, int>> setpoints;
    int frames = 1;
    std::optional<double> seconds;
    KeymarkSettings keymark;
    SnapshotKind snapshotKind = SnapshotKind::Dali;
    QString file;
    bool dryRun = false;
};

} // namespace halvorn::cli
