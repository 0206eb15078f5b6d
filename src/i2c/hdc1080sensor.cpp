#include "i2c/hdc1080sensor.h"

#include "i2c/i2cbridge.h"
#include "base/clock.h"
#include "model/sensordevice.h"

#include <limits>

namespace {

const uint8_t kTemperature = 0x00;
const uint8_t kHumidity = 0x01;
const uint8_t kSerialRegisters[3] = {0xFB, 0xFC, 0xFD};
const int kConversionMs = 20;

} // namespace

const SensorTraits Hdc1080Sensor::kTraits = SensorTraits("HDC1080")
                                                .channel("C", "°C", Quantity::Temperature)
                                                .channel("%", "%RH", Quantity::Humidity)
                                                .i2c(kAddress)
                                                .wait("00", kConversionMs)  // temperature register
                                                .wait("01", kConversionMs); // humidity register

Hdc1080Sensor::Hdc1080Sensor(int32_t *session, uint8_t *accessState, short *rom, I2cBridge *bridge)
    : I2cDriver(session, accessState, rom, bridge, kAddress)
    , m_temperature(std::numeric_limits<double>::quiet_NaN())
    , m_humidity(std::numeric_limits<double>::quiet_NaN())
{
}

int Hdc1080Sensor::probe(uint64_t &serial)
{
    m_serial = 0;
    QByteArray buffer;
    const int result = attempts([this, &buffer] {
        buffer.clear();
        for (int i = 0; i < 3; ++i) {
            if (i > 0)
                selectAgain();
            QByteArray word;
            if (write({kSerialRegisters[i]}) < 0)
                return I2cBridge::kFailed;
            selectAgain();
            if (read(word, 2) < 0)
                return I2cBridge::kFailed;
            buffer += word;
        }
        return 1;
    });
    if (result != 1)
        return I2cBridge::kFailed;
    for (int i = 0; i < buffer.size() && i < 8; ++i)
        m_serial = (m_serial << 8) | uint8_t(buffer.at(i));
    serial = m_serial;
    return 1;
}

int Hdc1080Sensor::convert(uint8_t pointer, uint16_t &raw)
{
    if (write({pointer}) < 0)
        return I2cBridge::kTransferFailed;
    pauseMs(kConversionMs);
    return readWord(raw);
}

int Hdc1080Sensor::measure()
{
    m_temperatureTime = Clock::now();
    m_humidityTime = m_temperatureTime;
    uint16_t raw = 0;
    const int result = attempts([this, &raw] {
        const int converted = convert(kTemperature, raw);
        if (converted != 1)
            return converted;
        m_temperature = truncated(raw / 65536.0 * 165.0 - 40.0, 2);
        m_temperatureTime = Clock::now();
        selectAgain();
        return convert(kHumidity, raw);
    });
    if (result != 1)
        return result;
    m_humidityTime = Clock::now();
    m_humidity = truncated(raw / 65536.0 * 100.0, 1);
    return 1;
}

void Hdc1080Sensor::fillChannels(SensorDevice &device, uint8_t hubChannel) const
{
    appendChannels(
        kTraits, device, hubChannel, 0, m_serial,
        {{m_temperature, m_temperatureTime, -40.0, 125.0,
          QT_TRANSLATE_NOOP("SensorType", "HDC1080 temperature channel"), "T"},
         {m_humidity, m_humidityTime, 0.0, 100.0, QT_TRANSLATE_NOOP("SensorType", "HDC1080 humidity channel"), "H"}});
}
