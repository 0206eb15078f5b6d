// What a cycle costs over a DS2480B serial adapter. The emulated adapter sits
// on a real pseudo-terminal in this process and charges the serial line's
// time to the virtual clock: every byte the host sends at 9600 baud, and per
// turnaround (a write the chip answers, after which the host waits) the last
// answer byte and the USB-serial converter's latency (16 ms, an FTDI chip's
// default; 1 ms, tuned). For the demo bus and for 20 DS18B20s the table gives
// the cycle (adapter check, search, device-list upkeep, measurements), its
// turnarounds and bytes both ways, and the floor: the same cycle on the
// simulated bus (its 1-Wire time and waits) plus every byte at the line rate
// plus one latency and one answer byte per 1-Wire transaction (a reset, a
// selection, a search pass). Below: the turnarounds of one DS18B20 read, and
// what 115,200 baud would give by the datasheet's cost model.
// Figures are printed, never asserted.
//
// usage: bench_serial

#include "base/clock.h"
#include "bus/serialbackend.h"
#include "bus/simbackend.h"
#include "onewire/adapter.h"
#include "onewire/romid.h"
#include "onewire/tmex.h"
#include "sensors/ds18b20.h"
#include "session/measurementsession.h"
#include "sim/simbusloader.h"
#include "sim/simds18b20.h"
#include "sim/simds2480b.h"
#include "sim/simpty.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTextStream>

