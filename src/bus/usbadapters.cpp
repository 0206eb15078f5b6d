#include "bus/usbadapters.h"

#include "bus/ds2490.h"

#include <libusb.h>

namespace UsbAdapters {

QString position(libusb_device *device)
{
    uint8_t ports[8];
    const int count = libusb_get_port_numbers(device, ports, int(sizeof ports));
    QString text = QString::number(libusb_get_bus_number(device)) + QLatin1Char('-');
    if (count <= 0)
        return text + QString::number(libusb_get_device_address(device));
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            text += QLatin1Char('.');
        text += QString::number(ports[i]);
    }
    return text;
}

QVector<Info> survey(bool withSerial, QString *error)
{
    QVector<Info> found;
    libusb_context *context = nullptr;
    if (libusb_init(&context) != 0) {
        if (error)
            *error = QStringLiteral("USB cannot be used here (libusb could not start)");
        return found;
    }
    libusb_device **list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor;
        if (libusb_get_device_descriptor(list[i], &descriptor) != 0 || descriptor.idVendor != kVendorId
            || descriptor.idProduct != kProductId)
            continue;
        Info info;
        info.position = position(list[i]);
        libusb_device_handle *handle = nullptr;
        if (withSerial && libusb_open(list[i], &handle) == 0) {
            info.kernelDriver = libusb_kernel_driver_active(handle, 0) == 1;
            libusb_close(handle);
        }
        found.append(info);
    }
    if (list)
        libusb_free_device_list(list, 1);
    libusb_exit(context);
    if (withSerial) {
        // Each adapter is opened by its own master, as a session would.
        for (Info &info : found) {
            Ds2490 master(info.position);
            if (master.setUp())
                info.serial = master.idChipSerial();
            info.problem = master.problem();
        }
    }
    return found;
}

} // namespace UsbAdapters
