#include "onewire/romid.h"
#include "base/clock.h"
#include "sim/simbusloader.h"
#include "support/recordingrig.h"
#include "support/simfixture.h"
#include "support/tablesupport.h"
#include "table/recorder.h"
#include "table/tableman.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

// A fixed run over a copy of the demo bus must keep sending the same calls
// at the same virtual times and keep writing the same files, table cells and
// log lines, whatever is done to make the program and the simulated bus
// faster. The stored copies in data/sameoutput were taken from the program
// before that work; a run that departs from them names the first line that
// differs and leaves its whole output beside the test for a diff.
namespace {

const QDateTime Start(QDate(2025, 3, 14), QTime(9, 26, 53));

// Everything a run put out: the files it wrote by name, and the transcripts.
struct Output
{
    QMap<QString, QByteArray> files;
    QByteArray traffic, table, log;
    int calls = 0;
};

QByteArray *logTranscript = nullptr;
QString logFolder;

void noteMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (!logTranscript)
        return;
    QString line = QString::number(type) + QLatin1Char(' ') + QLatin1String(context.category ? context.category : "")
                   + QLatin1Char(' ') + text + QLatin1Char('@') + QString::number(Clock::tickUs()) + QLatin1Char('\n');
    line.replace(logFolder, QStringLiteral("<folder>"));
    *logTranscript += line.toUtf8();
}

void noteTable(QByteArray &transcript, const TableMan &table, const QString &folder)
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
    transcript += text.toUtf8();
}

// Ten cycles as the window's tick runs them, with the scan options switched
// off and on again, a reference sample, calibration and sub-type requests, a
// channel mask that drops and brings back rows, and a filter. Returns every
// file written; every TMEX call with the tick it was made at; the cells and
// hidden rows and columns after each update, and each reading announced;
// every log message with its category and tick, and every dialog.
Output fixedRun(const QString &busFile)
{
    QTemporaryDir dir;
    QString error;
    SimFixture f(SimBusLoader::loadFile(SimFixture::busFile(busFile), &error));
    Clock::setVirtual(Start);
    RecordingRig rig(&f.backend(), dir.path());
    Recorder &recorder = rig.recorder;
    Sensor &sensor = rig.sensor;
    TableMan &tableMan = rig.tableMan;

    Output output;
    QByteArray &traffic = output.traffic, &table = output.table, &log = output.log;
    logTranscript = &log;
    logFolder = dir.path();
    const QtMessageHandler previous = qInstallMessageHandler(noteMessage);
    // The operator's warnings (a calibration out of range) count as output.
    sensor.notices().setHandler([&](const OperatorNotices::Notice &notice) {
        log += QString("dialog %1 %2@%3\n").arg(notice.title, notice.text).arg(Clock::tickUs()).toUtf8();
    });
    auto takeTraffic = [&] {
        for (const TrafficEntry &e : f.backend().traffic())
            traffic += (e.text() + QLatin1Char('@') + QString::number(e.timeUs) + QLatin1Char('\n')).toUtf8();
        output.calls += f.backend().traffic().size();
        f.backend().clearTraffic();
    };
    QObject::connect(&rig.session, &MeasurementSession::readingTaken, [&](const SensorDevice &device, int index) {
        table += QString("reading %1 %2 %3\n")
                     .arg(romToText(device.rom, false))
                     .arg(index)
                     .arg(device.channels.at(index).reading)
                     .toUtf8();
    });
    takeTraffic();

    for (int n = 0; n < 10; ++n) {
        // 2: sample 36 °C and calibration; 3: sub-type; 4: scan options off;
        // 6: channel 0 only, sample 20 °C; 7: every channel, filter "28";
        // 8: scan options on, no filter.
        if (n == 6 || n == 7)
            rig.session.setChannelMask(n == 6 ? 0x01 : 0xFF);
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
            noteTable(table, rig.tableMan, dir.path());
        }
    }
    qInstallMessageHandler(previous);
    logTranscript = nullptr;

    for (const QString &name : QDir(dir.path()).entryList(QDir::Files, QDir::Name))
        output.files[name] = TableSupport::readFile(dir.filePath(name));
    return output;
}

