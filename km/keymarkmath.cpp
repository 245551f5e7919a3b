#include "km/keymarkmath.h"

#include <QtDebug>

#include <algorithm>
#include <cmath>

namespace halvorn::km {

namespace {

constexpr int LinearCurve = 0;
constexpr int LowestLevel = 1;
constexpr int HighestLevel = 254;
constexpr double LowestPercent = 0.1;
constexpr double HighestPercent = 100.0;
// 253 levels over 99.9 % (linear) or over three decades (logarithmic).
constexpr double LinearLevelsPerPercent = 2.5325325325325325;
constexpr double LinearPercentPerLevel = 0.3948616600790514;
constexpr double LevelsPerDecade = 84.33333333333333;

constexpr uint CurrentParameterBase = 16;
constexpr uint AmpwiseStatusBase = 0x1084;
constexpr uint AmpwiseStatusStride = 0x20;

} // namespace

int PercToDALI(double percent, int curve)
{
    const double x = curve == LinearCurve ? (percent - LowestPercent) * LinearLevelsPerPercent + 1.0
                                          : (std::log10(percent) + 1.0) * LevelsPerDecade + 1.0;
    // Clamp before converting: log10 of 0 is −inf, of a negative number NaN.
    int level = LowestLevel;
    if (!std::isnan(x))
        level = int(std::round(std::clamp(x, double(LowestLevel), double(HighestLevel))));
    qDebug() << "PercToDALI :: Dim Curve: " << curve << "DALI level: " << level << "Perc: " << percent;
    return level;
}

double DALIToPerc(int level, int curve)
{
    double p = curve == LinearCurve ? (level - 1) * LinearPercentPerLevel + LowestPercent
                                    : std::pow(10.0, (level - 1) / LevelsPerDecade - 1.0);
    p = std::clamp(p, LowestPercent, HighestPercent);
    qDebug() << "DALIToPerc :: Dim Curve: " << curve << "DALI level: " << level << "Perc: " << p;
    return p;
}

uint currentSourceParameter(int sourceIndex)
{
    if (sourceIndex < 0 || sourceIndex >= KeymarkParameter::CurrentSourceCount)
        return 0;
    const uint k = uint(sourceIndex);
    return ((k / 2 + CurrentParameterBase) * 256 + k % 2) * 2;
}

uint ampwiseStatusParameter(int chipIndex)
{
    if (chipIndex < 0)
        return 0;
    return AmpwiseStatusBase + AmpwiseStatusStride * uint(chipIndex);
}

} // namespace halvorn::km
