// The DALI network against a dongle whose replies the fuzzer chooses
// (ReplyScript): frames with and without answers, parameter reads and
// writes across the whole number map (queries, DTR stores, memory banks,
// the maker's mailbox and bridge registers) and the three commissioning
// searches. Every exchange must end, whatever the dongle says; the
// sanitizers watch every buffer on the way.
//
// Input: operation bytes and reply bytes from one stream. Each operation
// reads its own arguments, then the replies to the exchanges it makes.
#include "dali/dalinetwork.h"
#include "fuzz/fuzzsupport.h"
#include "general/task.h"
#include "usb/usbdongle.h"

#include <cstdint>

using namespace halvorn;

namespace {

constexpr int MostOperations = 8;

// A parameter number in one of the ranges of the DALI number map.
uint parameterNumber(fuzz::ByteReader& input)
{
    static constexpr uint RangeStarts[] = {0x0000, 0x000A, 0x0200, 0x0220, 0x1000, 0x2000, 0x3000, 0x4000};
    const uint range = RangeStarts[input.next() % 8];
    return range + input.next();
}

// Arc-power address byte of a short address, a group or broadcast.
uint8_t deviceAddress(fuzz::ByteReader& input)
{
    const uint8_t choice = input.next();
    if (choice >= 0xF0)
        return dali::DaliNetwork::BroadcastDeviceAddress;
    return uint8_t((choice % 80) << 1); // short 0..63, groups 64..79
}

void operate(dali::DaliNetwork* network, fuzz::ByteReader& input)
{
    bool ok = false;
    // The searches make hundreds of exchanges each: one operation in eight.
    switch (input.next() % 16) {
    case 0:
        network->sendFrame(input.next(), input.next());
        break;
    case 1:
        network->sendCommand(uint8_t(deviceAddress(input) | 1), input.next());
        break;
    case 2:
    case 3:
        network->readParameter(deviceAddress(input), parameterNumber(input), input.next() & 1, ok);
        break;
    case 4:
        network->writeParameter(deviceAddress(input), parameterNumber(input), input.next() & 1, input.next16());
        break;
    case 5:
        network->readMemory(uint8_t(deviceAddress(input) | 1), input.next() % 3, input.next(), input.next() & 1, ok);
        break;
    case 6:
        network->setDTR16(input.next16());
        network->setBroadcastLevel(input.next());
        break;
    case 7:
        network->sendFrame(uint8_t(deviceAddress(input) | 1), input.next(), 2);
        break;
    case 8:
    case 9:
    case 10:
    case 11:
    case 12:
        network->readParameter(deviceAddress(input), parameterNumber(input), input.next() & 1, ok);
        break;
    case 13:
        network->searchTask(dali::DaliNetwork::SearchShortAddresses)->run();
        break;
    case 14:
        network->searchTask(dali::DaliNetwork::SearchNewDevices)->run();
        break;
    case 15:
        network->searchTask(dali::DaliNetwork::SearchAllDevices)->run();
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
    auto* network = qobject_cast<dali::DaliNetwork*>(portline.dongle()->daliNetwork());
    portline.runOperations(data, size, network, MostOperations, operate);
    return 0;
}
