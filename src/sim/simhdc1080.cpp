#include "sim/simhdc1080.h"

#include "base/clock.h"
#include "sim/simjson.h"

#include <QtGlobal>
#include <cmath>

namespace {

const uint8_t kTemperature = 0x00;
const uint8_t kHumidity = 0x01;
const uint8_t kConfiguration = 0x02;
const uint16_t kSequenceMode = 1u << 12;
const uint16_t kTemperature11Bit = 1u << 10;

uint16_t raw(double value, double offset, double span)
{
    return uint16_t(qBound(0.0, std::round((value + offset) / span * 65536.0), 65535.0));
}

} // namespace

SimHdc1080::SimHdc1080(double celsius, double humidity)
    : SimI2cSlave(kDefaultAddress)
    , m_temperature(celsius)
    , m_humidity(humidity)
{
}

void SimHdc1080::setSerial(uint16_t fb, uint16_t fc, uint16_t fd)
{
    m_serial[0] = fb;
    m_serial[1] = fc;
    m_serial[2] = fd;
}

uint16_t SimHdc1080::registerValue(uint8_t pointer) const
{
    switch (pointer) {
    case kTemperature:
        return m_resultT;
    case kHumidity:
        return m_resultH;
    case kConfiguration:
        return m_configuration;
    case 0xFB:
    case 0xFC:
    case 0xFD:
        return m_serial[pointer - 0xFB];
    case 0xFE:
        return 0x5449;
    case 0xFF:
        return 0x1050;
    default:
        return 0;
    }
}

bool SimHdc1080::start(bool read, bool)
{
    m_reading = read;
    if (!read) {
        m_written.clear();
        return true;
    }
    if ((m_pointer == kTemperature || m_pointer == kHumidity) && Clock::tickUs() < m_readyAtUs)
        return false; // still converting
    m_readout.clear();
    const uint16_t first = registerValue(m_pointer);
    m_readout.append(char(first >> 8)).append(char(first & 0xFF));
    if (m_pointer == kTemperature && (m_configuration & kSequenceMode))
        m_readout.append(char(m_resultH >> 8)).append(char(m_resultH & 0xFF));
    return true;
}

bool SimHdc1080::writeByte(uint8_t byte)
{
    m_written.append(char(byte));
    if (m_written.size() == 1)
        m_pointer = byte;
    return true;
}

uint8_t SimHdc1080::readByte()
{
    if (m_readout.isEmpty())
        return 0xFF;
    const uint8_t byte = uint8_t(m_readout.at(0));
    m_readout.remove(0, 1);
    return byte;
}

void SimHdc1080::stop()
{
    if (m_reading) {
        m_reading = false;
        return;
    }
    if (m_written.size() == 3 && m_pointer == kConfiguration) {
        // Bit 15 is the software reset; bits 7..0 are reserved.
        m_configuration = uint16_t((uint8_t(m_written.at(1)) << 8) & 0x7F00);
        return;
    }
    if (m_written.size() != 1 || (m_pointer != kTemperature && m_pointer != kHumidity))
        return;
    // An acquisition: the values at its start, readable when it is over.
    const qint64 nowMs = Clock::tickMs();
    const bool sequence = m_configuration & kSequenceMode;
    const bool temperature = sequence || m_pointer == kTemperature;
    const bool humidity = sequence || m_pointer == kHumidity;
    qint64 durationUs = 0;
    if (temperature) {
        m_resultT = m_rawTemperature >= 0 ? uint16_t(m_rawTemperature) : raw(m_temperature.at(nowMs), 40.0, 165.0);
        durationUs += (m_configuration & kTemperature11Bit) ? 3650 : 6350;
    }
    if (humidity) {
        m_resultH = m_rawHumidity >= 0 ? uint16_t(m_rawHumidity) : raw(m_humidity.at(nowMs), 0.0, 100.0);
        const int resolution = (m_configuration >> 8) & 0x03;
        durationUs += resolution == 0 ? 6500 : resolution == 1 ? 3850 : 2500;
    }
    m_readyAtUs = Clock::tickUs() + durationUs;
    ++m_acquisitions;
}

std::unique_ptr<SimI2cSlave> SimHdc1080::fromJson(const QJsonObject &entry, QString *error)
{
    auto chip = std::make_unique<SimHdc1080>();
    QByteArray serial;
    if (!SimTemperature::fromJson(entry, "temperature", &chip->m_temperature, error)
        || !SimTemperature::fromJson(entry, "humidity", &chip->m_humidity, error, "%RH")
        || !SimJson::readInt(entry, "rawTemperature", 0, 65535, &chip->m_rawTemperature, error)
        || !SimJson::readInt(entry, "rawHumidity", 0, 65535, &chip->m_rawHumidity, error)
        || !SimJson::readHex(entry, "serial", 6, &serial, error))
        return nullptr;
    for (int i = 0; i < serial.size() / 2; ++i)
        chip->m_serial[i] = uint16_t(uint8_t(serial.at(2 * i)) << 8 | uint8_t(serial.at(2 * i + 1)));
    return chip;
}
