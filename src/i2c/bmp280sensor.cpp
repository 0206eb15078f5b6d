#include "i2c/bmp280sensor.h"

#include "i2c/i2cbridge.h"
#include "base/clock.h"
#include "model/sensordevice.h"

#include <cmath>
#include <limits>

namespace {

const uint8_t kChipId = 0xD0;
const uint8_t kControl = 0xF4;
const uint8_t kConfig = 0xF5;
const uint8_t kData = 0xF7;
const uint8_t kCalibration = 0x88;
// Temperature and pressure oversampling ×8, forced mode: one conversion.
const uint8_t kForcedX8 = 0x91;
const int kConversionMs = 100;

const double kNaN = std::numeric_limits<double>::quiet_NaN();

int32_t adcValue(const QByteArray &bytes, int index)
{
    return uint8_t(bytes.at(index)) * 4096 + uint8_t(bytes.at(index + 1)) * 16 + uint8_t(bytes.at(index + 2)) / 16;
}

uint16_t littleEndian(const QByteArray &bytes, int index)
{
    return uint16_t(uint8_t(bytes.at(index)) | (uint8_t(bytes.at(index + 1)) << 8));
}

} // namespace

Bmp280Sensor::Calibration Bmp280Sensor::Calibration::fromBytes(const QByteArray &bytes)
{
    Calibration c;
    c.t1 = littleEndian(bytes, 0);
    c.t2 = int16_t(littleEndian(bytes, 2));
    c.t3 = int16_t(littleEndian(bytes, 4));
    c.p1 = littleEndian(bytes, 6);
    int16_t *p[] = {&c.p2, &c.p3, &c.p4, &c.p5, &c.p6, &c.p7, &c.p8, &c.p9};
    for (int i = 0; i < 8; ++i)
        *p[i] = int16_t(littleEndian(bytes, 8 + 2 * i));
    return c;
}

const SensorTraits Bmp280Sensor::kTraits = SensorTraits("BMP280")
                                               .channel("kPa", "kPa", Quantity::Pressure)
                                               .channel("C", "°C", Quantity::Temperature)
                                               .i2c(kAddress)
                                               .wait("F491", kConversionMs); // forced conversion

Bmp280Sensor::Bmp280Sensor(int32_t *session, uint8_t *accessState, short *rom, I2cBridge *bridge)
    : I2cDriver(session, accessState, rom, bridge, kAddress)
    , m_pressure(kNaN)
    , m_temperature(kNaN)
    , m_pressureTime(Clock::now())
    , m_temperatureTime(m_pressureTime)
{
}

int Bmp280Sensor::probe(uint64_t &serial)
{
    m_serial = 0;
    QByteArray id;
    const int result = attempts([this, &id] {
        if (write({kChipId}, I2cBridge::kNoStop) < 0)
            return I2cBridge::kFailed;
        selectAgain();
        return read(id, 1) >= 0 ? 1 : I2cBridge::kFailed;
    });
    if (result != 1)
        return I2cBridge::kFailed;
    m_serial = uint8_t(id.at(0));
    serial = m_serial;
    return 1;
}

bool Bmp280Sensor::compensate(const Calibration &c, int32_t adcT, int32_t adcP, double *celsius, double *kPa)
{
    const double a = (adcT / 16384.0 - c.t1 / 1024.0) * c.t2;
    const double d = adcT / 131072.0 - c.t1 / 8192.0;
    const double f = a + d * d * c.t3;
    *celsius = truncated(f / 5120.0, 2);

    const int32_t tFine = int32_t(std::trunc(f));
    double x = tFine * 0.5 - 64000.0;
    double y = x * x * c.p6 / 32768.0 + x * c.p5 * 2.0;
    y = y / 4.0 + c.p4 * 65536.0;
    x = (c.p3 * x * x / 524288.0 + c.p2 * x) / 524288.0;
    x = (1.0 + x / 32768.0) * c.p1;
    if (x == 0.0) {
        *kPa = kNaN;
        return false;
    }
    double p = (1048576.0 - adcP - y / 4096.0) * 6250.0 / x;
    const double w1 = c.p9 * p * p / 2147483648.0;
    const double w2 = p * c.p8 / 32768.0;
    p = p + (w1 + w2 + c.p7) / 16.0;
    *kPa = std::trunc(p / 10.0) / 100.0;
    return true;
}

int Bmp280Sensor::measure()
{
    return attempts([this] {
        if (write({kConfig, 0x00}) < 0)
            return I2cBridge::kTransferFailed;
        selectAgain();
        if (write({kControl, kForcedX8}) < 0)
            return I2cBridge::kTransferFailed;
        pauseMs(kConversionMs);
        selectAgain();
        if (write({kData}, I2cBridge::kNoStop) < 0)
            return I2cBridge::kTransferFailed;
        selectAgain();
        QByteArray data;
        if (read(data, 6) < 0)
            return I2cBridge::kTransferFailed;
        m_pressureTime = Clock::now();
        m_temperatureTime = m_pressureTime;
        selectAgain();
        if (write({kCalibration}, I2cBridge::kNoStop) < 0)
            return I2cBridge::kTransferFailed;
        selectAgain();
        QByteArray calibration;
        if (read(calibration, 24) < 0)
            return I2cBridge::kTransferFailed;
        if (!compensate(Calibration::fromBytes(calibration), adcValue(data, 3), adcValue(data, 0), &m_temperature,
                        &m_pressure))
            return kPressureDivisor;
        return 1;
    });
}

void Bmp280Sensor::fillChannels(SensorDevice &device, uint8_t hubChannel) const
{
    appendChannels(
        kTraits, device, hubChannel, 0, m_serial,
        {{m_pressure, m_pressureTime, 30.0, 110.0, QT_TRANSLATE_NOOP("SensorType", "BMP280 pressure channel"), "P"},
         {m_temperature, m_temperatureTime, -40.0, 85.0, QT_TRANSLATE_NOOP("SensorType", "BMP280 temperature channel"),
          "T"}});
}
