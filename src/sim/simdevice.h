#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>

// A chip on the simulated 1-Wire bus. The bus (SimBus) runs the ROM layer
// that every 1-Wire chip shares — presence, Read/Match/Skip/Search ROM,
// overdrive, resume — and hands a device the time slots of its function layer
// once it is selected. A chip model overrides only what its datasheet adds.
//
// Wired-AND: for every byte or bit the device returns what it leaves on the
// line; 1 bits are not driven. When the master writes, the device returns
// all ones and reads the master's value from the argument.
class SimDevice
{
public:
    // `rom`: the 8 ROM bytes in bus order (family code first, CRC last).
    explicit SimDevice(const QByteArray &rom);
    virtual ~SimDevice();

    QByteArray rom() const { return m_rom; }
    uint8_t family() const { return uint8_t(m_rom.at(0)); }
    // Bit `index` (0..63) of the ROM, least significant bit of byte 0 first.
    int romBit(int index) const;

    // Short chip name for diagnostics, e.g. "DS18B20".
    virtual QString kind() const = 0;
    virtual bool supportsOverdrive() const { return false; }
    virtual bool supportsResume() const { return false; }
    // Takes part in an Alarm Search (0xEC).
    virtual bool alarmCondition() const { return false; }
    // What the bus file wires to the chip (BusBackend::deviceOptions).
    virtual QStringList options() const { return QStringList(); }

    // Every reset pulse, whether or not the device was selected: any function
    // command in progress is abandoned.
    virtual void onReset() {}
    // A byte of the function layer while the device is selected.
    virtual uint8_t functionByte(uint8_t fromMaster);
    // A single time slot of the function layer while the device is selected.
    virtual int functionBit(int fromMaster);
    // The strong pull-up was switched on or off while the device listened.
    virtual void onStrongPullup(bool on) { Q_UNUSED(on); }

    // Fault: the device stops answering altogether (no presence, no slots).
    bool silent() const { return m_silent; }
    void setSilent(bool silent) { m_silent = silent; }

private:
    QByteArray m_rom;
    bool m_silent = false;
};
