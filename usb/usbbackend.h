#pragma once

#include <QList>
#include <cstdint>

namespace halvorn::usb {

// Result codes of the backend calls. They have the values of libusb-1.0's
// LIBUSB_ERROR_* codes, so the real backend passes libusb's results through
// unchanged and the virtual Portline can produce the same ones.
enum UsbResult : int {
    UsbSuccess = 0,
    UsbErrorIo = -1,
    UsbErrorInvalidParam = -2,
    UsbErrorAccess = -3,
    UsbErrorNoDevice = -4,
    UsbErrorNotFound = -5,
    UsbErrorBusy = -6,
    UsbErrorTimeout = -7,
    UsbErrorOverflow = -8,
    UsbErrorPipe = -9,
    UsbErrorInterrupted = -10,
    UsbErrorNoMem = -11,
    UsbErrorNotSupported = -12,
    UsbErrorOther = -99
};

// The fields of a USB device descriptor that the tool looks at.
struct UsbDeviceDescriptor {
    uint16_t idVendor = 0;
    uint16_t idProduct = 0;
    uint16_t bcdDevice = 0;
};

// Opaque references handed out by a backend. A UsbDevice stays valid from
// getDeviceList() until the matching freeDeviceList(), and for as long as a
// handle opened on it is open; a UsbHandle from open() until close().
using UsbDevice = void*;
using UsbHandle = void*;

// The narrow interface between USBHandler and the USB library. It is shaped
// like the libusb-1.0 calls the handler makes, so that the libusb
// implementation stays a thin adaptor and the virtual Portline can stand in
// for real hardware under exactly the same handler code.
//
// All calls may be made from any thread; a backend guards its own state.
class UsbBackend
{
public:
    virtual ~UsbBackend() = default;

    // Fills `devices` with references to every device on the bus.
    // Returns the number of devices, or a negative UsbResult.
    virtual int getDeviceList(QList<UsbDevice>& devices) = 0;
    // Drops the references taken by getDeviceList().
    virtual void freeDeviceList(QList<UsbDevice>& devices) = 0;

    // Possible results: UsbSuccess.
    virtual int getDeviceDescriptor(UsbDevice device, UsbDeviceDescriptor& descriptor) = 0;

    // Possible results: UsbSuccess, UsbErrorNoMem, UsbErrorAccess,
    // UsbErrorNoDevice, other errors.
    virtual int open(UsbDevice device, UsbHandle& handle) = 0;
    virtual void close(UsbHandle handle) = 0;
    // The device a handle was opened on.
    virtual UsbDevice deviceOf(UsbHandle handle) = 0;

    // Possible results: UsbSuccess, UsbErrorNotFound, UsbErrorBusy,
    // UsbErrorNoDevice, other errors.
    virtual int claimInterface(UsbHandle handle, int interfaceNumber) = 0;
    virtual int releaseInterface(UsbHandle handle, int interfaceNumber) = 0;

    // Possible results: UsbSuccess, UsbErrorNotFound (re-enumeration needed),
    // UsbErrorNoDevice, other errors.
    virtual int resetDevice(UsbHandle handle) = 0;

    // One bulk transfer. `endpoint` with bit 7 set reads into `data`,
    // otherwise writes from it; `transferred` receives the byte count.
    // Possible results: UsbSuccess, UsbErrorTimeout, UsbErrorPipe,
    // UsbErrorOverflow, UsbErrorNoDevice, UsbErrorBusy, other errors.
    virtual int bulkTransfer(UsbHandle handle, unsigned char endpoint, unsigned char* data,
                             int length, int* transferred, unsigned int timeoutMs) = 0;
};

} // namespace halvorn::usb
