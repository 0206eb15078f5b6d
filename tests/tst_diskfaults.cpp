#include "platform/clock.h"
#include "sim/simbackend.h"
#include "sim/simbusloader.h"
#include "sim/simds2480b.h"
#include "sim/simds18b20.h"
#include "sim/simpty.h"
#include "support/tablesupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <functional>
#include <sys/resource.h>

namespace {

const char kBus[] = R"({"devices": [
    {"type": "identity", "rom": "81 4E 2A 1B 00 00 00"},
    {"type": "ds18b20", "rom": "28 FF 64 1E 1D 16 03", "temperature": {"mean": 21.5, "amplitude": 1.5, "periodS": 900}},
    {"type": "max31850", "rom": "3B 4C 1D 18 0D 00 00", "temperature": 350.0, "coldJunction": 24.5}]})";

// The file in `folder` whose header names this sensor type; empty if none.
QString fileOfType(const QString &folder, const QString &type)
{
    for (const QFileInfo &file : QDir(folder).entryInfoList(QDir::Files)) {
        if (TableSupport::fileLines(file.filePath()).value(5) == QStringLiteral("Sensor type;") + type)
            return file.filePath();
    }
    return QString();
}

// Sets the file-size limit of another process (what a file system with
// little room left does to it); a negative limit lifts it.
bool limitFileSize(qint64 pid, qint64 bytes)
{
    struct rlimit limit;
    limit.rlim_cur = bytes < 0 ? RLIM_INFINITY : rlim_t(bytes);
    limit.rlim_max = RLIM_INFINITY;
    return prlimit(pid_t(pid), RLIMIT_FSIZE, &limit, nullptr) == 0;
}

} // namespace

