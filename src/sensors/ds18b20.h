#pragma once

#include "model/sensortraits.h"
#include "sensors/ds18x20.h"

// Driver of the DS18B20 thermometer (family 0x28). Every device is kept at
// 12-bit resolution: a read that finds another setting writes and stores it.
class Ds18b20 : public Ds18x20
{
public:
    // Its channel and waits (SensorTraits).
    static const SensorTraits kTraits;

    Ds18b20(Tmex &tmex, int32_t *session, uint8_t *state, short *romBuffer);

    // The CRC, then the power-on value; 0 when the scratchpad may be used.
    static int check(Tmex &tmex, const QByteArray &scratchpad, int previousStatus);
    // The register in 1/16 °C with the bits the configured resolution leaves
    // undefined cleared; not rounded.
    static double temperature(const QByteArray &scratchpad);
};
