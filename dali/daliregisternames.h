#pragma once

#include <cstdint>

namespace halvorn::dali {

// Names of the maker's registers, for the parameter lines of the simple log:
// the bank-1 registers at locations 0x10..0x7F and the Keymark bridge
// registers 0..30. "Unknown" for every other location or number.
class DaliRegisterNames
{
public:
    static const char* bank1Register(uint8_t location);
    static const char* bridgeRegister(uint8_t reg);
};

} // namespace halvorn::dali
