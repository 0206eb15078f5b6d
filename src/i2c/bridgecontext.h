#pragma once

#include <cstdint>

class HeaterSchedules;

// What a bridge read takes from the measurement that runs it (Sensor). Asked
// afresh where it matters: GUI events run inside a read, and the window may
// change the scan options meanwhile.
class BridgeContext
{
public:
    // The window's scan options: every hub channel, every sensor type.
    virtual bool scanAllChannelSetting() const = 0;
    virtual bool scanAllTypeSetting() const = 0;
    // The "-sht" switch: read the heater state and drive the heater.
    virtual bool shtModeSetting() const = 0;
    // The address byte of the last sensor that answered behind a bridge; -1 for none.
    virtual int lastI2cAddress() const = 0;
    virtual void setLastI2cAddress(int address) = 0;
    // The SHT3x heater plans, kept from one read to the next.
    virtual HeaterSchedules &heaterSchedules() = 0;

protected:
    ~BridgeContext() = default;
};
