#include "app/appstate.h"
#include "platform/clock.h"
#include "support/tablesupport.h"
#include "table/recorder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <memory>

using namespace TableSupport;

namespace {

const quint64 ThermometerKey = 0x28FF641E1D16035Aull; // ROM text 5A03161D1E64FF28
const double NaN = std::nan("");

const QByteArray Header1W =
    "\"Sensor 1WireAddr\";'5A03161D1E64FF28\r\n\"I2C address\";'0\r\nI2C Serial;\r\n"
    "MultiHub Channel;'-1\r\nSubchannel sensor;'0\r\nSensor type;DS18B20 Temperature sensor\r\n"
    "Sensor mark;T\r\nSensor Unit;C\r\n ; ;\r\nDATA;TIME;Value;Sample;Deviation\r\n";

QDateTime at(int h, int m, int s)
{
    return QDateTime(QDate(2025, 1, 27), QTime(h, m, s));
}

QByteArray expected(const QString &name)
{
    return readFile(QStringLiteral(TEST_DATA_DIR "/recorder/") + name);
}

} // namespace

class TstRecorder : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    Recorder &rec = Recorder::instance();

    // One reading as the cycle hands it over: a fresh value and time.
    int record(SensorDevice &device, double value, const QDateTime &time, int index = 0)
    {
        device.channels[index].value = value;
        device.channels[index].time = time;
        device.channels[index].writtenThisCycle = false;
        return rec.appendReading(device, index);
    }

