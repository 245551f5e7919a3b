#pragma once

#include <QString>

#include <array>
#include <cstdint>

namespace halvorn::dali {

// The four DALI command tables (IEC 62386-102 names and device types 6 and 8
// of part 207 and 209) and the classification of a forward frame.
//
// A forward frame is an address byte A and a data byte D:
//   0AAAAAAS          short address A >> 1
//   100GGGGS          group (A & 0x1E) >> 1
//   1111111S          broadcast (0xFE, 0xFF)
//   0xA0..0xFD else   special command named by A, D is its argument
// With S = 0 the data byte is an arc power level, with S = 1 a command.
// Commands 0xE0..0xFE are application extended commands whose meaning
// depends on the device type last enabled with ENABLE DEVICE TYPE X.
//
// To add a command: put its name (and whether the gear answers) into the
// entry list of its table in dalicommands.cpp; the tables are built from
// those lists at compile time.
struct DaliCommandRecord
{
    const char* name = "";        // at most 39 characters, empty for no command
    bool answerExpected = false;  // the gear sends a backward frame
};

using DaliCommandTable = std::array<DaliCommandRecord, 256>;

enum class DaliAddressKind { Short, Group, Broadcast, Special };

class DaliCommands
{
public:
    static const DaliCommandTable& standardTable();
    static const DaliCommandTable& deviceType6Table();
    static const DaliCommandTable& deviceType8Table();
    static const DaliCommandTable& specialTable();

    static constexpr DaliAddressKind addressKind(uint8_t address)
    {
        if ((address & 0x80) == 0)
            return DaliAddressKind::Short;
        if ((address & 0xE0) == 0x80)
            return DaliAddressKind::Group;
        if (address >= 0xFE)
            return DaliAddressKind::Broadcast;
        return DaliAddressKind::Special;
    }
    static constexpr bool isSpecial(uint8_t address)
    {
        return addressKind(address) == DaliAddressKind::Special;
    }
    // An addressed frame with S = 0.
    static constexpr bool isArcPower(uint8_t address)
    {
        return !isSpecial(address) && (address & 1) == 0;
    }
    static constexpr bool isExtendedCommand(uint8_t data) { return data >= 0xE0 && data <= 0xFE; }
    // Short address 0..63 or group 0..15 of an addressed frame.
    static constexpr int addressNumber(uint8_t address) { return (address >> 1) & 0x3F; }

    // The frame's command name: the special table for special commands, ""
    // for arc power (the log names it "ARC POWER"), the device-type table for
    // extended commands ("unknown extension command" for device types other
    // than 6 and 8), otherwise the standard table.
    static QString commandName(uint8_t address, uint8_t data, int deviceType);
    // Whether the gear answers the frame, by the same classification.
    static bool answerExpected(uint8_t address, uint8_t data, int deviceType);

private:
    // The table entry that describes the frame, or nullptr for arc power and
    // unknown extended commands.
    static const DaliCommandRecord* record(uint8_t address, uint8_t data, int deviceType);
};

inline constexpr const char* DaliUnknownExtension = "unknown extension command";

} // namespace halvorn::dali
