#pragma once

#include "sim/simdevice.h"

#include <QJsonObject>
#include <memory>

// A DS2408 8-channel switch (family 0x29), VCC powered. Registers 88h PIO
// logic state (the pins), 89h output latches (1: transistor off), 8Ah
// activity latches (set by every change of a pin, cleared by Reset Activity
// Latches C3h), 8Bh/8Ch conditional search, 8Dh control/status (VCCP set),
// 8Eh/8Fh reading FFh. Read PIO Registers F0h TA1 TA2 gives the registers
// to 8Fh and the complemented CRC-16 over command, address and data;
// Channel-Access Read F5h 32 samples of the pins and a CRC-16, over and
// over; Channel-Access Write 5Ah a byte and its complement, then AAh and
// the pins. A pin reads high when the outside drives it high and its
// transistor is off.
class SimDs2408 : public SimDevice
{
public:
    explicit SimDs2408(const QByteArray &rom);
    QString kind() const override { return QStringLiteral("DS2408"); }
    bool supportsOverdrive() const override { return true; }
    bool supportsResume() const override { return true; }

    // The levels the outside drives on PIO 0..7 (bit set: high).
    void setInputs(uint8_t levels);
    // The transistors that conduct (bit set: on).
    void setOutputs(uint8_t on);
    uint8_t pins() const;
    uint8_t activity() const { return m_activity; }
    // Fault: the next `count` Read PIO Registers answers carry a wrong CRC-16.
    void failCrc(int count) { m_crcErrors = count; }

    // A bus-file entry: "inputs" (0..255, default 255), "outputs" (0..255,
    // transistors on, default 0), "crcErrors".
    static std::unique_ptr<SimDevice> fromJson(const QByteArray &rom, const QJsonObject &entry, QString *error);

    uint8_t functionByte(uint8_t fromMaster) override;
    void onReset() override;

private:
    enum class Phase { Command, Address, Send, ChannelRead, WriteValue, WriteComplement, Idle };

    QByteArray registers() const;
    void pinsChanged(uint8_t before);

    uint8_t m_inputs = 0xFF;
    uint8_t m_latches = 0xFF;
    uint8_t m_activity = 0;
    Phase m_phase = Phase::Idle;
    uint8_t m_command = 0;
    int m_address = 0;
    int m_addressBytes = 0;
    QByteArray m_crcOver;
    QByteArray m_out;
    int m_samples = 0;
    uint8_t m_written = 0;
    int m_crcErrors = 0;
};
