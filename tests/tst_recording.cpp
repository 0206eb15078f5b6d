#include "base/appsettings.h"
#include "base/clock.h"
#include "gui/dialogs.h"
#include "sensors/sensor.h"
#include "sim/simbusloader.h"
#include "sim/simds18b20.h"
#include "sim/simds18s20.h"
#include "sim/simds28e17.h"
#include "sim/simmax31850.h"
#include "sim/simpt100emulator.h"
#include "support/orvexctlrun.h"
#include "support/recordingrig.h"
#include "support/simfixture.h"
#include "support/tablesupport.h"
#include "support/windowrig.h"
#include "table/recorder.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QStatusBar>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using TableSupport::fileLines;
using TableSupport::folderContents;
using TableSupport::readFile;

namespace {

// Runs orvexctl with `env` entries "NAME=value" set and "NAME" removed.
OrvexctlRun orvexctl(const QStringList &args, const QStringList &env)
{
    return runOrvexctl(QStringLiteral(ORVEXCTL_BIN), args, env);
}

const QDateTime Start(QDate(2025, 3, 14), QTime(9, 26, 53));

// The fault soak: its length, interval and faults.
const int kCycles = 1000;
const int kIntervalMs = 30000;
// The window's timer restarts this long after a cycle ends, so even cycles
// that overran the interval (or found no adapter) are this far apart.
const int kTickMs = 2000;
// The adapter is out of its socket for these cycles.
const int kUnplugCycle = 500;
const int kReplugCycle = 510;
// The counted faults of the bus file come back this often.
const int kRearmEvery = 100;
// The output folder is moved away (a removed folder, an unmounted drive) for
// these cycles and then comes back.
const int kFolderGoneCycle = 730;
const int kFolderBackCycle = 735;

// Gives every device of the bus its counted faults again, as the file set them.
void rearm(SimBackend &backend, const QJsonArray &entries)
{
    SimBus &bus = backend.bus();
    for (int i = 0; i < entries.size(); ++i) {
        const QJsonObject e = entries.at(i).toObject();
        SimDevice *device = bus.device(i);
        auto count = [&e](const char *key) { return e.value(QLatin1String(key)).toInt(); };
        if (count("missSearches"))
            bus.hideFromSearches(device, count("missSearches"));
        if (count("corruptReads"))
            bus.corruptReads(device, count("corruptReads"));
        if (count("reportTwice"))
            backend.reportTwice(device, count("reportTwice"));
        if (count("failRomReads"))
            backend.failRomReads(device, count("failRomReads"));
        if (auto *thermometer = dynamic_cast<SimDs18x20 *>(device)) {
            thermometer->failCrc(count("crcErrors"));
            thermometer->failWithPowerOnReads(count("powerOnReads"));
        }
        if (auto *s20 = dynamic_cast<SimDs18s20 *>(device))
            s20->failWithCountReadings(count("countReadings"));
        if (auto *thermocouple = dynamic_cast<SimMax31850 *>(device))
            thermocouple->failCrc(count("crcErrors"));
        if (auto *emulator = dynamic_cast<SimPt100Emulator *>(device))
            emulator->failCalibrationReads(count("badCalibrationReads"));
        if (auto *bridge = dynamic_cast<SimDs28e17 *>(device))
            bridge->setStuckBusy(count("stuckBusy"));
    }
}

} // namespace

