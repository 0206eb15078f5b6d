#pragma once

#include "bus/masterentry.h"
#include "bus/w1master.h"
#include "bus/wirebackend.h"

// The TMEX driver calls over one of the Linux kernel's own 1-Wire masters,
// through sysfs (see W1Master for what that carries).
class W1Backend : public WireBackend
{
public:
    // `selector` as W1Master takes it: "" the one master, or its name.
    explicit W1Backend(const QString &selector = QString());
    ~W1Backend() override;
    // w1, w1:MASTER; by default the kernel's master when it has exactly one.
    static MasterEntry masterEntry();

    W1Master &master() { return m_master; }

    QString description() const override;
    Kind kind() const override { return Kind::KernelMaster; }
    QString problem() const override;
    QString deviceProblem(const uint8_t rom[8]) const override;
    // Plain file operations, nothing tied to a thread.
    bool runsInAnyThread() const override { return true; }

private:
    W1Master m_master;
};
