#include "sim/simds2438.h"

#include "base/clock.h"
#include "bus/crc.h"
#include "sim/simjson.h"

#include <cmath>

namespace {

const uint8_t kWriteScratchpad = 0x4E;
const uint8_t kReadScratchpad = 0xBE;
const uint8_t kCopyScratchpad = 0x48;
const uint8_t kRecallMemory = 0xB8;
const uint8_t kConvertT = 0x44;
const uint8_t kConvertV = 0xB4;
const uint8_t kAdBit = 0x08;
const uint8_t kTemperatureBusy = 0x10;
const uint8_t kAdcBusy = 0x40;
const qint64 kConversionUs = 10000;

void putWord(QByteArray &bytes, int index, int value)
{
    bytes[index] = char(value & 0xFF);
    bytes[index + 1] = char((value >> 8) & 0xFF);
}

} // namespace

SimDs2438::SimDs2438(const QByteArray &rom)
    : SimDevice(rom)
    , m_celsius(21.0)
    , m_vdd(5.0)
    , m_vad(2.0)
    , m_memory(64, '\0')
{
    m_memory[0] = char(0x0F);
    m_scratchpad = m_memory;
}

QStringList SimDs2438::options() const
{
    return m_hasHumidity ? QStringList{QStringLiteral("hih4000")} : QStringList();
}

void SimDs2438::setHumidity(const SimTemperature &percent)
{
    m_humidity = percent;
    m_hasHumidity = true;
}

double SimDs2438::vadAt(qint64 ms) const
{
    if (!m_hasHumidity)
        return m_vad.at(ms);
    const double celsius = m_celsius.at(ms);
    const double sensorRh = m_humidity.at(ms) * (1.0546 - 0.00216 * celsius);
    return m_vdd.at(ms) * (0.0062 * sensorRh + 0.16);
}

qint64 SimDs2438::conversionUs()
{
    if (m_slowConversions <= 0)
        return kConversionUs;
    --m_slowConversions;
    return kConversionUs + m_extraUs;
}

void SimDs2438::finishConversions()
{
    bool powered = false;
    if (m_temperatureConversion.takeFinished(&powered)) {
        const double celsius = qBound(-55.0, m_celsius.at(m_temperatureConversion.startMs()), 125.0);
        putWord(m_memory, 1, int(std::lround(celsius * 32.0)) * 8);
    }
    if (m_voltageConversion.takeFinished(&powered)) {
        const qint64 ms = m_voltageConversion.startMs();
        const double volts = (uint8_t(m_memory.at(0)) & kAdBit) ? m_vdd.at(ms) : vadAt(ms);
        putWord(m_memory, 3, int(qBound(0L, std::lround(volts / 0.01), 1023L)));
    }
    uint8_t status = uint8_t(m_memory.at(0)) & 0x0F;
    if (m_temperatureConversion.busy())
        status |= kTemperatureBusy;
    if (m_voltageConversion.busy())
        status |= kAdcBusy;
    m_memory[0] = char(status);
    // Measured on its own while IAD is set: 10 bits, sign-extended.
    if (status & 0x01)
        putWord(m_memory, 5, int(qBound(-1023L, std::lround(m_senseVolts / 0.0002441), 1023L)));
}

QByteArray SimDs2438::page0()
{
    finishConversions();
    return m_memory.left(8);
}

