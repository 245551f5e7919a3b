#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

#include <memory>

namespace halvorn::sim {

class SimDongle;

// The installation file of the simulator: which dongles are plugged in,
// their firmware and capabilities, and the equipment on their buses.
//
//   { "dongles": [ { "name": "Portline", "firmwareVersion": 5,
//                    "capabilities": "0x007F", …,
//                    "dali": {…}, "dmx": {…}, "keymark": {…} } ] }
//
// The format is described in docs/simulator.md.
class SimInstallation
{
public:
    // The installation used by `tivaro --simulate` without a file: one
    // dongle, firmware version 5, capabilities 0x007F, with four DALI gear,
    // four drivers (one with a daisy chain of two) and a Keymark tag.
    static QJsonObject builtIn();

    // Builds the dongles of an installation. False with a message naming
    // the dongle and the field when the installation is malformed.
    static bool parse(const QJsonObject& installation, QList<std::shared_ptr<SimDongle>>& dongles,
                      QString* error);
    static QJsonObject toJson(const QList<std::shared_ptr<SimDongle>>& dongles);

    // Reads a JSON file; the message gives the line of a syntax error.
    static bool readFile(const QString& path, QJsonObject& installation, QString* error);
    // Writes through a temporary file, so a failed save keeps the old file.
    static bool writeFile(const QString& path, const QJsonObject& installation, QString* error);
};

} // namespace halvorn::sim
