#include "sensors/ds18s20.h"

#include "onewire/tmex.h"

#include <cmath>

namespace {

const Ds18x20::Family kFamily = {QT_TRANSLATE_NOOP("SensorType", "DS18S20 Temperature sensor"),
                                 Ds18s20::check, Ds18s20::temperature, false, false, -55.0, 125.0, 0xFF, 0xFF,
                                 &Ds18s20::kTraits, false};

uint8_t byteAt(const QByteArray &scratchpad, int index)
{
    return uint8_t(scratchpad.at(index));
}

} // namespace

const SensorTraits Ds18s20::kTraits =
    SensorTraits("DS18S20").channel("C", "°C", Quantity::Temperature).property("temperature").conversion(kConversionMs, kCopyMs);

Ds18s20::Ds18s20(Tmex &tmex, int32_t *session, uint8_t *state, short *romBuffer)
    : Ds18x20(kFamily, tmex, session, state, romBuffer)
{
}

int Ds18s20::check(Tmex &tmex, const QByteArray &scratchpad, int previousStatus)
{
    const uint8_t countRemain = byteAt(scratchpad, 6);
    const uint8_t countPerC = byteAt(scratchpad, 7);
    if (byteAt(scratchpad, 0) == 0xAA && byteAt(scratchpad, 1) == 0x00 && countRemain == 0x0C && countPerC == 0x10)
        return kPowerOnValue;
    // A second such reading in a row is a true one.
    if (countPerC - countRemain == 1 && previousStatus != kSuspectCount)
        return kSuspectCount;
    QByteArray bytes = scratchpad;
    if (tmex.TMCRC(short(bytes.size()), reinterpret_cast<unsigned char *>(bytes.data()), 0, 0) != 0)
        return kBadScratchpad;
    // All-zero bytes pass the CRC but hold no count to divide by.
    if (countPerC == 0)
        return kBadScratchpad;
    return 0;
}

double Ds18s20::temperature(const QByteArray &scratchpad)
{
    const int16_t raw = int16_t((byteAt(scratchpad, 1) << 8) | byteAt(scratchpad, 0));
    const int tempRead = raw & ~1;
    const double countRemain = byteAt(scratchpad, 6);
    const double countPerC = byteAt(scratchpad, 7);
    const double celsius = (countPerC - countRemain) / countPerC + tempRead * 0.5 - 0.25;
    // To the hundredth, half away from zero on both sides of 0 °C: -0.5 stays
    // -0.50 (adding 0.5 and truncating would give -0.49).
    const double hundredths = std::trunc(std::fabs(celsius) * 100.0 + 0.5);
    return (celsius < 0 && hundredths > 0 ? -hundredths : hundredths) / 100.0;
}
