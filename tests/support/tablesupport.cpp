#include "support/tablesupport.h"

#include "base/clock.h"

#include <QDir>
#include <QFile>
#include <QtTest>
#include <cmath>

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

QString dataLine(const SensorChannel &channel)
{
    const QDate date = channel.time.date();
    const QTime time = channel.time.time();
    const QString value = std::isnan(channel.value)
        ? QStringLiteral("---")
        : QString::number(channel.value, 'f', channel.decimals()).replace(QLatin1Char('.'), QLatin1Char(','));
    return (date.isValid() ? date.toString(QStringLiteral("yyyy.MM.dd")) : QString()) + QLatin1Char(';')
           + (time.isValid() ? time.toString(QStringLiteral("hh:mm:ss")) : QString()) + QLatin1Char(';') + value;
}

QMap<QString, QStringList> measurementFiles(const QString &folder)
{
    QMap<QString, QStringList> files;
    auto check = [](bool ok, const QString &what) {
        return QTest::qVerify(ok, "measurement file", qPrintable(what), __FILE__, __LINE__);
    };
    for (const QString &name : QDir(folder).entryList(QDir::Files)) {
        const QString path = folder + QLatin1Char('/') + name;
        const QByteArray bytes = readFile(path);
        const QStringList lines = fileLines(path);
        const QString headerEnd = QStringLiteral("DATA;TIME;Value;Sample;Deviation");
        if (!check(bytes.endsWith("\r\n"), name + ": not whole lines")
            || !check(bytes.startsWith("\"Sensor 1WireAddr\";") && bytes.count("\"Sensor 1WireAddr\";") == 1
                          && lines.value(9) == headerEnd && lines.count(headerEnd) == 1,
                      name + ": not one header at the top"))
            return files;
        QString previous;
        for (const QString &line : lines.mid(10)) {
            const QString stamp = line.section(QLatin1Char(';'), 0, 1);
            if (stamp.startsWith(QLatin1Char(';')) || stamp.endsWith(QLatin1Char(';')))
                continue;
            if (!check(stamp > previous, name + ": " + previous + " then " + line))
                return files;
            previous = stamp;
        }
        files.insert(path, lines.mid(10));
    }
    return files;
}

QMap<QString, QByteArray> folderContents(const QString &path)
{
    QMap<QString, QByteArray> files;
    for (const QString &name : QDir(path).entryList(QDir::Files))
        files[name] = readFile(path + QLatin1Char('/') + name);
    return files;
}

} // namespace TableSupport
