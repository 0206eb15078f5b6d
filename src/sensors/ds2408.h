#pragma once

#include "model/sensortraits.h"

#include <QDateTime>
#include <cstdint>

struct SensorDevice;
class Tmex;

// Driver of the DS2408 8-channel switch (family 0x29): Read PIO Registers
// from 88h to the end of the register page, CRC-16 checked. Sixteen binary
// channels: PIO 0..7 as sensed (register 88h, 1 high) on subchannels 0..7,
// their activity latches (8Ah, 1 after a change since they were last reset)
// on 8..15, as OWFS's sensed.N and latch.N. The read resets and writes
// nothing. Built on the stack for one read.
class Ds2408
{
public:
    static const SensorTraits kTraits;

    static constexpr int kNotSelected = -1;
    static constexpr int kBadRegisters = -7; // CRC-16 wrong

    Ds2408(Tmex &tmex, int32_t *session, uint8_t *state, short *romBuffer);

    int convertAndRead();
    void fillChannels(SensorDevice &device);

private:
    Tmex &m_tmex;
    int32_t *m_session;
    uint8_t *m_state;
    short *m_romBuffer;
    bool m_read = false;
    uint8_t m_sensed = 0;
    uint8_t m_activity = 0;
    QDateTime m_time;
};
