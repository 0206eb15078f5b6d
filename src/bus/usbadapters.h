#pragma once

#include <QString>
#include <QVector>

struct libusb_device;

// The USB 1-Wire adapters with a DS2490 (id 04FA:2490) that are plugged in.
namespace UsbAdapters {

const uint16_t kVendorId = 0x04FA;
const uint16_t kProductId = 0x2490;

struct Info
{
    QString position;       // "BUS-PORT[.PORT...]", as usb:BUS-PORT takes it
    bool kernelDriver = false; // the kernel's driver holds its interface
    QString serial;         // the ID chip's serial number, when asked for and readable
    QString problem;        // why it could not be opened, when asked for the serial
};

// The USB position of a device: bus number, a dash and the port path ("1-2.3").
QString position(libusb_device *device);

// Every adapter, in the order libusb lists them; `withSerial` also opens each
// one briefly to ask about the kernel driver and read its ID chip (which
// needs access to it); without it nothing is opened. An empty list and
// *error when libusb cannot be used at all.
QVector<Info> survey(bool withSerial, QString *error = nullptr);

} // namespace UsbAdapters
