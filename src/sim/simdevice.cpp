#include "sim/simdevice.h"

SimDevice::SimDevice(const QByteArray &rom)
    : m_rom(rom.left(8))
{
    m_rom.resize(8);
}

SimDevice::~SimDevice() = default;

int SimDevice::romBit(int index) const
{
    return (uint8_t(m_rom.at(index / 8)) >> (index % 8)) & 1;
}

uint8_t SimDevice::functionByte(uint8_t)
{
    return 0xFF;
}

int SimDevice::functionBit(int)
{
    return 1;
}
