#include "sim/simidentitychip.h"

SimIdentityChip::SimIdentityChip(const QByteArray &rom)
    : SimDevice(rom)
{
}

QString SimIdentityChip::kind() const
{
    return family() == 0x81 ? QStringLiteral("DS1420") : QStringLiteral("DS2401");
}
