#include "app/appstate.h"
#include "platform/clock.h"
#include "support/tablesupport.h"
#include "table/recorder.h"
#include "table/tableman.h"

#include <QDir>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <memory>

using namespace TableSupport;

namespace {

const double NaN = std::nan("");
const quint64 KeyA = 0x28FF641E1D16035Aull;   // 5A03161D1E64FF28
const quint64 KeyB = 0x28F00000000001B1ull;   // B10100000000F028
const quint64 KeyBridge = 0x19C3B2A1000000B3ull;

QString romText(quint64 key)
{
    QString text;
    for (int i = 0; i < 8; ++i)
        text += QString::number((key >> (8 * i)) & 0xFF, 16).toUpper().rightJustified(2, '0');
    return text;
}

} // namespace

class TstTableMan : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<QTableWidget> table;
    std::unique_ptr<TableMan> tm;
    QVector<SensorDevice *> devices;
    Recorder &rec = Recorder::instance();

    SensorDevice *addDevice(quint64 key, QVector<SensorChannel> channels)
    {
        SensorDevice *device = makeDevice(key);
        device->channels = channels;
        devices.append(device);
        return device;
    }

    QString cell(int row, int column) const
    {
        const QTableWidgetItem *item = table->item(row, column);
        return item ? item->text() : QStringLiteral("<none>");
    }

    QStringList column(int col) const
    {
        QStringList texts;
        for (int row = 0; row < table->rowCount(); ++row)
            texts << cell(row, col);
        return texts;
    }

    bool hidden(int col) const { return table->isColumnHidden(col); }

    // The start of a measurement cycle as the sensor object runs it.
    void newCycle()
    {
        Clock::advanceMs(10000);
        for (SensorDevice *device : qAsConst(devices))
            for (SensorChannel &channel : device->channels)
                channel.writtenThisCycle = false;
    }

    static void fill(SensorChannel &channel, double value)
    {
        channel.value = value;
        channel.time = Clock::now();
        channel.updated = 1;
    }

    int dataLineCount(const QString &path) const { return fileLines(path).size() - 10; }

