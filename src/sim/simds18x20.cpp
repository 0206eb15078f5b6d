#include "sim/simds18x20.h"

#include "bus/crc.h"
#include "sim/simjson.h"

namespace {

const uint8_t kConvertT = 0x44;
const uint8_t kReadScratchpad = 0xBE;
const uint8_t kWriteScratchpad = 0x4E;
const uint8_t kCopyScratchpad = 0x48;
const uint8_t kRecallE2 = 0xB8;
const uint8_t kReadPowerSupply = 0xB4;

} // namespace

SimDs18x20::SimDs18x20(const QByteArray &rom, const QByteArray &eeprom)
    : SimDevice(rom)
    , m_registers(8, char(0xFF))
    , m_eeprom(eeprom)
{
}

void SimDs18x20::powerCycle()
{
    m_conversion = SimConversion();
    m_phase = Phase::Idle;
    restart();
}

// After a conversion the whole degrees of the result are compared with the
// signed TH and TL bytes (inAlarm). One DS18B20 revision says T >= TH; the
// first reading is kept for it.
void SimDs18x20::updateAlarmFlag()
{
    m_alarmFlag = inAlarm(comparedDegrees(), int8_t(m_registers.at(2)), int8_t(m_registers.at(3)));
}

bool SimDs18x20::alarmCondition() const
{
    return m_alarmFlag;
}

void SimDs18x20::copyScratchpad()
{
    m_eeprom = m_registers.mid(2, m_eeprom.size());
}

void SimDs18x20::restart()
{
    if (m_pinned.isEmpty())
        storePowerOnValue(m_registers);
    else
        m_registers = m_pinned;
    recallEeprom();
    m_alarmFlag = false;
}

void SimDs18x20::recallEeprom()
{
    for (int i = 0; i < m_eeprom.size(); ++i)
        m_registers[2 + i] = m_eeprom.at(i);
}

void SimDs18x20::pinScratchpad(const QByteArray &eightBytes)
{
    m_pinned = eightBytes.left(8);
    m_registers = m_pinned;
    m_eeprom = m_pinned.mid(2, m_eeprom.size());
}

bool SimDs18x20::configure(const QJsonObject &entry, QString *error)
{
    int th = uint8_t(m_eeprom.at(0));
    int tl = uint8_t(m_eeprom.at(1));
    QByteArray pinned;
    if (!SimTemperature::fromJson(entry, "temperature", &m_temperature, error)
        || !SimJson::readInt(entry, "th", 0, 255, &th, error) || !SimJson::readInt(entry, "tl", 0, 255, &tl, error)
        || !SimJson::readBool(entry, "parasite", &m_parasite, error)
        || !SimJson::readHex(entry, "scratchpad", 8, &pinned, error)
        || !SimJson::readInt(entry, "powerOnReads", 0, 1000000, &m_powerOnReads, error)
        || !SimJson::readInt(entry, "crcErrors", 0, 1000000, &m_crcErrors, error))
        return false;
    m_eeprom[0] = char(th);
    m_eeprom[1] = char(tl);
    recallEeprom();
    if (!pinned.isEmpty())
        pinScratchpad(pinned);
    return true;
}

QByteArray SimDs18x20::withCrc(const QByteArray &registers) const
{
    return registers + char(Crc::dallas8(registers));
}

void SimDs18x20::finishConversion()
{
    bool powered = false;
    if (!m_conversion.takeFinished(&powered))
        return;
    if (!powered) {
        restart(); // browned out
        return;
    }
    if (m_pinned.isEmpty())
        storeTemperature(m_temperature.at(m_conversion.startMs()));
    updateAlarmFlag();
}

QByteArray SimDs18x20::scratchpad()
{
    finishConversion();
    return withCrc(m_registers);
}

void SimDs18x20::writeRegister(int index, uint8_t value)
{
    m_registers[index] = char(value);
}

void SimDs18x20::storeRegister(int index, uint8_t value)
{
    writeRegister(index, value);
    m_eeprom[index - 2] = m_registers.at(index);
}

void SimDs18x20::startCommand(uint8_t command)
{
    m_index = 0;
    switch (command) {
    case kConvertT:
        m_conversion.start(conversionTimeUs(), m_parasite);
        ++m_conversionsStarted;
        m_phase = Phase::Convert;
        break;
    case kReadScratchpad: {
        QByteArray registers = m_registers;
        if (m_powerOnReads > 0) {
            --m_powerOnReads;
            storePowerOnValue(registers);
        }
        m_readout = withCrc(registers);
        if (m_crcErrors > 0) {
            --m_crcErrors;
            m_readout[8] = char(m_readout.at(8) ^ 0x5A);
        }
        m_phase = Phase::ReadScratchpad;
        break;
    }
    case kWriteScratchpad:
        m_writeLost = m_lostWrites > 0;
        if (m_writeLost)
            --m_lostWrites;
        m_phase = Phase::WriteScratchpad;
        break;
    case kCopyScratchpad:
        // A parasite-powered chip writes its EEPROM on the strong pull-up's
        // current; without it the copy never happens.
        if (m_parasite) {
            m_phase = Phase::CopyScratchpad;
        } else {
            copyScratchpad();
            m_phase = Phase::Idle;
        }
        break;
    case kRecallE2:
        recallEeprom();
        m_phase = Phase::Idle;
        break;
    case kReadPowerSupply:
        m_phase = Phase::ReadPowerSupply;
        break;
    default:
        m_phase = Phase::Idle;
        break;
    }
}

uint8_t SimDs18x20::functionByte(uint8_t fromMaster)
{
    finishConversion();
    switch (m_phase) {
    case Phase::Command:
        startCommand(fromMaster);
        return 0xFF;
    case Phase::ReadScratchpad:
        return m_index < m_readout.size() ? uint8_t(m_readout.at(m_index++)) : 0xFF;
    case Phase::WriteScratchpad:
        if (m_index < writableCount() && !m_writeLost)
            writeRegister(2 + m_index, fromMaster);
        ++m_index;
        return 0xFF;
    case Phase::Convert:
        return m_conversion.busy() ? 0x00 : 0xFF;
    case Phase::ReadPowerSupply:
        return m_parasite ? 0x00 : 0xFF;
    case Phase::CopyScratchpad:
    case Phase::Idle:
        break;
    }
    return 0xFF;
}

int SimDs18x20::functionBit(int)
{
    finishConversion();
    switch (m_phase) {
    case Phase::Convert:
        return m_conversion.busy() ? 0 : 1;
    case Phase::ReadPowerSupply:
        return m_parasite ? 0 : 1;
    default:
        return 1;
    }
}

void SimDs18x20::onReset()
{
    finishConversion();
    m_phase = Phase::Command;
    m_index = 0;
}

void SimDs18x20::onStrongPullup(bool on)
{
    m_conversion.onStrongPullup(on);
    if (on && m_phase == Phase::CopyScratchpad) {
        copyScratchpad();
        m_phase = Phase::Idle;
    }
}
