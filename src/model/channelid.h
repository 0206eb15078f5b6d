#pragma once

#include "model/sensordevice.h"

#include <QHashFunctions>
#include <QString>
#include <cstdint>

// Which channel a reading belongs to, across searches and runs: the device's
// ROM, the quantity's subchannel, the hub channel and the I2C address. The
// table's rows, the recorder's guard against a second line, the charts and
// MQTT all tell channels apart by it.
struct ChannelId
{
    uint64_t deviceKey = 0; // the ROM packed in bus order, as SensorDevice::key
    int subchannel = 0;
    int hubChannel = -1;
    int i2cAddress = 0;

    static ChannelId of(const SensorDevice &device, int index)
    {
        const SensorChannel &channel = device.channels.at(index);
        // From the ROM itself: records made by hand (tests, tools) may not set the key.
        return ChannelId{romKey(device.rom, true), channel.subchannel, channel.hubChannel, channel.i2cAddress};
    }

    // "ROM/subchannel/hub channel/address", the ROM CRC first as the table
    // shows it: a stable text for keys that leave the process.
    QString text() const
    {
        QString rom;
        for (int shift = 0; shift < 64; shift += 8)
            rom += QStringLiteral("%1").arg(uint((deviceKey >> shift) & 0xFF), 2, 16, QLatin1Char('0')).toUpper();
        return textOf(rom, subchannel, hubChannel, i2cAddress);
    }
    // The same text from the fields as a file header or a table row shows
    // them (a channel read back from a file has no record, only these).
    static QString textOf(const QString &romText, int subchannel, int hubChannel, int i2cAddress)
    {
        return romText + QLatin1Char('/') + QString::number(subchannel) + QLatin1Char('/')
            + QString::number(hubChannel) + QLatin1Char('/') + QString::number(i2cAddress);
    }

    bool operator==(const ChannelId &other) const
    {
        return deviceKey == other.deviceKey && subchannel == other.subchannel && hubChannel == other.hubChannel
            && i2cAddress == other.i2cAddress;
    }
    bool operator!=(const ChannelId &other) const { return !(*this == other); }
};

inline uint qHash(const ChannelId &id, uint seed = 0)
{
    uint h = qHash(id.deviceKey, seed);
    for (int part : {id.subchannel, id.hubChannel, id.i2cAddress})
        h ^= qHash(part) + 0x9e3779b9u + (h << 6) + (h >> 2);
    return h;
}
