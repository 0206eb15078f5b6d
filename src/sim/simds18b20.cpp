#include "sim/simds18b20.h"

#include "sim/simjson.h"

#include <cmath>

namespace {

// Only bits 6..5 (R1 R0) of the configuration byte can be written.
uint8_t configurationFor(uint8_t written)
{
    return uint8_t(0x1F | (written & 0x60));
}

} // namespace

SimDs18b20::SimDs18b20(const QByteArray &rom, double celsius)
    : SimDs18x20(rom, QByteArray::fromHex("4B467F"))
{
    setTemperature(SimTemperature(celsius));
    m_registers[5] = char(0xFF);
    m_registers[6] = char(0x0C);
    m_registers[7] = char(0x10);
    powerCycle();
}

void SimDs18b20::setResolution(int bits)
{
    storeRegister(4, uint8_t((qBound(9, bits, 12) - 9) << 5));
}

qint64 SimDs18b20::conversionTimeUs() const
{
    // 93.75 ms at 9 bits, doubling per bit up to 750 ms at 12.
    const int resolution = (uint8_t(m_registers.at(4)) >> 5) & 3;
    return 93750LL << resolution;
}

// The register always holds the 12-bit result; at a lower resolution its
// low bits are undefined on the real chip, and here they keep the finer
// digits, so a driver that does not clear them reads a wrong value.
void SimDs18b20::storeTemperature(double celsius)
{
    const int raw = int(std::lround(qBound(-55.0, celsius, 125.0) * 16.0));
    m_registers[0] = char(raw & 0xFF);
    m_registers[1] = char((raw >> 8) & 0xFF);
}

// Bits 11..4 of the register: whole degrees, rounded down.
int SimDs18b20::comparedDegrees() const
{
    const int raw = int16_t((uint8_t(m_registers.at(1)) << 8) | uint8_t(m_registers.at(0)));
    return raw >> 4;
}

void SimDs18b20::storePowerOnValue(QByteArray &registers) const
{
    registers[0] = char(0x50);
    registers[1] = char(0x05);
}

void SimDs18b20::writeRegister(int index, uint8_t value)
{
    SimDs18x20::writeRegister(index, index == 4 ? configurationFor(value) : value);
}

bool SimDs18b20::configureFromJson(SimDs18b20 &chip, const QJsonObject &entry, QString *error)
{
    int resolution = 12;
    if (!SimJson::readInt(entry, "resolution", 9, 12, &resolution, error))
        return false;
    chip.setResolution(resolution);
    return chip.configure(entry, error);
}

std::unique_ptr<SimDevice> SimDs18b20::fromJson(const QByteArray &rom, const QJsonObject &entry, QString *error)
{
    auto chip = std::make_unique<SimDs18b20>(rom);
    if (!configureFromJson(*chip, entry, error))
        return nullptr;
    return chip;
}
