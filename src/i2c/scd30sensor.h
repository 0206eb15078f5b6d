#pragma once

#include "model/sensortraits.h"
#include "i2c/i2cdriver.h"

#include <QByteArray>
#include <QDateTime>

struct SensorDevice;

// Sensirion SCD30 CO2, temperature and humidity sensor (address byte 0xC2,
// 7-bit 0x61) behind a DS28E17; its channels are named "SDC30". The driver
// never starts a measurement: the sensor measures continuously on its own
// and is read when it reports data ready. Its serial number is a text.
class Scd30Sensor : public I2cDriver
{
public:
    static constexpr uint8_t kAddress = 0xC2;
    // Its channels and waits (SensorTraits).
    static const SensorTraits kTraits;
    // Result codes besides the bridge's.
    static constexpr int kWordCrc = -12;   // a word's CRC
    static constexpr int kNotReady = -13;  // data ready never reported
    using Serial = QByteArray;

    Scd30Sensor(int32_t *session, uint8_t *accessState, short *rom, I2cBridge *bridge);

    // Reads the serial text (up to its terminating zero) into `text` (and
    // serialText()); 1, or the last attempt's code (kFailed, kWordCrc).
    int probe(QByteArray &text);
    // The data-ready status word (up to 4 attempts); the read's result (2)
    // with `status` set, or kFailed / kTransferFailed.
    int dataReady(uint16_t &status);
    // Waits for data ready (4 polls 30 ms apart, else kNotReady, the
    // values left alone), then reads the three values, up to 4 attempts: the
    // read's byte count (18), or the last attempt's code.
    int measure();
    // Appends the CO2, temperature and humidity channels, with the serial
    // text split into the two serial fields.
    void fillChannels(SensorDevice &device, uint8_t hubChannel) const;

    // The serial text split as the records carry it: dashes removed, the low
    // part the last 16 characters, the high part up to 16 before them; each
    // read as a signed 64-bit hexadecimal number, 0 when it is not one.
    static void splitSerial(const QByteArray &text, uint64_t *high, uint64_t *low);

    QByteArray serialText() const { return m_serialText; }
    double co2() const { return m_co2; }
    double temperature() const { return m_temperature; }
    double humidity() const { return m_humidity; }

private:
    double m_co2;
    double m_temperature;
    double m_humidity;
    QDateTime m_measureTime;
    QByteArray m_serialText;
};
