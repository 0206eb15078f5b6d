#pragma once

#include "model/sensortraits.h"

#include <QByteArray>
#include <QDateTime>
#include <cstdint>

struct SensorDevice;
class Tmex;

// Driver of the DS2450 quad A/D converter (family 0x20): four channels in
// volts, each at the input range (2.56 or 5.12 V) and resolution (1 to 16
// bits) its control/status memory holds, which is read, never written.
// Byte 1Ch of its calibration page reads 40h on a chip powered from VCC;
// otherwise the conversion runs on the strong pull-up. The conversion of
// all four channels takes, by the datasheet, at most 80 µs a bit each plus
// 160 µs. Built on the stack for one read.
class Ds2450
{
public:
    static const SensorTraits kTraits;

    static constexpr int kNotSelected = -1;
    static constexpr int kBadMemory = -7; // a CRC-16 or a fixed bit wrong
    static constexpr int kNoPullup = -8;  // without VCC, and the master has no strong pull-up: not converted

    Ds2450(Tmex &tmex, int32_t *session, uint8_t *state, short *romBuffer);

    // Reads the set-up, converts all four channels and reads the results,
    // at most 4 attempts: 1, or the last attempt's code.
    int convertAndRead();
    void fillChannels(SensorDevice &device);

    // The conversion time, ms, of the four channels at these resolutions
    // (bits, 1..16), rounded up.
    static int conversionMs(const int bits[4]);

private:
    bool readMemory(uint16_t address, int pages, QByteArray *data);
    // Convert on all four channels, waiting out `waitMs`: 1, kNotSelected,
    // kNoPullup, or kBadMemory when the command's CRC-16 came back wrong.
    int convert(bool powered, int waitMs);

    Tmex &m_tmex;
    int32_t *m_session;
    uint8_t *m_state;
    short *m_romBuffer;
    double m_volts[4];
    double m_rangeVolts[4];
    QDateTime m_time;
};
