#include "i2c/sts3xsensor.h"

#include "i2c/i2cbridge.h"
#include "base/clock.h"
#include "model/sensordevice.h"

#include <limits>

namespace {

const uint64_t kHashStart = 0xECF1DF57A533ULL;
const uint64_t kHashPolynomial = 0xEADB71093528ULL;
const uint64_t kHashFinal = 0x130EDF575ACCULL;
const uint8_t kFamily = 0x54;

} // namespace

const SensorTraits Sts3xSensor::kTraits = SensorTraits("STS3x")
                                              .channel("C", "°C", Quantity::Temperature)
                                              .i2c(kAddress)
                                              .wait(kSingleShotHex, kSingleShotMs);

Sts3xSensor::Sts3xSensor(int32_t *session, uint8_t *accessState, short *rom, I2cBridge *bridge)
    : SensirionSensor(session, accessState, rom, bridge, kAddress)
    , m_temperature(std::numeric_limits<double>::quiet_NaN())
{
}

uint64_t Sts3xSensor::sensorIdHash48(const uint8_t bytes[4])
{
    uint64_t reg = kHashStart;
    for (int i = 0; i < 4; ++i) {
        reg ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 1) ? (reg >> 1) ^ kHashPolynomial : reg >> 1;
    }
    return reg ^ kHashFinal;
}

uint64_t Sts3xSensor::identifier(uint16_t word1, uint16_t word2) const
{
    const uint8_t input[4] = {uint8_t(word1 & 0xFF), uint8_t(word1 >> 8), uint8_t(word2 & 0xFF), uint8_t(word2 >> 8)};
    const uint64_t hash = sensorIdHash48(input);
    uint8_t six[6];
    for (int i = 0; i < 6; ++i)
        six[i] = uint8_t(hash >> (8 * i));
    return romShaped(kFamily, six);
}

int Sts3xSensor::probe(uint64_t &serial)
{
    m_serial = 0;
    QByteArray six;
    const int result = readSerialNumber(six);
    if (result != 1)
        return result;
    m_serial = identifier(wordAt(six, 0), wordAt(six, 3));
    serial = m_serial;
    return 1;
}

int Sts3xSensor::measure()
{
    return attempts([this] {
        QByteArray bytes;
        const int result = singleShot(bytes, 4, 1); // the fourth byte is not used
        if (result == 1) {
            m_temperature = truncated(wordAt(bytes, 0) / 65535.0 * 175.0 - 45.0, 2);
            m_measureTime = Clock::now();
        }
        return result;
    });
}

void Sts3xSensor::fillChannels(SensorDevice &device, uint8_t hubChannel) const
{
    appendChannels(kTraits, device, hubChannel, 0, m_serial,
                   {{m_temperature, m_measureTime, -40.0, 125.0,
                     QT_TRANSLATE_NOOP("SensorType", "STS3x temperature channel"), "T"}});
}
