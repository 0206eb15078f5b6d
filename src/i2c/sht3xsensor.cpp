#include "i2c/sht3xsensor.h"

#include "i2c/bridgecontext.h"
#include "i2c/heaterschedule.h"
#include "i2c/i2cbridge.h"
#include "bus/crc.h"
#include "base/clock.h"
#include "model/sensordevice.h"

#include <QDebug>
#include <limits>

namespace {

const uint8_t kFamily = 0x43;
const uint16_t kHeaterBit = 1u << 13;
// Heating periods up to this long are waited out within the measurement.
const int kInPlaceHeatS = 5;
const int kHeatPollMs = 100;

// Whole seconds from now to `t`, the milliseconds dropped (negative once `t` has passed).
qint64 secondsUntil(const QDateTime &t)
{
    return Clock::now().secsTo(t);
}

} // namespace

const SensorTraits Sht3xSensor::kTraits = SensorTraits("SHT3x")
                                              .channel("C", "°C", Quantity::Temperature)
                                              .channel("%", "%RH", Quantity::Humidity)
                                              .i2c(kAddress)
                                              .wait(kSingleShotHex, kSingleShotMs);

Sht3xSensor::Sht3xSensor(int32_t *session, uint8_t *accessState, short *rom, I2cBridge *bridge)
    : SensirionSensor(session, accessState, rom, bridge, kAddress)
    , m_temperature(std::numeric_limits<double>::quiet_NaN())
    , m_humidity(std::numeric_limits<double>::quiet_NaN())
{
}

uint64_t Sht3xSensor::identifier(const QByteArray &six) const
{
    return romShaped(kFamily, reinterpret_cast<const uint8_t *>(six.constData()));
}

int Sht3xSensor::probe(uint64_t &serial)
{
    m_serial = 0;
    QByteArray six;
    const int result = readSerialNumber(six);
    if (result != 1)
        return result;
    m_serial = identifier(six);
    serial = m_serial;
    return 1;
}

int Sht3xSensor::measure()
{
    const int result = attempts([this] {
        QByteArray bytes;
        const int shot = singleShot(bytes, 6, 2);
        if (shot == 1) {
            m_temperature = truncated(wordAt(bytes, 0) / 65535.0 * 175.0 - 45.0, 2);
            m_humidity = truncated(wordAt(bytes, 3) / 65535.0 * 100.0, 2);
            m_temperatureTime = Clock::now();
            m_humidityTime = m_temperatureTime;
        }
        return shot;
    });
    uint16_t status = 0;
    const BridgeContext *context = m_bridge->context();
    if (context && context->shtModeSetting() && readStatus(status) == 1)
        m_heaterState = (status & kHeaterBit) ? 1 : 0;
    else
        m_heaterState = -1;
    return result;
}

int Sht3xSensor::readStatus(uint16_t &status)
{
    QByteArray bytes;
    const int result = attempts([this, &bytes] {
        if (write({0xF3, 0x2D}) < 0)
            return I2cBridge::kFailed;
        selectAgain();
        return read(bytes, 3) >= 0 ? 1 : I2cBridge::kFailed;
    });
    if (result != 1)
        return I2cBridge::kFailed;
    const uint8_t crc = Crc::sensirion8(bytes.left(2));
    qDebug() << "crc_calc222 " << int(crc) << "; " << int(uint8_t(bytes.at(2)));
    if (crc != uint8_t(bytes.at(2)))
        return I2cBridge::kCrcMismatch;
    status = wordAt(bytes, 0);
    return 1;
}

bool Sht3xSensor::setHeater(bool on)
{
    qDebug() << Clock::now().time() << (on ? "  ++SETHEAT" : "  SETHEAT --");
    const uint8_t command = on ? 0x6D : 0x66;
    return attempts([this, command] { return write({0x30, command}) >= 0 ? 1 : I2cBridge::kFailed; }) == 1;
}

void Sht3xSensor::heaterStep()
{
    BridgeContext *context = m_bridge->context();
    if (!context || !context->shtModeSetting())
        return; // without "-sht"; or a broadcast bridge, which reads no sensor
    HeaterSchedule &s = context->heaterSchedules().of(m_serial);
    const int32_t pause = context->heaterSchedules().pauseS();
    const int32_t onTime = context->heaterSchedules().onTimeS();
    if (pause < 1 || onTime < 1) {
        setHeater(false);
        return;
    }
    if (secondsUntil(s.nextOn) >= 0) {
        if (secondsUntil(s.offAt) >= 0)
            return;
        // The heating period is over.
        setHeater(false);
        s.nextOn = Clock::now().addSecs(pause);
        s.offAt = Clock::now().addSecs(pause + onTime);
        return;
    }
    s.offAt = Clock::now().addSecs(onTime);
    s.nextOn = Clock::now().addSecs(onTime + pause);
    setHeater(true);
    if (onTime > kInPlaceHeatS)
        return; // a later measurement switches it off
    // A short heating period is waited out here, to its very end.
    while (Clock::now() < s.offAt)
        Clock::sleepMs(kHeatPollMs);
    setHeater(false);
    s.offAt = Clock::now().addSecs(pause + onTime);
    s.nextOn = Clock::now().addSecs(pause);
}

void Sht3xSensor::fillChannels(SensorDevice &device, uint8_t hubChannel) const
{
    appendChannels(
        kTraits, device, hubChannel, 0, m_serial,
        {{m_temperature, m_temperatureTime, -40.0, 125.0, QT_TRANSLATE_NOOP("SensorType", "SHT3x temperature channel"),
          "T"},
         {m_humidity, m_humidityTime, 0.0, 100.0, QT_TRANSLATE_NOOP("SensorType", "SHT3x humidity channel"), "H"}});
}
