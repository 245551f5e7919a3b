#pragma once

namespace halvorn::sim {

// One fault-injection rule for a simulated dongle's USB transfers.
//
//   dongle->injectFault(SimFault::timeout().forCode(0x0D).next(3));
//   dongle->injectFault(SimFault::reply(1).everyNth(5));
//   dongle->injectFault(SimFault::unplug().forCode(0x0D).forParameter(8));
//
// A rule looks at the transfers of its direction whose request has its
// command code (and, for the parameter codes 0x0D/0x0E, its parameter
// address). It fires on every `every`-th of them, `count` times in all
// (−1: for ever). The first rule that fires decides the transfer.
struct SimFault {
    enum Kind {
        Timeout, // the transfer ends with a time-out (an OUT is lost, an IN gets nothing)
        Stall,   // the endpoint stalls: UsbErrorPipe
        Resize,  // the reply has exactly `length` bytes (cut or padded with 0xEE); longer than the host's buffer is an overflow
        Garble,  // every reply byte is XORed with 0xA5
        Unplug,  // the dongle is pulled out during this transfer: UsbErrorNoDevice from now on
        Error    // the transfer fails with `result` (any libusb result code)
    };
    enum Direction { Out, In };
    static constexpr int AnyCode = -1;
    static constexpr int AnyParameter = -1;
    static constexpr int Forever = -1;

    Kind kind = Timeout;
    Direction direction = In;
    int code = AnyCode;
    int parameter = AnyParameter;
    int every = 1;
    int count = Forever;
    int length = 0;
    int result = 0;

    static SimFault timeout(Direction direction = In) { return make(Timeout, direction); }
    static SimFault stall(Direction direction = In) { return make(Stall, direction); }
    static SimFault reply(int length)
    {
        SimFault fault = make(Resize, In);
        fault.length = length;
        return fault;
    }
    static SimFault garbled() { return make(Garble, In); }
    static SimFault unplug(Direction direction = Out) { return make(Unplug, direction); }
    static SimFault error(int libusbResult, Direction direction = Out)
    {
        SimFault fault = make(Error, direction);
        fault.result = libusbResult;
        return fault;
    }

    SimFault& forCode(int commandCode) { code = commandCode; return *this; }
    SimFault& forParameter(int address) { parameter = address; return *this; }
    // The next n matching transfers.
    SimFault& next(int n) { every = 1; count = n; return *this; }
    // Every n-th matching transfer (the n-th, 2n-th, …), for ever.
    SimFault& everyNth(int n) { every = n > 0 ? n : 1; count = Forever; return *this; }

private:
    static SimFault make(Kind kind, Direction direction)
    {
        SimFault fault;
        fault.kind = kind;
        fault.direction = direction;
        return fault;
    }
};

} // namespace halvorn::sim
