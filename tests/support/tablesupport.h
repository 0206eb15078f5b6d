#pragma once

#include "sensors/sensordevice.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

// Device records for the table and recorder tests, shaped the way the sensor
// object and the drivers leave them.
namespace TableSupport {

// A present device whose ROM, packed in bus order, is `key` (family code in
// the top byte); its rom vector is in reverse bus order, as the sensor object
// stores it.
SensorDevice *makeDevice(quint64 key);

// A live DS18B20-like channel (hub channel -1, no I2C fields).
SensorChannel thermometer(double value, const QDateTime &time, uint8_t subchannel = 0);

// A live I2C channel read through a bridge.
SensorChannel i2cChannel(double value, const QDateTime &time, uint8_t subchannel, int hubChannel,
                         uint8_t address, quint64 serialHigh, quint64 serialLow);

QByteArray readFile(const QString &path);
// The file's lines without their CR LF ends (a last line without one is kept).
QList<QByteArray> fileLines(const QString &path);

} // namespace TableSupport
