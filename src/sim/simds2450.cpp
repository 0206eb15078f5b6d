#include "sim/simds2450.h"

#include "bus/crc.h"
#include "sim/simjson.h"

#include <cmath>

namespace {

const uint8_t kReadMemory = 0xAA;
const uint8_t kWriteMemory = 0x55;
const uint8_t kConvert = 0x3C;
const int kVccByte = 0x1C;

} // namespace

SimDs2450::SimDs2450(const QByteArray &rom)
    : SimDevice(rom)
    , m_memory(32, '\0')
{
    for (int i = 0; i < 4; ++i) {
        m_inputs[i] = SimTemperature(0.0);
        setup(i, 16, true);
    }
    setVccPowered(true);
}

void SimDs2450::setup(int channel, int bits, bool highRange)
{
    const int base = 8 + 2 * (channel & 3);
    m_memory[base] = char(qBound(1, bits, 16) & 0x0F);
    m_memory[base + 1] = char((uint8_t(m_memory.at(base + 1)) & 0xBC) | (highRange ? 0x01 : 0x00));
}

void SimDs2450::setVccPowered(bool on)
{
    m_memory[kVccByte] = char(on ? 0x40 : 0x00);
}

QByteArray SimDs2450::memory()
{
    finishConversion();
    return m_memory;
}

qint64 SimDs2450::conversionUs() const
{
    qint64 us = 160;
    for (int i = 0; i < 4; ++i) {
        if (m_mask & (1 << i)) {
            const int code = uint8_t(m_memory.at(8 + 2 * i)) & 0x0F;
            us += 80 * (code == 0 ? 16 : code);
        }
    }
    return us;
}

void SimDs2450::finishConversion()
{
    bool powered = false;
    if (!m_conversion.takeFinished(&powered) || !powered)
        return;
    for (int i = 0; i < 4; ++i) {
        if (!(m_mask & (1 << i)))
            continue;
        const int code = uint8_t(m_memory.at(8 + 2 * i)) & 0x0F;
        const int bits = code == 0 ? 16 : code;
        const double range = (uint8_t(m_memory.at(9 + 2 * i)) & 0x01) ? 5.12 : 2.56;
        const double volts = m_inputs[i].at(m_conversion.startMs());
        const long steps = qBound(0L, long(std::floor(volts / range * (1 << bits))), long((1 << bits) - 1));
        const uint16_t raw = uint16_t(steps << (16 - bits));
        m_memory[2 * i] = char(raw & 0xFF);
        m_memory[2 * i + 1] = char(raw >> 8);
    }
}

QByteArray SimDs2450::pageEnd(const QByteArray &covered, uint16_t seed)
{
    QByteArray crc = Crc::withInverted16(covered, seed).right(2);
    if (m_crcErrors > 0) {
        --m_crcErrors;
        crc[0] = char(crc.at(0) ^ 0x5A);
    }
    return crc;
}

