#include "sensors/ds18b20.h"

#include "onewire/tmex.h"

namespace {

const Ds18x20::Family kFamily = {QT_TRANSLATE_NOOP("SensorType", "DS18B20 Temperature sensor"),
                                 Ds18b20::check, Ds18b20::temperature, true, true, -55.0, 125.0, 0x9F, 0x1F,
                                 &Ds18b20::kTraits, false};

uint8_t byteAt(const QByteArray &scratchpad, int index)
{
    return uint8_t(scratchpad.at(index));
}

} // namespace

const SensorTraits Ds18b20::kTraits =
    SensorTraits("DS18B20").channel("C", "°C", Quantity::Temperature).property("temperature").conversion(kConversionMs, kCopyMs);

Ds18b20::Ds18b20(Tmex &tmex, int32_t *session, uint8_t *state, short *romBuffer)
    : Ds18x20(kFamily, tmex, session, state, romBuffer)
{
}

int Ds18b20::check(Tmex &tmex, const QByteArray &scratchpad, int)
{
    QByteArray bytes = scratchpad;
    if (tmex.TMCRC(short(bytes.size()), reinterpret_cast<unsigned char *>(bytes.data()), 0, 0) != 0)
        return kBadScratchpad;
    const int raw = (byteAt(scratchpad, 1) << 8) | byteAt(scratchpad, 0);
    if (raw == 0x0550 && byteAt(scratchpad, 6) == 0x0C && byteAt(scratchpad, 7) == 0x10)
        return kPowerOnValue;
    return 0;
}

double Ds18b20::temperature(const QByteArray &scratchpad)
{
    int raw = int16_t((byteAt(scratchpad, 1) << 8) | byteAt(scratchpad, 0));
    switch (byteAt(scratchpad, 4) >> 5) {
    case 0:
        raw &= ~7;
        break;
    case 1:
        raw &= ~3;
        break;
    case 2:
        raw &= ~1;
        break;
    default:
        break;
    }
    return raw * 0.0625;
}
