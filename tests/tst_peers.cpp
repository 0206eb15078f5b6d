#include "sim/simbackend.h"
#include "sim/simbusloader.h"
#include "support/orvexctlrun.h"
#include "support/simfixture.h"
#include "support/testprocess.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Debian's own 1-Wire programs (OWFS's owserver with owdir and owread, and
// digitemp) are drivers that work on real adapters: where they accept the
// emulated chips, the emulators are faithful where it matters. They run
// against the emulators as they would against hardware; on a
// pseudo-terminal, the ptyflush shim makes TCIOFLUSH spare the bytes
// written and turns a break into the emulator's SIGUSR1 (see
// tests/shim/ptyflush.cpp).

// A bus of thermometers whose temperatures stay put, with ROM-only chips
// and an identity chip beside them.
const char kFixedBus[] = R"({ "devices": [
    { "type": "identity", "rom": "81 4E 2A 1B 00 00 00" },
    { "type": "ds18b20", "rom": "28 FF 64 1E 1D 16 03", "temperature": 21.5 },
    { "type": "ds18b20", "rom": "28 E3 E3 01 02 03 04", "temperature": -10.25 },
    { "type": "ds18b20", "rom": "28 AA 31 07 5C 14 01", "temperature": 85.5, "parasite": true },
    { "type": "ds18s20", "rom": "10 12 34 56 78 9A 00", "temperature": 30.5 },
    { "type": "rom", "rom": "01 9C 44 E5 13 00 00" },
    { "type": "rom", "rom": "2D 0F 0E 0D 0C 0B 0A" }
] })";

// The temperature each thermometer of kFixedBus holds, by OWFS name.
const QMap<QString, double> kFixedTemperatures = {
    {"28.FF641E1D1603", 21.5}, {"28.E3E301020304", -10.25}, {"28.AA31075C1401", 85.5}, {"10.123456789A00", 30.5}};

// One chip of each family beside the DS18x20s, at values that stay put,
// for OWFS to read beside orvexctl (the DS1822 at the 12 bits OWFS sets).
const char kFamiliesBus[] = R"({ "devices": [
    { "type": "ds1822", "rom": "22 11 22 33 44 55 01", "temperature": -12.3125 },
    { "type": "ds28ea00", "rom": "42 11 22 33 44 55 02", "temperature": 40.5 },
    { "type": "ds1825", "rom": "3B 11 22 33 44 55 03", "temperature": 23.25, "address": 5 },
    { "type": "ds2438", "rom": "26 11 22 33 44 55 04", "temperature": 24.0, "vdd": 5.0, "humidity": 45.0,
      "senseVolts": 0.0125 },
    { "type": "ds2450", "rom": "20 11 22 33 44 55 05", "inputA": 1.25, "inputB": 2.5, "inputC": 0, "inputD": 5.1 },
    { "type": "ds2423", "rom": "1D 11 22 33 44 55 06", "counterA": 123456, "counterB": 4294967290 },
    { "type": "ds2413", "rom": "3A 11 22 33 44 55 07", "inputB": false, "outputA": true },
    { "type": "ds2408", "rom": "29 11 22 33 44 55 08", "inputs": 165, "outputs": 3 }
] })";

// The devices a complete search of `busFile` (empty: the demo bus) finds,
// as OWFS names them: the family code, a dot, the serial in bus order.
QStringList owNames(const QString &busFile)
{
    QString error;
    std::unique_ptr<SimBackend> backend = busFile.isEmpty() ? SimBusLoader::loadDemo(&error)
                                                            : SimBusLoader::loadFile(busFile, &error);
    if (!backend)
        qFatal("%s", qPrintable(error));
    QStringList names;
    uint8_t rom[8] = {};
    int last = 0;
    do {
        if (backend->bus().searchPass(rom, &last) != 1)
            break;
        const QByteArray id(reinterpret_cast<char *>(rom), 8);
        names << QString::fromLatin1(id.left(1).toHex().toUpper() + '.' + id.mid(1, 6).toHex().toUpper());
    } while (last != 0 && names.size() < 100);
    names.sort();
    return names;
}