// orvexctl recording while the disk fails under it: a file on a full device,
// the folder removed and brought back, a file system that fills up in the
// middle of a line. orvexctl runs against a DS2480B emulated in this process,
// so each fault starts exactly at the cycle it is meant for: the program waits
// for the adapter's answers, and the test answers only after arranging the
// disk. Every failure is reported after its cycle, no line is half written or
// written twice, and recording resumes by itself when the disk is back.
class TstDiskFaults : public QObject
{
    Q_OBJECT
private slots:
    void recordingThroughDiskFaults()
    {
        QTemporaryDir dir;
        const QString record = dir.filePath(QStringLiteral("record"));
        const QString aside = dir.filePath(QStringLiteral("aside"));
        QVERIFY(QDir().mkpath(record) && QDir().mkpath(aside));
        QString error;
        QVERIFY2(Clock::setVirtualShared(dir.filePath(QStringLiteral("clock")), QDateTime::currentDateTime(), &error),
                 qPrintable(error));
        std::unique_ptr<SimBackend> bus = SimBusLoader::load(kBus, QStringLiteral("disk"), &error);
        QVERIFY2(bus, qPrintable(error));
        // The thermometer is read first in every cycle, with one conversion.
        auto *cycleMark = dynamic_cast<SimDs18b20 *>(bus->bus().device(1));
        QVERIFY(cycleMark);
        SimDs2480b chip(&bus->bus());
        SimPty port(&chip);
        QVERIFY2(port.open(dir.filePath(QStringLiteral("tty")), &error), qPrintable(error));

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("ORVEX_BUS"));
        environment.insert(QStringLiteral("ORVEX_SHARED_CLOCK"), dir.filePath(QStringLiteral("clock")));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path()); // no stored settings
        QProcess orvexctl;
        orvexctl.setProcessEnvironment(environment);
        // A file that grows past its limit must fail the write, not stop the
        // program: the child inherits the ignored signal.
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        orvexctl.start(QStringLiteral(ORVEXCTL_BIN),
                       {"read", "--bus=serial:" + port.path(), "--fast", "--start", "2025-01-27T14:03:05", "--cycles",
                        "10", "--interval", "30", "--record", record, "--template", "%TS%%SC%_%SN1W%"});
        QVERIFY(orvexctl.waitForStarted(30000));
        std::signal(SIGXFSZ, previous);

        QString thermometer;
        const QString movedRecord = dir.filePath(QStringLiteral("record-away"));
        // What happens to the disk as each cycle begins (the thermometer has
        // started that cycle's conversion; nothing of the cycle is recorded yet).
        const QMap<int, std::function<bool()>> faults = {
            {3, [&] { // the thermometer's file on a full device
                 thermometer = fileOfType(record, QStringLiteral("DS18B20 Temperature sensor"));
                 return !thermometer.isEmpty() && QFile::rename(thermometer, aside + QStringLiteral("/t.csv"))
                     && QFile::link(QStringLiteral("/dev/full"), thermometer);
             }},
            {5, [&] { return QFile::remove(thermometer) && QFile::rename(aside + QStringLiteral("/t.csv"), thermometer); }},
            {6, [&] { return QDir().rename(record, movedRecord); }}, // the folder is gone
            {8, [&] { // back, on a file system with room for a few bytes only
                 if (!QDir().rename(movedRecord, record))
                     return false;
                 qint64 smallest = -1;
                 for (const QFileInfo &file : QDir(record).entryInfoList(QDir::Files))
                     smallest = smallest < 0 ? file.size() : qMin(smallest, file.size());
                 return limitFileSize(orvexctl.processId(), smallest + 7);
             }},
            {10, [&] { return limitFileSize(orvexctl.processId(), -1); }},
        };
        int applied = 0;
        QElapsedTimer realTime;
        realTime.start();
        while (orvexctl.state() != QProcess::NotRunning && realTime.elapsed() < 120000) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
            const int cycle = cycleMark->conversionsStarted();
            for (auto it = faults.begin(); it != faults.end(); ++it) {
                if (it.key() > applied && it.key() <= cycle) {
                    QVERIFY2(it.value()(), qPrintable(QStringLiteral("disk fault of cycle %1").arg(it.key())));
                    applied = it.key();
                }
            }
        }
        QCOMPARE(orvexctl.state(), QProcess::NotRunning);
        const QByteArray errText = orvexctl.readAllStandardError();
        QVERIFY2(orvexctl.exitStatus() == QProcess::NormalExit && orvexctl.exitCode() == 0, errText.constData());
        QCOMPARE(applied, 10);
        const QStringList out = QString::fromUtf8(orvexctl.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(out.size(), 30); // three channels in each of ten cycles

        // One error line after every cycle with a failed write, naming the
        // file that failed last and, when several did, how many.
        const QStringList err = QString::fromUtf8(errText).split('\n', Qt::SkipEmptyParts);
        const QString one = QStringLiteral("Ошибка записи файла ") + QFileInfo(thermometer).fileName();
        const QRegularExpression all(QStringLiteral("^Ошибка записи файла T[01]_\\S+\\.csv \\(файлов с ошибкой: 3\\)$"));
        QMap<int, QString> reported;
        for (const QString &line : err) {
            const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("^orvexctl: cycle (\\d+): (.*)$")).match(line);
            QVERIFY2(m.hasMatch(), qPrintable(line));
            reported.insert(m.captured(1).toInt(), m.captured(2));
        }
        QCOMPARE(reported.keys(), QList<int>({3, 4, 6, 7, 8, 9}));
        QCOMPARE(reported.value(3), one);
        QCOMPARE(reported.value(4), one);
        for (int cycle : {6, 7, 8, 9})
            QVERIFY2(all.match(reported.value(cycle)).hasMatch(), qPrintable(reported.value(cycle)));

        // Each file: its header once, then one whole line for every cycle it
        // could be written in, at that cycle's time, and nothing else.
        const QStringList names = QDir(record).entryList(QDir::Files);
        QCOMPARE(names.size(), 3);
        for (const QString &name : names) {
            const QString path = QDir(record).filePath(name);
            QVERIFY(TableSupport::readFile(path).endsWith("\r\n"));
            const QStringList lines = TableSupport::fileLines(path);
            QCOMPARE(lines.count(QStringLiteral("DATA;TIME;Value;Sample;Deviation")), 1);
            QCOMPARE(lines.indexOf(QStringLiteral("DATA;TIME;Value;Sample;Deviation")), 9);
            // Cycle n begins (n - 1) × 30 s after the start; its reading is taken within it.
            QList<int> cycles;
            for (const QString &line : lines.mid(10)) {
                QVERIFY2(QRegularExpression(QStringLiteral("^2025\\.01\\.27;\\d\\d:\\d\\d:\\d\\d;-?\\d+,\\d\\d$")).match(line).hasMatch(),
                         qPrintable(name + ": " + line));
                const int seconds = QTime(14, 3, 5).secsTo(QTime::fromString(line.section(';', 1, 1), QStringLiteral("hh:mm:ss")));
                cycles << seconds / 30 + 1;
            }
            const QList<int> written = path == thermometer ? QList<int>({1, 2, 5, 10}) : QList<int>({1, 2, 3, 4, 5, 10});
            QCOMPARE(cycles, written);
        }
    }
};

QTEST_GUILESS_MAIN(TstDiskFaults)
#include "tst_diskfaults.moc"
