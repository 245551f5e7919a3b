#include "cli/keymarkcommands.h"

#include "cli/clioutput.h"
#include "cli/clisession.h"
#include "cli/functiontask.h"
#include "cli/numbers.h"
#include "cli/parameteraccess.h"
#include "cli/parameterreport.h"
#include "general/parameter.h"
#include "km/keymarkdevice.h"
#include "km/keymarkmath.h"
#include "km/keymarknetwork.h"
#include "usb/usbdongle.h"

#include <QJsonArray>

namespace halvorn::cli {

namespace {

using km::KeymarkNetwork;
namespace KeymarkParameter = km::KeymarkParameter;

// Curve indices of the conversions: 0 linear, 1 logarithmic. The driver's
// parameter 39 holds 1 for linear and 0 for logarithmic.
constexpr int LinearCurveIndex = 0;
constexpr int LogarithmicCurveIndex = 1;
constexpr int AmpwiseCountAttempts = 10;
constexpr int AmpwiseStatusAttempts = 3;
// More chips than a driver can carry: a garbled count.
constexpr int MostAmpwiseChips = 32;
constexpr int SecondSourceMissingBit = 6;
constexpr int FirstSourceMissingBit = 14;

int curveIndexOf(int parameterValue)
{
    return parameterValue == 0 ? LogarithmicCurveIndex : LinearCurveIndex;
}

QString curveName(int curveIndex)
{
    return curveIndex == LinearCurveIndex ? QStringLiteral("linear") : QStringLiteral("logarithmic");
}

// Before each group of accesses the form writes 0xDF to location 28.
void openSession(KeymarkNetwork* network)
{
    network->writeMemoryBank1(uint8_t(KeymarkNetwork::BroadcastDeviceAddress), KeymarkNetwork::SessionLocation,
                              KeymarkNetwork::SessionValue, true);
}

general::Parameter* tagParameter(KeymarkNetwork* network, uint number)
{
    km::KeymarkDevice* device = network->tagDevice();
    return device ? device->findParameter(number) : nullptr;
}

// The value of a parameter read now, −1 when it is missing or does not answer.
int readValue(KeymarkNetwork* network, uint number)
{
    general::Parameter* parameter = tagParameter(network, number);
    return parameter && parameter->update(true) ? parameter->value() : -1;
}

QJsonValue optionalInt(int value)
{
    return ParameterReport::jsonValue(value);
}

// One parameter value a `keymark write` sends.
struct Change
{
    QString setting;
    uint number;
    uint value;
};

struct Applied
{
    QJsonArray written;
    QStringList lines;
    int failures = 0;
};

// The sources asked for that the driver's Ampwise chips do not provide.
QStringList missingSources(KeymarkNetwork* network, const KeymarkSettings& settings)
{
    QStringList missing;
    const KeymarkCommands::Ampwise ampwise = KeymarkCommands::checkAmpwise(network);
    for (int source = 0; source < KeymarkParameter::CurrentSourceCount; ++source)
        if (settings.currentsMa[size_t(source)] && !ampwise.available[size_t(source)])
            missing.append(QString::number(source + 1));
    return missing;
}

// The values to write, in the form's order: currents, curve, minimum level
// (converted on the new curve, or on the tag's), NTC temperature.
QList<Change> planChanges(KeymarkNetwork* network, const KeymarkSettings& settings, bool canRead)
{
    QList<Change> changes;
    for (int source = 0; source < KeymarkParameter::CurrentSourceCount; ++source)
        if (const std::optional<int> current = settings.currentsMa[size_t(source)])
            changes.append({QStringLiteral("current%1").arg(source + 1), km::currentSourceParameter(source), uint(*current)});
    int curveIndex = LogarithmicCurveIndex;
    if (settings.curve) {
        const bool linear = *settings.curve == KeymarkSettings::Curve::Linear;
        curveIndex = linear ? LinearCurveIndex : LogarithmicCurveIndex;
        changes.append({QStringLiteral("curve"), KeymarkParameter::DimmingCurve, linear ? 1u : 0u});
    } else if (settings.minLevelPercent && canRead) {
        openSession(network);
        curveIndex = curveIndexOf(readValue(network, KeymarkParameter::DimmingCurve));
    }
    if (settings.minLevelPercent)
        changes.append({QStringLiteral("minLevel"), KeymarkParameter::MinLevel,
                        uint(km::PercToDALI(*settings.minLevelPercent, curveIndex))});
    if (settings.ntcCelsius)
        changes.append({QStringLiteral("ntc"), KeymarkParameter::NtcTemperature, uint(*settings.ntcCelsius)});
    return changes;
}

// Writes the values (read back when the dongle can read). Call in a task.
Applied applyChanges(KeymarkNetwork* network, const QList<Change>& changes, bool canRead, FunctionTask& task)
{
    Applied applied;
    if (canRead)
        openSession(network);
    for (const Change& change : changes) {
        if (task.isAborted())
            break;
        general::Parameter* parameter = tagParameter(network, change.number);
        if (!parameter) {
            ++applied.failures;
            applied.lines.append(QStringLiteral("%1: no parameter %2 on the tag's device")
                                     .arg(change.setting, ParameterReport::numberText(change.number)));
            continue;
        }
        // A dongle that cannot read gets the session write before each value, as the form does.
        if (!canRead)
            openSession(network);
        const ParameterAccess::WriteOutcome outcome = ParameterAccess::write(parameter, change.value, canRead);
        const CommandResult one = ParameterAccess::writeResult(parameter, change.value, outcome, QStringLiteral("Keymark"));
        QJsonObject entry = one.data;
        entry.insert(QStringLiteral("setting"), change.setting);
        applied.written.append(entry);
        applied.failures += one.failed() ? 1 : 0;
        applied.lines.append(one.failed() ? one.error : one.text.trimmed());
    }
    return applied;
}

} // namespace

std::optional<CommandResult> KeymarkCommands::connectTag(CliSession& session, bool needsRead)
{
    KeymarkNetwork* network = session.keymarkNetwork();
    if (!network || !network->tagDevice())
        return CommandResult::failure(ExitBusFailure, QStringLiteral("the Portline has no Keymark network"));
    if (!session.dongle()->isKeymarkWriteSupported())
        return CommandResult::failure(
            ExitBusFailure, QStringLiteral("the Portline (index %1) does not support Keymark").arg(session.dongleIndex()));
    if (needsRead && !network->canReadTag())
        return CommandResult::failure(ExitBusFailure, QStringLiteral("the Portline (index %1) can only write Keymark "
                                                                     "tags, not read them")
                                                          .arg(session.dongleIndex()));
    bool present = false;
    session.run(QStringLiteral("Look for the Keymark tag"), [&](FunctionTask&) {
        // The presence poll belongs to the network's thread.
        QMetaObject::invokeMethod(network, &KeymarkNetwork::pollDevice, Qt::BlockingQueuedConnection);
        present = network->isTagConnected();
    });
    if (session.isInterrupted())
        return CommandResult();
    if (!present)
        return CommandResult::failure(ExitBusFailure, QStringLiteral("no Keymark tag in the port of the Portline "
                                                                     "(index %1)")
                                                          .arg(session.dongleIndex()));
    return std::nullopt;
}

KeymarkCommands::Ampwise KeymarkCommands::checkAmpwise(KeymarkNetwork* network)
{
    Ampwise ampwise;
    openSession(network);
    general::Parameter* countParameter = tagParameter(network, KeymarkParameter::AmpwiseCount);
    if (!countParameter || !countParameter->updateWithRetry(AmpwiseCountAttempts))
        return ampwise;
    ampwise.count = countParameter->value();
    if (ampwise.count == 1) {
        ampwise.available[2] = false;
        ampwise.available[3] = false;
    }
    for (int chip = 0; chip < std::min(ampwise.count, MostAmpwiseChips); ++chip) {
        general::Parameter* status = tagParameter(network, km::ampwiseStatusParameter(chip));
        const int word = status && status->updateWithRetry(AmpwiseStatusAttempts) ? status->value() : -1;
        ampwise.status.append(word);
        if (word < 0)
            continue;
        if ((word >> SecondSourceMissingBit) & 1)
            ampwise.available[chip == 0 ? 1 : 3] = false;
        if ((word >> FirstSourceMissingBit) & 1)
            ampwise.available[chip == 0 ? 0 : 2] = false;
    }
    return ampwise;
}

CommandResult KeymarkCommands::read(CliSession& session)
{
    if (std::optional<CommandResult> failure = connectTag(session, true))
        return *failure;
    KeymarkNetwork* network = session.keymarkNetwork();

    Ampwise ampwise;
    std::array<int, KeymarkParameter::CurrentSourceCount> currents{-1, -1, -1, -1};
    int curveValue = -1;
    int minLevel = -1;
    int ntc = -1;
    session.run(QStringLiteral("Read Keymark settings"), [&](FunctionTask& task) {
        ampwise = checkAmpwise(network);
        openSession(network);
        for (int source = 0; source < KeymarkParameter::CurrentSourceCount && !task.isAborted(); ++source)
            if (ampwise.available[size_t(source)])
                currents[size_t(source)] = readValue(network, km::currentSourceParameter(source));
        curveValue = readValue(network, KeymarkParameter::DimmingCurve);
        minLevel = readValue(network, KeymarkParameter::MinLevel);
        ntc = readValue(network, KeymarkParameter::NtcTemperature);
    });
    if (session.isInterrupted())
        return CommandResult();

    CommandResult result;
    const int curveIndex = curveIndexOf(curveValue);
    QJsonObject chips;
    chips.insert(QStringLiteral("count"), optionalInt(ampwise.count));
    QJsonArray statusWords;
    QStringList statusTexts;
    for (int word : ampwise.status) {
        statusWords.append(word < 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(hexText(word, 4)));
        statusTexts.append(word < 0 ? QStringLiteral("-") : hexText(word, 4));
    }
    chips.insert(QStringLiteral("status"), statusWords);
    result.data.insert(QStringLiteral("ampwise"), chips);

    QJsonArray sources;
    QList<QStringList> rows;
    int unread = 0;
    for (int source = 0; source < KeymarkParameter::CurrentSourceCount; ++source) {
        const bool available = ampwise.available[size_t(source)];
        const int current = currents[size_t(source)];
        unread += available && current < 0 ? 1 : 0;
        QJsonObject entry;
        entry.insert(QStringLiteral("source"), source + 1);
        entry.insert(QStringLiteral("available"), available);
        entry.insert(QStringLiteral("currentMa"), optionalInt(current));
        sources.append(entry);
        rows.append({QString::number(source + 1), available ? QStringLiteral("yes") : QStringLiteral("no"),
                     current < 0 ? QStringLiteral("-") : QStringLiteral("%1 mA").arg(current)});
    }
    result.data.insert(QStringLiteral("sources"), sources);
    result.data.insert(QStringLiteral("dimmingCurve"),
                       curveValue < 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(curveName(curveIndex)));
    QJsonObject level;
    level.insert(QStringLiteral("daliLevel"), optionalInt(minLevel));
    const double percent = minLevel < 0 ? -1.0 : km::DALIToPerc(minLevel, curveIndex);
    level.insert(QStringLiteral("percent"), minLevel < 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(percent));
    result.data.insert(QStringLiteral("minLevel"), level);
    result.data.insert(QStringLiteral("ntcCelsius"), optionalInt(ntc));
    unread += (curveValue < 0) + (minLevel < 0) + (ntc < 0);

    result.text = QStringLiteral("Ampwise chips: %1%2\n\n")
                      .arg(ParameterReport::valueText(ampwise.count),
                           statusTexts.isEmpty() ? QString()
                                                 : QStringLiteral(" (status %1)").arg(statusTexts.join(QStringLiteral(", "))))
                  + CliOutput::table({QStringLiteral("Source"), QStringLiteral("Available"), QStringLiteral("Current")}, rows)
                  + QStringLiteral("\nDimming curve: %1\nMinimum level: %2\nNTC throttling temperature: %3\n")
                        .arg(curveValue < 0 ? QStringLiteral("-") : curveName(curveIndex),
                             minLevel < 0 ? QStringLiteral("-")
                                          : QStringLiteral("%1 % (DALI level %2)").arg(percent, 0, 'f', 1).arg(minLevel),
                             ntc < 0 ? QStringLiteral("-") : QStringLiteral("%1 °C").arg(ntc));
    if (unread > 0) {
        result.exitCode = ExitBusFailure;
        result.error = QStringLiteral("%1 settings of the tag could not be read").arg(unread);
    }
    return result;
}

CommandResult KeymarkCommands::write(CliSession& session, const CliCommand& command)
{
    if (std::optional<CommandResult> failure = connectTag(session, false))
        return *failure;
    KeymarkNetwork* network = session.keymarkNetwork();
    const KeymarkSettings& settings = command.keymark;
    const bool canRead = network->canReadTag();
    if (settings.minLevelPercent && !settings.curve && !canRead)
        return CommandResult::failure(ExitUsage, QStringLiteral("--min-level needs --curve: this Portline cannot read "
                                                                "the dimming curve from the tag"));
    if (settings.ntcCelsius) {
        if (const general::Parameter* ntc = tagParameter(network, KeymarkParameter::NtcTemperature)) {
            const QString problem = ParameterReport::writeProblem(ntc, uint(*settings.ntcCelsius));
            if (!problem.isEmpty())
                return CommandResult::failure(ExitUsage, QStringLiteral("--ntc: ") + problem);
        }
    }

    QStringList missing;
    QList<Change> changes;
    Applied applied;
    session.run(QStringLiteral("Write Keymark settings"), [&](FunctionTask& task) {
        // Sources that the driver does not have are refused before anything is written.
        if (canRead)
            missing = missingSources(network, settings);
        if (!missing.isEmpty())
            return;
        changes = planChanges(network, settings, canRead);
        applied = applyChanges(network, changes, canRead, task);
    });
    if (!missing.isEmpty())
        return CommandResult::failure(ExitBusFailure, QStringLiteral("current source %1 is not available on the tag's "
                                                                     "driver; nothing was written")
                                                          .arg(missing.join(QStringLiteral(", "))));
    CommandResult result;
    result.data.insert(QStringLiteral("written"), applied.written);
    result.text = applied.lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
    if (!canRead)
        result.warnings.append(QStringLiteral("this Portline cannot read the tag: the values were sent once and "
                                              "are not confirmed"));
    if (applied.failures > 0) {
        result.exitCode = ExitBusFailure;
        result.error = QStringLiteral("%1 of %2 settings were not written as asked").arg(applied.failures).arg(changes.size());
    }
    return result;
}

} // namespace halvorn::cli
