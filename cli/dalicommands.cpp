#include "cli/dalicommands.h"

#include "cli/clioutput.h"
#include "cli/clisession.h"
#include "cli/parameteraccess.h"
#include "cli/parameterreport.h"
#include "dali/dalibinsearch.h"
#include "dali/dalidevice.h"
#include "dali/dalinetwork.h"
#include "general/parameter.h"
#include "usb/usbdongle.h"

#include <QJsonArray>
#include <QMutexLocker>
#include <QPointer>

#include <algorithm>

namespace halvorn::cli {

namespace {

using dali::DaliDevice;
using dali::DaliNetwork;

constexpr uint ShortAddressParameter = 7;

QList<DaliDevice*> gearOf(const DaliNetwork* network)
{
    QList<DaliDevice*> gear;
    for (int i = 0; i < network->deviceCount(); ++i) {
        auto* device = qobject_cast<DaliDevice*>(network->deviceAt(i));
        if (device && device->address() <= uint(DaliNetwork::HighestShortAddress))
            gear.append(device);
    }
    std::sort(gear.begin(), gear.end(), [](DaliDevice* a, DaliDevice* b) { return a->address() < b->address(); });
    return gear;
}

QJsonArray gearJson(const QList<DaliDevice*>& gear)
{
    QJsonArray list;
    for (const DaliDevice* device : gear) {
        QJsonObject entry;
        entry.insert(QStringLiteral("shortAddress"), int(device->address()));
        entry.insert(QStringLiteral("name"), device->name());
        list.append(entry);
    }
    return list;
}

QString gearTable(const QList<DaliDevice*>& gear)
{
    if (gear.isEmpty())
        return QStringLiteral("No gear answered.\n");
    QList<QStringList> rows;
    for (const DaliDevice* device : gear)
        rows.append({QString::number(device->address()), device->name()});
    return CliOutput::table({QStringLiteral("Short address"), QStringLiteral("Name")}, rows);
}

// A hint for an empty bus: without bus voltage no gear can answer.
void warnWhenUnpowered(CliSession& session, CommandResult& result)
{
    bool connected = true;
    session.run(QStringLiteral("Read DALI bus state"),
                [&](FunctionTask&) { connected = session.dongle()->isDALIBusConnected(); });
    if (!connected)
        result.warnings.append(QStringLiteral("the DALI bus has no voltage; \"dali power on\" switches on the "
                                              "Portline's own bus supply"));
}

// The definition of a parameter number, shared by every DALI device: the
// broadcast device's parameter.
general::Parameter* definition(DaliNetwork* network, uint number)
{
    general::Device* broadcast = network->findDevice(DaliNetwork::BroadcastDeviceAddress);
    return broadcast ? broadcast->findParameter(number) : nullptr;
}

// Whether gear answers QUERY CONTROL GEAR at a short address.
bool addressTaken(DaliNetwork* network, int shortAddress)
{
    QMutexLocker locker(&network->mutex());
    network->sendShortCommand(shortAddress, DaliNetwork::QueryControlGear, 1);
    return network->hasAnswer();
}

CommandResult undefinedParameter(uint number)
{
    return CommandResult::failure(
        ExitUsage, QStringLiteral("NUMBER %1 is not a parameter defined for DALI devices (settings/dali_device.json)")
                       .arg(ParameterReport::numberText(number)));
}

} // namespace

std::optional<CommandResult> DaliCommands::checkSupported(CliSession& session)
{
    if (!session.daliNetwork())
        return CommandResult::failure(ExitBusFailure, QStringLiteral("the Portline has no DALI network"));
    if (!session.dongle()->isDALISupported())
        return CommandResult::failure(
            ExitBusFailure, QStringLiteral("the Portline (index %1) does not support DALI").arg(session.dongleIndex()));
    return std::nullopt;
}

DaliDevice* DaliCommands::device(DaliNetwork* network, const DaliTarget& target)
{
    if (target.kind == DaliTarget::Broadcast)
        return qobject_cast<DaliDevice*>(network->findDevice(DaliNetwork::BroadcastDeviceAddress));
    if (auto* existing = qobject_cast<DaliDevice*>(network->findDevice(uint(target.address))))
        return existing;
    return qobject_cast<DaliDevice*>(
        network->createDevice(uint(target.address), QStringLiteral("DALI Device %1").arg(target.address)));
}

QString DaliCommands::deviceText(const DaliTarget& target)
{
    return QStringLiteral("DALI ") + target.text();
}

QJsonObject DaliCommands::targetJson(const DaliTarget& target)
{
    QJsonObject object;
    switch (target.kind) {
    case DaliTarget::Short:
        object.insert(QStringLiteral("kind"), QStringLiteral("short"));
        object.insert(QStringLiteral("address"), target.address);
        break;
    case DaliTarget::Group:
        object.insert(QStringLiteral("kind"), QStringLiteral("group"));
        object.insert(QStringLiteral("group"), target.address);
        break;
    case DaliTarget::Broadcast:
        object.insert(QStringLiteral("kind"), QStringLiteral("broadcast"));
        break;
    }
    return object;
}

CommandResult DaliCommands::scan(CliSession& session)
{
    if (std::optional<CommandResult> unsupported = checkSupported(session))
        return *unsupported;
    DaliNetwork* network = session.daliNetwork();
    session.runTask(network->searchTask(DaliNetwork::SearchShortAddresses));

    CommandResult result;
    const QList<DaliDevice*> gear = gearOf(network);
    result.data.insert(QStringLiteral("gear"), gearJson(gear));
    result.text = gearTable(gear);
    if (gear.isEmpty() && !session.isInterrupted())
        warnWhenUnpowered(session, result);
    return result;
}

CommandResult DaliCommands::commission(CliSession& session, const CliCommand& command)
{
    if (std::optional<CommandResult> unsupported = checkSupported(session))
        return *unsupported;
    DaliNetwork* network = session.daliNetwork();
    auto* search = qobject_cast<dali::DaliBinSearch*>(
        network->searchTask(command.newOnly ? DaliNetwork::SearchNewDevices : DaliNetwork::SearchAllDevices));
    if (!search)
        return CommandResult::failure(ExitBusFailure, QStringLiteral("the DALI network has no commissioning search"));

    // The new gear get the first short addresses that no device in the tree
    // has; the tree of a fresh run is empty, so it learns first which
    // addresses the bus already uses (as a user of the window scans first).
    if (command.newOnly && !session.runTask(network->searchTask(DaliNetwork::SearchShortAddresses))) {
        CommandResult interrupted;
        interrupted.data.insert(QStringLiteral("mode"), QStringLiteral("new"));
        interrupted.data.insert(QStringLiteral("addressed"), QJsonArray());
        interrupted.data.insert(QStringLiteral("gear"), gearJson(gearOf(network)));
        return interrupted;
    }

    QList<QPointer<general::Device>> found;
    const QMetaObject::Connection tracking =
        QObject::connect(network, &general::Network::deviceFound, &session, [&](general::Device* device) {
            found.append(device);
            session.output().progress(QStringLiteral("%1: %2 gear addressed, the last with short address %3")
                                          .arg(search->name())
                                          .arg(found.size())
                                          .arg(device->address()));
        });
    const bool completed = session.runTask(search);
    QObject::disconnect(tracking);

    QList<DaliDevice*> addressed;
    for (const QPointer<general::Device>& device : found)
        if (auto* gear = qobject_cast<DaliDevice*>(device.data()))
            addressed.append(gear);
    std::sort(addressed.begin(), addressed.end(),
              [](DaliDevice* a, DaliDevice* b) { return a->address() < b->address(); });
    const QList<DaliDevice*> gear = gearOf(network);

    CommandResult result;
    result.data.insert(QStringLiteral("mode"), command.newOnly ? QStringLiteral("new") : QStringLiteral("all"));
    result.data.insert(QStringLiteral("addressed"), gearJson(addressed));
    result.data.insert(QStringLiteral("gear"), gearJson(gear));
    result.data.insert(QStringLiteral("verificationErrors"), search->errorCount());
    result.text = QStringLiteral("%1 gear addressed in this run.\n\n").arg(addressed.size()) + gearTable(gear);
    if (completed && search->isAborted()) {
        result.exitCode = ExitBusFailure;
        result.error = QStringLiteral("commissioning stopped by the search itself after %1 verification errors "
                                      "(or with no free short address left)")
                           .arg(search->errorCount());
    }
    if (completed && gear.isEmpty())
        warnWhenUnpowered(session, result);
    return result;
}

CommandResult DaliCommands::get(CliSession& session, const CliCommand& command)
{
    if (std::optional<CommandResult> unsupported = checkSupported(session))
        return *unsupported;
    DaliNetwork* network = session.daliNetwork();
    if (!definition(network, command.number))
        return undefinedParameter(command.number);

    CommandResult result;
    session.run(QStringLiteral("Read DALI parameter"), [&](FunctionTask&) {
        DaliDevice* gear = device(network, command.target);
        general::Parameter* parameter = gear ? gear->findParameter(command.number) : nullptr;
        if (!parameter) {
            result = undefinedParameter(command.number);
            return;
        }
        result = ParameterAccess::readResult(parameter, ParameterAccess::read(parameter),
                                             deviceText(command.target));
    });
    result.data.insert(QStringLiteral("target"), targetJson(command.target));
    return result;
}

CommandResult DaliCommands::set(CliSession& session, const CliCommand& command)
{
    if (std::optional<CommandResult> unsupported = checkSupported(session))
        return *unsupported;
    DaliNetwork* network = session.daliNetwork();
    const general::Parameter* defined = definition(network, command.number);
    if (!defined)
        return undefinedParameter(command.number);
    const QString problem = ParameterReport::writeProblem(defined, command.value);
    if (!problem.isEmpty())
        return CommandResult::failure(ExitUsage, problem);

    // Several gear answer a broadcast read at once; a new short address
    // moves the gear away from the device that would read it back.
    const bool readBack = command.target.kind == DaliTarget::Short && command.number != ShortAddressParameter;
    const bool readdress = command.number == ShortAddressParameter && command.value <= uint(DaliNetwork::HighestShortAddress)
                           && !(command.target.kind == DaliTarget::Short && command.value == uint(command.target.address));
    CommandResult result;
    session.run(QStringLiteral("Write DALI parameter"), [&](FunctionTask&) {
        // Two gear with one short address cannot be told apart any more.
        if (readdress && addressTaken(network, int(command.value))) {
            result = CommandResult::failure(
                ExitBusFailure, QStringLiteral("short address %1 is taken: gear answers there; nothing was written")
                                    .arg(command.value));
            return;
        }
        DaliDevice* gear = device(network, command.target);
        general::Parameter* parameter = gear ? gear->findParameter(command.number) : nullptr;
        if (!parameter) {
            result = undefinedParameter(command.number);
            return;
        }
        const ParameterAccess::WriteOutcome outcome = ParameterAccess::write(parameter, command.value, readBack);
        result = ParameterAccess::writeResult(parameter, command.value, outcome, deviceText(command.target));
    });
    if (command.number == ShortAddressParameter && !result.failed())
        result.warnings.append(QStringLiteral("not read back: the gear answers at its new short address "
                                              "(dali scan lists it)"));
    result.data.insert(QStringLiteral("target"), targetJson(command.target));
    return result;
}

CommandResult DaliCommands::level(CliSession& session, const CliCommand& command)
{
    if (std::optional<CommandResult> unsupported = checkSupported(session))
        return *unsupported;
    DaliNetwork* network = session.daliNetwork();
    const auto level = uint8_t(command.value);
    session.run(QStringLiteral("Send DALI level"), [&](FunctionTask&) {
        switch (command.target.kind) {
        case DaliTarget::Short:
            network->setShortLevel(command.target.address, level);
            break;
        case DaliTarget::Group:
            network->setGroupLevel(command.target.address, level);
            break;
        case DaliTarget::Broadcast:
            network->setBroadcastLevel(level);
            break;
        }
    });
    CommandResult result;
    result.data.insert(QStringLiteral("target"), targetJson(command.target));
    result.data.insert(QStringLiteral("level"), int(level));
    result.text = QStringLiteral("Level %1 sent to %2.\n").arg(level).arg(command.target.text());
    return result;
}

CommandResult DaliCommands::power(CliSession& session, const CliCommand& command)
{
    if (std::optional<CommandResult> unsupported = checkSupported(session))
        return *unsupported;
    usb::USBDongle* dongle = session.dongle();
    general::Parameter* configuration = dongle->findParameter(usb::USBDongle::ConfigurationFlagsParameter);
    const general::Parameter* capabilities = dongle->findParameter(usb::USBDongle::CapabilitiesParameter);
    const bool canPower = capabilities && capabilities->value() >= 0
                          && (capabilities->value() >> usb::USBDongle::DaliBusPowerCapabilityBit) & 1;
    if (command.power && !canPower)
        return CommandResult::failure(ExitBusFailure, QStringLiteral("the Portline (index %1) cannot power the DALI bus")
                                                          .arg(session.dongleIndex()));

    bool switched = true;
    bool supplyOn = false;
    bool connected = false;
    session.run(QStringLiteral("DALI bus power"), [&](FunctionTask&) {
        if (command.power)
            switched = dongle->setDALIBusPower(*command.power);
        if (configuration && configuration->update(true))
            supplyOn = (configuration->value() >> usb::USBDongle::DaliBusPowerBit) & 1;
        connected = dongle->isDALIBusConnected();
    });
    CommandResult result;
    result.data.insert(QStringLiteral("portlineSupply"), supplyOn);
    result.data.insert(QStringLiteral("busVoltage"), connected);
    result.text = QStringLiteral("Portline bus supply: %1\nDALI bus voltage: %2\n")
                      .arg(supplyOn ? QStringLiteral("on") : QStringLiteral("off"),
                           connected ? QStringLiteral("present") : QStringLiteral("absent"));
    if (!switched) {
        result.exitCode = ExitBusFailure;
        result.error = QStringLiteral("the Portline's bus supply could not be switched");
    } else if (command.power && supplyOn != *command.power) {
        result.exitCode = ExitBusFailure;
        result.error = QStringLiteral("the Portline reports its bus supply %1").arg(supplyOn ? "on" : "off");
    }
    return result;
}

} // namespace halvorn::cli
