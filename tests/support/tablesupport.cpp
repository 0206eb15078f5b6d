#include "support/tablesupport.h"

#include <QFile>

namespace TableSupport {

SensorDevice *makeDevice(quint64 key)
{
    auto *device = new SensorDevice;
    device->key = key;
    for (int i = 0; i < 8; ++i)
        device->rom.append(short((key >> (8 * i)) & 0xFF));
    device->family = uint8_t(key >> 56);
    device->presence = 1;
    return device;
}

SensorChannel thermometer(double value, const QDateTime &time, uint8_t subchannel)
{
    SensorChannel channel;
    channel.value = value;
    channel.time = time;
    channel.rangeMax = 125.0;
    channel.rangeMin = -55.0;
    channel.unit = QStringLiteral("C");
    channel.type = QStringLiteral("DS18B20 Temperature sensor");
    channel.mark = QStringLiteral("T");
    channel.hubChannel = -1;
    channel.subchannel = subchannel;
    channel.updated = 1;
    return channel;
}

SensorChannel i2cChannel(double value, const QDateTime &time, uint8_t subchannel, int hubChannel,
                         uint8_t address, quint64 serialHigh, quint64 serialLow)
{
    SensorChannel channel = thermometer(value, time, subchannel);
    channel.type = QStringLiteral("SHT3x Temperature sensor");
    channel.hubChannel = hubChannel;
    channel.i2cAddress = address;
    channel.i2cSerialHigh = serialHigh;
    channel.i2cSerialLow = serialLow;
    return channel;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QList<QByteArray> fileLines(const QString &path)
{
    QByteArray content = readFile(path);
    QList<QByteArray> lines;
    while (!content.isEmpty()) {
        const int end = content.indexOf("\r\n");
        if (end < 0) {
            lines.append(content);
            break;
        }
        lines.append(content.left(end));
        content.remove(0, end + 2);
    }
    return lines;
}

} // namespace TableSupport
