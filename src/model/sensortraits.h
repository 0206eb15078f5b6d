#pragma once

#include <cstdint>

// What a measured quantity is, for those who describe readings to others.
enum class Quantity {
    Other,
    Temperature,
    Humidity,
    Pressure,
    CarbonDioxide,
    Voltage,
};

// How a channel's readings are to be taken: a measured value (averaged,
// charted, given as a gauge), a count that only grows (its lines and series
// are totals, never averages), or a state that is 0 or 1.
enum class ChannelKind {
    Value,
    Counter,
    Binary,
};

// One channel of a sensor, by subchannel, as its driver fills it.
struct ChannelTraits
{
    const char *unit = nullptr;   // as the records and files carry it, e.g. "C"
    const char *shown = nullptr;  // as people write it, e.g. "°C" (UTF-8)
    Quantity quantity = Quantity::Other;
    ChannelKind kind = ChannelKind::Value;
    // The names general-purpose owservers give the property, blank-separated
    // (the first is the one they list, e.g. "temperature", "VAD",
    // "counter.A", "humidity HIH4000/humidity"); null: named by its unit.
    const char *property = nullptr;
    // Digits after the decimal point in the table, the files and the
    // console: what the chip resolves.
    int decimals = 2;
};

// A wait a driver makes once one of its commands was taken: an I2C
// sensor's after a write, a 1-Wire chip's after a function command (its
// byte).
struct CommandWait
{
    const char *command = nullptr; // the write's data bytes, hexadecimal
    int ms = 0;
    bool noStop = false;           // written without a stop: a read follows
};

// What a driver declares about its chip, for whoever describes, charts or
// times its readings: the channels it fills and the waits it makes. One per
// driver class (its kTraits), built as
//   SensorTraits("SHT3x").channel("C", "°C", Quantity::Temperature)...
struct SensorTraits
{
    static constexpr int kMaxChannels = 16;
    static constexpr int kMaxWaits = 4;

    const char *name = nullptr;
    ChannelTraits channels[kMaxChannels];
    int channelCount = 0;
    // 1-Wire chips: the waits under the strong pull-up after Convert T and
    // after Copy Scratchpad.
    int conversionMs = 0;
    int copyMs = 0;
    // I2C chips behind a bridge: the address byte and the waits after writes;
    // the waits of a 1-Wire chip after its function commands (address 0).
    uint8_t address = 0;
    CommandWait waits[kMaxWaits];
    int waitCount = 0;
    // A status poll: after this write, a two-byte read that is not 1 (not
    // ready) is followed by this wait before the next poll.
    CommandWait notReady;

    constexpr explicit SensorTraits(const char *chip)
        : name(chip)
    {
    }
    constexpr SensorTraits channel(const char *unit, const char *shown, Quantity quantity) const
    {
        SensorTraits t = *this;
        t.channels[t.channelCount].unit = unit;
        t.channels[t.channelCount].shown = shown;
        t.channels[t.channelCount].quantity = quantity;
        ++t.channelCount;
        return t;
    }
    // A count that only grows, with its property name.
    constexpr SensorTraits counter(const char *property) const
    {
        SensorTraits t = channel("count", "count", Quantity::Other);
        t.channels[t.channelCount - 1].kind = ChannelKind::Counter;
        t.channels[t.channelCount - 1].property = property;
        t.channels[t.channelCount - 1].decimals = 0;
        return t;
    }
    // A state, 0 or 1, with its property name.
    constexpr SensorTraits binary(const char *property) const
    {
        SensorTraits t = channel("", "", Quantity::Other);
        t.channels[t.channelCount - 1].kind = ChannelKind::Binary;
        t.channels[t.channelCount - 1].property = property;
        t.channels[t.channelCount - 1].decimals = 0;
        return t;
    }
    // The owserver property names of the channel added last.
    constexpr SensorTraits property(const char *names) const
    {
        SensorTraits t = *this;
        t.channels[t.channelCount - 1].property = names;
        return t;
    }
    // The digits shown of the channel added last.
    constexpr SensorTraits decimals(int digits) const
    {
        SensorTraits t = *this;
        t.channels[t.channelCount - 1].decimals = digits;
        return t;
    }
    constexpr SensorTraits conversion(int ms, int copy = 0) const
    {
        SensorTraits t = *this;
        t.conversionMs = ms;
        t.copyMs = copy;
        return t;
    }
    constexpr SensorTraits i2c(uint8_t addressByte) const
    {
        SensorTraits t = *this;
        t.address = addressByte;
        return t;
    }
    constexpr SensorTraits wait(const char *command, int ms, bool noStop = false) const
    {
        SensorTraits t = *this;
        t.waits[t.waitCount].command = command;
        t.waits[t.waitCount].ms = ms;
        t.waits[t.waitCount].noStop = noStop;
        ++t.waitCount;
        return t;
    }
    constexpr SensorTraits pollWait(const char *command, int ms) const
    {
        SensorTraits t = *this;
        t.notReady.command = command;
        t.notReady.ms = ms;
        return t;
    }
};
