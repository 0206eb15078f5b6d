#include "sim/simds1825.h"

#include "sim/simjson.h"

SimDs1825::SimDs1825(const QByteArray &rom, double celsius, int address)
    : SimDs18b20(rom, celsius)
    , m_address(address & 0x0F)
{
    setResolution(12);
    powerCycle();
}

void SimDs1825::writeRegister(int index, uint8_t value)
{
    // Only R1 R0 can be written; bit 7 reads 0, bit 4 reads 1, the rest are the pins.
    if (index == 4)
        value = uint8_t(0x10 | (value & 0x60) | m_address);
    SimDs18x20::writeRegister(index, value);
}

std::unique_ptr<SimDevice> SimDs1825::fromJson(const QByteArray &rom, const QJsonObject &entry, QString *error)
{
    int address = 0;
    if (!SimJson::readInt(entry, "address", 0, 15, &address, error))
        return nullptr;
    auto chip = std::make_unique<SimDs1825>(rom, 20.0, address);
    if (!configureFromJson(*chip, entry, error))
        return nullptr;
    return chip;
}
