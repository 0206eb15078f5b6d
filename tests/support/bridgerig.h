#pragma once

#include "i2c/bridgecontext.h"
#include "i2c/heaterschedule.h"
#include "i2c/i2cbridge.h"
#include "onewire/romid.h"
#include "sim/simds28e17.h"
#include "sim/simmultihub.h"
#include "support/simfixture.h"

#include <QByteArray>
#include <QVector>
#include <memory>


// One I2C transaction as the bridge packets on the wire show it.
struct BridgePacket
{
    QByteArray packet;       // command byte to the second CRC byte
    int status = -1;         // the status byte read back; -1 when none was read
    int writeStatus = -1;    // writes: the write-status byte; -1 otherwise
    QByteArray data;         // reads: the data bytes read after a zero status
};

// The measurement's side of a bridge read without a Sensor: both scan
// options on, the "-sht" switch off until set, and heater plans kept for the
// rig's life.
class RigContext : public BridgeContext
{
public:
    bool scanAllChannelSetting() const override { return true; }
    bool scanAllTypeSetting() const override { return true; }
    bool shtModeSetting() const override { return m_shtMode; }
    void setShtMode(bool on) { m_shtMode = on; }
    int lastI2cAddress() const override { return m_lastAddress; }
    void setLastI2cAddress(int address) override { m_lastAddress = address; }
    HeaterSchedules &heaterSchedules() override { return m_heaters; }

private:
    int m_lastAddress = -1;
    bool m_shtMode = false;
    HeaterSchedules m_heaters;
};

// A simulated bus with one DS28E17 (and whatever is put behind it), the
// adapter session open, for driving the bridge code and the I2C drivers the
// way the read dispatch does.
class BridgeRig
{
public:
    explicit BridgeRig(quint64 serial = 0x28E17);
    BridgeRig(const BridgeRig &) = delete;
    BridgeRig &operator=(const BridgeRig &) = delete;

    SimFixture f;
    SimDs28e17 *chip;
    RigContext context;
    RomId rom; // the drivers' ROM buffer, bus order

    // A chip wired directly to the bridge's bus.
    template <typename T>
    T *add(std::unique_ptr<T> slave)
    {
        T *raw = slave.get();
        chip->i2c().add(std::move(slave));
        return raw;
    }
    // A hub at the 7-bit `address`, and a chip on one of its channels.
    SimMultiHub *addHub(uint8_t address = SimMultiHub::kFirstAddress);
    template <typename T>
    T *addOnChannel(std::unique_ptr<T> slave, int channel)
    {
        T *raw = slave.get();
        chip->i2c().hub()->add(std::move(slave), channel);
        return raw;
    }

    int32_t *session() { return &f.session; }
    uint8_t *state();
    short *romBuffer() { return rom.data(); }
    // A bridge object as the read dispatch makes it (which reconfigures all
    // bridges to 100 kHz), reading for `context` (a Sensor), else for the rig's own.
    std::unique_ptr<I2cBridge> bridge(BridgeContext *context = nullptr);
    // The selection an attempt begins with.
    bool select();

    // The traffic position to look from.
    int mark() { return f.backend().traffic().size(); }
    // The bridge transactions logged from `from` on, in order.
    QVector<BridgePacket> packets(int from);
    // Only the packets' own bytes.
    QVector<QByteArray> packetBytes(int from);
    // The I2C address bytes the write packets (0x4B, 0x5A) went to, in order.
    QVector<int> writeAddresses(int from);
    int callCount(const QString &call, int from);
};

QByteArray fromHex(const char *digits);
