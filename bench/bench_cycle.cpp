// What one measurement cycle costs, and how it grows with the bus. For each
// bus file of bench/buses (reference, thermometers-100, thermometers-500,
// wide), with both scan options on and both off, in the window's mode (its
// log handler as installed without "-v1": every log call pauses 10 ms while
// processing events) and in orvexctl's mode (log messages dropped), a cycle
// runs as the window's tick runs it — adapter check, search, device-list
// upkeep, measurement cycle, table update writing every channel's file (and,
// in the window's mode, keeping every reading for the charts) — on the
// simulated bus in virtual time, and the table gives:
//
// - the cycle's virtual duration, and the floor for the same traffic (from
//   the traffic log alone, TrafficFloor, plus 10 ms per log call in the
//   window's mode), and their ratio;
// - CPU time per cycle (total, per channel, and the program's own without
//   the simulated bus, also as a share of the cycle's duration), split into
//   search (with the device-list upkeep), device reads, table update and
//   file writing (CpuMeter), and the simulated bus;
// - peak memory of the process;
// - the longest stretch of the cycle without window events processed (in
//   orvexctl's mode this is also the window's with "-v1", where log calls do
//   not pause).
//
// Below the table: the SHT3x heater's in-place wait ("-sht", on-time 5 s) on
// the reference bus, and the CPU time of one search of 1,000 devices.
// Figures are printed, never asserted. Every configuration runs in a child
// process of its own, so each has its own peak memory and fresh state.
//
// usage: bench_cycle [cycles]          (measured cycles per configuration, default 3)
//        bench_cycle --one BUS on|off window|orvexctl CYCLES [--sht]
//        bench_cycle --scan DEVICES

#include "base/logmessagehandler.h"
#include "chart/trendarchive.h"
#include "i2c/heaterschedule.h"
#include "onewire/adapter.h"
#include "onewire/tmex.h"
#include "bus/busbackend.h"
#include "base/clock.h"
#include "base/cpumeter.h"
#include "sensors/acquisition.h"
#include "session/measurementsession.h"
#include "sensors/sensor.h"
#include "sim/simbackend.h"
#include "sim/simbusloader.h"
#include "sim/simromdevice.h"
#include "support/eventgapprobe.h"
#include "support/trafficfloor.h"
#include "table/recorder.h"
#include "table/tableman.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <chrono>
#include <sys/resource.h>

namespace {

using SteadyClock = std::chrono::steady_clock;

qint64 steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(SteadyClock::now().time_since_epoch()).count();
}

double peakMb()
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

// The simulated driver, timed: the real time spent inside it is charged to
// the CpuMeter phase that called it, and its traffic log is handed to the
// floor in small portions (so the log never grows large).
class TimedBackend : public BusBackend
{
public:
    explicit TimedBackend(SimBackend &sim)
        : m_sim(sim)
    {
    }

    void reset()
    {
        for (qint64 &ns : m_ns)
            ns = 0;
        m_drainNs = 0;
    }
    qint64 simUs(int phase) const { return m_ns[phase + 1] / 1000; }
    qint64 simTotalUs() const
    {
        qint64 ns = 0;
        for (qint64 n : m_ns)
            ns += n;
        return ns / 1000;
    }
    qint64 drainUs() const { return m_drainNs / 1000; }
    TrafficFloor &floor() { return m_floor; }
    void drain()
    {
        const qint64 start = steadyNs();
        m_floor.addAll(m_sim.traffic());
        m_sim.clearTraffic();
        m_drainNs += steadyNs() - start;
    }

