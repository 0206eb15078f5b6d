// Cost of a full bus search on the simulated bus: the bus time a search takes
// (virtual time, as the wire timing charges it) and the real time the
// simulation needs for it. Log messages are dropped so that only the search
// and the simulated wire are measured.
//
// usage: bench_search [searches]   (default 200)

#include "onewire/adapter.h"
#include "onewire/crc.h"
#include "onewire/tmex.h"
#include "platform/clock.h"
#include "sim/simbackend.h"
#include "sim/simromdevice.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

namespace {

void dropMessages(QtMsgType, const QMessageLogContext &, const QString &)
{
}

// Distinct thermometer ROMs with valid CRCs, the same on every run.
QByteArray romNumber(int index)
{
    quint64 x = quint64(index + 1) * 0x9E3779B97F4A7C15ULL;
    QByteArray rom(1, char(0x28));
    for (int i = 0; i < 6; ++i)
        rom.append(char((x >> (8 * i + 8)) & 0xFF));
    rom.append(char(Crc::dallas8(rom)));
    return rom;
}

struct Result
{
    int found = 0;
    double busMsPerSearch = 0;
    double realUsPerSearch = 0;
};

Result measure(int devices, bool overdrive, int searches)
{
    SimBackend backend;
    for (int i = 0; i < devices; ++i)
        backend.bus().addDevice(std::make_unique<SimRomDevice>(romNumber(i), overdrive));
    Tmex::setBackend(&backend);
    Adapter &adapter = Adapter::instance();
    adapter.forgetSession();
    Result result;
    if (adapter.open() != 1)
        return result;

    RomList roms;
    const qint64 startUs = Clock::tickUs();
    QElapsedTimer real;
    real.start();
    for (int i = 0; i < searches; ++i)
        adapter.search(roms);
    const qint64 realNs = real.nsecsElapsed();
    result.found = roms.size();
    result.busMsPerSearch = double(Clock::tickUs() - startUs) / 1000.0 / searches;
    result.realUsPerSearch = double(realNs) / 1000.0 / searches;

    Tmex::setBackend(nullptr);
    adapter.forgetSession();
    return result;
}

QString cell(const QString &text, int width)
{
    return text.rightJustified(width);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(dropMessages);
    Clock::setVirtual();
    int searches = 200;
    if (argc > 1)
        searches = qMax(1, QString::fromLocal8Bit(argv[1]).toInt());

    QTextStream out(stdout);
    out << "Bus search on the simulated bus, " << searches << " searches per row\n";
    out << cell("devices", 8) << cell("speed", 11) << cell("found", 7) << cell("bus ms/search", 15)
        << cell("real us/search", 16) << cell("bus ms/device", 15) << "\n";
    for (const int devices : {20, 100}) {
        for (const bool overdrive : {false, true}) {
            const Result r = measure(devices, overdrive, searches);
            out << cell(QString::number(devices), 8) << cell(overdrive ? "overdrive" : "standard", 11)
                << cell(QString::number(r.found), 7) << cell(QString::number(r.busMsPerSearch, 'f', 2), 15)
                << cell(QString::number(r.realUsPerSearch, 'f', 1), 16)
                << cell(QString::number(r.busMsPerSearch / devices, 'f', 2), 15) << "\n";
        }
    }
    return 0;
}
