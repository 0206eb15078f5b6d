#pragma once

#include "model/sensordevice.h"

#include <QByteArray>
#include <QMap>
#include <QStringList>

// Device records for the table and recorder tests, shaped as the sensor
// object and the drivers leave them.
namespace TableSupport {

// A present device whose bus-order ROM packs to `key`; its rom vector is
// reversed (CRC first), as the sensor object stores it.
SensorDevice *makeDevice(quint64 key);

// A live, freshly filled channel: a DS18B20-like one by default (hub -1, no
// I2C fields), an I2C one when `hubChannel` is 0 or more.
SensorChannel channel(double value, uint8_t subchannel = 0, int hubChannel = -1, uint8_t address = 0,
                      quint64 serialHigh = 0, quint64 serialLow = 0);

QByteArray readFile(const QString &path);
// The file's lines without their CR LF ends.
QStringList fileLines(const QString &path);
// Every file of a folder by name, with its contents.
QMap<QString, QByteArray> folderContents(const QString &path);

// The data line the recorder must write for a channel's reading when no
// sample is set, worked out here on its own: "date;time;value", the value
// with two decimals and a decimal comma, "---" for NaN, date and time empty
// for a reading without a time.
QString dataLine(const SensorChannel &channel);

// The data lines of every measurement file in `folder`, by path. Fails the
// running test unless each file is whole lines ending in CR LF, holds its
// ten-line header once, at the top, and the times of its lines strictly
// increase (lines without a time aside).
QMap<QString, QStringList> measurementFiles(const QString &folder);

} // namespace TableSupport
