#pragma once

#include "sim/simdevice.h"

#include <QJsonObject>
#include <memory>

// A DS2413 dual switch (family 0x3A). Each PIO has an open-drain output
// transistor; its pin reads high only when the outside drives it high
// (pulled up) and the transistor is off. PIO Access Read F5h answers status
// bytes for as long as the master reads, each sampled anew: bit 0 pin A,
// bit 1 latch A (1: transistor off), bit 2 pin B, bit 3 latch B, the high
// nibble their complement. PIO Access Write 5Ah takes a byte and its
// complement, answers AAh and the new status.
class SimDs2413 : public SimDevice
{
public:
    explicit SimDs2413(const QByteArray &rom);
    QString kind() const override { return QStringLiteral("DS2413"); }
    bool supportsOverdrive() const override { return true; }
    bool supportsResume() const override { return true; }

    // The level the outside drives on PIO A (0) or B (1): high or low.
    void setInput(int pio, bool high) { m_inputs[pio & 1] = high; }
    // The output transistor of a PIO conducts (pulls its pin low).
    void setOutput(int pio, bool on) { m_outputs[pio & 1] = on; }
    bool output(int pio) const { return m_outputs[pio & 1]; }
    // Fault: the next `count` status bytes break their complement.
    void failComplement(int count) { m_badStates = count; }

    uint8_t status() const;

    // A bus-file entry: "inputA", "inputB" (levels, default high),
    // "outputA", "outputB" (transistor on, default off), "complementErrors".
    static std::unique_ptr<SimDevice> fromJson(const QByteArray &rom, const QJsonObject &entry, QString *error);

    uint8_t functionByte(uint8_t fromMaster) override;
    void onReset() override;

private:
    enum class Phase { Command, Read, WriteValue, WriteComplement, WriteAnswer, Idle };

    bool m_inputs[2] = {true, true};
    bool m_outputs[2] = {false, false};
    Phase m_phase = Phase::Idle;
    uint8_t m_written = 0;
    int m_answered = 0;
    int m_badStates = 0;
};