namespace {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

std::unique_ptr<SimBackend> thermometers()
{
    auto backend = std::make_unique<SimBackend>();
    for (int i = 0; i < 20; ++i) {
        const QByteArray rom = SimBusLoader::defaultRom(0x28, i + 1);
        backend->bus().addDevice(std::make_unique<SimDs18b20>(rom, 20.0 + i / 4.0));
    }
    return backend;
}

std::unique_ptr<SimBackend> load(const QString &bus)
{
    QString error;
    if (bus == QLatin1String("demo"))
        return SimBusLoader::loadDemo(&error);
    return thermometers();
}

// One cycle as orvexctl runs it; the virtual time it took, µs.
qint64 cycle(MeasurementSession &session)
{
    const qint64 start = Clock::tickUs();
    session.refresh();
    session.measure();
    return Clock::tickUs() - start;
}

struct Figures
{
    qint64 cycleUs = 0;
    qint64 turnarounds = 0;
    qint64 bytesIn = 0; // host to adapter
    qint64 bytesOut = 0;
};

// The second cycle on the simulated bus: its time and its 1-Wire transactions.
qint64 simulated(const QString &bus, int *transactions)
{
    Clock::setVirtual();
    std::unique_ptr<SimBackend> backend = load(bus);
    Tmex::setBackend(backend.get());
    MeasurementSession session;
    cycle(session);
    backend->setTrafficLogging(true);
    const qint64 us = cycle(session);
    *transactions = 0;
    for (const char *call : {"TMTouchReset", "TMStrongAccess", "TMAccess", "TMFirst", "TMNext"})
        *transactions += backend->callCount(QLatin1String(call));
    Tmex::setBackend(nullptr);
    return us;
}

// The second cycle over the emulated adapter.
Figures serial(const QString &bus, int latencyMs)
{
    Clock::setVirtual();
    std::unique_ptr<SimBackend> backend = load(bus);
    SimDs2480b chip(&backend->bus());
    SimPty port(&chip);
    QTemporaryDir dir;
    QString error;
    const QString link = dir.filePath(QStringLiteral("ttyDS2480"));
    if (!port.open(link, &error))
        qFatal("pseudo-terminal: %s", qPrintable(error));
    port.setLineTiming(true, latencyMs * 1000);
    SerialBackend serialBackend(link);
    Tmex::setBackend(&serialBackend);
    MeasurementSession session;
    cycle(session);
    port.clearCounts();
    Figures f;
    f.cycleUs = cycle(session);
    f.turnarounds = port.turnarounds();
    f.bytesIn = port.bytesIn();
    f.bytesOut = port.bytesOut();
    Tmex::setBackend(nullptr);
    return f;
}

// Turnarounds of one DS18B20 read after a broadcast conversion.
qint64 oneRead()
{
    Clock::setVirtual();
    SimBackend backend;
    const QByteArray rom = SimBusLoader::defaultRom(0x28, 1);
    backend.bus().addDevice(std::make_unique<SimDs18b20>(rom, 21.0));
    SimDs2480b chip(&backend.bus());
    SimPty port(&chip);
    QTemporaryDir dir;
    QString error;
    const QString link = dir.filePath(QStringLiteral("ttyDS2480"));
    if (!port.open(link, &error))
        qFatal("pseudo-terminal: %s", qPrintable(error));
    SerialBackend serialBackend(link);
    Tmex::setBackend(&serialBackend);
    Adapter adapter;
    adapter.open();
    int32_t session = adapter.sessionHandle();
    TMTouchReset(session);
    TMTouchByte(session, 0xCC);
    TMTouchByte(session, 0x44);
    Clock::advanceMs(1000);
    RomId id;
    for (char b : rom)
        id.append(short(uchar(b)));
    Ds18b20 driver(&session, adapter.accessStateBuffer(), id.data());
    port.clearCounts();
    double value = 0;
    driver.convertAndRead(&value, Ds18x20::ReadOnly);
    const qint64 turnarounds = port.turnarounds();
    Tmex::setBackend(nullptr);
    return turnarounds;
}

QString seconds(qint64 us)
{
    return QString::number(double(us) / 1e6, 'f', 2);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false"));
    out() << "| bus | latency | cycle s | turnarounds | bytes out | bytes in | floor s | cycle / floor |\n"
          << "|---|---:|---:|---:|---:|---:|---:|---:|\n";
    struct Totals { qint64 simUs; qint64 bytesIn; int transactions; };
    QMap<QString, Totals> totals;
    for (const QString &bus : {QStringLiteral("demo"), QStringLiteral("20 DS18B20")}) {
        int transactions = 0;
        const qint64 simUs = simulated(bus, &transactions);
        for (const int latencyMs : {16, 1}) {
            const Figures f = serial(bus, latencyMs);
            const qint64 floorUs =
                simUs + f.bytesIn * SimPty::kByteUs + qint64(transactions) * (latencyMs * 1000 + SimPty::kByteUs);
            out() << "| " << bus << " | " << latencyMs << " ms | " << seconds(f.cycleUs) << " | " << f.turnarounds
                  << " | " << f.bytesIn << " | " << f.bytesOut << " | " << seconds(floorUs) << " | "
                  << QString::number(double(f.cycleUs) / double(floorUs), 'f', 2) << " |\n";
            out().flush();
            totals[bus] = {simUs, f.bytesIn, transactions};
        }
    }
    out() << "\nOne DS18B20 read (selection and Read Scratchpad): " << oneRead() << " turnarounds.\n";

    // 115,200 baud: a byte takes 87 µs on the line instead of 1,042 µs, but
    // the chip turns a data byte into about 0.6 ms of time slots at standard
    // speed and buffers one byte only, so a transaction can no longer go out
    // in one write: the host must wait for an answer every second byte. Gain:
    // (1,042 − 600) µs per byte; cost: one more turnaround per two bytes.
    out() << "\n115,200 baud by the cost model (line time saved vs. turnarounds added):\n";
    for (auto it = totals.constBegin(); it != totals.constEnd(); ++it) {
        const qint64 savedUs = it->bytesIn * (SimPty::kByteUs - 600);
        for (const int latencyMs : {16, 1}) {
            const qint64 addedUs = it->bytesIn / 2 * latencyMs * 1000;
            out() << "  " << it.key() << ", " << latencyMs << " ms: saves " << seconds(savedUs) << " s, costs "
                  << seconds(addedUs) << " s\n";
        }
    }
    out().flush();
    return 0;
}
