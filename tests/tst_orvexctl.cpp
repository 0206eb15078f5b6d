#include "onewire/adapter.h"
#include "onewire/familynames.h"
#include "sim/simbusloader.h"
#include "support/orvexctlrun.h"
#include "support/simfixture.h"

#include <QDir>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Run
{
    int exitCode = -1;
    QStringList out; // lines, without the final empty one
    QStringList err;
};

QStringList lines(const QByteArray &text)
{
    QStringList list = QString::fromUtf8(text).split('\n');
    if (!list.isEmpty() && list.last().isEmpty())
        list.removeLast();
    return list;
}

// Runs orvexctl with a clean bus environment plus `env` ("NAME=value").
Run orvexctl(const QStringList &args, const QStringList &env = {})
{
    const OrvexctlRun r = runOrvexctl(QStringLiteral(ORVEXCTL_BIN), args, env, 30000);
    Run run;
    run.exitCode = r.exitCode;
    if (r.exitCode != -1) {
        run.out = lines(r.out);
        run.err = lines(r.err);
    }
    return run;
}

QString busFile(const char *name)
{
    return QStringLiteral(TEST_DATA_DIR "/buses/") + QLatin1String(name);
}

// Checks the ROM lines of a scan: bus-order text, reversed text, family
// description, two blanks apart; returns the ROMs in bus order. The indented
// lines that describe what answers behind a bridge are left out.
QStringList romLines(const QStringList &out)
{
    QStringList roms;
    const QRegularExpression format("^([0-9A-F]{16})  ([0-9A-F]{16})  (.+)$");
    for (const QString &line : out) {
        if (line.startsWith("    "))
            continue;
        const QRegularExpressionMatch m = format.match(line);
        if (!m.hasMatch())
            return {QStringLiteral("bad line: ") + line};
        QString reversed;
        for (int i = 14; i >= 0; i -= 2)
            reversed += m.captured(1).mid(i, 2);
        if (m.captured(2) != reversed || m.captured(3) != FamilyNames::describe(m.captured(1).left(2).toInt(nullptr, 16)))
            return {QStringLiteral("bad line: ") + line};
        roms << m.captured(1);
    }
    return roms;
}

} // namespace

class TstOrvexctl : public QObject
{
    Q_OBJECT
private slots:
    void scanDemoBus()
    {
        // What the search finds on the demo bus in this process.
        QStringList expected;
        QString status;
        {
            SimFixture f(SimBusLoader::loadDemo(nullptr));
            QCOMPARE(f.open(), 1);
            status = Adapter::instance().statusText();
            RomList roms;
            Adapter::instance().search(roms);
            for (const RomId &rom : roms)
                expected << romToText(rom, false);
            // Every chip on the demo bus has a valid ROM, the identity chip among them.
            QCOMPARE(roms.size(), f.bus().deviceCount());
            QVERIFY(!Adapter::findAdapterSerial(roms, true).isEmpty());
        }
        const Run run = orvexctl({"scan", "--bus=sim"});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.err.isEmpty());
        QVERIFY(!run.out.isEmpty());
        QCOMPARE(run.out.first(), status);
        QVERIFY(status.startsWith("Adapter found, No error; Info: OverDrive "));
        QCOMPARE(romLines(run.out.mid(1)), expected);

