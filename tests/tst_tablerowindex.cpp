#include "app/appstate.h"
#include "onewire/romid.h"
#include "platform/clock.h"
#include "support/tablesupport.h"
#include "table/recorder.h"
#include "table/tableman.h"

#include <QTableWidget>
#include <QtTest>
#include <memory>

using namespace TableSupport;

// The table finds a channel's row through an index instead of scanning the
// cells. Whatever happens to the rows — devices vanishing and coming back,
// channels dropped, the mask and the filter changing, rows removed or cells
// changed behind the table manager's back — the row found must be the one
// the scan of the cells finds, kept here as the reference.
namespace {

// The first row whose cells read these texts, as the table used to find it.
int scanForRow(const QTableWidget &table, const QString &rom, int subchannel, int hub, int address)
{
    auto text = [&](int row, int column) {
        const QTableWidgetItem *item = table.item(row, column);
        return item ? item->text() : QString();
    };
    for (int row = 0; row < table.rowCount(); ++row) {
        if (text(row, TableMan::ColRom) == rom && text(row, TableMan::ColHubChannel) == QString::number(hub)
            && text(row, TableMan::ColI2cAddress) == QString::number(address)
            && text(row, TableMan::ColSubchannel) == QString::number(subchannel))
            return row;
    }
    return -1;
}

// A small deterministic random source.
struct Random
{
    quint32 state = 12345;
    int below(int n)
    {
        state = state * 1103515245u + 12345u;
        return int((state >> 16) % quint32(n));
    }
};

} // namespace

class TstTableRowIndex : public QObject
{
    Q_OBJECT

    QTableWidget table;
    std::unique_ptr<TableMan> tm;
    QVector<SensorDevice *> devices;

    // Every row, and every channel of a present device, is found where the
    // scan finds it; an identity with no row is not found.
    void checkAgainstScan(const char *step)
    {
        for (int row = 0; row < table.rowCount(); ++row) {
            const QString rom = table.item(row, TableMan::ColRom)->text();
            const int sub = table.item(row, TableMan::ColSubchannel)->text().toInt();
            const int hub = table.item(row, TableMan::ColHubChannel)->text().toInt();
            const int address = table.item(row, TableMan::ColI2cAddress)->text().toInt();
            QVERIFY2(tm->findRow(rom, uint8_t(sub), hub, uint8_t(address))
                         == scanForRow(table, rom, sub, hub, address),
                     step);
        }
        for (const SensorDevice *device : qAsConst(devices)) {
            const QString rom = romToText(device->rom, false);
            for (const SensorChannel &c : device->channels)
                QVERIFY2(tm->findRow(rom, c.subchannel, c.hubChannel, c.i2cAddress)
                             == scanForRow(table, rom, c.subchannel, c.hubChannel, c.i2cAddress),
                         step);
        }
        QCOMPARE(tm->findRow(QStringLiteral("0000000000000000"), 0, -1, 0), -1);
    }