// Recording over many cycles: the demo bus, every fault at once, the window
// and orvexctl side by side, orvexctl without a display.
class TstRecording : public QObject
{
    Q_OBJECT
    QString settingsDir; // the window's settings and orvexctl's XDG_CONFIG_HOME

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
        settingsDir = WindowRig::prepareProcess();
    }

    // The window's tick steps over the demo bus for 200 cycles: each channel's
    // file holds exactly the readings of the cycles, once each, in order,
    // although some cycles update the table twice. (The files' names and
    // headers are the golden test's.)
    void demoBusOverTwoHundredCycles()
    {
        QTemporaryDir dir;
        SimFixture f(SimBusLoader::loadDemo(nullptr));
        f.backend().setTrafficLogging(false);
        Clock::setVirtual(Start);
        RecordingRig rig(&f.backend(), dir.path());
        Sensor &sensor = rig.sensor;

        QMap<QString, QStringList> expected; // data lines per file
        for (int n = 0; n < 200; ++n) {
            Clock::advanceMs(qint64(n) * 5000 - Clock::tickMs());
            QCOMPARE(rig.acquisition.refresh().openResult, 1);
            sensor.measureAll();
            for (int k = 0; k <= n % 2; ++k)
                rig.tableMan.update();
            for (const SensorDevice *device : qAsConst(*sensor.devices()))
                for (int i = 0; i < device->channels.size(); ++i)
                    expected[rig.recorder.fileNameOf(ChannelId::of(*device, i))]
                        << TableSupport::dataLine(device->channels.at(i));
        }

        // 3 DS18B20, 1 DS18S20, DS1822, DS28EA00, DS1825, 2 MAX31850-like chips with 2 channels, a DS2438
        // with humidity (5), a DS2450 (4), a DS2423 (2), a DS2413 (4), a DS2408 (16); 12 + 2 I2C channels
        // behind two bridges
        QCOMPARE(expected.size(), 56);
        const QMap<QString, QStringList> files = TableSupport::measurementFiles(dir.path());
        QCOMPARE(files.keys(), expected.keys());
        for (auto it = expected.constBegin(); it != expected.constEnd(); ++it) {
            QCOMPARE(files.value(it.key()), it.value());
            QVERIFY(it.value().size() == 200 && !it.value().join('\n').contains("---"));
        }
    }

    // A long run with every fault of the bus files at once (the demo bus's
    // chips with every fault key), recording on: the files hold exactly the
    // readings the table announced, each once, whole, in time order. While
    // the folder is gone every write fails and is reported; when it is back
    // the same files go on, with no second header.
    void thousandCyclesOfFaults()
    {
        QFile file(QStringLiteral(TEST_DATA_DIR "/buses/soak.json"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray json = file.readAll();
        const QJsonArray entries = QJsonDocument::fromJson(json).object().value(QStringLiteral("devices")).toArray();
        QString error;
        SimFixture f(SimBusLoader::load(json, QStringLiteral("soak.json"), &error));
        QVERIFY2(error.isEmpty(), qPrintable(error));
        f.backend().setTrafficLogging(false);

        QTemporaryDir folder;
        RecordingRig rig(&f.backend(), folder.path());
        Recorder &recorder = rig.recorder;
        // Hub scans end after two empty channels; the hub's sensors sit side by side.
        rig.sensor.setScanAllChannel(false);

        // Every reading the table announces, by the file it belongs in; those
        // announced while the folder is gone may be missing from the files
        // (a reading is written once the folder is back only if no newer one
        // replaced it).
        struct Announced {
            QString line;
            bool mayBeMissing;
        };
        QHash<QString, QList<Announced>> expected;
        bool folderGone = false;
        int readings = 0;
        connect(&rig.session, &MeasurementSession::readingTaken, this, [&](const SensorDevice &device, int index) {
            expected[recorder.filePathFor(device, index)] << Announced{TableSupport::dataLine(device.channels.at(index)), folderGone};
            ++readings;
        });
        const QString away = folder.path() + "-away";

        QElapsedTimer wall;
        wall.start();
        qint64 cycleStartMs = Clock::tickMs();
        int cyclesWithoutAdapter = 0;
        for (int cycle = 1; cycle <= kCycles; ++cycle) {
            if (cycle % kRearmEvery == 0)
                rearm(f.backend(), entries);
            if (cycle == kUnplugCycle)
                f.bus().setConnected(false);
            if (cycle == kReplugCycle)
                f.bus().setConnected(true);
            if (cycle == kFolderGoneCycle || cycle == kFolderBackCycle) {
                folderGone = cycle == kFolderGoneCycle;
                QVERIFY(folderGone ? QDir().rename(folder.path(), away) : QDir().rename(away, folder.path()));
            }
            if (rig.acquisition.refresh().openResult != 1)
                ++cyclesWithoutAdapter;
            rig.sensor.measureAll();
            rig.tableMan.update();
            QCOMPARE(recorder.problemText().isEmpty(), !folderGone);
            cycleStartMs = qMax(cycleStartMs + kIntervalMs, Clock::tickMs() + kTickMs);
            Clock::advanceMs(cycleStartMs - Clock::tickMs());
        }
        QCOMPARE(cyclesWithoutAdapter, kReplugCycle - kUnplugCycle);

        // Every file: one header, then exactly the announced readings in
        // order, whole lines only, the measured times strictly increasing.
        const QMap<QString, QStringList> files = TableSupport::measurementFiles(folder.path());
        QCOMPARE(files.size(), expected.size());
        int lines = 0;
        int untimed = 0;
        int failed = 0;
        int lostWhileGone = 0;
        for (auto it = files.constBegin(); it != files.constEnd(); ++it) {
            QStringList wanted;
            int next = 0;
            for (const Announced &reading : expected.value(it.key())) {
                if (reading.mayBeMissing && it.value().value(next) != reading.line) {
                    ++lostWhileGone;
                    continue;
                }
                wanted << reading.line;
                ++next;
            }
            QCOMPARE(it.value(), wanted);
            lines += it.value().size();
            untimed += it.value().filter(QRegularExpression("^;;")).size();
            failed += it.value().filter(QRegularExpression("^\\d{4}\\.\\d\\d\\.\\d\\d;\\d\\d:\\d\\d:\\d\\d;---")).size();
        }
        QCOMPARE(lines + lostWhileGone, readings);
        qInfo("%d cycles, %d files, %d readings announced, %d lines found (%d without a time), "
              "%d not written while the folder was gone; %lld ms",
              kCycles, int(files.size()), readings, lines, untimed, lostWhileGone, wall.elapsed());
        // The thermometers' failed reads were recorded too, each with the
        // time of the attempt.
        QCOMPARE(untimed, 0);
        QVERIFY(failed > 0);
        QVERIFY(lostWhileGone > 0);
    }
    // The window and orvexctl over the same bus, start and cycles write the
    // same files, byte for byte; both take the separators (and orvexctl the
    // template, unless given) from the stored settings.
    void windowAndOrvexctlWriteTheSameFiles()
    {
        const QString bus = QStringLiteral(TEST_DATA_DIR "/buses/recording.json");
        const QString nameTemplate = "%DATE%-%TIME%_%TS%%SC%_%SN1W%_%MHCH%";
        const int cycles = 12, intervalS = 5;
        QSettings &settings = appSettings();
        settings.setValue("Settings/OutFileFormat", nameTemplate);
        settings.setValue("Settings/FirstSplit", "\"");
        settings.setValue("Settings/LastSplit", "\"");
        settings.sync();

        Clock::setVirtual(Start);
        QString error;
        WindowRig rig(SimBusLoader::loadFile(bus, &error));
        rig.f.backend().setTrafficLogging(false);
        rig.start(true, intervalS);
        QCOMPARE(rig.window->measurementInterval(), intervalS);
        for (int k = 0; k < cycles; ++k)
            rig.tickAfter(qint64(k) * intervalS * 1000 - Clock::tickMs());
        rig.window.reset();
        const QMap<QString, QByteArray> windowFiles = folderContents(rig.folder.path());
        const QMap<QString, QStringList> data = TableSupport::measurementFiles(rig.folder.path());
        QCOMPARE(data.size(), 6);
        for (auto it = data.constBegin(); it != data.constEnd(); ++it) {
            const QString name = QFileInfo(it.key()).fileName();
            QVERIFY2(name.startsWith("2025.03.14-09.26.53_T") && it.value().size() == cycles, qPrintable(name));
            QVERIFY(windowFiles[name].startsWith("\"Sensor 1WireAddr\";\""));
        }

        // Given on the command line, the template is cleaned as the template window does.
        const QStringList common{"read", "--bus=sim:" + bus, "--fast", "--start", Start.toString(Qt::ISODate),
                                 "--cycles", QString::number(cycles), "--interval", QString::number(intervalS)};
        for (const QStringList &extra : {QStringList{"--template", "%DATE%-%TIME% %TS%%SC%_%SN1W%_%MHCH%"},
                                         QStringList()}) {
            QTemporaryDir ctlDir;
            const OrvexctlRun run = orvexctl(common + QStringList{"--record", ctlDir.path()} + extra,
                                             {"XDG_CONFIG_HOME=" + settingsDir});
            QCOMPARE(run.exitCode, 0);
            QCOMPARE(run.err, QByteArray());
            QCOMPARE(folderContents(ctlDir.path()), windowFiles);
        }
    }

    // Failed readings of the 1-Wire kinds: each line has the time of the
    // attempt, and the table's "---" says why; a thermometer that stops
    // answering is shown missing, greyed, while the list keeps it.
    void failedReadingsSayWhenAndWhy()
    {
        SimFixture f;
        auto *crc = f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 0x11), 21.0));
        auto *silent = f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 0x22), 22.0));
        const SimMax31850::Fault faults[] = {SimMax31850::OpenCircuit, SimMax31850::ShortToGnd,
                                             SimMax31850::ShortToVdd};
        for (int i = 0; i < 3; ++i)
            f.add(std::make_unique<SimMax31850>(SimFixture::rom(0x3B, 0x31 + i), 300.0))->setFault(faults[i]);
        QTemporaryDir folder;
        RecordingRig rig(&f.backend(), folder.path());
        auto cycle = [&] {
            QCOMPARE(rig.session.refresh().openResult, 1);
            rig.session.measure();
            Clock::advanceMs(5000);
        };
        cycle();
        crc->failCrc(1000);
        silent->setSilent(true);
        cycle();

        TableMan &table = rig.tableMan;
        auto tipOf = [&](const QByteArray &rom, int subchannel) {
            const int row = table.findRow(WindowRig::romText(rom), subchannel, -1, 0);
            return row < 0 ? QStringLiteral("no row")
                           : table.cellText(row, TableMan::ColValue) + QLatin1Char('|') + table.valueTip(row);
        };
        const QString expected[][2] = {
            {tipOf(SimFixture::rom(0x28, 0x11), 0), "---|Нет значения: ошибка CRC (попытка "},
            {tipOf(SimFixture::rom(0x3B, 0x31), 0), "---|Нет значения: обрыв термопары"},
            {tipOf(SimFixture::rom(0x3B, 0x32), 0), "---|Нет значения: замыкание термопары на землю"},
            {tipOf(SimFixture::rom(0x3B, 0x33), 1), "---|Нет значения: замыкание термопары на питание"},
            {tipOf(SimFixture::rom(0x28, 0x22), 0), "---|Датчик не ответил в последнем цикле; последнее показание: 22.00"},
        };
        for (const auto &pair : expected)
            QVERIFY2(pair[0].startsWith(pair[1]), qPrintable(pair[1] + " / " + pair[0]));
        const int silentRow = table.findRow(WindowRig::romText(SimFixture::rom(0x28, 0x22)), 0, -1, 0);
        QVERIFY(table.isRowMissing(silentRow));
        QVERIFY(table.data(table.index(silentRow, TableMan::ColValue), Qt::ForegroundRole).isValid());

        const QMap<QString, QStringList> files = TableSupport::measurementFiles(folder.path());
        QCOMPARE(files.size(), 2 + 3 * 2);
        int failed = 0;
        for (auto it = files.constBegin(); it != files.constEnd(); ++it) {
            for (const QString &line : it.value()) {
                QVERIFY2(QRegularExpression("^\\d{4}\\.\\d\\d\\.\\d\\d;\\d\\d:\\d\\d:\\d\\d;").match(line).hasMatch(),
                         qPrintable(it.key() + ": " + line));
                failed += line.endsWith(";---");
            }
        }
        QCOMPARE(failed, 1 + 3 * 2 * 2);
    }

    // The I2C preset on the demo bus gives the six 1-Wire channel-0
    // readings (thermometers and thermocouples) one name: the preview warns,
    // the next cycle already writes with it, and every channel gets a file
    // of its own with its own header (the later ones named with their 1-Wire
    // serial and subchannel), said once in the status bar. Every line of
    // every file has a time, failed readings included.
    void templateGivingChannelsOneName()
    {
        WindowRig rig(SimBusLoader::loadDemo(nullptr));
        rig.f.backend().setTrafficLogging(false);
        rig.start(true, 5);
        rig.tick();
        rig.window->findChild<QAction *>(QStringLiteral("action_6"))->trigger();
        QWidget *templates = nullptr;
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w->inherits("FileNameTemplate"))
                templates = w;
        }
        QVERIFY(templates);
        templates->findChild<QAbstractButton *>(QStringLiteral("rbI2CTemplate"))->click();
        const QString preview = templates->findChild<QLabel *>(QStringLiteral("lblResultat"))->text();
        QVERIFY2(preview.contains(QStringLiteral("Внимание")) && preview.contains(QStringLiteral("T0")),
                 qPrintable(preview));
        templates->findChild<QAbstractButton *>(QStringLiteral("btnOk"))->click();

        const QString folder = rig.folder.path();
        const QStringList before = QDir(folder).entryList(QDir::Files);
        for (int cycle = 1; cycle <= 3; ++cycle)
            rig.tickAfter(5000);
        const QMap<QString, QStringList> files = TableSupport::measurementFiles(folder);
        QSet<QString> channels;
        int newFiles = 0;
        for (auto it = files.constBegin(); it != files.constEnd(); ++it) {
            for (const QString &line : it.value())
                QVERIFY2(QRegularExpression("^\\d{4}\\.\\d\\d\\.\\d\\d;\\d\\d:\\d\\d:\\d\\d;").match(line).hasMatch(),
                         qPrintable(it.key() + ": " + line));
            if (before.contains(QFileInfo(it.key()).fileName()))
                continue;
            ++newFiles;
            QCOMPARE(it.value().size(), 3);
            // The header names one channel, and no other file names it.
            const QStringList header = fileLines(it.key()).mid(0, 5);
            QVERIFY2(!channels.contains(header.join('|')), qPrintable(it.key()));
            channels << header.join('|');
        }
        QCOMPARE(newFiles, before.size());
        QVERIFY(QFileInfo::exists(folder + "/T0.csv"));
        QVERIFY(QDir(folder).entryList({"T0_*_0.csv"}).size() >= 5);
        const QString notice = rig.window->statusBar()->currentMessage();
        QVERIFY2(notice.contains(QStringLiteral("T0.csv")), qPrintable(notice));
    }

    // Recording from a terminal of a machine without a display: the default
    // template names the files after --start; bad options exit with 2. (A
    // file that cannot be written is the orvexctl and disk-fault tests'.)
    void orvexctlWithoutADisplay()
    {
        const QStringList noDisplay{"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM",
                                    "XDG_CONFIG_HOME=" + settingsDir + "/empty"};
        QCOMPARE(orvexctl({"scan", "--bus=sim"}, noDisplay).exitCode, 0);

        QTemporaryDir dir;
        const OrvexctlRun run = orvexctl({"read", "--bus=sim", "--fast", "--start", "2025-01-27T14:03:05", "--cycles", "2",
                                          "--record", dir.path()},
                                         noDisplay);
        QVERIFY(run.exitCode == 0 && run.err.isEmpty());
        const QMap<QString, QStringList> written = TableSupport::measurementFiles(dir.path());
        QCOMPARE(written.size(), 56);
        for (auto it = written.constBegin(); it != written.constEnd(); ++it)
            QVERIFY2(QFileInfo(it.key()).fileName().startsWith("2025.01.27-14.03.05_") && it.value().size() == 2,
                     qPrintable(it.key()));

        // Bad options: exit code 2, nothing on standard output, the reason first.
        QTemporaryDir notAFolder;
        QFile file(notAFolder.path() + "/file");
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QStringList read{"read", "--bus=sim"};
        for (const QStringList &args :
             {read + QStringList{"--record", file.fileName()}, read + QStringList{"--record", file.fileName() + "/below"},
              read + QStringList{"--template", "%TS%"}, read + QStringList{"--record"},
              read + QStringList{"--start", "2025-01-27T14:03:05"}, read + QStringList{"--fast", "--start", "27.01.2025"}}) {
            const OrvexctlRun bad = orvexctl(args, noDisplay);
            QVERIFY2(bad.exitCode == 2 && bad.out.isEmpty() && bad.err.startsWith("orvexctl: "), qPrintable(args.join(' ')));
            if (args.size() == 4 && args[2] == "--record")
                QCOMPARE(QString::fromUtf8(bad.err), "orvexctl: --record: \"" + args[3] + "\" is no folder and cannot be made one\n");
        }
    }
};

QTEST_MAIN(TstRecording)
#include "tst_recording.moc"
