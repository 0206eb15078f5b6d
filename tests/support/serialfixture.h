#pragma once

#include "bus/serialbackend.h"
#include "sim/simds2480b.h"
#include "sim/simpty.h"
#include "support/simfixture.h"

#include <QTemporaryDir>
#include <memory>

// A DS2480B adapter emulated on a real pseudo-terminal, in this thread and on
// this clock, in front of the fixture's simulated bus; the serial backend on
// its port is installed as the TMEX backend in place of the simulated one.
// The port has a stable name (a link), so unplugging and replugging keep it.
// At the end the chip must have seen no datasheet violation from the master.
class SerialFixture : public SimFixture
{
public:
    explicit SerialFixture(std::unique_ptr<SimBackend> bus = std::make_unique<SimBackend>());
    ~SerialFixture();

    SimDs2480b &chip() { return m_chip; }
    SimPty &port() { return m_port; }
    // The installed backend: the serial one.
    SerialBackend &backend() { return *m_backend; }

    // The host's bytes and the chip's answers from now on.
    void clearLines() { m_chip.clearLog(); }
    // Both since then, as hex "HOST / ANSWERS"; the next ones start afresh.
    QByteArray lines();

private:
    QTemporaryDir m_dir;
    SimDs2480b m_chip;
    SimPty m_port;
    std::unique_ptr<SerialBackend> m_backend;
};
