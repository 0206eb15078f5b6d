#include "support/tablesupport.h"
#include "support/testprocess.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Four thermometers and a thermocouple converter; the search finds them in
// the order of their ROMs' low bits, whatever the order here.
const char kBus[] = R"({"devices": [
    {"type": "identity", "rom": "81 4E 2A 1B 00 00 00"},
    {"type": "ds18b20", "rom": "28 00 00 00 00 00 01", "temperature": 21.5},
    {"type": "ds18b20", "rom": "28 01 00 00 00 00 01", "temperature": {"mean": 20, "amplitude": 2, "periodS": 600}},
    {"type": "max31850", "rom": "3B 02 00 00 00 00 01", "temperature": 350.0, "coldJunction": 24.5},
    {"type": "ds18b20", "rom": "28 03 00 00 00 00 01", "temperature": -4.0}]})";

const int kCycles = 8;

// Waits up to `timeoutMs` for the writer at the far end of a FIFO opened for
// reading, and returns all it wrote before closing its end.
QByteArray drain(int fd, int timeoutMs)
{
    QByteArray data;
    pollfd p = {fd, POLLIN, 0};
    while (::poll(&p, 1, timeoutMs) > 0) {
        char buffer[256];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        data.append(buffer, int(n));
    }
    return data;
}

// Sets the file-size limit of another process (a file system with only that
// much room); a negative limit lifts it. Pipes and FIFOs are not affected.
bool limitFileSize(qint64 pid, qint64 bytes)
{
    struct rlimit limit;
    limit.rlim_cur = bytes < 0 ? RLIM_INFINITY : rlim_t(bytes);
    limit.rlim_max = RLIM_INFINITY;
    return prlimit(pid_t(pid), RLIMIT_FSIZE, &limit, nullptr) == 0;
}

} // namespace

