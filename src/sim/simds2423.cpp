#include "sim/simds2423.h"

#include "base/clock.h"
#include "bus/crc.h"
#include "sim/simjson.h"

#include <cmath>

namespace {

const uint8_t kReadMemoryCounter = 0xA5;
const int kPages = 16;
const int kPageBytes = 32;

} // namespace

SimDs2423::SimDs2423(const QByteArray &rom)
    : SimDevice(rom)
    , m_memory(kPages * kPageBytes, '\0')
{
}

void SimDs2423::addPulses(int input, uint32_t pulses)
{
    m_counts[input & 1] += pulses;
}

void SimDs2423::setCount(int input, uint32_t count)
{
    m_counts[input & 1] = count;
}

uint32_t SimDs2423::count(int input) const
{
    // On the clock's tick, as every simulated quantity: a run repeats exactly.
    const double seconds = Clock::tickMs() / 1000.0;
    return m_counts[input & 1] + uint32_t(uint64_t(std::floor(m_ratePerS[input & 1] * seconds)));
}

uint8_t SimDs2423::functionByte(uint8_t fromMaster)
{
    switch (m_phase) {
    case Phase::Command:
        m_phase = fromMaster == kReadMemoryCounter ? Phase::Address : Phase::Idle;
        m_crcOver = QByteArray(1, char(fromMaster));
        m_address = 0;
        m_addressBytes = 0;
        return 0xFF;
    case Phase::Address:
        m_crcOver += char(fromMaster);
        m_address |= fromMaster << (8 * m_addressBytes);
        if (++m_addressBytes == 2) {
            m_phase = m_address < kPages * kPageBytes ? Phase::Read : Phase::Idle;
            m_out.clear();
        }
        return 0xFF;
    case Phase::Read:
        if (m_out.isEmpty()) {
            if (m_address >= kPages * kPageBytes) {
                m_phase = Phase::Idle;
                return 0xFF;
            }
            const int page = m_address / kPageBytes;
            const int end = (page + 1) * kPageBytes;
            QByteArray data = m_memory.mid(m_address, end - m_address);
            const uint32_t counter = page >= 14 ? count(page - 14) : 0;
            for (int i = 0; i < 4; ++i)
                data += char((counter >> (8 * i)) & 0xFF);
            data += QByteArray(4, '\0');
            if (m_fixedBitErrors > 0) {
                --m_fixedBitErrors;
                data[data.size() - 1] = char(0x01);
            }
            QByteArray crc = Crc::withInverted16(m_crcOver + data).right(2);
            if (m_crcErrors > 0) {
                --m_crcErrors;
                crc[1] = char(crc.at(1) ^ 0x3C);
            }
            m_out = data + crc;
            m_crcOver.clear();
            m_address = end;
        }
        {
            const uint8_t byte = uint8_t(m_out.at(0));
            m_out.remove(0, 1);
            return byte;
        }
    case Phase::Idle:
        break;
    }
    return 0xFF;
}

void SimDs2423::onReset()
{
    m_phase = Phase::Command;
    m_out.clear();
}

std::unique_ptr<SimDevice> SimDs2423::fromJson(const QByteArray &rom, const QJsonObject &entry, QString *error)
{
    auto chip = std::make_unique<SimDs2423>(rom);
    double counts[2] = {0, 0};
    if (!SimJson::readNumber(entry, "counterA", &counts[0], error)
        || !SimJson::readNumber(entry, "counterB", &counts[1], error)
        || !SimJson::readNumber(entry, "rateA", &chip->m_ratePerS[0], error)
        || !SimJson::readNumber(entry, "rateB", &chip->m_ratePerS[1], error)
        || !SimJson::readInt(entry, "crcErrors", 0, 1000000, &chip->m_crcErrors, error))
        return nullptr;
    static const char *const keys[2] = {"counterA", "counterB"};
    static const char *const rates[2] = {"rateA", "rateB"};
    for (int i = 0; i < 2; ++i) {
        if (!(counts[i] >= 0 && counts[i] <= 4294967295.0 && counts[i] == std::floor(counts[i]))) {
            *error = QLatin1String(keys[i]) + QStringLiteral(": expected a whole number from 0 to 4294967295");
            return nullptr;
        }
        if (!(chip->m_ratePerS[i] >= 0 && chip->m_ratePerS[i] <= 1e6)) {
            *error = QLatin1String(rates[i]) + QStringLiteral(": expected pulses a second from 0 to 1000000");
            return nullptr;
        }
        chip->m_counts[i] = uint32_t(counts[i]);
    }
    return chip;
}
