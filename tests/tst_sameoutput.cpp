#include "base/appstate.h"
#include "onewire/romid.h"
#include "base/clock.h"
#include "gui/dialogs.h"
#include "sim/simbusloader.h"
#include "support/recordingrig.h"
#include "support/simfixture.h"
#include "support/tablesupport.h"
#include "table/recorder.h"
#include "table/tableman.h"

#include <QCryptographicHash>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

// A fixed run over a copy of the demo bus must keep sending the same calls
// at the same virtual times and keep writing the same files, table cells and
// log lines, whatever is done to make the program and the simulated bus
// faster. The digests below were taken from the program before that work.
namespace {

const QDateTime Start(QDate(2025, 3, 14), QTime(9, 26, 53));

QCryptographicHash *logHash = nullptr;
QString logFolder;

void hashMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (!logHash)
        return;
    QString line = QString::number(type) + QLatin1Char(' ') + QLatin1String(context.category ? context.category : "")
                   + QLatin1Char(' ') + text + QLatin1Char('@') + QString::number(Clock::tickUs()) + QLatin1Char('\n');
    line.replace(logFolder, QStringLiteral("<folder>"));
    logHash->addData(line.toUtf8());
}

void hashTable(QCryptographicHash &hash, const TableMan &table, const QString &folder)
{
    QString text;
    for (int column = 0; column < table.columnCount(); ++column)
        text += table.isColumnShown(column) ? QLatin1Char('s') : QLatin1Char('h');
    text += QLatin1Char('\n');
    for (int row = 0; row < table.rowCount(); ++row) {
        text += table.isRowShown(row) ? QStringLiteral("shown") : QStringLiteral("hidden");
        for (int column = 0; column < table.columnCount(); ++column)
            text += QLatin1Char('|') + table.cellText(row, column);
        text += QLatin1Char('\n');
    }
    text.replace(folder, QStringLiteral("<folder>"));
    hash.addData(text.toUtf8());
}

