#pragma once

#include "sim/simsensirionchip.h"
#include "sim/simtemperature.h"

#include <QJsonObject>
#include <memory>

// A Sensirion SCD30 CO2, temperature and humidity sensor (7-bit address
// 0x61). It measures continuously (from power-on here, as a sensor set up
// once and left measuring), a new measurement every interval (2 s by
// default), counted on the clock from 0. Commands: trigger continuous
// measurement 0x00 0x10 (with a pressure word), stop 0x01 0x04, measurement
// interval 0x46 0x00 (with a word to set it, without to read it), data ready
// 0x02 0x02 (1 when a measurement not yet read is waiting), read measurement
// 0x03 0x00 (CO2 ppm, T °C, RH % as big-endian floats, each in two words),
// serial number 0xD0 0x33 (ASCII, two characters per word, zero-terminated,
// 16 words), firmware version 0xD1 0x00, soft reset 0xD3 0x04. The chip takes
// no repeated start: a read must follow a stop.
class SimScd30 : public SimSensirionChip
{
public:
    static constexpr uint8_t kDefaultAddress = 0x61;

    explicit SimScd30(double ppm = 600.0, double celsius = 22.0, double humidity = 45.0);
    QString kind() const override { return QStringLiteral("SCD30"); }

    // Pins the 12 data bytes of a measurement (three big-endian floats).
    void pinMeasurement(const QByteArray &twelveBytes) { m_pinned = twelveBytes; }
    void setSerialText(const QByteArray &text) { m_serial = text; }

    // A bus-file entry: "co2", "temperature", "humidity", "measurement",
    // "serial", "intervalS", "measuring", "neverReady", "crcErrors".
    static std::unique_ptr<SimI2cSlave> fromJson(const QJsonObject &entry, QString *error);

protected:
    bool knows(uint16_t command) const override;
    void command(uint16_t command, const QByteArray &arguments) override;
    bool readable(bool repeated) const override;

private:
    // The index of the latest measurement on the clock, -1 before the first.
    qint64 latestMeasurement() const;
    bool dataReady() const;

    SimTemperature m_co2;
    SimTemperature m_temperature;
    SimTemperature m_humidity;
    QByteArray m_pinned;
    QByteArray m_serial = "0123456789ABCDEF0011";
    int m_intervalS = 2;
    bool m_measuring = true;
    bool m_neverReady = false;
    qint64 m_readIndex = -1;
};
