#include "sim/simsht3x.h"

#include "base/clock.h"
#include "sim/simjson.h"

#include <QtGlobal>
#include <cmath>

namespace {

const uint16_t kHeaterBit = 1u << 13;

// Conversion time by repeatability, µs; 0 for a command that is no single shot.
qint64 singleShotUs(uint16_t command, bool *stretching)
{
    *stretching = (command >> 8) == 0x2C;
    switch (command) {
    case 0x2C06:
    case 0x2400:
        return 15000;
    case 0x2C0D:
    case 0x240B:
        return 6000;
    case 0x2C10:
    case 0x2416:
        return 4000;
    default:
        return 0;
    }
}

} // namespace

SimSht3x::SimSht3x(double celsius, double humidity)
    : SimSht3x(kDefaultAddress, true, celsius)
{
    m_humidity = SimTemperature(humidity);
}

SimSht3x::SimSht3x(uint8_t address, bool hasHumidity, double celsius)
    : SimSensirionChip(address)
    , m_hasHumidity(hasHumidity)
    , m_temperature(celsius)
    , m_humidity(50.0)
{
}

void SimSht3x::setSerial(uint16_t word1, uint16_t word2)
{
    m_serial[0] = word1;
    m_serial[1] = word2;
}

uint16_t SimSht3x::rawTemperature(double celsius)
{
    return uint16_t(qBound(0.0, std::round((celsius + 45.0) / 175.0 * 65535.0), 65535.0));
}

uint16_t SimSht3x::rawHumidity(double percent)
{
    return uint16_t(qBound(0.0, std::round(percent / 100.0 * 65535.0), 65535.0));
}

bool SimSht3x::measuring() const
{
    return Clock::tickUs() < m_readyAtUs;
}

qint64 SimSht3x::stretchUs() const
{
    return measuring() && m_stretching ? m_readyAtUs - Clock::tickUs() : 0;
}

bool SimSht3x::readable(bool) const
{
    if (measuring())
        return m_stretching;
    return replyWaiting();
}

bool SimSht3x::knows(uint16_t command) const
{
    bool stretching = false;
    if (singleShotUs(command, &stretching) > 0)
        return true;
    switch (command) {
    case 0x3780:
    case 0x3682:
    case 0xF32D:
    case 0x3041:
    case 0x306D:
    case 0x3066:
    case 0x30A2:
        return true;
    default:
        return false;
    }
}

void SimSht3x::command(uint16_t command, const QByteArray &)
{
    bool stretching = false;
    if (const qint64 durationUs = singleShotUs(command, &stretching)) {
        // The values are those at the start of the conversion; they can be
        // read once it is over.
        const qint64 nowMs = Clock::tickMs();
        const uint16_t rawT = m_rawTemperature >= 0 ? uint16_t(m_rawTemperature)
                                                   : rawTemperature(m_temperature.at(nowMs));
        const uint16_t rawH = m_rawHumidity >= 0 ? uint16_t(m_rawHumidity) : rawHumidity(m_humidity.at(nowMs));
        if (m_hasHumidity)
            reply({rawT, rawH});
        else
            reply({rawT});
        m_stretching = stretching;
        m_readyAtUs = Clock::tickUs() + durationUs;
        ++m_measurements;
        return;
    }
    switch (command) {
    case 0x3780:
    case 0x3682:
        reply({m_serial[0], m_serial[1]});
        break;
    case 0xF32D:
        reply({uint16_t(m_status | (m_heater ? kHeaterBit : 0))});
        break;
    case 0x3041:
        m_status = 0;
        dropReply();
        break;
    case 0x306D:
    case 0x3066:
        m_heater = command == 0x306D;
        ++m_heaterCommands;
        dropReply();
        break;
    case 0x30A2:
        m_heater = false;
        m_status = 0x8010;
        dropReply();
        break;
    default:
        break;
    }
}

bool SimSht3x::configure(const QJsonObject &entry, QString *error)
{
    QByteArray serial;
    int crcErrors = 0;
    if (!SimTemperature::fromJson(entry, "temperature", &m_temperature, error)
        || !SimJson::readInt(entry, "rawTemperature", 0, 65535, &m_rawTemperature, error)
        || !SimJson::readHex(entry, "serial", 4, &serial, error)
        || !SimJson::readInt(entry, "crcErrors", 0, 1000000, &crcErrors, error))
        return false;
    if (!serial.isEmpty())
        setSerial(uint16_t(uint8_t(serial.at(0)) << 8 | uint8_t(serial.at(1))),
                  uint16_t(uint8_t(serial.at(2)) << 8 | uint8_t(serial.at(3))));
    failCrc(crcErrors);
    return true;
}

std::unique_ptr<SimI2cSlave> SimSht3x::fromJson(const QJsonObject &entry, QString *error)
{
    auto chip = std::make_unique<SimSht3x>();
    if (!chip->configure(entry, error)
        || !SimTemperature::fromJson(entry, "humidity", &chip->m_humidity, error, "%RH")
        || !SimJson::readInt(entry, "rawHumidity", 0, 65535, &chip->m_rawHumidity, error))
        return nullptr;
    return chip;
}
