#include "platform/clock.h"
#include "sim/simbusloader.h"
#include "sim/simds18s20.h"
#include "sim/simds28e17.h"
#include "sim/simmax31850.h"
#include "sim/simpt100emulator.h"
#include "support/recordingrig.h"
#include "support/simfixture.h"
#include "support/tablesupport.h"
#include "table/recorder.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

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

// A long run with every fault of the bus files at once, recording on: the
// files hold exactly the readings the table announced, each once, whole.
class TstFaultSoak : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false")); }

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
        RecordingRig rig(folder.path());
        Recorder &recorder = Recorder::instance();
        // Hub scans end after two empty channels; the hub's sensors sit side by side.
        rig.sensor.setScanAllChannel(false);

        // Every reading the table announces, by the file it belongs in.
        QHash<QString, QStringList> expected;
        int readings = 0;
        connect(&rig.tableMan, &TableMan::readingTaken, this, [&](const SensorDevice &device, int index) {
            expected[recorder.filePathFor(device, index)] << TableSupport::dataLine(device.channels.at(index));
            ++readings;
        });

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
            if (rig.acquisition.refresh().openResult != 1)
                ++cyclesWithoutAdapter;
            rig.sensor.measureAll();
            rig.tableMan.update();
            QVERIFY(recorder.problemText().isEmpty());
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
        for (auto it = files.constBegin(); it != files.constEnd(); ++it) {
            QCOMPARE(it.value(), expected.value(it.key()));
            lines += it.value().size();
            untimed += it.value().filter(QRegularExpression("^;;")).size();
        }
        QCOMPARE(lines, readings);
        qInfo("%d cycles, %d files, %d readings announced, %d lines found (%d without a time); %lld ms",
              kCycles, int(files.size()), readings, lines, untimed, wall.elapsed());
        QVERIFY(untimed > 0); // the thermometers' failed reads were recorded too
    }
};

QTEST_MAIN(TstFaultSoak)
#include "tst_faultsoak.moc"
