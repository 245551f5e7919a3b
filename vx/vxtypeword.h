#pragma once

#include <QtGlobal>

namespace halvorn::vx {

// The 16-bit type word a driver reports for each of its parameters:
//
//   bit 15      read-only
//   bits 14-13  kind: 00 or 01 a value, 10 or 11 a flag
//   value kind: bit 10 the minimum is 1 (else 0); bits 9-0 the maximum
//               (0 means 65535)
//   flag kind:  bits 2-0 the number of the bit the flag occupies
class VxTypeWord
{
public:
    static constexpr quint16 ReadOnlyBit = 0x8000;
    static constexpr quint16 FlagKindBit = 0x4000;
    static constexpr quint16 MinimumOneBit = 0x0400;
    static constexpr quint16 MaximumMask = 0x03FF;
    static constexpr quint16 FlagBitMask = 0x0007;

    constexpr explicit VxTypeWord(quint16 word)
        : m_word(word)
    {
    }

    constexpr quint16 word() const { return m_word; }
    constexpr bool isReadOnly() const { return (m_word & ReadOnlyBit) != 0; }
    constexpr bool isFlag() const { return (m_word & FlagKindBit) != 0; }
    // Value kind: the range; flag kind: 0..1.
    constexpr int minimum() const { return !isFlag() && (m_word & MinimumOneBit) ? 1 : 0; }
    constexpr int maximum() const
    {
        if (isFlag())
            return 1;
        const int max = m_word & MaximumMask;
        return max == 0 ? 0xFFFF : max;
    }
    // Flag kind: the flag's bit in the value.
    constexpr int flagBit() const { return m_word & FlagBitMask; }
    constexpr uint flagMask() const { return 1u << flagBit(); }

private:
    quint16 m_word;
};

} // namespace halvorn::vx
