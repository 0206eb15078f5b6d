#include "base/clock.h"
#include "sensors/ds2423.h"
#include "support/tablesupport.h"
#include "table/recorder.h"
#include "table/tableman.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <memory>

using namespace TableSupport;

namespace {
const double NaN = std::nan("");
const quint64 KeyA = 0x28FF641E1D16035Aull;      // 5A03161D1E64FF28
const quint64 KeyB = 0x2800000000F12812ull;      // 1228F10000000028
const quint64 KeyBridge = 0x19C3B2A1000000B3ull; // B3000000A1B2C319
} // namespace

class TstTableMan : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<Recorder> recorder;
    std::unique_ptr<TableMan> tm;
    const TableMan *table = nullptr; // the table the checks read
    QVector<SensorDevice *> devices;

    SensorDevice *add(quint64 key, const QVector<SensorChannel> &channels)
    {
        devices.append(makeDevice(key));
        devices.last()->channels = channels;
        return devices.last();
    }
    // A column's cell texts from the top, joined by "|".
    QString col(int c) const
    {
        QStringList texts;
        for (int row = 0; row < table->rowCount(); ++row)
            texts << table->cellText(row, c);
        return texts.join('|');
    }
    QString hiddenColumns() const
    {
        QStringList hidden;
        for (int c = 0; c < table->columnCount(); ++c)
            if (!table->isColumnShown(c))
                hidden << QString::number(c);
        return hidden.join(',');
    }
    // A new cycle in which the `read` devices deliver `value` + subchannel.
    void cycle(const QVector<SensorDevice *> &read, double value)
    {
        Clock::advanceMs(10000);
        for (SensorDevice *d : qAsConst(devices))
            for (SensorChannel &ch : d->channels) {
                if (read.contains(d)) {
                    ch.value = value + ch.subchannel;
                    ch.time = Clock::now();
                    ch.markFilled();
                }
            }
    }
    int dataLines(const SensorDevice &d, int index) const { return fileLines(fileOf(d, index)).size() - 10; }
    QString fileOf(const SensorDevice &d, int index) const { return recorder->fileNameOf(ChannelId::of(d, index)); }

