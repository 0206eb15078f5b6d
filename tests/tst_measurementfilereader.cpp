#include "chart/measurementfilereader.h"
#include "base/clock.h"
#include "support/tablesupport.h"
#include "table/recorder.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <limits>
#include <memory>

using namespace TableSupport;

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();
const QDateTime Start(QDate(2025, 1, 27), QTime(14, 3, 5));

void write(const QString &path, const QByteArray &bytes, QIODevice::OpenMode mode = QIODevice::Truncate)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | mode));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

// The readings of a series as "seconds after Start: value", "gap" for a failed one.
QStringList readingsOf(const TrendSeries &series)
{
    QStringList out;
    for (int i = 0; i < series.size(); ++i) {
        const TrendRecord r = series.record(i);
        out << QStringLiteral("%1: %2")
                   .arg((r.firstMs - Start.toMSecsSinceEpoch()) / 1000.0)
                   .arg(r.isGap() ? QStringLiteral("gap") : QString::number(r.min, 'g', 15));
    }
    return out;
}

// The problem reported for `path` when it gives no line (read with the
// default separators), or "a line was read".
QString refusal(const QString &path)
{
    const MeasurementFileReader::Result result = MeasurementFileReader::read(path, "'", "");
    return result.channel ? QStringLiteral("a line was read") : result.problem;
}

} // namespace