    short readDefaultPort(short *n, short *t) override { return timed([&] { return m_sim.readDefaultPort(n, t); }); }
    int32_t extendedStartSession(short n, short t, void *o) override
    {
        return timed([&] { return m_sim.extendedStartSession(n, t, o); });
    }
    short validSession(int32_t s) override { return timed([&] { return m_sim.validSession(s); }); }
    short setup(int32_t s) override { return timed([&] { return m_sim.setup(s); }); }
    short autoOverDrive(int32_t s, void *st, short m) override
    {
        return timed([&] { return m_sim.autoOverDrive(s, st, m); });
    }
    short endSession(int32_t s) override { return timed([&] { return m_sim.endSession(s); }); }
    short touchReset(int32_t s) override { return timed([&] { return m_sim.touchReset(s); }); }
    short touchByte(int32_t s, short b) override { return timed([&] { return m_sim.touchByte(s, b); }); }
    short touchBit(int32_t s, short b) override { return timed([&] { return m_sim.touchBit(s, b); }); }
    short first(int32_t s, void *st) override { return timed([&] { return m_sim.first(s, st); }); }
    short next(int32_t s, void *st) override { return timed([&] { return m_sim.next(s, st); }); }
    short rom(int32_t s, void *st, short *r) override { return timed([&] { return m_sim.rom(s, st, r); }); }
    short strongAccess(int32_t s, void *st) override { return timed([&] { return m_sim.strongAccess(s, st); }); }
    short access(int32_t s, void *st) override { return timed([&] { return m_sim.access(s, st); }); }
    short oneWireLevel(int32_t s, short o, short l, short p) override
    {
        return timed([&] { return m_sim.oneWireLevel(s, o, l, p); });
    }
    short crc(short l, unsigned char *b, unsigned short s, short t) override
    {
        return timed([&] { return m_sim.crc(l, b, s, t); });
    }
    QString description() const override { return m_sim.description(); }

private:
    template <typename Call>
    auto timed(Call call) -> decltype(call())
    {
        const qint64 start = steadyNs();
        const auto result = call();
        m_ns[CpuMeter::current() + 1] += steadyNs() - start;
        if (m_sim.traffic().size() >= 4096)
            drain();
        return result;
    }

    SimBackend &m_sim;
    TrafficFloor m_floor;
    qint64 m_ns[CpuMeter::PhaseCount + 1] = {};
    qint64 m_drainNs = 0;
};

int logCalls = 0;
bool windowMode = false;

// The window's handler as installed without "-v1", or orvexctl's (dropping
// everything); either way the calls are counted for the floor.
void countingHandler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    ++logCalls;
    if (windowMode)
        logMessageHandler(type, context, text);
}

struct Figures
{
    int devices = 0;
    int channels = 0;
    int cycles = 0;
    double cycleMs = 0;
    double floorMs = 0;
    double cpuMs = 0;
    double phaseMs[CpuMeter::PhaseCount] = {};
    double simMs = 0;
    double peakMb = 0;
    double longestMs = 0;
    bool overdrive = false;

    QString encode() const
    {
        QStringList f;
        f << QString::number(devices) << QString::number(channels) << QString::number(cycles)
          << QString::number(cycleMs, 'f', 3) << QString::number(floorMs, 'f', 3) << QString::number(cpuMs, 'f', 3);
        for (double ms : phaseMs)
            f << QString::number(ms, 'f', 3);
        f << QString::number(simMs, 'f', 3) << QString::number(peakMb, 'f', 1) << QString::number(longestMs, 'f', 3)
          << QString::number(overdrive ? 1 : 0);
        return QStringLiteral("RESULT ") + f.join(QLatin1Char(' '));
    }
    static Figures decode(const QString &line)
    {
        Figures r;
        const QStringList f = line.mid(7).split(QLatin1Char(' '));
        if (f.size() < 10 + CpuMeter::PhaseCount)
            return r;
        int i = 0;
        r.devices = f.at(i++).toInt();
        r.channels = f.at(i++).toInt();
        r.cycles = f.at(i++).toInt();
        r.cycleMs = f.at(i++).toDouble();
        r.floorMs = f.at(i++).toDouble();
        r.cpuMs = f.at(i++).toDouble();
        for (double &ms : r.phaseMs)
            ms = f.at(i++).toDouble();
        r.simMs = f.at(i++).toDouble();
        r.peakMb = f.at(i++).toDouble();
        r.longestMs = f.at(i++).toDouble();
        r.overdrive = f.at(i++).toInt() != 0;
        return r;
    }
};

