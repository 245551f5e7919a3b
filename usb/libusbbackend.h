#pragma once

#include "usb/usbbackend.h"

struct libusb_context;

namespace halvorn::usb {

// The real USB bus: a thin adaptor over libusb-1.0. Every call maps to one
// libusb call and passes its result through unchanged (UsbResult has the
// values of LIBUSB_ERROR_*), so that all decisions stay in USBHandler.
//
// The library context is created with the backend and released with it.
// libusb is thread-safe, so the adaptor needs no lock of its own.
class LibUsbBackend : public UsbBackend
{
public:
    LibUsbBackend();
    ~LibUsbBackend() override;

    LibUsbBackend(const LibUsbBackend&) = delete;
    LibUsbBackend& operator=(const LibUsbBackend&) = delete;

    // False when libusb could not be initialised; every call then fails.
    bool isInitialized() const { return m_context != nullptr; }

    int getDeviceList(QList<UsbDevice>& devices) override;
    void freeDeviceList(QList<UsbDevice>& devices) override;
    int getDeviceDescriptor(UsbDevice device, UsbDeviceDescriptor& descriptor) override;
    int open(UsbDevice device, UsbHandle& handle) override;
    void close(UsbHandle handle) override;
    UsbDevice deviceOf(UsbHandle handle) override;
    int claimInterface(UsbHandle handle, int interfaceNumber) override;
    int releaseInterface(UsbHandle handle, int interfaceNumber) override;
    int resetDevice(UsbHandle handle) override;
    int bulkTransfer(UsbHandle handle, unsigned char endpoint, unsigned char* data, int length,
                     int* transferred, unsigned int timeoutMs) override;

private:
    libusb_context* m_context = nullptr;
};

} // namespace halvorn::usb
