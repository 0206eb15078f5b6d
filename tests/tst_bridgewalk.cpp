#include "i2c/i2cbridge.h"
#include "base/clock.h"
#include "sensors/sensor.h"
#include "sim/simbmp280.h"
#include "sim/simhdc1080.h"
#include "sim/simscd30.h"
#include "sim/simsht3x.h"
#include "sim/simsts3x.h"
#include "support/bridgerig.h"

#include <QTimer>
#include <QtTest>
#include <cmath>

namespace {

// A bridge known to the sensor object, read through the family dispatch.
struct Walk
{
    Walk()
    {
        sensor.addOrMark(rig.rom);
        device = sensor.devices()->first();
    }
    int read() { return sensor.readDevice(*device); }
    // The channel bytes the hub took, in order, from traffic entry `from` on.
    QVector<int> channelBytes(int from, uint8_t hubAddressByte = 0x70)
    {
        QVector<int> bytes;
        for (const BridgePacket &p : rig.packets(from)) {
            if (uint8_t(p.packet.at(0)) == 0x4B && uint8_t(p.packet.at(1)) == hubAddressByte && p.status == 0
                && p.writeStatus == 0)
                bytes << uint8_t(p.packet.at(3));
        }
        return bytes;
    }
    int writesTo(int from, int addressByte) { return rig.writeAddresses(from).count(addressByte); }
    // type text and hub channel of every channel record, in order.
    QStringList records() const
    {
        QStringList list;
        for (const SensorChannel &c : device->channels)
            list << QStringLiteral("%1@%2").arg(c.type).arg(c.hubChannel);
        return list;
    }

    BridgeRig rig;
    Sensor sensor{rig.f.adapter};
    SensorDevice *device;
};

QVector<int> range(int first, int last)
{
    QVector<int> values;
    for (int i = first; i <= last; ++i)
        values << i;
    return values;
}

} // namespace

