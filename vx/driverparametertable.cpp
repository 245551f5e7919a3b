#include "vx/driverparametertable.h"

#include <array>

namespace halvorn::vx {

namespace {

using Record = DriverParameterTable::Record;

struct Entry {
    int index;
    std::string_view name;
    std::string_view description;
    int numberByte = -1; // −1: the index
};

// Parameters the drivers describe, in ascending order of number.
constexpr Entry kEntries[] = {
    {1, "Show index", "Lets you select the built-in show that the driver plays when no set points arrive."},
    {2, "Network start address", "Lets you set the device's DMX/Chorus network start address."},
    {3, "Network input time-out to show",
     "This parameter allows you to set the time-out for external control input over the network in 0.25 second intervals."},
    {4, "Network resolution 8 bits (1) or 16 bits (0)",
     "Use this parameter to set the network resolution: <br><br><i>0 : 16 bit</i><br><i>1 : 8 bit</i>"},
    {5, "Show running or stopped",
     "Use this parameter to pause or resume the selected show: <br><br><i>0 : Show running</i><br><i>1 : Show stopped</i>"},
    {6, "Switch: mode", "Lets you set what the driver does when its switch input is operated."},
    {7, "CH_CMD_7_NAME", ""},
    {8, "Switch: alternative show", "Lets you select the show that the switch input starts instead of the selected show."},
    {9, "Master dimmer value", "Lets you set the master dimmer level, which scales every output of the driver."},
    {10, "Startup R value", "Lets you set the level of light output group R after power-up, until set points arrive."},
    {11, "Startup G value", "Lets you set the level of light output group G after power-up, until set points arrive."},
    {12, "Startup B value", "Lets you set the level of light output group B after power-up, until set points arrive."},
    {13, "Startup W value", "Lets you set the level of light output group W after power-up, until set points arrive."},
    {18, "Chorus output compatibility mode", ""},
    {19, "Show time divider", "Show time divider"},
    {20, "Default show parameter 0: prescaling light output group R for show 1 - 5",
     "Adjusts the output level of light output group R for the built-in default shows. It has no effect on show sequences that you create yourself."},
    {21, "Default show parameter 1: prescaling light output group G for show 1 - 5",
     "Adjusts the output level of light output group G for the built-in default shows. It has no effect on show sequences that you create yourself."},
    {22, "Default show parameter 2: prescaling light output group B for show 1 - 5",
     "Adjusts the output level of light output group B for the built-in default shows. It has no effect on show sequences that you create yourself."},
    {23, "Default show parameter 3: prescaling light output group W for show 1 - 5",
     "Adjusts the output level of light output group W for the built-in default shows. It has no effect on show sequences that you create yourself."},
    {24, "Show time", "Lets you set how long each step of a show lasts."},
    {25, "Show time multiplier", "Lets you set the factor by which the show time is multiplied, for slow shows."},
    {26, "Default show parameter 6: prescaling light output group RGBW for show 6 - 9",
     "Adjusts the output level of all colours for the built-in default shows. It has no effect on show sequences that you create yourself."},
    {27, "Show param 7: Reserved for future use.", ""},
    {51, "Show speed", ""},
    {52, "Group count", "Lets you set the number of light output groups, and so the number of network channels, that the driver uses."},
    {53, "Dimming curve",
     "Lets you set the output dimming curve for the driver: <br><br><i>0 : Linear</i><br><i>1 : Use the 'Gamma correction' parameter</i>"},
    {54, "Daisy-chain cluster mode 2: slave count", "Daisy-chain cluster mode 2: slave count"},
    {55, "Interpolation",
     "Lets you set the interpolation between setpoints, higher values means slower fades between individual setpoints: <br><br><i>0 : Off</i><br><i>1 : Video</i><br><i>9 : Colour dynamic</i><br><i>12 : White static</i><br><i>15 : Glow</i>"},
    {56, "Minimum dimming level", "Minimum dimming level"},
    {57, "DMX termination", "DMX termination"},
    {58, "Show generator broadcast", "Show generator broadcast"},
    {59, "Daisy-chain mode",
     "Lets you set a daisy-chain addressing mode for the driver: <br><br><i>0 : Auto-addressing</i><br><i>1 : Forwarding</i><br><i>2 : Cluster</i><br><i>3 : Manual</i>"},
    {60, "Group R scaling", "Lets you scale the output level of light output group R."},
    {61, "Group G scaling", "Lets you scale the output level of light output group G."},
    {62, "Group B scaling", "Lets you scale the output level of light output group B."},
    {63, "Group W scaling", "Lets you scale the output level of light output group W."},
    {68, "Gamma correction",
     "Lets you set the gamma correction for the driver if 'Dimming curve' is set to 1. If gamma correction parameter is not available the default is logarithmic:  <br><br><i>0 : Logarithmic</i><br><i>1 : Square</i>"},
    {74, "Cell count", "Contains the number of attached cells"},
    {80, "Group R channel mapping", "Lets you set which of the driver's network channels drives light output group R."},
    {81, "Group G channel mapping", "Lets you set which of the driver's network channels drives light output group G."},
    {82, "Group B channel mapping", "Lets you set which of the driver's network channels drives light output group B."},
    {83, "Group W channel mapping", "Lets you set which of the driver's network channels drives light output group W."},
    {100, "Thermal throttling tuning constant", ""},
    {101, "Supply voltage request", ""},
    {110, "Loss correction R", ""},
    {111, "Loss correction G", ""},
    {112, "Loss correction B", ""},
    {113, "Loss correction W", ""},
    {130, "CSCALIB0", ""},
    {131, "CSCALIB1", "", 130},
    {132, "CSCALIB2", "", 130},
    {133, "CSCALIB3", "", 130},
    {150, "Hardware type", "Hardware type"},
    {151, "Hardware version", "Hardware version"},
    {152, "Number of LED groups", "Number of LED groups"},
    {153, "Max duty-cycle group reduction", "Max duty-cycle group reduction"},
    {155, "Temperature sensor multiplier", "Temperature sensor multiplier"},
    {156, "Temperature sensor signed offset, sign & exponent multiplier",
     "Temperature sensor signed offset, sign & exponent multiplier"},
    {157, "Thermal throttling: temperature",
     "Lets you set the temperature above which the driver reduces its output to protect itself."},
    {159, "Minimum voltage power supply", "Minimum voltage power supply"},
    {160, "End of line tester status", "End of line tester status"},
    {161, "Device Local ID", "Device Local ID"},
    {162, "Analog input multiplier", "Analog input multiplier"},
    {163, "Analog input offset", "Analog input offset"},
    {167, "Power scaling",
     "Lets you set the power scaling value for the driver. This factor determines the percentage of the total power that is distributed amongst all channels."},
    {170, "Current setting output 1", "Lets you set the current for output 1 in multiples of 10 mA"},
    {171, "Current setting output 2", "Lets you set the current for output 2 in multiples of 10 mA"},
    {172, "Current setting output 3", "Lets you set the current for output 3 in multiples of 10 mA"},
    {173, "Current setting output 4", "Lets you set the current for output 4 in multiples of 10 mA"},
    {230, "UI status parameter", "UI status parameter"},
};

constexpr bool entriesAreValid()
{
    int previous = -1;
    for (const Entry& entry : kEntries) {
        if (entry.index <= previous || entry.index >= DriverParameterTable::RecordCount)
            return false;
        if (entry.name.empty() || entry.name.size() >= size_t(DriverParameterTable::NameCapacity))
            return false;
        if (entry.description.size() >= size_t(DriverParameterTable::DescriptionCapacity))
            return false;
        previous = entry.index;
    }
    return true;
}
static_assert(entriesAreValid(), "driver parameter entries out of order, out of range or too long");
static_assert(std::size(kEntries) == 70);

constexpr std::array<Record, DriverParameterTable::RecordCount> makeRecords()
{
    std::array<Record, DriverParameterTable::RecordCount> records{};
    for (int i = 0; i < DriverParameterTable::RecordCount; ++i)
        records[size_t(i)].number = quint8(i);
    for (const Entry& entry : kEntries) {
        Record& record = records[size_t(entry.index)];
        record.name = entry.name;
        record.description = entry.description;
        if (entry.numberByte >= 0)
            record.number = quint8(entry.numberByte);
    }
    return records;
}

constexpr std::array<Record, DriverParameterTable::RecordCount> kRecords = makeRecords();

constexpr int countDescribed()
{
    int count = 0;
    for (const Record& record : kRecords)
        count += record.description.empty() ? 0 : 1;
    return count;
}
static_assert(countDescribed() == 56);

const QString kUnknown = QStringLiteral("Unknown parameter");

QString toQString(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

} // namespace

const DriverParameterTable::Record* DriverParameterTable::record(uint number)
{
    return number < uint(RecordCount) ? &kRecords[number] : nullptr;
}

QString DriverParameterTable::name(uint number)
{
    const Record* entry = record(number);
    return entry && !entry->name.empty() ? toQString(entry->name) : kUnknown;
}

QString DriverParameterTable::description(uint number)
{
    const Record* entry = record(number);
    return entry && !entry->name.empty() ? toQString(entry->description) : kUnknown;
}

int DriverParameterTable::namedRecordCount()
{
    return int(std::size(kEntries));
}

int DriverParameterTable::describedRecordCount()
{
    return countDescribed();
}

} // namespace halvorn::vx