uint8_t SimDs2438::functionByte(uint8_t fromMaster)
{
    finishConversions();
    switch (m_phase) {
    case Phase::Command:
        m_command = fromMaster;
        m_index = 0;
        switch (fromMaster) {
        case kWriteScratchpad:
        case kReadScratchpad:
        case kCopyScratchpad:
        case kRecallMemory:
            m_phase = Phase::Page;
            break;
        case kConvertT:
            m_temperatureConversion.start(conversionUs(), false);
            ++m_conversions;
            m_phase = Phase::Busy;
            break;
        case kConvertV:
            m_voltageConversion.start(conversionUs(), false);
            ++m_conversions;
            m_phase = Phase::Busy;
            break;
        default:
            m_phase = Phase::Idle;
            break;
        }
        return 0xFF;
    case Phase::Page:
        m_page = fromMaster & 0x07;
        m_phase = Phase::Idle;
        if (fromMaster > 7)
            return 0xFF;
        if (m_command == kWriteScratchpad) {
            m_writeLost = m_lostWrites > 0;
            if (m_writeLost)
                --m_lostWrites;
            m_phase = Phase::WriteScratchpad;
        } else if (m_command == kReadScratchpad) {
            m_readout = m_scratchpad.mid(m_page * 8, 8);
            if (m_page == 0 && m_fixedBitErrors > 0) {
                --m_fixedBitErrors;
                m_readout[1] = char(m_readout.at(1) | 0x01);
            }
            m_readout += char(Crc::dallas8(m_readout));
            if (m_crcErrors > 0) {
                --m_crcErrors;
                m_readout[8] = char(m_readout.at(8) ^ 0x5A);
            }
            m_phase = Phase::ReadScratchpad;
        } else if (m_command == kRecallMemory) {
            m_scratchpad.replace(m_page * 8, 8, m_memory.mid(m_page * 8, 8));
        } else if (m_command == kCopyScratchpad) {
            // Page 0: only the configuration bits and the threshold are memory.
            if (m_page == 0) {
                m_memory[0] = char((uint8_t(m_memory.at(0)) & 0xF0) | (uint8_t(m_scratchpad.at(0)) & 0x0F));
                m_memory[7] = m_scratchpad.at(7);
            } else {
                m_memory.replace(m_page * 8, 8, m_scratchpad.mid(m_page * 8, 8));
            }
        }
        return 0xFF;
    case Phase::WriteScratchpad:
        if (m_index < 8 && !m_writeLost) {
            m_scratchpad[m_page * 8 + m_index] = char(fromMaster);
            if (m_page == 0 && m_index == 0)
                m_memory[0] = char((uint8_t(m_memory.at(0)) & 0xF0) | (fromMaster & 0x0F));
        }
        ++m_index;
        return 0xFF;
    case Phase::ReadScratchpad:
        return m_index < m_readout.size() ? uint8_t(m_readout.at(m_index++)) : 0xFF;
    case Phase::Busy:
        return (m_temperatureConversion.busy() || m_voltageConversion.busy()) ? 0x00 : 0xFF;
    case Phase::Idle:
        break;
    }
    return 0xFF;
}

int SimDs2438::functionBit(int)
{
    finishConversions();
    if (m_phase == Phase::Busy)
        return (m_temperatureConversion.busy() || m_voltageConversion.busy()) ? 0 : 1;
    return 1;
}

void SimDs2438::onReset()
{
    finishConversions();
    m_phase = Phase::Command;
    m_index = 0;
}

std::unique_ptr<SimDevice> SimDs2438::fromJson(const QByteArray &rom, const QJsonObject &entry, QString *error)
{
    auto chip = std::make_unique<SimDs2438>(rom);
    SimTemperature humidity;
    const bool hasHumidity = entry.contains(QStringLiteral("humidity"));
    if (!SimTemperature::fromJson(entry, "temperature", &chip->m_celsius, error)
        || !SimTemperature::fromJson(entry, "vdd", &chip->m_vdd, error, "V")
        || !SimTemperature::fromJson(entry, "vad", &chip->m_vad, error, "V")
        || !SimTemperature::fromJson(entry, "humidity", &humidity, error, "%")
        || !SimJson::readNumber(entry, "senseVolts", &chip->m_senseVolts, error)
        || !SimJson::readInt(entry, "crcErrors", 0, 1000000, &chip->m_crcErrors, error))
        return nullptr;
    if (hasHumidity)
        chip->setHumidity(humidity);
    return chip;
}
