#include "i2c/i2cbridge.h"
#include "onewire/adapter.h"
#include "onewire/tmex.h"
#include "sensors/max31850.h"
#include "sim/simds28e17.h"
#include "sim/simmax31850.h"
#include "sim/simsht3x.h"
#include "support/orvexctlrun.h"
#include "support/serialfixture.h"
#include "support/simfixture.h"
#include "support/testprocess.h"
#include "support/tablesupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// ds2480-emu in its own process, killed at the end; scheduled ahead of the
// rest of a loaded machine, as the hardware it stands for would be.
struct Emulator : TestProcess
{
    explicit Emulator(const QStringList &args)
        : TestProcess(QStringLiteral(DS2480_EMU_BIN))
    {
        start(args);
        waitForLines(1, 10000);
        scheduleAhead();
    }
    // The port it opened.
    QString path() const { return out().value(0).trimmed(); }
    // Sends a command line and waits for its "ok".
    void command(const QByteArray &line)
    {
        const int answered = out().size();
        process().write(line + '\n');
        waitForLines(answered + 1, 5000);
    }
};

OrvexctlRun orvexctl(const QStringList &args, const QStringList &env = {})
{
    return runOrvexctl(QStringLiteral(ORVEXCTL_BIN), args, env);
}

} // namespace

// The real programs end to end: orvexctl over the emulated adapter's
// pseudo-terminal against the same bus file on the simulated bus; and the
// round trips of a transaction over it with the line's time charged.
class TstDs2480Emu : public QObject
{
    Q_OBJECT
private slots:
    // At 16 ms latency: a MAX31850 read in five turnarounds (selection,
    // Convert T under the strong pull-up, its end, selection, Read
    // Scratchpad with its nine read slots in one write); a bridge's I2C
    // write in two after its selection: the packet with the first busy poll
    // (E3 91), which comes two serial bytes after the packet on the bus and
    // finds the bridge done (90), then the two status bytes.
    void transactionTurnarounds()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
        SerialFixture f;
        f.port().setLineTiming(true, 16000);
        const QByteArray converter = SimFixture::rom(0x3B, 0x8);
        f.add(std::make_unique<SimMax31850>(converter, 100.0, 25.0));
        auto *bridge = f.add(std::make_unique<SimDs28e17>(SimFixture::rom(0x19, 0x28E17)));
        bridge->i2c().add(std::make_unique<SimSht3x>());
        QCOMPARE(f.open(), 1);
        uint8_t *state = f.adapter.accessStateBuffer();

        RomId id = SimFixture::romId(converter);
        Max31850 max(f.tmex, &f.session, state, id.data());
        f.port().clearCounts();
        f.clearLines();
        double hot = 0, cold = 0;
        QCOMPARE(max.convertAndRead(&hot, &cold), 1);
        QCOMPARE(hot, 100.75);
        QCOMPARE(cold, 25.0);
        QCOMPARE(f.port().turnarounds(), qint64(5));
        QVERIFY(f.lines().contains("E1BEFFFFFFFFFFFFFFFFFF"));