QString busPath(const QString &name)
{
    return QStringLiteral(ORVEX_BENCH_DIR "/buses/") + name + QStringLiteral(".json");
}

// One configuration: a warm-up cycle (rows and files are created), then
// `cycles` measured ones, averaged; the longest stretch is the longest of all.
int runOne(const QString &bus, bool scanAll, bool window, int cycles, bool sht)
{
    QTextStream out(stdout);
    QString error;
    std::unique_ptr<SimBackend> sim = SimBusLoader::loadFile(busPath(bus), &error);
    QTemporaryDir folder;
    if (!sim || !folder.isValid()) {
        out << "cannot set up: " << error << "\n";
        return 1;
    }
    Clock::setVirtual();
    sim->setTrafficLogging(true);
    TimedBackend timed(*sim);
    setLogFileEnabled(false); // no "-v1": the window's handler pauses
    windowMode = window;
    qInstallMessageHandler(countingHandler);
    MeasurementSession session(&timed);
    Sensor &sensor = session.sensor();
    if (sht) {
        sensor.setShtMode(true);
        sensor.heaterSchedules().setPauseS(1);
        sensor.heaterSchedules().setOnTimeS(5);
    }
    sensor.setScanAllChannel(scanAll);
    sensor.setScanAllType(scanAll);
    session.keepTable(true);
    session.setRecordingFolder(folder.path());
    session.table().init(sensor.devices());
    TrendArchive archive;
    if (window) // the window keeps every reading for its charts
        session.addSink(&archive);
    EventGapProbe probe;
    CpuMeter::setEnabled(true);

    Figures f;
    auto cycle = [&](bool measured) {
        Clock::advanceMs(1000); // the window's timer between two ticks
        QCoreApplication::processEvents();
        timed.drain();
        TrafficFloor &floor = timed.floor();
        floor = TrafficFloor();
        floor.setOverdrive(f.overdrive);
        logCalls = 0;
        timed.reset();
        CpuMeter::reset();
        probe.start();
        const qint64 startUs = Clock::tickUs();
        const qint64 cpuStart = CpuMeter::processUs();
        const qint64 wallStart = steadyNs();

        session.refresh();
        session.measure();

        const qint64 wallNs = steadyNs() - wallStart;
        const qint64 cpuEnd = CpuMeter::processUs();
        const qint64 endUs = Clock::tickUs();
        probe.stop();
        timed.drain();
        f.overdrive = floor.overdrive();
        if (!measured)
            return;
        f.cycleMs += double(endUs - startUs) / 1000.0;
        f.floorMs += double(floor.totalUs()) / 1000.0 + (window ? logCalls * 10.0 : 0.0);
        const double cpuMs = double(cpuEnd - cpuStart - timed.drainUs()) / 1000.0;
        // The simulated bus is timed in real time, which counts whatever other
        // processes took of the CPU meanwhile: it is scaled by the share of
        // the CPU this process had during the cycle.
        const double share = qBound(0.0, double(cpuEnd - cpuStart) * 1000.0 / double(qMax<qint64>(1, wallNs)), 1.0);
        f.cpuMs += cpuMs;
        for (int p = 0; p < CpuMeter::PhaseCount; ++p)
            f.phaseMs[p] += (double(CpuMeter::usedUs(CpuMeter::Phase(p))) - timed.simUs(p) * share) / 1000.0;
        f.simMs += timed.simTotalUs() * share / 1000.0;
        f.longestMs = qMax(f.longestMs, double(probe.longestUs()) / 1000.0);
    };
    cycle(false);
    for (int i = 0; i < cycles; ++i)
        cycle(true);
    CpuMeter::setEnabled(false);

    f.cycles = cycles;
    f.cycleMs /= cycles;
    f.floorMs /= cycles;
    f.cpuMs /= cycles;
    for (double &ms : f.phaseMs)
        ms /= cycles;
    f.simMs /= cycles;
    f.devices = sensor.devices()->size();
    for (const SensorDevice *device : qAsConst(*sensor.devices()))
        f.channels += device->channels.size();
    f.peakMb = peakMb();
    qInstallMessageHandler(nullptr);
    out << f.encode() << "\n";
    return 0;
}

