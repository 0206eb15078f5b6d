#include "sim/simbackend.h"
#include "session/busoption.h"
#include "session/masterregistry.h"

#include <QtTest>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

namespace {

const QString kSourceDir = QStringLiteral(TEST_DATA_DIR "/../..");

QString sourceText(const QString &path)
{
    QFile file(kSourceDir + QLatin1Char('/') + path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

// A bus value as a manual page writes it (".BI usb: BUS\-PORT\fR,"), as typed.
QString manValue(QString line)
{
    line.remove(QRegularExpression(QStringLiteral("^\\.B[IR]? ")));
    line.remove(QStringLiteral("\\fR"));
    line.replace(QStringLiteral("\\-"), QStringLiteral("-"));
    line.remove(QRegularExpression(QStringLiteral("[\\s,.]+$")));
    line.remove(QLatin1Char(' '));
    return line;
}

const QRegularExpression kValueShape(QStringLiteral("^[a-z0-9]+(:[A-Z][A-Z-]*)?$"));

// The first column of every Markdown table that has a row for `sim`, in
// README.md and the documents under docs/: the tables of bus values.
QList<QStringList> busTables()
{
    QStringList files{QStringLiteral("README.md")};
    QDirIterator it(kSourceDir + QStringLiteral("/docs"), {QStringLiteral("*.md")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(kSourceDir).relativeFilePath(it.next());
    QList<QStringList> tables;
    const QRegularExpression row(QStringLiteral("^\\|\\s*`([^`]*)`\\s*\\|"));
    for (const QString &name : files) {
        QStringList column;
        bool hasSim = false;
        const QStringList lines = sourceText(name).split(QLatin1Char('\n'));
        for (int i = 0; i <= lines.size(); ++i) {
            const QString line = lines.value(i);
            if (line.startsWith(QLatin1Char('|'))) {
                const QRegularExpressionMatch m = row.match(line);
                if (m.hasMatch()) {
                    column << m.captured(1);
                    hasSim = hasSim || m.captured(1) == QLatin1String("sim");
                }
                continue;
            }
            if (hasSim)
                tables << column;
            column.clear();
            hasSim = false;
        }
    }
    return tables;
}

} // namespace

class TstMasterRegistry : public QObject
{
    Q_OBJECT
private slots:
    // What the parser, the usage and the default choice rely on: prefixes
    // distinct, every form the prefix alone or "prefix:PLACEHOLDER" with a
    // one-line text, everything callable, one clear order of the default
    // choice that ends with a master that always has an answer (the demo bus).
    void entriesAreWellFormed()
    {
        QSet<QString> prefixes;
        QSet<int> places;
        for (const MasterEntry &entry : MasterRegistry::entries()) {
            QVERIFY2(!prefixes.contains(entry.prefix), qPrintable(entry.prefix));
            prefixes << entry.prefix;
            QVERIFY(entry.open);
            QVERIFY(!entry.forms.isEmpty());
            for (const MasterEntry::Form &form : entry.forms) {
                QVERIFY2(kValueShape.match(form.value).hasMatch(), qPrintable(form.value));
                QCOMPARE(form.value.section(QLatin1Char(':'), 0, 0), entry.prefix);
                QVERIFY2(!form.usage.isEmpty() && !form.usage.contains(QLatin1Char('\n')), qPrintable(form.value));
            }
            if (entry.defaultPlace > 0) {
                QVERIFY(entry.choose && !entry.defaultUsage.isEmpty());
                QVERIFY2(!places.contains(entry.defaultPlace), qPrintable(entry.prefix));
                places << entry.defaultPlace;
            }
        }
        QCOMPARE(MasterRegistry::defaultOrder().last()->prefix, QStringLiteral("sim"));
    }

    // The registry reads a value as before: the prefix alone only where a
    // form allows it, an argument only when one follows the colon.
    void findsTheMasterOfAValue()
    {
        const QList<QPair<QString, QString>> taken{{"sim", ""}, {"sim:a.json", "a.json"}, {"tmex", ""},
                                                   {"tmex:/x/y:z.so", "/x/y:z.so"}, {"serial:/dev/ttyS0", "/dev/ttyS0"},
                                                   {"usb", ""}, {"usb:1-2.3", "1-2.3"}};
        for (const auto &value : taken) {
            QString argument = QStringLiteral("stale");
            const MasterEntry *entry = MasterRegistry::find(value.first, &argument);
            QVERIFY2(entry, qPrintable(value.first));
            QCOMPARE(entry->prefix, value.first.section(QLatin1Char(':'), 0, 0));
            QCOMPARE(argument, value.second);
        }
        for (const char *value : {"serial", "sim:", "usb:", "simx", "SIM", "", ":sim"}) {
            QString argument;
            QVERIFY2(!MasterRegistry::find(QString::fromLatin1(value), &argument), value);
        }
        QString error;
        QVERIFY(dynamic_cast<SimBackend *>(BusOption::open(QStringLiteral("sim"), &error).get()));
        QVERIFY(!BusOption::open(QStringLiteral("serial"), &error));
        QCOMPARE(error, QStringLiteral("--bus=serial: unknown bus (expected sim, sim:FILE, tmex, tmex:PATH, "
                                       "serial:PORT, usb, usb:SERIAL, usb:BUS-PORT, w1 or w1:MASTER)"));
    }

    // Every --bus value in order (the last one is the one value()); the
    // environment only when none is given, and an empty one is no choice.
    void valuesKeepTheirOrder()
    {
        const QByteArray saved = qgetenv("ORVEX_BUS");
        qputenv("ORVEX_BUS", "usb");
        const QStringList args{"read", "--bus=sim:a.json", "--cycles", "2", "--bus=", "--bus=serial:/dev/ttyS0"};
        QCOMPARE(BusOption::values(args), QStringList({"sim:a.json", "", "serial:/dev/ttyS0"}));
        QCOMPARE(BusOption::value(args), QStringLiteral("serial:/dev/ttyS0"));
        QCOMPARE(BusOption::values({"read"}), QStringList{"usb"});
        QCOMPARE(BusOption::value({"read"}), QStringLiteral("usb"));
        qputenv("ORVEX_BUS", "");
        QCOMPARE(BusOption::values({"read", "--bus"}), QStringList());
        QCOMPARE(BusOption::value({"read"}), QString());
        qputenv("ORVEX_BUS", saved);
    }

    // The documentation lists what the registry has, in its order: the
    // manual's BUS VALUES, the window's --bus paragraph and the README's (or
    // the guide's) table of bus values. A master added without its
    // documentation fails here.
    void documentationListsEveryValue()
    {
        const QStringList forms = MasterRegistry::forms();

        const QString ctlPage = sourceText(QStringLiteral("packaging/man/orvexctl.1"));
        const int from = ctlPage.indexOf(QStringLiteral("\n.SH BUS VALUES\n"));
        QVERIFY(from >= 0);
        const QStringList ctlLines = ctlPage.mid(from + 1).section(QStringLiteral("\n.SH "), 0, 0).split(QLatin1Char('\n'));
        QStringList ctlValues;
        for (int i = 0; i + 1 < ctlLines.size(); ++i) {
            if (ctlLines.at(i) == QLatin1String(".TP"))
                ctlValues << manValue(ctlLines.at(i + 1));
        }
        QCOMPARE(ctlValues, forms);

        const QString windowPage = sourceText(QStringLiteral("packaging/man/orvex.1"));
        const int option = windowPage.indexOf(QStringLiteral("\n.BI \\-\\-bus= VALUE\n"));
        QVERIFY(option >= 0);
        QStringList windowValues;
        for (const QString &line : windowPage.mid(option + 1).section(QStringLiteral("\n.TP"), 0, 0).split(QLatin1Char('\n'))) {
            const QString value = manValue(line);
            if (line.startsWith(QLatin1String(".B")) && kValueShape.match(value).hasMatch())
                windowValues << value;
        }
        QCOMPARE(windowValues, forms);

        const QList<QStringList> tables = busTables();
        QVERIFY(!tables.isEmpty());
        for (const QStringList &table : tables)
            QCOMPARE(table, forms);
    }

    // A master that opens USB devices itself needs the udev rules to let the
    // operator at them.
    void udevRulesCoverTheUsbMasters()
    {
        const QString rules = sourceText(QStringLiteral("packaging/udev/60-orvex.rules"));
        QSet<QString> granted;
        const QRegularExpression device(QStringLiteral("ATTRS?\\{idVendor\\}==\"([0-9a-f]{4})\".*ATTRS?\\{idProduct\\}==\"([0-9a-f]{4})\""));
        for (const QString &line : rules.split(QLatin1Char('\n'))) {
            const QRegularExpressionMatch m = device.match(line);
            if (!line.startsWith(QLatin1Char('#')) && m.hasMatch() && line.contains(QLatin1String("uaccess")))
                granted << m.captured(1) + QLatin1Char(':') + m.captured(2);
        }
        int ids = 0;
        for (const MasterEntry &entry : MasterRegistry::entries()) {
            for (const QString &id : entry.usbIds) {
                QVERIFY2(granted.contains(id), qPrintable(id + QStringLiteral(" has no udev rule")));
                ++ids;
            }
        }
        QVERIFY(ids > 0);
    }
};

QTEST_GUILESS_MAIN(TstMasterRegistry)
#include "tst_masterregistry.moc"
