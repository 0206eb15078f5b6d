#pragma once

#include "sim/simi2cslave.h"
#include "sim/simtemperature.h"

#include <QJsonObject>
#include <memory>

// An Omron D6F-PH differential pressure sensor with temperature output
// (7-bit address 0x6C), modelled on its register interface: 0x0B 0x00
// initialises it; 0x00, a register address (two bytes) and a control byte
// (byte count in bits 7..4, request bit 3, read bit 2) move data between a
// register and the read buffer; 0x07 points at the read buffer for a read.
// Writing 0x06 to the sensor control register 0xD040 starts a measurement of
// about 33 ms (a community driver's figure); its results land in 0xD051
// (pressure) and 0xD061 (temperature), two bytes each, most significant first.
// A register read requested during a measurement is served when the
// measurement is over (an assumption: the sources at hand do not say).
// P = (raw - 1024) · 100 / 60000 - 50 Pa; T = (raw - 10214) / 37.39 °C.
class SimD6f : public SimI2cSlave
{
public:
    static constexpr uint8_t kDefaultAddress = 0x6C;

    explicit SimD6f(double pascal = 0.0, double celsius = 20.0);
    QString kind() const override { return QStringLiteral("D6F"); }

    void pinRawPressure(int raw) { m_rawPressure = raw; }
    void pinRawTemperature(int raw) { m_rawTemperature = raw; }
    bool initialised() const { return m_initialised; }

    // A bus-file entry: "pressurePa", "temperature", "rawPressure", "rawTemperature".
    static std::unique_ptr<SimI2cSlave> fromJson(const QJsonObject &entry, QString *error);

protected:
    bool start(bool read, bool repeated) override;
    bool writeByte(uint8_t byte) override;
    uint8_t readByte() override;
    void stop() override;

private:
    uint8_t registerValue(int address);
    void finishMeasurement();
    // Copies the registers of a read request into the read buffer, once no
    // measurement holds it back.
    void serveRequest();

    SimTemperature m_pressure;
    SimTemperature m_temperature;
    int m_rawPressure = -1;
    int m_rawTemperature = -1;
    bool m_initialised = false;
    QByteArray m_written;
    bool m_reading = false;
    QByteArray m_buffer;
    int m_readIndex = 0;
    int m_requestAddress = -1;
    int m_requestCount = 0;
    uint16_t m_resultP = 0;
    uint16_t m_resultT = 0;
    uint16_t m_nextP = 0;
    uint16_t m_nextT = 0;
    bool m_measuring = false;
    qint64 m_readyAtUs = 0;
};