    // A new cycle: every present device delivers its channels again, except
    // those the step leaves unread.
    void refill(const QVector<SensorDevice *> &unread)
    {
        for (SensorDevice *d : qAsConst(devices)) {
            d->presence = uint8_t(d->presence << 1) | (d->presence & 1);
            for (SensorChannel &ch : d->channels) {
                ch.updated = uint8_t(ch.updated << 1);
                if (!unread.contains(d))
                    ch.markFilled();
            }
        }
    }

private slots:
    void initTestCase()
    {
        Clock::setVirtual();
        AppState::instance().resetForTest();
        Recorder::instance().resetForTest(); // recording off: only the table is at stake
        tm = std::make_unique<TableMan>(&table);
        // Thermometers, Pt100-like two-channel chips and bridges whose
        // channels sit on hub channels; one bridge holds two sensors of one
        // identity (a sensor swapped for one with another serial), which
        // share a row.
        for (int i = 0; i < 24; ++i) {
            SensorDevice *d = makeDevice(0x2800000000000000ull | quint64(i + 1) << 8 | quint64(i * 37 % 256));
            d->channels << channel(20.0 + i);
            devices << d;
        }
        for (int i = 0; i < 6; ++i) {
            SensorDevice *d = makeDevice(0x3B00000000000000ull | quint64(i + 1) << 16);
            d->channels << channel(300.0 + i, 0) << channel(24.0, 1);
            devices << d;
        }
        for (int i = 0; i < 4; ++i) {
            SensorDevice *d = makeDevice(0x1900000000000000ull | quint64(i + 1) << 24);
            for (int hub = 0; hub < 8; ++hub) {
                d->channels << channel(21.0, 0, hub, 0x88, 0, 0x100 + hub)
                            << channel(45.0, 1, hub, 0x88, 0, 0x100 + hub);
                if (hub % 3 == 0)
                    d->channels << channel(101.3, 0, hub, 0xEE, 0, 0x58) << channel(22.0, 1, hub, 0xEE, 0, 0x58);
            }
            devices << d;
        }
        devices.last()->channels << channel(21.5, 0, 2, 0x88, 0, 0x999) << channel(44.0, 1, 2, 0x88, 0, 0x999);
        tm->init(&devices);
    }

    void cleanupTestCase()
    {
        tm.reset();
        qDeleteAll(devices);
    }

    // Forty cycles of random changes, each checked against the scan.
    void rowsFoundAsTheScanFindsThem()
    {
        Random random;
        for (int step = 0; step < 40; ++step) {
            QVector<SensorDevice *> unread;
            switch (random.below(6)) {
            case 0: // a device vanishes from the search for good (until it is found again)
                devices.at(random.below(devices.size()))->presence = 0;
                break;
            case 1: // a vanished device is found again: its rows come back at the bottom
                for (SensorDevice *d : qAsConst(devices))
                    if ((d->presence & 3) == 0)
                        d->presence = 1;
                break;
            case 2:
                unread << devices.at(random.below(devices.size()));
                break;
            case 3:
                tm->setChannelMask(uint8_t(random.below(16)));
                break;
            case 4:
                tm->setChannelMask(0xFF);
                tm->setFilter(random.below(2) ? QStringLiteral("28") : QString());
                break;
            default: // a new channel on a bridge
                devices.last()->channels << channel(1.0, 0, 20 + step, 0x80, 0, 0x777 + step);
                break;
            }
            refill(unread);
            tm->update();
            const QByteArray where = QByteArray("step ") + QByteArray::number(step);
            checkAgainstScan(where.constData());
            if (QTest::currentTestFailed())
                return;
        }
        QVERIFY(table.rowCount() > 50);
    }

    // Rows removed and cells changed behind the table manager's back.
    void changesBehindItsBack()
    {
        tm->setChannelMask(0xFF);
        tm->update();
        const int rows = table.rowCount();
        QVERIFY(rows > 10);
        table.removeRow(3);
        checkAgainstScan("a row removed by hand");
        table.item(5, TableMan::ColRom)->setText(QStringLiteral("FFFFFFFFFFFFFFFF"));
        checkAgainstScan("a ROM cell changed by hand");
        const int sub = table.item(5, TableMan::ColSubchannel)->text().toInt();
        const int hub = table.item(5, TableMan::ColHubChannel)->text().toInt();
        const int address = table.item(5, TableMan::ColI2cAddress)->text().toInt();
        QCOMPARE(tm->findRow(QStringLiteral("FFFFFFFFFFFFFFFF"), uint8_t(sub), hub, uint8_t(address)), 5);
        // The next update puts back what the records say.
        tm->update();
        checkAgainstScan("after the update");
        QCOMPARE(table.rowCount(), rows);
    }
};

QTEST_MAIN(TstTableRowIndex)
#include "tst_tablerowindex.moc"
