#include "base/clock.h"
#include "sensors/max31850.h"
#include "sensors/sensor.h"
#include "sim/simds18b20.h"
#include "sim/simds18s20.h"
#include "sim/simmax31850.h"
#include "sim/simromdevice.h"
#include "support/logcapture.h"
#include "support/simfixture.h"

#include <QtTest>
#include <cmath>

namespace {

LogCapture *messages = nullptr;

// Broadcast conversions: Skip ROM followed by Convert T.
int broadcasts(const QByteArray &wire)
{
    return wire.count(QByteArray::fromHex("CC44"));
}

// A chip of `family` for the dispatch tests: a thermometer at `celsius`
// where the family is one, else a chip with nothing but its ROM.
std::unique_ptr<SimDevice> chipOf(uint8_t family, quint64 serial, double celsius)
{
    const QByteArray rom = SimFixture::rom(family, serial);
    if (family == 0x28)
        return std::make_unique<SimDs18b20>(rom, celsius);
    if (family == 0x10)
        return std::make_unique<SimDs18s20>(rom, celsius);
    return std::make_unique<SimRomDevice>(rom);
}

// Whether the log holds a selection of this ROM.
bool selected(SimFixture &f, int from, const QByteArray &rom)
{
    const QVector<TrafficEntry> &log = f.backend().traffic();
    for (int i = from; i < log.size(); ++i) {
        if (log[i].call == QLatin1String("TMRom") && log[i].rom == SimFixture::romId(rom))
            return true;
    }
    return false;
}

RomId romOf(uint8_t family, quint64 serial)
{
    return SimFixture::romId(SimFixture::rom(family, serial));
}

SensorChannel liveChannel(uint8_t subchannel)
{
    SensorChannel c;
    c.subchannel = subchannel;
    c.updated = 1;
    return c;
}

} // namespace

