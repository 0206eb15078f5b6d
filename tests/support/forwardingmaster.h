#pragma once

#include "bus/wiremaster.h"

// A master that hands every primitive to another one (a simulated bus's
// master), for tests that change one thing a master does, such as its
// search passes. Connected and set up at once.
class ForwardingMaster : public WireMaster
{
public:
    explicit ForwardingMaster(WireMaster *bus)
        : m_bus(bus)
    {
    }
    bool defaultPort(short *portNum, short *portType) const override { return m_bus->defaultPort(portNum, portType); }
    bool connected() const override { return true; }
    bool setUp() override { return true; }
    int reset() override { return m_bus->reset(); }
    int touchBit(int bit) override { return m_bus->touchBit(bit); }
    int touchByte(int byte) override { return m_bus->touchByte(byte); }
    void setOverdriveTiming(bool on) override { m_bus->setOverdriveTiming(on); }
    bool overdriveTiming() const override { return m_bus->overdriveTiming(); }
    void setStrongPullup(bool armed) override { m_bus->setStrongPullup(armed); }

protected:
    WireMaster *m_bus;
};
