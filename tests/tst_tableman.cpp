#include "base/appstate.h"
#include "onewire/romid.h"
#include "base/clock.h"
#include "support/tablesupport.h"
#include "table/recorder.h"
#include "table/tableman.h"

#include <QDir>
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

// The first row whose cells read this channel's identity: the scan of the
// cells that the table's row index replaced, kept as the reference.
int scanForRow(const TableMan &table, const QString &rom, int subchannel, int hub, int address)
{
    const QStringList wanted{rom, QString::number(subchannel), QString::number(hub), QString::number(address)};
    for (int row = 0; row < table.rowCount(); ++row) {
        QStringList texts;
        for (int column : {TableMan::ColRom, TableMan::ColSubchannel, TableMan::ColHubChannel, TableMan::ColI2cAddress})
            texts << table.cellText(row, column);
        if (texts == wanted)
            return row;
    }
    return -1;
}

// Whether every row, and every channel of the devices, is found through the
// index where the scan finds it, and an identity with no row is not found.
bool foundAsScanned(const TableMan &tm, const QVector<SensorDevice *> &devices)
{
    bool same = tm.findRow(QStringLiteral("0000000000000000"), 0, -1, 0) == -1;
    for (int row = 0; row < tm.rowCount(); ++row) {
        const QString rom = tm.cellText(row, TableMan::ColRom);
        const int sub = tm.cellText(row, TableMan::ColSubchannel).toInt();
        const int hub = tm.cellText(row, TableMan::ColHubChannel).toInt();
        const int address = tm.cellText(row, TableMan::ColI2cAddress).toInt();
        same &= tm.findRow(rom, uint8_t(sub), hub, uint8_t(address)) == scanForRow(tm, rom, sub, hub, address);
    }
    for (const SensorDevice *device : devices) {
        const QString rom = romToText(device->rom, false);
        for (const SensorChannel &c : device->channels)
            same &= tm.findRow(rom, c.subchannel, c.hubChannel, c.i2cAddress)
                    == scanForRow(tm, rom, c.subchannel, c.hubChannel, c.i2cAddress);
    }
    return same;
}

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
                ch.writtenThisCycle = false;
                if (read.contains(d)) {
                    ch.value = value + ch.subchannel;
                    ch.time = Clock::now();
                    ch.markFilled();
                }
            }
    }
    int dataLines(const SensorChannel &ch) const { return fileLines(ch.fileName).size() - 10; }

