#pragma once

#include <QString>
#include <QtGlobal>
#include <cstdint>

// A chip on the simulated I2C bus behind a bridge. The bus hands it the
// conditions and bytes of a transaction; a chip model implements start,
// writeByte, readByte and stop as its datasheet says, and this class adds the
// faults every chip can be given.
//
// Addresses here are 7-bit I2C addresses (0x44 for an SHT3x).
class SimI2cSlave
{
public:
    explicit SimI2cSlave(uint8_t address);
    virtual ~SimI2cSlave();

    uint8_t address() const { return m_address; }
    void setAddress(uint8_t address) { m_address = address; }
    // Short chip name for diagnostics, e.g. "SHT3x".
    virtual QString kind() const = 0;

    // What the bus calls, the faults applied.
    // A start or repeated start with this chip's address; false: not acknowledged.
    bool addressed(bool read);
    // A byte from the master; false: not acknowledged.
    bool written(uint8_t byte);
    // A byte to the master.
    uint8_t readOut();
    // A stop condition after a transaction with this chip.
    void stopped();
    // How long the chip holds the clock low before the first byte of the
    // read it has just acknowledged (clock stretching), µs.
    virtual qint64 stretchUs() const { return 0; }

    // Faults. After acknowledging its address `count` more times the chip
    // stops acknowledging it (-1: never stops).
    void stopAckingAfter(int count) { m_acksLeft = count; }
    // The chip acknowledges its address but no data byte.
    void setNackData(bool nack) { m_nackData = nack; }

protected:
    // `repeated`: no stop since the previous transaction with this chip.
    virtual bool start(bool read, bool repeated) = 0;
    virtual bool writeByte(uint8_t byte) = 0;
    virtual uint8_t readByte() = 0;
    virtual void stop() {}

private:
    uint8_t m_address;
    bool m_open = false; // addressed, no stop yet
    int m_acksLeft = -1;
    bool m_nackData = false;
};
