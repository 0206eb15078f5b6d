#pragma once

#include <QByteArray>
#include <QVector>
#include <memory>
#include <vector>

class SimI2cSlave;
class SimMultiHub;

// What one I2C transaction did on the bus.
struct SimI2cTransfer
{
    bool addressAcked = false;
    int nackedByte = 0;    // 1-based index of the data byte not acknowledged; 0 when all were
    QByteArray data;       // the bytes read
    int busBytes = 0;      // bytes clocked on the bus, the address byte included
    qint64 stretchUs = 0;  // time the addressed chip held the clock before a read
};

// The I2C bus behind one bridge: chips wired to it directly and, optionally,
// a multi-hub that routes it on to the chips of one of its channels. A chip
// answers by its 7-bit address; the first chip wired directly wins over the
// hub and what the hub routes.
class SimI2cBus
{
public:
    SimI2cBus();
    ~SimI2cBus();

    // Wires a chip directly to the bus; the bus owns it. Returns it.
    SimI2cSlave *add(std::unique_ptr<SimI2cSlave> chip);
    SimMultiHub *setHub(std::unique_ptr<SimMultiHub> hub);
    SimMultiHub *hub() const { return m_hub.get(); }
    // The chip that answers `address` as the bus is routed now, or null.
    SimI2cSlave *find(uint8_t address) const;
    // Every chip, the hub's included (not the hub itself).
    QVector<SimI2cSlave *> chips() const;

    // A write with a start (a repeated start when the previous write to the
    // same chip ended without a stop), ended with a stop when `stop`.
    SimI2cTransfer write(uint8_t address, const QByteArray &data, bool stop);
    // More bytes for the write left open; ended with a stop when `stop`.
    // Nothing happens (and nothing is acknowledged) when no write is open.
    SimI2cTransfer writeMore(const QByteArray &data, bool stop);
    // A read of `count` bytes, ended with a stop.
    SimI2cTransfer read(uint8_t address, int count);

    // One measurement cycle has passed (the bridge was put to sleep).
    void onCycle();

private:
    // Starts a transaction with `address`: the chip when it acknowledged.
    SimI2cSlave *begin(uint8_t address, bool read, SimI2cTransfer &transfer);
    void sendBytes(SimI2cSlave *chip, const QByteArray &data, bool stop, SimI2cTransfer &transfer);
    void end(SimI2cSlave *chip);

    std::vector<std::unique_ptr<SimI2cSlave>> m_chips;
    std::unique_ptr<SimMultiHub> m_hub;
    SimI2cSlave *m_open = nullptr; // the chip of a write left without a stop
};
