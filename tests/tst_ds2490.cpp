#include "support/usbtestbed.h"

#include "base/clock.h"
#include "bus/ds2490.h"
#include "bus/romcommands.h"
#include "bus/simbackend.h"
#include "bus/simdevice.h"
#include "sim/simbusloader.h"
#include "sim/simds2490.h"
#include "support/orvexctlrun.h"
#include "support/simfixture.h"
#include "support/tablesupport.h"

#include <QtTest>

namespace {

// A bus file's simulated bus behind the emulated DS2490 in the umockdev test
// bed, and a master on it through the real libusb.
struct Rig
{
    explicit Rig(const QString &busFile = SimFixture::busFile(QStringLiteral("serial.json")), bool realTime = false)
    {
        if (!realTime && !Clock::isVirtual())
            Clock::setVirtual();
        QString error;
        backend = SimBusLoader::loadFile(busFile, &error);
        if (!backend)
            qFatal("%s", qPrintable(error));
        chip = std::make_unique<SimDs2490>(&backend->bus());
        bed = std::make_unique<UsbTestBed>(chip.get());
        master.setTransferTimeoutMs(100);
    }
    SimBus &bus() { return backend->bus(); }
    // Every ROM a complete search finds, as text in the order found.
    QStringList search(WireMaster &m)
    {
        QStringList roms;
        uint8_t rom[8] = {};
        int last = 0;
        do {
            if (m.searchPass(rom, &last) != 1)
                break;
            roms << QByteArray(reinterpret_cast<char *>(rom), 8).toHex().toUpper();
        } while (last != 0 && roms.size() < 100);
        return roms;
    }

    std::unique_ptr<SimBackend> backend;
    std::unique_ptr<SimDs2490> chip;
    std::unique_ptr<UsbTestBed> bed;
    Ds2490 master;
};

} // namespace

class TstDs2490 : public QObject
{
    Q_OBJECT
private slots:
    // orvexctl scan through the emulated adapter and the real libusb prints
    // the same status, ROM and bridge lines as over the simulated bus. Runs
    // first, in real time (as orvexctl scan does), like the serial emulator.
    void scanMatchesSimulatedBus_data()
    {
        QTest::addColumn<QString>("bus");
        QTest::newRow("thermometers") << SimFixture::busFile("serial.json");
        QTest::newRow("bridges") << SimFixture::busFile("bridges.json");
    }
    void scanMatchesSimulatedBus()
    {
        QFETCH(QString, bus);
        QVERIFY(!Clock::isVirtual());
        Rig rig(bus, true);
        rig.chip->setFrameTime(false);
        const OrvexctlRun usb = runOrvexctl(ORVEXCTL_BIN, {"scan", "--bus=usb:" + UsbTestBed::position()});
        const OrvexctlRun sim = runOrvexctl(ORVEXCTL_BIN, {"scan", "--bus=sim:" + bus});
        QCOMPARE(usb.exitCode, 0);
        QCOMPARE(usb.out, sim.out);
        QVERIFY(usb.out.count('\n') > 5);
    }

    // orvexctl read --record through the emulated adapter gives the same
    // readings and measurement files (times included, on a shared virtual
    // clock) as the simulated bus with the same bus file: parasite-powered
    // thermometers, MAX31850s, bridges and their sensors.
    void recordingMatchesSimulatedBus_data()
    {
        QTest::addColumn<QString>("bus");
        QTest::addColumn<QString>("cycles");
        QTest::newRow("thermometers") << SimFixture::busFile("serial.json") << "4";
        QTest::newRow("bridge") << SimFixture::busFile("usb.json") << "2";
    }
    void recordingMatchesSimulatedBus()
    {
        QFETCH(QString, bus);
        QFETCH(QString, cycles);
        QTemporaryDir dir;
        const QString clock = dir.filePath("clock"), usbFolder = dir.filePath("usb"), simFolder = dir.filePath("sim");
        QVERIFY(QDir().mkpath(usbFolder) && QDir().mkpath(simFolder));
        // The readings follow the clock's tick: the recording starts on a
        // fresh clock, as the run over the simulated bus does.
        QString error;
        QVERIFY2(Clock::setVirtualShared(clock, QDateTime(QDate(2025, 1, 27), QTime(14, 3, 5)), &error),
                 qPrintable(error));
        Rig rig(bus);
        // Only bus time, as the simulated bus charges it; the USB frames are
        // the bench's business.
        rig.chip->setFrameTime(false);
        const QStringList common{"read", "--fast", "--start", "2025-01-27T14:03:05", "--cycles", cycles, "--interval", "30",
                                 "--record"};
        const OrvexctlRun usb = runOrvexctl(ORVEXCTL_BIN, common + QStringList{usbFolder, "--bus=usb:" + UsbTestBed::position()},
                                            {"ORVEX_SHARED_CLOCK=" + clock}, 250000);
        const OrvexctlRun sim = runOrvexctl(ORVEXCTL_BIN, common + QStringList{simFolder, "--bus=sim:" + bus});
        QCOMPARE(usb.exitCode, 0);
        QCOMPARE(usb.err, sim.err);
        QCOMPARE(usb.out, sim.out);
        QVERIFY(!TableSupport::folderContents(usbFolder).isEmpty());
        QCOMPARE(TableSupport::folderContents(usbFolder), TableSupport::folderContents(simFolder));
        // The parasite-powered thermometers got their strong pull-up.
        QVERIFY(!usb.out.contains("\t85.00\t"));
    }

    // Opening claims interface 0 in alternate setting 3; a kernel driver
    // that holds it is detached and gets it back when the master closes.
    void openAndClaim()
    {
        Rig rig;
        rig.bed->setKernelDriverBound(true);
        QVERIFY2(rig.master.setUp(), qPrintable(rig.master.problem()));
        QVERIFY(!rig.bed->kernelDriverBound());
        QStringList seen = rig.bed->ioctls();
        QVERIFY(seen.indexOf("DISCONNECT") >= 0);
        QVERIFY(seen.indexOf("DISCONNECT") < seen.indexOf("CLAIM"));
        QVERIFY(seen.indexOf("CLAIM") < seen.indexOf("SETINTERFACE"));
        QCOMPARE(rig.master.reset(), 1);
        rig.master.close();
        QVERIFY(rig.bed->kernelDriverBound());
        QVERIFY(rig.bed->ioctls().contains("CONNECT"));

        // Without a kernel driver nothing is detached, and nothing given back.
        Rig plain;
        QVERIFY(plain.master.setUp());
        plain.master.close();
        QVERIFY(!plain.bed->ioctls().contains("DISCONNECT"));
        QVERIFY(!plain.bed->ioctls().contains("CONNECT"));
        QVERIFY(!plain.bed->kernelDriverBound());
    }

    // The search through the adapter's search command finds the simulated
    // bus's devices in the simulated bus's own order.
    void searchMatchesSimulatedBus()
    {
        Rig rig;
        QVERIFY(rig.master.setUp());
        const QStringList usb = rig.search(rig.master);
        const QStringList sim = rig.search(rig.bus());
        QCOMPARE(usb.size(), 20);
        QCOMPARE(usb, sim);
        // The ID chip's serial as the window shows it: CRC byte first, family last.
        const QString serial = rig.master.idChipSerial();
        QCOMPARE(serial.size(), 16);
        QVERIFY(serial.endsWith(QStringLiteral("0000001B2A4E81")));
    }
};

int main(int argc, char *argv[])
{
    UsbTestBed::ensurePreload(argv);
    QCoreApplication app(argc, argv);
    TstDs2490 test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ds2490.moc"
