// What a measurement cycle costs over a USB 1-Wire adapter (DS2490). The
// demo bus and a bus of 20 DS18B20 run as orvexctl's cycle runs them
// (adapter, search, device list, reads) through the emulated DS2490 and the
// real libusb in a umockdev test bed, in virtual time with the USB frames
// charged (1 ms per transfer and per status packet), and the table gives
// the cycle's virtual duration against the floor — the same bus file on the
// simulated bus, which charges the bus time alone — the USB transfers per
// cycle and per device, and the real time a cycle took here (most of it the
// test bed's round trips, not the program). Figures are printed, never asserted.
//
// usage: bench_usb [cycles]          (cycles per bus, the last one measured; default 1)

#include "base/clock.h"
#include "bus/usbbackend.h"
#include "onewire/tmex.h"
#include "sensors/sensor.h"
#include "session/measurementsession.h"
#include "sim/simbackend.h"
#include "sim/simbusloader.h"
#include "sim/simds2490.h"
#include "support/usbtestbed.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <functional>

namespace {

struct Row
{
    QString bus;
    int devices = 0;
    double floorS = 0;
    double usbS = 0;
    double transfers = 0;
    double realS = 0;
};

std::unique_ptr<SimBackend> load(const QString &which)
{
    QString error;
    if (which == QLatin1String("demo"))
        return SimBusLoader::loadDemo(&error);
    QByteArray json = "{\"devices\": [";
    for (int i = 0; i < 20; ++i) {
        json += QStringLiteral("%1{\"type\": \"ds18b20\", \"rom\": \"28 %2 1E 1D 16 03 00\", \"temperature\": %3}")
                    .arg(i ? "," : "")
                    .arg(QString::number(0x10 + i * 7, 16).toUpper().rightJustified(2, QLatin1Char('0')))
                    .arg(18.0 + i * 0.5)
                    .toLatin1();
    }
    json += "]}";
    return SimBusLoader::load(json, QStringLiteral("20 DS18B20"), &error);
}

void quiet(QtMsgType, const QMessageLogContext &, const QString &)
{
}

// Virtual seconds of the last of `cycles` cycles, with the backend
// installed; before them the adapter is opened and the bus searched once.
// `counted` is called just before the last one.
double cycle(BusBackend *backend, int cycles, int *devices, const std::function<void()> &counted = {})
{
    double seconds = 0;
    {
        MeasurementSession session(backend);
        session.refresh();
        for (int i = 0; i < cycles; ++i) {
            if (i == cycles - 1 && counted)
                counted();
            const qint64 start = Clock::tickUs();
            const Acquisition::Result result = session.refresh();
            session.measure();
            seconds = double(Clock::tickUs() - start) / 1e6;
            *devices = result.roms.size();
        }
    }
    return seconds;
}

Row measure(const QString &which, int cycles)
{
    Row row;
    row.bus = which == QLatin1String("demo") ? QStringLiteral("demo bus") : QStringLiteral("20 DS18B20");
    {
        std::unique_ptr<SimBackend> sim = load(which);
        row.floorS = cycle(sim.get(), cycles, &row.devices);
    }
    std::unique_ptr<SimBackend> bus = load(which);
    SimDs2490 chip(&bus->bus());
    UsbTestBed bed(&chip);
    UsbBackend usb(UsbTestBed::position());
    QElapsedTimer real;
    int devices = 0;
    row.usbS = cycle(&usb, cycles, &devices, [&] {
        chip.clearRequests();
        real.start();
    });
    row.realS = double(real.elapsed()) / 1000.0;
    row.transfers = chip.requests().size();
    return row;
}

} // namespace

int main(int argc, char *argv[])
{
    UsbTestBed::ensurePreload(argv);
    QCoreApplication app(argc, argv);
    const int cycles = argc > 1 ? qMax(1, QString::fromLocal8Bit(argv[1]).toInt()) : 1;
    qInstallMessageHandler(quiet);
    Clock::setVirtual();
    QTextStream out(stdout);
    out << "\nUSB 1-Wire adapter (emulated DS2490 through libusb and umockdev), one cycle as orvexctl runs it\n\n";
    out << "| bus | devices | floor s | USB cycle s | ratio | USB transfers | transfers per device | real s |\n";
    out << "|---|--:|--:|--:|--:|--:|--:|--:|\n";
    for (const QString &which : {QStringLiteral("demo"), QStringLiteral("ds18b20")}) {
        const Row r = measure(which, cycles);
        out << "| " << r.bus << " | " << r.devices << " | " << QString::number(r.floorS, 'f', 2) << " | "
            << QString::number(r.usbS, 'f', 2) << " | " << QString::number(r.usbS / r.floorS, 'f', 2) << " | "
            << QString::number(r.transfers, 'f', 0) << " | "
            << QString::number(r.devices ? r.transfers / r.devices : 0, 'f', 1) << " | "
            << QString::number(r.realS, 'f', 2) << " |\n";
        out.flush();
    }
    return 0;
}
