#include "cli/parameteraccess.h"

#include "cli/parameterreport.h"
#include "general/parameter.h"

#include <QJsonValue>

namespace halvorn::cli {

bool ParameterAccess::read(general::Parameter* parameter)
{
    return parameter && parameter->update(true);
}

ParameterAccess::WriteOutcome ParameterAccess::write(general::Parameter* parameter, uint value, bool readBack)
{
    WriteOutcome outcome;
    if (!parameter)
        return outcome;
    parameter->setValue(int(value), true);
    outcome.written = parameter->readState() != general::Parameter::WriteFailed;
    if (outcome.written && readBack) {
        outcome.readBackAttempted = true;
        if (parameter->update(true))
            outcome.readBack = parameter->value();
    }
    return outcome;
}

int ParameterAccess::expectedValue(const general::Parameter* parameter, uint value)
{
    if (parameter->type() == general::Parameter::BooleanType)
        return value != 0 ? 1 : 0;
    return int(value & parameter->mask());
}

CommandResult ParameterAccess::readResult(const general::Parameter* parameter, bool ok, const QString& device)
{
    const QString label = QStringLiteral("%1 (%2)").arg(parameter->name(), ParameterReport::numberText(parameter->number()));
    if (!ok)
        return CommandResult::failure(ExitBusFailure, QStringLiteral("%1: no answer reading %2").arg(device, label));
    CommandResult result;
    result.data.insert(QStringLiteral("parameter"), ParameterReport::json(parameter));
    result.text = QStringLiteral("%1 of %2: %3\n").arg(label, device, ParameterReport::valueText(parameter->value()));
    return result;
}

CommandResult ParameterAccess::writeResult(const general::Parameter* parameter, uint value,
                                           const WriteOutcome& outcome, const QString& device)
{
    const QString label = QStringLiteral("%1 (%2)").arg(parameter->name(), ParameterReport::numberText(parameter->number()));
    CommandResult result;
    result.data.insert(QStringLiteral("parameter"), ParameterReport::json(parameter));
    result.data.insert(QStringLiteral("written"), qint64(value));
    result.data.insert(QStringLiteral("readBack"),
                       outcome.readBack ? QJsonValue(*outcome.readBack) : QJsonValue(QJsonValue::Null));
    const int expected = expectedValue(parameter, value);
    const bool verified = outcome.readBack && *outcome.readBack == expected;
    result.data.insert(QStringLiteral("verified"),
                       outcome.readBackAttempted ? QJsonValue(verified) : QJsonValue(QJsonValue::Null));

    if (!outcome.written) {
        result.exitCode = ExitBusFailure;
        result.error = QStringLiteral("%1: writing %2 to %3 failed").arg(device).arg(value).arg(label);
    } else if (outcome.readBackAttempted && !outcome.readBack) {
        result.exitCode = ExitBusFailure;
        result.error = QStringLiteral("%1: no answer reading %2 back after writing %3").arg(device, label).arg(value);
    } else if (outcome.readBackAttempted && !verified) {
        result.exitCode = ExitBusFailure;
        result.error = QStringLiteral("%1: %2 reads back %3 after writing %4")
                           .arg(device, label)
                           .arg(*outcome.readBack)
                           .arg(value);
    }
    if (outcome.readBack)
        result.text = QStringLiteral("%1 of %2: wrote %3, reads back %4\n").arg(label, device).arg(value).arg(*outcome.readBack);
    else
        result.text = QStringLiteral("%1 of %2: wrote %3\n").arg(label, device).arg(value);
    return result;
}

} // namespace halvorn::cli
