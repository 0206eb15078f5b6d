#pragma once

#include "i2c/i2cbridge.h"

#include <QByteArray>
#include <QDateTime>
#include <cstdint>
#include <functional>
#include <initializer_list>

struct SensorDevice;
struct SensorTraits;

// What every I2C sensor driver behind a DS28E17 shares: the bridge it talks
// through, its address byte, the transactions of one attempt and the shape of
// its channel records. A driver is a plain class built on the stack for one
// read; it derives from this one without virtual functions and offers
// probe(), measure() and fillChannels(device, hubChannel).
//
// Every operation of a driver makes up to I2cBridge::kAttempts attempts. An
// attempt begins with Tmex::selectDevice (TMRom and TMStrongAccess) and
// every further transaction of it with selectAgain() (TMAccess).
class I2cDriver
{
public:
    uint8_t address() const { return m_address; }

    // The bridge's walk over one sensor type on the current hub channel:
    // probe, and when the sensor answers, measure it, append its channels to
    // `found` and end with afterFill(). True when it answered.
    template <typename Driver>
    static bool probeAndRead(I2cBridge &bridge, SensorDevice &found, uint8_t hubChannel);
    // What a driver does after its fill; a driver with more to do hides it.
    void afterFill() {}

protected:
    I2cDriver(int32_t *session, uint8_t *accessState, short *rom, I2cBridge *bridge, uint8_t address);

    void selectAgain();
    // A driver's wait between transactions (a conversion, the sensor's
    // settling time): GUI events are processed meanwhile, as in every wait on
    // the bus, so the window never freezes in a bridge read.
    static void pauseMs(int ms);
    // I2cBridge::attempts on this driver's bridge.
    int attempts(const std::function<int()> &attempt);
    // One write to the driver's address (mode 0 with a stop, 1 without);
    // the bridge's result.
    int write(std::initializer_list<uint8_t> bytes, int mode = 0);
    // One read of `length` bytes from the driver's address; the bridge's result.
    int read(QByteArray &out, int length);
    // A new transaction of the attempt (selectAgain) reading one word, most
    // significant byte first: 1, or kTransferFailed.
    int readWord(uint16_t &word);

    // One reading of a channel as the drivers give it.
    struct Reading
    {
        double value;
        QDateTime time;
        double rangeMin;
        double rangeMax;
        const char *type;
        const char *mark;
    };
    // Appends one channel record per reading, subchannels 0, 1, ... in
    // order, each with the unit `traits` gives it and marked as a fresh reading. A reading without a time (its
    // measurement failed before taking one) gets the time of the fill, so a
    // recorded "no value" line still carries its date and time.
    void appendChannels(const SensorTraits &traits, SensorDevice &device, uint8_t hubChannel, uint64_t serialHigh,
                        uint64_t serialLow, std::initializer_list<Reading> readings) const;

    // The word of two bytes, most significant first, starting at `index`.
    static uint16_t wordAt(const QByteArray &bytes, int index);
    // Whether the first `words` triples of `bytes` (two data bytes, then
    // their Sensirion CRC-8) are whole and intact.
    static bool wordsValid(const QByteArray &bytes, int words);
    // Cuts a value toward zero to `decimals` decimals.
    static double truncated(double value, int decimals);

    int32_t *m_session;
    uint8_t *m_accessState;
    short *m_rom;
    I2cBridge *m_bridge;

private:
    const uint8_t m_address;
};

template <typename Driver>
bool I2cDriver::probeAndRead(I2cBridge &bridge, SensorDevice &found, uint8_t hubChannel)
{
    Driver driver(bridge.session(), bridge.accessState(), bridge.rom(), &bridge);
    typename Driver::Serial serial{};
    if (driver.probe(serial) <= 0)
        return false;
    bridge.sensorAnswered(Driver::kAddress);
    driver.measure();
    driver.fillChannels(found, hubChannel);
    driver.afterFill();
    return true;
}
