#include "sim/simromdevice.h"

SimRomDevice::SimRomDevice(const QByteArray &rom, bool overdrive)
    : SimDevice(rom)
    , m_overdrive(overdrive)
{
}
