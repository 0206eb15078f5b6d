#pragma once

#include "sim/simi2cslave.h"
#include "sim/simtemperature.h"

#include <QJsonObject>
#include <memory>

// A Texas Instruments HDC1080 temperature and humidity sensor (7-bit address
// 0x40). A write sets the register pointer (and, with two more bytes, writes
// the configuration register 0x02); a pointer write of 0x00 or 0x01 alone
// starts an acquisition: of temperature then humidity in sequence mode
// (configuration bit 12, the power-on default), else of the one quantity.
// Conversion times by resolution: temperature 6.35 ms at 14 bits (3.65 at
// 11), humidity 6.5 ms at 14 bits (3.85 at 11, 2.5 at 8). A read during a
// conversion is not acknowledged. Registers 0xFB..0xFD serial ID, 0xFE
// manufacturer ID 0x5449, 0xFF device ID 0x1050.
// T = raw / 65536 · 165 - 40, RH = raw / 65536 · 100.
class SimHdc1080 : public SimI2cSlave
{
public:
    static constexpr uint8_t kDefaultAddress = 0x40;

    explicit SimHdc1080(double celsius = 20.0, double humidity = 50.0);
    QString kind() const override { return QStringLiteral("HDC1080"); }

    void pinRawTemperature(int raw) { m_rawTemperature = raw; }
    void pinRawHumidity(int raw) { m_rawHumidity = raw; }
    // The three serial-ID registers 0xFB, 0xFC, 0xFD.
    void setSerial(uint16_t fb, uint16_t fc, uint16_t fd);
    int acquisitionsStarted() const { return m_acquisitions; }

    // A bus-file entry: "temperature", "humidity", "rawTemperature",
    // "rawHumidity", "serial" (6 bytes: 0xFB, 0xFC, 0xFD, each high byte first).
    static std::unique_ptr<SimI2cSlave> fromJson(const QJsonObject &entry, QString *error);

protected:
    bool start(bool read, bool repeated) override;
    bool writeByte(uint8_t byte) override;
    uint8_t readByte() override;
    void stop() override;

private:
    uint16_t registerValue(uint8_t pointer) const;

    SimTemperature m_temperature;
    SimTemperature m_humidity;
    int m_rawTemperature = -1;
    int m_rawHumidity = -1;
    uint16_t m_serial[3] = {0x0C4B, 0x5A69, 0x7800};
    uint16_t m_configuration = 0x1000;
    uint8_t m_pointer = 0;
    QByteArray m_written;
    bool m_reading = false;
    uint16_t m_resultT = 0;
    uint16_t m_resultH = 0;
    qint64 m_readyAtUs = 0;
    QByteArray m_readout;
    int m_acquisitions = 0;
};
