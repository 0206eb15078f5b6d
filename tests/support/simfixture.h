#pragma once

#include "onewire/adapter.h"
#include "onewire/tmex.h"
#include "onewire/romid.h"
#include "sim/simbackend.h"

#include <QByteArray>
#include <QString>
#include <memory>

class SimDevice;

// A simulated bus with its TMEX calls, in virtual time, with the
// traffic log on, and an adapter session of its own for the tests that drive
// the adapter or the drivers without a measurement session (which has its
// own): every fixture starts like a freshly started program.
class SimFixture
{
    std::unique_ptr<SimBackend> m_backend;

public:
    SimFixture();
    explicit SimFixture(std::unique_ptr<SimBackend> backend);
    ~SimFixture();

    SimBackend &backend() { return *m_backend; }
    SimBus &bus() { return m_backend->bus(); }

    // Adds a device and returns it (owned by the bus).
    template <typename T>
    T *add(std::unique_ptr<T> device)
    {
        T *raw = device.get();
        bus().addDevice(std::move(device));
        return raw;
    }

    // The bus's TMEX calls and an adapter session on them.
    Tmex tmex;
    Adapter adapter;
    // Opens the fixture's adapter session; returns Adapter::open()'s result.
    int open();
    // The session handle the drivers get (a copy they point at).
    int32_t session;

    // The path of a bus file of the tests' data (tests/data/buses/NAME).
    static QString busFile(const QString &name);

    // A ROM with the family code and serial bytes given and the right CRC.
    static QByteArray rom(uint8_t family, quint64 serial);
    // The same ROM as the drivers' buffer (bus order, 8 shorts).
    static RomId romId(const QByteArray &rom);

};
