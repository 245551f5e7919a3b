// The Keymark network against a dongle whose replies the fuzzer chooses
// (ReplyScript): presence polls, tag memory reads and writes (8 and 16
// bit, the whole 0..255 range: the tag below 128, the driver's bank 1 through
// the DALI pass-through above), DALI frames and parameter accesses through
// the tag. Tag replies that are short, long, refused, garbled or missing
// must all end in a clean failure.
#include "fuzz/fuzzsupport.h"
#include "km/keymarknetwork.h"
#include "usb/usbdongle.h"

#include <QMetaObject>

#include <cstdint>

using namespace halvorn;

namespace {

constexpr int MostOperations = 8;

void operate(km::KeymarkNetwork* network, fuzz::ByteReader& input)
{
    bool ok = false;
    switch (input.next() % 8) {
    case 0:
        // The poll belongs to the network's thread.
        QMetaObject::invokeMethod(network, &km::KeymarkNetwork::pollDevice, Qt::BlockingQueuedConnection);
        break;
    case 1:
    case 2:
        network->readMemoryBank1(0xFF, input.next(), input.next() & 1, ok);
        break;
    case 3:
        network->writeMemoryBank1(0xFF, input.next(), input.next16(), input.next() & 1);
        break;
    case 4:
        network->sendFrame(input.next(), input.next());
        break;
    case 5:
        network->readParameter(0xFE, uint(input.next() % 5) << 12 | input.next(), input.next() & 1, ok);
        break;
    case 6:
        network->writeParameter(0xFE, uint(input.next() % 5) << 12 | input.next(), input.next() & 1, input.next16());
        break;
    case 7:
        network->lastReplyStatus();
        network->lastReplyFrame();
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
    auto* network = qobject_cast<km::KeymarkNetwork*>(portline.dongle()->keymarkNetwork());
    portline.runOperations(data, size, network, MostOperations, operate);
    return 0;
}
