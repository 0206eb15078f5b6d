// Several buses in one process: one session measuring the demo bus and a bus
// of 20 DS18B20s side by side, against each bus measured alone, on the
// simulated bus in virtual time. A cycle of both should take as long as the
// slower bus alone, not the sum. Prints one table; figures, not assertions.
//
// Usage: bench_buses

#include "base/clock.h"
#include "bus/busbackend.h"
#include "session/measurementsession.h"
#include "sim/simbackend.h"
#include "sim/simbusloader.h"
#include "sim/simds18b20.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <memory>
#include <vector>

namespace {

std::unique_ptr<BusBackend> demo()
{
    QString error;
    return SimBusLoader::loadDemo(&error);
}

std::unique_ptr<BusBackend> thermometers()
{
    auto backend = std::make_unique<SimBackend>();
    for (int i = 0; i < 20; ++i) {
        const QByteArray rom = SimBusLoader::defaultRom(0x28, i + 1);
        backend->bus().addDevice(std::make_unique<SimDs18b20>(rom, 20.0 + i / 4.0));
    }
    return backend;
}

struct Figures
{
    double cycleS = 0; // the second cycle, virtual time
    double wallMs = 0; // the same cycle, real time
};

// The second cycle of a session on `buses` (the first finds the devices).
Figures secondCycle(std::vector<std::unique_ptr<BusBackend>> buses)
{
    Clock::setVirtual();
    MeasurementSession session(std::move(buses));
    session.cycle();
    Clock::advanceMs(1000);
    const qint64 startUs = Clock::tickUs();
    QElapsedTimer wall;
    wall.start();
    session.cycle();
    return {double(Clock::tickUs() - startUs) / 1e6, double(wall.nsecsElapsed()) / 1e6};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    auto one = [](std::unique_ptr<BusBackend> bus) {
        std::vector<std::unique_ptr<BusBackend>> buses;
        buses.push_back(std::move(bus));
        return secondCycle(std::move(buses));
    };
    const Figures demoAlone = one(demo());
    const Figures thermometersAlone = one(thermometers());
    std::vector<std::unique_ptr<BusBackend>> both;
    both.push_back(demo());
    both.push_back(thermometers());
    const Figures together = secondCycle(std::move(both));

    const double slower = qMax(demoAlone.cycleS, thermometersAlone.cycleS);
    QTextStream out(stdout);
    out << "Several buses in one session (simulated bus, virtual time, the second cycle)\n\n"
        << "| buses | cycle s | real ms |\n|---|--:|--:|\n";
    auto row = [&out](const char *name, const Figures &f) {
        out << "| " << name << " | " << QString::number(f.cycleS, 'f', 2) << " | "
            << QString::number(f.wallMs, 'f', 1) << " |\n";
    };
    row("demo bus alone", demoAlone);
    row("20 DS18B20 alone", thermometersAlone);
    row("both in one session", together);
    out << "\nboth / slower alone: " << QString::number(together.cycleS / slower, 'f', 3) << "\n";
    return 0;
}
