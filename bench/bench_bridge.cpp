// Cost of reading one bridge with a multi-hub with both scan options on:
// 6 sensor types probed on each of 48 channels, six sensors answering. Reports
// the bus time of the read (virtual time), the CPU time, how often GUI events
// were processed and the longest stretch without them; then the same with the
// SHT3x heater under "-sht" with an on-time of 5 s, whose in-place wait is the
// one stretch allowed to pass without events. Log messages are dropped.
//
// usage: bench_bridge [reads]   (default 5)

#include "app/appstate.h"
#include "i2c/heaterschedule.h"
#include "onewire/adapter.h"
#include "onewire/crc.h"
#include "onewire/tmex.h"
#include "platform/clock.h"
#include "sensors/sensor.h"
#include "sim/simbackend.h"
#include "sim/simbmp280.h"
#include "sim/simd6f.h"
#include "sim/simds28e17.h"
#include "sim/simhdc1080.h"
#include "sim/simmultihub.h"
#include "sim/simscd30.h"
#include "sim/simsht3x.h"
#include "sim/simsts3x.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <QTimer>
#include <ctime>

namespace {

void dropMessages(QtMsgType, const QMessageLogContext &, const QString &)
{
}

QByteArray bridgeRom()
{
    const QByteArray rom = QByteArray::fromHex("195C2E810B0000");
    return rom + char(Crc::dallas8(rom));
}

struct Figures
{
    double busMs = 0;
    double cpuMs = 0;
    int events = 0;
    double longestGapMs = 0;
};

Figures readBridge(Sensor &sensor, int reads)
{
    Figures f;
    qint64 lastUs = Clock::tickUs();
    qint64 longestUs = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestUs = qMax(longestUs, Clock::tickUs() - lastUs);
        lastUs = Clock::tickUs();
        ++f.events;
    });
    ticker.start(0);
    const qint64 startUs = Clock::tickUs();
    const std::clock_t cpuStart = std::clock();
    for (int i = 0; i < reads; ++i) {
        Clock::advanceMs(10000);
        lastUs = Clock::tickUs();
        sensor.readDevice(*sensor.devices()->first());
        longestUs = qMax(longestUs, Clock::tickUs() - lastUs);
    }
    ticker.stop();
    f.busMs = double(Clock::tickUs() - startUs - qint64(reads) * 10000000) / 1000.0 / reads;
    f.cpuMs = double(std::clock() - cpuStart) * 1000.0 / CLOCKS_PER_SEC / reads;
    f.events /= reads;
    f.longestGapMs = longestUs / 1000.0;
    return f;
}

} // namespace

int main(int argc, char *argv[])
{
    qInstallMessageHandler(dropMessages);
    QCoreApplication app(argc, argv);
    const int reads = argc > 1 ? qMax(1, QString::fromLocal8Bit(argv[1]).toInt()) : 5;

    Clock::setVirtual();
    SimBackend backend;
    auto *bridge = static_cast<SimDs28e17 *>(backend.bus().addDevice(std::make_unique<SimDs28e17>(bridgeRom())));
    SimMultiHub *hub = bridge->i2c().setHub(std::make_unique<SimMultiHub>());
    hub->add(std::make_unique<SimSht3x>(), 0);
    hub->add(std::make_unique<SimSts3x>(), 9);
    hub->add(std::make_unique<SimHdc1080>(), 18);
    hub->add(std::make_unique<SimBmp280>(), 27);
    hub->add(std::make_unique<SimD6f>(), 36);
    hub->add(std::make_unique<SimScd30>(), 47);
    Tmex::setBackend(&backend);
    Adapter::instance().forgetSession();
    Adapter::instance().open();

    Sensor sensor;
    RomId rom;
    for (char c : bridge->rom())
        rom << short(uchar(c));
    sensor.addOrMark(rom);

    QTextStream out(stdout);
    auto report = [&](const char *title, const Figures &f) {
        out << title << "\n";
        out << "  bus time per read:   " << QString::number(f.busMs, 'f', 1) << " ms (virtual)\n";
        out << "  CPU time per read:   " << QString::number(f.cpuMs, 'f', 2) << " ms\n";
        out << "  event passes per read: " << f.events << "\n";
        out << "  longest stretch without events: " << QString::number(f.longestGapMs, 'f', 1) << " ms\n";
    };
    report("One bridge, 48 hub channels x 6 sensor types, six sensors answering", readBridge(sensor, reads));

    AppState::instance().setShtMode(true);
    setHeaterPause(1);
    setHeaterOnTime(5);
    report("The same with the SHT3x heater on for 5 s in place (\"-sht\", pause 1 s)", readBridge(sensor, reads));

    Tmex::setBackend(nullptr);
    Adapter::instance().forgetSession();
    return 0;
}
