// What a measurement cycle of 20 DS18B20 costs on one of the Linux kernel's
// 1-Wire masters read through sysfs, with the bulk conversion (the process
// may write therm_bulk_read: one conversion of the whole bus a cycle) and
// without it (each w1_slave read converts its device). The kernel's tree is
// the tests' umockdev test bed; the cycle runs as orvexctl's does, in
// virtual time. The kernel's own time is estimated from what it was asked:
// 750 ms per conversion at 12 bits (w1_therm's figure) and about 12 ms per
// scratchpad read (reset, Match ROM, the command and nine bytes at standard
// speed). The program's own waits are the virtual clock's. Figures are
// printed, never asserted.
//
// A second table counts the requests to the kernel's w1 netlink connector
// (each one round trip) per bridge exchange, for the bridges of the tests'
// w1netlink bus read through the tests' emulated kernel side.
//
// usage: bench_w1 [cycles]          (cycles per row, the last one measured; default 2)

#include "base/clock.h"
#include "bus/crc.h"
#include "bus/w1backend.h"
#include "bus/w1sysfs.h"
#include "session/measurementsession.h"
#include "sim/simbackend.h"
#include "sim/simbusloader.h"
#include "support/simfixture.h"
#include "support/usbtestbed.h"
#include "support/w1kernelpeer.h"
#include "support/w1testbed.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSet>
#include <QTextStream>

namespace {

const QString kMaster = QStringLiteral("w1_bus_master1");
const int kDevices = 20;
const double kConversionS = 0.750;
const double kReadS = 0.012;

struct Row
{
    QString how;
    int conversions = 0;
    int reads = 0;
    double kernelS = 0;
    double programS = 0;
    double realS = 0;
};

void quiet(QtMsgType, const QMessageLogContext &, const QString &)
{
}

QByteArray scratchpad(int index)
{
    const int16_t raw = int16_t((18 * 16) + index * 8);
    QByteArray bytes;
    bytes += char(raw & 0xFF);
    bytes += char(raw >> 8);
    bytes += QByteArray::fromHex("4b467fff0c10");
    bytes += char(Crc::dallas8(bytes));
    return bytes;
}

// Conversions the kernel made for these operations: one per trigger, and
// one per w1_slave read that no trigger served (a trigger serves each
// device's first read after it).
int conversions(const QStringList &operations, int *reads)
{
    int count = 0;
    bool triggered = false;
    QSet<QString> served;
    *reads = 0;
    for (const QString &op : operations) {
        if (op == QLatin1String("write therm_bulk_read trigger")) {
            ++count;
            triggered = true;
            served.clear();
        } else if (op.startsWith(QLatin1String("read "))) {
            ++*reads;
            if (!triggered || served.contains(op))
                ++count;
            served << op;
        }
    }
    return count;
}

Row measure(bool bulk, int cycles)
{
    Row row;
    row.how = bulk ? QStringLiteral("bulk conversion (therm_bulk_read)") : QStringLiteral("each read converts");
    W1TestBed bed;
    bed.addMaster(kMaster);
    if (!bulk)
        bed.setMode(kMaster + QStringLiteral("/therm_bulk_read"), 0444);
    for (int i = 0; i < kDevices; ++i) {
        uint8_t rom[8] = {0x28, uint8_t(0x10 + i * 7), 0x1E, 0x1D, 0x16, 0x03, 0x00, 0};
        rom[7] = Crc::dallas8(rom, 7);
        bed.addDevice(kMaster, W1Sysfs::nameFromRom(rom), W1TestBed::slaveText(scratchpad(i)));
    }
    W1Backend backend(kMaster);
    MeasurementSession session(&backend);
    session.refresh();
    for (int i = 0; i < cycles; ++i) {
        backend.master().takeOperations();
        QElapsedTimer real;
        real.start();
        const qint64 start = Clock::tickUs();
        session.refresh();
        session.measure();
        row.programS = double(Clock::tickUs() - start) / 1e6;
        row.realS = double(real.elapsed()) / 1000.0;
    }
    row.conversions = conversions(backend.master().takeOperations(), &row.reads);
    row.kernelS = row.conversions * kConversionS + row.reads * kReadS;
    return row;
}

struct NetlinkRow
{
    int exchanges = 0;
    int exchangeRequests = 0;
    int requests = 0;
};

// One cycle of the bridges' bus: the requests that carried a bridge
// exchange (its packet, and the polls and reads after it up to the next
// reset) against all the cycle made.
NetlinkRow measureNetlink()
{
    NetlinkRow row;
    QString error;
    std::unique_ptr<SimBackend> sim = SimBusLoader::loadFile(SimFixture::busFile(QStringLiteral("w1netlink.json")), &error);
    if (!sim)
        return row;
    W1TestBed bed;
    bed.addMaster(kMaster);
    bed.addSimBus(kMaster, sim->bus());
    W1KernelPeer peer(sim->bus());
    peer.install();
    W1Backend backend(kMaster);
    MeasurementSession session(&backend);
    session.cycle();
    peer.takeWire();
    session.cycle();
    bool inExchange = false;
    for (const QString &line : peer.takeWire()) {
        ++row.requests;
        if (line.startsWith(QLatin1String("reset"))) {
            // Match ROM of a bridge (family 19) and a packet command.
            static const QStringList packets{QStringLiteral("4b"), QStringLiteral("5a"), QStringLiteral("87"),
                                             QStringLiteral("2d")};
            inExchange = line.startsWith(QLatin1String("reset, write 55 19 ")) && line.size() > 41
                         && packets.contains(line.mid(40, 2));
            row.exchanges += inExchange ? 1 : 0;
        }
        row.exchangeRequests += inExchange ? 1 : 0;
    }
    return row;
}

} // namespace

int main(int argc, char *argv[])
{
    UsbTestBed::ensurePreload(argv);
    QCoreApplication app(argc, argv);
    const int cycles = argc > 1 ? qMax(1, QString::fromLocal8Bit(argv[1]).toInt()) : 2;
    qInstallMessageHandler(quiet);
    Clock::setVirtual();
    QTextStream out(stdout);
    out << "\nThe kernel's 1-Wire master through sysfs, one cycle of " << kDevices
        << " DS18B20 at 12 bits as orvexctl runs it\n\n";
    out << "| conversion | kernel conversions | w1_slave reads | kernel s (estimated) | program waits s | cycle s | real s |\n";
    out << "|---|--:|--:|--:|--:|--:|--:|\n";
    for (bool bulk : {true, false}) {
        const Row r = measure(bulk, cycles);
        out << "| " << r.how << " | " << r.conversions << " | " << r.reads << " | "
            << QString::number(r.kernelS, 'f', 2) << " | " << QString::number(r.programS, 'f', 2) << " | "
            << QString::number(r.kernelS + r.programS, 'f', 2) << " | " << QString::number(r.realS, 'f', 3) << " |\n";
        out.flush();
    }
    const NetlinkRow n = measureNetlink();
    out << "\nThe bridges of tests/data/buses/w1netlink.json through the kernel's w1 netlink connector, one cycle\n\n";
    out << "| bridge exchanges | their requests | requests per exchange | requests in the cycle |\n";
    out << "|--:|--:|--:|--:|\n";
    out << "| " << n.exchanges << " | " << n.exchangeRequests << " | "
        << QString::number(n.exchanges ? double(n.exchangeRequests) / n.exchanges : 0.0, 'f', 2) << " | " << n.requests
        << " |\n";
    return 0;
}