class TstBridgeWalk : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false")); }

    // Without a hub the bridge's bus is probed once, as channel 0, and the
    // failed selection of channel 1 ends the read; absent types cost 4 tries.
    void withoutHub()
    {
        Walk w;
        w.rig.add(std::make_unique<SimSht3x>(21.0, 40.0));
        w.rig.add(std::make_unique<SimSts3x>(22.0));
        const int from = w.rig.mark();
        QCOMPARE(w.read(), 1);
        QCOMPARE(w.records(), QStringList({"STS3x temperature channel@0", "SHT3x temperature channel@0",
                                           "SHT3x humidity channel@0"}));
        QCOMPARE(w.writesTo(from, 0x94), 2); // serial number, single shot
        QCOMPARE(w.writesTo(from, 0x88), 2);
        for (int absent : {0x80, 0xEE, 0xD8, 0xC2})
            QCOMPARE(w.writesTo(from, absent), 4);
        const QVector<int> addresses = w.rig.writeAddresses(from);
        QCOMPARE(addresses.mid(0, 2), (QVector<int>{0x70, 0x40}));
        QCOMPARE(addresses.mid(addresses.size() - 4), (QVector<int>{0x70, 0x40, 0x70, 0x40}));
        for (const SensorChannel &c : w.device->channels) {
            QCOMPARE(c.updated, uint8_t(1));
            QVERIFY(c.reading > 0);
            QVERIFY(std::isnan(c.alarmHigh) && std::isnan(c.alarmLow));
        }
        QCOMPARE(w.device->channels[0].value, 22.0);
    }

    // With a hub: every channel with "all channels" on, the walk stops after
    // two empty channels with it off; always back on channel 0.
    void withHub()
    {
        for (bool allChannels : {true, false}) {
            Walk w;
            SimMultiHub *hub = w.rig.addHub();
            w.rig.addOnChannel(std::make_unique<SimSht3x>(), 0);
            w.rig.addOnChannel(std::make_unique<SimSts3x>(), 2);
            w.rig.addOnChannel(std::make_unique<SimHdc1080>(), 5);
            w.rig.addOnChannel(std::make_unique<SimBmp280>(), 47);
            w.sensor.setScanAllChannel(allChannels);
            const int from = w.rig.mark();
            w.read();
            QCOMPARE(hub->selectedChannel(), 0);
            // Off, channels 3 and 4 are empty: channel 5 is selected, not probed.
            QCOMPARE(w.channelBytes(from), QVector<int>{0} + range(1, allChannels ? 47 : 5) + QVector<int>{0});
            const QStringList all{"SHT3x temperature channel@0", "SHT3x humidity channel@0", "STS3x temperature channel@2",
                                  "HDC1080 temperature channel@5", "HDC1080 humidity channel@5",
                                  "BMP280 pressure channel@47", "BMP280 temperature channel@47"};
            QCOMPARE(w.records(), allChannels ? all : QStringList(all.mid(0, 3)));
        }
    }

    // "All types" off: the first type found is the only one probed from then on.
    void oneTypeOnly()
    {
        Walk w;
        w.rig.addHub(SimMultiHub::kSecondAddress);
        w.rig.addOnChannel(std::make_unique<SimSht3x>(), 0);
        auto *hdc = w.rig.addOnChannel(std::make_unique<SimHdc1080>(), 1);
        w.rig.addOnChannel(std::make_unique<SimSht3x>(), 2);
        w.sensor.setScanAllType(false);
        w.sensor.setScanAllChannel(false);
        const int from = w.rig.mark();
        w.read();
        QCOMPARE(w.records(), QStringList({"SHT3x temperature channel@0", "SHT3x humidity channel@0",
                                           "SHT3x temperature channel@2", "SHT3x humidity channel@2"}));
        QCOMPARE(w.sensor.lastI2cAddress(), 0x88);
        QCOMPARE(w.writesTo(from, 0x80), 4); // the HDC1080 was looked for on channel 0 only
        QCOMPARE(hdc->acquisitionsStarted(), 0);
        QCOMPARE(w.channelBytes(from, 0x40), (QVector<int>{0, 1, 2, 3, 4, 5, 0}));
    }

    // Closing mid-walk: the read ends after the channel in progress and the
    // hub is left on channel 0.
    void stopRequest()
    {
        Walk w;
        SimMultiHub *hub = w.rig.addHub();
        w.rig.addOnChannel(std::make_unique<SimSht3x>(), 5);
        QTimer closer;
        connect(&closer, &QTimer::timeout, [&] {
            if (hub->selectedChannel() == 5)
                w.sensor.requestStop();
        });
        closer.start(0);
        const int from = w.rig.mark();
        QCOMPARE(w.read(), 1);
        closer.stop();
        // The request came while channel 5 was being selected: it is not probed.
        QCOMPARE(w.channelBytes(from), (QVector<int>{0, 1, 2, 3, 4, 5, 0}));
        QCOMPARE(hub->selectedChannel(), 0);
        QVERIFY(w.device->channels.isEmpty());

        // A stop before the first channel: nothing probed.
        Walk early;
        early.rig.addHub();
        early.rig.add(std::make_unique<SimSht3x>());
        auto bridge = early.rig.bridge(&early.sensor);
        bridge->requestStop();
        const int mark = early.rig.mark();
        bridge->readSensors(*early.device);
        QCOMPARE(early.channelBytes(mark), (QVector<int>{0, 0}));
        QVERIFY(early.device->channels.isEmpty());
    }

    // A second read updates the records in place; a sensor moved to another
    // hub channel gets new records while the old ones are left to age.
    void mergeAndMove()
    {
        Walk w;
        SimMultiHub *hub = w.rig.addHub();
        auto *sht = w.rig.addOnChannel(std::make_unique<SimSht3x>(20.0, 30.0), 1);
        w.rig.addOnChannel(std::make_unique<SimScd30>(), 2);
        hub->moveAfterCycles(sht, 7, 2);
        w.sensor.setScanAllChannel(false);
        w.read();
        QCOMPARE(w.device->channels.size(), 5);
        QVector<SensorChannel> first = w.device->channels;
        w.device->channels[0].announcedReading = first[0].reading;

        sht->setTemperature(SimTemperature(25.0));
        Clock::advanceMs(5000);
        auto bridges = w.rig.bridge();
        bridges->sendSleepCommand(); // one cycle
        w.read();
        QCOMPARE(w.device->channels.size(), 5);
        for (int i = 0; i < 5; ++i) {
            const SensorChannel &c = w.device->channels[i];
            QCOMPARE(c.type, first[i].type);
            QVERIFY(c.reading > first[i].reading);
            QVERIFY(c.time > first[i].time);
        }
        QCOMPARE(w.device->channels[0].value, 25.0);
        QCOMPARE(w.device->channels[0].announcedReading, first[0].reading);

        bridges->sendSleepCommand(); // the second cycle moves it
        QCOMPARE(hub->channelOf(sht), 7);
        const uint64_t oldReading = w.device->channels[0].reading;
        w.sensor.setScanAllChannel(true);
        w.read();
        QCOMPARE(w.records(),
                 QStringList({"SHT3x temperature channel@1", "SHT3x humidity channel@1", "SDC30 CO2 channel@2",
                              "SDC30 temperature channel@2", "SDC30 humidity channel@2",
                              "SHT3x temperature channel@7", "SHT3x humidity channel@7"}));
        QCOMPARE(w.device->channels[0].reading, oldReading);
        QCOMPARE(w.device->channels[5].i2cSerialLow, w.device->channels[0].i2cSerialLow);
    }
};

QTEST_MAIN(TstBridgeWalk)
#include "tst_bridgewalk.moc"
