#pragma once

#include "model/sensortraits.h"
#include "sensors/ds18x20.h"

// Driver of the DS1822 Econo thermometer (family 0x22): the DS18B20's
// scratchpad, commands and 9..12-bit resolution, at ±2 °C accuracy. Its
// resolution is read as the device is set and never written: at that
// accuracy 12 bits add nothing, and every write costs an EEPROM cycle.
class Ds1822 : public Ds18x20
{
public:
    static const SensorTraits kTraits;

    Ds1822(Tmex &tmex, int32_t *session, uint8_t *state, short *romBuffer);
};
