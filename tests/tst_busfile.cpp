#include "onewire/adapter.h"
#include "sensors/acquisition.h"
#include "sensors/sensor.h"
#include "sim/simbusloader.h"
#include "sim/simdevice.h"
#include "sim/simdevicefactory.h"
#include "support/simfixture.h"

#include <QRegularExpression>
#include <QSet>
#include <QtTest>

namespace {

QString busFile(const char *name)
{
    return QStringLiteral(TEST_DATA_DIR "/buses/") + QLatin1String(name);
}

QString loadError(const QString &path)
{
    QString error;
    auto backend = SimBusLoader::loadFile(path, &error);
    return backend ? QStringLiteral("(loaded)") : error;
}

} // namespace

class TstBusFile : public QObject
{
    Q_OBJECT
private slots:
    // One line: the file, where (line:column, or the path of the entry), what.
    void errorsNamePlaceAndCause()
    {
        const QString syntax = loadError(busFile("syntax.json"));
        QVERIFY2(QRegularExpression("^" + QRegularExpression::escape(busFile("syntax.json")) + ":5:\\d+: \\S")
                     .match(syntax)
                     .hasMatch(),
                 qPrintable(syntax));

        QCOMPARE(loadError(busFile("unknowntype.json")),
                 busFile("unknowntype.json") + ":devices[1].type: unknown device type \"thermometer\" (known: "
                     + SimDeviceFactory::types().join(", ") + ")");
        QVERIFY(loadError(busFile("badrom.json")).startsWith(busFile("badrom.json") + ":devices[0].rom: "));
        // 14 digits with the CRC added equal the same ROM written with its CRC.
        QCOMPARE(loadError(busFile("duplicaterom.json")),
                 busFile("duplicaterom.json") + ":devices[2].rom: the same ROM is already on the bus");
        QCOMPARE(loadError(busFile("badvalue.json")),
                 busFile("badvalue.json") + ":adapter.setupResult: expected a whole number from 1 to 2");
        QVERIFY(loadError(busFile("absent.json")).startsWith(busFile("absent.json") + ": cannot read the bus file"));

        for (const QString &error : {syntax, loadError(busFile("badrom.json"))})
            QVERIFY(!error.contains('\n'));
    }

    void inlineErrors()
    {
        const struct
        {
            const char *json;
            const char *error;
        } cases[] = {
            {"[]", "x:1:1: the description must be a JSON object"},
            {"{\"devices\": [{\"type\": \"rom\", \"missSearches\": 1.5}]}",
             "x:devices[0].missSearches: expected a whole number from 0 to 1000000"},
            {"{\"devices\": [{\"type\": \"identity\", \"rom\": \"28 01 02 03 04 05 06\"}]}",
             "x:devices[0].rom: an identity chip has family 81 or 01"},
            // A misspelt key must not be ignored silently.
            {"{\"devices\": [{\"type\": \"ds18b20\", \"resolutoin\": 9}]}",
             "x:devices[0].resolutoin: unknown key for a ds18b20"},
            {"{\"devices\": [{\"type\": \"ds18s20\", \"resolution\": 9}]}",
             "x:devices[0].resolution: unknown key for a ds18s20"},
            // Bridges: the hub and the I2C chips are checked as strictly, with their path.
            {R"({"devices": [{"type": "ds28e17", "i2c": [{"type": "sht3x", "humidty": 40}]}]})",
             "x:devices[0].i2c[0].humidty: unknown key for a sht3x"},
            {R"({"devices": [{"type": "ds28e17", "i2c": [{"type": "sht3x"}, {"type": "sts3x", "humidity": 40}]}]})",
             "x:devices[0].i2c[1].humidity: unknown key for a sts3x"},
            {R"({"devices": [{"type": "ds28e17", "i2c": [{"type": "sht3x", "rawTemperature": "12"}]}]})",
             "x:devices[0].i2c[0].rawTemperature: expected a whole number from 0 to 65535"},
            {R"({"devices": [{"type": "ds28e17", "i2c": [{"type": "sht4x"}]}]})",
             "x:devices[0].i2c[0].type: unknown I2C chip type \"sht4x\" (known: sht3x, sts3x, hdc1080, bmp280, d6f, scd30)"},
            {R"({"devices": [{"type": "ds28e17", "i2c": [{"type": "d6f", "channel": 3}]}]})",
             "x:devices[0].i2c[0].channel: the bridge has no hub"},
            {R"({"devices": [{"type": "ds28e17", "hub": {}, "i2c": [{"type": "d6f", "channel": 48}]}]})",
             "x:devices[0].i2c[0].channel: expected a whole number from 0 to 47"},
            {R"({"devices": [{"type": "ds28e17", "hub": {}, "i2c": [{"type": "d6f", "channel": 1, "moveTo": 2}]}]})",
             "x:devices[0].i2c[0].moveTo: needs \"channel\" and \"moveAfterCycles\""},
            {R"({"devices": [{"type": "ds28e17", "hub": {"adress": "38"}}]})",
             "x:devices[0].hub.adress: unknown key for a multi-hub"},
            {R"({"devices": [{"type": "ds28e17", "hub": {"refuseChannels": [1, -2]}}]})",
             "x:devices[0].hub.refuseChannels: expected a list of whole numbers from 0 to 255"},
            {R"({"devices": [{"type": "ds28e17", "hub": {"address": "80"}}]})",
             "x:devices[0].hub.address: a 7-bit I2C address is 00 to 7F"},
            {R"({"devices": [{"type": "ds28e17", "i2c": [{"type": "bmp280", "calibration": {"P10": 1}}]}]})",
             "x:devices[0].i2c[0].calibration.P10: unknown key for the BMP280 calibration"},
            {R"({"devices": [{"type": "ds28e17", "i2c": [{"type": "bmp280", "calibration": {"P1": 70000}}]}]})",
             "x:devices[0].i2c[0].calibration.P1: expected a whole number from 0 to 65535"},
            {R"({"devices": [{"type": "ds28e17", "i2c": [{"type": "scd30", "serial": 12}]}]})",
             "x:devices[0].i2c[0].serial: expected a text of up to 31 ASCII characters"},
            {R"({"devices": [{"type": "ds28e17", "i2c": [{"type": "hdc1080", "humidity": {"mean": 40}}]}]})",
             "x:devices[0].i2c[0].humidity: expected %RH, or {\"mean\", \"amplitude\", \"periodS\" > 0, \"phaseS\"}"},
            {R"({"devices": [{"type": "ds28e17", "i2c": {"type": "d6f"}}]})", "x:devices[0].i2c: expected an array"},
            {R"({"devices": [{"type": "ds28e17", "stuckBusy": true}]})",
             "x:devices[0].stuckBusy: expected a whole number from 0 to 1000000"},
        };
        for (const auto &c : cases) {
            QString error;
            QVERIFY2(!SimBusLoader::load(c.json, "x", &error), c.json);
            QCOMPARE(error, QString::fromUtf8(c.error));
        }
    }

