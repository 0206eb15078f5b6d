#include "sim/simmax31850.h"

#include "bus/crc.h"
#include "sim/simjson.h"
#include "sim/typek.h"

#include <cmath>

namespace {

const uint8_t kConvertT = 0x44;
const uint8_t kReadScratchpad = 0xBE;
const uint8_t kReadPowerSupply = 0xB4;
const qint64 kConversionUs = 100000;
const double kSlopeMvPerC = 0.041276;

} // namespace

SimMax31850::SimMax31850(const QByteArray &rom, double hotCelsius, double coldCelsius)
    : SimDevice(rom)
    , m_hot(hotCelsius)
    , m_cold(coldCelsius)
    , m_registers(QByteArray::fromHex("00000000F0FFFFFF"))
{
}

double SimMax31850::chipCelsius(double hotCelsius, double coldCelsius)
{
    return coldCelsius + (TypeK::emfMv(hotCelsius) - TypeK::emfMv(coldCelsius)) / kSlopeMvPerC;
}

double SimMax31850::reportedCelsius(double hotCelsius, double coldCelsius) const
{
    return chipCelsius(hotCelsius, coldCelsius);
}

void SimMax31850::pinScratchpad(const QByteArray &eightBytes)
{
    m_pinned = eightBytes.left(8);
    m_registers = m_pinned;
}

QByteArray SimMax31850::scratchpad()
{
    finishConversion();
    return m_registers + char(Crc::dallas8(m_registers));
}

void SimMax31850::finishConversion()
{
    bool powered = false;
    if (!m_conversion.takeFinished(&powered) || !m_pinned.isEmpty())
        return;
    const qint64 atMs = m_conversion.startMs();
    const double cold = m_cold.at(atMs);
    // 14-bit thermocouple value in bits 15..2, 12-bit cold junction in bits
    // 15..4, both two's complement: the chip saturates at the ends of its
    // range, so out-of-range temperatures are clamped before they are
    // rounded to a whole number of steps.
    const int hotRaw = int(std::lround(qBound(-8192.0, reportedCelsius(m_hot.at(atMs), cold) / 0.25, 8191.0)));
    const int coldRaw = int(std::lround(qBound(-2048.0, cold / 0.0625, 2047.0)));
    const uint16_t hotWord = uint16_t(uint16_t(hotRaw) << 2 | (m_fault != NoFault ? 1 : 0));
    const uint16_t coldWord = uint16_t(uint16_t(coldRaw) << 4 | m_fault);
    m_registers[0] = char(hotWord & 0xFF);
    m_registers[1] = char((hotWord >> 8) & 0xFF);
    m_registers[2] = char(coldWord & 0xFF);
    m_registers[3] = char((coldWord >> 8) & 0xFF);
}

void SimMax31850::startCommand(uint8_t command)
{
    m_index = 0;
    switch (command) {
    case kConvertT:
        m_conversion.start(kConversionUs, false);
        ++m_conversionsStarted;
        m_phase = Phase::Convert;
        break;
    case kReadScratchpad:
        m_readout = m_registers + char(Crc::dallas8(m_registers));
        if (m_crcErrors > 0) {
            --m_crcErrors;
            m_readout[8] = char(m_readout.at(8) ^ 0x5A);
        }
        m_phase = Phase::ReadScratchpad;
        break;
    case kReadPowerSupply:
        m_phase = Phase::ReadPowerSupply;
        break;
    default:
        m_phase = startExtraCommand(command) ? Phase::Extra : Phase::Idle;
        break;
    }
}

uint8_t SimMax31850::functionByte(uint8_t fromMaster)
{
    finishConversion();
    switch (m_phase) {
    case Phase::Command:
        startCommand(fromMaster);
        return 0xFF;
    case Phase::ReadScratchpad:
        return m_index < m_readout.size() ? uint8_t(m_readout.at(m_index++)) : 0xFF;
    case Phase::Convert:
        return m_conversion.busy() ? 0x00 : 0xFF;
    case Phase::Extra:
        return extraCommandByte(fromMaster);
    case Phase::ReadPowerSupply: // external power: the slots read 1
    case Phase::Idle:
        break;
    }
    return 0xFF;
}

int SimMax31850::functionBit(int)
{
    finishConversion();
    switch (m_phase) {
    case Phase::Convert:
        return m_conversion.busy() ? 0 : 1;
    default:
        return 1;
    }
}

void SimMax31850::onReset()
{
    finishConversion();
    m_phase = Phase::Command;
    m_index = 0;
}

void SimMax31850::onStrongPullup(bool on)
{
    m_conversion.onStrongPullup(on);
}

bool SimMax31850::configure(const QJsonObject &entry, QString *error)
{
    QString fault = QStringLiteral("none");
    int address = 0;
    QByteArray pinned;
    const QJsonValue faultValue = entry.value(QStringLiteral("fault"));
    if (!faultValue.isUndefined())
        fault = faultValue.toString();
    if (!SimTemperature::fromJson(entry, "temperature", &m_hot, error)
        || !SimTemperature::fromJson(entry, "coldJunction", &m_cold, error)
        || !SimJson::readInt(entry, "address", 0, 15, &address, error)
        || !SimJson::readHex(entry, "scratchpad", 8, &pinned, error)
        || !SimJson::readInt(entry, "crcErrors", 0, 1000000, &m_crcErrors, error))
        return false;
    if (fault == QLatin1String("none"))
        m_fault = NoFault;
    else if (fault == QLatin1String("open"))
        m_fault = OpenCircuit;
    else if (fault == QLatin1String("shortGnd"))
        m_fault = ShortToGnd;
    else if (fault == QLatin1String("shortVdd"))
        m_fault = ShortToVdd;
    else {
        *error = QStringLiteral("fault: expected \"none\", \"open\", \"shortGnd\" or \"shortVdd\"");
        return false;
    }
    // Byte 4: the address pins AD3..AD0 in bits 3..0.
    m_registers[4] = char(0xF0 | address);
    if (!pinned.isEmpty())
        pinScratchpad(pinned);
    return true;
}

std::unique_ptr<SimDevice> SimMax31850::fromJson(const QByteArray &rom, const QJsonObject &entry, QString *error)
{
    auto chip = std::make_unique<SimMax31850>(rom);
    if (!chip->configure(entry, error))
        return nullptr;
    return chip;
}
