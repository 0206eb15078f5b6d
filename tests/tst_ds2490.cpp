#include "support/usbtestbed.h"

#include "base/clock.h"
#include "bus/crc.h"
#include "onewire/adapter.h"
#include "bus/ds2490.h"
#include "bus/romcommands.h"
#include "bus/usbbackend.h"
#include "onewire/tmex.h"
#include "sensors/sensor.h"
#include "session/busoption.h"
#include "session/measurementsession.h"
#include "sim/simbackend.h"
#include "sim/simbusloader.h"
#include "sim/simds18x20.h"
#include "sim/simds2490.h"
#include "support/orvexctlrun.h"
#include "support/simfixture.h"
#include "support/tablesupport.h"

#include <QtTest>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <unistd.h>

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
    // the same status, ROM and bridge lines as over the simulated bus, also
    // on a bus that goes to overdrive. Runs
    // first, in real time (as orvexctl scan does), like the serial emulator.
    void scanMatchesSimulatedBus_data()
    {
        QTest::addColumn<QString>("bus");
        QTest::newRow("thermometers") << SimFixture::busFile("serial.json");
        QTest::newRow("bridges") << SimFixture::busFile("usb.json");
        QTest::newRow("overdrive") << SimFixture::busFile("overdrive.json");
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
        QTest::newRow("other families") << SimFixture::busFile("families.json") << "2";
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
        // The DS2438 of families.json carries an HIH-4000: the simulated bus
        // knows it from the bus file, the adapter's run from the settings.
        QVERIFY(QDir().mkpath(dir.filePath("config/Tresvant")));
        QFile ini(dir.filePath(QStringLiteral("config/Tresvant/Орвекс.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly) && ini.write("[Sensors]\nHih4000=F004554433221126\n") > 0);
        ini.close();
        const QString settings = "XDG_CONFIG_HOME=" + dir.filePath("config");
        const OrvexctlRun usb = runOrvexctl(ORVEXCTL_BIN, common + QStringList{usbFolder, "--bus=usb:" + UsbTestBed::position()},
                                            {"ORVEX_SHARED_CLOCK=" + clock, settings}, 250000);
        const OrvexctlRun sim = runOrvexctl(ORVEXCTL_BIN, common + QStringList{simFolder, "--bus=sim:" + bus}, {settings});
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
        QCOMPARE(rig.bed->ioctls().filter(QRegularExpression("^(DISCONNECT|CLAIM|SETINTERFACE)$")),
                 QStringList({"DISCONNECT", "CLAIM", "SETINTERFACE"}));
        QCOMPARE(rig.master.reset(), 1);
        rig.master.close();
        QVERIFY(rig.bed->kernelDriverBound());
        QVERIFY(rig.bed->ioctls().contains("CONNECT"));

        // Without a kernel driver nothing is detached, and nothing given back.
        Rig plain;
        QVERIFY(plain.master.setUp());
        plain.master.close();
        QCOMPARE(plain.bed->ioctls().filter("CONNECT"), QStringList()); // nor DISCONNECT
    }

    // Each command's request codes, and the status packet's decoding:
    // presence, no presence, a short, a lost setup packet (EP0F).
    void requestCodesAndStatus()
    {
        Rig rig;
        QVERIFY(rig.master.setUp());
        QCOMPARE(rig.chip->requests().mid(0, 5),
                 QStringList({"CONTROL 0x0000 0x0000", "MODE 0x0000 0x0002", "MODE 0x0003 0x0000",
                              "MODE 0x0001 0x0001", "MODE 0x0002 0x0000"}));
        rig.chip->clearRequests();
        QCOMPARE(rig.master.reset(), 1);
        QCOMPARE(rig.master.touchByte(0xCC), 0xCC);
        QCOMPARE(rig.master.touchBit(1), 1);
        QCOMPARE(rig.master.touchBit(0), 0);
        // EP3 is read once the status says the bytes are there.
        QCOMPARE(rig.chip->requests(), QStringList({"COMM 0x0C4B 0x0000", "STATUS", "COMM 0x0053 0x00CC", "STATUS", "IN 1",
                                                    "COMM 0x0029 0x0000", "STATUS", "IN 1", "COMM 0x0021 0x0000",
                                                    "STATUS", "IN 1"}));
        // Overdrive timing: the speed mode at once, and every reset says it too.
        rig.chip->clearRequests();
        rig.master.setOverdriveTiming(true);
        rig.master.reset();
        rig.master.setOverdriveTiming(false);
        QCOMPARE(rig.chip->requests().mid(0, 2), QStringList({"MODE 0x0002 0x0002", "COMM 0x0C4B 0x0002"}));
        QVERIFY(rig.chip->requests().contains("MODE 0x0002 0x0000"));

        rig.chip->setShorted(true);
        QCOMPARE(rig.master.reset(), 0);
        QVERIFY(rig.master.problem().contains("shorted"));
        rig.chip->setShorted(false);
        while (rig.bus().deviceCount() > 0)
            rig.bus().removeDevice(0);
        QCOMPARE(rig.master.reset(), 0);
        // An empty bus, also for a search pass that makes its own reset.
        uint8_t path[8] = {}, rom[8], discrepancies[8];
        QCOMPARE(rig.master.resetAndSearch(path, rom, discrepancies), 0);

        // EP0F: the chip is reset and the operation fails; the next one works.
        rig.chip->setEp0Full(true);
        rig.chip->clearRequests();
        QCOMPARE(rig.master.reset(), -1);
        QVERIFY(rig.master.problem().contains("EP0F"));
        QVERIFY(rig.chip->requests().contains("CONTROL 0x0000 0x0000"));
        QCOMPARE(rig.master.reset(), 0);
    }

    // A block goes out in pieces of at most 64 bytes, each read back exactly
    // once the status shows the chip done: 0.56 ms a byte on the bus, so 36
    // polls of 1 ms for 64 bytes and 13 for 22.
    void blockAcrossPackets()
    {
        Rig rig;
        QVERIFY(rig.master.setUp());
        rig.chip->clearRequests();
        QByteArray sent(150, 0);
        for (int i = 0; i < 150; ++i)
            sent[i] = char(i * 7);
        QByteArray block = sent;
        QCOMPARE(rig.master.touchBlock(reinterpret_cast<uint8_t *>(block.data()), 150), 150);
        QCOMPARE(block, sent); // nothing selected: the line reads what was written
        QStringList requests = rig.chip->requests();
        QCOMPARE(requests.removeAll("STATUS"), 36 + 36 + 13);
        QCOMPARE(requests, QStringList({"OUT 64", "COMM 0x0075 0x0040", "IN 64", "OUT 64", "COMM 0x0075 0x0040", "IN 64",
                                        "OUT 22", "COMM 0x0075 0x0016", "IN 22"}));
    }

    // The chip's search finds the 20 devices in the simulated bus's own order,
    // whichever of the two shapes its discrepancy bytes have, and still (slot
    // by slot) when they name no branch.
    void searchOrder()
    {
        for (auto tail : {SimDs2490::SearchTail::NextStart, SimDs2490::SearchTail::Discrepancies,
                          SimDs2490::SearchTail::Unreadable}) {
            Rig rig;
            rig.chip->setSearchTail(tail);
            const QStringList expected = rig.search(rig.bus());
            QCOMPARE(expected.size(), 20);
            QVERIFY(rig.master.setUp());
            rig.chip->clearRequests();
            QCOMPARE(rig.search(rig.master), expected);
            // Only the unreadable bytes make the master fall back to time
            // slots; otherwise a pass is the ROM, SEARCH ACCESS with its own
            // reset, the status polled while the chip is busy (about 15 ms of
            // bus time) and the answer.
            const bool readable = tail != SimDs2490::SearchTail::Unreadable;
            QCOMPARE(rig.chip->requests().contains("COMM 0x0029 0x0000"), !readable);
            if (readable) {
                QCOMPARE(rig.chip->requests().mid(0, 2), QStringList({"OUT 8", "COMM 0x4DFD 0x01F0"}));
                QCOMPARE(rig.chip->requests().mid(2, 15), QVector<QString>(15, "STATUS").toList());
                QCOMPARE(rig.chip->requests().at(17), QStringLiteral("IN 16"));
            }
        }
    }

    // The Alarm Search runs on the chip's SEARCH ACCESS with ECh as its
    // command (also slot by slot): exactly the thermometers whose last
    // conversion left their TH/TL are found, in the bus's own order.
    void alarmSearch()
    {
        for (auto tail : {SimDs2490::SearchTail::Discrepancies, SimDs2490::SearchTail::Unreadable}) {
            Rig rig;
            SimBus &bus = rig.bus();
            QStringList flagged;
            int thermometers = 0;
            for (int i = 0; i < bus.deviceCount(); ++i) {
                auto *chip = dynamic_cast<SimDs18x20 *>(bus.device(i));
                if (!chip)
                    continue;
                // Every other one gets thresholds it cannot leave.
                const bool quiet = thermometers++ % 2 == 1;
                QByteArray write = "\x55" + chip->rom() + "\x4E" + char(quiet ? 125 : 0) + char(quiet ? -55 : -1);
                if (chip->family() == 0x28)
                    write += '\x7F';
                bus.reset();
                for (char b : write)
                    bus.touchByte(uint8_t(b));
            }
            bus.reset();
            bus.touchByte(RomCommand::kSkip);
            bus.touchByte(0x44);
            Clock::advanceMs(800);
            bus.reset(); // the chips store their results
            for (int i = 0; i < bus.deviceCount(); ++i) {
                if (bus.device(i)->alarmCondition())
                    flagged << bus.device(i)->rom().toHex().toUpper();
            }
            QVERIFY(thermometers >= 4);
            QVERIFY(flagged.size() > 1 && flagged.size() < thermometers);

            auto alarmSearch = [](WireMaster &m) {
                QStringList roms;
                uint8_t rom[8] = {};
                int last = 0;
                do {
                    if (m.searchPass(rom, &last, RomCommand::kAlarmSearch) != 1)
                        break;
                    roms << QByteArray(reinterpret_cast<char *>(rom), 8).toHex().toUpper();
                } while (last != 0 && roms.size() < 100);
                return roms;
            };
            const QStringList expected = alarmSearch(bus);
            QStringList sorted = expected;
            std::sort(sorted.begin(), sorted.end());
            std::sort(flagged.begin(), flagged.end());
            QCOMPARE(sorted, flagged);
            rig.chip->setSearchTail(tail);
            QVERIFY(rig.master.setUp());
            rig.chip->clearRequests();
            QCOMPARE(alarmSearch(rig.master), expected);
            if (tail != SimDs2490::SearchTail::Unreadable)
                QCOMPARE(rig.chip->requests().mid(0, 2), QStringList({"OUT 8", "COMM 0x4DFD 0x01EC"}));
            // The ordinary search still finds all 20.
            QCOMPARE(rig.search(rig.master).size(), 20);
        }
    }

    // Parasite power: an armed byte carries SPU, the pull-up holds while the
    // conversion runs and ends when the wait ends; unarmed, there is none.
    void strongPullup()
    {
        Rig rig;
        QVERIFY(rig.master.setUp());
        const uint8_t parasite[8] = {0x28, 0xAA, 0x31, 0x07, 0x5C, 0x14, 0x01, 0x0B};
        auto select = [&] {
            QCOMPARE(rig.master.reset(), 1);
            uint8_t match[9] = {RomCommand::kMatch};
            std::memcpy(match + 1, parasite, 8);
            QCOMPARE(rig.master.touchBlock(match, 9), 9);
        };
        select();
        rig.chip->clearRequests();
        rig.master.setStrongPullup(true);
        QCOMPARE(rig.master.touchByte(0x44), 0x44);
        QCOMPARE(rig.chip->requests(), QStringList({"COMM 0x1053 0x0044", "STATUS", "IN 1"}));
        QVERIFY(rig.bus().strongPullupOn());
        Clock::sleepMs(750);
        QVERIFY(rig.bus().strongPullupOn());
        rig.master.setStrongPullup(false);
        QVERIFY(!rig.bus().strongPullupOn());
        QCOMPARE(rig.chip->requests().mid(3, 3),
                 QStringList({"CONTROL 0x0003 0x0000", "CONTROL 0x0002 0x0000", "STATUS"}));

        select();
        rig.chip->clearRequests();
        QCOMPARE(rig.master.touchByte(0x44), 0x44);
        QCOMPARE(rig.chip->requests(), QStringList({"COMM 0x0053 0x0044", "STATUS", "IN 1"}));
        QVERIFY(!rig.bus().strongPullupOn());
    }

    // What the chip's answers may hold beside the expected: a zero-length
    // packet from EP3 (read again), the device-detect code A5h among the
    // result bytes (not a result), a time slot or byte that reads 1 where 0
    // was written (garbled: the chip is reset). The strong pull-up counts
    // as ended once SPUA has cleared, however soon the chip says idle. The
    // status packet's enable flags have SPUE in bit 0 and SPCE in bit 2.
    void unexpectedAnswers()
    {
        Rig rig;
        QVERIFY(rig.master.setUp());
        QCOMPARE(uint8_t(rig.chip->statusPacket().at(0)), uint8_t(0x05));
        rig.chip->clearRequests();
        rig.chip->zeroLengthReads(2);
        QCOMPARE(rig.master.touchByte(0xCC), 0xCC);
        QCOMPARE(rig.chip->requests().count("IN 1"), 3);

        rig.chip->deviceArrives();
        QCOMPARE(rig.master.reset(), 1);

        rig.chip->corruptNextIn(0x01);
        QCOMPARE(rig.master.touchBit(0), -1);
        QVERIFY(rig.master.problem().contains("garbled"));
        QCOMPARE(rig.master.touchBit(0), 0);
        rig.chip->corruptNextIn(0x01);
        QCOMPARE(rig.master.touchByte(0xCC), -1);
        QCOMPARE(rig.master.reset(), 1);

        rig.master.setStrongPullup(true);
        QCOMPARE(rig.master.touchByte(0xCC), 0xCC);
        rig.chip->lingerPullup(3);
        rig.chip->clearRequests();
        rig.master.setStrongPullup(false);
        QCOMPARE(rig.chip->requests().count("STATUS"), 4);
        QVERIFY(!rig.chip->strongPullupOn());
    }

    // Selection (TMStrongAccess) uses SEARCH ACCESS's strong access form
    // (SM = 0, with its own reset); a device that is not there makes it a
    // search pass, which ends on another ROM.
    void strongAccess()
    {
        Rig rig;
        const QStringList roms = rig.search(rig.bus());
        UsbBackend backend(UsbTestBed::position());
        backend.master().setTransferTimeoutMs(100);
        Tmex tmex(&backend);
        Adapter adapter(tmex);
        QCOMPARE(adapter.open(), 1);
        uint8_t *state = adapter.accessStateBuffer();
        RomId rom = SimFixture::romId(QByteArray::fromHex(roms.at(3).toLatin1()));
        rig.chip->clearRequests();
        QCOMPARE(tmex.TMRom(adapter.sessionHandle(), state, rom.data()), short(1));
        QCOMPARE(tmex.TMStrongAccess(adapter.sessionHandle(), state), short(1));
        QCOMPARE(rig.chip->requests().mid(0, 2), QStringList({"OUT 8", "COMM 0x0DF5 0x01F0"}));
        QVERIFY(!rig.chip->requests().contains("IN 16"));
        QByteArray absent = QByteArray::fromHex(roms.at(3).toLatin1());
        absent[1] = char(absent.at(1) ^ 0x40);
        absent[7] = char(Crc::dallas8(absent.left(7)));
        rom = SimFixture::romId(absent);
        rig.chip->clearRequests();
        QCOMPARE(tmex.TMRom(adapter.sessionHandle(), state, rom.data()), short(1));
        QCOMPARE(tmex.TMStrongAccess(adapter.sessionHandle(), state), short(0));
        QVERIFY(rig.chip->requests().contains("COMM 0x0DF5 0x01F0"));
        QVERIFY(rig.chip->requests().contains("COMM 0x4DFD 0x01F0"));
    }

    // Faults: each fails the operation with one message naming the adapter
    // and the remedy, and the adapter is taken up again at the next set-up
    // once it can be.
    void faults()
    {
        Rig rig;
        QVERIFY(rig.master.setUp());
        // A failure (-1, or a set-up refused) names the adapter and says what happened.
        auto failed = [&](int result, const char *what) {
            QCOMPARE(result, -1);
            QVERIFY2(rig.master.problem().startsWith(QStringLiteral("USB 1-Wire adapter (DS2490) 1-2"))
                         && rig.master.problem().contains(what),
                     qPrintable(rig.master.problem()));
        };
        auto takenUpAgain = [&] {
            QVERIFY2(rig.master.setUp(), qPrintable(rig.master.problem()));
            QVERIFY(rig.master.problem().isEmpty());
            QCOMPARE(rig.master.reset(), 1);
        };

        // Pulled out mid-cycle, and plugged in again.
        rig.bed->unplugAfter(1);
        failed(rig.master.reset(), "gone (unplugged?)");
        QCOMPARE(rig.master.touchByte(0xFF), -1);
        QVERIFY(!rig.master.setUp());
        QVERIFY(rig.master.problem().contains("no USB 1-Wire adapter (DS2490, 04FA:2490) is plugged in"));
        rig.bed->plug();
        takenUpAgain();

        // A stalled endpoint: cleared when the adapter is opened again.
        rig.bed->stallNext(0x83);
        failed(rig.master.touchByte(0xFF), "stalled an endpoint");
        takenUpAgain();

        // A transfer that never completes: the master gives up after its timeout.
        QElapsedTimer real;
        real.start();
        rig.bed->swallowNext();
        failed(rig.master.touchByte(0xFF), "did not answer in time");
        QVERIFY(real.elapsed() < 2000);
        QVERIFY(rig.bed->ioctls().contains("DISCARD"));
        takenUpAgain();

        // Held by another program.
        rig.master.close();
        rig.bed->setHeldByOther(true);
        failed(rig.master.setUp() ? 0 : -1, "held by another program");
        rig.bed->setHeldByOther(false);
        QVERIFY(rig.master.setUp());
    }

    // Permission denied, as for a user without the udev rule: a process
    // that is not root finds the adapter, the kernel refuses to open its
    // node, and orvexctl fails at once with one message naming the adapter
    // and the remedy.
    void permissionDenied()
    {
        if (geteuid() != 0)
            QSKIP("making the node another user's needs root");
        Rig rig;
        rig.bed->restrictNode();
        // orvexctl as nobody, started fresh: a fork of this process could
        // inherit a lock the test bed's worker thread holds and hang.
        const OrvexctlRun run = runOrvexctl("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", ORVEXCTL_BIN,
                                                        "scan", "--bus=usb:" + UsbTestBed::position()});
        QVERIFY2(run.exitCode > 0, run.err.constData());
        QVERIFY2(run.err.contains("USB 1-Wire adapter (DS2490) 1-2: permission denied; install the udev "
                                  "rule 60-orvex.rules (see the README) and plug the adapter in again"),
                 run.err.constData());
        // The node was never opened: nothing reached the device.
        QVERIFY(rig.bed->ioctls().isEmpty());
    }

    // The adapter pulled out in the middle of a measurement cycle: the
    // cycle ends without readings, the next ticks report it missing, and the
    // first tick after it is back measures again, with the ID chip's serial.
    void unplugAndReplugMidCycle()
    {
        Rig rig(SimFixture::busFile("usb.json"));
        const int devices = rig.search(rig.bus()).size();
        UsbBackend backend(UsbTestBed::position());
        backend.master().setTransferTimeoutMs(100);
        {
            MeasurementSession session(&backend);
            Acquisition::Result tick = session.refresh();
            QCOMPARE(tick.openResult, 1);
            QCOMPARE(tick.roms.size(), devices);
            QVERIFY(tick.adapterSerial.endsWith("1B2A3381"));
            session.measure();

            rig.bed->unplugAfter(40);
            session.measure();
            QVERIFY(backend.problem().contains("gone (unplugged?)"));
            tick = session.refresh();
            QVERIFY(tick.openResult != 1);
            QVERIFY(backend.problem().contains("plugged in"));

            rig.bed->plug();
            tick = session.refresh();
            QCOMPARE(tick.openResult, 1);
            QCOMPARE(tick.roms.size(), devices);
            session.measure();
            int filled = 0;
            for (const SensorDevice *device : *session.sensor().devices()) {
                for (const SensorChannel &channel : device->channels)
                    filled += std::isnan(channel.value) ? 0 : 1;
            }
            QVERIFY(filled >= 6);
        }
    }

    // usb:SERIAL takes the adapter whose ID chip has that serial (as the
    // window shows it or in bus order), usb:BUS-PORT the one at that place.
    void selection()
    {
        Rig rig;
        QVERIFY(rig.master.setUp());
        const QString serial = rig.master.idChipSerial();
        // As the window shows it: CRC byte first, family last.
        QVERIFY(serial.size() == 16 && serial.endsWith(QStringLiteral("0000001B2A4E81")));
        rig.master.close();
        const QString forward = "814e2a1b000000" + serial.left(2).toLower(); // in bus order, lower case
        for (const QString &selector : {serial, forward, UsbTestBed::position()}) {
            Ds2490 chosen(selector);
            QVERIFY2(chosen.setUp(), qPrintable(selector + ": " + chosen.problem()));
        }
        for (const QString &selector : {QStringLiteral("F70000001B2A3382"), QStringLiteral("9-9")}) {
            Ds2490 chosen(selector);
            QVERIFY(!chosen.setUp());
            QVERIFY(chosen.problem().contains("not plugged in"));
        }

        // The bus option: usb, usb:BUS-PORT, and with exactly one adapter
        // plugged in and nothing chosen, that one.
        for (const QString &value : {QStringLiteral("usb"), QStringLiteral("usb:1-2"), QString()}) {
            QString error;
            std::unique_ptr<BusBackend> backend = BusOption::open(value, &error);
            QVERIFY(dynamic_cast<UsbBackend *>(backend.get()));
        }

        // orvexctl ports lists it beside the serial ports: its position, the
        // serial and that the kernel's driver holds it (which gets it back).
        rig.bed->setKernelDriverBound(true);
        const OrvexctlRun ports = runOrvexctl(ORVEXCTL_BIN, {"ports"});
        QCOMPARE(ports.exitCode, 0);
        QVERIFY2(ports.out.contains("usb:1-2  DS2490  ID chip " + serial.toLatin1()
                                    + "  (held by the kernel's ds2490 driver; detached while in use)\n"),
                 ports.out.constData());
        QVERIFY(rig.bed->kernelDriverBound());
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
