#pragma once

#include "sim/simconversion.h"
#include "sim/simdevice.h"
#include "sim/simtemperature.h"

#include <QJsonObject>
#include <memory>

// A DS2450 quad A/D converter (family 0x20): 32 bytes in four pages —
// conversion read-out, control/status, alarm settings, calibration (byte 1Ch
// 40h when the master declared VCC power). Read Memory AAh (through the
// pages, each ending in its complemented CRC-16: the first over command,
// address and data, the others over their data), Write Memory 55h (CRC-16
// and a read-back after every byte), Convert 3Ch (input select mask,
// read-out control, CRC-16, then read slots 0 while converting: 80 µs a
// bit per channel plus 160 µs; without VCC on the strong pull-up). A result
// is left-justified, zero-filled below its resolution, full scale at the
// input range (2.56 or 5.12 V).
class SimDs2450 : public SimDevice
{
public:
    explicit SimDs2450(const QByteArray &rom);
    QString kind() const override { return QStringLiteral("DS2450"); }

    void setInput(int channel, const SimTemperature &volts) { m_inputs[channel & 3] = volts; }
    // Resolution (1..16 bits) and range (5.12 V when high) of a channel, as
    // its control/status bytes hold them.
    void setup(int channel, int bits, bool highRange);
    // The calibration byte 1Ch as a master that declared VCC power leaves it.
    void setVccPowered(bool on);
    // Fault: the next `count` page ends carry a wrong CRC-16.
    void failCrc(int count) { m_crcErrors = count; }
    // Fault: the next `count` reads of the conversion read-out page carry
    // input A's lowest bit set (below a resolution under 16 bits it always
    // reads 0) under a CRC-16 that holds.
    void failFixedBits(int count) { m_fixedBitErrors = count; }
    // Fault: the next `count` reads of the control/status page carry bit 5
    // of input A's first byte set (it always reads 0) under a CRC-16 that holds.
    void failControlBits(int count) { m_controlBitErrors = count; }

    QByteArray memory();
    int conversions() const { return m_conversions; }

    // A bus-file entry: "inputA".."inputD" (volts, numbers or curves),
    // "resolution" (1..16), "range" (2.56 or 5.12), "vcc", "crcErrors".
    static std::unique_ptr<SimDevice> fromJson(const QByteArray &rom, const QJsonObject &entry, QString *error);

    uint8_t functionByte(uint8_t fromMaster) override;
    int functionBit(int fromMaster) override;
    void onReset() override;
    void onStrongPullup(bool on) override;

private:
    enum class Phase { Command, Address, ReadMemory, WriteData, WriteCrc, WriteBack, ConvertArgs, ConvertCrc, Busy, Idle };

    void finishConversion();
    qint64 conversionUs() const;
    QByteArray pageEnd(const QByteArray &covered, uint16_t seed = 0);

    SimTemperature m_inputs[4];
    QByteArray m_memory;
    SimConversion m_conversion;
    uint8_t m_mask = 0;
    Phase m_phase = Phase::Idle;
    uint8_t m_command = 0;
    int m_address = 0;
    int m_addressBytes = 0;
    QByteArray m_out;   // bytes still to send
    QByteArray m_crcOver;
    uint16_t m_crcSeed = 0;
    int m_crcErrors = 0;
    int m_fixedBitErrors = 0;
    int m_controlBitErrors = 0;
    int m_conversions = 0;
};
