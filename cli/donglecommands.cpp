#include "cli/donglecommands.h"

#include "cli/clioutput.h"
#include "cli/clisession.h"
#include "cli/numbers.h"
#include "cli/parameteraccess.h"
#include "cli/parameterreport.h"
#include "general/parameter.h"
#include "general/parametergroup.h"
#include "usb/usbdongle.h"
#include "vx/vxnetwork.h"

#include <QJsonArray>

#include <memory>

namespace halvorn::cli {

namespace {

using usb::USBDongle;

const QString ParametersGroup = QStringLiteral("Parameters");

struct Capability
{
    const char* key;
    const char* label;
    int bit;
};

constexpr Capability Capabilities[] = {
    {"dmx", "DMX", USBDongle::DmxCapabilityBit},
    {"chorus", "Chorus", USBDongle::ChorusCapabilityBit},
    {"dali", "DALI", USBDongle::DaliCapabilityBit},
    {"daliBusPower", "DALI bus power", USBDongle::DaliBusPowerCapabilityBit},
    {"ioPins", "I/O pins", USBDongle::IoPinCapabilityBit},
    {"keymark", "Keymark", USBDongle::KeymarkCapabilityBit},
    {"keymarkRead", "Keymark read", USBDongle::KeymarkReadCapabilityBit},
};

} // namespace

bool DongleCommands::hasCapability(const USBDongle* dongle, int bit)
{
    if (bit == USBDongle::DmxCapabilityBit)
        return dongle->isDMXSupported();
    const general::Parameter* flags = dongle->findParameter(USBDongle::CapabilitiesParameter);
    const int value = flags && dongle->isVersionKnown() ? flags->value() : -1;
    return value >= 0 && (value >> bit) & 1;
}

namespace {

// The dongle's own parameters, or a network's parameters that live in the
// dongle (the DMX break lengths of the Vx network).
general::Parameter* knownParameter(CliSession& session, uint number)
{
    auto findIn = [number](general::TreeNode* owner) -> general::Parameter* {
        auto* group = owner ? qobject_cast<general::ParameterGroup*>(owner->findChild(ParametersGroup)) : nullptr;
        return group ? group->findParameter(number) : nullptr;
    };
    if (general::Parameter* parameter = findIn(session.dongle()))
        return parameter;
    if (number < 10000)
        return findIn(session.vxNetwork());
    return nullptr;
}

// A number the tool has no definition for is read and written through a
// parameter made for that access alone.
std::unique_ptr<general::Parameter> transientParameter(CliSession& session, uint number)
{
    return std::make_unique<general::Parameter>(session.dongle(), number,
                                                QStringLiteral("Portline parameter %1").arg(number), QString(), -1, -1,
                                                -1, false, false, general::Parameter::Decimal);
}

QString deviceText(CliSession& session)
{
    return QStringLiteral("Portline (index %1)").arg(session.dongleIndex());
}

} // namespace

CommandResult DongleCommands::info(CliSession& session)
{
    USBDongle* dongle = session.dongle();
    CommandResult result;
    QString version = dongle->versionText();
    version.replace(QLatin1String("&lt;"), QLatin1String("<"));

    QJsonObject capabilities;
    QStringList capabilityTexts;
    for (const Capability& capability : Capabilities) {
        const bool present = hasCapability(dongle, capability.bit);
        capabilities.insert(QLatin1String(capability.key), present);
        capabilityTexts.append(QStringLiteral("%1 %2").arg(QLatin1String(capability.label),
                                                           present ? QStringLiteral("yes") : QStringLiteral("no")));
    }

    QJsonArray parameters;
    QList<QStringList> rows;
    const auto* group = qobject_cast<general::ParameterGroup*>(dongle->findChild(ParametersGroup));
    for (const general::Parameter* parameter : ParameterReport::parameters(group)) {
        parameters.append(ParameterReport::json(parameter));
        rows.append(ParameterReport::row(parameter));
    }

    QJsonObject description;
    description.insert(QStringLiteral("index"), dongle->dongleIndex());
    description.insert(QStringLiteral("name"), dongle->name());
    description.insert(QStringLiteral("version"), version);
    description.insert(QStringLiteral("versionKnown"), dongle->isVersionKnown());
    description.insert(QStringLiteral("capabilities"), capabilities);
    description.insert(QStringLiteral("parameters"), parameters);
    result.data.insert(QStringLiteral("dongle"), description);

    result.text = QStringLiteral("%1 (index %2)\nVersion: %3\nCapabilities: %4\n\n")
                      .arg(dongle->name())
                      .arg(dongle->dongleIndex())
                      .arg(version, capabilityTexts.join(QStringLiteral(", ")))
                  + CliOutput::table(ParameterReport::header(), rows);
    return result;
}

CommandResult DongleCommands::get(CliSession& session, const CliCommand& command)
{
    general::Parameter* known = knownParameter(session, command.number);
    CommandResult result;
    session.run(QStringLiteral("Read Portline parameter"), [&](FunctionTask&) {
        const std::unique_ptr<general::Parameter> transient =
            known ? nullptr : transientParameter(session, command.number);
        general::Parameter* parameter = known ? known : transient.get();
        const bool ok = ParameterAccess::read(parameter);
        result = ParameterAccess::readResult(parameter, ok, deviceText(session));
    });
    return result;
}

CommandResult DongleCommands::set(CliSession& session, const CliCommand& command)
{
    general::Parameter* known = knownParameter(session, command.number);
    if (known) {
        const QString problem = ParameterReport::writeProblem(known, command.value);
        if (!problem.isEmpty())
            return CommandResult::failure(ExitUsage, problem);
    }
    CommandResult result;
    session.run(QStringLiteral("Write Portline parameter"), [&](FunctionTask&) {
        const std::unique_ptr<general::Parameter> transient =
            known ? nullptr : transientParameter(session, command.number);
        general::Parameter* parameter = known ? known : transient.get();
        const ParameterAccess::WriteOutcome outcome = ParameterAccess::write(parameter, command.value, true);
        result = ParameterAccess::writeResult(parameter, command.value, outcome, deviceText(session));
    });
    return result;
}

} // namespace halvorn::cli
