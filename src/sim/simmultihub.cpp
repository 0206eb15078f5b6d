#include "sim/simmultihub.h"

SimMultiHub::SimMultiHub(uint8_t address)
    : SimI2cSlave(address)
{
}

SimMultiHub::~SimMultiHub() = default;

SimI2cSlave *SimMultiHub::add(std::unique_ptr<SimI2cSlave> chip, int channel)
{
    Placement placement;
    placement.chip = std::move(chip);
    placement.channel = channel;
    m_placements.push_back(std::move(placement));
    return m_placements.back().chip.get();
}

void SimMultiHub::moveAfterCycles(SimI2cSlave *chip, int channel, int cycles)
{
    for (Placement &p : m_placements) {
        if (p.chip.get() == chip) {
            p.moveTo = channel;
            p.cyclesLeft = cycles;
        }
    }
}

int SimMultiHub::channelOf(const SimI2cSlave *chip) const
{
    for (const Placement &p : m_placements) {
        if (p.chip.get() == chip)
            return p.channel;
    }
    return -1;
}

QVector<SimI2cSlave *> SimMultiHub::chips() const
{
    QVector<SimI2cSlave *> all;
    for (const Placement &p : m_placements)
        all << p.chip.get();
    return all;
}

SimI2cSlave *SimMultiHub::routed(uint8_t address) const
{
    if (m_selected < 0)
        return nullptr;
    for (const Placement &p : m_placements) {
        if (p.channel == m_selected && p.chip->address() == address)
            return p.chip.get();
    }
    return nullptr;
}

void SimMultiHub::onCycle()
{
    for (Placement &p : m_placements) {
        if (p.moveTo < 0)
            continue;
        if (--p.cyclesLeft <= 0) {
            p.channel = p.moveTo;
            p.moveTo = -1;
        }
    }
}

bool SimMultiHub::start(bool, bool)
{
    return true;
}

bool SimMultiHub::writeByte(uint8_t byte)
{
    if (m_refused.contains(byte))
        return false;
    m_lastByte = byte;
    m_selected = byte < kChannels ? byte : -1;
    return true;
}

uint8_t SimMultiHub::readByte()
{
    return uint8_t(m_lastByte);
}
