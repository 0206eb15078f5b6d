#include "sim/simds18s20.h"

#include "sim/simjson.h"

#include <cmath>

namespace {

const int kCountPerC = 16;

} // namespace

SimDs18s20::SimDs18s20(const QByteArray &rom, double celsius)
    : SimDs18x20(rom, QByteArray::fromHex("4B46"))
{
    setTemperature(SimTemperature(celsius));
    m_registers[4] = char(0xFF);
    m_registers[5] = char(0xFF);
    m_registers[7] = char(kCountPerC);
    powerCycle();
}

// The register holds the temperature rounded to 0.5 °C; the counts give the
// 1/16 °C the datasheet's formula recovers:
// T = TEMP_READ - 0.25 + (COUNT_PER_C - COUNT_REMAIN) / COUNT_PER_C,
// TEMP_READ being the register without its 0.5 °C bit.
void SimDs18s20::storeTemperature(double celsius)
{
    const double clamped = qBound(-55.0, celsius, 125.0);
    const int halfDegrees = int(std::lround(clamped * 2.0));
    const int sixteenths = int(std::lround(clamped * 16.0));
    const int tempRead = halfDegrees >> 1; // whole degrees, rounded down
    int countRemain = qBound(0, 12 - sixteenths + kCountPerC * tempRead, kCountPerC);
    if (m_countReadings > 0) {
        --m_countReadings;
        countRemain = kCountPerC - 1;
    }
    m_registers[0] = char(halfDegrees & 0xFF);
    m_registers[1] = char((halfDegrees >> 8) & 0xFF);
    m_registers[6] = char(countRemain);
    m_registers[7] = char(kCountPerC);
}

// Bits 8..1 of the register: whole degrees, rounded down.
int SimDs18s20::comparedDegrees() const
{
    const int raw = int16_t((uint8_t(m_registers.at(1)) << 8) | uint8_t(m_registers.at(0)));
    return raw >> 1;
}

void SimDs18s20::storePowerOnValue(QByteArray &registers) const
{
    registers[0] = char(0xAA);
    registers[1] = char(0x00);
    registers[6] = char(0x0C);
    registers[7] = char(kCountPerC);
}

std::unique_ptr<SimDevice> SimDs18s20::fromJson(const QByteArray &rom, const QJsonObject &entry, QString *error)
{
    auto chip = std::make_unique<SimDs18s20>(rom);
    if (!chip->configure(entry, error)
        || !SimJson::readInt(entry, "countReadings", 0, 1000000, &chip->m_countReadings, error))
        return nullptr;
    return chip;
}
