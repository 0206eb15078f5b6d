#include "sim/simbmp280.h"

#include "base/clock.h"
#include "sim/simjson.h"

#include <QJsonValue>
#include <cmath>
#include <limits>

namespace {

const uint8_t kCalibrationStart = 0x88;
const uint8_t kChipIdRegister = 0xD0;
const uint8_t kReset = 0xE0;
const uint8_t kStatus = 0xF3;
const uint8_t kControl = 0xF4;
const uint8_t kConfig = 0xF5;
const uint8_t kDataStart = 0xF7;
const int32_t kAdcLimit = 1 << 20;

// The oversampling factor of a 3-bit osrs field (0 skipped, 1..5: ×1..×16).
int oversampling(int osrs)
{
    return osrs == 0 ? 0 : 1 << (qMin(osrs, 5) - 1);
}

// A 20-bit value at the resolution oversampling gives: 16 bits at ×1 up to 20 at ×16.
uint32_t atResolution(uint32_t adc, int osrs)
{
    const int dropped = 5 - qBound(1, osrs, 5);
    return adc & ~((1u << dropped) - 1);
}

// The datasheet's 64-bit steps, held just inside the int64 limits where
// calibration words far from any real chip's would overflow them. Real
// calibrations stay orders of magnitude below, so their results are exact.
const double kHeld = 9.0e18;

int64_t times(int64_t a, int64_t b)
{
    const double estimate = double(a) * double(b);
    if (estimate > kHeld || estimate < -kHeld)
        return estimate > 0 ? int64_t(kHeld) : -int64_t(kHeld);
    return a * b;
}

int64_t plus(int64_t a, int64_t b)
{
    const double estimate = double(a) + double(b);
    if (estimate > kHeld || estimate < -kHeld)
        return estimate > 0 ? int64_t(kHeld) : -int64_t(kHeld);
    return a + b;
}

} // namespace

SimBmp280::SimBmp280(double celsius, double pascal)
    : SimI2cSlave(kDefaultAddress)
    , m_temperature(celsius)
    , m_pressure(pascal)
{
}

void SimBmp280::pinAdc(int adcTemperature, int adcPressure)
{
    m_adcT = adcTemperature;
    m_adcP = adcPressure;
}

int32_t SimBmp280::compensateT(const Calibration &c, int32_t adcT, int32_t *tFine)
{
    // 64-bit steps, so that raw values far from the calibration cannot overflow.
    const int64_t var1 = ((int64_t(adcT >> 3) - c.t1 * 2) * c.t2) >> 11;
    const int64_t d = int64_t(adcT >> 4) - c.t1;
    const int64_t var2 = (((d * d) >> 12) * c.t3) >> 14;
    *tFine = int32_t(var1 + var2);
    return (*tFine * 5 + 128) >> 8;
}

uint32_t SimBmp280::compensateP(const Calibration &c, int32_t adcP, int32_t tFine)
{
    int64_t var1 = int64_t(tFine) - 128000;
    int64_t var2 = times(times(var1, var1), c.p6);
    var2 = plus(var2, times(times(var1, c.p5), int64_t(1) << 17));
    var2 = plus(var2, times(c.p4, int64_t(1) << 35));
    var1 = plus(times(times(var1, var1), c.p3) >> 8, times(times(var1, c.p2), int64_t(1) << 12));
    var1 = times(plus(int64_t(1) << 47, var1), c.p1) >> 33;
    if (var1 == 0)
        return 0;
    int64_t p = 1048576 - adcP;
    p = times(plus(times(p, int64_t(1) << 31), -var2), 3125) / var1;
    var1 = times(times(c.p9, p >> 13), p >> 13) >> 25;
    var2 = times(c.p8, p) >> 19;
    p = plus(plus(plus(p, var1), var2) >> 8, int64_t(c.p7) * 16);
    // Pa × 256 as an unsigned 32-bit value, as the chip's reference code gives it.
    return uint32_t(qBound<int64_t>(0, p, std::numeric_limits<uint32_t>::max()));
}

