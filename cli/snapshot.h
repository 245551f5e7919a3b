#pragma once

#include "cli/clicommand.h"

#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

namespace halvorn::cli {

// A snapshot file: the parameters of one device as `snapshot save` read
// them, for `snapshot restore` to write back. The format (docs/cli.md):
//
//   { "format": "tivaro-snapshot", "version": 1, "tool": "tivaro-cli 1.04",
//     "created": "2024-05-01T09:30:00Z",
//     "device": { "type": "dmx", "lid": 1, "skip": 0,
//                 "hardwareType": 49, "hardwareVersion": 258, "guid": "0x4A1B2C01" },
//     "parameters": [ { "number": 2, "name": "Network start address",
//                       "value": 1, "readOnly": false }, … ] }
//
// The device names its type ("dali" with "target" and "deviceType",
// "dmx" with "lid", "skip" and the driver's hardware type, "keymark" with
// "deviceType") and where it is found; a value is null when it could not
// be read.
struct Snapshot
{
    struct Entry
    {
        uint number = 0;
        QString name;
        std::optional<int> value;
        bool readOnly = false;
    };

    static constexpr int FormatVersion = 1;

    CliCommand::SnapshotKind type = CliCommand::SnapshotKind::Dali;
    DaliTarget target;              // dali
    int lid = 0;                    // dmx
    int skip = 0;                   // dmx
    std::optional<int> deviceType;  // dali, keymark: QUERY DEVICE TYPE
    std::optional<int> hardwareType;    // dmx: driver parameter 150
    std::optional<int> hardwareVersion; // dmx: driver parameter 151
    std::optional<quint32> guid;        // dmx
    QList<Entry> parameters;

    QJsonObject toJson() const;
    // False with a message naming what is wrong.
    static bool fromJson(const QJsonObject& document, Snapshot& snapshot, QString* error);
    static bool readFile(const QString& path, Snapshot& snapshot, QString* error);

    // "dali", "dmx", "keymark".
    static QString typeName(CliCommand::SnapshotKind type);
    // "DALI short 3", "driver LID 1", "Keymark tag".
    QString deviceText() const;
};

} // namespace halvorn::cli
