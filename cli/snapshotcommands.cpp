#include "cli/snapshotcommands.h"

#include "cli/clioutput.h"
#include "cli/clisession.h"
#include "cli/dalicommands.h"
#include "cli/dmxcommands.h"
#include "cli/keymarkcommands.h"
#include "cli/numbers.h"
#include "cli/parameteraccess.h"
#include "cli/parameterreport.h"
#include "dali/dalidevice.h"
#include "dali/dalinetwork.h"
#include "general/parameter.h"
#include "km/keymarkdevice.h"
#include "km/keymarknetwork.h"
#include "vx/vxdevice.h"
#include "vx/vxnetwork.h"
#include "vx/vxparameter.h"

#include <QJsonArray>
#include <QPointer>

#include <algorithm>

namespace halvorn::cli {

namespace {

using Kind = CliCommand::SnapshotKind;

// DALI: short address, DTR, DTR1, DTR2.
constexpr uint DaliExcluded[] = {7, 27, 28, 29};
constexpr uint DaliDeviceTypeParameter = 40;
// Driver: "Device Local ID" (the LID the file names).
constexpr uint DriverLidParameter = 161;
constexpr uint HardwareTypeParameter = 150;
constexpr uint HardwareVersionParameter = 151;

// The device a snapshot is taken of or restored to, with its parameters.
struct SnapshotDevice
{
    QString text;
    QList<general::Parameter*> parameters;
    std::optional<quint32> guid;
};

// Finds the device and its parameters; a failure, or nothing.
std::optional<CommandResult> resolve(CliSession& session, Kind type, const DaliTarget& target, int lid, int skip,
                                     SnapshotDevice& device)
{
    QPointer<general::Device> owner;
    switch (type) {
    case Kind::Dali: {
        if (std::optional<CommandResult> unsupported = DaliCommands::checkSupported(session))
            return unsupported;
        dali::DaliNetwork* network = session.daliNetwork();
        session.run(QStringLiteral("Find DALI device"),
                    [&](FunctionTask&) { owner = DaliCommands::device(network, target); });
        device.text = DaliCommands::deviceText(target);
        break;
    }
    case Kind::Keymark: {
        if (std::optional<CommandResult> failure = KeymarkCommands::connectTag(session, true))
            return failure;
        owner = session.keymarkNetwork()->tagDevice();
        device.text = QStringLiteral("Keymark tag");
        break;
    }
    case Kind::Dmx: {
        if (std::optional<CommandResult> unsupported = DmxCommands::checkChorus(session))
            return unsupported;
        device.text = DmxCommands::deviceText(lid, skip);
        const QList<vx::VxParameter*> found = DmxCommands::searchParameters(session, nullptr, lid, skip);
        if (session.isInterrupted())
            return CommandResult();
        if (found.isEmpty())
            return CommandResult::failure(ExitBusFailure, QStringLiteral("no driver answers as %1").arg(device.text));
        for (vx::VxParameter* parameter : found)
            device.parameters.append(parameter);
        vx::VxNetwork* network = session.vxNetwork();
        session.run(QStringLiteral("Read driver GUID"), [&](FunctionTask&) {
            quint32 guid = 0;
            if (network->readGuid(quint16(skip), quint16(lid), guid) == vx::VxNetwork::StatusAnswer)
                device.guid = guid;
        });
        return std::nullopt;
    }
    }
    if (session.isInterrupted())
        return CommandResult();
    if (!owner)
        return CommandResult::failure(ExitBusFailure, QStringLiteral("%1 is not available").arg(device.text));
    device.parameters = ParameterReport::parameters(owner.data());
    return std::nullopt;
}

// Reads the parameters; the number that answered.
int readAll(CliSession& session, const QList<general::Parameter*>& parameters)
{
    int answered = 0;
    session.run(QStringLiteral("Read parameters"), [&](FunctionTask& task) {
        for (int i = 0; i < parameters.size() && !task.isAborted(); ++i) {
            task.reportProgress(i + 1, int(parameters.size()));
            answered += ParameterAccess::read(parameters[i]) ? 1 : 0;
        }
    });
    return answered;
}

general::Parameter* find(const QList<general::Parameter*>& parameters, uint number)
{
    for (general::Parameter* parameter : parameters)
        if (parameter->number() == number)
            return parameter;
    return nullptr;
}

std::optional<int> valueOf(const QList<general::Parameter*>& parameters, uint number)
{
    const general::Parameter* parameter = find(parameters, number);
    return parameter && parameter->value() >= 0 ? std::optional<int>(parameter->value()) : std::nullopt;
}

// Why the device is not the kind the snapshot was made of; empty when it is.
QString identityProblem(const Snapshot& snapshot, const QList<general::Parameter*>& parameters)
{
    if (snapshot.type == Kind::Dmx) {
        const std::optional<int> hardwareType = valueOf(parameters, HardwareTypeParameter);
        if (snapshot.hardwareType && hardwareType && *hardwareType != *snapshot.hardwareType)
            return QStringLiteral("the snapshot is for a driver of hardware type %1, but the %2 is of hardware type %3")
                .arg(hexText(*snapshot.hardwareType, 4), snapshot.deviceText(), hexText(*hardwareType, 4));
        return QString();
    }
    const std::optional<int> deviceType = valueOf(parameters, DaliDeviceTypeParameter);
    if (snapshot.deviceType && deviceType && *deviceType != *snapshot.deviceType)
        return QStringLiteral("the snapshot is for DALI device type %1, but %2 is of device type %3")
            .arg(*snapshot.deviceType)
            .arg(snapshot.deviceText())
            .arg(*deviceType);
    return QString();
}

struct Difference
{
    uint number = 0;
    QString name;
    int current = -1;
    int wanted = 0;
    QString action;
    general::Parameter* parameter = nullptr;
};

QList<QStringList> differenceRows(const QList<Difference>& differences)
{
    QList<QStringList> rows;
    for (const Difference& difference : differences)
        rows.append({ParameterReport::numberText(difference.number), difference.name,
                     ParameterReport::valueText(difference.current), QString::number(difference.wanted),
                     difference.action});
    return rows;
}

const QStringList DifferenceHeader{QStringLiteral("Number"), QStringLiteral("Name"), QStringLiteral("Device"),
                                   QStringLiteral("Snapshot"), QStringLiteral("Action")};

// The entries of the file whose value differs from the device's, each with
// what restore does about it.
QList<Difference> compare(const Snapshot& snapshot, const QList<general::Parameter*>& present, bool dryRun)
{
    QList<Difference> differences;
    for (const Snapshot::Entry& entry : snapshot.parameters) {
        if (!entry.value)
            continue;
        Difference difference;
        difference.number = entry.number;
        difference.name = entry.name;
        difference.wanted = *entry.value;
        difference.parameter = find(present, entry.number);
        if (difference.parameter) {
            difference.name = difference.parameter->name();
            difference.current = difference.parameter->value();
            if (difference.current == ParameterAccess::expectedValue(difference.parameter, uint(difference.wanted)))
                continue;
        }
        if (!SnapshotCommands::belongsInSnapshot(snapshot.type, entry.number))
            difference.action = QStringLiteral("skipped-not-restorable");
        else if (!difference.parameter)
            difference.action = QStringLiteral("skipped-missing");
        else if (entry.readOnly || difference.parameter->isReadOnly())
            difference.action = QStringLiteral("skipped-read-only");
        else if (!ParameterReport::writeProblem(difference.parameter, uint(difference.wanted)).isEmpty())
            difference.action = QStringLiteral("skipped-out-of-range");
        else
            difference.action = dryRun ? QStringLiteral("would-write") : QStringLiteral("write");
        differences.append(difference);
    }
    return differences;
}

// Writes the differences marked "write", each read back; marks them written
// or failed and returns the failures. Call in a task.
QStringList writeDifferences(QList<Difference>& differences, const QString& device, FunctionTask& task)
{
    QStringList failures;
    for (Difference& difference : differences) {
        if (difference.action != QLatin1String("write") || task.isAborted())
            continue;
        const auto value = uint(difference.wanted);
        const ParameterAccess::WriteOutcome outcome = ParameterAccess::write(difference.parameter, value, true);
        const CommandResult one = ParameterAccess::writeResult(difference.parameter, value, outcome, device);
        difference.action = one.failed() ? QStringLiteral("failed") : QStringLiteral("written");
        if (one.failed())
            failures.append(one.error);
    }
    return failures;
}

CommandResult restoreResult(const CliCommand& command, const QString& device, const QList<Difference>& differences,
                            const QStringList& failures)
{
    QJsonArray list;
    int written = 0;
    for (const Difference& difference : differences) {
        QJsonObject entry;
        entry.insert(QStringLiteral("number"), qint64(difference.number));
        entry.insert(QStringLiteral("name"), difference.name);
        entry.insert(QStringLiteral("device"), ParameterReport::jsonValue(difference.current));
        entry.insert(QStringLiteral("snapshot"), difference.wanted);
        entry.insert(QStringLiteral("action"), difference.action);
        list.append(entry);
        written += difference.action == QLatin1String("written") ? 1 : 0;
    }
    CommandResult result;
    result.data.insert(QStringLiteral("device"), device);
    result.data.insert(QStringLiteral("file"), command.file);
    result.data.insert(QStringLiteral("dryRun"), command.dryRun);
    result.data.insert(QStringLiteral("differences"), list);
    result.data.insert(QStringLiteral("written"), written);
    result.data.insert(QStringLiteral("failed"), int(failures.size()));
    result.text = command.dryRun ? QStringLiteral("Dry run: nothing was written.\n")
                                 : QStringLiteral("\n%1 parameters written.\n").arg(written);
    if (!failures.isEmpty()) {
        result.exitCode = ExitBusFailure;
        result.error = failures.join(QLatin1Char('\n'));
    }
    return result;
}

} // namespace

bool SnapshotCommands::belongsInSnapshot(Kind type, uint number)
{
    if (type == Kind::Dmx)
        return number != DriverLidParameter;
    return std::find(std::begin(DaliExcluded), std::end(DaliExcluded), number) == std::end(DaliExcluded);
}

std::optional<CommandResult> SnapshotCommands::load(const CliCommand& command, Snapshot& snapshot)
{
    QString error;
    if (!Snapshot::readFile(command.file, snapshot, &error))
        return CommandResult::failure(ExitUsage, QStringLiteral("FILE %1").arg(error));
    return std::nullopt;
}

CommandResult SnapshotCommands::save(CliSession& session, const CliCommand& command)
{
    Snapshot snapshot;
    snapshot.type = command.snapshotKind;
    snapshot.target = command.target;
    snapshot.lid = command.lid;
    snapshot.skip = command.skip;

    SnapshotDevice device;
    if (std::optional<CommandResult> failure =
            resolve(session, snapshot.type, command.target, command.lid, command.skip, device))
        return *failure;
    QList<general::Parameter*> parameters;
    for (general::Parameter* parameter : device.parameters)
        if (belongsInSnapshot(snapshot.type, parameter->number()))
            parameters.append(parameter);

    const int answered = readAll(session, parameters);
    if (session.isInterrupted())
        return CommandResult();
    if (answered == 0)
        return CommandResult::failure(ExitBusFailure, QStringLiteral("%1 answered no parameter read").arg(device.text));

    for (const general::Parameter* parameter : parameters) {
        Snapshot::Entry entry;
        entry.number = parameter->number();
        entry.name = parameter->name();
        if (parameter->value() >= 0)
            entry.value = parameter->value();
        entry.readOnly = parameter->isReadOnly();
        snapshot.parameters.append(entry);
    }
    if (snapshot.type == Kind::Dmx) {
        snapshot.hardwareType = valueOf(parameters, HardwareTypeParameter);
        snapshot.hardwareVersion = valueOf(parameters, HardwareVersionParameter);
        snapshot.guid = device.guid;
    } else {
        snapshot.deviceType = valueOf(parameters, DaliDeviceTypeParameter);
    }

    CommandResult result;
    result.data = snapshot.toJson();
    result.dataIsDocument = true;
    if (answered < parameters.size())
        result.warnings.append(QStringLiteral("%1 of %2 parameters of %3 could not be read (null in the snapshot)")
                                   .arg(parameters.size() - answered)
                                   .arg(parameters.size())
                                   .arg(device.text));
    return result;
}

CommandResult SnapshotCommands::restore(CliSession& session, const CliCommand& command, const Snapshot& snapshot)
{
    SnapshotDevice device;
    if (std::optional<CommandResult> failure =
            resolve(session, snapshot.type, snapshot.target, snapshot.lid, snapshot.skip, device))
        return *failure;

    // The parameters of the file, and the identity parameter, as the device has them now.
    QList<general::Parameter*> present;
    const uint identityNumber = snapshot.type == Kind::Dmx ? HardwareTypeParameter : DaliDeviceTypeParameter;
    if (general::Parameter* identity = find(device.parameters, identityNumber))
        present.append(identity);
    for (const Snapshot::Entry& entry : snapshot.parameters)
        if (general::Parameter* parameter = find(device.parameters, entry.number); parameter && !present.contains(parameter))
            present.append(parameter);
    readAll(session, present);
    if (session.isInterrupted())
        return CommandResult();

    const QString mismatch = identityProblem(snapshot, present);
    if (!mismatch.isEmpty())
        return CommandResult::failure(ExitBusFailure, QStringLiteral("%1: refused, nothing was written").arg(mismatch));

    QList<Difference> differences = compare(snapshot, present, command.dryRun);
    if (!session.options().json) {
        session.output().write(differences.isEmpty()
                                   ? QStringLiteral("%1 matches the snapshot.\n").arg(device.text)
                                   : QStringLiteral("Differences between %1 and the snapshot:\n\n").arg(device.text)
                                         + CliOutput::table(DifferenceHeader, differenceRows(differences)));
    }
    QStringList failures;
    if (!command.dryRun)
        session.run(QStringLiteral("Restore parameters"),
                    [&](FunctionTask& task) { failures = writeDifferences(differences, device.text, task); });
    return restoreResult(command, device.text, differences, failures);
}

} // namespace halvorn::cli
