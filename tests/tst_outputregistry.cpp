// The output registry: an output registered with one entry is started, fed
// and finished by the window and by orvexctl alike, its options reach
// orvexctl's usage, and one that cannot start stops neither run's others.

#include "app/orvexctl.h"
#include "base/appsettings.h"
#include "base/clock.h"
#include "model/channelid.h"
#include "model/readingsink.h"
#include "model/sensordevice.h"
#include "session/outputregistry.h"
#include "sim/simbusloader.h"
#include "support/testprocess.h"
#include "support/windowrig.h"

#include <QSettings>
#include <QtTest>

namespace {

// What the test output saw; its entry is a plain function, so it reports here.
struct ProbeLog
{
    QHash<QString, int> byChannel;
    int readings = 0;
    int cycles = 0;
    int finished = 0;
};
ProbeLog g_probe;

class Probe : public ReadingSink
{
public:
    explicit Probe(int code)
        : m_code(code)
    {
    }
    void takeReading(const SensorDevice &device, int index) override
    {
        ++g_probe.byChannel[ChannelId::of(device, index).text()];
        ++g_probe.readings;
    }
    void cycleEnded(const CycleSummary &) override { ++g_probe.cycles; }
    int finish() override
    {
        ++g_probe.finished;
        return m_code;
    }

private:
    int m_code;
};

// Starts with the exit code its finish() gives, or fails to start.
class ProbePlan : public OutputPlan
{
public:
    explicit ProbePlan(const QString &how)
        : m_how(how)
    {
    }
    std::unique_ptr<ReadingSink> start(const OutputHost &, QString *error) override
    {
        if (m_how == QLatin1String("fail")) {
            *error = QStringLiteral("probe: cannot start");
            return nullptr;
        }
        return std::make_unique<Probe>(m_how.toInt());
    }

private:
    QString m_how;
};

// The window's from "Probe/Start"; orvexctl's from --probe CODE|fail.
std::unique_ptr<OutputPlan> probePlan(QSettings &settings, QStringList *args, QString *error)
{
    if (!args) {
        const QString how = settings.value(QStringLiteral("Probe/Start")).toString();
        return how.isEmpty() ? nullptr : std::make_unique<ProbePlan>(how);
    }
    const int at = args->indexOf(QStringLiteral("--probe"));
    if (at < 0)
        return nullptr;
    const QString how = args->value(at + 1);
    bool number = false;
    how.toInt(&number);
    if (!number && how != QLatin1String("fail")) {
        *error = QStringLiteral("--probe takes an exit code or \"fail\"");
        return nullptr;
    }
    args->erase(args->begin() + at, args->begin() + at + 2);
    return std::make_unique<ProbePlan>(how);
}

QString probeUsage()
{
    return QStringLiteral("  --probe CODE    the test's output\n");
}

// The program's outputs and the probe: its one registration line.
QVector<OutputEntry> withProbe()
{
    QVector<OutputEntry> entries = OutputRegistry::entries();
    entries.append({QStringLiteral("probe"), QStringLiteral("[--probe CODE]"), probeUsage, probePlan});
    return entries;
}

} // namespace

class TstOutputRegistry : public QObject
{
    Q_OBJECT

    const QVector<OutputEntry> entries = withProbe();
    const QString bus = QStringLiteral("--bus=sim:") + SimFixture::busFile(QStringLiteral("thermometers.json"));

    int ctl(const QStringList &options)
    {
        g_probe = ProbeLog();
        return orvexctlMain(QStringList{QStringLiteral("read"), bus, QStringLiteral("--fast")} + options, entries);
    }

private slots:
    void initTestCase()
    {
        WindowRig::prepareProcess();
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    }

    // orvexctl starts the output its option asks for, feeds it every reading
    // once per cycle, finishes it at the end and exits with its code; without
    // the option it is not started at all.
    void consoleRunFeedsARegisteredOutput()
    {
        QCOMPARE(ctl({"--cycles", "3", "--probe", "0"}), 0);
        QCOMPARE(g_probe.byChannel.size(), 8);
        for (int n : g_probe.byChannel)
            QCOMPARE(n, 3);
        QCOMPARE(g_probe.cycles, 3);
        QCOMPARE(g_probe.finished, 1);

        QCOMPARE(ctl({"--cycles", "1", "--probe", "5"}), 5);
        QCOMPARE(g_probe.finished, 1);

        QCOMPARE(ctl({"--cycles", "1"}), 0);
        QCOMPARE(g_probe.readings, 0);
        QCOMPARE(g_probe.finished, 0);
    }

    // A bad option of the output is a usage error; an output that cannot
    // start ends the run before its first cycle.
    void consoleRefusesWhatCannotRun()
    {
        QCOMPARE(ctl({"--probe", "often"}), 2);
        QCOMPARE(ctl({"--cycles", "2", "--probe", "fail"}), 2);
        QCOMPARE(g_probe.readings, 0);
    }

    // orvexctl's usage names every registered output's options.
    void usageComesFromTheRegistry()
    {
        TestProcess help(QStringLiteral(ORVEXCTL_BIN));
        help.run({"--help"}, 30000);
        const QString text = QString::fromUtf8(help.outBytes());
        QVERIFY(text.contains(OutputRegistry::optionsUsage(OutputRegistry::entries())));
        for (const QString &brief : OutputRegistry::synopsis(OutputRegistry::entries()))
            QVERIFY2(text.contains(brief), qPrintable(brief));
    }

    // The window starts the output its settings ask for beside its own
    // (the charts' archive) and feeds both the same readings; one that
    // cannot start leaves the others running.
    void windowRunFeedsARegisteredOutput()
    {
        for (const QString &how : {QStringLiteral("0"), QStringLiteral("fail")}) {
            g_probe = ProbeLog();
            appSettings().setValue(QStringLiteral("Probe/Start"), how);
            WindowRig rig(SimBusLoader::loadFile(SimFixture::busFile(QStringLiteral("thermometers.json")), nullptr));
            rig.f.backend().setTrafficLogging(false);
            rig.outputs = &entries;
            rig.start(false, 0);
            rig.tickAfter(5000);
            rig.tickAfter(5000);
            QCOMPARE(rig.window->trendArchive().channels().size(), 8);
            if (how == QLatin1String("fail")) {
                QCOMPARE(g_probe.readings, 0);
            } else {
                QCOMPARE(g_probe.byChannel.size(), 8);
                QVERIFY(g_probe.cycles >= 1);
                QCOMPARE(g_probe.readings, 8 * g_probe.cycles);
            }
        }
        appSettings().remove(QStringLiteral("Probe"));
    }
};

QTEST_MAIN(TstOutputRegistry)
#include "tst_outputregistry.moc"
