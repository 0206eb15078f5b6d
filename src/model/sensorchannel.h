#pragma once

#include "model/sensortraits.h"

#include <QDateTime>
#include <atomic>
#include <QString>
#include <cmath>
#include <cstdint>
#include <limits>

// One measured quantity of a device: filled by the device's driver, shown as
// one table row and written to one measurement file. A plain value record,
// copied as a whole.
struct SensorChannel
{
    double value = std::numeric_limits<double>::quiet_NaN();     // NaN = no value
    double rangeMax = std::numeric_limits<double>::quiet_NaN();
    double rangeMin = std::numeric_limits<double>::quiet_NaN();
    double alarmHigh = std::numeric_limits<double>::quiet_NaN(); // DS18x20 only
    double alarmLow = std::numeric_limits<double>::quiet_NaN();  // DS18x20 only
    // DS18x20 only: the device answered the Alarm Search after the cycle's
    // conversion (its last result lay outside its own TH/TL).
    bool hardwareAlarm = false;
    QString unit;              // e.g. "C"
    QString type;              // e.g. "DS18S20 Temperature sensor"
    QString mark;              // short channel mark, e.g. "T"
    uint8_t subtype = 0;       // Pt100 emulator: 0 unknown, 1 Pt100, 2 100П
    uint64_t i2cSerialHigh = 0;
    uint64_t i2cSerialLow = 0;
    uint8_t i2cAddress = 0;    // 8-bit address byte (7-bit address << 1); 0 for 1-Wire sensors
    int32_t hubChannel = 0;    // -1 = not behind a multi-hub; every driver sets it
    uint8_t subchannel = 0;    // index of the quantity within its sensor
    uint8_t updated = 0;       // update history: 1 when filled, shifted left per search pass
    float calibration = 0;     // offset reported by a Pt100 emulator
    bool isEmulator = false;
    bool calibrateRequest = false;
    float calibrationTarget = 0;
    bool resetCalibration = false;
    uint8_t requestedSubtype = 0;
    bool subtypeWriteRequest = false;
    QDateTime time;            // invalid = no time
    QString failure;           // why value is NaN, in words for the operator ("" when it is not)
    bool missed = false;       // the latest read of its device did not fill it (it did not answer)
    // Which fill of the channel the record holds: a new, larger number every
    // time a driver fills it (0 before the first fill). A reading is written
    // and announced at most once, by this number, whatever the times say.
    uint64_t reading = 0;
    // The last reading the table announced to its listeners (TableMan).
    uint64_t announcedReading = 0;
    // The driver that fills the channel, as it describes itself (static
    // data; null for a record made by hand): its subchannel's traits tell
    // every output the channel's kind, property name and digits.
    const SensorTraits *traits = nullptr;
    // A counter: the last count read with a good check, whether or not it
    // was taken (a count below it is refused once, see the counter's driver).
    int64_t lastCount = -1;

    const ChannelTraits *described() const
    {
        return traits && subchannel < traits->channelCount ? &traits->channels[subchannel] : nullptr;
    }
    ChannelKind kind() const
    {
        const ChannelTraits *c = described();
        return c ? c->kind : ChannelKind::Value;
    }
    // Digits after the decimal point the value is written with.
    int decimals() const
    {
        const ChannelTraits *c = described();
        return c ? c->decimals : 2;
    }

    // A driver has just put a fresh reading into the record: it counts as
    // updated in this pass and gets its own number, by which every output
    // knows it has not had it yet.
    void markFilled()
    {
        updated = 1;
        reading = nextReadingNumber();
    }

    // Process-wide and increasing, so a record merged from another (a
    // bridge's re-read channel) still carries a number never seen for it;
    // atomic, as several buses are read in threads of their own.
    static uint64_t nextReadingNumber()
    {
        static std::atomic<uint64_t> last{0};
        return ++last;
    }

    // The fields every native 1-Wire thermometer channel carries: a
    // temperature in "C" marked "T", no I2C identity, not behind a hub.
    // Marks the channel as freshly filled (markFilled).
    void setNativeTemperature(double minCelsius, double maxCelsius, uint8_t index)
    {
        rangeMax = maxCelsius;
        rangeMin = minCelsius;
        unit = QStringLiteral("C");
        i2cSerialHigh = 0;
        i2cSerialLow = 0;
        i2cAddress = 0;
        hubChannel = -1;
        subchannel = index;
        mark = QStringLiteral("T");
        markFilled();
    }

    // Any other native 1-Wire channel, as its driver's traits describe
    // subchannel `index`: its unit, no I2C identity, not behind a hub, no
    // device thresholds. Marks the channel as freshly filled (markFilled).
    void setNative(const SensorTraits &driver, uint8_t index, double minValue, double maxValue, const char *typeText,
                   const char *markText)
    {
        rangeMin = minValue;
        rangeMax = maxValue;
        alarmHigh = std::numeric_limits<double>::quiet_NaN();
        alarmLow = std::numeric_limits<double>::quiet_NaN();
        unit = QString::fromUtf8(driver.channels[index].unit);
        type = QLatin1String(typeText);
        mark = QLatin1String(markText);
        i2cSerialHigh = 0;
        i2cSerialLow = 0;
        i2cAddress = 0;
        hubChannel = -1;
        subchannel = index;
        traits = &driver;
        markFilled();
    }

    // Whether the selection ("Показывать/записывать канал 0..3") takes a
    // channel of this subchannel: bit n for the subchannels 0..3 the window
    // has a command for; the others (a DS2438's humidity, a DS2408's PIOs)
    // have none to turn them off, so they are always taken.
    static bool selectedBy(uint8_t mask, int subchannel)
    {
        return subchannel >= 4 || (mask & (1u << subchannel)) != 0;
    }

    // Live: filled by its driver in one of the last two search passes.
    bool isLive() const { return (updated & 3) != 0; }

    // The I2C serial as the table and orvexctl show it: upper-case
    // hexadecimal without leading zeros, "high low", either half omitted
    // when zero.
    QString i2cSerialText() const
    {
        QString text;
        if (i2cSerialHigh != 0)
            text = QString::number(i2cSerialHigh, 16).toUpper() + QLatin1Char(' ');
        if (i2cSerialLow != 0)
            text += QString::number(i2cSerialLow, 16).toUpper();
        return text;
    }
};
