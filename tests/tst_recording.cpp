#include "app/appsettings.h"
#include "app/appstate.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "sensors/sensor.h"
#include "sim/simbusloader.h"
#include "support/orvexctlrun.h"
#include "support/recordingrig.h"
#include "support/simfixture.h"
#include "support/tablesupport.h"
#include "support/windowrig.h"
#include "table/recorder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using TableSupport::fileLines;
using TableSupport::readFile;

namespace {

struct Run
{
    int exitCode = -1;
    QStringList out;
    QStringList err;
};

// Runs orvexctl with `env` entries "NAME=value" set and "NAME" removed.
Run orvexctl(const QStringList &args, const QStringList &env)
{
    const OrvexctlRun r = runOrvexctl(QStringLiteral(ORVEXCTL_BIN), args, env);
    Run run;
    run.exitCode = r.exitCode;
    run.out = QString::fromUtf8(r.out).split('\n', Qt::SkipEmptyParts);
    run.err = QString::fromUtf8(r.err).split('\n', Qt::SkipEmptyParts);
    return run;
}

// Every file of `path` by name, with its contents.
QMap<QString, QByteArray> folderContents(const QString &path)
{
    QMap<QString, QByteArray> files;
    for (const QString &name : QDir(path).entryList(QDir::Files))
        files[name] = readFile(path + "/" + name);
    return files;
}

const QDateTime Start(QDate(2025, 3, 14), QTime(9, 26, 53));

// Header lines 2 to 4 of an I2C channel's file with the separators "'" and "".
QStringList i2cHeaderLines(const SensorChannel &channel)
{
    auto hex16 = [](quint64 v) { return QString::number(v, 16).toUpper().rightJustified(16, '0'); };
    QString serial = "I2C Serial;";
    if (channel.i2cSerialHigh != 0)
        serial += "'" + hex16(channel.i2cSerialHigh) + "-";
    if (channel.i2cSerialLow != 0)
        serial += (channel.i2cSerialHigh != 0 ? "" : "'") + hex16(channel.i2cSerialLow);
    return {"\"I2C address\";'" + QString::number(channel.i2cAddress), serial,
            "MultiHub Channel;'" + QString::number(channel.hubChannel)};
}

} // namespace

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
    // file holds its header and exactly the readings of the cycles, once each,
    // in order, although some cycles update the table twice.
    void demoBusOverTwoHundredCycles()
    {
        QTemporaryDir dir;
        SimFixture f(SimBusLoader::loadDemo(nullptr));
        f.backend().setTrafficLogging(false);
        Clock::setVirtual(Start);
        AppState::instance().resetForTest();
        RecordingRig rig(dir.path());
        Sensor &sensor = rig.sensor;

        QMap<QString, QStringList> expected; // data lines per file
        QMap<QString, QStringList> i2cHeaders; // header lines 2 to 4 of the files of I2C channels
        QElapsedTimer real;
        real.start();
        for (int n = 0; n < 200; ++n) {
            Clock::advanceMs(qint64(n) * 5000 - Clock::tickMs());
            QCOMPARE(rig.acquisition.refresh().openResult, 1);
            sensor.measureAll();
            for (int k = 0; k <= n % 2; ++k)
                rig.tableMan.update();
            for (const SensorDevice *device : qAsConst(*sensor.devices())) {
                for (const SensorChannel &channel : device->channels) {
                    expected[channel.fileName] << TableSupport::dataLine(channel);
                    if (channel.i2cAddress != 0)
                        i2cHeaders[channel.fileName] = i2cHeaderLines(channel);
                }
            }
        }
        qInfo("200 cycles of the demo bus took %lld ms of real time", real.elapsed());
        QVERIFY(real.elapsed() < 30000); // waits in virtual time cost nothing

        // 3 DS18B20, 1 DS18S20, 2 MAX31850-like chips with 2 channels; 12 + 2 I2C channels behind two bridges
        QCOMPARE(expected.size(), 22);
        QCOMPARE(i2cHeaders.size(), 14);
        // The I2C tokens of the default template: serial high and low parts, address byte, hub channel.
        const QString prefix = dir.path() + "/2025.03.14-09.26.53_";
        QVERIFY(i2cHeaders.contains(prefix + "T0_A900000B812E5C190DEF079C51214A43_136_0.csv"));
        QVERIFY(i2cHeaders.contains(prefix + "CO20_A900000B812E5C190000000000002D9F-_4C1E0A5B44761C07_194_9.csv"));
        QVERIFY(i2cHeaders.contains(prefix + "P0_A900000B812E5C19_216_8.csv")); // the D6F has no serial
        QCOMPARE(i2cHeaders.value(prefix + "CO20_A900000B812E5C190000000000002D9F-_4C1E0A5B44761C07_194_9.csv"),
                 QStringList({"\"I2C address\";'194", "I2C Serial;'0000000000002D9F-4C1E0A5B44761C07",
                              "MultiHub Channel;'9"}));
        for (auto it = i2cHeaders.constBegin(); it != i2cHeaders.constEnd(); ++it)
            QCOMPARE(fileLines(it.key()).mid(1, 3), it.value());
        const QMap<QString, QStringList> files = TableSupport::measurementFiles(dir.path());
        QCOMPARE(files.keys(), expected.keys());
        for (auto it = expected.constBegin(); it != expected.constEnd(); ++it) {
            QCOMPARE(files.value(it.key()), it.value());
            QVERIFY(it.value().size() == 200 && !it.value().join('\n').contains("---"));
        }
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
        AppState::instance().resetForTest();
        Recorder::instance().resetForTest();
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
            const Run run = orvexctl(common + QStringList{"--record", ctlDir.path()} + extra,
                                     {"XDG_CONFIG_HOME=" + settingsDir});
            QCOMPARE(run.exitCode, 0);
            QCOMPARE(run.err, QStringList());
            QCOMPARE(folderContents(ctlDir.path()), windowFiles);
        }
    }

    // Recording from a terminal of a machine without a display: the default
    // template names the files after --start; a file that cannot be written is
    // reported every cycle while the others go on; bad options exit with 2.
    void orvexctlWithoutADisplay()
    {
        const QStringList noDisplay{"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM",
                                    "XDG_CONFIG_HOME=" + settingsDir + "/empty"};
        QCOMPARE(orvexctl({"scan", "--bus=sim"}, noDisplay).exitCode, 0);

        QTemporaryDir dir;
        const QString blocked = "2025.01.27-14.03.05_T0_9503161D1E64FF28.csv";
        QVERIFY(QDir(dir.path()).mkdir(blocked));
        const Run run = orvexctl({"read", "--bus=sim", "--fast", "--start", "2025-01-27T14:03:05", "--cycles", "2",
                                  "--record", dir.path()},
                                 noDisplay);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.err, QStringList({"orvexctl: cycle 1: Ошибка записи файла " + blocked,
                                       "orvexctl: cycle 2: Ошибка записи файла " + blocked}));
        const QMap<QString, QStringList> written = TableSupport::measurementFiles(dir.path());
        QCOMPARE(written.size(), 21);
        for (auto it = written.constBegin(); it != written.constEnd(); ++it)
            QVERIFY2(QFileInfo(it.key()).fileName().startsWith("2025.01.27-14.03.05_") && it.value().size() == 2,
                     qPrintable(it.key()));

        QTemporaryDir notAFolder;
        QFile file(notAFolder.path() + "/file");
        QVERIFY(file.open(QIODevice::WriteOnly));
        for (const QString &folder : {notAFolder.path() + "/absent", file.fileName()}) {
            const Run bad = orvexctl({"read", "--bus=sim", "--record", folder}, noDisplay);
            QCOMPARE(bad.exitCode, 2);
            QVERIFY(bad.out.isEmpty());
            QCOMPARE(bad.err, QStringList("orvexctl: --record: no folder \"" + folder + "\""));
        }
        for (const QStringList &args :
             {QStringList{"read", "--bus=sim", "--template", "%TS%"}, QStringList{"read", "--bus=sim", "--record"},
              QStringList{"read", "--bus=sim", "--start", "2025-01-27T14:03:05"},
              QStringList{"read", "--bus=sim", "--fast", "--start", "27.01.2025"}}) {
            const Run bad = orvexctl(args, noDisplay);
            QCOMPARE(bad.exitCode, 2);
            QVERIFY(bad.out.isEmpty());
            QVERIFY(!bad.err.isEmpty());
        }
    }
};

QTEST_MAIN(TstRecording)
#include "tst_recording.moc"
