#include "i2c/i2csensortypes.h"
#include "model/sensortraits.h"
#include "onewire/familynames.h"
#include "sensors/sensor.h"
#include "sim/simdevicefactory.h"
#include "sim/simi2cfactory.h"

#include <QtTest>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

// A new chip enters several tables that live on different floors: the
// dispatch, the family names, the bus loader and orvexctl's manual page.
// Nothing but these checks keeps them in step, nor the simulation on its floor.

namespace {

const QString kSourceDir = QStringLiteral(TEST_DATA_DIR "/../..");

// The lines of the BUS FILES section of orvexctl.1, with roff's "\-" as "-"
// and its font changes and quotes taken out.
QStringList busFilesSection()
{
    QFile file(kSourceDir + QStringLiteral("/packaging/man/orvexctl.1"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList section;
    bool inside = false;
    for (QString line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String(".SH "))) {
            inside = line == QLatin1String(".SH BUS FILES");
            continue;
        }
        if (inside) {
            line.replace(QStringLiteral("\\-"), QStringLiteral("-"));
            line.remove(QRegularExpression(QStringLiteral("\\\\f[BIRP]")));
            line.remove(QLatin1Char('"'));
            section << line;
        }
    }
    return section;
}

// The words of `text` that could be a type or key: letters, digits, "[]".
QSet<QString> wordsOf(const QString &text)
{
    QSet<QString> words;
    auto it = QRegularExpression(QStringLiteral("[A-Za-z][A-Za-z0-9]*(?:\\[\\])?")).globalMatch(text);
    while (it.hasNext()) {
        const QString word = it.next().captured(0);
        if (word != QLatin1String("B") && word != QLatin1String("BR"))
            words << word;
    }
    return words;
}

// The words of the tag lines (each right after ".TP") of the section.
QSet<QString> tagWords(const QStringList &section)
{
    QSet<QString> words;
    for (int i = 0; i + 1 < section.size(); ++i) {
        if (section.at(i) == QLatin1String(".TP"))
            words += wordsOf(section.at(i + 1));
    }
    return words;
}

// The I2C chip types of the section: the list on the line after ".B type"
// in the paragraph tagged "i2c[]".
QSet<QString> i2cTypeWords(const QStringList &section)
{
    const int tag = section.indexOf(QStringLiteral(".B i2c[]"));
    if (tag < 1 || section.at(tag - 1) != QLatin1String(".TP"))
        return {};
    for (int i = tag + 1; i + 1 < section.size() && section.at(i) != QLatin1String(".TP"); ++i) {
        if (section.at(i) == QLatin1String(".B type"))
            return wordsOf(section.at(i + 1));
    }
    return {};
}

QString listed(const QSet<QString> &words)
{
    QStringList list = words.values();
    list.sort();
    return list.join(QStringLiteral(", "));
}

} // namespace

class TstChipTables : public QObject
{
    Q_OBJECT
private slots:
    // Scan, the log and MQTT describe a device by its family: every family
    // the dispatch knows, and every family a simulated chip gets by default,
    // has a name (else it shows as "Unknown device").
    void everyFamilyHasAName()
    {
        const QString unknown = FamilyNames::describe(-1);
        int known = 0;
        for (int code = 0; code <= 0xFF; ++code) {
            if (!Sensor::findFamily(uint8_t(code)))
                continue;
            ++known;
            QVERIFY2(FamilyNames::describe(code) != unknown,
                     qPrintable(QStringLiteral("family %1 is read but has no name in src/onewire/familynames.cpp")
                                    .arg(code, 2, 16, QLatin1Char('0'))));
        }
        QVERIFY(known >= 4);
        for (const QString &type : SimDeviceFactory::types()) {
            QVERIFY2(FamilyNames::describe(SimDeviceFactory::defaultFamily(type)) != unknown,
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

    // The manual page lists exactly the chip types the bus loader builds, and
    // names every key they read.
    void manPageListsEveryChipTypeAndKey()
    {
        const QStringList section = busFilesSection();
        QVERIFY(section.size() > 10);

        const QStringList types = SimDeviceFactory::types();
        const QSet<QString> typeSet(types.begin(), types.end());
        const QSet<QString> tags = tagWords(section) - QSet<QString>{QStringLiteral("adapter"), QStringLiteral("devices[]"),
                                                                     QStringLiteral("i2c[]"), QStringLiteral("The")};
        QVERIFY2(tags == typeSet, qPrintable(QStringLiteral("orvexctl.1 lists %1; the bus loader has %2")
                                                 .arg(listed(tags), listed(typeSet))));

        const QStringList i2cTypes = SimI2cFactory::types();
        const QSet<QString> i2cTypeSet(i2cTypes.begin(), i2cTypes.end());
        const QSet<QString> i2cListed = i2cTypeWords(section);
        QVERIFY2(i2cListed == i2cTypeSet, qPrintable(QStringLiteral("orvexctl.1 lists the I2C chips %1; the bus loader has %2")
                                                         .arg(listed(i2cListed), listed(i2cTypeSet))));

        const QSet<QString> words = wordsOf(section.join(QLatin1Char('\n')));
        QStringList keys = SimI2cFactory::commonKeys();
        for (const QString &type : types)
            keys += SimDeviceFactory::keys(type);
        for (const QString &type : i2cTypes)
            keys += SimI2cFactory::keys(type);
        QVERIFY(keys.size() > 40);
        for (const QString &key : qAsConst(keys))
            QVERIFY2(words.contains(key), qPrintable(key + QStringLiteral(" is not in orvexctl.1's BUS FILES")));
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
