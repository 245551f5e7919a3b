#include "cli/numbers.h"

#include <QRegularExpression>

namespace halvorn::cli {

std::optional<qint64> parseInteger(const QString& text, qint64 min, qint64 max)
{
    static const QRegularExpression decimal(QStringLiteral("^[0-9]{1,12}$"));
    static const QRegularExpression hexadecimal(QStringLiteral("^0[xX][0-9a-fA-F]{1,10}$"));
    bool ok = false;
    qint64 value = 0;
    if (decimal.match(text).hasMatch())
        value = text.toLongLong(&ok, 10);
    else if (hexadecimal.match(text).hasMatch())
        value = text.mid(2).toLongLong(&ok, 16);
    if (!ok || value < min || value > max)
        return std::nullopt;
    return value;
}

std::optional<double> parseFraction(const QString& text, double min, double max)
{
    static const QRegularExpression fraction(QStringLiteral("^([0-9]{1,9}(\\.[0-9]{0,9})?|\\.[0-9]{1,9})$"));
    if (!fraction.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || value < min || value > max)
        return std::nullopt;
    return value;
}

QString hexText(qint64 value, int digits)
{
    return QStringLiteral("0x") + QString::number(value, 16).toUpper().rightJustified(digits, QLatin1Char('0'));
}

} // namespace halvorn::cli
