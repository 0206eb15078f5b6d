#include "support/usbtestbed.h"
#include "support/w1testbed.h"

#include "base/clock.h"
#include "bus/crc.h"
#include "bus/w1backend.h"
#include "bus/w1sysfs.h"
#include "session/masterregistry.h"
#include "session/measurementsession.h"
#include "sim/simbackend.h"
#include "sim/simbusloader.h"
#include "sim/simds18b20.h"
#include "support/logcapture.h"
#include "support/orvexctlrun.h"
#include "support/simfixture.h"
#include "support/tablesupport.h"

#include <QtTest>
#include <cmath>

namespace {

const QString kMaster = QStringLiteral("w1_bus_master1");

// A DS18B20's scratchpad holding `celsius` at the resolution `config` sets.
QByteArray ds18b20(double celsius, uint8_t config = 0x7F)
{
    const int16_t raw = int16_t(std::lround(celsius * 16));
    QByteArray bytes;
    bytes += char(raw & 0xFF);
    bytes += char((raw >> 8) & 0xFF);
    bytes += char(0x4B);
    bytes += char(0x46);
    bytes += char(config);
    bytes += QByteArray::fromHex("ff0c10");
    bytes += char(Crc::dallas8(bytes));
    return bytes;
}

QString nameOf(const char *hexRom)
{
    QByteArray rom = QByteArray::fromHex(hexRom);
    rom += char(Crc::dallas8(rom));
    return W1Sysfs::nameFromRom(reinterpret_cast<const uint8_t *>(rom.constData()));
}

// The first channel's value of the device named as the kernel names it;
// NaN when it has none, or is not listed.
double valueOf(MeasurementSession &session, const QString &name)
{
    uint8_t rom[8];
    if (!W1Sysfs::romFromName(name, rom))
        return NAN;
    uint64_t key = 0;
    for (uint8_t byte : rom)
        key = (key << 8) | byte;
    for (SensorDevice *device : session.allDevices()) {
        if (device->key == key && device->isPresent() && !device->channels.isEmpty())
            return device->channels.first().value;
    }
    return NAN;
}

// Measurement files with their times of day to the minute: the simulated
// wire charges its own bus time (slots, resets) to the clock, which the
// kernel's tree, read in no time, does not, so a reading's second may differ.
QMap<QString, QByteArray> toMinutes(QMap<QString, QByteArray> files)
{
    static const QRegularExpression time(QStringLiteral(";(\\d\\d:\\d\\d):\\d\\d;"));
    for (QByteArray &contents : files)
        contents = QString::fromUtf8(contents).replace(time, QStringLiteral(";\\1;")).toUtf8();
    return files;
}

int count(const QStringList &operations, const QString &start)
{
    int n = 0;
    for (const QString &op : operations)
        n += op.startsWith(start) ? 1 : 0;
    return n;
}

// A test bed with one master, and the backend and session on it.
struct Rig
{
    Rig()
    {
        if (!Clock::isVirtual())
            Clock::setVirtual();
        bed.addMaster(kMaster);
    }
    void open(const QString &selector = QString())
    {
        session.reset();
        backend = std::make_unique<W1Backend>(selector);
        session = std::make_unique<MeasurementSession>(backend.get());
    }
    void cycle()
    {
        session->cycle();
    }
    W1TestBed bed;
    std::unique_ptr<W1Backend> backend;
    std::unique_ptr<MeasurementSession> session;
};

} // namespace

