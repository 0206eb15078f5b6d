#pragma once

#include "model/sensortraits.h"
#include "i2c/i2cdriver.h"

#include <QDateTime>

struct SensorDevice;

// Bosch BMP280 pressure and temperature sensor (address byte 0xEE, 7-bit
// 0x77) behind a DS28E17. One forced conversion per measurement; the values
// come from the chip's calibration words through the datasheet's
// double-precision compensation. Its identifier is the chip-ID byte.
class Bmp280Sensor : public I2cDriver
{
public:
    static constexpr uint8_t kAddress = 0xEE;
    // Its channels and waits (SensorTraits).
    static const SensorTraits kTraits;
    // The calibration gives a zero divisor (a result code besides the bridge's).
    static constexpr int kPressureDivisor = -6;
    using Serial = uint64_t;

    // The twelve calibration words as the chip stores them.
    struct Calibration
    {
        uint16_t t1;
        int16_t t2, t3;
        uint16_t p1;
        int16_t p2, p3, p4, p5, p6, p7, p8, p9;

        // From the 24 bytes at register 0x88, each word least significant byte first.
        static Calibration fromBytes(const QByteArray &bytes);
    };

    Bmp280Sensor(int32_t *session, uint8_t *accessState, short *rom, I2cBridge *bridge);

    // Reads the chip-ID byte into `serial` (any value counts); 1 or kFailed after 4 attempts.
    int probe(uint64_t &serial);
    // One forced conversion, up to 4 attempts; 1 or the last attempt's code
    // (kFailed, kTransferFailed, kPressureDivisor).
    int measure();
    // Appends the pressure (kPa) and temperature channels.
    void fillChannels(SensorDevice &device, uint8_t hubChannel) const;

    // The compensation of raw 20-bit values: °C and kPa, each cut toward
    // zero to 0.01. False (pressure NaN) when the calibration gives a zero divisor.
    static bool compensate(const Calibration &c, int32_t adcT, int32_t adcP, double *celsius, double *kPa);

    uint64_t serial() const { return m_serial; }
    double pressure() const { return m_pressure; }
    double temperature() const { return m_temperature; }

private:
    uint64_t m_serial = 0;
    double m_pressure;
    double m_temperature;
    QDateTime m_pressureTime;
    QDateTime m_temperatureTime;
};
