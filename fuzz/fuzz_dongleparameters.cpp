// The dongle's own parameters against a dongle whose replies the fuzzer
// chooses (ReplyScript): initialisation (version read with its retries, the
// parameter table), reading and writing every dongle parameter, the DALI
// bus power switch (read-modify-write of the configuration flags) and the
// status flag queries.
#include "fuzz/fuzzsupport.h"
#include "general/network.h"
#include "general/parameter.h"
#include "usb/usbdongle.h"

#include <QList>

#include <cstdint>

using namespace halvorn;

namespace {

constexpr int MostOperations = 8;

// The dongle's parameters: everything below it that is not a network's.
void collectParameters(general::TreeNode* node, QList<general::Parameter*>& parameters)
{
    for (general::TreeNode* child : node->childNodes()) {
        if (qobject_cast<general::Network*>(child))
            continue;
        if (auto* parameter = qobject_cast<general::Parameter*>(child))
            parameters.append(parameter);
        collectParameters(child, parameters);
    }
}

void operate(usb::USBDongle* dongle, fuzz::ByteReader& input)
{
    bool ok = false;
    switch (input.next() % 6) {
    case 0:
        dongle->initialize();
        break;
    case 1:
    case 2: {
        QList<general::Parameter*> parameters;
        collectParameters(dongle, parameters);
        if (parameters.isEmpty())
            break;
        general::Parameter* parameter = parameters.at(input.next() % parameters.size());
        dongle->downloadParameter(parameter, ok);
        parameter->text();
        break;
    }
    case 3: {
        QList<general::Parameter*> parameters;
        collectParameters(dongle, parameters);
        if (parameters.isEmpty())
            break;
        general::Parameter* parameter = parameters.at(input.next() % parameters.size());
        parameter->setValue(input.next16(), false);
        dongle->uploadParameter(parameter, ok);
        break;
    }
    case 4:
        dongle->setDALIBusPower(input.next() & 1);
        break;
    case 5:
        dongle->isDALIBusConnected();
        dongle->isKeymarkMessageOk();
        dongle->versionText();
        dongle->infoText();
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::FuzzPortline::instance();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::FuzzPortline& portline = fuzz::FuzzPortline::instance();
    portline.runOperations(data, size, portline.dongle(), MostOperations, operate);
    return 0;
}