class TstW1 : public QObject
{
    Q_OBJECT
private slots:
    // orvexctl scan and read --record through the kernel's tree give what
    // the simulated bus gives for the same devices: the same lines, the same
    // files. The tree's w1_slave files hold what the emulated kernel read
    // from the simulated chips.
    void matchesSimulatedBus()
    {
        Clock::setVirtual();
        const QString bus = SimFixture::busFile(QStringLiteral("w1.json"));
        QString error;
        std::unique_ptr<SimBackend> sim = SimBusLoader::loadFile(bus, &error);
        QVERIFY2(sim, qPrintable(error));
        W1TestBed bed;
        bed.addMaster(kMaster);
        bed.addSimBus(kMaster, sim->bus());

        const OrvexctlRun scanW1 = runOrvexctl(ORVEXCTL_BIN, {"scan", "--bus=w1"});
        const OrvexctlRun scanSim = runOrvexctl(ORVEXCTL_BIN, {"scan", "--bus=sim:" + bus});
        QCOMPARE(scanW1.exitCode, 0);
        QCOMPARE(scanW1.out, scanSim.out);

        QTemporaryDir dir;
        const QString clock = dir.filePath("clock"), w1Folder = dir.filePath("w1"), simFolder = dir.filePath("sim");
        QVERIFY(QDir().mkpath(w1Folder) && QDir().mkpath(simFolder));
        // Virtual time for a real master: a clock file of its own, which the
        // emulated kernel does not need to advance (its reads take no time).
        QVERIFY2(Clock::setVirtualShared(clock, QDateTime(QDate(2025, 1, 27), QTime(14, 3, 5)), &error),
                 qPrintable(error));
        const QStringList common{"read", "--fast", "--start", "2025-01-27T14:03:05", "--cycles", "3", "--interval", "30",
                                 "--record"};
        const OrvexctlRun w1 = runOrvexctl(ORVEXCTL_BIN, common + QStringList{w1Folder, "--bus=w1:" + kMaster},
                                           {"ORVEX_SHARED_CLOCK=" + clock});
        const OrvexctlRun simRun = runOrvexctl(ORVEXCTL_BIN, common + QStringList{simFolder, "--bus=sim:" + bus});
        QVERIFY2(w1.exitCode == 0, w1.err.constData());
        QCOMPARE(w1.err, simRun.err);
        QCOMPARE(w1.out, simRun.out);
        QVERIFY(w1.out.contains("21.50"));
        QVERIFY(!TableSupport::folderContents(w1Folder).isEmpty());
        QCOMPARE(toMinutes(TableSupport::folderContents(w1Folder)), toMinutes(TableSupport::folderContents(simFolder)));
        // Every cycle asked the kernel for one bulk conversion.
        QCOMPARE(bed.file(kMaster + "/therm_bulk_read"), QByteArray("trigger\n"));
    }

    // Where the process may write therm_bulk_read a cycle triggers one
    // conversion of the whole bus and then reads each w1_slave once; where
    // it may not (only root may), or the kernel has none, each read
    // converts, and the values are the same.
    void oneConversionPerCycle_data()
    {
        QTest::addColumn<int>("bulk"); // 0 absent, 1 root's alone, 2 writable
        QTest::newRow("writable") << 2;
        QTest::newRow("root only") << 1;
        QTest::newRow("absent") << 0;
    }
    void oneConversionPerCycle()
    {
        QFETCH(int, bulk);
        Rig rig;
        if (bulk == 0) {
            rig.bed.removeMaster(kMaster);
            rig.bed.addMaster(kMaster, false);
        } else if (bulk == 1) {
            rig.bed.setMode(kMaster + "/therm_bulk_read", 0444);
        }
        const QStringList names{nameOf("28010000000000"), nameOf("28020000000000"), nameOf("28030000000000")};
        for (int i = 0; i < names.size(); ++i)
            rig.bed.addDevice(kMaster, names.at(i), W1TestBed::slaveText(ds18b20(20.0 + i)));
        rig.open();
        for (int cycle = 0; cycle < 2; ++cycle) {
            const qint64 startMs = Clock::tickMs();
            rig.cycle();
            // The kernel's bulk conversion is done when the trigger returns:
            // the cycle does not wait for it again.
            const qint64 spentMs = Clock::tickMs() - startMs;
            QVERIFY2(bulk == 2 ? spentMs < 500 : spentMs >= 750, qPrintable(QString::number(spentMs)));
            const QStringList ops = rig.backend->master().takeOperations();
            QCOMPARE(count(ops, "write therm_bulk_read trigger"), bulk == 2 ? 1 : 0);
            QCOMPARE(count(ops, "read "), names.size());
            for (const QString &name : names)
                QVERIFY2(ops.contains("read " + name + "/w1_slave"), qPrintable(ops.join(", ")));
            for (int i = 0; i < names.size(); ++i)
                QCOMPARE(valueOf(*rig.session, names.at(i)), 20.0 + i);
            // The kernel offers no Alarm Search: said so, nothing marked.
            QCOMPARE(rig.session->alarmSearchResult(), Adapter::kNoAlarmSearch);
            for (const SensorDevice *device : rig.session->allDevices())
                QVERIFY(!device->channels.value(0).hardwareAlarm);
        }
        QCOMPARE(rig.bed.file(kMaster + "/therm_bulk_read"), bulk == 2 ? QByteArray("trigger\n")
                                                           : bulk == 1 ? QByteArray("0\n")
                                                                       : QByteArray());
    }