// One search of a bus of `devices` ROM chips with thermometer ROMs, as a bus
// file gives them (log messages dropped).
int runScan(int devices)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    Clock::setVirtual();
    SimBackend backend;
    for (int i = 0; i < devices; ++i)
        backend.bus().addDevice(std::make_unique<SimRomDevice>(SimBusLoader::defaultRom(0x28, i)));
    Tmex tmex(&backend);
    Adapter adapter(tmex);
    adapter.open();
    RomList roms;
    const qint64 startUs = Clock::tickUs();
    const qint64 cpuStart = CpuMeter::processUs();
    adapter.search(roms);
    const qint64 cpu = CpuMeter::processUs() - cpuStart;
    QTextStream(stdout) << "SCAN " << roms.size() << " " << QString::number((Clock::tickUs() - startUs) / 1e6, 'f', 2)
                        << " " << QString::number(cpu / 1e6, 'f', 3) << "\n";
    return 0;
}

struct Row
{
    QString bus;
    bool scanAll;
    bool window;
    Figures f;
};

QString runChild(const QStringList &args)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), args);
    child.waitForFinished(-1);
    const QStringList lines = QString::fromUtf8(child.readAllStandardOutput()).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1String("RESULT ")) || line.startsWith(QLatin1String("SCAN ")))
            return line;
    }
    return QString();
}

QString num(double x, int decimals)
{
    return QString::number(x, 'f', decimals);
}