uint8_t SimDs2450::functionByte(uint8_t fromMaster)
{
    finishConversion();
    switch (m_phase) {
    case Phase::Command:
        m_command = fromMaster;
        m_crcOver = QByteArray(1, char(fromMaster));
        m_crcSeed = 0;
        m_addressBytes = 0;
        m_address = 0;
        if (fromMaster == kReadMemory || fromMaster == kWriteMemory)
            m_phase = Phase::Address;
        else if (fromMaster == kConvert)
            m_phase = Phase::ConvertArgs;
        else
            m_phase = Phase::Idle;
        return 0xFF;
    case Phase::Address:
        m_crcOver += char(fromMaster);
        m_address |= fromMaster << (8 * m_addressBytes);
        if (++m_addressBytes < 2)
            return 0xFF;
        if (m_address > 0x1F) {
            m_phase = Phase::Idle;
            return 0xFF;
        }
        m_phase = m_command == kReadMemory ? Phase::ReadMemory : Phase::WriteData;
        m_out.clear();
        return 0xFF;
    case Phase::ReadMemory:
        if (m_out.isEmpty()) {
            if (m_address > 0x1F) {
                m_phase = Phase::Idle;
                return 0xFF;
            }
            // The rest of this page, then its CRC-16.
            const int end = (m_address | 7) + 1;
            QByteArray data = m_memory.mid(m_address, end - m_address);
            if (m_address == 0 && m_fixedBitErrors > 0) {
                --m_fixedBitErrors;
                data[0] = char(data.at(0) | 0x01);
            }
            if (m_address == 8 && m_controlBitErrors > 0) {
                --m_controlBitErrors;
                data[0] = char(data.at(0) | 0x20);
            }
            m_out = data + pageEnd(m_crcOver + data);
            m_crcOver.clear();
            m_address = end;
        }
        {
            const uint8_t byte = uint8_t(m_out.at(0));
            m_out.remove(0, 1);
            return byte;
        }
    case Phase::WriteData: {
        m_crcOver += char(fromMaster);
        // Bits that read 0 cannot be set; the result page cannot be written.
        uint8_t value = fromMaster;
        if (m_address >= 8 && m_address < 16)
            value = (m_address & 1) ? uint8_t(value & 0xBD) : uint8_t(value & 0xCF);
        if (m_address >= 8)
            m_memory[m_address] = char(value);
        m_out = pageEnd(m_crcOver, m_crcSeed) + char(m_memory.at(m_address));
        m_phase = Phase::WriteCrc;
        return 0xFF;
    }
    case Phase::WriteCrc:
    case Phase::WriteBack: {
        const uint8_t byte = uint8_t(m_out.at(0));
        m_out.remove(0, 1);
        if (m_out.isEmpty()) {
            // The next byte written goes to the next address: the CRC
            // generator starts from that address, then takes the byte.
            ++m_address;
            m_crcOver.clear();
            m_crcSeed = uint16_t(m_address);
            m_phase = m_address > 0x1F ? Phase::Idle : Phase::WriteData;
        }
        return byte;
    }
    case Phase::ConvertArgs:
        m_crcOver += char(fromMaster);
        if (m_crcOver.size() == 3) {
            m_mask = uint8_t(m_crcOver.at(1)) & 0x0F;
            const uint8_t readout = uint8_t(m_crcOver.at(2));
            for (int i = 0; i < 4; ++i) {
                const int preset = (readout >> (2 * i)) & 3;
                if ((m_mask & (1 << i)) && (preset == 1 || preset == 2)) {
                    const char fill = preset == 2 ? char(0xFF) : char(0x00);
                    m_memory[2 * i] = fill;
                    m_memory[2 * i + 1] = fill;
                }
            }
            m_out = pageEnd(m_crcOver);
            m_phase = Phase::ConvertCrc;
        }
        return 0xFF;
    case Phase::ConvertCrc: {
        const uint8_t byte = uint8_t(m_out.at(0));
        m_out.remove(0, 1);
        if (m_out.isEmpty()) {
            // Without VCC the chip converts on the strong pull-up that the
            // master switches on right after this byte.
            m_conversion.start(conversionUs(), uint8_t(m_memory.at(kVccByte)) != 0x40);
            ++m_conversions;
            m_phase = Phase::Busy;
        }
        return byte;
    }
    case Phase::Busy:
        return m_conversion.busy() ? 0x00 : 0xFF;
    case Phase::Idle:
        break;
    }
    return 0xFF;
}

int SimDs2450::functionBit(int)
{
    finishConversion();
    if (m_phase == Phase::Busy)
        return m_conversion.busy() ? 0 : 1;
    return 1;
}

void SimDs2450::onReset()
{
    finishConversion();
    m_phase = Phase::Command;
    m_out.clear();
}

void SimDs2450::onStrongPullup(bool on)
{
    m_conversion.onStrongPullup(on);
}

std::unique_ptr<SimDevice> SimDs2450::fromJson(const QByteArray &rom, const QJsonObject &entry, QString *error)
{
    auto chip = std::make_unique<SimDs2450>(rom);
    int bits = 16;
    double range = 5.12;
    bool vcc = true;
    static const char *const inputs[4] = {"inputA", "inputB", "inputC", "inputD"};
    for (int i = 0; i < 4; ++i) {
        if (!SimTemperature::fromJson(entry, inputs[i], &chip->m_inputs[i], error, "V"))
            return nullptr;
    }
    if (!SimJson::readInt(entry, "resolution", 1, 16, &bits, error) || !SimJson::readNumber(entry, "range", &range, error)
        || !SimJson::readBool(entry, "vcc", &vcc, error)
        || !SimJson::readInt(entry, "crcErrors", 0, 1000000, &chip->m_crcErrors, error))
        return nullptr;
    if (range != 2.56 && range != 5.12) {
        *error = QStringLiteral("range: expected 2.56 or 5.12");
        return nullptr;
    }
    for (int i = 0; i < 4; ++i)
        chip->setup(i, bits, range == 5.12);
    chip->setVccPowered(vcc);
    return chip;
}
