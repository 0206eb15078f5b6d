#pragma once

#include "model/sensortraits.h"
#include "i2c/sensirionsensor.h"

#include <QDateTime>

struct SensorDevice;

// Sensirion STS3x temperature sensor (address byte 0x94, 7-bit 0x4A) behind a
// DS28E17. Its identifier has the shape of a 1-Wire ROM: family byte 0x54, a
// 48-bit hash of the serial number, and the Dallas CRC-8 of those seven bytes.
class Sts3xSensor : public SensirionSensor
{
public:
    static constexpr uint8_t kAddress = 0x94;
    // Its channels and waits (SensorTraits).
    static const SensorTraits kTraits;
    using Serial = uint64_t;

    Sts3xSensor(int32_t *session, uint8_t *accessState, short *rom, I2cBridge *bridge);

    // Reads the serial number and derives the identifier into `serial` (and
    // serial()). 1, I2cBridge::kFailed after 4 attempts, kCrcMismatch at once.
    int probe(uint64_t &serial);
    // One single-shot measurement, up to 4 attempts; 1 or the last attempt's
    // code (kFailed, kTransferFailed, kCrcMismatch). The temperature is cut
    // toward zero to 0.01 °C.
    int measure();
    // Appends the temperature channel.
    void fillChannels(SensorDevice &device, uint8_t hubChannel) const;

    uint64_t serial() const { return m_serial; }
    double temperature() const { return m_temperature; }

    // The reflected 48-bit CRC over the four bytes given (word 1 low, word 1
    // high, word 2 low, word 2 high).
    static uint64_t sensorIdHash48(const uint8_t bytes[4]);
    // The identifier of the serial-number words: 0x54, the hash (least
    // significant byte first), the Dallas CRC-8; byte 0 in the low 8 bits.
    uint64_t identifier(uint16_t word1, uint16_t word2) const;

private:
    uint64_t m_serial = 0;
    double m_temperature;
    QDateTime m_measureTime;
};