// orvexctl recording while the disk fails under it: a file on a full device,
// then a file system that fills up in the middle of a line. The files of the
// first and the last channel of every cycle are FIFOs read by this test: the
// program waits at the first until the test has arranged the disk for the
// cycle, and has written every other file of the cycle when it reaches the
// last, so each fault begins and ends at the cycle it is meant for, however
// slowly either process runs. Every failure is reported after its cycle, no
// line is half written or written twice, recording resumes by itself, and
// the run ends with the count of readings that were never written.
class TstDiskFaults : public QObject
{
    Q_OBJECT
private slots:
    void recordingThroughDiskFaults()
    {
        QTemporaryDir dir;
        const QString record = dir.filePath(QStringLiteral("record"));
        QVERIFY(QDir().mkpath(record));
        QFile busFile(dir.filePath(QStringLiteral("bus.json")));
        QVERIFY(busFile.open(QIODevice::WriteOnly) && busFile.write(kBus) > 0);
        busFile.close();

        // The file names, in the order the table writes them: the devices
        // in search order ("%TS%%SC%_%SN1W%", the ROM CRC first).
        const QStringList order{"T0_4001000000000028.csv", "T0_7701000000000128.csv", "T0_1901000000000328.csv",
                                "T0_920100000000023B.csv", "T1_920100000000023B.csv"};
        const QString first = QDir(record).filePath(order.first());
        const QString last = QDir(record).filePath(order.last());
        const QString target = QDir(record).filePath(order.at(1)); // the disk-full file
        QVERIFY(::mkfifo(QFile::encodeName(first).constData(), 0600) == 0);
        QVERIFY(::mkfifo(QFile::encodeName(last).constData(), 0600) == 0);

        TestProcess orvexctl(QStringLiteral(ORVEXCTL_BIN), {"XDG_CONFIG_HOME=" + dir.path()}); // no stored settings
        // A file that grows past its limit must fail the write, not stop the
        // program: the child inherits the ignored signal.
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        orvexctl.start({"read", "--bus=sim:" + busFile.fileName(), "--fast", "--start", "2025-01-27T14:03:05", "--cycles",
                        QString::number(kCycles), "--interval", "30", "--record", record, "--template", "%TS%%SC%_%SN1W%"});
        std::signal(SIGXFSZ, previous);
        QCOMPARE(orvexctl.process().state(), QProcess::Running);

        const QString aside = dir.filePath(QStringLiteral("aside.csv"));
        // What happens to the disk before each cycle writes anything.
        const QMap<int, std::function<bool()>> faults = {
            {3, [&] { return QFile::rename(target, aside) && QFile::link(QStringLiteral("/dev/full"), target); }},
            {5, [&] { return QFile::remove(target) && QFile::rename(aside, target); }},
            {6, [&] { // room for a few bytes more in the smallest file
                 qint64 smallest = -1;
                 for (const QFileInfo &file : QDir(record).entryInfoList(QDir::Files)) {
                     if (file.isFile() && file.filePath() != first && file.filePath() != last)
                         smallest = smallest < 0 ? file.size() : qMin(smallest, file.size());
                 }
                 return limitFileSize(orvexctl.process().processId(), smallest + 7);
             }},
            {8, [&] { return limitFileSize(orvexctl.process().processId(), -1); }},
        };
        QStringList firstLines, lastLines;
        for (int cycle = 1; cycle <= kCycles; ++cycle) {
            if (faults.contains(cycle))
                QVERIFY2(faults.value(cycle)(), qPrintable(QStringLiteral("disk fault of cycle %1").arg(cycle)));
            for (const QString &fifo : {first, last}) {
                const int fd = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
                QVERIFY(fd >= 0);
                const QByteArray line = drain(fd, 60000);
                ::close(fd);
                (fifo == first ? firstLines : lastLines) << QString::fromUtf8(line);
            }
        }
        QVERIFY(orvexctl.finish());
        QStringList err = orvexctl.err();
        const QString errText = err.join('\n');
        // The readings the files never got, counted at the end, fail the run:
        // two of the disk-full file, three in each of the cycles 6 and 7.
        QVERIFY2(orvexctl.exitCode() == 7, qPrintable(errText));
        QCOMPARE(err.takeLast(), "orvexctl: --record: " + record + ": не записано показаний: 8");
        QCOMPARE(orvexctl.out().size(), kCycles * 5);
        for (const QStringList &fifoLines : {firstLines, lastLines}) {
            for (const QString &line : fifoLines)
                QVERIFY2(QRegularExpression(QStringLiteral("^2025\\.01\\.27;\\d\\d:\\d\\d:\\d\\d;-?\\d+,\\d\\d\r\n$")).match(line).hasMatch(),
                         qPrintable(line));
        }

        // One error line after every cycle with a failed write, naming the
        // file that failed last and, when several did, how many.
        QMap<int, QString> reported;
        for (const QString &line : err) {
            const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("^orvexctl: цикл (\\d+): (.*)$")).match(line);
            QVERIFY2(m.hasMatch(), qPrintable(line));
            reported.insert(m.captured(1).toInt(), m.captured(2));
        }
        QVERIFY2(reported.keys() == QList<int>({3, 4, 6, 7}), qPrintable(errText));
        const QString one = QStringLiteral("Ошибка записи файла ") + order.at(1);
        QCOMPARE(reported.value(3), one);
        QCOMPARE(reported.value(4), one);
        const QRegularExpression all(QStringLiteral("^Ошибка записи файла T[01]_\\S+\\.csv \\(файлов с ошибкой: 3\\)$"));
        QVERIFY2(all.match(reported.value(6)).hasMatch(), qPrintable(reported.value(6)));
        QVERIFY2(all.match(reported.value(7)).hasMatch(), qPrintable(reported.value(7)));

        // Each regular file: its header once, then one whole line for every
        // cycle it could be written in, and nothing else.
        const QMap<QString, QStringList> files = TableSupport::measurementFiles(record);
        QCOMPARE(files.size(), 3);
        for (int i = 1; i < 4; ++i) {
            // Cycle n begins (n - 1) × 30 s after the start; its reading is taken within it.
            QList<int> cycles;
            for (const QString &line : files.value(QDir(record).filePath(order.at(i)))) {
                QVERIFY2(QRegularExpression(QStringLiteral("^2025\\.01\\.27;\\d\\d:\\d\\d:\\d\\d;-?\\d+,\\d\\d$")).match(line).hasMatch(),
                         qPrintable(order.at(i) + ": " + line));
                cycles << QTime(14, 3, 5).secsTo(QTime::fromString(line.section(';', 1, 1), QStringLiteral("hh:mm:ss"))) / 30 + 1;
            }
            QCOMPARE(cycles, i == 1 ? QList<int>({1, 2, 5, 8}) : QList<int>({1, 2, 3, 4, 5, 8}));
        }
    }
};

QTEST_GUILESS_MAIN(TstDiskFaults)
#include "tst_diskfaults.moc"
