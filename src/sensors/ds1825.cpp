#include "sensors/ds1825.h"

#include "sensors/ds18b20.h"

namespace {

const Ds18x20::Family kFamily = {QT_TRANSLATE_NOOP("SensorType", "DS1825 Temperature sensor"),
                                 Ds18b20::check, Ds18b20::temperature, false, true, -55.0, 125.0, 0x90, 0x10,
                                 &Ds1825::kTraits, true};

} // namespace

const SensorTraits Ds1825::kTraits = SensorTraits("DS1825")
                                         .channel("C", "°C", Quantity::Temperature)
                                         .property("temperature")
                                         .conversion(kConversionMs, kCopyMs);

Ds1825::Ds1825(Tmex &tmex, int32_t *session, uint8_t *state, short *romBuffer)
    : Ds18x20(kFamily, tmex, session, state, romBuffer)
{
}

Ds1825::Chip Ds1825::chipOf(const QByteArray &scratchpad)
{
    if (scratchpad.size() < 5)
        return Chip::Unknown;
    const uint8_t configuration = uint8_t(scratchpad.at(4));
    if ((configuration & 0xF0) == 0xF0)
        return Chip::Max31850;
    if ((configuration & 0x90) == 0x10)
        return Chip::Ds1825;
    return Chip::Unknown;
}
