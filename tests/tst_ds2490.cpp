#include "support/usbtestbed.h"

#include "base/clock.h"
#include "bus/ds2490.h"
#include "bus/romcommands.h"
#include "bus/simbackend.h"
#include "bus/simdevice.h"
#include "sim/simbusloader.h"
#include "sim/simds2490.h"
#include "support/simfixture.h"

#include <QtTest>

namespace {

// A bus file's simulated bus behind the emulated DS2490 in the umockdev test
// bed, and a master on it through the real libusb.
struct Rig
{
    explicit Rig(const QString &busFile = SimFixture::busFile(QStringLiteral("serial.json")))
    {
        if (!Clock::isVirtual())
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
