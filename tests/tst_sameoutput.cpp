#include "app/appstate.h"
#include "onewire/romid.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "sim/simbusloader.h"
#include "support/recordingrig.h"
#include "support/simfixture.h"
#include "table/recorder.h"
#include "table/tableman.h"

#include <QCryptographicHash>
#include <QDir>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

// A fixed run over a copy of the demo bus must keep sending the same calls
// at the same virtual times and keep writing the same files, table cells and
// log lines, whatever is done to make the program and the simulated bus
// faster. The digests below were taken from the program before that work.
namespace {

const QDateTime Start(QDate(2025, 3, 14), QTime(9, 26, 53));

// What the run produced, each as a SHA-256 in hexadecimal.
struct Digests
{
    QByteArray traffic; // every TMEX call: its text and the tick it was made at
    QByteArray files;   // every file's name and bytes
    QByteArray table;   // the cells and hidden rows and columns after each update, and each reading announced
    QByteArray log;     // every log message with its category and tick, and every dialog
    int calls = 0;
    int fileCount = 0;
};

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

void hashTable(QCryptographicHash &hash, const QTableWidget &table, const QString &folder)
{
    QString text;
    for (int column = 0; column < table.columnCount(); ++column)
        text += table.isColumnHidden(column) ? QLatin1Char('h') : QLatin1Char('s');
    text += QLatin1Char('\n');
    for (int row = 0; row < table.rowCount(); ++row) {
        text += table.isRowHidden(row) ? QStringLiteral("hidden") : QStringLiteral("shown");
        for (int column = 0; column < table.columnCount(); ++column) {
            const QTableWidgetItem *item = table.item(row, column);
            text += QLatin1Char('|') + (item ? item->text() : QStringLiteral("<none>"));
        }
        text += QLatin1Char('\n');
    }
    text.replace(folder, QStringLiteral("<folder>"));
    hash.addData(text.toUtf8());
}

// Ten cycles as the window's tick runs them, with the scan options switched
// off and on again, a reference sample, calibration and sub-type requests, a
// channel mask that drops and brings back rows, and a filter.
Digests fixedRun(const QString &busFile)
{
    QTemporaryDir dir;
    QString error;
    SimFixture f(SimBusLoader::loadFile(QStringLiteral(TEST_DATA_DIR "/buses/") + busFile, &error));
    Clock::setVirtual(Start);
    AppState::instance().resetForTest();
    RecordingRig rig(dir.path());
    Recorder &recorder = Recorder::instance();
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
        log.addData((QStringLiteral("dialog ") + request.title + QLatin1Char(' ') + request.text + QLatin1Char('@')
                     + QString::number(Clock::tickUs()) + QLatin1Char('\n'))
                        .toUtf8());
        return DialogAnswer::pressed(QMessageBox::Yes);
    });

    Digests digests;
    auto takeTraffic = [&] {
        for (const TrafficEntry &e : f.backend().traffic())
            traffic.addData((e.text() + QLatin1Char('@') + QString::number(e.timeUs) + QLatin1Char('\n')).toUtf8());
        digests.calls += f.backend().traffic().size();
        f.backend().clearTraffic();
    };

    QObject::connect(&tableMan, &TableMan::readingTaken, [&](const SensorDevice &device, int index) {
        const SensorChannel &channel = device.channels.at(index);
        table.addData(QStringLiteral("reading %1 %2 %3\n")
                          .arg(romToText(device.rom, false))
                          .arg(index)
                          .arg(channel.reading)
                          .toUtf8());
    });
    takeTraffic();

    for (int n = 0; n < 10; ++n) {
        switch (n) {
        case 2:
            tableMan.setSample0(36.0);
            recorder.setSample0(36.0);
            tableMan.requestCalibration(false);
            break;
        case 3:
            tableMan.requestSubtype(2);
            break;
        case 4:
            sensor.setScanAllChannel(false);
            sensor.setScanAllType(false);
            break;
        case 6:
            tableMan.setChannelMask(0x01);
            tableMan.setSample0(20.0);
            recorder.setSample0(20.0);
            break;
        case 7:
            tableMan.setChannelMask(0xFF);
            tableMan.setFilter(QStringLiteral("28"));
            break;
        case 8:
            sensor.setScanAllChannel(true);
            sensor.setScanAllType(true);
            tableMan.setFilter(QString());
            break;
        default:
            break;
        }
        Clock::advanceMs(1000);
        rig.acquisition.refresh();
        takeTraffic();
        sensor.measureAll();
        takeTraffic();
        tableMan.update();
        hashTable(table, rig.table, dir.path());
        if (n == 6) {
            tableMan.update(); // a second update in the same cycle writes nothing twice
            hashTable(table, rig.table, dir.path());
        }
    }

    Dialogs::setResponder(nullptr);
    qInstallMessageHandler(previous);
    logHash = nullptr;

    QCryptographicHash files(QCryptographicHash::Sha256);
    for (const QString &name : QDir(dir.path()).entryList(QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        files.addData((name + QLatin1Char('\n')).toUtf8());
        files.addData(file.readAll());
        ++digests.fileCount;
    }
    digests.traffic = traffic.result().toHex();
    digests.files = files.result().toHex();
    digests.table = table.result().toHex();
    digests.log = log.result().toHex();
    Recorder::instance().resetForTest();
    return digests;
}

} // namespace

class TstSameOutput : public QObject
{
    Q_OBJECT
private slots:
    void fixedRunIsUnchanged_data()
    {
        QTest::addColumn<QString>("bus");
        QTest::addColumn<int>("files");
        QTest::addColumn<QByteArray>("traffic");
        QTest::addColumn<QByteArray>("fileBytes");
        QTest::addColumn<QByteArray>("table");
        QTest::addColumn<QByteArray>("log");
        QTest::newRow("demo") << "demo-snapshot.json" << 22
                              << QByteArray("46a7109580d70296b057debbec0dd9ff9bdbd60b723d480ce6f093ff53946d0e")
                              << QByteArray("872a8e18f8062621a4b8b57d3211f041e55f1c1470bbabca2a4671fc47add8fa")
                              << QByteArray("b12bbd569ac2be12425a756db4af10eb0aafa39ff3477d4952a73eaebfe1ddf3")
                              << QByteArray("ab20486bc63259ead141a7615337c602c443966903ce5761fd5417727823caf7");
        QTest::newRow("faults") << "sameoutput-faults.json" << 36
                                << QByteArray("bea420b96a7d79ffe6f716999d00260e1ef7d660ad0abf9605f7a12abbf10bde")
                                << QByteArray("2274fe43aabd9212fb40fdb159987398da0074542b4094ae8b54b5e8e064c3e2")
                                << QByteArray("0e71225033f99c66cbe46bb13eb9dd4957cd3a3dfc878a6471aa65c282452238")
                                << QByteArray("9cc58162d7c5f0cfa8ba2dce78237f7efd651ee8d061dcc6d19c05fed5ffdeb1");
    }

    void fixedRunIsUnchanged()
    {
        QFETCH(QString, bus);
        const Digests d = fixedRun(bus);
        // On a mismatch these lines tell which output changed.
        qInfo("calls %d, files %d\ntraffic %s\nfiles   %s\ntable   %s\nlog     %s", d.calls, d.fileCount,
              d.traffic.constData(), d.files.constData(), d.table.constData(), d.log.constData());
        QTEST(d.fileCount, "files");
        QTEST(d.traffic, "traffic");
        QTEST(d.files, "fileBytes");
        QTEST(d.table, "table");
        QTEST(d.log, "log");
    }
};

QTEST_MAIN(TstSameOutput)
#include "tst_sameoutput.moc"
