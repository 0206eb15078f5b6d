#pragma once

#include "model/sensortraits.h"
#include "i2c/sensirionsensor.h"

#include <QDateTime>

struct SensorDevice;

// Sensirion SHT3x temperature and humidity sensor (address byte 0x88, 7-bit
// 0x44) behind a DS28E17, with its heater. Its identifier has the shape of a
// 1-Wire ROM: family byte 0x43, the six serial-number bytes as received, and
// the Dallas CRC-8 of those seven bytes.
class Sht3xSensor : public SensirionSensor
{
public:
    static constexpr uint8_t kAddress = 0x88;
    // Its channels and waits (SensorTraits).
    static const SensorTraits kTraits;
    using Serial = uint64_t;

    Sht3xSensor(int32_t *session, uint8_t *accessState, short *rom, I2cBridge *bridge);

    // As Sts3xSensor::probe, with the SHT3x identifier.
    int probe(uint64_t &serial);
    // One single-shot measurement of both quantities, up to 4 attempts; 1 or
    // the last attempt's code. Under "-sht" the heater state is read after it.
    int measure();
    // Appends the temperature and humidity channels.
    void fillChannels(SensorDevice &device, uint8_t hubChannel) const;

    // One heater command (up to 4 attempts); true when one was taken.
    bool setHeater(bool on);
    // Reads the status register (up to 4 attempts): 1 with `status` set,
    // kFailed, or kCrcMismatch.
    int readStatus(uint16_t &status);
    // One step of the sensor's heater schedule (nothing without "-sht"). A
    // heating period of up to 5 s is waited out in place, without GUI events.
    void heaterStep();
    // The bridge's walk ends a read with the heater step.
    void afterFill() { heaterStep(); }

    uint64_t serial() const { return m_serial; }
    double temperature() const { return m_temperature; }
    double humidity() const { return m_humidity; }
    // 1 heater on, 0 off, -1 not known.
    int heaterState() const { return m_heaterState; }

    // The identifier of the six serial-number bytes as received.
    uint64_t identifier(const QByteArray &six) const;

private:
    uint64_t m_serial = 0;
    double m_temperature;
    double m_humidity;
    int32_t m_heaterState = -1;
    QDateTime m_temperatureTime;
    QDateTime m_humidityTime;
};
