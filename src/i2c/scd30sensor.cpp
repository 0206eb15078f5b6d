#include "i2c/scd30sensor.h"

#include "i2c/i2cbridge.h"
#include "bus/crc.h"
#include "base/clock.h"
#include "model/sensordevice.h"

#include <cstring>
#include <limits>

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const int kReadyPollMs = 4;
const int kReadMs = 3;
const int kNotReadyMs = 30;

// Walks words of two data bytes and a CRC byte, collecting the data bytes.
// With `zeroEnds` a zero byte (data or CRC) ends the walk at once. False on a
// CRC mismatch.
bool collectWords(const QByteArray &bytes, bool zeroEnds, QByteArray *data)
{
    data->clear();
    for (int i = 0; i < bytes.size(); ++i) {
        const uint8_t b = uint8_t(bytes.at(i));
        if (zeroEnds && b == 0)
            return true;
        if (i % 3 != 2) {
            data->append(char(b));
            continue;
        }
        if (Crc::sensirion8(data->right(2)) != b)
            return false;
    }
    return true;
}

double floatAt(const QByteArray &data, int index)
{
    const uint32_t bits = uint32_t(uint8_t(data.at(index))) << 24 | uint32_t(uint8_t(data.at(index + 1))) << 16
                          | uint32_t(uint8_t(data.at(index + 2))) << 8 | uint32_t(uint8_t(data.at(index + 3)));
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// A text of hexadecimal digits as a signed 64-bit number; 0 when it is not one.
uint64_t hexNumber(const QString &text)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 16);
    return ok ? uint64_t(value) : 0;
}

} // namespace

const SensorTraits Scd30Sensor::kTraits = SensorTraits("SCD30")
                                              .channel("ppm", "ppm", Quantity::CarbonDioxide)
                                              .channel("C", "°C", Quantity::Temperature)
                                              .channel("%RH", "%RH", Quantity::Humidity)
                                              .i2c(kAddress)
                                              .wait("0202", kReadyPollMs) // data ready
                                              .wait("0300", kReadMs)      // read measurement
                                              .pollWait("0202", kNotReadyMs);

Scd30Sensor::Scd30Sensor(int32_t *session, uint8_t *accessState, short *rom, I2cBridge *bridge)
    : I2cDriver(session, accessState, rom, bridge, kAddress)
    , m_co2(kNaN)
    , m_temperature(kNaN)
    , m_humidity(kNaN)
{
}

int Scd30Sensor::probe(QByteArray &text)
{
    text.clear();
    QByteArray collected;
    const int result = attempts([this, &collected] {
        if (write({0xD0, 0x33}) < 0)
            return I2cBridge::kFailed;
        selectAgain();
        QByteArray bytes;
        if (read(bytes, 48) < 0)
            return I2cBridge::kFailed;
        return collectWords(bytes, true, &collected) ? 1 : kWordCrc;
    });
    if (result != 1)
        return result;
    m_serialText = collected;
    text = collected;
    return 1;
}

int Scd30Sensor::dataReady(uint16_t &status)
{
    status = 0;
    return attempts([this, &status] {
        if (write({0x02, 0x02}) < 0)
            return I2cBridge::kTransferFailed;
        pauseMs(kReadyPollMs);
        selectAgain();
        QByteArray bytes;
        const int count = read(bytes, 2);
        if (count < 0)
            return I2cBridge::kTransferFailed;
        status = wordAt(bytes, 0);
        return count;
    });
}

int Scd30Sensor::measure()
{
    bool ready = false;
    for (int poll = 0; poll < 4 && !ready; ++poll) {
        uint16_t status = 0;
        ready = dataReady(status) >= 0 && status == 1;
        if (!ready)
            pauseMs(kNotReadyMs);
    }
    if (!ready)
        return kNotReady;

    return attempts([this] {
        if (write({0x03, 0x00}) < 0)
            return I2cBridge::kTransferFailed;
        pauseMs(kReadMs);
        selectAgain();
        QByteArray bytes;
        const int count = read(bytes, 18);
        if (count < 0)
            return I2cBridge::kTransferFailed;
        QByteArray data;
        if (!collectWords(bytes, false, &data))
            return kWordCrc;
        m_measureTime = Clock::now();
        if (data.size() != 12) {
            m_co2 = m_temperature = m_humidity = kNaN;
            return I2cBridge::kTransferFailed;
        }
        m_co2 = floatAt(data, 0);
        m_temperature = floatAt(data, 4);
        m_humidity = floatAt(data, 8);
        return count;
    });
}

void Scd30Sensor::splitSerial(const QByteArray &text, uint64_t *high, uint64_t *low)
{
    QString serial = QString::fromLatin1(text);
    serial.remove(QLatin1Char('-'));
    const int length = serial.size();
    QString highPart;
    if (length > 16)
        highPart = serial.left(qMin(length - 16, 16));
    else if (length < 16)
        highPart = serial;
    *high = hexNumber(highPart);
    *low = hexNumber(serial.right(16));
}

void Scd30Sensor::fillChannels(SensorDevice &device, uint8_t hubChannel) const
{
    uint64_t high = 0, low = 0;
    splitSerial(m_serialText, &high, &low);
    appendChannels(
        kTraits, device, hubChannel, high, low,
        {{m_co2, m_measureTime, 400.0, 10000.0, QT_TRANSLATE_NOOP("SensorType", "SDC30 CO2 channel"), "CO2"},
         {m_temperature, m_measureTime, -40.0, 70.0, QT_TRANSLATE_NOOP("SensorType", "SDC30 temperature channel"), "T"},
         {m_humidity, m_measureTime, 0.0, 100.0, QT_TRANSLATE_NOOP("SensorType", "SDC30 humidity channel"), "H"}});
}
