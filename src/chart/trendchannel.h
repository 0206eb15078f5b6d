#pragma once

#include "chart/trendseries.h"

#include <QString>
#include <memory>

struct SensorChannel;
struct SensorDevice;

// One line of a chart: which channel it is (the identity its table row and
// its measurement file carry), what it measures, and its readings. Live
// channels are kept by the TrendArchive; a channel read from a measurement
// file belongs to the chart window that opened it.
struct TrendChannel
{
    QString romText;     // 16 hexadecimal digits, CRC first, as the table shows it
    int subchannel = 0;
    int hubChannel = -1; // -1: not behind a multi-hub
    int i2cAddress = 0;  // 8-bit address byte; 0 for 1-Wire sensors
    quint64 i2cSerialHigh = 0;
    quint64 i2cSerialLow = 0;
    QString type;
    QString unit;        // as the drivers and files give it, e.g. "C"
    QString filePath;    // the measurement file it was read from; empty: live
    std::shared_ptr<TrendSeries> series = std::make_shared<TrendSeries>();

    // The identity of channel `index` of `device` (no readings).
    static TrendChannel describe(const SensorDevice &device, int index);

    // ChannelId's text of the channel.
    QString key() const;

    // The ROM, or for a sensor behind a bridge its I2C serial and hub
    // channel; "(файл)" after it for a file's line.
    QString identity() const;
    // For legends and exports: the identity, then the type.
    QString name() const;
    // The unit as people write it, as the drivers declare it: "°C" for "C".
    QString unitText() const;
};
