#pragma once

#include "sim/simdevice.h"

#include <QJsonObject>
#include <memory>

// A DS2423 counter (family 0x1D): 16 pages of 32 bytes; the pulses on
// inputs A and B count in the 32-bit counters of pages 14 and 15, wrapping
// past 2^32 − 1. Read Memory + Counter A5h TA1 TA2 gives the rest of the
// page, its counter, four zero bytes and the complemented CRC-16 (the first
// page's over command, address, data, counter and zeros; later pages' over
// their own), then the next page. Pages without a counter of their own
// read it as 0. Counting needs no master.
class SimDs2423 : public SimDevice
{
public:
    explicit SimDs2423(const QByteArray &rom);
    QString kind() const override { return QStringLiteral("DS2423"); }

    // Pulses counted on input A (0) or B (1), as a meter would send them;
    // a rate adds its pulses since the clock's start.
    void addPulses(int input, uint32_t pulses);
    void setCount(int input, uint32_t count);
    uint32_t count(int input) const;
    // Fault: the next `count` page ends carry a wrong CRC-16.
    void failCrc(int count) { m_crcErrors = count; }
    // Fault: the next `count` page ends carry a bit set in the bytes that
    // always read 0 after the counter, under a CRC-16 that holds.
    void failFixedBits(int count) { m_fixedBitErrors = count; }

    // A bus-file entry: "counterA", "counterB" (the counts now), "rateA",
    // "rateB" (pulses a second, counted on the clock), "crcErrors".
    static std::unique_ptr<SimDevice> fromJson(const QByteArray &rom, const QJsonObject &entry, QString *error);

    uint8_t functionByte(uint8_t fromMaster) override;
    void onReset() override;

private:
    enum class Phase { Command, Address, Read, Idle };

    QByteArray m_memory;
    uint32_t m_counts[2] = {0, 0};
    double m_ratePerS[2] = {0, 0};
    Phase m_phase = Phase::Idle;
    int m_address = 0;
    int m_addressBytes = 0;
    QByteArray m_crcOver;
    QByteArray m_out;
    int m_crcErrors = 0;
    int m_fixedBitErrors = 0;
};
