#pragma once

#include "model/sensortraits.h"
#include "i2c/i2cdriver.h"

#include <QDateTime>

struct SensorDevice;

// Texas Instruments HDC1080 temperature and humidity sensor (address byte
// 0x80, 7-bit 0x40) behind a DS28E17. Its identifier is the 48-bit serial ID
// of the registers 0xFB, 0xFC and 0xFD.
class Hdc1080Sensor : public I2cDriver
{
public:
    static constexpr uint8_t kAddress = 0x80;
    // Its channels and waits (SensorTraits).
    static const SensorTraits kTraits;
    using Serial = uint64_t;

    Hdc1080Sensor(int32_t *session, uint8_t *accessState, short *rom, I2cBridge *bridge);

    // Reads the serial ID into `serial` (and serial()); 1 or kFailed after 4 attempts.
    int probe(uint64_t &serial);
    // A temperature then a humidity conversion, up to 4 attempts; 1 or the
    // last attempt's code. A temperature stored by a failed attempt stays.
    int measure();
    // Appends the temperature and humidity channels.
    void fillChannels(SensorDevice &device, uint8_t hubChannel) const;

    uint64_t serial() const { return m_serial; }
    double temperature() const { return m_temperature; }
    double humidity() const { return m_humidity; }

private:
    // One conversion of one attempt: the pointer write that starts it, the
    // conversion time and the read of its word.
    int convert(uint8_t pointer, uint16_t &raw);

    uint64_t m_serial = 0;
    double m_temperature;
    double m_humidity;
    QDateTime m_temperatureTime;
    QDateTime m_humidityTime;
};
