#pragma once

#include "sim/simsensirionchip.h"
#include "sim/simtemperature.h"

#include <QJsonObject>
#include <memory>

// A Sensirion SHT3x temperature and humidity sensor (7-bit address 0x44 or
// 0x45). Single shot measurements 0x2C 0x06 / 0x0D / 0x10 (with clock
// stretching: a read during the conversion is held until it ends) and
// 0x24 0x00 / 0x0B / 0x16 (without: such a read is not acknowledged), high
// repeatability taking 15 ms, medium 6 ms, low 4 ms; serial number 0x37 0x80
// (or 0x36 0x82); status register 0xF3 0x2D (bit 13 heater on, 0x8010 after
// power-on), cleared by 0x30 0x41; heater on 0x30 0x6D, off 0x30 0x66; soft
// reset 0x30 0xA2. T = -45 + 175 raw / 65535, RH = 100 raw / 65535.
class SimSht3x : public SimSensirionChip
{
public:
    static constexpr uint8_t kDefaultAddress = 0x44;

    explicit SimSht3x(double celsius = 20.0, double humidity = 50.0);
    QString kind() const override { return QStringLiteral("SHT3x"); }
    qint64 stretchUs() const override;

    void setTemperature(const SimTemperature &t) { m_temperature = t; }
    // Pins the raw words a measurement reports (-1 unpins).
    void pinRawTemperature(int raw) { m_rawTemperature = raw; }
    void pinRawHumidity(int raw) { m_rawHumidity = raw; }
    // The two serial-number words.
    void setSerial(uint16_t word1, uint16_t word2);
    bool heaterOn() const { return m_heater; }
    int measurementsStarted() const { return m_measurements; }
    // How many heater commands (on or off) the chip has taken.
    int heaterCommands() const { return m_heaterCommands; }

    // The raw word of a temperature or a relative humidity.
    static uint16_t rawTemperature(double celsius);
    static uint16_t rawHumidity(double percent);

    // A bus-file entry: "temperature", "humidity", "rawTemperature",
    // "rawHumidity", "serial", "crcErrors".
    static std::unique_ptr<SimI2cSlave> fromJson(const QJsonObject &entry, QString *error);

protected:
    // `hasHumidity` false: the STS3x, which reports the temperature word only.
    SimSht3x(uint8_t address, bool hasHumidity, double celsius);
    // Reads the keys the SHT3x and STS3x share.
    bool configure(const QJsonObject &entry, QString *error);

    bool knows(uint16_t command) const override;
    void command(uint16_t command, const QByteArray &arguments) override;
    bool readable(bool repeated) const override;

private:
    bool measuring() const;

    bool m_hasHumidity;
    SimTemperature m_temperature;
    SimTemperature m_humidity;
    int m_rawTemperature = -1;
    int m_rawHumidity = -1;
    uint16_t m_serial[2] = {0x0F1E, 0x2D3C};
    uint16_t m_status = 0x8010;
    bool m_heater = false;
    bool m_stretching = false;
    qint64 m_readyAtUs = 0;
    int m_measurements = 0;
    int m_heaterCommands = 0;
};