// Measurement files read back for a chart: files the recorder wrote, with
// any separators, failed readings, a line still being written, and files
// that are not measurement files or are damaged.
class TstMeasurementFileReader : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir;
    Recorder recorder{QDateTime()};

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    }

    void init()
    {
        Clock::setVirtual(Start);
        recorder = Recorder(Clock::now());
        dir.reset(new QTemporaryDir);
        recorder.setFolder(dir->path());
    }

    void filesTheRecorderWrote_data()
    {
        QTest::addColumn<QString>("firstSplit");
        QTest::addColumn<QString>("lastSplit");
        QTest::addColumn<bool>("i2c");
        QTest::newRow("default separators, thermometer") << "'" << "" << false;
        QTest::newRow("default separators, I2C channel") << "'" << "" << true;
        QTest::newRow("quotes, I2C channel") << "\"" << "\"" << true;
        QTest::newRow("brackets, thermometer") << "[[" << "]]" << false;
        QTest::newRow("hex letters, I2C channel") << "AB" << "F" << true;
        QTest::newRow("none, I2C channel") << "" << "" << true;
    }

    // What the recorder writes comes back: the identity of the channel, its
    // type and unit, every reading at its second with its 2-decimal value,
    // failed readings as gaps (also those written without a time).
    void filesTheRecorderWrote()
    {
        QFETCH(QString, firstSplit);
        QFETCH(QString, lastSplit);
        QFETCH(bool, i2c);
        recorder.setFirstSplit(firstSplit);
        recorder.setLastSplit(lastSplit);
        std::unique_ptr<SensorDevice> device(makeDevice(i2c ? 0x19C3B2A1000000B3ull : 0x28FF641E1D16035Aull));
        device->channels.append(i2c ? channel(45.5, 1, 5, 0x88, 0x1234, 0xABCDEF) : channel(21.5));
        if (i2c) {
            device->channels[0].type = QStringLiteral("SHT3x Датчик влажности");
            device->channels[0].unit = QStringLiteral("%");
        }
        SensorChannel &ch = device->channels[0];
        QCOMPARE(recorder.writeHeader(*device, 0), 1);
        QCOMPARE(recorder.appendReading(*device, 0), 1);
        recorder.setSample0(20);
        recorder.setSample1(40);
        const double values[] = {21.5, -0.5, NaN, 100.126, NaN, 22.0};
        for (int i = 0; i < 6; ++i) {
            Clock::advanceMs(10000);
            ch.value = values[i];
            ch.time = i == 4 ? QDateTime() : Clock::now(); // a reading without a time
            ch.markFilled();
            QCOMPARE(recorder.appendReading(*device, 0), 1);
        }

        const MeasurementFileReader::Result result =
            MeasurementFileReader::read(recorder.fileNameOf(ChannelId::of(*device, 0)), firstSplit, lastSplit);
        QVERIFY2(result.problem.isEmpty(), qPrintable(result.problem));
        QVERIFY(result.channel);
        const TrendChannel wanted = TrendChannel::describe(*device, 0);
        const TrendChannel &got = *result.channel;
        auto described = [](const TrendChannel &c) {
            return QStringList({c.key(), QString::number(c.i2cSerialHigh), QString::number(c.i2cSerialLow), c.type, c.unit});
        };
        QCOMPARE(described(got), described(wanted));
        QCOMPARE(got.filePath, recorder.fileNameOf(ChannelId::of(*device, 0)));
        QVERIFY(result.readings == 7 && result.damagedLines == 0);
        // The one without a time is taken at the time of the one before.
        QCOMPARE(readingsOf(*got.series), QStringList({i2c ? "0: 45.5" : "0: 21.5", "10: 21.5", "20: -0.5", "30: gap",
                                                       "40: 100.13", "40: gap", "60: 22"}));

        // Files from a run with other separators (quotes or apostrophes)
        // are read with today's settings as well.
        if (firstSplit == "'" || firstSplit == "\"") {
            const MeasurementFileReader::Result other = MeasurementFileReader::read(recorder.fileNameOf(ChannelId::of(*device, 0)), "<", ">");
            QVERIFY2(other.problem.isEmpty(), qPrintable(other.problem));
            QCOMPARE(described(*other.channel), described(wanted));
        }
    }

    // A file checked byte for byte against the recorder elsewhere (its
    // thermometer twin is what filesTheRecorderWrote writes itself).
    void recordedExamples()
    {
        const MeasurementFileReader::Result i2c =
            MeasurementFileReader::read(TEST_DATA_DIR "/recorder/i2c_custom.csv", "\"", "\"");
        QVERIFY2(i2c.problem.isEmpty(), qPrintable(i2c.problem));
        QCOMPARE(i2c.channel->name(), QString("1234 ABCDEF к.5 (файл) SHT3x Датчик влажности"));
        QCOMPARE(i2c.channel->i2cAddress, 136);
        QCOMPARE(i2c.channel->subchannel, 1);
        QCOMPARE(i2c.channel->unit, QString("%"));
        // One spacing of a minute cannot show that it is the channel's usual
        // one: the two readings are not joined.
        QCOMPARE(readingsOf(*i2c.channel->series), QStringList({"0: 45.5", "0: gap", "60: -12"}));
    }

    // A file still being written is read to its last whole line; the rest
    // comes at the next reading of the file.
    void lineStillBeingWritten()
    {
        recorder.setFirstSplit("'");
        std::unique_ptr<SensorDevice> device(makeDevice(0x28FF641E1D16035Aull));
        device->channels.append(channel(21.5));
        QCOMPARE(recorder.writeHeader(*device, 0) + recorder.appendReading(*device, 0), 2);
        const QString path = recorder.fileNameOf(ChannelId::of(*device, 0));
        write(path, "2025.01.27;14:03:15;2", QIODevice::Append);
        MeasurementFileReader::Result result = MeasurementFileReader::read(path, "'", "");
        QVERIFY2(result.problem.isEmpty(), qPrintable(result.problem));
        QCOMPARE(result.channel->series->size(), 1);
        write(path, "2,25\r\n", QIODevice::Append);
        result = MeasurementFileReader::read(path, "'", "");
        QCOMPARE(result.channel->series->size(), 2);
        QCOMPARE(result.channel->series->record(1).min, 22.25);

        // A header still being written is not mistaken for a foreign file.
        const QString fresh = dir->path() + "/fresh.csv";
        write(fresh, TableSupport::readFile(path).left(60));
        QVERIFY2(refusal(fresh).contains("«fresh.csv», строка 3: заголовок файла не дописан"), qPrintable(refusal(fresh)));
    }

    // Files that are not measurement files, or are damaged, are named with
    // the line at fault; readable lines of a damaged file are still shown,
    // with a gap where a line was lost.
    // A cancelled read stops inside the data, not after reading all of it.
    void cancelStopsTheRead()
    {
        QByteArray header = TableSupport::readFile(TEST_DATA_DIR "/recorder/ds18b20_default.csv");
        header.truncate(header.indexOf("Deviation\r\n") + 11);
        const QString big = dir->path() + "/big.csv";
        write(big, header + QByteArray("2025.01.27;14:03:05;21,50\r\n").repeated(50000));
        MeasurementFileReader::Progress progress;
        progress.cancel = true;
        const MeasurementFileReader::Result result = MeasurementFileReader::read(big, "'", "", &progress);
        QVERIFY(result.cancelled && !result.channel);
        QVERIFY2(progress.doneBytes < progress.totalBytes / 2, qPrintable(QString::number(progress.doneBytes)));
    }

    void foreignAndDamagedFiles()
    {
        const QString foreign = dir->path() + "/prices.csv";
        write(foreign, "Item;Price\r\nTea;1,20\r\n");
        QVERIFY2(refusal(foreign).startsWith("Файл «prices.csv», строка 1: это не файл измерений"),
                 qPrintable(refusal(foreign)));

        QByteArray header = TableSupport::readFile(TEST_DATA_DIR "/recorder/ds18b20_default.csv");
        header.truncate(header.indexOf("Deviation\r\n") + 11);
        const QString badHeader = dir->path() + "/badheader.csv";
        write(badHeader, QByteArray(header).replace("MultiHub Channel;'-1", "MultiHub Channel;'x"));
        QVERIFY2(refusal(badHeader).startsWith("Файл «badheader.csv», строка 4: заголовок повреждён"),
                 qPrintable(refusal(badHeader)));

        const QString damaged = dir->path() + "/damaged.csv";
        write(damaged, header + "2025.01.27;14:03:05;21,50\r\n2025.01.27;14:03:15;21,60\r\n"
                           "2025.13.45;14:03:25;\x01\x02\r\n2025.01.27;14:03:35;21,80\r\n"
                           "2025.01.27;14:03:45;abc\r\n2025.01.27;14:03:55;21,90\r\n");
        const MeasurementFileReader::Result result = MeasurementFileReader::read(damaged, "'", "");
        QVERIFY(result.channel && result.damagedLines == 2 && result.readings == 4);
        QVERIFY2(result.problem.startsWith("Файл «damaged.csv», строка 13: строка повреждена и пропущена"),
                 qPrintable(result.problem));
        QVERIFY(result.problem.contains("2"));
        QCOMPARE(readingsOf(*result.channel->series),
                 QStringList({"0: 21.5", "10: 21.6", "10: gap", "30: 21.8", "30: gap", "50: 21.9"}));

        // The file's times are local ones (the suite runs this test in
        // Central European time): winter and summer offsets, and an hour the
        // spring change skips, which no reading can have been taken in.
        const QString local = dir->path() + "/local.csv";
        write(local, header + "2025.01.27;14:03:05;1\r\n2025.07.01;12:00:00;2\r\n2026.03.29;01:59:59;3\r\n"
                              "2026.03.29;02:30:00;4\r\n2026.03.29;03:00:00;5\r\n");
        const MeasurementFileReader::Result times = MeasurementFileReader::read(local, "'", "");
        QVERIFY(times.channel && times.damagedLines == 1);
        QStringList epochMs;
        for (int i = 0; i < times.channel->series->size(); ++i) {
            if (!times.channel->series->record(i).isGap())
                epochMs << QString::number(times.channel->series->record(i).firstMs);
        }
        QCOMPARE(epochMs, QStringList({"1737982985000", "1751364000000", "1774745999000", "1774746000000"}));

        const QString empty = dir->path() + "/empty.csv";
        write(empty, "");
        QVERIFY2(refusal(empty).contains("«empty.csv»"), qPrintable(refusal(empty)));
        const QString missing = dir->path() + "/missing.csv";
        QVERIFY2(refusal(missing).startsWith("Файл «missing.csv» не открывается"), qPrintable(refusal(missing)));
    }
};

QTEST_GUILESS_MAIN(TstMeasurementFileReader)
#include "tst_measurementfilereader.moc"
