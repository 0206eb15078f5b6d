#include "i2c/i2csensortypes.h"
#include "model/sensortraits.h"
#include "sensors/sensor.h"
#include "sim/simdevicefactory.h"
#include "sim/simi2cfactory.h"

#include <QtTest>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

// A new chip enters several tables that live on different floors: the
// dispatch, the bus loader and the bus-file reference.
// Nothing but these checks keeps them in step, nor the simulation on its floor.

namespace {

const QString kSourceDir = QStringLiteral(TEST_DATA_DIR "/../..");

// What docs/bus-files.md names in backticks: every word of every `code span`.
QSet<QString> documentedWords()
{
    QFile file(kSourceDir + QStringLiteral("/docs/bus-files.md"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QSet<QString> words;
    auto spans = QRegularExpression(QStringLiteral("`([^`\\n]+)`")).globalMatch(QString::fromUtf8(file.readAll()));
    while (spans.hasNext()) {
        auto it = QRegularExpression(QStringLiteral("[A-Za-z][A-Za-z0-9]*")).globalMatch(spans.next().captured(1));
        while (it.hasNext())
            words << it.next().captured(0);
    }
    return words;
}

} // namespace

class TstChipTables : public QObject
{
    Q_OBJECT
private slots:
    // Scan, the log and MQTT describe a device by its family: every family
    // the dispatch knows, and every family a simulated chip gets by default,
    // has a name (else it shows as "Unknown device"): the catalogue's, or a
    // driver's chip name.
    void everyFamilyHasAName()
    {
        const QString unknown = Sensor::describeFamily(-1);
        int known = 0;
        for (int code = 0; code <= 0xFF; ++code) {
            if (!Sensor::findFamily(uint8_t(code)))
                continue;
            ++known;
            QVERIFY2(Sensor::describeFamily(code) != unknown,
                     qPrintable(QStringLiteral("family %1 is read but has no name")
                                    .arg(code, 2, 16, QLatin1Char('0'))));
        }
        QVERIFY(known >= 4);
        for (const QString &type : SimDeviceFactory::types()) {
            QVERIFY2(Sensor::describeFamily(SimDeviceFactory::defaultFamily(type)) != unknown,
                     qPrintable(type + QStringLiteral(": its default family has no name")));
        }
    }

    // Every driver can be tried without hardware: each family the dispatch
    // reads has a simulated chip of that family in the bus loader, and each
    // I2C driver a simulated chip named after it.
    void everyDriverHasASimulatedChip()
    {
        QSet<int> simulatedFamilies;
        for (const QString &type : SimDeviceFactory::types())
            simulatedFamilies << SimDeviceFactory::defaultFamily(type);
        for (int code = 0; code <= 0xFF; ++code) {
            const Sensor::Family *family = Sensor::findFamily(uint8_t(code));
            if (family && family->read) {
                QVERIFY2(simulatedFamilies.contains(code),
                         qPrintable(QStringLiteral("family %1 has no bus-file type").arg(code, 2, 16, QLatin1Char('0'))));
            }
        }

        const QStringList i2cTypes = SimI2cFactory::types();
        QVERIFY(!i2cSensorTypes().isEmpty());
        for (const I2cSensorType &type : i2cSensorTypes()) {
            const QString chip = QString::fromLatin1(type.traits->name).toLower();
            QVERIFY2(i2cTypes.contains(chip), qPrintable(chip + QStringLiteral(" has no bus-file type")));
        }
    }

    // The bus-file reference documents every chip type the bus loader
    // builds and every key they read (orvexctl's manual page sends the reader
    // there and to `orvexctl types`, which lists them from the loader itself).
    void referenceDocumentsEveryChipTypeAndKey()
    {
        const QSet<QString> documented = documentedWords();
        QVERIFY(documented.size() > 40);
        QStringList names = SimDeviceFactory::types() + SimI2cFactory::types() + SimI2cFactory::commonKeys();
        for (const QString &type : SimDeviceFactory::types())
            names += SimDeviceFactory::keys(type);
        for (const QString &type : SimI2cFactory::types())
            names += SimI2cFactory::keys(type);
        QVERIFY(names.size() > 50);
        QStringList missing;
        for (const QString &name : qAsConst(names)) {
            if (!documented.contains(name))
                missing << name;
        }
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QStringLiteral(", ")) + QStringLiteral(" not in docs/bus-files.md")));
    }

    // The simulated master and its chips are built on the master interface
    // alone, never on the drivers they stand in front of: src/sim includes
    // from sim/, bus/ and base/ only.
    void simulationNeedsOnlyTheBus()
    {
        const QDir dir(kSourceDir + QStringLiteral("/src/sim"));
        const QStringList files = dir.entryList({QStringLiteral("*.h"), QStringLiteral("*.cpp")}, QDir::Files);
        QVERIFY(files.size() > 40);
        const QRegularExpression include(QStringLiteral("^#include \"([a-z]+)/"), QRegularExpression::MultilineOption);
        for (const QString &name : files) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::ReadOnly));
            auto it = include.globalMatch(QString::fromUtf8(file.readAll()));
            while (it.hasNext()) {
                const QString floor = it.next().captured(1);
                QVERIFY2(floor == QLatin1String("sim") || floor == QLatin1String("bus") || floor == QLatin1String("base"),
                         qPrintable(name + QStringLiteral(" includes from ") + floor + QStringLiteral("/")));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TstChipTables)
#include "tst_chiptables.moc"