private slots:
    void init()
    {
        Clock::setVirtual();
        AppState::instance().resetForTest();
        rec.resetForTest();
        dir.reset(new QTemporaryDir);
        QVERIFY(dir->isValid());
        rec.setFolder(dir->path());
        rec.setFirstSplit(QStringLiteral("'"));
        rec.setNameTemplate(QString::fromLatin1(Recorder::OneWireTemplate));
    }

    void thermometerFileMatchesByteForByte()
    {
        std::unique_ptr<SensorDevice> dev(makeDevice(ThermometerKey));
        dev->channels.append(thermometer(21.5, at(14, 3, 5)));
        QCOMPARE(rec.writeHeader(*dev, 0), 1);
        QCOMPARE(rec.appendReading(*dev, 0), 1);
        rec.setSample0(20);
        QCOMPARE(record(*dev, 21.5, at(14, 3, 15)), 1);
        QCOMPARE(record(*dev, -0.5, at(14, 3, 25)), 1);
        QCOMPARE(record(*dev, NaN, at(14, 3, 35)), 1);
        rec.setSample0(NO_SAMPLE);
        rec.setSample1(30); // no effect on subchannel 0
        QCOMPARE(record(*dev, 100.126, at(14, 3, 45)), 1);

        const QString path = dir->path() + "/T0_5A03161D1E64FF28.csv";
        QCOMPARE(dev->channels[0].fileName, path);
        QCOMPARE(readFile(path), expected("ds18b20_default.csv"));
    }

    void i2cFileWithCustomSeparatorsMatches()
    {
        rec.setFirstSplit("\"");
        rec.setLastSplit("\"");
        rec.setNameTemplate(QString::fromLatin1(Recorder::ShortDefaultTemplate));
        std::unique_ptr<SensorDevice> dev(makeDevice(0x19C3B2A1000000B3ull));
        SensorChannel ch = i2cChannel(45.5, at(14, 3, 5), 1, 5, 0x88, 0x1234, 0xABCDEF);
        ch.type = QStringLiteral("SHT3x Датчик влажности");
        ch.mark = "H";
        ch.unit = "%";
        dev->channels.append(ch);
        rec.setSample1(40.25);
        QCOMPARE(rec.writeHeader(*dev, 0), 1);
        QCOMPARE(rec.appendReading(*dev, 0), 1);
        rec.setSample1(NO_SAMPLE);
        rec.setSample0(10); // subchannel 1 ignores sample 0
        QCOMPARE(record(*dev, -12, at(14, 4, 5)), 1);

        const QString path = rec.filePathFor(*dev, 0);
        QCOMPARE(QFileInfo(path).fileName(),
                 QStringLiteral("H1_B3000000A1B2C3190000000000001234-_0000000000ABCDEF_136_5.csv"));
        const QByteArray content = readFile(path);
        QVERIFY(!content.startsWith("\xEF\xBB\xBF"));
        QCOMPARE(content, expected("i2c_custom.csv"));
    }

    void serialHeaderLineForms()
    {
        rec.setNameTemplate("%TS%%SC%_%I2CSNH%_%I2CSNL%");
        rec.setLastSplit("x");
        std::unique_ptr<SensorDevice> dev(makeDevice(ThermometerKey));
        dev->channels.append(i2cChannel(1, at(14, 3, 5), 0, 0, 0x88, 0, 0x35));
        dev->channels.append(i2cChannel(1, at(14, 3, 5), 1, 0, 0x88, 0x1234, 0));
        dev->channels.append(i2cChannel(1, at(14, 3, 5), 2, 0, 0x88, 0, 0));
        for (int i = 0; i < 3; ++i)
            QCOMPARE(rec.writeHeader(*dev, i), 1);
        QCOMPARE(fileLines(rec.filePathFor(*dev, 0)).value(2), QByteArray("I2C Serial;'0000000000000035x"));
        QCOMPARE(fileLines(rec.filePathFor(*dev, 1)).value(2), QByteArray("I2C Serial;'0000000000001234-"));
        QCOMPARE(fileLines(rec.filePathFor(*dev, 2)).value(2), QByteArray("I2C Serial;"));
        QCOMPARE(fileLines(rec.filePathFor(*dev, 0)).value(0), QByteArray("\"Sensor 1WireAddr\";'5A03161D1E64FF28x"));
        QCOMPARE(fileLines(rec.filePathFor(*dev, 0)).value(1), QByteArray("\"I2C address\";'136x"));
    }

    void templateExamples()
    {
        QCOMPARE(AppState::instance().startTime(), at(14, 3, 5));
        std::unique_ptr<SensorDevice> dev(makeDevice(ThermometerKey));
        dev->channels.append(thermometer(21.5, at(14, 3, 5)));
        const QString full = QString::fromLatin1(Recorder::DefaultTemplate);
        QCOMPARE(Recorder::expandTemplate(full, *dev, 0), QStringLiteral("2025.01.27-14.03.05_T0_5A03161D1E64FF28"));
        QCOMPARE(Recorder::expandTemplate(Recorder::OneWireTemplate, *dev, 0), QStringLiteral("T0_5A03161D1E64FF28"));
        QCOMPARE(Recorder::expandTemplate(Recorder::I2cTemplate, *dev, 0), QStringLiteral("T0"));
        QCOMPARE(Recorder::expandTemplate(Recorder::ShortDefaultTemplate, *dev, 0), QStringLiteral("T0_5A03161D1E64FF28"));

        std::unique_ptr<SensorDevice> example(makeDevice(0x2C000003A8551994ull));
        example->channels.append(i2cChannel(0, at(14, 3, 5), 1, 3, 0xEE, 0, 0x35));
        QCOMPARE(Recorder::expandTemplate(full, *example, 0),
                 QStringLiteral("2025.01.27-14.03.05_T1_941955A80300002C0000000000000035_238_3"));
        QCOMPARE(Recorder::expandTemplate(Recorder::I2cTemplate, *example, 0), QStringLiteral("T1_0000000000000035_3"));
        rec.resetForTest();
        QCOMPARE(rec.nameTemplate(), full);

        // Out of range: no name, no path.
        QCOMPARE(Recorder::expandTemplate(full, *dev, 1), QString());
        QCOMPARE(rec.filePathFor(*dev, -1), QString());
        QCOMPARE(rec.appendReading(*dev, 5), -1);
    }

    void templateFiltersAndUnderscores()
    {
        std::unique_ptr<SensorDevice> dev(makeDevice(ThermometerKey));
        dev->channels.append(thermometer(1, at(14, 3, 5)));
        SensorChannel &ch = dev->channels[0];
        auto expand = [&](const QString &t) { return Recorder::expandTemplate(t, *dev, 0); };

        QCOMPARE(expand("a b:c/d\\e,f"), QStringLiteral("a_b_c_d_e_f"));
        QCOMPARE(expand("x%ts%y"), QStringLiteral("x_ts_y"));      // lower case is no token
        QCOMPARE(expand("№%TS%"), QStringLiteral("NT"));
        QCOMPARE(expand("Ёлка_ёж-é(1)!"), QStringLiteral("Ёлка_ёж-_(1)!"));
        QCOMPARE(expand("a__b___c____d"), QStringLiteral("ab_cd"));
        QCOMPARE(expand("_a_%MHCH%_%I2CSNH%_"), QStringLiteral("_a"));
        QCOMPARE(expand("%I2CA%"), QString());                      // "_" for no address, then trimmed
        QCOMPARE(expand("A%I2CA%B"), QStringLiteral("A_B"));
        ch.i2cAddress = 0x80;
        QCOMPARE(expand("%I2CA%"), QStringLiteral("128"));
        ch.mark = QStringLiteral("№%SC%");                          // brought-in tokens still expand
        ch.subchannel = 2;
        QCOMPARE(expand("%TS%"), QStringLiteral("N2"));
        QCOMPARE(expand(QStringLiteral("a\U0001F600b")), QStringLiteral("a_b"));

        rec.setNameTemplate("__");
        QCOMPARE(rec.filePathFor(*dev, 0), dir->path() + "/.csv");

        QString name = "a!b%c d";
        QVERIFY(Recorder::sanitizeFileName(name));
        QCOMPARE(name, QStringLiteral("a!b_c_d"));
        QString templ = "a!b%c d№";
        QVERIFY(Recorder::sanitizeTemplate(templ));
        QCOMPARE(templ, QStringLiteral("a_b%c_dN"));
        QString clean = "%TS%_Тест.(1)";
        QVERIFY(!Recorder::sanitizeTemplate(clean));
        QCOMPARE(clean, QStringLiteral("%TS%_Тест.(1)"));
    }

    void existingFileIsContinued()
    {
        std::unique_ptr<SensorDevice> dev(makeDevice(ThermometerKey));
        dev->channels.append(thermometer(21.5, at(14, 3, 5)));
        const QString path = rec.filePathFor(*dev, 0);
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("earlier run\r\n");
        old.close();
        QCOMPARE(rec.writeHeader(*dev, 0), 1);
        QCOMPARE(rec.appendReading(*dev, 0), 1);
        QCOMPARE(readFile(path), QByteArray("earlier run\r\n2025.01.27;14:03:05;21,50\r\n"));
    }

    void oneLinePerReading()
    {
        std::unique_ptr<SensorDevice> dev(makeDevice(ThermometerKey));
        dev->channels.append(thermometer(21.5, at(14, 3, 5)));
        const QString path = rec.filePathFor(*dev, 0);
        QCOMPARE(rec.writeHeader(*dev, 0), 1);
        QCOMPARE(rec.appendReading(*dev, 0), 1);
        QVERIFY(dev->channels[0].writtenThisCycle);
        QCOMPARE(rec.appendReading(*dev, 0), 2);               // same cycle
        dev->channels[0].writtenThisCycle = false;
        QCOMPARE(rec.appendReading(*dev, 0), 2);               // next cycle, read failed: same reading
        QVERIFY(dev->channels[0].writtenThisCycle);
        QCOMPARE(fileLines(path).size(), 11);

        // A new template takes effect at once; the stored file name stays.
        rec.setNameTemplate("other_%SN1W%");
        QCOMPARE(record(*dev, 22, at(14, 3, 15)), 1);
        QCOMPARE(dev->channels[0].fileName, path);
        QCOMPARE(readFile(dir->path() + "/other_5A03161D1E64FF28.csv"), QByteArray("2025.01.27;14:03:15;22,00\r\n"));
        QCOMPARE(fileLines(path).size(), 11);
    }

    void deletedFileIsRecreatedWithoutHeader()
    {
        std::unique_ptr<SensorDevice> dev(makeDevice(ThermometerKey));
        dev->channels.append(thermometer(21.5, at(14, 3, 5)));
        const QString path = rec.filePathFor(*dev, 0);
        QCOMPARE(rec.writeHeader(*dev, 0), 1);
        QCOMPARE(rec.appendReading(*dev, 0), 1);
        QVERIFY(QFile::remove(path));
        QCOMPARE(record(*dev, 21.75, at(14, 3, 15)), 1);
        QCOMPARE(readFile(path), QByteArray("2025.01.27;14:03:15;21,75\r\n"));
    }

    void invalidTimeWritesEmptyFields()
    {
        std::unique_ptr<SensorDevice> dev(makeDevice(ThermometerKey));
        dev->channels.append(thermometer(21.5, QDateTime()));
        QCOMPARE(rec.appendReading(*dev, 0), 1);
        QCOMPARE(readFile(rec.filePathFor(*dev, 0)), QByteArray(";;21,50\r\n"));
    }

    void missingFolderIsRetriedAndHeaderKept()
    {
        const QString folder = dir->path() + "/later";
        rec.setFolder(folder);
        std::unique_ptr<SensorDevice> dev(makeDevice(ThermometerKey));
        dev->channels.append(thermometer(21.5, at(14, 3, 5)));
        QCOMPARE(rec.writeHeader(*dev, 0), -1);
        QCOMPARE(rec.appendReading(*dev, 0), -1);
        QCOMPARE(rec.appendReading(*dev, 0), -1);
        QVERIFY(!dev->channels[0].writtenThisCycle);
        QVERIFY(rec.problemText().contains("T0_5A03161D1E64FF28.csv"));

        QVERIFY(QDir().mkpath(folder));
        QCOMPARE(rec.appendReading(*dev, 0), 1);
        QCOMPARE(rec.appendReading(*dev, 0), 2);
        QCOMPARE(readFile(rec.filePathFor(*dev, 0)), Header1W + "2025.01.27;14:03:05;21,50\r\n");
        QCOMPARE(rec.problemText(), QString());

        // A folder path that is a plain file cannot hold files either.
        rec.setFolder(rec.filePathFor(*dev, 0));
        QCOMPARE(record(*dev, 1, at(14, 3, 15)), -1);
        QVERIFY(!rec.problemText().isEmpty());
    }

    void shortWriteLeavesNoPartialLine()
    {
        std::unique_ptr<SensorDevice> dev(makeDevice(ThermometerKey));
        dev->channels.append(thermometer(21.5, at(14, 3, 5)));
        const QString path = rec.filePathFor(*dev, 0);
        QCOMPARE(rec.writeHeader(*dev, 0), 1);
        QCOMPARE(rec.appendReading(*dev, 0), 1);
        const QByteArray before = readFile(path);

        rec.setWriteStepForTest([](QFile &file, const QByteArray &bytes) {
            return file.write(bytes.left(bytes.size() / 2));
        });
        QCOMPARE(record(*dev, 22.5, at(14, 3, 15)), -1);
        QVERIFY(!dev->channels[0].writtenThisCycle);
        QCOMPARE(readFile(path), before);
        QVERIFY(!rec.problemText().isEmpty());

        rec.setWriteStepForTest(nullptr);
        QCOMPARE(rec.appendReading(*dev, 0), 1);
        QCOMPARE(readFile(path), before + "2025.01.27;14:03:15;22,50\r\n");
        QCOMPARE(rec.problemText(), QString());
    }

    void failedHeaderIsWrittenByNextReading()
    {
        std::unique_ptr<SensorDevice> dev(makeDevice(ThermometerKey));
        dev->channels.append(thermometer(21.5, at(14, 3, 5)));
        const QString path = rec.filePathFor(*dev, 0);
        rec.setWriteStepForTest([](QFile &file, const QByteArray &bytes) {
            file.write(bytes.left(7));
            return qint64(-1);
        });
        QCOMPARE(rec.writeHeader(*dev, 0), -1);
        QVERIFY(!QFile::exists(path));
        QCOMPARE(rec.appendReading(*dev, 0), -1);
        QVERIFY(!QFile::exists(path));
        rec.setWriteStepForTest(nullptr);
        QCOMPARE(rec.appendReading(*dev, 0), 1);
        QCOMPARE(readFile(path), Header1W + "2025.01.27;14:03:05;21,50\r\n");
    }

    void fullDiskIsAFailure()
    {
        if (!QFileInfo::exists("/dev/full"))
            QSKIP("no /dev/full here");
        std::unique_ptr<SensorDevice> dev(makeDevice(ThermometerKey));
        dev->channels.append(thermometer(21.5, at(14, 3, 5)));
        QVERIFY(QFile::link("/dev/full", rec.filePathFor(*dev, 0)));
        QCOMPARE(rec.writeHeader(*dev, 0), 1); // exists: left alone
        QCOMPARE(rec.appendReading(*dev, 0), -1);
        QVERIFY(!dev->channels[0].writtenThisCycle);
        QVERIFY(!rec.problemText().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TstRecorder)
#include "tst_recorder.moc"
