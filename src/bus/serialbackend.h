#pragma once

#include "bus/wirebackend.h"
#include "bus/ds2480b.h"
#include "bus/masterentry.h"

// The TMEX driver calls over a DS2480B serial adapter on one port.
class SerialBackend : public WireBackend
{
public:
    explicit SerialBackend(const QString &path);
    ~SerialBackend() override;
    // serial:PORT; its survey probes the serial ports for a DS2480B.
    static MasterEntry masterEntry();

    Ds2480b &master() { return m_master; }

    QString description() const override;
    Kind kind() const override { return Kind::SerialAdapter; }
    QString problem() const override;

private:
    Ds2480b m_master;
};
