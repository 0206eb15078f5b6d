#pragma once

#include "sim/simdevice.h"

// A chip with nothing but its ROM, such as a DS2401 serial number; any family.
class SimRomDevice : public SimDevice
{
public:
    SimRomDevice(const QByteArray &rom, bool overdrive = false);
    QString kind() const override { return QStringLiteral("ROM"); }
    bool supportsOverdrive() const override { return m_overdrive; }

private:
    bool m_overdrive;
};