int runAll(int cycles)
{
    QTextStream out(stdout);
    const QStringList buses = {QStringLiteral("reference"), QStringLiteral("thermometers-100"),
                               QStringLiteral("thermometers-500"), QStringLiteral("wide")};
    QVector<Row> rows;
    for (const QString &bus : buses) {
        for (const bool scanAll : {true, false}) {
            for (const bool window : {true, false}) {
                Row row{bus, scanAll, window, Figures()};
                const QString line =
                    runChild({QStringLiteral("--one"), bus, scanAll ? QStringLiteral("on") : QStringLiteral("off"),
                              window ? QStringLiteral("window") : QStringLiteral("orvexctl"), QString::number(cycles)});
                row.f = Figures::decode(line);
                rows << row;
                out << "  " << bus << ", scan options " << (scanAll ? "on" : "off") << ", "
                    << (window ? "window" : "orvexctl") << ": " << num(row.f.cycleMs / 1000.0, 2) << " s virtual, "
                    << num(row.f.cpuMs, 1) << " ms CPU per cycle\n";
                out.flush();
            }
        }
    }
    const Figures heater = Figures::decode(runChild(
        {QStringLiteral("--one"), QStringLiteral("reference"), QStringLiteral("on"), QStringLiteral("window"),
         QString::number(cycles), QStringLiteral("--sht")}));
    const QStringList scan = runChild({QStringLiteral("--scan"), QStringLiteral("1000")}).split(QLatin1Char(' '));

    QStringList md;
    md << QStringLiteral("# What a measurement cycle costs")
       << QString()
       << QStringLiteral("Written by `make bench` (bench/bench_cycle.cpp); figures from one run, averaged over %1 "
                         "cycles after a first one that creates the rows and files. Virtual time on the simulated "
                         "bus; CPU time of this machine.")
              .arg(cycles)
       << QString()
       << QStringLiteral("| bus | scan options | mode | devices | channels | speed | cycle s | floor s | ratio | CPU ms "
                         "| µs/channel | own CPU % of cycle | search ms | reads ms | table ms | files ms | sim. bus ms "
                         "| peak MB | longest stretch ms |")
       << QStringLiteral("|---|---|---|--:|--:|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|");
    for (const Row &r : rows) {
        const Figures &f = r.f;
        const double ownMs = f.cpuMs - f.simMs;
        md << QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 | %7 | %8 | %9 | %10 | %11 | %12 | %13 | %14 | %15 | %16 "
                             "| %17 | %18 | %19 |")
                  .arg(r.bus, r.scanAll ? QStringLiteral("on") : QStringLiteral("off"),
                       r.window ? QStringLiteral("window") : QStringLiteral("orvexctl"))
                  .arg(f.devices)
                  .arg(f.channels)
                  .arg(f.overdrive ? QStringLiteral("overdrive") : QStringLiteral("standard"))
                  .arg(num(f.cycleMs / 1000.0, 2), num(f.floorMs / 1000.0, 2),
                       num(f.floorMs > 0 ? f.cycleMs / f.floorMs : 0.0, 3), num(f.cpuMs, 1),
                       num(f.channels > 0 ? f.cpuMs * 1000.0 / f.channels : 0.0, 1),
                       num(f.cycleMs > 0 ? 100.0 * ownMs / f.cycleMs : 0.0, 3))
                  .arg(num(f.phaseMs[CpuMeter::Search], 1), num(f.phaseMs[CpuMeter::Reads], 1),
                       num(f.phaseMs[CpuMeter::Table], 1), num(f.phaseMs[CpuMeter::Files], 1), num(f.simMs, 1),
                       num(f.peakMb, 1), num(f.longestMs, 1));
    }
    md << QString()
       << QStringLiteral("- floor: the same traffic at the 1-Wire timing table's times plus the waits the drivers "
                         "must make (conversions, busy polls, the sensors' waits, the pauses around the search), "
                         "computed from the traffic log alone; in the window's mode plus 10 ms per log call.")
       << QStringLiteral("- CPU: the whole cycle; search (with the device-list upkeep), reads, table and files are "
                         "the program's own time in each, without the simulated bus, whose real time is the sim. "
                         "bus column; own CPU = CPU − sim. bus.")
       << QStringLiteral("- mode: window = the window's log handler without \"-v1\" (each log call pauses 10 ms "
                         "processing events); orvexctl = log messages dropped, which for the longest stretch is "
                         "also the window with \"-v1\".")
       << QStringLiteral("- longest stretch: the longest run of virtual time in a cycle without window events "
                         "processed, measured by a posted event that posts itself again on every delivery.")
       << QStringLiteral("- SHT3x heater in-place wait (\"-sht\", on-time 5 s, pause 1 s; reference bus, window "
                         "mode): longest stretch %1 ms; the cycle takes %2 s.")
              .arg(num(heater.longestMs, 1), num(heater.cycleMs / 1000.0, 2))
       << QStringLiteral("- One search of 1,000 devices: %1 found, %2 s virtual, %3 s CPU.")
              .arg(scan.value(1), scan.value(2), scan.value(3));

    const QString text = md.join(QLatin1Char('\n')) + QLatin1Char('\n');
    out << "\n" << text;
    QFile file(QStringLiteral(ORVEX_BENCH_DIR "/results.md"));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.write(text.toUtf8());
        out << "\n(written to " << QDir::cleanPath(file.fileName()) << ")\n";
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) == QLatin1String("--one") && args.size() >= 5)
        return runOne(args.at(1), args.at(2) == QLatin1String("on"), args.at(3) == QLatin1String("window"),
                      qMax(1, args.at(4).toInt()), args.contains(QStringLiteral("--sht")));
    if (args.value(0) == QLatin1String("--scan"))
        return runScan(qMax(1, args.value(1).toInt()));
    return runAll(args.isEmpty() ? 3 : qMax(1, args.at(0).toInt()));
}
