#include "sim/simds2408.h"

#include "bus/crc.h"
#include "sim/simjson.h"

namespace {

const uint8_t kReadPioRegisters = 0xF0;
const uint8_t kChannelAccessRead = 0xF5;
const uint8_t kChannelAccessWrite = 0x5A;
const uint8_t kResetActivityLatches = 0xC3;
const int kFirstRegister = 0x88;
const int kLastRegister = 0x8F;

} // namespace

SimDs2408::SimDs2408(const QByteArray &rom)
    : SimDevice(rom)
{
}

uint8_t SimDs2408::pins() const
{
    return uint8_t(m_inputs & m_latches);
}

void SimDs2408::pinsChanged(uint8_t before)
{
    m_activity |= uint8_t(before ^ pins());
}

void SimDs2408::setInputs(uint8_t levels)
{
    const uint8_t before = pins();
    m_inputs = levels;
    pinsChanged(before);
}

void SimDs2408::setOutputs(uint8_t on)
{
    const uint8_t before = pins();
    m_latches = uint8_t(~on);
    pinsChanged(before);
}

QByteArray SimDs2408::registers() const
{
    QByteArray bytes;
    bytes += char(pins());
    bytes += char(m_latches);
    bytes += char(m_activity);
    bytes += char(0x00);       // conditional search channel selection
    bytes += char(0x00);       // its polarity
    bytes += char(0x80);       // control/status: VCC powered
    bytes += char(0xFF);
    bytes += char(0xFF);
    return bytes;
}

uint8_t SimDs2408::functionByte(uint8_t fromMaster)
{
    switch (m_phase) {
    case Phase::Command:
        m_command = fromMaster;
        m_crcOver = QByteArray(1, char(fromMaster));
        m_address = 0;
        m_addressBytes = 0;
        m_out.clear();
        if (fromMaster == kReadPioRegisters) {
            m_phase = Phase::Address;
        } else if (fromMaster == kChannelAccessRead) {
            m_samples = 0;
            m_phase = Phase::ChannelRead;
        } else if (fromMaster == kChannelAccessWrite) {
            m_phase = Phase::WriteValue;
        } else if (fromMaster == kResetActivityLatches) {
            m_activity = 0;
            m_out = QByteArray(1, char(0xAA));
            m_phase = Phase::Idle;
        } else {
            m_phase = Phase::Idle;
        }
        return 0xFF;
    case Phase::Address:
        m_crcOver += char(fromMaster);
        m_address |= fromMaster << (8 * m_addressBytes);
        if (++m_addressBytes == 2) {
            if (m_address < kFirstRegister || m_address > kLastRegister) {
                m_phase = Phase::Idle;
            } else {
                const QByteArray data = registers().mid(m_address - kFirstRegister);
                QByteArray crc = Crc::withInverted16(m_crcOver + data).right(2);
                if (m_crcErrors > 0) {
                    --m_crcErrors;
                    crc[0] = char(crc.at(0) ^ 0x21);
                }
                m_out = data + crc;
                m_phase = Phase::Send;
            }
        }
        return 0xFF;
    case Phase::Send:
        if (m_out.isEmpty())
            return 0xFF;
        {
            const uint8_t byte = uint8_t(m_out.at(0));
            m_out.remove(0, 1);
            return byte;
        }
    case Phase::ChannelRead:
        if (!m_out.isEmpty()) {
            const uint8_t byte = uint8_t(m_out.at(0));
            m_out.remove(0, 1);
            return byte;
        }
        m_crcOver += char(pins());
        if (++m_samples == 32) {
            m_out = Crc::withInverted16(m_crcOver).right(2);
            m_crcOver.clear();
            m_samples = 0;
        }
        return pins();
    case Phase::WriteValue:
        m_written = fromMaster;
        m_phase = Phase::WriteComplement;
        return 0xFF;
    case Phase::WriteComplement:
        if (fromMaster == uint8_t(~m_written)) {
            setOutputs(uint8_t(~m_written));
            m_out = QByteArray(1, char(0xAA)) + char(pins());
            m_phase = Phase::Send;
        } else {
            m_phase = Phase::Idle;
        }
        return 0xFF;
    case Phase::Idle:
        if (!m_out.isEmpty()) {
            const uint8_t byte = uint8_t(m_out.at(0));
            m_out.remove(0, 1);
            return byte;
        }
        break;
    }
    return 0xFF;
}

void SimDs2408::onReset()
{
    m_phase = Phase::Command;
    m_out.clear();
}

std::unique_ptr<SimDevice> SimDs2408::fromJson(const QByteArray &rom, const QJsonObject &entry, QString *error)
{
    auto chip = std::make_unique<SimDs2408>(rom);
    int inputs = 0xFF;
    int outputs = 0;
    if (!SimJson::readInt(entry, "inputs", 0, 255, &inputs, error)
        || !SimJson::readInt(entry, "outputs", 0, 255, &outputs, error)
        || !SimJson::readInt(entry, "crcErrors", 0, 1000000, &chip->m_crcErrors, error))
        return nullptr;
    chip->m_inputs = uint8_t(inputs);
    chip->m_latches = uint8_t(~outputs);
    return chip;
}
