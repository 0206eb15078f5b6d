#pragma once

#include "sim/simconversion.h"
#include "sim/simdevice.h"
#include "sim/simtemperature.h"

#include <QJsonObject>

// What the DS18S20 and DS18B20 share: the scratchpad with its CRC, the
// EEPROM behind TH, TL (and the configuration), and the function commands
// Convert T 0x44, Read Scratchpad 0xBE, Write Scratchpad 0x4E, Copy
// Scratchpad 0x48, Recall E2 0xB8 and Read Power Supply 0xB4. The chip starts
// with its power-on scratchpad (+85 °C) until the first conversion ends.
class SimDs18x20 : public SimDevice
{
public:
    // The scratchpad as a Read Scratchpad would give it now: 9 bytes, CRC last
    // (faults not applied).
    QByteArray scratchpad();
    // TH, TL and, for the DS18B20, the configuration byte as stored.
    QByteArray eeprom() const { return m_eeprom; }
    bool converting() const { return m_conversion.busy(); }
    // The alarm flag: set by a conversion whose result lies outside TH/TL
    // (see alarmCondition), cleared by one inside and at power-on.
    bool alarmCondition() const override;
    int conversionsStarted() const { return m_conversionsStarted; }

    void setTemperature(const SimTemperature &temperature) { m_temperature = temperature; }
    // Parasite power: a conversion needs the strong pull-up (see SimConversion).
    void setParasite(bool parasite) { m_parasite = parasite; }
    // Fixes the 8 register bytes: conversions no longer change the
    // temperature bytes; TH, TL and the configuration stay writable.
    void pinScratchpad(const QByteArray &eightBytes);
    // Power off and on: the power-on scratchpad, TH/TL/configuration from
    // EEPROM, the alarm flag clear.
    void powerCycle();

    // Faults. The next `count` Read Scratchpad answers carry the power-on
    // temperature (with a good CRC).
    void failWithPowerOnReads(int count) { m_powerOnReads = count; }
    // The next `count` Read Scratchpad answers carry a wrong CRC byte.
    void failCrc(int count) { m_crcErrors = count; }
    // The next `count` Write Scratchpad commands change nothing (bytes lost
    // on the line).
    void loseWrites(int count) { m_lostWrites = count; }

    uint8_t functionByte(uint8_t fromMaster) override;
    int functionBit(int fromMaster) override;
    void onReset() override;
    void onStrongPullup(bool on) override;

protected:
    // `eeprom`: the factory TH, TL (and configuration). The derived
    // constructor calls powerCycle() to set the power-on scratchpad.
    SimDs18x20(const QByteArray &rom, const QByteArray &eeprom);

    // Reads the keys every DS18x20 entry may have ("temperature", "th", "tl",
    // "parasite", "scratchpad", "powerOnReads", "crcErrors") and applies them.
    bool configure(const QJsonObject &entry, QString *error);

    virtual qint64 conversionTimeUs() const = 0;
    // Whether a conversion giving `degrees` (whole degrees as compared)
    // sets the alarm flag with these signed TH and TL: the DS18S20 and most
    // DS18B20 datasheets put it at T > TH or T <= TL.
    virtual bool inAlarm(int degrees, int th, int tl) const { return degrees > th || degrees <= tl; }
    // Writes the temperature registers of a finished conversion into m_registers.
    virtual void storeTemperature(double celsius) = 0;
    // The temperature register's whole degrees as the chip compares them with
    // TH and TL (its bits that line up with the 8-bit alarm registers).
    virtual int comparedDegrees() const = 0;
    // Writes the power-on temperature registers into `registers`.
    virtual void storePowerOnValue(QByteArray &registers) const = 0;
    // A Write Scratchpad byte for register `index` (2 TH, 3 TL, 4 configuration).
    virtual void writeRegister(int index, uint8_t value);
    // Writes register `index` (2..4) and stores it in EEPROM, as the factory does.
    void storeRegister(int index, uint8_t value);
    // Bytes Write Scratchpad takes: 2 (TH, TL) or 3 (and the configuration).
    int writableCount() const { return m_eeprom.size(); }

    QByteArray m_registers; // scratchpad bytes 0..7

private:
    enum class Phase { Command, ReadScratchpad, WriteScratchpad, Convert, ReadPowerSupply, CopyScratchpad, Idle };

    void startCommand(uint8_t command);
    void finishConversion();
    // The state after power-on or a brown-out, with the conversion left alone.
    void restart();
    void recallEeprom();
    void copyScratchpad();
    // The alarm flag from the temperature register and TH/TL as they stand.
    void updateAlarmFlag();
    QByteArray withCrc(const QByteArray &registers) const;

    SimTemperature m_temperature;
    SimConversion m_conversion;
    QByteArray m_eeprom;
    QByteArray m_pinned;
    QByteArray m_readout;
    Phase m_phase = Phase::Idle;
    int m_index = 0;
    bool m_parasite = false;
    int m_conversionsStarted = 0;
    int m_powerOnReads = 0;
    int m_crcErrors = 0;
    bool m_alarmFlag = false;
    int m_lostWrites = 0;
    bool m_writeLost = false; // the Write Scratchpad under way changes nothing
};