// A free TCP port on the loopback interface.
quint16 freePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    quint16 port = 0;
    if (bind(fd, reinterpret_cast<sockaddr *>(&address), length) == 0
        && getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

// owserver on `master` (-d PORT, -u), then owdir of the root and owread of
// every thermometer's temperature: one line per device ("/28.X"), one per
// temperature ("/28.X VALUE").
QString owScript(const QString &master)
{
    const QString address = QStringLiteral("127.0.0.1:%1").arg(freePort());
    return QStringLiteral("owserver %1 --foreground -p %2 --error_level=0 & pid=$!\n"
                          "for i in $(seq 150); do owdir -s %2 / >/dev/null 2>&1 && break; sleep 0.1; done\n"
                          "owdir -s %2 /\n"
                          "for d in $(owdir -s %2 / | grep -E '^/(10|28)\\.'); do\n"
                          "  echo \"$d $(owread -s %2 $d/temperature)\"\n"
                          "done\n"
                          "kill $pid; wait $pid 2>/dev/null; exit 0\n")
        .arg(master, address);
}

struct OwResult
{
    QStringList devices;            // sorted, without the leading slash
    QMap<QString, double> celsius;  // by device
};

OwResult parseOw(const QByteArray &out)
{
    OwResult r;
    const QRegularExpression device(QStringLiteral("^/([0-9A-F]{2}\\.[0-9A-F]{12})$"));
    const QRegularExpression reading(QStringLiteral("^/([0-9A-F]{2}\\.[0-9A-F]{12}) +(-?[0-9.]+)$"));
    for (const QByteArray &line : out.split('\n')) {
        const QString text = QString::fromLatin1(line);
        QRegularExpressionMatch m = device.match(text);
        if (m.hasMatch())
            r.devices << m.captured(1);
        m = reading.match(text);
        if (m.hasMatch())
            r.celsius.insert(m.captured(1), m.captured(2).toDouble());
    }
    r.devices.sort();
    return r;
}

// ds2480-emu in real time, killed at the end; scheduled ahead of the rest
// of a loaded machine, as the hardware it stands for would be.
struct SerialEmulator : TestProcess
{
    explicit SerialEmulator(const QString &busFile)
        : TestProcess(QStringLiteral(DS2480_EMU_BIN))
    {
        start(busFile.isEmpty() ? QStringList() : QStringList{busFile});
        waitForLines(1, 10000);
        scheduleAhead();
    }
    QString path() const { return out().value(0).trimmed(); }
    QString pid() { return QString::number(process().processId()); }
    // The datasheet violations since the last ask.
    QString violations()
    {
        const int answered = out().size();
        process().write("violations\n");
        waitForLines(answered + 2, 5000);
        return out().value(answered);
    }
};

QString writeFixedBus(const QTemporaryDir &dir)
{
    const QString path = dir.filePath(QStringLiteral("fixed.json"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(kFixedBus);
    return path;
}

} // namespace

class TstPeers : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        for (const char *program : {"owserver", "owdir", "owread", "digitemp_DS9097U"}) {
            if (QStandardPaths::findExecutable(QLatin1String(program)).isEmpty())
                QFAIL(qPrintable(QStringLiteral("%1 is missing: run tools/install-deps").arg(QLatin1String(program))));
        }
    }

    // owserver lists every device of the demo bus and of a bus file through
    // both emulators, and reads every thermometer's temperature as the
    // simulated chip holds it.
    void owserver_data()
    {
        QTest::addColumn<bool>("usb");
        QTest::addColumn<bool>("fixed");
        QTest::newRow("serial, demo bus") << false << false;
        QTest::newRow("serial, bus file") << false << true;
        QTest::newRow("usb, demo bus") << true << false;
        QTest::newRow("usb, bus file") << true << true;
    }
    void owserver()
    {
        QFETCH(bool, usb);
        QFETCH(bool, fixed);
        QTemporaryDir dir;
        const QString bus = fixed ? writeFixedBus(dir) : QString();
        TestProcess run(usb ? QStringLiteral(DS2490_EMU_BIN) : QStringLiteral("sh"));
        std::unique_ptr<SerialEmulator> emulator;
        if (usb) {
            QVERIFY(run.run((fixed ? QStringList{bus} : QStringList()) + QStringList{"--", "sh", "-c", owScript("-u")},
                            120000));
        } else {
            emulator = std::make_unique<SerialEmulator>(bus);
            run.process().setProcessEnvironment([&] {
                QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
                env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(PTYFLUSH_SHIM));
                env.insert(QStringLiteral("ORVEX_BREAK_PID"), emulator->pid());
                return env;
            }());
            QVERIFY(run.run({"-c", owScript("-d " + emulator->path())}, 120000));
        }
        const OwResult found = parseOw(run.outBytes());
        if (found.devices != owNames(bus))
            qWarning("%s", (run.outBytes() + run.errBytes()).constData());
        QCOMPARE(found.devices, owNames(bus));
        int thermometers = 0;
        for (const QString &device : found.devices) {
            if (!device.startsWith(QLatin1String("10.")) && !device.startsWith(QLatin1String("28.")))
                continue;
            ++thermometers;
            QVERIFY2(found.celsius.contains(device), qPrintable(device + ": no temperature"));
            if (fixed)
                QVERIFY2(qAbs(found.celsius.value(device) - kFixedTemperatures.value(device)) < 0.07,
                         qPrintable(device + QStringLiteral(": %1").arg(found.celsius.value(device))));
            else
                QVERIFY(found.celsius.value(device) > -55 && found.celsius.value(device) < 125);
        }
        QVERIFY(thermometers >= 4);
    }

    // OWFS as the oracle for the other families: owserver on the same
    // emulated DS2480B reads every property of the same chips under its own
    // names, and gives what orvexctl read prints for the channel, to the
    // digit both print (the DS2450 within a step of its 16 bits: OWFS scales
    // by 65535, the data sheet by 65536). A DS2413's output is Debian's OWFS's
    // PIO.A, with input B driven low beside output B off: a PIO read from the
    // pin rather than the latch would differ.
    void owserverReadsWhatOrvexctlReads()
    {
        QTemporaryDir dir;
        const QString bus = dir.filePath(QStringLiteral("families.json"));
        QFile file(bus);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(kFamiliesBus) > 0);
        file.close();
        // The DS2438 carries an HIH-4000: over an adapter the settings say so.
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("config/Tresvant"))));
        QFile ini(dir.filePath(QStringLiteral("config/Tresvant/Орвекс.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly) && ini.write("[Sensors]\nHih4000=*\n") > 0);
        ini.close();
        SerialEmulator emulator(bus);
        const OrvexctlRun read = runOrvexctl(QStringLiteral(ORVEXCTL_BIN), {"read", "--bus=serial:" + emulator.path()},
                                             {"XDG_CONFIG_HOME=" + dir.filePath(QStringLiteral("config"))}, 120000);
        QCOMPARE(read.exitCode, 0);
        // orvexctl's value of each channel, by "ROM/subchannel" as it prints them.
        QMap<QString, double> ours;
        for (const QByteArray &line : read.out.split('\n')) {
            const QList<QByteArray> fields = line.split('\t');
            if (fields.size() >= 8)
                ours.insert(QString::fromLatin1(fields.at(1) + '/' + fields.at(2)), fields.at(6).toDouble());
        }
        // Each owserver path with the channel it must agree with and how closely.
        const struct
        {
            const char *path;
            const char *channel;
            double tolerance;
        } pairs[] = {
            {"22.112233445501/temperature", "3B01554433221122/0", 0.005},
            {"42.112233445502/temperature", "F102554433221142/0", 0.005},
            {"3B.112233445503/temperature", "B00355443322113B/0", 0.005},
            {"26.112233445504/temperature", "F004554433221126/0", 0.005},
            {"26.112233445504/VDD", "F004554433221126/1", 0.005},
            {"26.112233445504/VAD", "F004554433221126/2", 0.005},
            {"26.112233445504/vis", "F004554433221126/3", 0.000005},
            {"26.112233445504/humidity", "F004554433221126/4", 0.05},
            {"20.112233445505/volt.A", "2005554433221120/0", 0.0001},
            {"20.112233445505/volt.B", "2005554433221120/1", 0.0001},
            {"20.112233445505/volt.C", "2005554433221120/2", 0.0001},
            {"20.112233445505/volt.D", "2005554433221120/3", 0.0001},
            {"1D.112233445506/counter.A", "EE0655443322111D/0", 0},
            {"1D.112233445506/counter.B", "EE0655443322111D/1", 0},
            {"3A.112233445507/sensed.A", "EC0755443322113A/0", 0},
            {"3A.112233445507/sensed.B", "EC0755443322113A/1", 0},
            {"3A.112233445507/PIO.A", "EC0755443322113A/2", 0},
            {"3A.112233445507/PIO.B", "EC0755443322113A/3", 0},
            {"29.112233445508/sensed.0", "1108554433221129/0", 0},
            {"29.112233445508/sensed.2", "1108554433221129/2", 0},
            {"29.112233445508/sensed.7", "1108554433221129/7", 0},
            {"29.112233445508/latch.0", "1108554433221129/8", 0},
        };
        const QString address = QStringLiteral("127.0.0.1:%1").arg(freePort());
        QString script = QStringLiteral("owserver -d %1 --foreground -p %2 --error_level=0 & pid=$!\n"
                                "for i in $(seq 150); do owdir -s %2 / >/dev/null 2>&1 && break; sleep 0.1; done\n")
                     .arg(emulator.path(), address);
        for (const auto &pair : pairs)
            script += QStringLiteral("echo \"%1 $(owread -s %2 /%1)\"\n").arg(QLatin1String(pair.path), address);
        script += QStringLiteral("kill $pid; wait $pid 2>/dev/null; exit 0\n");
        TestProcess owfs(QStringLiteral("sh"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(PTYFLUSH_SHIM));
        env.insert(QStringLiteral("ORVEX_BREAK_PID"), emulator.pid());
        owfs.process().setProcessEnvironment(env);
        QVERIFY(owfs.run({"-c", script}, 120000));
        QMap<QString, QString> theirs;
        for (const QString &line : owfs.out())
            theirs.insert(line.section(QLatin1Char(' '), 0, 0), line.section(QLatin1Char(' '), 1).trimmed());
        for (const auto &pair : pairs) {
            const QString path = QLatin1String(pair.path);
            bool ok = false;
            const double value = theirs.value(path).toDouble(&ok);
            QVERIFY2(ok, qPrintable(path + ": owserver gave \"" + theirs.value(path) + "\"\n" + owfs.errBytes()));
            QVERIFY2(ours.contains(QLatin1String(pair.channel)), qPrintable(QLatin1String(pair.channel) + " not read"));
            const double mine = ours.value(QLatin1String(pair.channel));
            QVERIFY2(qAbs(value - mine) <= pair.tolerance,
                     qPrintable(path + QStringLiteral(": owserver %1, orvexctl %2").arg(value, 0, 'g', 10).arg(mine, 0, 'g', 10)));
        }
    }

    // After orvexctl has used the emulated adapter (without a datasheet
    // violation), digitemp finds it and reads the thermometers. Its breaks
    // are passed on: without one, digitemp's timing byte reaches a chip in
    // command mode as a reset, whose answer races digitemp's flush (it
    // loses about one run in three here, as it would on a UART).
    void digitemp()
    {
        QTemporaryDir dir;
        const QString bus = writeFixedBus(dir);
        SerialEmulator emulator(bus);
        const QString rc = dir.filePath(QStringLiteral("digitemprc"));
        auto digitemp = [&](const QStringList &args, bool breaks) {
            TestProcess process(QStringLiteral("digitemp_DS9097U"));
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(PTYFLUSH_SHIM));
            if (breaks)
                env.insert(QStringLiteral("ORVEX_BREAK_PID"), emulator.pid());
            process.process().setProcessEnvironment(env);
            process.process().setWorkingDirectory(dir.path());
            process.run(QStringList{"-s", emulator.path(), "-c", rc} + args, 60000);
            return process.outBytes() + process.errBytes();
        };
        const OrvexctlRun scan = runOrvexctl(QStringLiteral(ORVEXCTL_BIN), {"scan", "--bus=serial:" + emulator.path()});
        QCOMPARE(scan.exitCode, 0);
        QCOMPARE(emulator.violations(), QStringLiteral("violations 0"));

        QByteArray out = digitemp({"-i"}, true);
        QStringList roms;
        const QRegularExpression romLine(QStringLiteral("ROM #(\\d+) : ([0-9A-F]{16})"));
        for (auto it = romLine.globalMatch(QString::fromLatin1(out)); it.hasNext();)
            roms << it.next().captured(2);
        QVERIFY2(roms.size() == kFixedTemperatures.size(), out.constData());
        out = digitemp({"-a", "-q"}, true);
        const QRegularExpression reading(QStringLiteral("Sensor (\\d+) C: (-?[0-9.]+)"));
        int read = 0;
        for (auto it = reading.globalMatch(QString::fromLatin1(out)); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            const QString rom = roms.value(m.captured(1).toInt());
            const QString name = rom.left(2) + '.' + rom.mid(2, 12);
            QVERIFY2(qAbs(m.captured(2).toDouble() - kFixedTemperatures.value(name)) < 0.07,
                     qPrintable(name + ": " + m.captured(2)));
            ++read;
        }
        QCOMPARE(read, kFixedTemperatures.size());
    }
};

QTEST_GUILESS_MAIN(TstPeers)
#include "tst_peers.moc"