        id = SimFixture::romId(bridge->rom());
        I2cBridge i2c(f.tmex, &f.session, state, id.data(), nullptr);
        QVERIFY(f.tmex.selectDevice(f.session, state, id.data()));
        f.port().clearCounts();
        f.clearLines();
        QCOMPARE(i2c.writeData(0x88, QByteArray::fromHex("2C06"), I2cBridge::kWithStop), 2);
        QCOMPARE(f.port().turnarounds(), qint64(2));
        QCOMPARE(f.lines(), QByteArray("E14B88022C064D53E391E1FFFF / 4B88022C064D53900000"));
    }

    // The same adapter status and ROM lines, in the same order: twenty
    // devices with thermometers, which keep the bus at standard speed, and a
    // bus where every device follows overdrive, which the adapter switches to.
    void scanMatchesSimulatedBus_data()
    {
        QTest::addColumn<QString>("bus");
        QTest::newRow("standard") << SimFixture::busFile("serial.json");
        QTest::newRow("overdrive") << SimFixture::busFile("overdrive.json");
    }
    void scanMatchesSimulatedBus()
    {
        QFETCH(QString, bus);
        Emulator emulator({bus});
        QVERIFY(!emulator.path().isEmpty());
        const OrvexctlRun serial = orvexctl({"scan", "--bus=serial:" + emulator.path()});
        const OrvexctlRun sim = orvexctl({"scan", "--bus=sim:" + bus});
        QCOMPARE(serial.exitCode, 0);
        QVERIFY(serial.out.count('\n') > 5);
        QCOMPARE(serial.out, sim.out);
    }

    // Recording in virtual time on the emulator's clock: the measurement
    // files and the printed readings are byte for byte those of the
    // simulated bus, times included: twenty devices with thermometers, and
    // the demo bus with its bridges and I2C sensors.
    void recordingMatchesSimulatedBus_data()
    {
        QTest::addColumn<QString>("bus");
        QTest::addColumn<int>("files");
        QTest::addColumn<QString>("cycles");
        QTest::newRow("twenty devices") << SimFixture::busFile("serial.json") << 9 << "4";
        // Two cycles: the bridges' exchanges each wait 2 ms of real time.
        QTest::newRow("demo") << QString() << 20 << "2";
    }
    void recordingMatchesSimulatedBus()
    {
        QFETCH(QString, bus);
        QFETCH(int, files);
        QFETCH(QString, cycles);
        QTemporaryDir dir;
        const QString clock = dir.filePath("clock"), serialFolder = dir.filePath("serial"), simFolder = dir.filePath("sim");
        QVERIFY(QDir().mkpath(serialFolder) && QDir().mkpath(simFolder));
        Emulator emulator(bus.isEmpty() ? QStringList{"--clock", clock} : QStringList{"--clock", clock, bus});
        QVERIFY(!emulator.path().isEmpty());
        const QStringList common{"read", "--fast", "--start", "2025-01-27T14:03:05", "--cycles", cycles, "--interval", "30",
                                 "--record"};
        // The demo bus's DS2438 carries an HIH-4000: its bus file tells the
        // simulated bus, and an adapter (emulated or not) only the settings.
        QVERIFY(QDir().mkpath(dir.filePath("config/Tresvant")));
        QFile ini(dir.filePath(QStringLiteral("config/Tresvant/Орвекс.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly) && ini.write("[Sensors]\nHih4000=740000015B8CD426\n") > 0);
        ini.close();
        const QString settings = "XDG_CONFIG_HOME=" + dir.filePath("config");
        // Every answer waits for the line to stay quiet 2 ms (real time):
        // the demo bus's bridges make some ten thousand exchanges in two cycles.
        const OrvexctlRun serial = runOrvexctl(QStringLiteral(ORVEXCTL_BIN),
                                               common + QStringList{serialFolder, "--bus=serial:" + emulator.path()},
                                               {"ORVEX_SHARED_CLOCK=" + clock, settings}, 180000);
        const OrvexctlRun sim =
            orvexctl(common + QStringList{simFolder, bus.isEmpty() ? QStringLiteral("--bus=sim") : "--bus=sim:" + bus},
                     {settings});
        QCOMPARE(serial.exitCode, 0);
        QCOMPARE(sim.exitCode, 0);
        QCOMPARE(serial.err, sim.err);
        QCOMPARE(serial.out, sim.out);
        QVERIFY(TableSupport::folderContents(serialFolder).size() >= files);
        QCOMPARE(TableSupport::folderContents(serialFolder), TableSupport::folderContents(simFolder));
        // The parasite-powered thermometers got their strong pull-up.
        QVERIFY(!serial.out.contains("\t85.00\t"));
    }

    // --fast over a serial bus needs the emulator's clock.
    void fastNeedsSharedClock()
    {
        Emulator emulator({});
        const OrvexctlRun run = orvexctl({"read", "--fast", "--bus=serial:" + emulator.path()});
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.err.contains("ORVEX_SHARED_CLOCK"));
    }

    // ports: a DS2480B answers on the emulator's port, not where nothing
    // answers or nothing is; the exit code says whether one was found.
    void ports()
    {
        Emulator emulator({});
        Emulator silent({"--silent"});
        const QString missing = QStringLiteral("/dev/ttyNOSUCHPORT");
        OrvexctlRun run = orvexctl({"ports", emulator.path(), silent.path(), missing});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(QString::fromUtf8(run.out),
                 emulator.path() + "  DS2480B\n" + silent.path() + "  no DS2480B: " + silent.path()
                     + ": no DS2480B answers (is a 1-Wire adapter plugged in there?)\n" + missing + "  no DS2480B: "
                     + missing + ": no such port (is the adapter plugged in?)\n");
        run = orvexctl({"ports", silent.path()});
        QCOMPARE(run.exitCode, 1);
    }

    // The adapter is pulled out during a run: the cycle ends saying it lost
    // the adapter, and every later cycle says in one line that it is gone.
    void unplugDuringRead()
    {
        QTemporaryDir dir;
        const QString clock = dir.filePath("clock");
        Emulator emulator({"--clock", clock, SimFixture::busFile("serial.json")});
        emulator.command("vanish 400");
        const OrvexctlRun run =
            orvexctl({"read", "--fast", "--cycles", "3", "--bus=serial:" + emulator.path()}, {"ORVEX_SHARED_CLOCK=" + clock});
        QCOMPARE(run.exitCode, 1);
        const QString gone = emulator.path() + ": the adapter is gone (unplugged?)\n";
        QCOMPARE(QString::fromUtf8(run.err), "orvexctl: cycle 1: the adapter was lost during the cycle: " + gone
                                                 + "orvexctl: cycle 2: " + gone + "orvexctl: cycle 3: " + gone);
        const OrvexctlRun scan = orvexctl({"scan", "--bus=serial:" + emulator.path()});
        QCOMPARE(scan.exitCode, 1);
        QVERIFY(scan.err.contains("no such port"));
    }
};

QTEST_GUILESS_MAIN(TstDs2480Emu)
#include "tst_ds2480emu.moc"
