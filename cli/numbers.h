#pragma once

#include <QString>

#include <optional>

namespace halvorn::cli {

// Numbers on the command line: decimal ("200", "010" is ten, never octal)
// or hexadecimal with a 0x prefix ("0x1030"). Signs, blanks, exponents and
// trailing characters are refused. Results outside [min, max] are refused.
std::optional<qint64> parseInteger(const QString& text, qint64 min, qint64 max);

// A decimal fraction such as "12.5" (no hexadecimal, no exponent, no sign).
std::optional<double> parseFraction(const QString& text, double min, double max);

// "0x1A2B" with `digits` hexadecimal digits, upper case.
QString hexText(qint64 value, int digits);

} // namespace halvorn::cli
