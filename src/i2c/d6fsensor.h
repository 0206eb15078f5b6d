#pragma once

#include "model/sensortraits.h"
#include "i2c/i2cdriver.h"

#include <QDateTime>

struct SensorDevice;

// Omron D6F differential pressure sensor with temperature output (address
// byte 0xD8, 7-bit 0x6C) behind a DS28E17. It has no serial number: its
// records carry serial 0 and are told apart by their hub channel.
class D6fSensor : public I2cDriver
{
public:
    static constexpr uint8_t kAddress = 0xD8;
    // Its channels and waits (SensorTraits).
    static const SensorTraits kTraits;
    using Serial = uint64_t;

    D6fSensor(int32_t *session, uint8_t *accessState, short *rom, I2cBridge *bridge);

    // The sensor's initialisation (0x0B 0x00); 1 when it was taken, kFailed
    // after 4 attempts. `serial` is left alone (serial() stays 0).
    int probe(uint64_t &serial);
    // One measurement, up to 4 attempts; 1 or the last attempt's code.
    int measure();
    // Appends the pressure (Pa) and temperature channels.
    void fillChannels(SensorDevice &device, uint8_t hubChannel) const;

    // Pa and °C from the raw words, neither cut nor rounded.
    static double pressureFromRaw(uint16_t raw);
    static double temperatureFromRaw(uint16_t raw);

    uint64_t serial() const { return m_serial; }
    double pressure() const { return m_pressure; }
    double temperature() const { return m_temperature; }

private:
    // Selects a result register, then reads its word through the read buffer.
    int readResult(uint8_t registerLow, uint16_t &raw);

    const uint64_t m_serial = 0;
    double m_pressure;
    double m_temperature;
    QDateTime m_pressureTime;
    QDateTime m_temperatureTime;
};