private slots:
    void init()
    {
        Clock::setVirtual();
        dir.reset(new QTemporaryDir);
        recorder.reset(new Recorder(Clock::now()));
        recorder->setFolder(dir->path());
        recorder->setNameTemplate(Recorder::ShortDefaultTemplate);
        recorder->setFirstSplit("'");
        tm.reset(new TableMan(recorder.get()));
        table = tm.get();
        tm->setOutputFolder(dir->path());
    }
    void cleanup()
    {
        qDeleteAll(devices);
        devices.clear();
    }

    void rowsAndRecording()
    {
        SensorDevice *a = add(KeyA, {channel(21.237), channel(-3.5, 1)});
        tm->init(&devices);
        QStringList headers;
        for (int c = 0; c < table->columnCount(); ++c)
            headers << table->headerData(c, Qt::Horizontal).toString();
        QCOMPARE(headers.join('|'), QStringLiteral("Серийный номер 1W|Канал\nдатчика|Мультихаб\nНомер\nканала|I2C SN|"
                                                   "I2C ADDR|Тип|Значение|Калибровочное смещение|Ед.изм.|Exist|"
                                                   "Отклон. канал 0|Отклон. канал 1|Имя файла"));
        QCOMPARE(hiddenColumns(), QStringLiteral("2,3,4,7,9,10,11"));
        QCOMPARE(col(0) + col(1) + col(2), QStringLiteral("5A03161D1E64FF28|5A03161D1E64FF280|1-1|-1"));
        QCOMPARE(col(6) + col(7) + col(10) + col(11), QStringLiteral("21.24|-3.50|0.00|0.000.00|0.00"));
        QCOMPARE(col(12), dir->path() + "/T0_5A03161D1E64FF28.csv|" + dir->path() + "/T1_5A03161D1E64FF28.csv");
        QCOMPARE(fileLines(fileOf(*a, 0)).value(10), QStringLiteral("2025.01.27;14:03:05;21,24"));
        tm->update();
        cycle({a}, NaN);
        tm->update();
        tm->update();
        QCOMPARE(dataLines(*a, 0) + dataLines(*a, 1), 4);
        QCOMPARE(fileLines(fileOf(*a, 1)).last(), QStringLiteral("2025.01.27;14:03:15;---"));
        QCOMPARE(col(6) + col(7), QStringLiteral("---|---0.00|0.00"));

        recorder->setFolder(QString());                        // recording off
        TableMan off(recorder.get());
        table = &off;
        off.init(&devices);
        cycle({a}, 7);
        off.update();
        QCOMPARE(hiddenColumns(), QStringLiteral("2,3,4,7,9,10,11,12"));
        QCOMPARE(col(6) + QString::number(dataLines(*a, 0)), QStringLiteral("7.00|8.002"));

        // Greyed once the reading is older than the age set (two intervals), not before.
        off.setStaleAfterMs(20000);
        Clock::advanceMs(15000);
        off.update();
        QVERIFY(!off.isRowStale(0));
        Clock::advanceMs(5001);
        off.update();
        QVERIFY(off.isRowStale(0));
        QVERIFY2(off.valueTip(0).contains("27.01.2025 14:03:25"), qPrintable(off.valueTip(0)));
    }

    void maskAndFilter()
    {
        SensorDevice *a = add(KeyA, {channel(1), channel(1, 1)});
        SensorDevice *b = add(KeyB, {channel(3), channel(3, 1), channel(3, 9)});
        tm->init(&devices);
        QCOMPARE(col(6), QStringLiteral("1.00|1.00|3.00|3.00|3.00"));
        tm->setChannelMask(0x0D);                                        // subchannel 9 has no command: kept
        tm->update();
        QCOMPARE(col(6), QStringLiteral("1.00|3.00|3.00"));
        cycle({a, b}, 10);
        tm->update();
        QCOMPARE(dataLines(*a, 0) * 10 + dataLines(*a, 1), 21);
        tm->setChannelMask(0x0F);
        tm->update();                                                    // back at the bottom, recorded
        QCOMPARE(col(6) + col(10), QStringLiteral("10.00|10.00|19.00|11.00|11.000.00|0.00|0.00|0.00|0.00"));
        QCOMPARE(fileLines(fileOf(*a, 1)).count("DATA;TIME;Value;Sample;Deviation") * 10
                     + dataLines(*a, 1), 12);

        a->channels[0].type = "x28fx";
        a->channels[1].i2cSerialLow = 0x628F;
        tm->setFilter("28f");                                            // ROM, type or I2C serial, any case
        add(0x2800000000F12800ull, {channel(1)});
        tm->update();                                                    // new rows obey it too
        QString shown;
        for (int row = 0; row < table->rowCount(); ++row)
            shown += table->isRowShown(row) ? '+' : '-';
        QCOMPARE(shown, QStringLiteral("+++-++"));
        tm->setFilter("");
        QVERIFY(table->isRowShown(0) && table->isRowShown(2));
    }

    void averageDeviationsAndOptionalColumns()
    {
        QSignalSpy spy(tm.get(), &TableMan::btnCalibrateStatusChange);
        tm->init(&devices);
        QCOMPARE(tm->average(), 0.0);
        SensorDevice *a = add(KeyA, {channel(21.237), channel(30, 1)});
        add(KeyBridge, {channel(23.763, 0, 0, 0x88, 0x1234, 0xABCDEF), channel(100, 2, 1, 0x88, 0, 0x35)});
        tm->setSample0(20.5);
        tm->update();
        tm->update();
        QCOMPARE(tm->average(), 22.5);
        QCOMPARE(hiddenColumns(), QStringLiteral("4,7,9,11"));
        QCOMPARE(col(3) + " " + col(10) + " " + col(11), QStringLiteral("||1234 ABCDEF|35 0.74|.|3.26|0.00 .|0.00|.|0.00"));
        QCOMPARE(spy.takeLast().at(0).toBool(), false);
        tm->setChannelMask(0x02);                                        // hidden channels still count
        tm->update();
        QCOMPARE(tm->average(), 22.5);

        tm->setChannelMask(0xFF);
        a->channels[0].value = NaN;
        tm->setSample1(31);
        SensorChannel emulator = channel(1, 1);
        emulator.isEmulator = true;
        emulator.calibration = 0.3f;
        add(0x3B00000000000001ull, {emulator});
        tm->update();
        QCOMPARE(table->cellText(4, 7), QStringLiteral("0.3"));     // new row: 6 significant digits
        tm->update();
        QVERIFY(std::isnan(tm->average()));
        QCOMPARE(col(10).left(5) + " " + col(11).left(7), QStringLiteral(".|--- -1.00|."));
        QCOMPARE(table->cellText(4, 7) + " " + hiddenColumns(), QStringLiteral("0.30 4,7,9"));
        QCOMPARE(spy.takeLast().at(0).toBool(), true);                  // even with -pt100 off
        tm->setPt100Mode(true);
        tm->setSample0(NO_SAMPLE);
        tm->update();
        QCOMPARE(hiddenColumns(), QStringLiteral("4,9,10"));
        a->channels.remove(0);
        devices[1]->presence = devices[2]->presence = 4;
        tm->update();
        QCOMPARE(tm->average(), 0.0);
        QCOMPARE(hiddenColumns(), QStringLiteral("2,3,4,7,9,10"));
        QCOMPARE(spy.takeLast().at(0).toBool(), false);
    }

    // A count is no temperature: it neither moves the average of channel 0
    // nor deviates from a reference value.
    void countsStayOutOfAverageAndDeviations()
    {
        tm->init(&devices);
        SensorChannel count;
        count.setNative(Ds2423::kTraits, 0, 0, 4294967295.0, "DS2423 Counter A", "N");
        count.value = 1000;
        add(KeyA, {channel(21.0)});
        add(0x1D000000000000AAull, {count});
        tm->setSample0(20.0);
        tm->update(); // the rows appear
        tm->update(); // and are refreshed
        QCOMPARE(tm->average(), 21.0);
        QCOMPARE(col(6) + " " + col(10), QStringLiteral("21.00|1000 1.00|."));
    }

    void requestsReachLiveChannelsOfPresentDevices()
    {
        SensorDevice *a = add(KeyA, {channel(1)});
        SensorDevice *b = add(KeyB, {channel(2), channel(3, 1), channel(4, 3)});
        tm->init(&devices);
        b->channels[1].updated = 4;                                      // not filled for two passes
        a->presence = 8;                                                 // missed by two searches
        tm->setChannelMask(0x01);                                        // hidden channels are asked too
        tm->setSample0(21.0);
        tm->requestCalibration(true);
        tm->requestSubtype(2);
        QString asked;
        for (const SensorChannel &ch : a->channels + b->channels)
            asked += QString("%1%2%3%4 ").arg(ch.calibrateRequest).arg(ch.resetCalibration)
                         .arg(ch.subtypeWriteRequest).arg(ch.calibrationTarget + ch.requestedSubtype);
        QCOMPARE(asked, QStringLiteral("0000 11123 0000 11123 "));
    }
};

QTEST_MAIN(TstTableMan)
#include "tst_tableman.moc"
