#include "i2c/i2cdriver.h"

#include "i2c/i2cbridge.h"
#include "bus/crc.h"
#include "base/clock.h"
#include "model/sensordevice.h"
#include "model/sensortraits.h"

#include <cmath>
#include <limits>

I2cDriver::I2cDriver(int32_t *session, uint8_t *accessState, short *rom, I2cBridge *bridge, uint8_t address)
    : m_session(session)
    , m_accessState(accessState)
    , m_rom(rom)
    , m_bridge(bridge)
    , m_address(address)
{
}

void I2cDriver::selectAgain()
{
    I2cBridge::accessDevice(m_bridge->tmex(), m_session, m_accessState);
}

void I2cDriver::pauseMs(int ms)
{
    // Events every 10 ms keep the window responsive without waking up for
    // every millisecond; the wait still ends exactly `ms` later.
    const int kSliceMs = 10;
    const qint64 endMs = Clock::tickMs() + ms;
    for (qint64 leftMs = ms; leftMs > 0; leftMs = endMs - Clock::tickMs()) {
        Clock::processEvents();
        Clock::sleepMs(int(qMin<qint64>(leftMs, kSliceMs)));
    }
}

int I2cDriver::attempts(const std::function<int()> &attempt)
{
    return I2cBridge::attempts(m_bridge->tmex(), m_session, m_accessState, m_rom, attempt);
}

int I2cDriver::write(std::initializer_list<uint8_t> bytes, int mode)
{
    QByteArray data;
    for (uint8_t b : bytes)
        data.append(char(b));
    return m_bridge->writeData(m_address, data, mode);
}

int I2cDriver::read(QByteArray &out, int length)
{
    return m_bridge->readData(m_address, out, length);
}

void I2cDriver::appendChannels(const SensorTraits &traits, SensorDevice &device, uint8_t hubChannel,
                               uint64_t serialHigh, uint64_t serialLow, std::initializer_list<Reading> readings) const
{
    uint8_t index = 0;
    for (const Reading &q : readings) {
        SensorChannel channel;
        channel.value = q.value;
        channel.time = q.time.isValid() ? q.time : Clock::now();
        channel.rangeMin = q.rangeMin;
        channel.rangeMax = q.rangeMax;
        channel.alarmHigh = std::numeric_limits<double>::quiet_NaN();
        channel.alarmLow = std::numeric_limits<double>::quiet_NaN();
        channel.unit = QLatin1String(traits.channels[index].unit);
        channel.type = QLatin1String(q.type);
        channel.mark = QLatin1String(q.mark);
        channel.i2cSerialHigh = serialHigh;
        channel.i2cSerialLow = serialLow;
        channel.i2cAddress = m_address;
        channel.hubChannel = hubChannel;
        channel.subchannel = index++;
        channel.traits = &traits;
        channel.markFilled();
        device.channels.append(channel);
    }
}

int I2cDriver::readWord(uint16_t &word)
{
    selectAgain();
    QByteArray bytes;
    if (read(bytes, 2) < 0)
        return I2cBridge::kTransferFailed;
    word = wordAt(bytes, 0);
    return 1;
}

uint16_t I2cDriver::wordAt(const QByteArray &bytes, int index)
{
    return uint16_t((uint8_t(bytes.at(index)) << 8) | uint8_t(bytes.at(index + 1)));
}

bool I2cDriver::wordsValid(const QByteArray &bytes, int words)
{
    if (bytes.size() < 3 * words)
        return false;
    for (int i = 0; i < words; ++i) {
        if (Crc::sensirion8(bytes.mid(3 * i, 2)) != uint8_t(bytes.at(3 * i + 2)))
            return false;
    }
    return true;
}

double I2cDriver::truncated(double value, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    return std::trunc(value * scale) / scale;
}
