#include "i2c/i2csensortypes.h"
#include "model/sensortraits.h"
#include "onewire/adapter.h"
#include "sensors/sensor.h"
#include "sim/simbusloader.h"
#include "support/simfixture.h"

#include <QLoggingCategory>
#include <QSet>
#include <QtTest>

// The drivers' traits against what the drivers fill: one measurement of the
// demo bus (every chip the program reads), then every channel's unit is its
// driver's for that subchannel, and every driver with traits filled channels.
class TstSensorTraits : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false")); }

    void everyFilledChannelHasItsDriversUnit()
    {
        QString error;
        SimFixture f(SimBusLoader::loadDemo(&error));
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(f.open(), 1);
        RomList roms;
        QCOMPARE(f.adapter.search(roms), 1);
        Sensor sensor(f.adapter);
        for (const RomId &rom : roms)
            sensor.addOrMark(rom);
        sensor.measureAll();

        QSet<const SensorTraits *> seen;
        for (const SensorDevice *device : *sensor.devices()) {
            QVERIFY(Sensor::findFamily(device->family) || device->channels.isEmpty());
            for (const SensorChannel &channel : device->channels) {
                const SensorTraits *traits = Sensor::traitsOf(device->family, channel.i2cAddress);
                QVERIFY2(traits, qPrintable(channel.type));
                QVERIFY2(channel.subchannel < traits->channelCount, qPrintable(channel.type));
                QCOMPARE(channel.unit, QString::fromLatin1(traits->channels[channel.subchannel].unit));
                QCOMPARE(Sensor::unitTraits(channel.unit)->quantity, traits->channels[channel.subchannel].quantity);
                seen << traits;
            }
        }
        const QVector<const SensorTraits *> all = Sensor::allTraits();
        QCOMPARE(seen.size(), all.size());
        for (const I2cSensorType &type : i2cSensorTypes())
            QVERIFY(type.traits->address != 0 && type.traits->waitCount > 0);
    }
};

QTEST_GUILESS_MAIN(TstSensorTraits)
#include "tst_sensortraits.moc"
