#include "onewire/adapter.h"
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
};

QTEST_APPLESS_MAIN(TstBusFile)
#include "tst_busfile.moc"