// The sensor object and the measurement cycle: keys, ageing and purge; then
// the cycle with the real drivers over the simulated bus, without a window:
// the dispatch, the family lock, the shared broadcast conversion and the
// thermocouple converter's four tries.
class TstCycle : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { messages = new LogCapture; }
    void cleanupTestCase() { delete messages; }
    void init() { messages->clear(); }

    void keysAndStoredRomForm()
    {
        Tmex tmex;
        Adapter adapter(tmex);
        Sensor sensor(adapter);
        const RomId rom = romOf(0x28, 0x0316'1D1E'64FFULL);
        QCOMPARE(sensor.addOrMark(rom), 1);
        const SensorDevice *d = sensor.devices()->first();
        QCOMPARE(d->key >> 56, uint64_t(0x28));
        // Stored CRC first, family code last: the text form reads reversed.
        QCOMPARE(romToText(d->rom, false), romToText(rom, true));
        QCOMPARE(d->presence, uint8_t(1));
        // A known ROM is marked, not added.
        QCOMPARE(sensor.addOrMark(rom), 0);
        QCOMPARE(sensor.devices()->size(), 1);
        QCOMPARE(d->presence, uint8_t(3));
        // ROMs without 8 elements all pack to key 0 and are one device.
        QCOMPARE(Sensor::keyOf(RomId{0x28, 1, 2}), uint64_t(0));
        QCOMPARE(sensor.addOrMark(RomId{0x28, 1, 2}), 2);
        QCOMPARE(sensor.addOrMark(RomId()), 0);
        QCOMPARE(sensor.devices()->size(), 2);
    }

    // A device missing from one search keeps its channels; missing from two it goes.
    void ageingAndPurge()
    {
        Tmex tmex;
        Adapter adapter(tmex);
        Sensor sensor(adapter);
        const RomId a = romOf(0x28, 1), b = romOf(0x10, 2);
        sensor.addOrMark(a);
        sensor.addOrMark(b);
        (*sensor.devices())[0]->channels << liveChannel(0);
        (*sensor.devices())[1]->channels << liveChannel(0) << liveChannel(1);

        // Pass 2: only a is found; b's channel 1 was refilled, channel 0 not.
        sensor.ageAll();
        sensor.addOrMark(a);
        (*sensor.devices())[1]->channels[1].updated |= 1;
        QCOMPARE(sensor.purge(), 0);
        QCOMPARE(sensor.devices()->size(), 2);
        QCOMPARE(sensor.devices()->at(1)->channels.size(), 2);

        // Pass 3: b is missing again and its stale channel 0 goes at once.
        sensor.ageAll();
        sensor.addOrMark(a);
        QCOMPARE(sensor.purge(), 1);
        QCOMPARE(sensor.devices()->size(), 1);
        QCOMPARE(sensor.devices()->first()->key, Sensor::keyOf(a));
        // a's channel was not refilled for two passes: removed, the device stays.
        QVERIFY(sensor.devices()->first()->channels.isEmpty());

        sensor.clear();
        QVERIFY(sensor.devices()->isEmpty());
    }

    // Recognised families are read without bus traffic; unknown ones are
    // skipped. The bridges' broadcasts (back to 100 kHz, then to sleep, both
    // with Skip ROM) end every cycle, with no devices at all too. (An exit
    // request mid-cycle is tst_acquisitiontimer's closing of the window.)
    void dispatch()
    {
        SimFixture f;
        QCOMPARE(f.open(), 1);
        Sensor sensor(f.adapter);
        QCOMPARE(sensor.startCycle(), -1);
        int from = f.backend().traffic().size();
        sensor.measureAll();
        QCOMPARE(f.backend().touchedBytes(from), QByteArray::fromHex("CCD200CC1E"));

        for (uint8_t family : {uint8_t(0x21), uint8_t(0x41), uint8_t(0x77)})
            sensor.addOrMark(romOf(family, family));
        from = f.backend().traffic().size();
        QCOMPARE(sensor.readDevice(*sensor.devices()->at(0)), 1);
        QCOMPARE(sensor.readDevice(*sensor.devices()->at(2)), 0);
        QCOMPARE(f.backend().traffic().size(), from);
    }

    // ScanAllType off: the first recognised family locks the cycle; other
    // families are passed over without a bus selection. An unknown family
    // leaves the lock unset.
    void familyLock()
    {
        struct Case
        {
            QVector<uint8_t> order;
            QVector<bool> read;
            bool scanAllType;
        } cases[] = {
            {{0x28, 0x28, 0x10}, {true, true, false}, false},
            {{0x01, 0x10, 0x28}, {false, true, false}, false},
            {{0x26, 0x28}, {false, false}, false},
            {{0x26, 0x28, 0x10}, {false, true, true}, true},
        };
        for (const Case &c : cases) {
            SimFixture f;
            Sensor sensor(f.adapter);
            sensor.setScanAllType(c.scanAllType);
            QVector<QByteArray> roms;
            for (int i = 0; i < c.order.size(); ++i) {
                roms << f.add(chipOf(c.order[i], i + 1, 20.0 + i))->rom();
                sensor.addOrMark(SimFixture::romId(roms.last()));
            }
            QCOMPARE(f.open(), 1);
            const int from = f.backend().traffic().size();
            sensor.measureAll();
            for (int i = 0; i < c.order.size(); ++i) {
                const SensorDevice *d = sensor.devices()->at(i);
                QCOMPARE(d->family, c.order[i]);
                if (c.order[i] == 0x28 || c.order[i] == 0x10) {
                    QCOMPARE(selected(f, from, roms[i]), c.read[i]);
                    QCOMPARE(d->channels.size(), c.read[i] ? 1 : 0);
                    if (c.read[i])
                        QCOMPARE(d->channels[0].value, 20.0 + i);
                }
            }
        }
    }

    // One broadcast conversion per cycle serves every thermometer: one
    // strong pull-up, one wait. A first thermometer that cannot be selected
    // leaves the broadcast to the next.
    void oneBroadcastPerCycle()
    {
        SimFixture f;
        QVector<SimDs18x20 *> chips{
            f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 1), 21.5)),
            f.add(std::make_unique<SimDs18s20>(SimFixture::rom(0x10, 2), 19.0)),
            f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 3), -3.25)),
        };
        Sensor sensor(f.adapter);
        for (SimDs18x20 *chip : chips)
            sensor.addOrMark(SimFixture::romId(chip->rom()));
        QCOMPARE(f.open(), 1);

        for (double shift : {0.0, 2.0}) {
            for (int i = 0; i < chips.size(); ++i)
                chips[i]->setTemperature(SimTemperature(QVector<double>{21.5, 19.0, -3.25}[i] + shift));
            f.backend().clearTraffic();
            const qint64 startMs = Clock::tickMs();
            sensor.measureAll();
            QVERIFY(Clock::tickMs() - startMs < 1100);
            const QByteArray wire = f.backend().touchedBytes();
            QCOMPARE(broadcasts(wire), 1);
            QCOMPARE(wire.count(char(0x44)), 1);
            QCOMPARE(f.backend().callCount(QStringLiteral("TMOneWireLevel")), 2);
            QCOMPARE(sensor.devices()->at(0)->channels[0].value, 21.5 + shift);
            QCOMPARE(sensor.devices()->at(1)->channels[0].value, 19.0 + shift);
            QCOMPARE(sensor.devices()->at(2)->channels[0].value, -3.25 + shift);
        }

        // A silent first thermometer: its channel is left alone and the
        // second one converts again, so the third does not read a stale value.
        chips[0]->setSilent(true);
        for (SimDs18x20 *chip : chips)
            chip->setTemperature(SimTemperature(30.0));
        const int from = f.backend().traffic().size();
        QCOMPARE(sensor.startCycle(), 0);
        QCOMPARE(sensor.readNext(), 1);
        QCOMPARE(sensor.readNext(), 1);
        QCOMPARE(sensor.readNext(), -1);
        QCOMPARE(broadcasts(f.backend().touchedBytes(from)), 2);
        QCOMPARE(sensor.devices()->at(0)->channels[0].value, 21.5 + 2.0);
        QCOMPARE(sensor.devices()->at(1)->channels[0].value, 30.0);
        QCOMPARE(sensor.devices()->at(2)->channels[0].value, 30.0);
    }

    // Four failed calls give -1 and two channels (whatever there was) with
    // NaN and the time of the read; a call that succeeds after failures is
    // logged with how many calls were left.
    void thermocoupleTries()
    {
        SimFixture f;
        auto *chip = f.add(std::make_unique<SimMax31850>(SimFixture::rom(0x3B, 5), 300.0, 25.0));
        Sensor sensor(f.adapter);
        sensor.addOrMark(SimFixture::romId(chip->rom()));
        SensorDevice &device = *sensor.devices()->first();
        QCOMPARE(f.open(), 1);
        const QRegularExpression line(R"(^ErrorReadValue\s+"?\d\d:\d\d:\d\d:\d{3}"?\s*;\s+(\d)$)");
        const QRegularExpression okLine(R"(^ErrorReadValue ThisOK ---\s+"?\d\d:\d\d:\d\d:\d{3}"?\s*;\s+(\d)$)");
        auto counts = [](const QRegularExpression &re) {
            QStringList found;
            for (const QString &m : messages->texts()) {
                const QRegularExpressionMatch match = re.match(m);
                if (match.hasMatch())
                    found << match.captured(1);
            }
            return found;
        };

        chip->setSilent(true);
        device.channels.resize(3);
        Clock::advanceMs(5000);
        QCOMPARE(sensor.readDevice(device), -1);
        QCOMPARE(counts(line), QStringList({"2", "1", "0"}));
        QVERIFY(counts(okLine).isEmpty());
        QCOMPARE(device.channels.size(), 2);
        for (const SensorChannel &c : device.channels) {
            QVERIFY(std::isnan(c.value));
            QVERIFY(c.time.isValid() && qAbs(c.time.msecsTo(Clock::now())) < 1000);
            QCOMPARE(c.updated, uint8_t(1));
        }

        // The driver tries 4 times per call: one call's worth of CRC errors
        // (the device already told apart from a DS1825).
        chip->setSilent(false);
        device.chip = &Max31850::kTraits;
        chip->failCrc(4);
        messages->clear();
        QCOMPARE(sensor.readDevice(device), 1);
        QCOMPARE(counts(line), QStringList({"2"}));
        QCOMPARE(counts(okLine), QStringList({"2"}));
        QVERIFY(std::isfinite(device.channels[0].value));
        QCOMPARE(device.channels[1].value, 25.0);
    }
};

QTEST_MAIN(TstCycle)
#include "tst_cycle.moc"