        // Each bridge is followed by its sensors: hub channel, address byte, serial, channel types.
        const int bridge = run.out.indexOf(QRegularExpression("^195C2E810B0000A9  .*"));
        QVERIFY(bridge > 0);
        const QStringList behind = run.out.mid(bridge + 1, 6);
        QCOMPARE(behind.first(), QStringLiteral("    hub channel 0  I2C address 0x88  I2C serial DEF079C51214A43  "
                                                "SHT3x temperature channel, SHT3x humidity channel"));
        QStringList hubChannels;
        for (const QString &line : behind)
            hubChannels << line.section(' ', 6, 6);
        QCOMPARE(hubChannels, QStringList({"0", "2", "3", "6", "8", "9"}));
        QCOMPARE(behind.at(4), QStringLiteral("    hub channel 8  I2C address 0xD8  I2C serial -  "
                                              "D6F OMRON pressure channel, D6F OMRON temperature channel"));
        const int single = run.out.indexOf(QRegularExpression("^19A73D520C0000E2  .*"));
        QVERIFY(single > 0);
        QVERIFY(run.out.value(single + 1).startsWith("    hub channel 0  I2C address 0x80  I2C serial C2011779480  HDC1080"));
        QVERIFY(!run.out.value(single + 2).startsWith("    "));
    }

    void busFromEnvironmentAndUnplugged()
    {
        const QString unplugged = QStringLiteral("ORVEX_BUS=sim:") + busFile("unplugged.json");
        Run run = orvexctl({"scan"}, {unplugged});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.out.size(), 2);
        QVERIFY(run.out.at(0).startsWith("Error TMSetup session="));
        QCOMPARE(run.out.at(1), QStringLiteral("Adapter not found"));
        QVERIFY(run.err.isEmpty());

        // The option wins over the environment.
        run = orvexctl({"scan", "--bus=sim"}, {unplugged});
        QCOMPARE(run.exitCode, 0);
    }

    // The operator's stored scan options apply: with "all types" off the
    // first recognised family (the demo bus's DS18S20) is the only one read.
    void readHonoursStoredScanOptions()
    {
        QTemporaryDir config;
        QDir(config.path()).mkpath(QStringLiteral("Tresvant"));
        QFile ini(config.path() + QStringLiteral("/Tresvant/Орвекс.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[Settings]\nScanAllType=false\n");
        ini.close();
        const Run locked = orvexctl({"read", "--bus=sim", "--fast"}, {"XDG_CONFIG_HOME=" + config.path()});
        QCOMPARE(locked.exitCode, 0);
        QCOMPARE(locked.out.size(), 1);
        QVERIFY(locked.out.first().contains(QLatin1String("DS18S20 Temperature sensor")));
        const Run all = orvexctl({"read", "--bus=sim", "--fast"}, {"XDG_CONFIG_HOME=" + config.path() + "/none"});
        QCOMPARE(all.out.size(), 22); // 8 channels of 1-Wire chips, 12 + 2 behind the bridges
        // The I2C channels: ROM, subchannel, hub channel, I2C serial, type, value, unit.
        for (const char *line : {R"(^1\tA900000B812E5C19\t2\t9\t2D9F 4C1E0A5B44761C07\tSDC30 humidity channel\t\d+\.\d\d\t%RH$)",
                                 R"(^1\tA900000B812E5C19\t0\t6\t58\tBMP280 pressure channel\t10\d\.\d\d\tkPa$)",
                                 R"(^1\tE200000C523DA719\t1\t0\tC2011779480\tHDC1080 humidity channel\t\d+\.\d\d\t%$)"})
            QVERIFY2(all.out.indexOf(QRegularExpression(line)) >= 0, line);
    }

    void badOptions()
    {
        for (const QStringList &args : {QStringList(), QStringList({"probe"}), QStringList({"scan", "--fast"})}) {
            const Run run = orvexctl(args);
            QCOMPARE(run.exitCode, 2);
            QVERIFY(run.out.isEmpty());
            QVERIFY(!run.err.isEmpty());
        }
        for (const char *value : {"--bus=nonsense", "--bus=sim:", "--bus=tmex:", "--bus="}) {
            const Run run = orvexctl({"scan", value});
            QCOMPARE(run.exitCode, 2);
            QVERIFY(run.out.isEmpty());
            QCOMPARE(run.err.size(), 1);
        }
    }

    // Numbers are decimal digits and nothing else: a blank, a sign or
    // another notation is refused, not read as the number it resembles.
    void numbersAreStrict()
    {
        for (const char *option : {"--cycles", "--interval"}) {
            for (const char *value : {" 2", "2 ", "+3", "-1", "0x2", "1e1", "", "\u0663", "9999999999"}) {
                const Run run = orvexctl({"read", "--bus=sim", "--fast", option, QString::fromUtf8(value)});
                QVERIFY2(run.exitCode == 2, qPrintable(QStringLiteral("%1 \"%2\"").arg(option, value)));
                QVERIFY(run.out.isEmpty());
                QVERIFY(run.err.value(0).startsWith(QStringLiteral("orvexctl: ") + option));
            }
        }
        const Run two = orvexctl({"read", "--bus=sim", "--fast", "--cycles", "2", "--interval", "0030"});
        QCOMPARE(two.exitCode, 0);
        QCOMPARE(two.out.last().section('\t', 0, 0), QStringLiteral("2"));
    }

    // Stopped in the middle of a run, orvexctl has already put out every
    // line of each finished cycle: its readings and its write errors.
    void stoppedRunKeepsFinishedCycles()
    {
        QTemporaryDir folder;
        QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("T0.csv"))); // a file that cannot be written
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("ORVEX_BUS"));
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(ORVEXCTL_BIN), {"read", "--bus=sim", "--fast", "--cycles", "1000000", "--interval", "30",
                                                     "--record", folder.path(), "--template", "%TS%%SC%"});
        QByteArray out;
        while (out.count('\n') < 100 && process.waitForReadyRead(30000))
            out += process.readAllStandardOutput();
        process.terminate();
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus(), QProcess::CrashExit); // stopped by the signal
        out += process.readAllStandardOutput();
        const QStringList err = lines(process.readAllStandardError());
        QSet<QString> cycles;
        for (const QString &line : lines(out))
            cycles.insert(line.section('\t', 0, 0));
        QVERIFY(cycles.size() >= 4);
        for (const QString &cycle : cycles) {
            const QString expected = QStringLiteral("orvexctl: cycle %1: Ошибка записи файла T0.csv").arg(cycle);
            QVERIFY2(err.filter(QRegularExpression("^" + QRegularExpression::escape(expected) + "( |$)")).size() == 1,
                     qPrintable(expected + QStringLiteral(" missing from:\n") + err.join('\n')));
        }
    }

    // A bad bus file: one error line naming the file and the place, nothing else.
    void badBusFiles()
    {
        for (const char *name : {"syntax.json", "unknowntype.json", "badrom.json", "duplicaterom.json",
                                  "badvalue.json", "absent.json"}) {
            const Run run = orvexctl({"scan", "--bus=sim:" + busFile(name)});
            QCOMPARE(run.exitCode, 2);
            QVERIFY(run.out.isEmpty());
            QCOMPARE(run.err.size(), 1);
            QVERIFY2(run.err.first().startsWith(busFile(name) + ":"), qPrintable(run.err.first()));
        }
    }

    // The same scan through the run-time loaded driver library.
    void scanThroughDriverLibrary()
    {
        const QString bus = QStringLiteral("ORVEX_SIM_BUS=") + busFile("several.json");
        Run run = orvexctl({"scan", QStringLiteral("--bus=tmex:" SIMTMEX_LIB)}, {bus});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out.value(0), QStringLiteral("Adapter found, No error; Info: OverDrive OFF"));
        // Wire order; the device reported twice is listed once.
        QCOMPARE(romLines(run.out.mid(1)),
                 QStringList({"280102030405069E", "2801020304058612", "814E2A1B00000025", "3BAA00000000016F"}));

        run = orvexctl({"scan", "--bus=tmex:/nonexistent/libtmex.so"});
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.out.isEmpty());
        QCOMPARE(run.err.size(), 1);
        QVERIFY(run.err.first().startsWith("/nonexistent/libtmex.so: "));
    }

    // Help and version answer on standard output with exit code 0, also
    // after a command; the usage names both commands.
    void helpAndVersion()
    {
        for (const QStringList &args : {QStringList{"--help"}, QStringList{"-h"}, QStringList{"read", "--help"}}) {
            const Run run = orvexctl(args);
            QCOMPARE(run.exitCode, 0);
            QVERIFY(run.err.isEmpty());
            QVERIFY(run.out.value(0).startsWith("usage: orvexctl scan"));
            QVERIFY(run.out.filter(QRegularExpression("^\\s+orvexctl read ")).size() == 1);
        }
        const Run version = orvexctl({"--version"});
        QCOMPARE(version.exitCode, 0);
        QCOMPARE(version.out, QStringList("orvexctl " ORVEX_VERSION));
    }

    // A scan flag that is no boolean (here empty) reads as on, and a settings
    // file that cannot be read gives the defaults: everything is read, as
    // without settings.
    void damagedSettingsReadAsDefaults()
    {
        QTemporaryDir config;
        const Run all = orvexctl({"read", "--bus=sim", "--fast"}, {"XDG_CONFIG_HOME=" + config.path() + "/none"});
        QVERIFY(QDir(config.path()).mkpath(QStringLiteral("Tresvant")));
        QFile ini(config.path() + QStringLiteral("/Tresvant/Орвекс.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[Settings]\nScanAllType=\n");
        ini.close();
        QCOMPARE(orvexctl({"read", "--bus=sim", "--fast"}, {"XDG_CONFIG_HOME=" + config.path()}).out.size(),
                 all.out.size());
        QVERIFY(ini.remove() && QDir(config.path()).mkpath(QStringLiteral("Tresvant/Орвекс.ini")));
        const Run unreadable = orvexctl({"read", "--bus=sim", "--fast"}, {"XDG_CONFIG_HOME=" + config.path()});
        QCOMPARE(unreadable.exitCode, 0);
        QCOMPARE(unreadable.out.size(), all.out.size());
    }
};

QTEST_GUILESS_MAIN(TstOrvexctl)
#include "tst_orvexctl.moc"
