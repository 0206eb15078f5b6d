#pragma once

#include "sim/simdevice.h"

// The adapter's own identity chip: a DS1420 (family 0x81) or a DS2401
// (family 0x01) serial number, found by the search like any other device.
class SimIdentityChip : public SimDevice
{
public:
    explicit SimIdentityChip(const QByteArray &rom);
    QString kind() const override;
    // DS2401 parts follow overdrive; the DS1420 does not.
    bool supportsOverdrive() const override { return family() == 0x01; }
};