    // The fault and adapter settings of a file reach the bus: each one shows
    // in what the adapter and the search report.
    void faultsTakeEffect()
    {
        QString error;
        auto backend = SimBusLoader::loadFile(busFile("faults.json"), &error);
        QVERIFY2(backend, qPrintable(error));
        QCOMPARE(backend->bus().deviceCount(), 5);
        QSet<QByteArray> roms;
        for (int i = 0; i < 5; ++i) {
            const QByteArray rom = backend->bus().device(i)->rom();
            QVERIFY(Adapter::romIsValid(SimFixture::romId(rom)));
            roms.insert(rom);
        }
        QCOMPARE(roms.size(), 5); // default ROMs differ
        SimDevice *missing = backend->bus().device(1);
        SimDevice *unreadable = backend->bus().device(2);

        SimFixture f(std::move(backend));
        QCOMPARE(f.open(), 1);
        QCOMPARE(f.backend().traffic().at(3).result, 2); // TMSetup after the new session

        RomList first, second;
        Adapter::instance().search(first);
        Adapter::instance().search(second);
        // The silent device never appears; the hidden and the unreadable one
        // miss the first search only (the unreadable ROM sorts late, so the
        // search goes on past it).
        RomList expectedFirst = second;
        expectedFirst.removeAll(SimFixture::romId(missing->rom()));
        expectedFirst.removeAll(SimFixture::romId(unreadable->rom()));
        QCOMPARE(second.size(), 4);
        QCOMPARE(first, expectedFirst);
    }

    // The faults of a bridge file, seen through two measurement cycles: a
    // serial-number CRC error, a sensor that moves to another hub channel,
    // a BMP280 with P1 = 0, an SCD30 never ready, a hub that refuses a
    // channel, a bridge stuck busy, a sensor at another address, a sensor
    // that stops acknowledging.
    void bridgeFaultsTakeEffect()
    {
        QString error;
        SimFixture f(SimBusLoader::loadFile(busFile("bridges.json"), &error));
        QVERIFY2(error.isEmpty(), qPrintable(error));
        f.backend().setTrafficLogging(false);
        Sensor sensor;
        Acquisition acquisition(&sensor);
        auto records = [&](int index) {
            QStringList list;
            for (const SensorDevice *d : *sensor.devices()) {
                if (d->rom.value(7) != 0x19 || d->rom.value(1) != index)
                    continue;
                for (const SensorChannel &c : d->channels)
                    list << QStringLiteral("%1@%2=%3").arg(c.type).arg(c.hubChannel).arg(c.value);
            }
            return list;
        };
        QCOMPARE(acquisition.refresh().openResult, 1);
        sensor.measureAll();
        QCOMPARE(records(0x66), QStringList({"STS3x temperature channel@1=20", "BMP280 pressure channel@2=nan",
                                             "BMP280 temperature channel@2=25.08", "SDC30 CO2 channel@3=nan",
                                             "SDC30 temperature channel@3=nan", "SDC30 humidity channel@3=nan"}));
        QCOMPARE(records(0x77), QStringList());
        QCOMPARE(records(0x88), QStringList({"D6F OMRON pressure channel@0=nan", "D6F OMRON temperature channel@0=nan"}));

        acquisition.refresh();
        sensor.measureAll();
        const QStringList second = records(0x66);
        QCOMPARE(second.mid(6), QStringList({"SHT3x temperature channel@0=24.99", "SHT3x humidity channel@0=50",
                                             "STS3x temperature channel@3=20"}));
    }
};

QTEST_MAIN(TstBusFile)
#include "tst_busfile.moc"
