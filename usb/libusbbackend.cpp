#include "usb/libusbbackend.h"

#include <libusb.h>

namespace halvorn::usb {

namespace {

libusb_device* asDevice(UsbDevice device)
{
    return static_cast<libusb_device*>(device);
}

libusb_device_handle* asHandle(UsbHandle handle)
{
    return static_cast<libusb_device_handle*>(handle);
}

} // namespace

LibUsbBackend::LibUsbBackend()
{
    if (libusb_init(&m_context) != LIBUSB_SUCCESS)
        m_context = nullptr;
}

LibUsbBackend::~LibUsbBackend()
{
    if (m_context)
        libusb_exit(m_context);
}

int LibUsbBackend::getDeviceList(QList<UsbDevice>& devices)
{
    devices.clear();
    if (!m_context)
        return UsbErrorNotSupported;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(m_context, &list);
    if (count < 0)
        return int(count);
    devices.reserve(int(count));
    // Each device keeps the reference the list took until freeDeviceList().
    for (ssize_t i = 0; i < count; ++i)
        devices.append(list[i]);
    libusb_free_device_list(list, 0);
    return int(count);
}

void LibUsbBackend::freeDeviceList(QList<UsbDevice>& devices)
{
    for (UsbDevice device : devices)
        libusb_unref_device(asDevice(device));
    devices.clear();
}

int LibUsbBackend::getDeviceDescriptor(UsbDevice device, UsbDeviceDescriptor& descriptor)
{
    libusb_device_descriptor raw{};
    const int result = libusb_get_device_descriptor(asDevice(device), &raw);
    if (result == LIBUSB_SUCCESS) {
        descriptor.idVendor = raw.idVendor;
        descriptor.idProduct = raw.idProduct;
        descriptor.bcdDevice = raw.bcdDevice;
    }
    return result;
}

int LibUsbBackend::open(UsbDevice device, UsbHandle& handle)
{
    libusb_device_handle* raw = nullptr;
    const int result = libusb_open(asDevice(device), &raw);
    handle = result == LIBUSB_SUCCESS ? raw : nullptr;
    return result;
}

void LibUsbBackend::close(UsbHandle handle)
{
    libusb_close(asHandle(handle));
}

UsbDevice LibUsbBackend::deviceOf(UsbHandle handle)
{
    return libusb_get_device(asHandle(handle));
}

int LibUsbBackend::claimInterface(UsbHandle handle, int interfaceNumber)
{
    return libusb_claim_interface(asHandle(handle), interfaceNumber);
}

int LibUsbBackend::releaseInterface(UsbHandle handle, int interfaceNumber)
{
    return libusb_release_interface(asHandle(handle), interfaceNumber);
}

int LibUsbBackend::resetDevice(UsbHandle handle)
{
    return libusb_reset_device(asHandle(handle));
}

int LibUsbBackend::bulkTransfer(UsbHandle handle, unsigned char endpoint, unsigned char* data,
                                int length, int* transferred, unsigned int timeoutMs)
{
    return libusb_bulk_transfer(asHandle(handle), endpoint, data, length, transferred, timeoutMs);
}

} // namespace halvorn::usb
