#include "cli/parameterreport.h"

#include "cli/numbers.h"
#include "general/parameter.h"
#include "general/treenode.h"
#include "vx/vxparameter.h"

namespace halvorn::cli::ParameterReport {

QJsonValue jsonValue(int value)
{
    return value < 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(value);
}

QString valueText(int value)
{
    return value < 0 ? QStringLiteral("-") : QString::number(value);
}

QString numberText(uint number)
{
    return number > 0xFF ? hexText(number, 4) : QString::number(number);
}

QJsonObject json(const general::Parameter* parameter)
{
    QJsonObject object;
    object.insert(QStringLiteral("number"), qint64(parameter->number()));
    object.insert(QStringLiteral("name"), parameter->name());
    object.insert(QStringLiteral("value"), jsonValue(parameter->value()));
    object.insert(QStringLiteral("readOnly"), parameter->isReadOnly());
    if (parameter->minimum() >= 0)
        object.insert(QStringLiteral("min"), parameter->minimum());
    if (parameter->maximum() >= 0)
        object.insert(QStringLiteral("max"), parameter->maximum());
    if (const auto* driverParameter = qobject_cast<const vx::VxParameter*>(parameter)) {
        object.insert(QStringLiteral("typeWord"), hexText(driverParameter->typeWord(), 4));
        object.insert(QStringLiteral("kind"), parameter->type() == general::Parameter::BooleanType
                                                  ? QStringLiteral("flag")
                                                  : QStringLiteral("value"));
    }
    return object;
}

QStringList header()
{
    return {QStringLiteral("Number"), QStringLiteral("Name"), QStringLiteral("Value"), QStringLiteral("Range"),
            QStringLiteral("Access")};
}

QStringList row(const general::Parameter* parameter)
{
    QString range;
    if (parameter->minimum() >= 0 || parameter->maximum() >= 0)
        range = QStringLiteral("%1..%2").arg(valueText(parameter->minimum()), valueText(parameter->maximum()));
    QString access = parameter->isReadOnly() ? QStringLiteral("read-only") : QStringLiteral("read/write");
    if (const auto* driverParameter = qobject_cast<const vx::VxParameter*>(parameter))
        access += QStringLiteral(" (%1)").arg(hexText(driverParameter->typeWord(), 4));
    return {numberText(parameter->number()), parameter->name(), valueText(parameter->value()), range, access};
}

QList<general::Parameter*> parameters(const general::TreeNode* root)
{
    QList<general::Parameter*> found;
    if (!root)
        return found;
    for (general::TreeNode* child : root->childNodes()) {
        if (auto* parameter = qobject_cast<general::Parameter*>(child))
            found.append(parameter);
        else
            found.append(parameters(child));
    }
    return found;
}

QString writeProblem(const general::Parameter* parameter, uint value)
{
    if (parameter->isReadOnly())
        return QStringLiteral("parameter %1 \"%2\" is read-only")
            .arg(numberText(parameter->number()), parameter->name());
    const int min = parameter->minimum();
    const int max = parameter->maximum();
    if ((min >= 0 && int(value) < min) || (max >= 0 && int(value) > max))
        return QStringLiteral("VALUE %1 is outside the range %2..%3 of parameter %4 \"%5\"")
            .arg(value)
            .arg(valueText(min), valueText(max), numberText(parameter->number()), parameter->name());
    return QString();
}

} // namespace halvorn::cli::ParameterReport
