#include "i2c/i2csensortypes.h"
#include "model/sensortraits.h"
#include "sensors/sensor.h"
#include "session/measurementsession.h"
#include "sim/simbusloader.h"
#include "sim/simdevicefactory.h"
#include "sim/simi2cfactory.h"
#include "support/simfixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QSet>
#include <QtTest>

// The drivers' traits against what the drivers fill: one measurement of a
// bus with one chip of every type the bus loader builds (and one of every
// I2C type behind a bridge), each as its defaults make it; then every
// channel's unit is its driver's for that subchannel, and every driver with
// traits filled channels.
namespace {

QByteArray everyChip()
{
    QJsonArray devices;
    int serial = 0;
    for (const QString &type : SimDeviceFactory::types()) {
        const int family = SimDeviceFactory::defaultFamily(type);
        QJsonObject entry{{QStringLiteral("type"), type},
                          {QStringLiteral("rom"), QStringLiteral("%1 00 00 00 00 00 %2")
                                                      .arg(family, 2, 16, QLatin1Char('0'))
                                                      .arg(++serial, 2, 16, QLatin1Char('0'))}};
        if (SimDeviceFactory::keys(type).contains(QStringLiteral("i2c"))) {
            QJsonArray chips;
            int channel = 0;
            for (const QString &chip : SimI2cFactory::types())
                chips.append(QJsonObject{{QStringLiteral("type"), chip}, {QStringLiteral("channel"), channel++}});
            entry.insert(QStringLiteral("hub"), QJsonObject());
            entry.insert(QStringLiteral("i2c"), chips);
        }
        devices.append(entry);
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("devices"), devices}}).toJson();
}

} // namespace

class TstSensorTraits : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false")); }

    void everyFilledChannelHasItsDriversUnit()
    {
        QString error;
        SimFixture f(SimBusLoader::load(everyChip(), QStringLiteral("every chip"), &error));
        QVERIFY2(error.isEmpty(), qPrintable(error));
        MeasurementSession session(&f.backend());
        QCOMPARE(session.refresh().openResult, 1);
        session.measure();

        QSet<const SensorTraits *> seen;
        for (const SensorDevice *device : session.allDevices()) {
            QVERIFY(Sensor::findFamily(device->family) || device->channels.isEmpty());
            const Sensor::Family *family = Sensor::findFamily(device->family);
            for (const SensorChannel &channel : device->channels) {
                // The record names its driver: the family's (or the chip
                // sharing its code), or the I2C type at its address.
                const SensorTraits *traits = channel.traits;
                QVERIFY2(traits, qPrintable(channel.type));
                if (channel.i2cAddress != 0)
                    QCOMPARE(traits, Sensor::traitsOf(device->family, channel.i2cAddress));
                else
                    QVERIFY2(traits == family->traits || traits == family->sharedWith, qPrintable(channel.type));
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
