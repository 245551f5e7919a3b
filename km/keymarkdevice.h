#pragma once

#include "dali/dalidevice.h"

namespace halvorn::km {

class KeymarkNetwork;

// The gear behind a Keymark tag: a DALI device whose frames travel through
// the tag (KeymarkNetwork), shown with the Keymark icons. Its parameters are
// those of any DALI device ("DALI Device|Parameters").
class KeymarkDevice : public dali::DaliDevice
{
    Q_OBJECT

public:
    KeymarkDevice(KeymarkNetwork* network, uint address, const QString& name);

    void printInfo() override;
};

} // namespace halvorn::km