    // What the kernel may show instead of a good read gives no value, and
    // the other devices are read: a "NO" verdict, also over bytes that pass
    // the CRC (an older kernel whose every select failed prints its buffer
    // of zeros so), a "YES" over bytes that fail it
    // or with a crc= that is not their ninth byte,
    // an empty read (the bulk conversion still running, or a failed one), one
    // cut short, the power-on value; a kernel temperature that disagrees with
    // the bytes is not used (they decide). A device that leaves the directory
    // goes from the list, one whose folder goes while the directory still
    // names it is said once, and a master that vanishes ends the readings
    // without a value.
    void badReadsGiveNoValue()
    {
        Rig rig;
        const QString good = nameOf("28010000000000"), no = nameOf("28020000000000"), empty = nameOf("28030000000000"),
                      cut = nameOf("28040000000000"), powerOn = nameOf("28050000000000"),
                      lying = nameOf("28060000000000"), consistentNo = nameOf("280E0000000000"),
                      corruptYes = nameOf("280F0000000000"), otherCrc = nameOf("28100000000000");
        QByteArray corrupt = W1TestBed::slaveText(ds18b20(22.0));
        corrupt[0] = '7';
        corrupt.replace(" YES", " NO");
        QByteArray wrongT = W1TestBed::slaveText(ds18b20(-3.5));
        wrongT.replace(wrongT.indexOf("t="), wrongT.size(), "t=99000\n");
        rig.bed.addDevice(kMaster, good, W1TestBed::slaveText(ds18b20(21.0)));
        rig.bed.addDevice(kMaster, no, corrupt);
        rig.bed.addDevice(kMaster, empty, "");
        rig.bed.addDevice(kMaster, cut, W1TestBed::slaveText(ds18b20(23.0)).left(14));
        rig.bed.addDevice(kMaster, powerOn, W1TestBed::slaveText(ds18b20(85.0, 0x7F)));
        rig.bed.addDevice(kMaster, lying, wrongT);
        rig.bed.addDevice(kMaster, consistentNo, W1TestBed::slaveText(QByteArray(9, '\0')).replace(" YES", " NO"));
        QByteArray yes = W1TestBed::slaveText(ds18b20(25.0));
        yes[1] = yes.at(1) == '0' ? '1' : '0';
        rig.bed.addDevice(kMaster, corruptYes, yes);
        QByteArray crc = W1TestBed::slaveText(ds18b20(26.0));
        const int crcAt = crc.indexOf("crc=") + 4;
        crc.replace(crcAt, 2, crc.mid(crcAt, 2) == "00" ? "01" : "00");
        rig.bed.addDevice(kMaster, otherCrc, crc);
        rig.bed.setFile(kMaster + "/therm_bulk_read", "-1\n");
        rig.open();
        rig.cycle();
        QCOMPARE(valueOf(*rig.session, good), 21.0);
        QCOMPARE(valueOf(*rig.session, lying), -3.5);
        for (const QString &name : {no, consistentNo, corruptYes, otherCrc, empty, cut, powerOn})
            QVERIFY2(std::isnan(valueOf(*rig.session, name)), qPrintable(name));
        // Each unusable read was tried again, as on any bus, and then left.
        QVERIFY(count(rig.backend->master().takeOperations(), "read " + empty) > 1);

        // Gone after two searches without it, as on every bus.
        rig.bed.removeDevice(kMaster, good);
        rig.cycle();
        rig.cycle();
        QVERIFY(std::isnan(valueOf(*rig.session, good)));
        QCOMPARE(valueOf(*rig.session, lying), -3.5);

        // Gone between the search and its read: no value, and no talk of
        // access it would not have needed.
        const QString brief = nameOf("280C0000000000");
        rig.bed.addDevice(kMaster, brief, W1TestBed::slaveText(ds18b20(5.0)));
        rig.session->refresh();
        rig.bed.removeDevice(kMaster, brief);
        {
            LogCapture log;
            rig.session->measure();
            QVERIFY(std::isnan(valueOf(*rig.session, brief)));
            QVERIFY(!log.texts().join('\n').contains(QStringLiteral("netlink")));
        }

        // Still named by the master's directory, its folder gone (an entry
        // left behind): no value, and the log says so once, not on every
        // cycle or retry; again when it has come back and gone again.
        const QString stale = nameOf("280D0000000000");
        const QString entry = rig.bed.hostPath(kMaster + "/" + stale);
        auto folderGoes = [&] {
            rig.bed.removeDevice(kMaster, stale);
            QVERIFY(QFile::link(QStringLiteral("gone"), entry));
        };
        rig.bed.addDevice(kMaster, stale, W1TestBed::slaveText(ds18b20(6.0)));
        rig.cycle();
        {
            LogCapture log;
            auto said = [&] {
                return log.texts().filter(stale).filter(QStringLiteral("folder is gone")).size();
            };
            folderGoes();
            for (int cycle = 0; cycle < 3; ++cycle) {
                rig.cycle();
                QVERIFY(std::isnan(valueOf(*rig.session, stale)));
            }
            QCOMPARE(said(), 1);
            // Nor is it said to lack an access it would not need.
            for (const SensorDevice *device : rig.session->allDevices())
                QVERIFY(!device->channels.value(0).failure.contains(QStringLiteral("netlink")));
            QFile::remove(entry);
            rig.bed.addDevice(kMaster, stale, W1TestBed::slaveText(ds18b20(6.5)));
            rig.cycle();
            QCOMPARE(valueOf(*rig.session, stale), 6.5);
            folderGoes();
            rig.cycle();
            rig.cycle();
            QCOMPARE(said(), 2);
        }
        QFile::remove(entry);

        // Gone as an unplugged adapter is: no reads until it is back.
        rig.backend->master().takeOperations();
        rig.bed.removeMaster(kMaster);
        rig.cycle();
        QVERIFY(rig.session->busResult(0).openResult != 1);
        QVERIFY(rig.backend->problem().contains(kMaster));
        QVERIFY(rig.backend->master().takeOperations().isEmpty());
        // Back again: read again.
        rig.bed.addMaster(kMaster);
        rig.bed.addDevice(kMaster, lying, wrongT);
        rig.cycle();
        QCOMPARE(valueOf(*rig.session, lying), -3.5);
    }