// Temperature rises with the raw value: the smallest raw value that gives
// at least the wanted hundredths.
int32_t SimBmp280::adcForTemperature(const Calibration &c, double celsius)
{
    // Hundredths far beyond what any calibration gives are held there.
    const int32_t wanted = int32_t(std::lround(qBound(-1.0e9, celsius * 100.0, 1.0e9)));
    int32_t low = 0, high = kAdcLimit - 1, tFine = 0;
    while (low < high) {
        const int32_t mid = low + (high - low) / 2;
        if (compensateT(c, mid, &tFine) < wanted)
            low = mid + 1;
        else
            high = mid;
    }
    return low;
}

// Pressure falls as the raw value rises: the smallest raw value that gives
// at most the wanted pressure.
int32_t SimBmp280::adcForPressure(const Calibration &c, double pascal, int32_t tFine)
{
    const double wanted = pascal * 256.0;
    int32_t low = 0, high = kAdcLimit - 1;
    while (low < high) {
        const int32_t mid = low + (high - low) / 2;
        if (double(compensateP(c, mid, tFine)) > wanted)
            low = mid + 1;
        else
            high = mid;
    }
    return low;
}

void SimBmp280::reset()
{
    m_control = 0;
    m_config = 0;
    m_converting = false;
}

void SimBmp280::finishConversion()
{
    if (m_converting && Clock::tickUs() >= m_readyAtUs) {
        m_converting = false;
        m_dataT = m_nextT;
        m_dataP = m_nextP;
    }
}

uint8_t SimBmp280::registerValue(uint8_t address)
{
    finishConversion();
    if (address >= kCalibrationStart && address < kCalibrationStart + 24) {
        const int words[12] = {m_calibration.t1, m_calibration.t2, m_calibration.t3, m_calibration.p1,
                               m_calibration.p2, m_calibration.p3, m_calibration.p4, m_calibration.p5,
                               m_calibration.p6, m_calibration.p7, m_calibration.p8, m_calibration.p9};
        const int offset = address - kCalibrationStart;
        const uint16_t word = uint16_t(words[offset / 2]);
        return offset % 2 == 0 ? uint8_t(word & 0xFF) : uint8_t(word >> 8);
    }
    switch (address) {
    case kChipIdRegister:
        return m_chipId;
    case kStatus:
        return m_converting ? 0x08 : 0x00;
    case kControl:
        return m_control;
    case kConfig:
        return m_config;
    case kDataStart:
        return uint8_t(m_dataP >> 12);
    case kDataStart + 1:
        return uint8_t(m_dataP >> 4);
    case kDataStart + 2:
        return uint8_t((m_dataP & 0x0F) << 4);
    case kDataStart + 3:
        return uint8_t(m_dataT >> 12);
    case kDataStart + 4:
        return uint8_t(m_dataT >> 4);
    case kDataStart + 5:
        return uint8_t((m_dataT & 0x0F) << 4);
    default:
        return 0x00;
    }
}

void SimBmp280::writeRegister(uint8_t address, uint8_t value)
{
    finishConversion();
    switch (address) {
    case kReset:
        if (value == 0xB6)
            reset();
        break;
    case kConfig:
        m_config = value;
        break;
    case kControl: {
        m_control = value;
        const int mode = value & 0x03;
        if (mode != 1 && mode != 2)
            break;
        // Forced mode: one conversion with the values of this moment.
        const int osT = (value >> 5) & 0x07;
        const int osP = (value >> 2) & 0x07;
        const qint64 nowMs = Clock::tickMs();
        int32_t adcT = m_adcT >= 0 ? m_adcT : adcForTemperature(m_calibration, m_temperature.at(nowMs));
        int32_t tFine = 0;
        compensateT(m_calibration, adcT, &tFine);
        int32_t adcP = m_adcP >= 0 ? m_adcP : adcForPressure(m_calibration, m_pressure.at(nowMs), tFine);
        if (m_adcT < 0)
            adcT = int32_t(atResolution(uint32_t(adcT), osT));
        if (m_adcP < 0)
            adcP = int32_t(atResolution(uint32_t(adcP), osP));
        m_nextT = osT ? uint32_t(adcT) : 0x80000;
        m_nextP = osP ? uint32_t(adcP) : 0x80000;
        const double durationMs = 1.25 + 2.3 * (oversampling(osT) + oversampling(osP)) + (osP ? 0.575 : 0.0);
        m_readyAtUs = Clock::tickUs() + qint64(durationMs * 1000.0);
        m_converting = true;
        m_control = uint8_t(value & ~0x03); // back to sleep mode once done
        ++m_conversions;
        break;
    }
    default:
        break;
    }
}

