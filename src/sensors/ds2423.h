#pragma once

#include "model/sensortraits.h"

#include <QByteArray>
#include <QDateTime>
#include <cstdint>

struct SensorDevice;
class Tmex;

// Driver of the DS2423 counter (family 0x1D): the 32-bit counters of inputs
// A and B, which follow memory pages 14 and 15 in a Read Memory + Counter.
// Two counter channels. A count below the last one read with a good CRC is
// refused (a reading failure, never a negative step); the next count is
// taken against it, so a counter that restarted from zero (its battery
// changed) reads on after one failed reading. A count past 2^32 − 1 wraps
// to 0 and goes on: that is a step forward. Built on the stack for one read.
class Ds2423
{
public:
    static const SensorTraits kTraits;

    static constexpr int kNotSelected = -1;
    static constexpr int kBadMemory = -7; // CRC-16 or the zero bytes after a counter wrong

    Ds2423(Tmex &tmex, int32_t *session, uint8_t *state, short *romBuffer);

    // Reads both counters, at most 4 attempts: 1, or the last attempt's code.
    int convertAndRead();
    // Writes the two channels; true when a count went back (that channel
    // then holds NaN).
    bool fillChannels(SensorDevice &device);

    // Whether `count` follows `last` (a step forward modulo 2^32 of less
    // than 2^31, or no count before).
    static bool follows(int64_t last, uint32_t count);

private:
    Tmex &m_tmex;
    int32_t *m_session;
    uint8_t *m_state;
    short *m_romBuffer;
    bool m_read = false;
    uint32_t m_counts[2] = {0, 0};
    QDateTime m_time;
};
