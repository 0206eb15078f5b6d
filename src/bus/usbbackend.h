#pragma once

#include "bus/wirebackend.h"
#include "bus/ds2490.h"
#include "bus/masterentry.h"

// The TMEX driver calls over a USB 1-Wire adapter with a DS2490.
class UsbBackend : public WireBackend
{
public:
    // `selector` as Ds2490 takes it: "" the first adapter, BUS-PORT or a serial number.
    explicit UsbBackend(const QString &selector = QString());
    ~UsbBackend() override;
    // usb, usb:SERIAL, usb:BUS-PORT; by default the one adapter plugged in.
    static MasterEntry masterEntry();

    Ds2490 &master() { return m_master; }

    QString description() const override;
    Kind kind() const override { return Kind::UsbAdapter; }
    QString problem() const override;

private:
    Ds2490 m_master;
};
