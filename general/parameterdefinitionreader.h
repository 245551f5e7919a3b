#pragma once

#include <QString>

namespace halvorn::general {

class Parameter;
class ParameterDevice;
class ParameterGroup;
class ParameterView;

// Builds a device's parameter tree from the parameter definitions in the
// settings tree (ConfigStore). A device type names a base key path; its
// parameters are read from "<base>|Parameters" into the device itself.
//
// At every level the members are read in ascending name order. A member
// object with a "Number" becomes a parameter named after the member; one
// without becomes a sub-group of that name (created if absent); members that
// are not objects are ignored. Numbers are JSON integers or strings with
// automatic base detection ("0x1A" hexadecimal, "012" octal); a string that
// is not a number is logged ("Error parsing number") and skipped, and −1
// (all 32 bits set) is skipped silently. Optional parameter members: "Min",
// "Max", "Value", "Tooltip", "8 Bit", "Readonly", "Scale", "Offset",
// "Display mode" ("Dec", "Hex", "Bin", "Scale", "ScaleDiv"; anything else is
// decimal), "Postfix", "LUT" (name -> {"Value"}), "Bytes" (name -> {"Byte",
// "Tooltip", "Flags"}) and "Flags" (name -> {"Bit", "Tooltip"}).
//
// A parameter is built completely (look-up table, byte and bit views)
// before it is handed to the device's addParameter(); when the device
// already holds that number the new parameter is deleted. Groups nested
// more than 16 deep are logged and skipped.
class ParameterDefinitionReader
{
public:
    ParameterDefinitionReader() = delete;

    // Reads "<basePath>|Parameters" into the device.
    static void readDevice(ParameterDevice* device, const QString& basePath);
    // Reads the definitions at keyPath into `group` (the device or one of its groups).
    static void readGroup(ParameterDevice* device, ParameterGroup* group, const QString& keyPath);

private:
    static void readGroup(ParameterDevice* device, ParameterGroup* group, const QString& keyPath, int depth);
    static void readParameter(ParameterDevice* device, ParameterGroup* group, const QString& name,
                              uint number, const QString& path);
    static void readLut(Parameter* parameter, const QString& path);
    static void readBytes(Parameter* parameter, const QString& path);
    static void readFlags(ParameterView* view, int bitCount, const QString& path);
};

} // namespace halvorn::general
