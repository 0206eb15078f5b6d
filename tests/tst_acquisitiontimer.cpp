#include "base/appsettings.h"
#include "base/logmessagehandler.h"
#include "base/clock.h"
#include "sensors/sensor.h"
#include "sim/simbmp280.h"
#include "sim/simd6f.h"
#include "sim/simds18b20.h"
#include "sim/simds28e17.h"
#include "sim/simhdc1080.h"
#include "sim/simmax31850.h"
#include "sim/simmultihub.h"
#include "sim/simpt100emulator.h"
#include "sim/simscd30.h"
#include "sim/simsht3x.h"
#include "sim/simsts3x.h"
#include "support/eventgapprobe.h"
#include "support/tablesupport.h"
#include "support/windowrig.h"
#include "table/tableman.h"

#include <QDir>
#include <QAction>
#include <QLineEdit>
#include <QTimer>
#include <QtTest>

namespace {

const char kLightGreen[] = "background-color: lightgreen;";
const char kOverrun[] = "background-color: rgb(252,252,194);";

// The adapter indicator: colour, text and serial field.
QString adapterShown(WindowRig &rig)
{
    return rig.style("frmUsbAdaptSignal") + '|' + rig.text("lblUsbAdapter") + '|'
           + rig.child<QLineEdit>("lineSnUSBadapter")->text();
}

QString found()
{
    return "background-color: green|Имитация шины 1-Wire подключена. SN=|" + WindowRig::romText(WindowRig::kIdentityRom);
}

// The responsiveness probe: its bound and how it measures a tick.
const qint64 kBoundUs = 50000;

// The window recording every second with the program's own log handler.
void start(WindowRig &rig)
{
    rig.start(true, 1);
    rig.dialogs.setResponder(nullptr);
    rig.window->installLogHandler();
}

// One tick of the window, a second after the last, under the probe; returns
// how long it took, in µs.
qint64 measureTick(WindowRig &rig, EventGapProbe &probe)
{
    Clock::advanceMs(1000);
    QCoreApplication::processEvents();
    const qint64 startUs = Clock::tickUs();
    probe.start();
    rig.tick();
    probe.stop();
    return Clock::tickUs() - startUs;
}

// What the probe saw in the tick just measured.
QByteArray describe(const EventGapProbe &probe, qint64 tickUs)
{
    return QStringLiteral("longest stretch %1 ms from %2 ms into a tick of %3 ms, %4 event passes")
        .arg(probe.longestUs() / 1000.0)
        .arg((probe.longestFromUs() - Clock::tickUs() + tickUs) / 1000.0)
        .arg(tickUs / 1000.0)
        .arg(probe.deliveries())
        .toUtf8();
}

} // namespace