    // A DS18B20 below 12 bits is set to 12 (and the setting stored) through
    // w1_slave where the process may write it; where it may not, it keeps its
    // resolution and its readings are right at it.
    void resolution()
    {
        Rig rig;
        const QString name = nameOf("28070000000000");
        const QByteArray elevenBits = W1TestBed::slaveText(ds18b20(19.125, 0x5F));
        rig.bed.addDevice(kMaster, name, elevenBits);
        rig.bed.setMode(kMaster + "/" + name + "/w1_slave", 0444);
        rig.open();
        rig.cycle();
        QCOMPARE(valueOf(*rig.session, name), 19.125);
        QCOMPARE(count(rig.backend->master().takeOperations(), "write " + name), 0);

        rig.bed.setMode(kMaster + "/" + name + "/w1_slave", 0644);
        rig.open();
        rig.cycle();
        QCOMPARE(valueOf(*rig.session, name), 19.125);
        const QStringList ops = rig.backend->master().takeOperations();
        QVERIFY2(ops.contains("write " + name + "/w1_slave 12"), qPrintable(ops.join(", ")));
        QVERIFY2(ops.contains("write " + name + "/w1_slave 0"), qPrintable(ops.join(", ")));
        // What the kernel was last given (a test bed keeps the text written).
        QCOMPARE(rig.bed.file(kMaster + "/" + name + "/w1_slave"), QByteArray("0\n"));
    }

