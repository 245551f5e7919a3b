#pragma once

#include "general/parameter.h"

namespace halvorn::vx {

// A parameter found on a driver: its kind, range and write protection come
// from the type word the driver reported (VxTypeWord), its name and
// description from the driver parameter table (DriverParameterTable).
//
//  - value kind: an integer parameter with the range the word gives;
//  - flag kind: a boolean parameter (maximum 1) whose value occupies the
//    word's bit; written as 0xFFFF when set and 0 when clear (the driver
//    keeps the one bit);
//  - numbers of 256 and more cannot come from the drivers' one-byte answers:
//    such a parameter keeps the name "unknown", range 0–255 and a 16-bit mask.
class VxParameter : public general::Parameter
{
    Q_OBJECT

public:
    // `value` is not used: the value is read from the driver.
    VxParameter(general::ParameterDevice* device, uint number, quint16 typeWord, int value = -1);

    quint16 typeWord() const { return m_typeWord; }

private:
    const quint16 m_typeWord;
};

} // namespace halvorn::vx