private slots:
    void init()
    {
        Clock::setVirtual();
        AppState::instance().resetForTest();
        dir.reset(new QTemporaryDir);
        recorder.reset(new Recorder);
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
        QCOMPARE(fileLines(a->channels[0].fileName).value(10), QStringLiteral("2025.01.27;14:03:05;21,24"));
        tm->update();
        cycle({a}, NaN);
        tm->update();
        tm->update();
        QCOMPARE(dataLines(a->channels[0]) + dataLines(a->channels[1]), 4);
        QCOMPARE(fileLines(a->channels[1].fileName).last(), QStringLiteral("2025.01.27;14:03:15;---"));
        QCOMPARE(col(6) + col(7), QStringLiteral("---|---0.00|0.00"));

        recorder->setFolder(QString());                        // recording off
        TableMan off(recorder.get());
        table = &off;
        off.init(&devices);
        cycle({a}, 7);
        off.update();
        QCOMPARE(hiddenColumns(), QStringLiteral("2,3,4,7,9,10,11,12"));
        QCOMPARE(col(6) + QString::number(dataLines(a->channels[0])), QStringLiteral("7.00|8.002"));
    }

    void maskAndFilter()
    {
        SensorDevice *a = add(KeyA, {channel(1), channel(1, 1)});
        SensorDevice *b = add(KeyB, {channel(3), channel(3, 1), channel(3, 9)});
        tm->init(&devices);
        QCOMPARE(col(6), QStringLiteral("1.00|1.00|3.00|3.00"));          // subchannel 9 never shown
        tm->setChannelMask(0x0D);
        tm->update();
        QCOMPARE(col(6), QStringLiteral("1.00|3.00"));
        cycle({a, b}, 10);
        tm->update();
        QCOMPARE(dataLines(a->channels[0]) * 10 + dataLines(a->channels[1]), 21);
        tm->setChannelMask(0x0F);
        tm->update();                                                    // back at the bottom, recorded
        QCOMPARE(col(6) + col(10), QStringLiteral("10.00|10.00|11.00|11.000.00|0.00|0.00|0.00"));
        QCOMPARE(fileLines(a->channels[1].fileName).count("DATA;TIME;Value;Sample;Deviation") * 10
                     + dataLines(a->channels[1]), 12);

        a->channels[0].type = "x28fx";
        tm->setFilter("28f");                                            // ROM text only, any case
        add(0x2800000000F12800ull, {channel(1)});
        tm->update();                                                    // new rows obey it too
        QString shown;
        for (int row = 0; row < table->rowCount(); ++row)
            shown += table->isRowShown(row) ? '+' : '-';
        QCOMPARE(shown, QStringLiteral("-+-++"));
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
        AppState::instance().setPt100Mode(true);
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

    // The table finds a channel's row through an index instead of scanning
    // the cells. Whatever happens to the rows (devices vanishing and coming
    // back, channels dropped or added, mask and filter changing, forty cycles
    // of random changes) the row found must be the one the scan finds.
    void rowIndexAgreesWithTheScan()
    {
        TableMan tm(nullptr);
        // Thermometers, Pt100-like two-channel chips and bridges whose
        // channels sit on hub channels; one bridge holds two sensors of one
        // identity (a sensor swapped for one with another serial), which
        // share a row.
        for (int i = 0; i < 24; ++i)
            add(0x2800000000000000ull | quint64(i + 1) << 8 | quint64(i * 37 % 256), {channel(20.0 + i)});
        for (int i = 0; i < 6; ++i)
            add(0x3B00000000000000ull | quint64(i + 1) << 16, {channel(300.0 + i, 0), channel(24.0, 1)});
        for (int i = 0; i < 4; ++i) {
            SensorDevice *d = add(0x1900000000000000ull | quint64(i + 1) << 24, {});
            for (int hub = 0; hub < 8; ++hub) {
                d->channels << channel(21.0, 0, hub, 0x88, 0, 0x100 + hub) << channel(45.0, 1, hub, 0x88, 0, 0x100 + hub);
                if (hub % 3 == 0)
                    d->channels << channel(101.3, 0, hub, 0xEE, 0, 0x58) << channel(22.0, 1, hub, 0xEE, 0, 0x58);
            }
        }
        devices.last()->channels << channel(21.5, 0, 2, 0x88, 0, 0x999) << channel(44.0, 1, 2, 0x88, 0, 0x999);
        tm.init(&devices);

        quint32 random = 12345;
        auto below = [&](int n) {
            random = random * 1103515245u + 12345u;
            return int((random >> 16) % quint32(n));
        };
        for (int step = 0; step < 40; ++step) {
            SensorDevice *unread = nullptr;
            switch (below(6)) {
            case 0: // a device vanishes from the search for good (until it is found again)
                devices.at(below(devices.size()))->presence = 0;
                break;
            case 1: // a vanished device is found again: its rows come back at the bottom
                for (SensorDevice *d : qAsConst(devices))
                    d->presence = (d->presence & 3) == 0 ? 1 : d->presence;
                break;
            case 2:
                unread = devices.at(below(devices.size()));
                break;
            case 3:
                tm.setChannelMask(uint8_t(below(16)));
                break;
            case 4:
                tm.setChannelMask(0xFF);
                tm.setFilter(below(2) ? QStringLiteral("28") : QString());
                break;
            default: // a new channel on a bridge
                devices.last()->channels << channel(1.0, 0, 20 + step, 0x80, 0, 0x777 + step);
                break;
            }
            for (SensorDevice *d : qAsConst(devices)) { // the next cycle's search and reads
                d->presence = uint8_t(d->presence << 1) | (d->presence & 1);
                for (SensorChannel &ch : d->channels) {
                    ch.updated = uint8_t(ch.updated << 1);
                    if (d != unread)
                        ch.markFilled();
                }
            }
            tm.update();
            QVERIFY2(foundAsScanned(tm, devices), qPrintable(QString("step %1").arg(step)));
        }
        QVERIFY(tm.rowCount() > 50);
    }
};

QTEST_MAIN(TstTableMan)
#include "tst_tableman.moc"
