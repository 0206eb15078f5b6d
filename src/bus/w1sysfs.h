#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>

// The kernel's w1 subsystem as sysfs lays it out: one directory per bus
// master (`w1_bus_masterN`) under /sys/bus/w1/devices, one per device below
// its master, named `ff-ssssssssssss` (family, then the 48-bit serial as a
// number, most significant digit first; the CRC byte is not in the name).
// The thermometer driver w1_therm gives each of its devices a `w1_slave`
// file and newer kernels give the master a `therm_bulk_read` file.
namespace W1Sysfs {

// Where the masters are listed.
QString devicesDir();
// The master's directory.
QString masterDir(const QString &master);

// The masters present, in the kernel's numbering order.
QStringList masters();
// The device names below `master`; false when the master is gone.
bool deviceNames(const QString &master, QStringList *names);

// A device name to its ROM in bus order (family, serial low byte first, the
// CRC computed) and back; false when the name is not a device's.
bool romFromName(const QString &name, uint8_t rom[8]);
QString nameFromRom(const uint8_t rom[8]);

// Families whose devices w1_therm reads (and gives a w1_slave file).
bool thermFamily(uint8_t family);

// The nine scratchpad bytes of the first line of a w1_slave text
// ("72 01 4b 46 7f ff 0e 10 57 : crc=57 YES"), for the program's own checks
// and conversion; the kernel's temperature text is not used. The kernel's
// verdict is its CRC check of the same nine bytes, so it must agree: a line
// marked NO, or whose crc= is not the ninth byte, contradicts itself and
// gives no bytes, even when they would pass the CRC. False, with *why when
// asked, also when the text is empty (a conversion in progress or a failed
// read) or does not hold nine bytes and a verdict.
bool scratchpadFromText(const QByteArray &text, QByteArray *scratchpad, QString *why = nullptr);

// Whether the file's owner, group or everyone bits let this process write it
// (sysfs attributes are root's: 0644 lets root write and everyone read).
bool writable(const QString &path);

} // namespace W1Sysfs
