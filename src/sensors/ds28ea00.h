#pragma once

#include "model/sensortraits.h"
#include "sensors/ds18x20.h"

// Driver of the DS28EA00 thermometer (family 0x42): the DS18B20's
// scratchpad and configuration register (resolution in bits 6..5, bit 7
// clear, bits 4..0 set), measuring -40..+85 °C; read at the resolution it is
// set to. Its PIO and chain functions are not used.
class Ds28ea00 : public Ds18x20
{
public:
    static const SensorTraits kTraits;

    Ds28ea00(Tmex &tmex, int32_t *session, uint8_t *state, short *romBuffer);
};