bool SimBmp280::start(bool read, bool)
{
    if (!read) {
        m_writeIndex = 0;
        m_pendingRegister = -1;
    }
    return true;
}

bool SimBmp280::writeByte(uint8_t byte)
{
    if (m_writeIndex++ == 0) {
        m_pointer = byte;
        m_pendingRegister = byte;
        return true;
    }
    if (m_pendingRegister < 0) {
        m_pendingRegister = byte; // the register of the next pair
        return true;
    }
    writeRegister(uint8_t(m_pendingRegister), byte);
    m_pendingRegister = -1;
    return true;
}

uint8_t SimBmp280::readByte()
{
    return registerValue(m_pointer++);
}

std::unique_ptr<SimI2cSlave> SimBmp280::fromJson(const QJsonObject &entry, QString *error)
{
    auto chip = std::make_unique<SimBmp280>();
    int chipId = chip->m_chipId;
    if (!SimTemperature::fromJson(entry, "temperature", &chip->m_temperature, error)
        || !SimTemperature::fromJson(entry, "pressurePa", &chip->m_pressure, error, "Pa")
        || !SimJson::readInt(entry, "adcTemperature", 0, kAdcLimit - 1, &chip->m_adcT, error)
        || !SimJson::readInt(entry, "adcPressure", 0, kAdcLimit - 1, &chip->m_adcP, error)
        || !SimJson::readInt(entry, "chipId", 0, 255, &chipId, error))
        return nullptr;
    chip->m_chipId = uint8_t(chipId);

    const QJsonValue calibration = entry.value(QStringLiteral("calibration"));
    if (calibration.isUndefined())
        return chip;
    if (!calibration.isObject()) {
        *error = QStringLiteral("calibration: expected an object of calibration words");
        return nullptr;
    }
    const QJsonObject words = calibration.toObject();
    Calibration &c = chip->m_calibration;
    const struct
    {
        const char *name;
        int *word;
        int min;
        int max;
    } fields[] = {{"T1", &c.t1, 0, 65535},     {"T2", &c.t2, -32768, 32767}, {"T3", &c.t3, -32768, 32767},
                  {"P1", &c.p1, 0, 65535},     {"P2", &c.p2, -32768, 32767}, {"P3", &c.p3, -32768, 32767},
                  {"P4", &c.p4, -32768, 32767}, {"P5", &c.p5, -32768, 32767}, {"P6", &c.p6, -32768, 32767},
                  {"P7", &c.p7, -32768, 32767}, {"P8", &c.p8, -32768, 32767}, {"P9", &c.p9, -32768, 32767}};
    QStringList known;
    for (const auto &f : fields) {
        known << QLatin1String(f.name);
        if (!SimJson::readInt(words, f.name, f.min, f.max, f.word, error)) {
            *error = QStringLiteral("calibration.") + *error;
            return nullptr;
        }
    }
    if (!SimJson::checkKeys(words, known, QStringLiteral("the BMP280 calibration"), error)) {
        *error = QStringLiteral("calibration.") + *error;
        return nullptr;
    }
    return chip;
}
