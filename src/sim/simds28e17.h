#pragma once

#include "sim/simdevice.h"
#include "sim/simi2cbus.h"

#include <QJsonObject>
#include <memory>

// A DS28E17 1-Wire-to-I2C bridge (family 0x19) with its I2C bus. Function
// commands: Write Data With Stop 0x4B, Write Data No Stop 0x5A, Write Data
// Only 0x69, Write Data Only With Stop 0x78, Read Data With Stop 0x87,
// Write-Read Data With Stop 0x2D (packets with their CRC-16), Write
// Configuration 0xD2, Read Configuration 0xE1, Enable Sleep Mode 0x1E, Read
// Device Revision 0xC4.
//
// After a packet the bridge is busy (read slots give 1) for the time the I2C
// transaction takes at the configured speed, then read slots give 0 and the
// master reads the status byte, for writes the write-status byte, and for
// reads the data. A packet with a bad CRC is refused with status bit 0 and
// no I2C traffic. Asleep, the bridge ignores everything until the next reset.
class SimDs28e17 : public SimDevice
{
public:
    // Status bits.
    static constexpr uint8_t kCrcError = 0x01;
    static constexpr uint8_t kAddressNack = 0x02;
    static constexpr uint8_t kStartError = 0x08;

    explicit SimDs28e17(const QByteArray &rom);
    ~SimDs28e17() override;
    QString kind() const override { return QStringLiteral("DS28E17"); }
    bool supportsOverdrive() const override { return true; }
    bool supportsResume() const override { return true; }

    SimI2cBus &i2c() { return m_i2c; }
    // The I2C speed set by Write Configuration (power-on 400 kHz).
    int speedKHz() const;
    bool asleep() const { return m_asleep; }
    // How many times the bridge has been put to sleep (one per measurement cycle).
    int sleeps() const { return m_sleeps; }
    // Packets carried out on the I2C bus (not those refused for their CRC).
    int transactions() const { return m_transactions; }

    // Time added to the busy time of every transaction, µs.
    void setExtraBusyUs(qint64 us) { m_extraBusyUs = us; }
    // Fault: the next `count` transactions never finish (busy until the next reset).
    void setStuckBusy(int count) { m_stuckBusy = count; }

    uint8_t functionByte(uint8_t fromMaster) override;
    int functionBit(int fromMaster) override;
    void onReset() override;

    // A bus-file entry: "hub", "i2c", "extraBusyUs", "stuckBusy".
    static std::unique_ptr<SimDevice> fromJson(const QByteArray &rom, const QJsonObject &entry, QString *error);

private:
    enum class Phase { Command, Packet, Configure, Result, Idle };

    void beginCommand(uint8_t command);
    // The packet's full length once its header is in; 0 while unknown.
    int packetLength() const;
    void carryOut();
    bool busy() const;
    qint64 byteTimeUs() const;

    SimI2cBus m_i2c;
    Phase m_phase = Phase::Idle;
    QByteArray m_packet;
    QByteArray m_readout;  // status, write status, data: what the master reads next
    uint8_t m_configuration = 0x01;
    bool m_asleep = false;
    int m_sleeps = 0;
    int m_transactions = 0;
    qint64 m_busyUntilUs = 0;
    bool m_stuck = false;
    qint64 m_extraBusyUs = 0;
    int m_stuckBusy = 0;
};
