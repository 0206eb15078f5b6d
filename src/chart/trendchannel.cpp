#include "chart/trendchannel.h"

#include "onewire/romid.h"
#include "model/channelid.h"
#include "sensors/shownnames.h"

TrendChannel TrendChannel::describe(const SensorDevice &device, int index)
{
    const SensorChannel &channel = device.channels.at(index);
    TrendChannel c;
    c.romText = romToText(device.rom, false);
    c.subchannel = channel.subchannel;
    c.hubChannel = channel.hubChannel;
    c.i2cAddress = channel.i2cAddress;
    c.i2cSerialHigh = channel.i2cSerialHigh;
    c.i2cSerialLow = channel.i2cSerialLow;
    c.type = channel.type.trimmed();
    c.unit = channel.unit;
    return c;
}

QString TrendChannel::key() const
{
    return ChannelId::textOf(romText, subchannel, hubChannel, i2cAddress);
}

QString TrendChannel::identity() const
{
    QString text;
    if (i2cSerialHigh != 0 || i2cSerialLow != 0) {
        if (i2cSerialHigh != 0)
            text = QString::number(i2cSerialHigh, 16).toUpper() + QLatin1Char(' ');
        text += QString::number(i2cSerialLow, 16).toUpper();
        if (hubChannel >= 0)
            text += QStringLiteral(" к.") + QString::number(hubChannel);
    } else {
        text = romText;
    }
    if (!filePath.isEmpty())
        text += QStringLiteral(" (файл)");
    return text;
}

QString TrendChannel::name() const
{
    return identity() + QLatin1Char(' ') + type;
}

QString TrendChannel::unitText() const
{
    return ShownNames::unit(unit);
}