private slots:
    void init()
    {
        Clock::setVirtual();
        AppState::instance().resetForTest();
        rec.resetForTest();
        dir.reset(new QTemporaryDir);
        QVERIFY(dir->isValid());
        rec.setFolder(dir->path());
        rec.setFirstSplit("'");
        rec.setNameTemplate("%TS%%SC%_%SN1W%_%MHCH%_%I2CA%");
        table.reset(new QTableWidget);
        tm.reset(new TableMan(table.get()));
        tm->setOutputFolder(dir->path());
    }

    void cleanup()
    {
        tm.reset();
        qDeleteAll(devices);
        devices.clear();
    }

    void headersAndColumnsAfterInit()
    {
        tm->init(&devices);
        QCOMPARE(table->columnCount(), 13);
        QStringList headers;
        for (int c = 0; c < 13; ++c)
            headers << table->horizontalHeaderItem(c)->text();
        QCOMPARE(headers, QStringList({"Серийный номер 1W", "Канал\nдатчика", "Мультихаб\nНомер\nканала",
                                       "I2C SN", "I2C ADDR", "Тип", "Значение", "Калибровочное смещение",
                                       "Ед.изм.", "Exist", "Отклон. канал 0", "Отклон. канал 1", "Имя файла"}));
        for (int c : {1, 2, 3, 4, 7, 9, 10, 11})
            QVERIFY2(hidden(c), qPrintable(QString::number(c)));
        for (int c : {0, 5, 6, 8, 12})
            QVERIFY2(!hidden(c), qPrintable(QString::number(c)));
        QCOMPARE(table->editTriggers(), QAbstractItemView::NoEditTriggers);
        QCOMPARE(table->contextMenuPolicy(), Qt::CustomContextMenu);
    }

    void newRowsAreRecordedOncePerCycle()
    {
        SensorDevice *a = addDevice(KeyA, {thermometer(21.237, Clock::now(), 0), thermometer(-3.5, Clock::now(), 1)});
        tm->init(&devices);
        QCOMPARE(table->rowCount(), 2);
        QCOMPARE(column(0), QStringList({"5A03161D1E64FF28", "5A03161D1E64FF28"}));
        QCOMPARE(column(1), QStringList({"0", "1"}));
        QCOMPARE(column(2), QStringList({"-1", "-1"}));
        QCOMPARE(column(3), QStringList({"", ""}));
        QCOMPARE(column(6), QStringList({"21.24", "-3.50"}));
        QCOMPARE(column(7), QStringList({"", ""}));
        QCOMPARE(column(10), QStringList({"0.00", "0.00"}));
        QCOMPARE(column(11), QStringList({"0.00", "0.00"}));
        const QString path0 = dir->path() + "/T0_5A03161D1E64FF28.csv";
        const QString path1 = dir->path() + "/T1_5A03161D1E64FF28.csv";
        QCOMPARE(column(12), QStringList({path0, path1}));
        QVERIFY(!hidden(1));
        QVERIFY(hidden(2));

        // More updates in the same cycle add nothing; the next cycle adds one line each.
        tm->update();
        tm->update();
        QCOMPARE(dataLineCount(path0), 1);
        QCOMPARE(fileLines(path0).value(9), QByteArray("DATA;TIME;Value;Sample;Deviation"));
        newCycle();
        fill(a->channels[0], 22);
        fill(a->channels[1], NaN);
        tm->update();
        tm->update();
        QCOMPARE(dataLineCount(path0), 2);
        QCOMPARE(fileLines(path1).last(), QByteArray("2025.01.27;14:03:15;---"));
        QCOMPARE(column(6), QStringList({"22.00", "---"}));
        QCOMPARE(column(7), QStringList({"0.00", "0.00"}));
    }

    void maskHidesRowsAndStopsRecording()
    {
        SensorDevice *a = addDevice(KeyA, {thermometer(1, Clock::now(), 0), thermometer(2, Clock::now(), 1)});
        SensorDevice *b = addDevice(KeyB, {thermometer(3, Clock::now(), 0), thermometer(4, Clock::now(), 1),
                                           thermometer(5, Clock::now(), 9)});
        tm->init(&devices);
        QCOMPARE(column(6), QStringList({"1.00", "2.00", "3.00", "4.00"})); // subchannel 9 never shown
        const QString pathA1 = a->channels[1].fileName;

        tm->setChannelMask(0x0D);
        tm->update();
        QCOMPARE(column(6), QStringList({"1.00", "3.00"}));
        newCycle();
        for (SensorDevice *d : {a, b})
            for (SensorChannel &ch : d->channels)
                fill(ch, ch.value + 10);
        tm->update();
        QCOMPARE(dataLineCount(pathA1), 1);
        QCOMPARE(dataLineCount(a->channels[0].fileName), 2);

        tm->setChannelMask(0x0F);
        tm->update();
        QCOMPARE(column(6), QStringList({"11.00", "13.00", "12.00", "14.00"}));
        QCOMPARE(column(1), QStringList({"0", "0", "1", "1"}));
        QCOMPARE(column(10).mid(2), QStringList({"0.00", "0.00"}));
        QCOMPARE(dataLineCount(pathA1), 2);          // continued, no second header
        QCOMPARE(fileLines(pathA1).count("DATA;TIME;Value;Sample;Deviation"), 1);
    }

    void filterSearchesRomTextOnly()
    {
        SensorChannel typed = thermometer(1, Clock::now());
        typed.type = "x28fx";
        addDevice(0x2800000000F12812ull, {thermometer(1, Clock::now())});   // 1228F10000000028
        addDevice(KeyA, {typed});                                            // no "28F" in the ROM text
        addDevice(0x10000000002F8A01ull, {thermometer(1, Clock::now())});   // 018A2F0000000010
        tm->setFilter("28f");
        tm->init(&devices);
        QCOMPARE(table->rowCount(), 3);
        QVERIFY(!table->isRowHidden(0) && table->isRowHidden(1) && table->isRowHidden(2));
        tm->setFilter("A2f");
        QVERIFY(table->isRowHidden(0) && table->isRowHidden(1) && !table->isRowHidden(2));
        tm->setFilter("");
        QVERIFY(!table->isRowHidden(0) && !table->isRowHidden(1) && !table->isRowHidden(2));
    }

    void averageOfChannelZero()
    {
        tm->init(&devices);
        QCOMPARE(tm->average(), 0.0);
        SensorDevice *a = addDevice(KeyA, {thermometer(21, Clock::now(), 0), thermometer(100, Clock::now(), 1)});
        addDevice(KeyB, {thermometer(100, Clock::now(), 1)});
        addDevice(KeyBridge, {i2cChannel(24, Clock::now(), 0, 0, 0x88, 0, 1)});
        tm->setChannelMask(0x02);   // hidden channels still count
        tm->update();
        QCOMPARE(tm->average(), 22.5);
        a->channels[0].value = NaN;
        tm->update();
        QVERIFY(std::isnan(tm->average()));
        a->channels.remove(0);
        devices.last()->presence = 4;
        tm->update();
        QCOMPARE(tm->average(), 0.0);
    }

    void deviationsFromSamples()
    {
        SensorDevice *a = addDevice(KeyA, {thermometer(21.237, Clock::now(), 0), thermometer(30, Clock::now(), 1)});
        tm->init(&devices);
        tm->setSample0(20.5);
        tm->update();
        QVERIFY(!hidden(10));
        QVERIFY(hidden(11));
        QCOMPARE(column(10), QStringList({"0.74", "."}));
        QCOMPARE(column(11), QStringList({".", "0.00"}));

        tm->setSample1(31);
        a->channels[0].value = NaN;
        tm->update();
        QVERIFY(!hidden(11));
        QCOMPARE(column(10), QStringList({"---", "."}));
        QCOMPARE(column(11), QStringList({".", "-1.00"}));

        tm->setSample0(NO_SAMPLE);
        tm->update();
        QVERIFY(hidden(10));
        QVERIFY(!hidden(11));
        QCOMPARE(column(10), QStringList({"---", "."}));   // kept, only hidden
    }

    void optionalColumnsAndCalibrateSignal()
    {
        QSignalSpy spy(tm.get(), &TableMan::btnCalibrateStatusChange);
        addDevice(KeyA, {thermometer(1, Clock::now())});
        tm->init(&devices);
        QVERIFY(hidden(1) && hidden(2) && hidden(3) && hidden(7));
        QCOMPARE(spy.takeLast().at(0).toBool(), false);

        SensorDevice *bridge = addDevice(KeyBridge, {i2cChannel(1, Clock::now(), 0, 0, 0x88, 0x1234, 0xABCDEF),
                                                     i2cChannel(1, Clock::now(), 0, 1, 0x88, 0, 0x35),
                                                     i2cChannel(1, Clock::now(), 0, 2, 0x88, 0x1234, 0)});
        tm->update();
        QVERIFY(!hidden(2) && !hidden(3) && hidden(1));
        QCOMPARE(column(3), QStringList({"", "1234 ABCDEF", "35", "1234 "}));
        QCOMPARE(column(2), QStringList({"-1", "0", "1", "2"}));

        SensorChannel emulator = thermometer(1, Clock::now());
        emulator.isEmulator = true;
        emulator.calibration = 0.3f;
        addDevice(0x3B00000000000001ull, {emulator});
        tm->update();
        QVERIFY(hidden(7));                                  // -pt100 off
        QCOMPARE(spy.takeLast().at(0).toBool(), true);
        QCOMPARE(cell(4, 7), QStringLiteral("0.3"));
        AppState::instance().setPt100Mode(true);
        tm->update();
        QVERIFY(!hidden(7));
        QCOMPARE(cell(4, 7), QStringLiteral("0.30"));

        devices.last()->presence = 4;
        bridge->presence = 4;
        tm->update();
        QVERIFY(hidden(2) && hidden(3) && hidden(7));
        QCOMPARE(spy.takeLast().at(0).toBool(), false);
        QCOMPARE(table->rowCount(), 1);
    }

    void rowsVanishAndComeBack()
    {
        SensorDevice *a = addDevice(KeyA, {thermometer(1, Clock::now())});
        SensorDevice *b = addDevice(KeyB, {thermometer(2, Clock::now()), thermometer(3, Clock::now(), 1)});
        tm->init(&devices);
        QCOMPARE(column(6), QStringList({"1.00", "2.00", "3.00"}));

        a->presence = 2;                      // missed one search: still shown
        b->channels[1].updated = 4;           // not filled for two passes: dropped
        tm->update();
        QCOMPARE(column(6), QStringList({"1.00", "2.00"}));
        QCOMPARE(b->channels.size(), 1);

        a->presence = 4;
        tm->update();
        QCOMPARE(column(0), QStringList({romText(KeyB)}));

        a->presence = 1;
        newCycle();
        fill(a->channels[0], 5);
        tm->update();
        QCOMPARE(column(6), QStringList({"2.00", "5.00"}));
        QCOMPARE(dataLineCount(a->channels[0].fileName), 2);
    }

    void requestsReachLiveChannelsOfPresentDevices()
    {
        SensorChannel dead = thermometer(1, Clock::now(), 1);
        dead.updated = 4;
        SensorDevice *a = addDevice(KeyA, {thermometer(1, Clock::now(), 0), dead, thermometer(1, Clock::now(), 3)});
        SensorDevice *gone = addDevice(KeyB, {thermometer(1, Clock::now())});
        gone->presence = 8;
        tm->init(nullptr);                    // no list attached yet: nothing to do
        tm->requestCalibration(false);
        tm->init(&devices);
        a->channels.append(dead);             // as left by a driver after the update
        tm->setChannelMask(0x01);             // hidden channels are asked too
        tm->setSample0(21.0);
        tm->requestCalibration(false);
        tm->requestSubtype(2);
        QCOMPARE(a->channels.size(), 3);
        for (int i : {0, 1}) {
            const SensorChannel &ch = a->channels[i];
            QVERIFY(ch.calibrateRequest && !ch.resetCalibration && ch.subtypeWriteRequest);
            QCOMPARE(ch.calibrationTarget, 21.0f);
            QCOMPARE(ch.requestedSubtype, uint8_t(2));
        }
        QVERIFY(!a->channels[2].calibrateRequest && !a->channels[2].subtypeWriteRequest);
        QVERIFY(!gone->channels[0].calibrateRequest && !gone->channels[0].subtypeWriteRequest);
        tm->requestCalibration(true);
        QVERIFY(a->channels[0].resetCalibration);
    }

    void recordingOff()
    {
        rec.setFolder(QString());
        TableMan off(table.get());
        addDevice(KeyA, {thermometer(1, Clock::now())});
        off.init(&devices);
        QCOMPARE(table->rowCount(), 1);
        QVERIFY(hidden(12));
        QCOMPARE(cell(0, 12), QString());
        QVERIFY(QDir(dir->path()).isEmpty());
    }

    // 200 cycles as the sensor object drives them: every channel's file holds
    // its header and one line per reading, in order, through failed reads,
    // NaN values, a device that leaves and comes back and a folder that is
    // away for the first update of some cycles.
    void integrityOver200Cycles()
    {
        rec.setNameTemplate(QString::fromLatin1(Recorder::ShortDefaultTemplate));
        addDevice(KeyA, {thermometer(0, Clock::now())});
        addDevice(KeyBridge, {i2cChannel(0, Clock::now(), 0, 2, 0x88, 0x12, 0x34),
                              i2cChannel(0, Clock::now(), 1, 2, 0x88, 0x12, 0x34)});
        addDevice(KeyB, {thermometer(0, Clock::now())});
        const quint64 keyD = 0x10000000002F8A01ull;
        addDevice(keyD, {thermometer(0, Clock::now())});
        tm->init(&devices);

        // Expected data lines per file, in order (the first reading of each is already in).
        QMap<QString, QStringList> expectedLines;
        auto expect = [&](const SensorChannel &ch) {
            const QString value = std::isnan(ch.value) ? QStringLiteral("---") : Recorder::formatNumber(ch.value);
            expectedLines[ch.fileName] << ch.time.toString("yyyy.MM.dd;hh:mm:ss;") + value;
        };
        for (SensorDevice *d : qAsConst(devices))
            for (const SensorChannel &ch : d->channels)
                expect(ch);

        const QString away = dir->path() + "_away";
        for (int cycle = 1; cycle <= 200; ++cycle) {
            // Search pass: age, mark found devices, purge.
            const bool dFound = cycle < 100 || cycle > 102;
            for (SensorDevice *d : qAsConst(devices)) {
                d->presence = uint8_t(d->presence << 1);
                for (SensorChannel &ch : d->channels)
                    ch.updated = uint8_t(ch.updated << 1);
                if (d->key != keyD || dFound)
                    d->presence |= 1;
            }
            for (int i = devices.size() - 1; i >= 0; --i) {
                if (!devices[i]->isPresent())
                    delete devices.takeAt(i);
            }
            if (cycle == 103)
                addDevice(keyD, {});

            newCycle();
            for (SensorDevice *d : qAsConst(devices)) {
                if (d->key == keyD && !dFound)
                    continue;                               // read fails: channels left as they were
                if (d->key == KeyB && cycle % 7 == 0)
                    continue;
                if (d->channels.isEmpty())
                    d->channels.append(thermometer(0, Clock::now()));
                for (SensorChannel &ch : d->channels) {
                    const bool nan = d->key == KeyBridge && ch.subchannel == 1 && cycle % 5 == 0;
                    fill(ch, nan ? NaN : cycle + ch.subchannel * 0.5);
                }
            }

            const bool folderAway = cycle % 50 == 25;
            if (folderAway)
                QVERIFY(QDir().rename(dir->path(), away));
            tm->update();
            if (folderAway) {
                QVERIFY(!rec.problemText().isEmpty());
                QVERIFY(QDir().rename(away, dir->path()));
            }
            tm->update();
            if (cycle % 3 == 0)
                tm->update();
            QCOMPARE(rec.problemText(), QString());

            for (SensorDevice *d : qAsConst(devices))
                for (const SensorChannel &ch : d->channels)
                    if (ch.updated == 1)
                        expect(ch);
        }

        QCOMPARE(column(0).last(), romText(keyD));          // came back at the bottom
        QCOMPARE(expectedLines.size(), 5);
        for (auto it = expectedLines.constBegin(); it != expectedLines.constEnd(); ++it) {
            const QList<QByteArray> lines = fileLines(it.key());
            QCOMPARE(lines.value(0), "\"Sensor 1WireAddr\";'" + QFileInfo(it.key()).fileName().mid(3, 16).toLatin1());
            QCOMPARE(lines.value(9), QByteArray("DATA;TIME;Value;Sample;Deviation"));
            QStringList data;
            for (const QByteArray &line : lines.mid(10))
                data << QString::fromUtf8(line);
            QCOMPARE(data, it.value());
        }
        QCOMPARE(expectedLines[devices[0]->channels[0].fileName].size(), 201);
        QCOMPARE(expectedLines[devices[2]->channels[0].fileName].size(), 201 - 200 / 7);
        QCOMPARE(readFile(devices[0]->channels[0].fileName).count("\r\n"), 211);
    }
};

QTEST_MAIN(TstTableMan)
#include "tst_tableman.moc"
