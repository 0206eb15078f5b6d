#pragma once

#include "model/sensortraits.h"
#include "sensors/ds18x20.h"

// Driver of the DS18S20 thermometer (family 0x10): 9-bit register refined
// with COUNT_REMAIN / COUNT_PER_C to 1/16 °C.
class Ds18s20 : public Ds18x20
{
public:
    // Its channel and waits (SensorTraits).
    static const SensorTraits kTraits;

    Ds18s20(Tmex &tmex, int32_t *session, uint8_t *state, short *romBuffer);

    // Power-on value, then a COUNT reading that is measured once more, then
    // the CRC; 0 when the scratchpad may be used.
    static int check(Tmex &tmex, const QByteArray &scratchpad, int previousStatus);
    // T = (COUNT_PER_C - COUNT_REMAIN) / COUNT_PER_C + TEMP_READ - 0.25, with
    // TEMP_READ the register without its 0.5 °C bit; kept to 1/100 °C as
    // T * 100 + 0.5 truncated toward zero. Needs COUNT_PER_C > 0.
    static double temperature(const QByteArray &scratchpad);
};
