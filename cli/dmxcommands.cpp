#include "cli/dmxcommands.h"

#include "cli/clioutput.h"
#include "cli/clisession.h"
#include "cli/donglecommands.h"
#include "cli/numbers.h"
#include "cli/parameteraccess.h"
#include "cli/parameterreport.h"
#include "dmx/dmxsetpoint.h"
#include "general/parametergroup.h"
#include "general/searchparametertask.h"
#include "usb/usbdongle.h"
#include "vx/chdaisysearch.h"
#include "vx/rdmbinsearch.h"
#include "vx/vxdevice.h"
#include "vx/vxnetwork.h"
#include "vx/vxparameter.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QPointer>
#include <QThread>

#include <algorithm>
#include <cmath>

namespace halvorn::cli {

namespace {

using vx::VxDevice;
using vx::VxNetwork;
using vx::VxParameter;

QString uidText(quint64 uid)
{
    return QStringLiteral("%1:%2")
        .arg((uid >> 32) & 0xFFFF, 4, 16, QLatin1Char('0'))
        .arg(uid & 0xFFFFFFFF, 8, 16, QLatin1Char('0'));
}

QList<VxDevice*> discoveredDrivers(const VxNetwork* network)
{
    QList<VxDevice*> drivers;
    for (int i = 0; i < network->deviceCount(); ++i) {
        auto* device = qobject_cast<VxDevice*>(network->deviceAt(i));
        if (device && device->isDiscovered())
            drivers.append(device);
    }
    std::sort(drivers.begin(), drivers.end(), [](VxDevice* a, VxDevice* b) { return a->address() < b->address(); });
    return drivers;
}

QJsonObject driverJson(int lid, int skip)
{
    QJsonObject object;
    object.insert(QStringLiteral("lid"), lid);
    object.insert(QStringLiteral("skip"), skip);
    return object;
}

CommandResult noDriver(int lid, int skip)
{
    return CommandResult::failure(ExitBusFailure,
                                  QStringLiteral("no driver answers as %1").arg(DmxCommands::deviceText(lid, skip)));
}

CommandResult noParameter(int lid, int skip, uint number)
{
    return CommandResult::failure(ExitBusFailure, QStringLiteral("the %1 has no parameter %2")
                                                      .arg(DmxCommands::deviceText(lid, skip))
                                                      .arg(number));
}

VxParameter* findParameter(const QList<VxParameter*>& parameters, uint number)
{
    for (VxParameter* parameter : parameters)
        if (parameter->number() == number)
            return parameter;
    return nullptr;
}

} // namespace

std::optional<CommandResult> DmxCommands::checkChorus(CliSession& session)
{
    if (!session.vxNetwork())
        return CommandResult::failure(ExitBusFailure, QStringLiteral("the Portline has no DMX network"));
    if (!DongleCommands::hasCapability(session.dongle(), usb::USBDongle::ChorusCapabilityBit))
        return CommandResult::failure(ExitBusFailure,
                                      QStringLiteral("the Portline (index %1) does not support command/reply traffic "
                                                     "on the DMX line")
                                          .arg(session.dongleIndex()));
    return std::nullopt;
}

QString DmxCommands::deviceText(int lid, int skip)
{
    return skip == 0 ? QStringLiteral("driver LID %1").arg(lid) : QStringLiteral("driver LID %1 skip %2").arg(lid).arg(skip);
}

VxDevice* DmxCommands::device(VxNetwork* network, int lid, int skip)
{
    if (lid == 0 && skip == 0 && network->broadcastDevice())
        return network->broadcastDevice();
    for (int i = 0; i < network->deviceCount(); ++i) {
        auto* candidate = qobject_cast<VxDevice*>(network->deviceAt(i));
        if (candidate && candidate->address() == uint(lid) && candidate->skipCount() == skip)
            return candidate;
    }
    VxDevice* created = network->makeDevice(uint(lid), skip == 0 ? QStringLiteral("Driver %1").arg(lid)
                                                                 : QStringLiteral("Driver %1 skip %2").arg(lid).arg(skip));
    created->setSkipCount(quint16(skip));
    network->attachDevice(created);
    return created;
}

QList<VxParameter*> DmxCommands::searchParameters(CliSession& session, VxDevice** found, int lid, int skip)
{
    VxNetwork* network = session.vxNetwork();
    QPointer<VxDevice> driver;
    session.run(QStringLiteral("Find driver"), [&](FunctionTask&) { driver = device(network, lid, skip); });
    if (found)
        *found = driver.data();
    if (!driver || session.isInterrupted())
        return {};

    general::SearchParameterTask search(QStringLiteral("Search parameters \"%1\"").arg(driver->name()), driver.data());
    session.runTask(&search);

    QList<VxParameter*> parameters;
    session.run(QStringLiteral("Collect parameters"), [&](FunctionTask&) {
        if (!driver)
            return;
        // The search announces each parameter with a queued signal into the
        // device's thread: once a call queued behind them has run there,
        // every parameter is in the device.
        QMetaObject::invokeMethod(driver.data(), [] {}, Qt::BlockingQueuedConnection);
        for (general::Parameter* parameter : ParameterReport::parameters(driver->velaGroup()))
            if (auto* driverParameter = qobject_cast<VxParameter*>(parameter))
                parameters.append(driverParameter);
    });
    std::sort(parameters.begin(), parameters.end(),
              [](VxParameter* a, VxParameter* b) { return a->number() < b->number(); });
    return parameters;
}

CommandResult DmxCommands::discover(CliSession& session)
{
    if (std::optional<CommandResult> unsupported = checkChorus(session))
        return *unsupported;
    VxNetwork* network = session.vxNetwork();
    vx::RDMBinSearch* search = network->rdmSearch();
    if (!search)
        return CommandResult::failure(ExitBusFailure, QStringLiteral("the DMX network has no RDM discovery"));

    int found = 0;
    const QMetaObject::Connection tracking =
        QObject::connect(network, &general::Network::deviceFound, &session, [&](general::Device*) {
            session.output().progress(QStringLiteral("%1: %2 drivers found").arg(search->name()).arg(++found));
        });
    session.runTask(search);
    QObject::disconnect(tracking);

    CommandResult result;
    QJsonArray list;
    QList<QStringList> rows;
    for (const VxDevice* driver : discoveredDrivers(network)) {
        QJsonObject entry;
        entry.insert(QStringLiteral("uid"), uidText(driver->uid()));
        entry.insert(QStringLiteral("name"), driver->name());
        entry.insert(QStringLiteral("lid"), int(driver->address()));
        list.append(entry);
        rows.append({uidText(driver->uid()), driver->name(), QString::number(driver->address())});
    }
    result.data.insert(QStringLiteral("drivers"), list);
    result.text = rows.isEmpty() ? QStringLiteral("No driver answered.\n")
                                 : CliOutput::table({QStringLiteral("UID"), QStringLiteral("Name"), QStringLiteral("LID")}, rows);
    return result;
}

CommandResult DmxCommands::daisy(CliSession& session, const CliCommand& command)
{
    if (std::optional<CommandResult> unsupported = checkChorus(session))
        return *unsupported;
    VxNetwork* network = session.vxNetwork();
    QPointer<VxDevice> head;
    quint32 headGuid = 0;
    bool headAnswers = false;
    session.run(QStringLiteral("Find driver"), [&](FunctionTask&) {
        head = device(network, command.lid, 0);
        headAnswers = network->readGuid(0, quint16(command.lid), headGuid) == VxNetwork::StatusAnswer;
    });
    if (session.isInterrupted() || !head)
        return CommandResult();
    if (!headAnswers)
        return noDriver(command.lid, 0);

    vx::CHDaisySearch search(QStringLiteral("Search daisy"), head.data(), false);
    session.runTask(&search);
    // Each cell queued a parameter search and an update, which this
    // command does not need.
    session.discardQueuedTasks();

    struct Cell
    {
        int skip = 0;
        QString name;
        std::optional<quint32> guid;
    };
    QList<Cell> cells;
    for (dmx::DMXDevice* next = head ? head->outputDevice() : nullptr; next; next = next->outputDevice()) {
        auto* cell = qobject_cast<VxDevice*>(next);
        if (!cell || cell->skipCount() == 0 || cells.size() > vx::CHDaisySearch::MaxCells)
            break;
        cells.append({cell->skipCount(), cell->name(), std::nullopt});
    }
    session.run(QStringLiteral("Read cell identities"), [&](FunctionTask& task) {
        for (Cell& cell : cells) {
            quint32 guid = 0;
            if (task.isAborted())
                break;
            if (network->readGuid(quint16(cell.skip), quint16(command.lid), guid) == VxNetwork::StatusAnswer)
                cell.guid = guid;
        }
    });

    CommandResult result;
    result.data.insert(QStringLiteral("lid"), command.lid);
    result.data.insert(QStringLiteral("guid"), hexText(headGuid, 8));
    QJsonArray list;
    QList<QStringList> rows;
    for (const Cell& cell : cells) {
        QJsonObject entry;
        entry.insert(QStringLiteral("skip"), cell.skip);
        entry.insert(QStringLiteral("name"), cell.name);
        entry.insert(QStringLiteral("guid"), cell.guid ? QJsonValue(hexText(*cell.guid, 8)) : QJsonValue(QJsonValue::Null));
        list.append(entry);
        rows.append({QString::number(cell.skip), cell.name, cell.guid ? hexText(*cell.guid, 8) : QStringLiteral("-")});
    }
    result.data.insert(QStringLiteral("cells"), list);
    result.text = QStringLiteral("Driver LID %1 (GUID %2): %3 drivers behind it.\n")
                      .arg(command.lid)
                      .arg(hexText(headGuid, 8))
                      .arg(cells.size());
    if (!rows.isEmpty())
        result.text += QLatin1Char('\n')
                       + CliOutput::table({QStringLiteral("Skip"), QStringLiteral("Name"), QStringLiteral("GUID")}, rows);
    return result;
}

CommandResult DmxCommands::params(CliSession& session, const CliCommand& command)
{
    if (std::optional<CommandResult> unsupported = checkChorus(session))
        return *unsupported;
    const QList<VxParameter*> parameters = searchParameters(session, nullptr, command.lid, command.skip);
    if (session.isInterrupted())
        return CommandResult();
    if (parameters.isEmpty())
        return noDriver(command.lid, command.skip);

    int failed = 0;
    session.run(QStringLiteral("Read driver parameters"), [&](FunctionTask& task) {
        for (int i = 0; i < parameters.size() && !task.isAborted(); ++i) {
            task.reportProgress(i + 1, int(parameters.size()));
            if (!ParameterAccess::read(parameters[i]))
                ++failed;
        }
    });

    CommandResult result;
    result.data.insert(QStringLiteral("driver"), driverJson(command.lid, command.skip));
    QJsonArray list;
    QList<QStringList> rows;
    for (const VxParameter* parameter : parameters) {
        list.append(ParameterReport::json(parameter));
        rows.append(ParameterReport::row(parameter));
    }
    result.data.insert(QStringLiteral("parameters"), list);
    result.text = CliOutput::table(ParameterReport::header(), rows);
    if (failed > 0)
        result.warnings.append(QStringLiteral("%1 parameters could not be read").arg(failed));
    return result;
}

std::optional<CommandResult> DmxCommands::namedParameter(CliSession& session, const CliCommand& command,
                                                         VxParameter*& parameter)
{
    if (std::optional<CommandResult> unsupported = checkChorus(session))
        return unsupported;
    const QList<VxParameter*> parameters = searchParameters(session, nullptr, command.lid, command.skip);
    if (session.isInterrupted())
        return CommandResult();
    if (parameters.isEmpty())
        return noDriver(command.lid, command.skip);
    parameter = findParameter(parameters, command.number);
    if (!parameter)
        return noParameter(command.lid, command.skip, command.number);
    return std::nullopt;
}

CommandResult DmxCommands::get(CliSession& session, const CliCommand& command)
{
    VxParameter* parameter = nullptr;
    if (std::optional<CommandResult> ended = namedParameter(session, command, parameter))
        return *ended;

    bool ok = false;
    session.run(QStringLiteral("Read driver parameter"), [&](FunctionTask&) { ok = ParameterAccess::read(parameter); });
    CommandResult result = ParameterAccess::readResult(parameter, ok, deviceText(command.lid, command.skip));
    result.data.insert(QStringLiteral("driver"), driverJson(command.lid, command.skip));
    return result;
}

CommandResult DmxCommands::set(CliSession& session, const CliCommand& command)
{
    VxParameter* parameter = nullptr;
    if (std::optional<CommandResult> ended = namedParameter(session, command, parameter))
        return *ended;
    const QString problem = ParameterReport::writeProblem(parameter, command.value);
    if (!problem.isEmpty())
        return CommandResult::failure(ExitUsage, problem);

    ParameterAccess::WriteOutcome outcome;
    session.run(QStringLiteral("Write driver parameter"),
                [&](FunctionTask&) { outcome = ParameterAccess::write(parameter, command.value, true); });
    CommandResult result =
        ParameterAccess::writeResult(parameter, command.value, outcome, deviceText(command.lid, command.skip));
    result.data.insert(QStringLiteral("driver"), driverJson(command.lid, command.skip));
    return result;
}

CommandResult DmxCommands::send(CliSession& session, const CliCommand& command)
{
    VxNetwork* network = session.vxNetwork();
    if (!network)
        return CommandResult::failure(ExitBusFailure, QStringLiteral("the Portline has no DMX network"));
    if (!session.dongle()->isDMXSupported())
        return CommandResult::failure(
            ExitBusFailure, QStringLiteral("the Portline (index %1) does not support DMX").arg(session.dongleIndex()));

    const int intervalMs = std::max(network->dmxTimerInterval(), 1);
    const int frames = command.seconds ? std::max(1, int(std::ceil(*command.seconds * 1000.0 / intervalMs)))
                                       : command.frames;
    int sent = 0;
    session.run(QStringLiteral("Send DMX set points"), [&](FunctionTask& task) {
        dmx::DMXSetpoint* universe = network->getSetpoint(0);
        if (!universe)
            return;
        for (const auto& [address, value] : command.setpoints)
            universe->setByte(quint16(address), quint8(value));
        // One frame per frame period, as the output thread would send them.
        QDeadlineTimer next(0);
        while (sent < frames && !task.isAborted()) {
            QThread::msleep(quint64(std::max<qint64>(next.remainingTime(), 0)));
            next.setRemainingTime(intervalMs, Qt::PreciseTimer);
            network->DMX_sendSetpoint();
            task.reportProgress(++sent, frames);
        }
    });

    CommandResult result;
    QJsonArray setpoints;
    for (const auto& [address, value] : command.setpoints) {
        QJsonObject entry;
        entry.insert(QStringLiteral("address"), address);
        entry.insert(QStringLiteral("value"), value);
        setpoints.append(entry);
    }
    result.data.insert(QStringLiteral("setpoints"), setpoints);
    result.data.insert(QStringLiteral("frames"), sent);
    result.data.insert(QStringLiteral("intervalMs"), intervalMs);
    result.text = QStringLiteral("%1 DMX frames sent, one every %2 ms.\n").arg(sent).arg(intervalMs);
    return result;
}

} // namespace halvorn::cli
