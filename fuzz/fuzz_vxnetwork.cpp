// The command/reply network of the DMX line against a dongle whose replies
// the fuzzer chooses (ReplyScript): Chorus reads, writes, GUID and
// find-next commands (also through skip addressing), the parameter list
// retrieval, RDM requests, RDM discovery, a parameter search of a device
// and DMX frames. A driver's answer that is short, long, garbled, a
// collision or missing must end in a status, never in a value taken from
// bytes that are not there.
#include "fuzz/fuzzsupport.h"
#include "general/device.h"
#include "usb/usbdongle.h"
#include "vx/rdmbinsearch.h"
#include "vx/vxdevice.h"
#include "vx/vxnetwork.h"

#include <cstdint>

using namespace halvorn;

namespace {

constexpr int MostOperations = 8;

quint64 uid(fuzz::ByteReader& input)
{
    quint64 value = 0;
    for (int i = 0; i < 6; ++i)
        value = value << 8 | input.next();
    return value;
}

void operate(vx::VxNetwork* network, fuzz::ByteReader& input)
{
    quint16 value = 0;
    quint16 type = 0;
    quint32 guid = 0;
    const quint16 skip = input.next() % 4;
    const quint16 address = input.next() % 8;
    // Discovery and the parameter search make hundreds of exchanges: rarer.
    switch (input.next() % 16) {
    case 0:
        network->readGuid(skip, address, guid);
        break;
    case 1:
    case 2:
        network->readParameter(skip, address, input.next(), value);
        break;
    case 3:
        network->writeParameter(skip, address, input.next(), input.next16());
        break;
    case 4:
        network->findNextParameter(skip, address, input.next(), value, type);
        network->probeParameterZero(skip, address);
        break;
    case 5:
        network->retrieveParameterList(skip, address);
        break;
    case 6: {
        static constexpr quint8 Classes[] = {0x10, 0x20, 0x30};
        vx::VxNetwork::BusLocker bus(network);
        network->rdmRequest(uid(input), Classes[input.next() % 3], input.next16(), input.take(input.next() % 8));
        network->sendInternalPacket();
        break;
    }
    case 7: {
        vx::VxNetwork::BusLocker bus(network);
        network->rdmDiscUniqueBranch(uid(input), uid(input));
        network->sendInternalPacket();
        break;
    }
    case 8:
    case 9:
    case 10:
        network->DMX_sendSetpoint();
        break;
    case 11:
    case 12:
    case 13:
        network->readParameter(skip, address, input.next(), value);
        break;
    case 14:
        network->rdmSearch()->run();
        break;
    case 15:
        network->broadcastDevice()->searchParameters();
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
    auto* network = qobject_cast<vx::VxNetwork*>(portline.dongle()->vxNetwork());
    portline.runOperations(data, size, network, MostOperations, operate);
    return 0;
}
