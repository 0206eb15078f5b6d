#include "sensors/ds28ea00.h"

#include "sensors/ds18b20.h"

namespace {

const Ds18x20::Family kFamily = {QT_TRANSLATE_NOOP("SensorType", "DS28EA00 Temperature sensor"),
                                 Ds18b20::check, Ds18b20::temperature, false, true, -40.0, 85.0, 0x9F, 0x1F,
                                 &Ds28ea00::kTraits, false};

} // namespace

const SensorTraits Ds28ea00::kTraits = SensorTraits("DS28EA00")
                                           .channel("C", "°C", Quantity::Temperature)
                                           .property("temperature")
                                           .conversion(kConversionMs, kCopyMs);

Ds28ea00::Ds28ea00(Tmex &tmex, int32_t *session, uint8_t *state, short *romBuffer)
    : Ds18x20(kFamily, tmex, session, state, romBuffer)
{
}
