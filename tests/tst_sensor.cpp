#include "sensors/sensor.h"
#include "support/simfixture.h"

#include <QtTest>

namespace {

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

class TstSensor : public QObject
{
    Q_OBJECT
private slots:
    void keysAndStoredRomForm()
    {
        Sensor sensor;
        const RomId rom = romOf(0x28, 0x0316'1D1E'64FFULL);
        QCOMPARE(sensor.addOrMark(rom), 1);
        const SensorDevice *d = sensor.devices()->first();
        QCOMPARE(d->key, Sensor::keyOf(rom));
        QCOMPARE(d->key >> 56, uint64_t(0x28));
        QCOMPARE(d->family, uint8_t(0x28));
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
        Sensor sensor;
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
    // with Skip ROM) end every cycle, with no devices at all too. An exit
    // request ends the cycle after the current device; the broadcast still runs.
    void dispatchAndEarlyStop()
    {
        SimFixture f;
        QCOMPARE(f.open(), 1);
        Sensor sensor;
        QCOMPARE(sensor.startCycle(), -1);
        int from = f.backend().traffic().size();
        sensor.measureAll();
        QCOMPARE(f.backend().touchedBytes(from), QByteArray::fromHex("CCD200CC1E"));

        for (uint8_t family : {uint8_t(0x26), uint8_t(0x21), uint8_t(0x77), uint8_t(0x41)})
            sensor.addOrMark(romOf(family, family));
        (*sensor.devices())[2]->channels << liveChannel(0);
        (*sensor.devices())[2]->channels[0].writtenThisCycle = true;
        QCOMPARE(sensor.readDevice(*sensor.devices()->at(0)), 1);
        QCOMPARE(sensor.readDevice(*sensor.devices()->at(2)), 0);

        int reads = 0;
        from = f.backend().traffic().size();
        sensor.measureAll([&] { return ++reads == 2; });
        QCOMPARE(reads, 2); // asked after device 1 and device 2, then stopped
        QVERIFY(!sensor.devices()->at(2)->channels[0].writtenThisCycle);
        QCOMPARE(f.backend().touchedBytes(from), QByteArray::fromHex("CCD200CC1E"));
    }
};

QTEST_MAIN(TstSensor)
#include "tst_sensor.moc"