    // A bridge is found and listed with the reason it is not read, in the
    // log (once), by orvexctl scan (also when the kernel's own w1_ds28e17
    // driver holds it), and the thermometers and converters around it are
    // read as over the simulated bus: a Pt100 emulator as the converter it
    // resembles, whose probe sysfs cannot carry.
    void devicesWithoutSysfsAccess()
    {
        Clock::setVirtual();
        const QString bus = SimFixture::busFile(QStringLiteral("bridges.json"));
        QString error;
        std::unique_ptr<SimBackend> sim = SimBusLoader::loadFile(bus, &error);
        QVERIFY2(sim, qPrintable(error));
        QByteArray thermometer = QByteArray::fromHex("28080000000000");
        thermometer += char(Crc::dallas8(thermometer));
        sim->bus().addDevice(std::make_unique<SimDs18b20>(thermometer));
        W1TestBed bed;
        bed.addMaster(kMaster);
        bed.addSimBus(kMaster, sim->bus());
        const QString bridge = W1Sysfs::nameFromRom(reinterpret_cast<const uint8_t *>(sim->bus().device(0)->rom().constData()));

        W1Backend backend;
        LogCapture log;
        {
            MeasurementSession session(&backend);
            session.cycle();
            session.cycle();
            QCOMPARE(valueOf(session, nameOf("28080000000000")), 20.0);
        }
        int said = 0;
        for (const QString &text : log.texts())
            said += text.contains(bridge) && text.contains(QStringLiteral("нет доступа к netlink")) ? 1 : 0;
        QCOMPARE(said, 1);

        const OrvexctlRun scan = runOrvexctl(ORVEXCTL_BIN, {"scan", "--bus=w1"});
        QCOMPARE(scan.exitCode, 0);
        // The test's masters are none of the kernel's: whatever keeps the
        // connector from them is the reason given.
        QVERIFY2(scan.out.contains("DS28E17 bridge iButton - I2C\n    нет доступа к netlink: "), scan.out.constData());
        bed.setFile(kMaster + "/" + bridge + "/stretch", "1\n");
        QDir().mkpath(bed.hostPath(kMaster + "/" + bridge + "/i2c-3"));
        const OrvexctlRun held = runOrvexctl(ORVEXCTL_BIN, {"scan", "--bus=w1"});
        QVERIFY2(held.out.contains("    held by the kernel's w1_ds28e17 driver (i2c-3); its I2C sensors are the kernel's to "
                                   "read\n"),
                 held.out.constData());
    }

    // w1 takes the one master and refuses to guess among several; w1:MASTER
    // takes it by name or number; ports lists each with its device count.
    void mastersAndSelection()
    {
        Rig rig;
        rig.bed.addDevice(kMaster, nameOf("28090000000000"), W1TestBed::slaveText(ds18b20(1.0)));
        QVERIFY(W1Backend(QString()).problem().isEmpty());
        rig.bed.addMaster("w1_bus_master2", false);
        rig.bed.addDevice("w1_bus_master2", nameOf("280A0000000000"), W1TestBed::slaveText(ds18b20(2.0)));
        rig.bed.addDevice("w1_bus_master2", nameOf("280B0000000000"), W1TestBed::slaveText(ds18b20(3.0)));
        rig.bed.setMode(kMaster + "/therm_bulk_read", 0444);
        QCOMPARE(W1Sysfs::masters(), QStringList({kMaster, "w1_bus_master2"}));
        QVERIFY(W1Backend(QString()).problem().contains("w1:MASTER"));
        QVERIFY(W1Backend("w1_bus_master3").problem().contains("w1_bus_master3"));

        rig.open("2");
        rig.cycle();
        QCOMPARE(valueOf(*rig.session, nameOf("280B0000000000")), 3.0);
        QVERIFY(std::isnan(valueOf(*rig.session, nameOf("28090000000000"))));

        QString argument;
        const MasterEntry *entry = MasterRegistry::find("w1:w1_bus_master2", &argument);
        QVERIFY(entry && entry->survey);
        QCOMPARE(argument, QStringLiteral("w1_bus_master2"));
        QVERIFY(entry->survey({"/dev/ttyS0"}).isEmpty());
        const QVector<MasterEntry::Found> found = entry->survey({});
        QCOMPARE(found.size(), 2);
        QVERIFY2(found.at(0).line.startsWith(QStringLiteral("w1:w1_bus_master1  kernel 1-Wire master  1 device(s)  "
                                                             "bulk conversion for root only  no netlink raw access (")),
                 qPrintable(found.at(0).line));
        QVERIFY2(found.at(1).line.startsWith(QStringLiteral("w1:w1_bus_master2  kernel 1-Wire master  2 device(s)  no netlink")),
                 qPrintable(found.at(1).line));
    }
};

int main(int argc, char *argv[])
{
    UsbTestBed::ensurePreload(argv);
    QCoreApplication app(argc, argv);
    TstW1 test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_w1.moc"