// Where `actual` first departs from the stored `expected`, as
// "<name> line N: expected "...", actual "..."", or empty when they agree.
QString firstDifference(const QString &name, const QByteArray &expected, const QByteArray &actual)
{
    if (expected == actual)
        return QString();
    const QList<QByteArray> e = expected.split('\n'), a = actual.split('\n');
    int i = 0;
    while (i < e.size() && i < a.size() && e[i] == a[i])
        ++i;
    auto lineOf = [i](const QList<QByteArray> &lines) {
        return i < lines.size() ? QString::fromUtf8(lines[i]).replace('\r', QLatin1String("\\r"))
                                : QStringLiteral("<end of file>");
    };
    return QStringLiteral("%1 line %2: expected \"%3\", actual \"%4\"").arg(name).arg(i + 1).arg(lineOf(e), lineOf(a));
}

// The stored output of a run: the files under files/, the transcripts beside
// them, the long one of the calls as qCompress leaves it (traffic.txt.z).
Output stored(const QString &folder)
{
    Output output;
    const QDir files(folder + QStringLiteral("/files"));
    for (const QString &name : files.entryList(QDir::Files, QDir::Name))
        output.files[name] = TableSupport::readFile(files.filePath(name));
    output.traffic = qUncompress(TableSupport::readFile(folder + QStringLiteral("/traffic.txt.z")));
    output.table = TableSupport::readFile(folder + QStringLiteral("/table.txt"));
    output.log = TableSupport::readFile(folder + QStringLiteral("/log.txt"));
    return output;
}

// Writes `output` as stored() reads it, with traffic.txt beside for reading.
void save(const Output &output, const QString &folder)
{
    QDir().mkpath(folder + QStringLiteral("/files"));
    auto write = [](const QString &path, const QByteArray &bytes) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
    };
    for (auto it = output.files.cbegin(); it != output.files.cend(); ++it)
        write(folder + QStringLiteral("/files/") + it.key(), it.value());
    write(folder + QStringLiteral("/traffic.txt"), output.traffic);
    write(folder + QStringLiteral("/traffic.txt.z"), qCompress(output.traffic, 9));
    write(folder + QStringLiteral("/table.txt"), output.table);
    write(folder + QStringLiteral("/log.txt"), output.log);
}

// The first difference between two runs' output, or empty.
QString firstDifference(const Output &expected, const Output &actual)
{
    const QStringList expectedNames = expected.files.keys(), actualNames = actual.files.keys();
    if (expectedNames != actualNames)
        return firstDifference(QStringLiteral("the list of files"), expectedNames.join('\n').toUtf8(),
                               actualNames.join('\n').toUtf8());
    QString difference;
    for (const QString &name : expectedNames) {
        difference = firstDifference(QStringLiteral("file ") + name, expected.files[name], actual.files[name]);
        if (!difference.isEmpty())
            return difference;
    }
    const struct { const char *name; QByteArray Output::*text; } transcripts[] = {
        {"traffic.txt", &Output::traffic}, {"table.txt", &Output::table}, {"log.txt", &Output::log}};
    for (const auto &t : transcripts) {
        difference = firstDifference(QLatin1String(t.name), expected.*t.text, actual.*t.text);
        if (!difference.isEmpty())
            return difference;
    }
    return difference;
}

} // namespace

class TstSameOutput : public QObject
{
    Q_OBJECT
private slots:
    void fixedRunIsUnchanged_data()
    {
        QTest::addColumn<QString>("bus");
        QTest::newRow("demo") << "demo-snapshot.json";
        QTest::newRow("faults") << "sameoutput-faults.json";
    }

    void fixedRunIsUnchanged()
    {
        QFETCH(QString, bus);
        const QString name = QString::fromLatin1(QTest::currentDataTag());
        const Output actual = fixedRun(bus);
        qInfo("%d calls", actual.calls);
        const QString difference = firstDifference(stored(TEST_DATA_DIR "/sameoutput/" + name), actual);
        if (!difference.isEmpty()) {
            const QString folder = QDir::current().absoluteFilePath(QStringLiteral("sameoutput-actual/") + name);
            save(actual, folder);
            QFAIL(qPrintable(difference + QStringLiteral(" (this run's output: ") + folder + ')'));
        }
    }
};

QTEST_MAIN(TstSameOutput)
#include "tst_sameoutput.moc"