// Ten cycles as the window's tick runs them, with the scan options switched
// off and on again, a reference sample, calibration and sub-type requests, a
// channel mask that drops and brings back rows, and a filter. Returns the
// SHA-256 digests, in hexadecimal, of: every TMEX call with the tick it was
// made at; every file's name and bytes; the cells and hidden rows and columns
// after each update, and each reading announced; every log message with its
// category and tick, and every dialog. Then the numbers of calls and files.
QStringList fixedRun(const QString &busFile)
{
    QTemporaryDir dir;
    QString error;
    SimFixture f(SimBusLoader::loadFile(SimFixture::busFile(busFile), &error));
    Clock::setVirtual(Start);
    AppState::instance().resetForTest();
    RecordingRig rig(dir.path());
    Recorder &recorder = rig.recorder;
    Sensor &sensor = rig.sensor;
    TableMan &tableMan = rig.tableMan;

    QCryptographicHash traffic(QCryptographicHash::Sha256);
    QCryptographicHash table(QCryptographicHash::Sha256);
    QCryptographicHash log(QCryptographicHash::Sha256);
    logHash = &log;
    logFolder = dir.path();
    const QtMessageHandler previous = qInstallMessageHandler(hashMessage);
    // The operator's warnings (a calibration out of range) are answered at
    // once; their texts count as output.
    Dialogs::setResponder([&](const DialogRequest &request) {
        log.addData(QString("dialog %1 %2@%3\n").arg(request.title, request.text).arg(Clock::tickUs()).toUtf8());
        return DialogAnswer::pressed(QMessageBox::Yes);
    });
    int calls = 0;
    auto takeTraffic = [&] {
        for (const TrafficEntry &e : f.backend().traffic())
            traffic.addData((e.text() + QLatin1Char('@') + QString::number(e.timeUs) + QLatin1Char('\n')).toUtf8());
        calls += f.backend().traffic().size();
        f.backend().clearTraffic();
    };
    QObject::connect(&tableMan, &TableMan::readingTaken, [&](const SensorDevice &device, int index) {
        table.addData(QString("reading %1 %2 %3\n")
                          .arg(romToText(device.rom, false))
                          .arg(index)
                          .arg(device.channels.at(index).reading)
                          .toUtf8());
    });
    takeTraffic();

    for (int n = 0; n < 10; ++n) {
        // 2: sample 36 °C and calibration; 3: sub-type; 4: scan options off;
        // 6: channel 0 only, sample 20 °C; 7: every channel, filter "28";
        // 8: scan options on, no filter.
        if (n == 6 || n == 7)
            tableMan.setChannelMask(n == 6 ? 0x01 : 0xFF);
        if (n == 2 || n == 6) {
            tableMan.setSample0(n == 2 ? 36.0 : 20.0);
            recorder.setSample0(n == 2 ? 36.0 : 20.0);
        }
        if (n == 2)
            tableMan.requestCalibration(false);
        if (n == 3)
            tableMan.requestSubtype(2);
        if (n == 4 || n == 8) {
            sensor.setScanAllChannel(n == 8);
            sensor.setScanAllType(n == 8);
        }
        if (n == 7 || n == 8)
            tableMan.setFilter(n == 7 ? QStringLiteral("28") : QString());
        Clock::advanceMs(1000);
        rig.acquisition.refresh();
        takeTraffic();
        sensor.measureAll();
        takeTraffic();
        // At 6 a second update in the same cycle writes nothing twice.
        for (int k = 0; k <= int(n == 6); ++k) {
            tableMan.update();
            hashTable(table, rig.tableMan, dir.path());
        }
    }
    Dialogs::setResponder(nullptr);
    qInstallMessageHandler(previous);
    logHash = nullptr;

    QCryptographicHash files(QCryptographicHash::Sha256);
    const QStringList names = QDir(dir.path()).entryList(QDir::Files, QDir::Name);
    for (const QString &name : names) {
        files.addData((name + QLatin1Char('\n')).toUtf8());
        files.addData(TableSupport::readFile(dir.filePath(name)));
    }
    return {traffic.result().toHex(), files.result().toHex(), table.result().toHex(), log.result().toHex(),
            QString::number(calls), QString::number(names.size())};
}

} // namespace

class TstSameOutput : public QObject
{
    Q_OBJECT
private slots:
    void fixedRunIsUnchanged_data()
    {
        QTest::addColumn<QString>("bus");
        QTest::addColumn<QStringList>("digests"); // traffic, files, table, log; the number of files
        QTest::newRow("demo") << "demo-snapshot.json"
                              << QStringList{"46a7109580d70296b057debbec0dd9ff9bdbd60b723d480ce6f093ff53946d0e",
                                             "872a8e18f8062621a4b8b57d3211f041e55f1c1470bbabca2a4671fc47add8fa",
                                             "b12bbd569ac2be12425a756db4af10eb0aafa39ff3477d4952a73eaebfe1ddf3",
                                             "ab20486bc63259ead141a7615337c602c443966903ce5761fd5417727823caf7", "22"};
        QTest::newRow("faults") << "sameoutput-faults.json"
                                << QStringList{"bea420b96a7d79ffe6f716999d00260e1ef7d660ad0abf9605f7a12abbf10bde",
                                               "2274fe43aabd9212fb40fdb159987398da0074542b4094ae8b54b5e8e064c3e2",
                                               "0e71225033f99c66cbe46bb13eb9dd4957cd3a3dfc878a6471aa65c282452238",
                                               "9cc58162d7c5f0cfa8ba2dce78237f7efd651ee8d061dcc6d19c05fed5ffdeb1", "36"};
    }

    // On a mismatch the list tells which output changed.
    void fixedRunIsUnchanged()
    {
        QFETCH(QString, bus);
        QStringList digests = fixedRun(bus);
        qInfo("%s calls", qPrintable(digests.takeAt(4)));
        QTEST(digests, "digests");
    }
};

QTEST_MAIN(TstSameOutput)
#include "tst_sameoutput.moc"
