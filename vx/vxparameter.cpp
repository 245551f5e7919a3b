#include "vx/vxparameter.h"

#include "vx/driverparametertable.h"
#include "vx/vxtypeword.h"

namespace halvorn::vx {

VxParameter::VxParameter(general::ParameterDevice* device, uint number, quint16 typeWord, int)
    : general::Parameter(device, number, QStringLiteral("unknown"), QString(), 0, 255, -1, false, false,
                         general::Parameter::Decimal, 1.0)
    , m_typeWord(typeWord)
{
    if (number >= 256) {
        setMask(0xFFFF);
        return;
    }

    const VxTypeWord word(typeWord);
    if (word.isFlag()) {
        setType(BooleanType);
        setRange(0, 1);
        setMask(word.flagMask());
    } else {
        setType(IntegerType);
        setRange(word.minimum(), word.maximum());
    }
    setReadOnly(word.isReadOnly());
    setName(DriverParameterTable::name(number));
    setTooltip(DriverParameterTable::description(number));
}

} // namespace halvorn::vx
