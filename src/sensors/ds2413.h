#pragma once

#include "model/sensortraits.h"

#include <QDateTime>
#include <cstdint>

struct SensorDevice;
class Tmex;

// Driver of the DS2413 dual switch (family 0x3A): PIO Access Read gives the
// pin and output latch states of PIO A and B, the high nibble the low one's
// complement. Four binary channels: the pins as sensed (1 high) and the
// outputs (1 when the latch turns the output transistor on, as Debian's
// owserver reads PIO.A, the property Home Assistant's switch reads). The
// read never writes an output. Built on the stack
// for one read.
class Ds2413
{
public:
    static const SensorTraits kTraits;

    static constexpr int kNotSelected = -1;
    static constexpr int kBadState = -7; // the complement check failed

    Ds2413(Tmex &tmex, int32_t *session, uint8_t *state, short *romBuffer);

    int convertAndRead();
    void fillChannels(SensorDevice &device);

    // The four states of a status byte: sensed A, sensed B, latch A, latch
    // B; false when its high nibble is not the low one's complement.
    static bool decode(uint8_t status, int states[4]);

private:
    Tmex &m_tmex;
    int32_t *m_session;
    uint8_t *m_state;
    short *m_romBuffer;
    bool m_read = false;
    int m_states[4] = {};
    QDateTime m_time;
};
