#include "onewire/adapter.h"
#include "sensors/sensor.h"
#include "sim/simbusloader.h"
#include "sim/simdevice.h"
#include "support/logcapture.h"
#include "support/simcycle.h"
#include "support/simfixture.h"

#include <QtTest>

namespace {

// A bus of `count` plain ROM chips.
QByteArray romBus(int count)
{
    QByteArrayList entries;
    for (int i = 0; i < count; ++i)
        entries << R"({"type": "rom"})";
    return "{\"devices\": [" + entries.join(',') + "]}";
}

// One bridge with a hub and `chips` I2C chips spread over its channels.
QByteArray bridgeBus(int chips)
{
    QByteArrayList entries;
    for (int i = 0; i < chips; ++i)
        entries << R"({"type": "d6f", "channel": )" + QByteArray::number(i % 48) + "}";
    return R"({"devices": [{"type": "ds28e17", "hub": {}, "i2c": [)" + entries.join(',') + "]}]}";
}

} // namespace

class TstBusFile : public QObject
{
    Q_OBJECT
private slots:
    // Every refusal is one short line: the file, where (line:column, or the
    // path of the entry), what was expected; control characters escaped,
    // text from the file quoted and cut. A misspelt key or a value of the
    // wrong kind is never ignored. (Wrong kinds and unknown keys at every
    // place of the demo bus are the fuzz test's; these are the rest.)
    void refusals_data()
    {
        QTest::addColumn<QByteArray>("json");  // "@name": that file; one device entry: a bus of it alone
        QTest::addColumn<QString>("name");     // the name the text is loaded under
        QTest::addColumn<QString>("expected"); // ending in "(known: ", ", " or ":": its start; empty: loads
        const struct { const char *json, *expected; } cases[] = {
            {"@syntax.json", ":5:"},
            {"@unknowntype.json", ":devices[1].type: unknown device type \"thermometer\" (known: "},
            // 14 digits with the CRC added equal the same ROM written with its CRC.
            {"@duplicaterom.json", ":devices[2].rom: the same ROM is already on the bus"},
            {"@badvalue.json", ":adapter.setupResult: expected a whole number from 1 to 2"},
            {"@absent.json", ": cannot read the bus file: No such file or directory"},
            {"[]", "x:1:1: the description must be a JSON object"},
            {R"({"adapter": {"overdrive": "false"}})", "x:adapter.overdrive: expected true or false"},
            {R"({"devices": [{"rom": "28 FF 64 1E 1D 16 03"}]})", "x:devices[0].type: missing device type (known: "},
            {R"({"type": "rom", "missSearches": 1.5})", "x:devices[0].missSearches: expected a whole number from 0 to 1000000"},
            {R"({"type": "ds18s20", "resolution": 9})", "x:devices[0].resolution: unknown key for a ds18s20 (known: "},
            {R"({"type": "ds18b20", "resolution": 13})", "x:devices[0].resolution: expected a whole number from 9 to 12"},
            {R"({"type": "ds18s20", "scratchpad": "1234"})", "x:devices[0].scratchpad: expected 8 bytes as hexadecimal digits"},
            {R"({"type": "ds18s20", "temperature": {"mean": 1, "amplitude": 2, "periodS": 0}})",
             "x:devices[0].temperature.periodS: expected a number of seconds above 0"},
            {R"({"type": "max31850", "fault": "melted"})", "x:devices[0].fault: expected \"none\", \"open\", \"shortGnd\" or \"shortVdd\""},
            {R"({"type": "max31850", "address": "3"})", "x:devices[0].address: expected a whole number from 0 to 15"},
            {R"({"type": "pt100emulator", "offset": 1e39})", "x:devices[0].offset: expected a number within single precision"},
            {R"({"type": "pt100emulator", "subtypeCode": 256})", "x:devices[0].subtypeCode: expected a whole number from 0 to 255"},
            // Bridges: the hub and the I2C chips are checked as strictly, with their path.
            {R"({"type": "ds28e17", "hub": {"refuseChannels": [1, -2]}})",
             "x:devices[0].hub.refuseChannels: expected a list of whole numbers from 0 to 255"},
            {R"({"type": "ds28e17", "hub": {"address": "80"}})", "x:devices[0].hub.address: a 7-bit I2C address is 00 to 7F"},
            {R"({"type": "ds28e17", "i2c": [{"type": "sht3x"}, {"type": "sts3x", "humidity": 40}]})",
             "x:devices[0].i2c[1].humidity: unknown key for a sts3x (known: "},
            {R"({"type": "ds28e17", "i2c": [{"type": "sht3x", "rawTemperature": "12"}]})",
             "x:devices[0].i2c[0].rawTemperature: expected a whole number from 0 to 65535"},
            {R"({"type": "ds28e17", "i2c": [{"type": "sht4x"}]})",
             "x:devices[0].i2c[0].type: unknown I2C chip type \"sht4x\" (known: sht3x, sts3x, hdc1080, bmp280, d6f, scd30)"},
            {R"({"type": "ds28e17", "i2c": [{"type": "d6f", "channel": 3}]})", "x:devices[0].i2c[0].channel: the bridge has no hub"},
            {R"({"type": "ds28e17", "hub": {}, "i2c": [{"type": "d6f", "channel": 48}]})",
             "x:devices[0].i2c[0].channel: expected a whole number from 0 to 47"},
            {R"({"type": "ds28e17", "hub": {}, "i2c": [{"type": "d6f", "channel": 1, "moveTo": 2}]})",
             "x:devices[0].i2c[0].moveTo: needs \"channel\" and \"moveAfterCycles\""},
            {R"({"type": "ds28e17", "i2c": [{"type": "bmp280", "calibration": {"P10": 1}}]})",
             "x:devices[0].i2c[0].calibration.P10: unknown key for the BMP280 calibration (known: T1, T2, "},
            {R"({"type": "ds28e17", "i2c": [{"type": "bmp280", "calibration": {"P1": 70000}}]})",
             "x:devices[0].i2c[0].calibration.P1: expected a whole number from 0 to 65535"},
            {R"({"type": "ds28e17", "i2c": [{"type": "hdc1080", "humidity": {"mean": 40}}]})",
             "x:devices[0].i2c[0].humidity.amplitude: missing (a curve has \"mean\", \"amplitude\" and \"periodS\")"},
            // Control characters in the file stay escaped in the one line.
            {R"({"type": "rom", "ro\nm\u0007": 1})", R"(x:devices[0]."ro\nm\u0007": unknown key for a rom (known: )"},
            {R"({"type": "ds18b\r\n20"})", R"(x:devices[0].type: unknown device type "ds18b\r\n20" (known: )"},
            {"{\"devices\": [{\"type\": \"ds18b20\",\n \"th\": 1,,}]}", "x:2:"},
        };
        for (const auto &c : cases) {
            QByteArray json(c.json);
            if (json.startsWith("{\"type\""))
                json = "{\"devices\": [" + json + "]}";
            QTest::newRow(c.expected) << json << "x" << QString::fromUtf8(c.expected);
        }
        // Quoted text from the file is cut; so are a key in the place and the file's own name.
        const QByteArray huge(3000000, 'A');
        const QString cut = '"' + QString(40, 'A') + "...\"";
        QTest::newRow("huge type") << "{\"devices\": [{\"type\": \"" + huge + "\"}]}" << "x"
                                   << "x:devices[0].type: unknown device type " + cut + " (known: ";
        QTest::newRow("huge rom") << "{\"devices\": [{\"type\": \"rom\", \"rom\": \"" + huge + "\"}]}" << "x"
                                  << "x:devices[0].rom: expected 14 hexadecimal digits (CRC added) or 16, not " + cut;
        QTest::newRow("huge key") << "{\"" + huge + "\": 1}" << "x"
                                  << "x:" + cut + ": unknown key for a bus file (known: adapter, devices)";
        QTest::newRow("file name") << QByteArray("[") << "bus\nfile" << "bus\\nfile:1:2:";
        // More devices than a bus carries are refused at once, with the
        // count; so are more I2C chips than one bridge carries.
        QTest::newRow("1000 devices") << romBus(1000) << "x" << QString();
        QTest::newRow("1001 devices") << romBus(1001) << "x"
                                      << "x:devices: 1001 devices, more than the 1000 a simulated 1-Wire bus carries";
        QTest::newRow("392 chips") << bridgeBus(392) << "x" << QString();
        QTest::newRow("393 chips") << bridgeBus(393) << "x"
                                   << "x:devices[0].i2c: 393 chips, more than the 392 one bridge carries";
    }
    void refusals()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QString error;
        bool loaded;
        if (json.startsWith('@')) {
            name = SimFixture::busFile(QString::fromUtf8(json.mid(1)));
            expected.prepend(name);
            loaded = SimBusLoader::loadFile(name, &error) != nullptr;
        } else {
            loaded = SimBusLoader::load(json, name, &error) != nullptr;
        }
        QVERIFY2(loaded == expected.isEmpty(), qPrintable(error.left(300)));
        if (expected.endsWith(QLatin1String("(known: ")) || expected.endsWith(QLatin1String(", "))
            || expected.endsWith(QLatin1Char(':')))
            QVERIFY2(error.startsWith(expected), qPrintable(error.left(300)));
        else
            QCOMPARE(error, expected);
        QVERIFY2(error.size() < 400, qPrintable(error.left(300)));
        for (const QChar ch : error)
            QVERIFY2(ch.unicode() >= 0x20 && ch.unicode() != 0x7F, qPrintable(error));
    }

    // The adapter's set-up answer and the default ROMs of a file reach the
    // bus: the silent device never appears, the other four have valid ROMs
    // that differ. (The fault keys of the devices are the faults bus of
    // tst_sameoutput.)
    void faultsTakeEffect()
    {
        QString error;
        auto backend = SimBusLoader::loadFile(SimFixture::busFile("faults.json"), &error);
        QVERIFY2(backend, qPrintable(error));
        QCOMPARE(backend->bus().deviceCount(), 5);
        SimFixture f(std::move(backend));
        QCOMPARE(f.open(), 1);
        QCOMPARE(f.backend().traffic().at(3).result, 2); // TMSetup after the new session
        RomList first, second;
        f.adapter.search(first);
        f.adapter.search(second);
        QCOMPARE(second.size(), 4);
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
        // The file's positions of the devices found.
        RomList ids;
        for (int i = 0; i < 4; ++i)
            ids << SimFixture::romId(backend->bus().device(i)->rom());
        auto positions = [&ids](const RomList &roms) {
            QList<int> list;
            for (const RomId &rom : roms)
                list << ids.indexOf(rom);
            std::sort(list.begin(), list.end());
            return list;
        };
        SimFixture f(std::move(backend));
        QCOMPARE(f.open(), 1);
        RomList first, second;
        {
            LogCapture log;
            QCOMPARE(f.adapter.search(first), 1);
            QCOMPARE(log.count(QStringLiteral("TMNext Find dublicate serial number")), 2);
        }
        QCOMPARE(positions(first), QList<int>({0, 1}));
        LogCapture log;
        QCOMPARE(f.adapter.search(second), 1);
        QCOMPARE(log.count(QStringLiteral("TMNext Find dublicate serial number")), 0);
        QCOMPARE(positions(second), QList<int>({0, 1, 2, 3}));
    }

    // Chips far outside their range, through one cycle. A MAX31850 below
    // 0 °C and two beyond their range: the words hold the two's complement
    // and saturate at the ends, as the chip does. BMP280s with calibration
    // words at their ends: the 64-bit compensation steps saturate rather
    // than overflow, and the reading goes on (the sanitizer build checks the
    // arithmetic).
    void chipsAtTheEnds()
    {
        SimCycle run(R"({"devices": [
            {"type": "max31850", "rom": "3B 01 00 00 00 00 00", "temperature": -100, "coldJunction": -20.5},
            {"type": "max31850", "rom": "3B 02 00 00 00 00 00", "temperature": 1e9, "coldJunction": 1e9},
            {"type": "max31850", "rom": "3B 03 00 00 00 00 00", "temperature": -1e300, "coldJunction": -1e300},
            {"type": "ds28e17", "i2c": [
            {"type": "bmp280", "temperature": 1e6, "pressurePa": -1e9, "calibration":
                {"T1": 0, "T2": 32767, "T3": 32767, "P1": 65535, "P2": 32767, "P3": 32767, "P4": 32767,
                 "P5": 32767, "P6": 32767, "P7": 32767, "P8": 32767, "P9": 32767}}]},
            {"type": "ds28e17", "i2c": [{"type": "bmp280", "temperature": -1e6, "pressurePa": 1e9, "calibration":
                {"T1": 65535, "T2": -32768, "T3": -32768, "P1": 65535, "P2": -32768, "P3": -32768, "P4": -32768,
                 "P5": -32768, "P6": -32768, "P7": -32768, "P8": -32768, "P9": -32768}}]}]})");
        QVERIFY2(run.error.isEmpty(), qPrintable(run.error));
        QCOMPARE(run.openResult, 1);
        QMap<int, QString> values; // thermocouples by the first serial byte
        for (const SensorDevice *d : *run.sensor().devices()) {
            if (d->family == 0x19)
                QCOMPARE(d->channels.size(), 2); // pressure and temperature
            else
                values.insert(d->rom.value(6),
                              QStringLiteral("%1/%2").arg(d->channels.value(0).value).arg(d->channels.value(1).value));
        }
        // -100 °C hot against -20.5 °C cold, through the chip's linear slope
        // and back through the type K table (which the cold junction does not
        // enter); the saturated words: 2047.75 and 127.9375 °C (outside the
        // table: no hot value), -2048 and -128 °C.
        QCOMPARE(QStringList(values.values()), QStringList({"-101.57/-20.5", "nan/127.93", "nan/-128"}));
        QCOMPARE(run.sensor().devices()->size(), 5);
    }
};

QTEST_MAIN(TstBusFile)
#include "tst_busfile.moc"
