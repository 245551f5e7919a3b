#pragma once

#include <QtGlobal>

namespace halvorn::km {

// Conversions and parameter numbers behind the Keymark configuration form.
//
// Dimming curves: 0 is linear (0.1 % at DALI level 1 to 100 % at 254 in
// equal steps), any other value logarithmic (three decades from 0.1 % to
// 100 %, the DALI standard curve).

// The DALI arc level 1..254 for a percentage: rounded half away from zero,
// clamped to 1..254 (a percentage that is not a number gives 1). Writes a
// debug line.
int PercToDALI(double percent, int curve);
// The percentage 0.1..100 of a DALI level (clamped to that range). Writes a
// debug line.
double DALIToPerc(int level, int curve);

// Numbers of the parameters of device 0 of a Keymark network that the form
// uses (the DALI parameter number map).
namespace KeymarkParameter {
constexpr uint MinLevel = 3;          // DALI arc level 1..254
constexpr uint DimmingCurve = 39;     // 1 linear, 0 logarithmic
constexpr uint NtcTemperature = 0x1030;
constexpr uint AmpwiseCount = 0x107F;
constexpr int CurrentSourceCount = 4;
} // namespace KeymarkParameter

// Output current of source k (0..3) in mA: ((k ÷ 2 + 16) × 256 + k mod 2) × 2,
// i.e. 0x2000, 0x2002, 0x2200, 0x2202. 0 for any other k.
uint currentSourceParameter(int sourceIndex);
// Status word of Ampwise chip i (0, 1, …): 0x1084 + 0x20 × i. 0 for i < 0.
uint ampwiseStatusParameter(int chipIndex);

} // namespace halvorn::km
