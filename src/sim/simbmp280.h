#pragma once

#include "sim/simi2cslave.h"
#include "sim/simtemperature.h"

#include <QJsonObject>
#include <memory>

// A Bosch BMP280 pressure and temperature sensor (7-bit address 0x76 or
// 0x77). A write sets the register pointer, then takes register/value pairs
// (the first value goes to the pointer's register); a read gives registers
// from the pointer on. Chip ID 0xD0, reset 0xE0 (0xB6), status 0xF3 (bit 3
// while converting), ctrl_meas 0xF4, config 0xF5, data 0xF7..0xFC (pressure
// then temperature, 20 bits each, 0x80000 until the first conversion),
// calibration 0x88..0x9F. Forced mode in ctrl_meas starts one conversion
// taking 1.25 + 2.3 (osT + osP) + 0.575 ms at most (38.6 ms at ×8/×8), then
// the chip sleeps again.
//
// The raw values are made from the wanted temperature and pressure through
// the chip's own calibration words with the datasheet's integer compensation,
// so a driver's compensation gives them back.
class SimBmp280 : public SimI2cSlave
{
public:
    static constexpr uint8_t kDefaultAddress = 0x77;

    // The datasheet's worked example: T1 27504, T2 26435, T3 -1000, P1 36477,
    // P2 -10685, P3 3024, P4 2855, P5 140, P6 -7, P7 15500, P8 -14600, P9 6000.
    struct Calibration
    {
        int t1 = 27504, t2 = 26435, t3 = -1000;
        int p1 = 36477, p2 = -10685, p3 = 3024, p4 = 2855, p5 = 140, p6 = -7, p7 = 15500, p8 = -14600, p9 = 6000;
    };

    explicit SimBmp280(double celsius = 20.0, double pascal = 101325.0);
    QString kind() const override { return QStringLiteral("BMP280"); }

    void setTemperature(const SimTemperature &t) { m_temperature = t; }
    void setPressure(const SimTemperature &pa) { m_pressure = pa; }
    // Pins the raw 20-bit values a conversion gives (-1 unpins).
    void pinAdc(int adcTemperature, int adcPressure);
    void setChipId(uint8_t id) { m_chipId = id; }
    int conversionsStarted() const { return m_conversions; }

    // The datasheet's integer compensation: 0.01 °C, with t_fine; Pa in Q24.8 (0 for P1 = 0).
    static int32_t compensateT(const Calibration &c, int32_t adcT, int32_t *tFine);
    static uint32_t compensateP(const Calibration &c, int32_t adcP, int32_t tFine);
    // The raw values that give (at least) these values back.
    static int32_t adcForTemperature(const Calibration &c, double celsius);
    static int32_t adcForPressure(const Calibration &c, double pascal, int32_t tFine);

    // A bus-file entry: "temperature", "pressurePa", "adcTemperature",
    // "adcPressure", "chipId", "calibration" ({"T1": .., "P9": ..}).
    static std::unique_ptr<SimI2cSlave> fromJson(const QJsonObject &entry, QString *error);

protected:
    bool start(bool read, bool repeated) override;
    bool writeByte(uint8_t byte) override;
    uint8_t readByte() override;

private:
    uint8_t registerValue(uint8_t address);
    void writeRegister(uint8_t address, uint8_t value);
    void finishConversion();
    void reset();

    SimTemperature m_temperature;
    SimTemperature m_pressure;
    Calibration m_calibration;
    int m_adcT = -1;
    int m_adcP = -1;
    uint8_t m_chipId = 0x58;
    uint8_t m_control = 0;
    uint8_t m_config = 0;
    uint32_t m_dataT = 0x80000;
    uint32_t m_dataP = 0x80000;
    uint8_t m_pointer = 0;
    int m_writeIndex = 0;
    int m_pendingRegister = -1;
    bool m_converting = false;
    qint64 m_readyAtUs = 0;
    uint32_t m_nextT = 0;
    uint32_t m_nextP = 0;
    int m_conversions = 0;
};
