#include "sim/simds2413.h"

#include "sim/simjson.h"

namespace {

const uint8_t kPioAccessRead = 0xF5;
const uint8_t kPioAccessWrite = 0x5A;

} // namespace

SimDs2413::SimDs2413(const QByteArray &rom)
    : SimDevice(rom)
{
}

uint8_t SimDs2413::status() const
{
    uint8_t low = 0;
    for (int pio = 0; pio < 2; ++pio) {
        if (m_inputs[pio] && !m_outputs[pio])
            low |= uint8_t(1 << (2 * pio));
        if (!m_outputs[pio])
            low |= uint8_t(2 << (2 * pio));
    }
    return uint8_t(low | ((~low & 0x0F) << 4));
}

uint8_t SimDs2413::functionByte(uint8_t fromMaster)
{
    switch (m_phase) {
    case Phase::Command:
        m_phase = fromMaster == kPioAccessRead ? Phase::Read : fromMaster == kPioAccessWrite ? Phase::WriteValue : Phase::Idle;
        return 0xFF;
    case Phase::Read:
        if (m_badStates > 0) {
            --m_badStates;
            return uint8_t(status() ^ 0x10);
        }
        return status();
    case Phase::WriteValue:
        m_written = fromMaster;
        m_phase = Phase::WriteComplement;
        return 0xFF;
    case Phase::WriteComplement:
        if (fromMaster != uint8_t(~m_written)) {
            m_phase = Phase::Idle;
            return 0xFF;
        }
        // Bit 0 latch A, bit 1 latch B: 0 turns the transistor on.
        m_outputs[0] = !(m_written & 0x01);
        m_outputs[1] = !(m_written & 0x02);
        m_answered = 0;
        m_phase = Phase::WriteAnswer;
        return 0xFF;
    case Phase::WriteAnswer:
        return m_answered++ == 0 ? 0xAA : status();
    case Phase::Idle:
        break;
    }
    return 0xFF;
}

void SimDs2413::onReset()
{
    m_phase = Phase::Command;
}

std::unique_ptr<SimDevice> SimDs2413::fromJson(const QByteArray &rom, const QJsonObject &entry, QString *error)
{
    auto chip = std::make_unique<SimDs2413>(rom);
    if (!SimJson::readBool(entry, "inputA", &chip->m_inputs[0], error)
        || !SimJson::readBool(entry, "inputB", &chip->m_inputs[1], error)
        || !SimJson::readBool(entry, "outputA", &chip->m_outputs[0], error)
        || !SimJson::readBool(entry, "outputB", &chip->m_outputs[1], error)
        || !SimJson::readInt(entry, "complementErrors", 0, 1000000, &chip->m_badStates, error))
        return nullptr;
    return chip;
}
