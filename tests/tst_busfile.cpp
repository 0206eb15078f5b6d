#include "onewire/adapter.h"
#include "sensors/acquisition.h"
#include "sensors/sensor.h"
#include "sim/simbusloader.h"
#include "sim/simdevice.h"
#include "sim/simdevicefactory.h"
#include "support/logcapture.h"
#include "support/simcycle.h"
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
             "x:devices[0].resolutoin: unknown key for a ds18b20 (known: type, rom, missSearches, "},
            {"{\"devices\": [{\"type\": \"ds18s20\", \"resolution\": 9}]}",
             "x:devices[0].resolution: unknown key for a ds18s20 (known: "},
            // Bridges: the hub and the I2C chips are checked as strictly, with their path.
            {R"({"devices": [{"type": "ds28e17", "i2c": [{"type": "sht3x", "humidty": 40}]}]})",
             "x:devices[0].i2c[0].humidty: unknown key for a sht3x (known: type, address, channel, "},
            {R"({"devices": [{"type": "ds28e17", "i2c": [{"type": "sht3x"}, {"type": "sts3x", "humidity": 40}]}]})",
             "x:devices[0].i2c[1].humidity: unknown key for a sts3x (known: "},
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
             "x:devices[0].hub.adress: unknown key for a multi-hub (known: address, refuseChannels)"},
            {R"({"devices": [{"type": "ds28e17", "hub": {"refuseChannels": [1, -2]}}]})",
             "x:devices[0].hub.refuseChannels: expected a list of whole numbers from 0 to 255"},
            {R"({"devices": [{"type": "ds28e17", "hub": {"address": "80"}}]})",
             "x:devices[0].hub.address: a 7-bit I2C address is 00 to 7F"},
            {R"({"devices": [{"type": "ds28e17", "i2c": [{"type": "bmp280", "calibration": {"P10": 1}}]}]})",
             "x:devices[0].i2c[0].calibration.P10: unknown key for the BMP280 calibration (known: T1, T2, "},
            {R"({"devices": [{"type": "ds28e17", "i2c": [{"type": "bmp280", "calibration": {"P1": 70000}}]}]})",
             "x:devices[0].i2c[0].calibration.P1: expected a whole number from 0 to 65535"},
            {R"({"devices": [{"type": "ds28e17", "i2c": [{"type": "scd30", "serial": 12}]}]})",
             "x:devices[0].i2c[0].serial: expected a text of up to 31 ASCII characters"},
            {R"({"devices": [{"type": "ds28e17", "i2c": [{"type": "hdc1080", "humidity": {"mean": 40}}]}]})",
             "x:devices[0].i2c[0].humidity.amplitude: missing (a curve has \"mean\", \"amplitude\" and \"periodS\")"},
            {R"({"devices": [{"type": "ds28e17", "i2c": [{"type": "hdc1080", "humidity": true}]}]})",
             "x:devices[0].i2c[0].humidity: expected %RH, or {\"mean\", \"amplitude\", \"periodS\" > 0, \"phaseS\"}"},
            {R"({"devices": [{"type": "ds18s20", "temperature": {"mean": 1, "amplitude": "2", "periodS": 0}}]})",
             "x:devices[0].temperature.amplitude: expected a number"},
            {R"({"devices": [{"type": "ds18s20", "temperature": {"mean": 1, "amplitude": 2, "periodS": 0}}]})",
             "x:devices[0].temperature.periodS: expected a number of seconds above 0"},
            {R"({"devices": [{"type": "ds28e17", "i2c": {"type": "d6f"}}]})", "x:devices[0].i2c: expected an array"},
            {R"({"devices": [{"type": "ds28e17", "stuckBusy": true}]})",
             "x:devices[0].stuckBusy: expected a whole number from 0 to 1000000"},
            // Every key has one kind of value: a text "true" is no true.
            {R"({"devices": [{"type": "rom", "overdrive": "true"}]})", "x:devices[0].overdrive: expected true or false"},
            {R"({"devices": [{"type": "rom", "overdrive": 1}]})", "x:devices[0].overdrive: expected true or false"},
            {R"({"adapter": {"overdrive": "false"}})", "x:adapter.overdrive: expected true or false"},
            {R"({"adapter": {"plugd": false}})", "x:adapter.plugd: unknown key for the adapter (known: "},
            {R"({"adapter": [], "devices": []})", "x:adapter: expected an object"},
            {R"({"devices": {}})", "x:devices: expected an array"},
            {R"({"devises": []})", "x:devises: unknown key for a bus file (known: adapter, devices)"},
            {R"({"devices": [{"type": 28}]})", "x:devices[0].type: expected a device type name (known: identity, "},
            {R"({"devices": [{"rom": "28 FF 64 1E 1D 16 03"}]})", "x:devices[0].type: missing device type (known: "},
            {R"({"devices": [{"type": "ds18b20", "rom": 2882400018}]})",
             "x:devices[0].rom: expected a text of hexadecimal digits"},
            {R"({"devices": [{"type": "ds18b20", "silent": "yes"}]})", "x:devices[0].silent: expected true or false"},
            {R"({"devices": [{"type": "ds18b20", "temperature": "21.5"}]})",
             "x:devices[0].temperature: expected °C, or {\"mean\", \"amplitude\", \"periodS\" > 0, \"phaseS\"}"},
            {R"({"devices": [{"type": "max31850", "fault": true}]})",
             "x:devices[0].fault: expected \"none\", \"open\", \"shortGnd\" or \"shortVdd\""},
            {R"({"devices": [{"type": "max31850", "address": "3"}]})",
             "x:devices[0].address: expected a whole number from 0 to 15"},
            {R"({"devices": [{"type": "pt100emulator", "offset": 1e39}]})",
             "x:devices[0].offset: expected a number within single precision"},
            // Inside a curve, a misspelt key is no more ignored than elsewhere.
            {R"({"devices": [{"type": "ds18b20", "temperature": {"mean": 20, "amplitude": 1, "periodS": 60, "phase": 5}}]})",
             "x:devices[0].temperature.phase: unknown key for a curve (known: mean, amplitude, periodS, phaseS)"},
            {R"({"devices": [{"type": "ds28e17", "i2c": [{"type": "scd30", "co2": {"mean": 600, "amplitude": 1, "periodS": 9, "periods": 1}}]}]})",
             "x:devices[0].i2c[0].co2.periods: unknown key for a curve (known: mean, amplitude, periodS, phaseS)"},
            {R"({"devices": [{"type": "ds28e17", "i2c": [{"type": "sht3x", "nackData": "false"}]}]})",
             "x:devices[0].i2c[0].nackData: expected true or false"},
            {R"({"devices": [{"type": "ds28e17", "i2c": [{"type": 3}]}]})",
             "x:devices[0].i2c[0].type: expected an I2C chip type name (known: sht3x, "},
            {R"({"devices": [{"type": "ds28e17", "hub": {"address": 56}}]})",
             "x:devices[0].hub.address: expected 1 bytes as hexadecimal digits"},
            {R"({"devices": [{"type": "ds28e17", "hub": []}]})", "x:devices[0].hub: expected an object"},
            {R"({"devices": [{"type": "ds28e17", "i2c": [{"type": "scd30", "measuring": 0}]}]})",
             "x:devices[0].i2c[0].measuring: expected true or false"},
        };
        for (const auto &c : cases) {
            QString error;
            QVERIFY2(!SimBusLoader::load(c.json, "x", &error), c.json);
            // A list of the keys that would do ends the text; the start is enough here.
            const QString expected = QString::fromUtf8(c.error);
            if (expected.endsWith(QLatin1String("(known: ")) || expected.endsWith(QLatin1String(", ")))
                QVERIFY2(error.startsWith(expected), qPrintable(error));
            else
                QCOMPARE(error, expected);
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

    // The driver-layer faults hold for every device that has them, not only
    // for the last one listed: two devices reported twice, two unreadable.
    void everyDeviceKeepsItsFaults()
    {
        QString error;
        auto backend = SimBusLoader::load(R"({"devices": [
            {"type": "rom", "rom": "01 00 00 00 00 00 01", "reportTwice": 1},
            {"type": "rom", "rom": "01 00 00 00 00 00 02", "reportTwice": 1},
            {"type": "rom", "rom": "01 FF FF FF FF FF 7E", "failRomReads": 1},
            {"type": "rom", "rom": "01 FF FF FF FF FF 7F", "failRomReads": 1}]})",
                                          "x", &error);
        QVERIFY2(backend, qPrintable(error));
        QStringList ids;
        for (int i = 0; i < 4; ++i)
            ids << romToText(SimFixture::romId(backend->bus().device(i)->rom()), false);
        // In file order, whatever the search order.
        auto texts = [&ids](const RomList &roms) {
            QStringList list;
            for (const RomId &rom : roms)
                list << romToText(rom, false);
            std::sort(list.begin(), list.end(), [&ids](const QString &a, const QString &b) {
                return ids.indexOf(a) < ids.indexOf(b);
            });
            return list;
        };
        SimFixture f(std::move(backend));
        QCOMPARE(f.open(), 1);
        RomList first, second;
        {
            LogCapture log;
            QCOMPARE(Adapter::instance().search(first), 1);
            QCOMPARE(log.count(QStringLiteral("TMNext Find dublicate serial number")), 2);
        }
        QCOMPARE(texts(first), ids.mid(0, 2));
        LogCapture log;
        QCOMPARE(Adapter::instance().search(second), 1);
        QCOMPARE(log.count(QStringLiteral("TMNext Find dublicate serial number")), 0);
        QCOMPARE(texts(second), ids);
    }

    // Whatever the file holds, the error stays one line: control characters
    // escaped, text from the file quoted and cut short, the place named.
    void errorsStayOneShortLine()
    {
        const QByteArray huge(3000000, 'A');
        const QString cut = QLatin1Char('"') + QString(40, QLatin1Char('A')) + QStringLiteral("...\"");
        const struct
        {
            QByteArray json;
            QString start;
        } cases[] = {
            {QByteArray("{\"devices\": [{\"type\": \"rom\", \"ro\\nm\\u0007\": 1}]}"), QString("x:devices[0].\"ro\\nm\\u0007\": unknown key for a rom (known: ")},
            {QByteArray("{\"devices\": [{\"type\": \"ds18b\\r\\n20\"}]}"), QString("x:devices[0].type: unknown device type \"ds18b\\r\\n20\" (known: ")},
            {QByteArray("{\"devices\": [{\"type\": \"" + huge + "\"}]}"), QString("x:devices[0].type: unknown device type " + cut + " (known: ")},
            {QByteArray("{\"devices\": [{\"type\": \"rom\", \"rom\": \"" + huge + "\"}]}"), QString("x:devices[0].rom: expected 14 hexadecimal digits (CRC added) or 16, not " + cut)},
            {QByteArray("{\"devices\": [{\"type\": \"rom\", \"rom\": \"01 9C 44 E5 13 00 G\\t\"}]}"), QString("x:devices[0].rom: expected hexadecimal digits, not \"01 9C 44 E5 13 00 G\\t\"")},
            {QByteArray("{\"" + huge + "\": 1}"), QString("x:" + cut + ": unknown key for a bus file (known: adapter, devices)")},
            {QByteArray("{\"devices\": [{\"type\": \"ds28e17\", \"i2c\": [{\"type\": \"sht\\u001b[31m\"}]}]}"), QString("x:devices[0].i2c[0].type: unknown I2C chip type \"sht\\u001b[31m\" (known: ")},
            {QByteArray("{\"devices\": [{\"type\": \"ds18b20\",\n \"th\": 1,,}]}"), QString("x:2:")},
        };
        for (const auto &c : cases) {
            QString error;
            QVERIFY(!SimBusLoader::load(c.json, "x", &error));
            QVERIFY2(error.startsWith(c.start), qPrintable(error.left(300)));
            QVERIFY2(error.size() < 400, qPrintable(error.left(300)));
            for (const QChar ch : error)
                QVERIFY2(ch.unicode() >= 0x20 && ch.unicode() != 0x7F, qPrintable(error));
        }
        // The file's own name is shown the same way.
        QString error;
        QVERIFY(!SimBusLoader::load("[", "bus\nfile", &error));
        QVERIFY2(error.startsWith("bus\\nfile:1:2: "), qPrintable(error));
    }

    // More devices than a bus carries are refused at once, with the count;
    // so are more I2C chips than one bridge carries.
    void oversizedBusesRefused()
    {
        auto roms = [](int count) {
            QByteArrayList entries;
            for (int i = 0; i < count; ++i)
                entries << R"({"type": "rom"})";
            return "{\"devices\": [" + entries.join(',') + "]}";
        };
        QString error;
        QVERIFY2(SimBusLoader::load(roms(1000), "x", &error), qPrintable(error));
        QVERIFY(!SimBusLoader::load(roms(1001), "x", &error));
        QCOMPARE(error, QStringLiteral("x:devices: 1001 devices, more than the 1000 a simulated 1-Wire bus carries"));

        auto bridge = [](int chips) {
            QByteArrayList entries;
            for (int i = 0; i < chips; ++i)
                entries << R"({"type": "d6f", "channel": )" + QByteArray::number(i % 48) + "}";
            return R"({"devices": [{"type": "ds28e17", "hub": {}, "i2c": [)" + entries.join(',') + "]}]}";
        };
        QVERIFY2(SimBusLoader::load(bridge(392), "x", &error), qPrintable(error));
        QVERIFY(!SimBusLoader::load(bridge(393), "x", &error));
        QCOMPARE(error, QStringLiteral("x:devices[0].i2c: 393 chips, more than the 392 one bridge carries"));
    }

    // A MAX31850 below 0 °C and one far beyond its range: the chip's words
    // hold the two's complement and saturate at the ends, as the chip does.
    void thermocoupleWordsAtTheEnds()
    {
        SimCycle run(R"({"devices": [
            {"type": "max31850", "rom": "3B 01 00 00 00 00 00", "temperature": -100, "coldJunction": -20.5},
            {"type": "max31850", "rom": "3B 02 00 00 00 00 00", "temperature": 1e9, "coldJunction": 1e9},
            {"type": "max31850", "rom": "3B 03 00 00 00 00 00", "temperature": -1e300, "coldJunction": -1e300}]})");
        QVERIFY2(run.error.isEmpty(), qPrintable(run.error));
        QCOMPARE(run.openResult, 1);
        QMap<int, QString> values; // by the first serial byte
        for (const SensorDevice *d : *run.sensor.devices())
            values.insert(d->rom.value(6), QStringLiteral("%1/%2").arg(d->channels.value(0).value).arg(d->channels.value(1).value));
        // -100 °C hot against -20.5 °C cold, through the chip's linear slope
        // and back through the type K table (which the cold junction does not
        // enter); the saturated words: 2047.75 and 127.9375 °C (outside the
        // table: no hot value), -2048 and -128 °C.
        QCOMPARE(QStringList(values.values()), QStringList({"-101.57/-20.5", "nan/127.93", "nan/-128"}));
    }

    // A BMP280 far outside its range with calibration words at their ends:
    // the chip's 64-bit compensation steps saturate rather than overflow,
    // and the reading goes on (the sanitizer build checks the arithmetic).
    void pressureChipAtTheEnds()
    {
        SimCycle run(R"({"devices": [{"type": "ds28e17", "i2c": [
            {"type": "bmp280", "temperature": 1e6, "pressurePa": -1e9, "calibration":
                {"T1": 0, "T2": 32767, "T3": 32767, "P1": 65535, "P2": 32767, "P3": 32767, "P4": 32767,
                 "P5": 32767, "P6": 32767, "P7": 32767, "P8": 32767, "P9": 32767}}]},
            {"type": "ds28e17", "i2c": [{"type": "bmp280", "temperature": -1e6, "pressurePa": 1e9, "calibration":
                {"T1": 65535, "T2": -32768, "T3": -32768, "P1": 65535, "P2": -32768, "P3": -32768, "P4": -32768,
                 "P5": -32768, "P6": -32768, "P7": -32768, "P8": -32768, "P9": -32768}}]}]})");
        QVERIFY2(run.error.isEmpty(), qPrintable(run.error));
        QCOMPARE(run.openResult, 1);
        QCOMPARE(run.sensor.devices()->size(), 2);
        for (const SensorDevice *bridge : *run.sensor.devices())
            QCOMPARE(bridge->channels.size(), 2); // pressure and temperature
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
