#include "i2c/d6fsensor.h"

#include "i2c/i2cbridge.h"
#include "base/clock.h"
#include "model/sensordevice.h"

#include <limits>

namespace {

// Register access: 0x00, register address (high, low), control byte
// (byte count, request, read or write), data.
const uint8_t kAccess = 0x00;
const uint8_t kRegisterHigh = 0xD0;
const uint8_t kSensorControl = 0x40;
const uint8_t kPressureResult = 0x51;
const uint8_t kTemperatureResult = 0x61;
const uint8_t kWriteOneByte = 0x18;
const uint8_t kReadTwoBytes = 0x2C;
const uint8_t kStartMeasurement = 0x06;
const uint8_t kReadBuffer = 0x07;
const int kMeasurementMs = 30;
const int kResultMs = 5;
const int kBufferMs = 1;

} // namespace

const SensorTraits D6fSensor::kTraits = SensorTraits("D6F")
                                            .channel("Pa", "Pa", Quantity::Pressure)
                                            .channel("C", "°C", Quantity::Temperature)
                                            .i2c(kAddress)
                                            .wait("00D0401806", kMeasurementMs)
                                            .wait("00D0512C", kResultMs) // pressure result
                                            .wait("00D0612C", kResultMs) // temperature result
                                            .wait("07", kBufferMs, true);

D6fSensor::D6fSensor(int32_t *session, uint8_t *accessState, short *rom, I2cBridge *bridge)
    : I2cDriver(session, accessState, rom, bridge, kAddress)
    , m_pressure(std::numeric_limits<double>::quiet_NaN())
    , m_temperature(std::numeric_limits<double>::quiet_NaN())
{
}

int D6fSensor::probe(uint64_t &)
{
    return attempts([this] { return write({0x0B, 0x00}) >= 0 ? 1 : I2cBridge::kFailed; });
}

double D6fSensor::pressureFromRaw(uint16_t raw)
{
    return double((int(raw) - 1024) * 100) / 60000.0 - 50.0;
}

double D6fSensor::temperatureFromRaw(uint16_t raw)
{
    return (int(raw) - 10214) * 1000.0 / 3739.0 / 10.0;
}

int D6fSensor::readResult(uint8_t registerLow, uint16_t &raw)
{
    if (write({kAccess, kRegisterHigh, registerLow, kReadTwoBytes}) < 0)
        return I2cBridge::kTransferFailed;
    pauseMs(kResultMs);
    selectAgain();
    if (write({kReadBuffer}, I2cBridge::kNoStop) < 0)
        return I2cBridge::kTransferFailed;
    pauseMs(kBufferMs);
    return readWord(raw);
}

int D6fSensor::measure()
{
    m_pressureTime = Clock::now();
    m_temperatureTime = m_pressureTime;
    uint16_t raw = 0;
    const int result = attempts([this, &raw] {
        if (write({kAccess, kRegisterHigh, kSensorControl, kWriteOneByte, kStartMeasurement}) < 0)
            return I2cBridge::kTransferFailed;
        pauseMs(kMeasurementMs);
        selectAgain();
        const int pressure = readResult(kPressureResult, raw);
        if (pressure != 1)
            return pressure;
        m_pressureTime = Clock::now();
        m_pressure = pressureFromRaw(raw);
        selectAgain();
        return readResult(kTemperatureResult, raw);
    });
    if (result != 1)
        return result;
    m_temperatureTime = Clock::now();
    m_temperature = temperatureFromRaw(raw);
    return 1;
}

void D6fSensor::fillChannels(SensorDevice &device, uint8_t hubChannel) const
{
    appendChannels(
        kTraits, device, hubChannel, 0, 0,
        {{m_pressure, m_pressureTime, -50.0, 50.0, QT_TRANSLATE_NOOP("SensorType", "D6F OMRON pressure channel"), "P"},
         {m_temperature, m_temperatureTime, -20.0, 80.0,
          QT_TRANSLATE_NOOP("SensorType", "D6F OMRON temperature channel"), "T"}});
}
