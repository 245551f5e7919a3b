#include "dali/daliregisternames.h"

#include <array>
#include <cstddef>

namespace halvorn::dali {

namespace {

struct Entry
{
    uint8_t index;
    const char* name;
};

constexpr Entry bank1Entries[] = {
    {0x10, "Network input channel count"},
    {0x11, "Product ID"},
    {0x12, "Version"},
    {0x13, "DALI configuration"},
    {0x14, "Current setting"},
    {0x15, "Target Vsupply request voltage high byte"},
    {0x16, "Target Vsupply request voltage low byte"},
    {0x17, "Vsupply request dutycycle high byte"},
    {0x18, "Vsupply request dutycycle low byte"},
    {0x1B, "Current state of the VelaLogic statemachine"},
    {0x1C, "Configuration bits 1"},
    {0x1D, "Configuration bits 2"},
    {0x1F, "8 Bit debug parameter"},
    {0x20, "General 16 bit debug data buffer high byte"},
    {0x21, "General 16 bit debug data buffer low byte"},
    {0x22, "DALI Output setpoint channel 0 high byte"},
    {0x23, "DALI Output setpoint channel 0 low byte"},
    {0x24, "Retry Vsupply high byte"},
    {0x25, "Retry Vsupply low byte"},
    {0x26, "Vsupply maximum high byte"},
    {0x27, "Vsupply maximum low byte"},
    {0x28, "Vsupply margin"},
    {0x29, "Softstart fade time"},
    {0x30, "Throttling temperature"},
    {0x31, "Average heat sink constant"},
    {0x32, "Actual temperature"},
    {0x33, "Temperature scale variable high byte"},
    {0x34, "Temperature scale variable low byte"},
    {0x40, "8 bit scale value for channel 1"},
    {0x41, "8 bit scale value for channel 2"},
    {0x70, "AW Parameter number (high byte)"},
    {0x71, "AW Parameter number (low byte)"},
    {0x72, "AW Parameter value (high byte)"},
    {0x73, "AW Parameter value (low byte) "},
    {0x74, "AW Parameter status"},
    {0x7F, "Ampwise device count"},
};

constexpr Entry bridgeEntries[] = {
    {0, "Bridge status byte"},
    {1, "NTC value"},
    {2, "Bridge configuration high byte"},
    {3, "Bridge configuration low byte"},
    {4, "ReadWrite Data Register high byte"},
    {5, "ReadWrite Data Register low byte"},
    {6, "Calibration status"},
    {7, "LampHour counter highest byte"},
    {8, "LampHour counter high byte"},
    {9, "LampHour counter low byte"},
    {10, "LampMinute counter"},
    {11, "LampSecond counter"},
    {12, "Uptime after which End of Life is reached, High Byte"},
    {13, "Uptime after which End of Life is reached, Low Byte"},
    {14, "Level above which time counts as uptime"},
    {15, "Set current, high byte"},
    {16, "Set current, low byte"},
    {17, "Minimum scale level, is the starting level"},
    {18, "Temperature after which the thermal protection kicks in"},
    {19, "Time after which an extra protection step is taken"},
    {20, "First Thermal level"},
    {21, "Second Thermal level"},
    {22, "Level when occupancy is detected"},
    {23, "Level when no occupancy is detected"},
    {24, "Time to go from off to on"},
    {25, "Time to go from on to off"},
    {26, "Minimum level, override to prevent visibility of individual LEDS"},
    {27, "Target Light Output, high byte"},
    {28, "Target Light Output, low byte"},
    {29, "Readout of the current averaged light output, measured by the sensor, high byte"},
    {30, "Readout of the current averaged light output, measured by the sensor, low byte"},
};

using NameTable = std::array<const char*, 256>;

template <std::size_t N>
constexpr NameTable buildNames(const Entry (&entries)[N])
{
    NameTable table{};
    table.fill("Unknown");
    for (const Entry& entry : entries)
        table[entry.index] = entry.name;
    return table;
}

constexpr NameTable bank1Names = buildNames(bank1Entries);
constexpr NameTable bridgeNames = buildNames(bridgeEntries);

} // namespace

const char* DaliRegisterNames::bank1Register(uint8_t location)
{
    return bank1Names[location];
}

const char* DaliRegisterNames::bridgeRegister(uint8_t reg)
{
    return bridgeNames[reg];
}

} // namespace halvorn::dali
