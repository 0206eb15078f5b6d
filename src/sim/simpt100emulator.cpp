#include "sim/simpt100emulator.h"

#include "sim/simjson.h"
#include "sim/typek.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

const uint8_t kReadOffset = 0xFC;
const uint8_t kWriteOffset = 0xFE;
const uint8_t kReadSubtype = 0xFA;
const uint8_t kWriteSubtype = 0xFB;

// True when the second half of `bytes` is the complement of the first.
bool complemented(const QByteArray &bytes)
{
    const int half = bytes.size() / 2;
    for (int i = 0; i < half; ++i) {
        if (uint8_t(bytes.at(i)) != uint8_t(~bytes.at(i + half)))
            return false;
    }
    return true;
}

} // namespace

SimPt100Emulator::SimPt100Emulator(const QByteArray &rom, double celsius, float offsetCelsius, uint8_t subtypeCode)
    : SimMax31850(rom, celsius)
    , m_offset(offsetCelsius)
    , m_subtypeCode(subtypeCode)
{
}

double SimPt100Emulator::reportedCelsius(double hotCelsius, double) const
{
    return TypeK::emfMv(hotCelsius + double(m_offset)) / 0.041276;
}

bool SimPt100Emulator::startExtraCommand(uint8_t command)
{
    m_command = command;
    m_index = 0;
    m_bytes.clear();
    switch (command) {
    case kReadOffset: {
        uint32_t bits;
        std::memcpy(&bits, &m_offset, sizeof bits);
        for (int shift = 0; shift < 32; shift += 8)
            m_bytes.append(char((bits >> shift) & 0xFF));
        for (int i = 0; i < 4; ++i)
            m_bytes.append(char(~m_bytes.at(i)));
        if (m_badCalibrationReads > 0) {
            --m_badCalibrationReads;
            m_bytes.fill(0);
        }
        return true;
    }
    case kReadSubtype:
        m_bytes.append(char(m_subtypeCode));
        m_bytes.append(char(~m_subtypeCode));
        return true;
    case kWriteOffset:
    case kWriteSubtype:
        return true;
    default:
        return false;
    }
}

uint8_t SimPt100Emulator::extraCommandByte(uint8_t fromMaster)
{
    if (m_command == kReadOffset || m_command == kReadSubtype)
        return m_index < m_bytes.size() ? uint8_t(m_bytes.at(m_index++)) : 0xFF;

    const int expected = m_command == kWriteOffset ? 8 : 2;
    if (m_bytes.size() >= expected)
        return 0xFF;
    m_bytes.append(char(fromMaster));
    if (m_bytes.size() == expected && complemented(m_bytes)) {
        if (m_command == kWriteOffset) {
            uint32_t bits = 0;
            for (int i = 0; i < 4; ++i)
                bits = (bits << 8) | uint8_t(m_bytes.at(i));
            std::memcpy(&m_offset, &bits, sizeof m_offset);
            ++m_offsetWrites;
        } else {
            m_subtypeCode = uint8_t(m_bytes.at(0));
        }
    }
    return 0xFF;
}

std::unique_ptr<SimDevice> SimPt100Emulator::fromJson(const QByteArray &rom, const QJsonObject &entry, QString *error)
{
    auto chip = std::make_unique<SimPt100Emulator>(rom);
    double offset = 0.0;
    int code = 0;
    if (!chip->configure(entry, error) || !SimJson::readNumber(entry, "offset", &offset, error)
        || !SimJson::readInt(entry, "subtypeCode", 0, 255, &code, error)
        || !SimJson::readInt(entry, "badCalibrationReads", 0, 1000000, &chip->m_badCalibrationReads, error))
        return nullptr;
    if (std::abs(offset) > double(std::numeric_limits<float>::max())) {
        *error = QStringLiteral("offset: expected a number within single precision");
        return nullptr;
    }
    chip->m_offset = float(offset);
    chip->m_subtypeCode = uint8_t(code);
    return chip;
}
