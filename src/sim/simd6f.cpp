#include "sim/simd6f.h"

#include "base/clock.h"
#include "sim/simjson.h"

#include <QtGlobal>
#include <cmath>

namespace {

const uint8_t kInitialise = 0x0B;
const uint8_t kAccess = 0x00;
const uint8_t kReadBuffer = 0x07;
const int kSensorControl = 0xD040;
const int kPressureResult = 0xD051;
const int kTemperatureResult = 0xD061;
const uint8_t kRequest = 0x08;
const uint8_t kReadRequest = 0x04;
const uint8_t kStartMeasurement = 0x06;
const qint64 kMeasurementUs = 33000;

uint16_t clampRaw(double raw)
{
    return uint16_t(qBound(0.0, std::round(raw), 65535.0));
}

} // namespace

SimD6f::SimD6f(double pascal, double celsius)
    : SimI2cSlave(kDefaultAddress)
    , m_pressure(pascal)
    , m_temperature(celsius)
{
}

void SimD6f::finishMeasurement()
{
    if (m_measuring && Clock::tickUs() >= m_readyAtUs) {
        m_measuring = false;
        m_resultP = m_nextP;
        m_resultT = m_nextT;
    }
}

uint8_t SimD6f::registerValue(int address)
{
    finishMeasurement();
    switch (address) {
    case kPressureResult:
        return uint8_t(m_resultP >> 8);
    case kPressureResult + 1:
        return uint8_t(m_resultP & 0xFF);
    case kTemperatureResult:
        return uint8_t(m_resultT >> 8);
    case kTemperatureResult + 1:
        return uint8_t(m_resultT & 0xFF);
    default:
        return 0x00;
    }
}

void SimD6f::serveRequest()
{
    finishMeasurement();
    if (m_requestAddress < 0 || m_measuring)
        return;
    m_buffer.clear();
    for (int i = 0; i < m_requestCount; ++i)
        m_buffer.append(char(registerValue(m_requestAddress + i)));
    m_requestAddress = -1;
}

bool SimD6f::start(bool read, bool)
{
    serveRequest();
    m_reading = read;
    if (!read)
        m_written.clear();
    return true;
}

bool SimD6f::writeByte(uint8_t byte)
{
    m_written.append(char(byte));
    if (m_written.size() == 1)
        m_readIndex = 0;
    return true;
}

uint8_t SimD6f::readByte()
{
    return m_readIndex < m_buffer.size() ? uint8_t(m_buffer.at(m_readIndex++)) : 0x00;
}

void SimD6f::stop()
{
    if (m_reading || m_written.isEmpty()) {
        m_reading = false;
        return;
    }
    const uint8_t first = uint8_t(m_written.at(0));
    if (first == kInitialise && m_written.size() == 2 && m_written.at(1) == 0) {
        m_initialised = true;
        return;
    }
    if (first != kAccess || m_written.size() < 4)
        return; // 0x07 alone only points at the read buffer
    const int address = uint8_t(m_written.at(1)) << 8 | uint8_t(m_written.at(2));
    const uint8_t control = uint8_t(m_written.at(3));
    const int count = control >> 4;
    if (!(control & kRequest))
        return;
    if (control & kReadRequest) {
        m_requestAddress = address;
        m_requestCount = count;
        serveRequest();
        return;
    }
    if (address == kSensorControl && m_written.size() >= 5 && uint8_t(m_written.at(4)) == kStartMeasurement) {
        finishMeasurement();
        const qint64 nowMs = Clock::tickMs();
        m_nextP = m_rawPressure >= 0 ? uint16_t(m_rawPressure)
                                     : clampRaw((m_pressure.at(nowMs) + 50.0) * 600.0 + 1024.0);
        m_nextT = m_rawTemperature >= 0 ? uint16_t(m_rawTemperature)
                                        : clampRaw(m_temperature.at(nowMs) * 37.39 + 10214.0);
        m_measuring = true;
        m_readyAtUs = Clock::tickUs() + kMeasurementUs;
    }
}

std::unique_ptr<SimI2cSlave> SimD6f::fromJson(const QJsonObject &entry, QString *error)
{
    auto chip = std::make_unique<SimD6f>();
    if (!SimTemperature::fromJson(entry, "pressurePa", &chip->m_pressure, error, "Pa")
        || !SimTemperature::fromJson(entry, "temperature", &chip->m_temperature, error)
        || !SimJson::readInt(entry, "rawPressure", 0, 65535, &chip->m_rawPressure, error)
        || !SimJson::readInt(entry, "rawTemperature", 0, 65535, &chip->m_rawTemperature, error))
        return nullptr;
    return chip;
}