// The window's 2-second tick: countdown, due measurements, the adapter
// indicator, closing in the middle of a cycle, and the events that keep the
// window answering through a cycle. (The repeat search after a device missed
// one is the faults bus of tst_sameoutput.)
class TstAcquisitionTimer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { WindowRig::prepareProcess(); }

    void init()
    {
        Clock::setVirtual();
        setLogFileEnabled(false);
    }

    void cleanup()
    {
        qInstallMessageHandler(nullptr);
        setLogFileEnabled(false);
    }

    // Interval 5: the first tick is due; waiting ticks 2 s apart count down
    // in whole seconds without touching the bus; the cycle starts on the
    // first tick at which 5 s have passed since the last due one. Unplugged
    // while waiting: noticed at the next due tick, then retried on every tick
    // without a cycle, no file getting a line and the rows turning stale
    // after two intervals; the retries do not move the due time.
    void countdownDueTicksAndUnplugging()
    {
        WindowRig rig;
        auto *tc = rig.f.add(std::make_unique<SimMax31850>(SimFixture::rom(0x3B, 7), 300.0));
        rig.start(true, 5);
        QCOMPARE(rig.text("lblInterval"), QString("5сек."));
        rig.tick();
        QCOMPARE(tc->conversionsStarted(), 1);
        QCOMPARE(adapterShown(rig), found());
        QCOMPARE(rig.text("lblTimeTo") + rig.style("lblTimeTo"), QString("идет замер") + kLightGreen);
        QVERIFY(rig.countdownShown());
        for (const char *left : {"3сек.", "1сек."}) {
            const int before = rig.trafficSize();
            rig.tickAfter(2000);
            QCOMPARE(rig.text("lblTimeTo"), QString::fromUtf8(left));
            QCOMPARE(rig.trafficSize(), before);
        }
        Clock::advanceMs(2000);
        qint64 due = Clock::tickMs();
        rig.tick();
        QCOMPARE(tc->conversionsStarted(), 2);
        QCOMPARE(rig.text("lblTimeTo"), QString("идет замер"));
        // One millisecond short of the interval is still waiting.
        rig.tickAfter(due + 4999 - Clock::tickMs());
        QCOMPARE(tc->conversionsStarted(), 2);
        QVERIFY(rig.text("lblTimeTo").endsWith("сек."));
        Clock::advanceMs(1);
        due = Clock::tickMs();
        rig.tick();
        QCOMPARE(tc->conversionsStarted(), 3);

        rig.f.bus().setConnected(false);
        rig.tickAfter(2000); // waiting: the adapter is not looked at
        QCOMPARE(rig.style("frmUsbAdaptSignal"), QString("background-color: green"));
        QVERIFY(rig.text("lblTimeTo").endsWith("сек."));
        Clock::advanceMs(due + 5000 - Clock::tickMs());
        due = Clock::tickMs();
        rig.tick();
        // The adapter line says which bus and why.
        const QString lost = "background-color: red|Имитация шины 1-Wire не отвечает. Адаптер не найден|";
        QCOMPARE(adapterShown(rig), lost);
        QVERIFY(!rig.countdownShown());
        // Not due, adapter missing: looked for, but no cycle and no line in
        // any file; the readings turn stale after two intervals.
        TableMan &table = rig.window->measurementSession()->table();
        const QString file = table.cellText(0, TableMan::ColFileName);
        const QByteArray written = TableSupport::readFile(file);
        rig.tickAfter(2000);
        QVERIFY(rig.text("lblTimeTo") != QString("идет замер"));
        QCOMPARE(adapterShown(rig), lost);
        QCOMPARE(tc->conversionsStarted(), 3);
        QVERIFY(!table.isRowStale(0));
        rig.tickAfter(4000); // due again (no cycle either): the table looks at the ages
        QVERIFY(table.isRowStale(0) && table.isRowStale(1));
        const QModelIndex value = table.index(0, TableMan::ColValue);
        QVERIFY(table.data(value, Qt::ForegroundRole).isValid());
        QVERIFY2(table.data(value, Qt::ToolTipRole).toString().contains("устарело"),
                 qPrintable(table.data(value, Qt::ToolTipRole).toString()));
        QCOMPARE(table.data(table.index(0, TableMan::ColFileName), Qt::ToolTipRole).toString(), file);
        QCOMPARE(TableSupport::readFile(file), written);
        QCOMPARE(tc->conversionsStarted(), 3);

        rig.f.bus().setConnected(true);
        rig.tickAfter(1000);
        QCOMPARE(tc->conversionsStarted(), 4);
        QVERIFY(!table.isRowStale(0));
        QCOMPARE(adapterShown(rig), found());
        QVERIFY(rig.countdownShown());
        // The retries left the due time where the last due tick put it.
        rig.tickAfter(due + 11000 - Clock::tickMs());
        QCOMPARE(tc->conversionsStarted(), 5);
    }

    // A cycle longer than the interval is marked; without recording every
    // tick measures and the countdown stays out of sight.
    void overrunAndContinuous()
    {
        {
            WindowRig rig;
            rig.f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 1)));
            rig.start(true, 1);
            rig.tick();
            QCOMPARE(rig.style("lblTimeTo"), QString(kOverrun));
        }
        WindowRig rig;
        auto *t = rig.f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 1)));
        rig.start(false, 7); // interval 0, as tst_windowcommands' start without recording shows
        for (int i = 1; i <= 3; ++i) {
            rig.tick();
            QCOMPARE(t->conversionsStarted(), i);
            QCOMPARE(rig.style("lblTimeTo"), QString(kLightGreen));
            for (const char *name : {"lblTextTimeTo", "lblTimeTo", "lblInterval", "lblCurrentInterval"})
                QVERIFY2(rig.child(name)->isHidden(), name);
        }
    }

    // 10 s set, cycles of about 1 s: by default a cycle starts on the first
    // 2-second tick after the interval has passed since the last start, so
    // the starts drift (about 11 s apart); on the interval's grid they are
    // 10 s apart to the millisecond, the last wait cut to the due time and a
    // late tick's lateness not carried on. A
    // cycle longer than the interval (1 s) is told in the status bar and the
    // countdown's tooltip, and on the grid the next one starts at once.
    void intervalGrid()
    {
        for (const bool grid : {false, true}) {
            {
                WindowRig rig;
                auto *t = rig.f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 1)));
                rig.start(true, 10);
                auto *action = rig.child<QAction>("actionIntervalGrid");
                QVERIFY(!action->isChecked());
                action->setChecked(grid);
                QCOMPARE(storedIntervalOnGrid(appSettings()), grid);
                // Every timeout comes 7 ms late, as a busy machine's do: on
                // the grid the lateness is not carried into the next start.
                QList<qint64> starts;
                while (starts.size() < 5) {
                    const qint64 at = Clock::tickMs();
                    const int before = t->conversionsStarted();
                    rig.tick();
                    if (t->conversionsStarted() > before)
                        starts << at;
                    Clock::advanceMs(rig.window->applicationTimer()->interval() + 7);
                }
                for (int i = 1; i < starts.size(); ++i) {
                    const qint64 spacing = starts.at(i) - starts.at(i - 1);
                    QVERIFY2(grid ? spacing == (i == 1 ? 10007 : 10000) : spacing > 10000 && spacing <= 12100,
                             qPrintable(QStringLiteral("%1: %2 ms").arg(grid).arg(spacing)));
                }
                QVERIFY(rig.child("overrunLabel")->isHidden());
                QVERIFY(rig.child("lblTimeTo")->toolTip().isEmpty());
            }
            WindowRig fast; // the setting kept
            fast.f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 2)));
            fast.start(true, 1);
            QCOMPARE(fast.child<QAction>("actionIntervalGrid")->isChecked(), grid);
            fast.tick();
            QCOMPARE(fast.style("lblTimeTo"), QString(kOverrun));
            QVERIFY(!fast.child("overrunLabel")->isHidden());
            const QString notice = fast.text("overrunLabel");
            QVERIFY2(notice.startsWith("Замер длился") && notice.contains("интервала 1 с"), qPrintable(notice));
            QCOMPARE(fast.child("lblTimeTo")->toolTip(), notice);
            QCOMPARE(fast.window->applicationTimer()->interval(), grid ? 0 : 2000);
            appSettings().remove("Time/OnGrid");
        }
    }

    // Closing the window while the first device is read: the cycle stops
    // after the next read (the stop is checked after each further device),
    // and the bridge broadcast, the table and the average still follow.
    void closingDuringCycle()
    {
        WindowRig rig;
        QVector<SimDs18b20 *> chips;
        for (quint64 serial : {1, 2, 3})
            chips << rig.f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, serial), 20.0));
        rig.start(true, 5);
        rig.tick(); // settles the device count, so no repeat search below
        const QVector<SensorDevice *> &devices = *rig.window->sensorObject()->devices();
        QCOMPARE(devices.size(), 4);
        QCOMPARE(rig.text("lblAverage"), QString("20.00"));

        QMap<quint64, double> next;
        for (int i = 0; i < chips.size(); ++i) {
            chips[i]->setTemperature(SimTemperature(23.0 + 3 * i));
            next[Sensor::keyOf(SimFixture::romId(chips[i]->rom()))] = 23.0 + 3 * i;
        }
        Clock::advanceMs(5000);
        const int from = rig.trafficSize();
        QTimer::singleShot(0, rig.window.get(), &QWidget::close);
        rig.window->onAppTimer();
        QVERIFY(rig.window->exitRequested());
        QVERIFY(!rig.window->applicationTimer()->isActive()); // and no tick after

        // The search lists the thermometers before the identity chip.
        for (int i = 0; i < 3; ++i)
            QCOMPARE(devices[i]->family, uint8_t(0x28));
        QCOMPARE(devices[0]->channels[0].value, next[devices[0]->key]);
        QCOMPARE(devices[1]->channels[0].value, next[devices[1]->key]);
        QCOMPARE(devices[2]->channels[0].value, 20.0);
        QVERIFY(rig.f.backend().touchedBytes(from).endsWith(QByteArray::fromHex("CCD200CC1E")));
        const double mean = (next[devices[0]->key] + next[devices[1]->key] + 20.0) / 3;
        QCOMPARE(rig.text("lblAverage"), QString::number(mean, 'f', 2));
    }

    // Recording trouble shows beside the recording state, and goes when
    // writing works again; no partial or repeated line is left behind.
    void recordingFailureIsVisible()
    {
        WindowRig rig;
        rig.f.add(std::make_unique<SimMax31850>(SimFixture::rom(0x3B, 9), 100.0));
        rig.start(true, 1);
        rig.tick();
        const QString recording = "Запись включена. |background-color: green";
        QCOMPARE(rig.text("lblWriteToFile") + '|' + rig.style("frmWrFile"), recording);

        const QString moved = rig.folder.path() + QStringLiteral("-away");
        QVERIFY(QDir().rename(rig.folder.path(), moved));
        rig.tickAfter(2000);
        QVERIFY(rig.text("lblWriteToFile").startsWith(QStringLiteral("Запись включена. Ошибка записи")));
        QCOMPARE(rig.style("frmWrFile"), QString("background-color: orange"));

        QVERIFY(QDir().rename(moved, rig.folder.path()));
        rig.tickAfter(2000);
        QCOMPARE(rig.text("lblWriteToFile") + '|' + rig.style("frmWrFile"), recording);
        const QMap<QString, QStringList> files = TableSupport::measurementFiles(rig.folder.path());
        QCOMPARE(files.size(), 2);
        for (const QStringList &lines : files)
            QCOMPARE(lines.size(), 2); // the first and the third cycle's readings
    }

    // The calibration widgets follow the table's signal only with the
    // Pt100 switch; an emulator on the bus raises it after a cycle, a plain
    // thermocouple converter does not.
    void calibrationWidgets()
    {
        QString shown;
        for (int pt100 : {0, 1, 2}) {
            WindowRig rig;
            rig.switches.pt100Mode = pt100 > 0;
            if (pt100 < 2)
                rig.f.add(std::make_unique<SimPt100Emulator>(SimFixture::rom(0x3B, 9), 36.6));
            else
                rig.f.add(std::make_unique<SimMax31850>(SimFixture::rom(0x3B, 8), 300.0));
            rig.start(false, 0);
            auto widgets = [&] {
                shown += ' ';
                for (const char *name : {"btnCalibrate", "btnResetCal", "btnSetSubtype", "rb100P", "rbPt100"})
                    shown += rig.child(name)->isHidden() ? '0' : '1';
            };
            if (pt100 < 2) {
                rig.window->btnCalibrateStatusChange(true);
                widgets();
                rig.window->btnCalibrateStatusChange(false);
                widgets();
            }
            rig.tick();
            widgets();
        }
        QCOMPARE(shown, QString(" 00000 00000 00000 11111 00000 11111 00000"));
    }

    // Responsiveness: the window never goes more than 50 ms of bus time
    // without processing events (through the search, the device reads, the
    // bridge walk and the broadcasts) with "-v1" (log calls do not pause) as
    // without it, measured over whole ticks by EventGapProbe.
    //
    // 500 DS18B20 at standard speed, "-v1": the search alone takes 7.5 s and
    // lets events through between the devices, as the reads do between theirs.
    void fiveHundredThermometersWithV1()
    {
        setLogFileEnabled(true);
        WindowRig rig(std::make_unique<SimBackend>());
        rig.f.backend().setTrafficLogging(false);
        for (int i = 0; i < 500; ++i)
            rig.f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 0x1000 + quint64(i) * 7919), 20.0 + i % 10));
        start(rig);
        EventGapProbe probe;
        for (int tick = 0; tick < 2; ++tick) {
            const qint64 tickUs = measureTick(rig, probe);
            QCOMPARE(rig.window->sensorObject()->devices()->size(), 500);
            QVERIFY2(tickUs > 7500000 && probe.longestUs() <= kBoundUs && probe.deliveries() >= 500,
                     describe(probe, tickUs));
        }
    }

    // A bridge whose hub carries one sensor of each type, with both scan
    // options on (six probes on each of 48 channels), at standard speed (a
    // chip that does not follow overdrive keeps the bus there): the four
    // attempts of a probe and the sensors' waits let events through.
    void bridgeWalkAtStandardSpeed_data()
    {
        QTest::addColumn<bool>("v1");
        QTest::newRow("-v1") << true;
        QTest::newRow("without -v1") << false;
    }

    void bridgeWalkAtStandardSpeed()
    {
        QFETCH(bool, v1);
        if (v1)
            setLogFileEnabled(true);
        WindowRig rig;
        rig.f.backend().setTrafficLogging(false);
        auto *bridge = rig.f.add(std::make_unique<SimDs28e17>(SimFixture::rom(0x19, 0x0B812E5C)));
        SimMultiHub *hub = bridge->i2c().setHub(std::make_unique<SimMultiHub>());
        hub->add(std::make_unique<SimSht3x>(), 0);
        hub->add(std::make_unique<SimSts3x>(), 9);
        hub->add(std::make_unique<SimHdc1080>(), 18);
        hub->add(std::make_unique<SimBmp280>(), 27);
        hub->add(std::make_unique<SimD6f>(), 36);
        hub->add(std::make_unique<SimScd30>(), 47);
        start(rig);
        QVERIFY(rig.window->scanAllChannel() && rig.window->scanAllType());
        EventGapProbe probe;
        for (int tick = 0; tick < 2; ++tick) {
            const qint64 tickUs = measureTick(rig, probe);
            QVERIFY(!rig.f.bus().overdrive());
            int channels = 0;
            for (const SensorDevice *device : qAsConst(*rig.window->sensorObject()->devices()))
                channels += device->family == 0x19 ? device->channels.size() : 0;
            QCOMPARE(channels, 2 + 1 + 2 + 2 + 2 + 3);
            QVERIFY2(probe.longestUs() <= kBoundUs, describe(probe, tickUs));
        }
    }
};

QTEST_MAIN(TstAcquisitionTimer)
#include "tst_acquisitiontimer.moc"
