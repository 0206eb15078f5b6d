#include "sensors/ds1822.h"

#include "sensors/ds18b20.h"

namespace {

const Ds18x20::Family kFamily = {QT_TRANSLATE_NOOP("SensorType", "DS1822 Temperature sensor"),
                                 Ds18b20::check, Ds18b20::temperature, false, true, -55.0, 125.0, 0x9F, 0x1F,
                                 &Ds1822::kTraits, false};

} // namespace

const SensorTraits Ds1822::kTraits = SensorTraits("DS1822")
                                         .channel("C", "°C", Quantity::Temperature)
                                         .property("temperature")
                                         .conversion(kConversionMs, kCopyMs);

Ds1822::Ds1822(Tmex &tmex, int32_t *session, uint8_t *state, short *romBuffer)
    : Ds18x20(kFamily, tmex, session, state, romBuffer)
{
}
