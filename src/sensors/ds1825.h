#pragma once

#include "model/sensortraits.h"
#include "sensors/ds18x20.h"

#include <QByteArray>

// Driver of the DS1825 thermometer, which shares family 0x3B with the
// MAX31850. Its configuration register holds the resolution in bits 6..5,
// bit 7 clear, bit 4 set and the hard-wired address pins AD3..AD0 in bits
// 3..0, which its channel's type tells; read at the resolution it is set to.
class Ds1825 : public Ds18x20
{
public:
    static const SensorTraits kTraits;

    Ds1825(Tmex &tmex, int32_t *session, uint8_t *state, short *romBuffer);

    // What a family-0x3B scratchpad (9 bytes, CRC already checked) says of
    // its chip: byte 4 is the DS1825's configuration register (bit 7 clear,
    // bit 4 set) or the MAX31850's (bits 7..4 set, which also every Pt100
    // emulator answering like one gives).
    enum class Chip { Ds1825, Max31850, Unknown };
    static Chip chipOf(const QByteArray &scratchpad);
};
