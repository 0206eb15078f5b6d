#pragma once

#include "serial/serialbackend.h"
#include "sim/simbackend.h"
#include "sim/simds2480b.h"
#include "sim/simpty.h"

#include <QTemporaryDir>
#include <memory>

// A DS2480B adapter emulated on a real pseudo-terminal, in this thread and on
// this clock, in front of a simulated bus; the serial backend on its port is
// installed as the TMEX backend. Virtual time; the session is forgotten, as
// in a freshly started program. The port has a stable name (a link), so
// unplugging and replugging keep it.
class SerialFixture
{
public:
    explicit SerialFixture(std::unique_ptr<SimBackend> bus = std::make_unique<SimBackend>());
    ~SerialFixture();

    SimBus &bus() { return m_bus->bus(); }
    SimBackend &simBackend() { return *m_bus; }
    SimDs2480b &chip() { return m_chip; }
    SimPty &port() { return m_port; }
    SerialBackend &backend() { return *m_backend; }
    Ds2480b &master() { return m_backend->master(); }

    template <typename T>
    T *add(std::unique_ptr<T> device)
    {
        T *raw = device.get();
        bus().addDevice(std::move(device));
        return raw;
    }

    // Adapter::open(); the session handle is kept in `session`.
    int open();
    int32_t session = 0;
    // The host's bytes and the chip's answers from now on.
    void clearLines() { m_chip.clearLog(); }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<SimBackend> m_bus;
    SimDs2480b m_chip;
    SimPty m_port;
    std::unique_ptr<SerialBackend> m_backend;
};
