#include "support/tablesupport.h"

#include "platform/clock.h"

#include <QDir>
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

SensorChannel channel(double value, uint8_t subchannel, int hubChannel, uint8_t address,
                      quint64 serialHigh, quint64 serialLow)
{
    SensorChannel ch;
    ch.value = value;
    ch.time = Clock::now();
    ch.unit = QStringLiteral("C");
    ch.type = QStringLiteral("DS18B20 Temperature sensor");
    ch.mark = QStringLiteral("T");
    ch.hubChannel = hubChannel;
    ch.subchannel = subchannel;
    ch.i2cAddress = address;
    ch.i2cSerialHigh = serialHigh;
    ch.i2cSerialLow = serialLow;
    ch.markFilled();
    return ch;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList fileLines(const QString &path)
{
    QStringList lines = QString::fromUtf8(readFile(path)).split(QStringLiteral("\r\n"));
    if (lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QMap<QString, QByteArray> folderContents(const QString &path)
{
    QMap<QString, QByteArray> files;
    for (const QString &name : QDir(path).entryList(QDir::Files))
        files[name] = readFile(path + QLatin1Char('/') + name);
    return files;
}

} // namespace TableSupport
