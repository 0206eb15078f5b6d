#include "alarms/alarmoutput.h"
#include "alarms/alarmrules.h"
#include "base/appsettings.h"
#include "base/clock.h"
#include "faces/metricsface.h"
#include "model/alarmboard.h"
#include "model/sensordevice.h"
#include "publish/mqttconfig.h"
#include "publish/mqttpublisher.h"
#include "sensors/sensor.h"
#include "session/measurementsession.h"
#include "sim/simds18b20.h"
#include "support/filesizelimit.h"
#include "support/mqtttestbroker.h"
#include "support/mqtttestsubscriber.h"
#include "support/orvexctlrun.h"
#include "support/simfixture.h"
#include "support/tablesupport.h"
#include "support/windowrig.h"
#include "table/tableman.h"

#include <QBrush>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QSettings>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const char kBus[] = "--bus=sim:" TEST_DATA_DIR "/buses/thermometers.json";

QJsonObject json(const QByteArray &payload)
{
    return QJsonDocument::fromJson(payload).object();
}

QStringList fileLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(file.readAll());
    QStringList lines = text.split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// The data lines of alarms.csv without their date and time.
QStringList transitions(const QString &folder)
{
    QStringList lines = fileLines(folder + QStringLiteral("/alarms.csv"));
    if (lines.isEmpty())
        return {};
    lines.removeFirst();
    for (QString &line : lines)
        line = line.section(QLatin1Char(';'), 2);
    return lines;
}

// One DS18B20 on a simulated bus whose temperature the test sets before
// each cycle, measured by a session with the alarm output only, recording
// into a folder of its own.
struct AlarmRun
{
    explicit AlarmRun(const QStringList &alarmOptions, bool window = false)
    {
        chip = f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 5), 20.0));
        rom = WindowRig::romText(chip->rom());
        SessionDescription description;
        description.bus = &f.backend();
        description.recordingFolder = dir.path();
        description.host.window = window;
        description.host.report = [this](const QString &line) { reported << line; };
        QStringList args;
        for (QString option : alarmOptions)
            args << option.replace(QStringLiteral("ROM"), rom);
        QString error;
        QSettings &settings = appSettings();
        auto plan = AlarmOutput::outputEntry().plan(settings, &args, &error);
        if (plan)
            description.outputs.push_back({QStringLiteral("alarms"), std::move(plan)});
        session = MeasurementSession::fromDescription(std::move(description), &error);
        f.backend().setTrafficLogging(false);
    }

    void cycleAt(double celsius)
    {
        if (chip) // null once the test has taken it off the bus
            chip->setTemperature(SimTemperature(celsius));
        Clock::advanceMs(10000);
        session->cycle();
    }
    QStringList lines() const { return transitions(dir.path()); }
    AlarmBoard &board() { return session->alarms(); }
    ChannelId channel() const
    {
        ChannelId id;
        QString error;
        AlarmRules::parseChannel(rom, &id, &error);
        return id;
    }

    SimFixture f;
    QTemporaryDir dir;
    SimDs18b20 *chip = nullptr;
    QString rom;
    QStringList reported;
    std::unique_ptr<MeasurementSession> session;
};

// The freedesktop notification service as a test plays it: notes every Notify.
class FakeNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList summaries;
    QStringList bodies;

public slots:
    uint Notify(const QString &, uint, const QString &, const QString &summary, const QString &body,
                const QStringList &, const QVariantMap &, int)
    {
        summaries << summary;
        bodies << body;
        return uint(summaries.size());
    }
};

} // namespace

class TstAlarms : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        WindowRig::prepareProcess();
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_noBus.path()));
    }

    // Channels and limits read back as written; what cannot be read is
    // refused with the reason; removing one channel's limits from the
    // settings keeps the limits of the device's other subchannels.
    void writtenForms()
    {
        struct Channel
        {
            const char *text;
            int subchannel, hub, address;
        };
        for (const Channel &c : {Channel{"0B01145C0731AA28", 0, -1, 0}, Channel{"0B01145C0731AA28/1", 1, -1, 0},
                                 Channel{"1F0000002B4CE119/3/136", 0, 3, 136},
                                 Channel{"1F0000002B4CE119/2/0/0x88", 2, 0, 136}}) {
            ChannelId id;
            QString error;
            QVERIFY2(AlarmRules::parseChannel(c.text, &id, &error), qPrintable(error));
            QCOMPARE(id.text().left(16), QString(c.text).left(16));
            QCOMPARE(id.subchannel, c.subchannel);
            QCOMPARE(id.hubChannel, c.hub);
            QCOMPARE(id.i2cAddress, c.address);
            ChannelId again;
            QVERIFY(AlarmRules::parseChannel(AlarmRules::channelText(id), &again, &error));
            QCOMPARE(again, id);
        }
        for (const char *bad : {"0B01145C0731AA2", "0B01145C0731AA28/x", "0B01145C0731AA28/1/2/3/4", "", "ZZ01145C0731AA28"}) {
            ChannelId id;
            QString error;
            QVERIFY2(!AlarmRules::parseChannel(bad, &id, &error), bad);
            QVERIFY(!error.isEmpty());
        }

        AlarmLimits limits;
        QString error;
        QVERIFY(AlarmRules::parseLimits(":25", &limits, &error));
        QVERIFY(!limits.hasLow());
        QCOMPARE(limits.high, 25.0);
        QVERIFY(AlarmRules::parseLimits("-20,5:  hysteresis=0.5 delay=3 nodata=4", &limits, &error));
        QCOMPARE(limits.low, -20.5);
        QVERIFY(!limits.hasHigh());
        QCOMPARE(limits.hysteresis, 0.5);
        QCOMPARE(limits.delay, 3);
        QCOMPARE(limits.noDataCycles, 4);
        AlarmLimits back;
        QVERIFY(AlarmRules::parseLimits(AlarmRules::limitsText(limits), &back, &error));
        QVERIFY(back == limits);
        for (const char *bad : {"25", "30:20", "a:b", "0:1 delay=0", "0:1 hysteresis=-1", "0:1 color=red", "0:1 delay",
                                ":25:30", "inf:"}) {
            QVERIFY2(!AlarmRules::parseLimits(bad, &limits, &error), bad);
            QVERIFY(!error.isEmpty());
        }

        QTemporaryDir dir;
        QFile file(dir.filePath("alarms"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("# freezer\n\n0B01145C0731AA28=:-15 delay=2\n0B01145C0731AA28/1=0:\nbroken line\n");
        file.close();
        AlarmRules::LimitsMap map;
        QVERIFY(!AlarmRules::readFile(file.fileName(), &map, &error));
        QVERIFY2(error.startsWith(file.fileName() + ":5: "), qPrintable(error));
        QCOMPARE(map.size(), 2);

        QSettings &settings = appSettings();
        ChannelId first, second;
        AlarmRules::parseChannel("0B01145C0731AA28", &first, &error);
        AlarmRules::parseChannel("0B01145C0731AA28/1", &second, &error);
        AlarmRules::store(settings, first, map.value(first));
        AlarmRules::store(settings, second, map.value(second));
        QCOMPARE(settings.value("Alarms/0B01145C0731AA28").toString(), QString(":-15 delay=2"));
        QCOMPARE(AlarmRules::fromSettings(settings, nullptr), map);
        AlarmRules::store(settings, first, AlarmLimits());
        const AlarmRules::LimitsMap left = AlarmRules::fromSettings(settings, nullptr);
        QCOMPARE(left.size(), 1);
        QVERIFY(left.value(second) == map.value(second));
        settings.remove("Alarms");
    }

    // Over cycles of a moving value: an alarm is raised only after `delay`
    // consecutive readings outside (an inside reading starts the count
    // again), stays while the value is back by less than the hysteresis,
    // and each change is one line of alarms.csv with the value and the limit.
    void hysteresisAndDelay()
    {
        AlarmRun run({"--alarm", "ROM=0:25 hysteresis=1 delay=2"});
        const QString rom = run.rom;
        // At the limit is not beyond it; an inside reading starts the count again.
        for (double celsius : {20.0, 25.0, 26.0, 24.5, 26.0})
            run.cycleAt(celsius);
        QVERIFY(run.lines().isEmpty());
        run.cycleAt(27);
        QCOMPARE(run.board().state(run.channel()), AlarmState::High);
        run.cycleAt(24.5);
        run.cycleAt(24);
        for (double celsius : {0.0, -1.0, -2.0, 0.5})
            run.cycleAt(celsius);
        QCOMPARE(run.board().activeCount(), 1);
        run.cycleAt(1);
        QCOMPARE(run.lines(), QStringList({rom + ";high;27,00;25,00", rom + ";normal;24,00;25,00",
                                           rom + ";low;-2,00;0,00", rom + ";normal;1,00;0,00"}));
        QCOMPARE(run.board().activeCount(), 0);

        // The file's first line, and each line's date and time those of the reading.
        const QStringList all = fileLines(run.dir.path() + "/alarms.csv");
        QCOMPARE(all.first(), QString("DATA;TIME;Channel;State;Value;Limit"));
        const QDateTime last = run.session->sensor().devices()->first()->channels.first().time;
        QVERIFY(all.last().startsWith(last.toString("yyyy.MM.dd;hh:mm:ss;")));
        // orvexctl's standard error has one line per transition.
        QCOMPARE(run.reported.size(), 4);
        QVERIFY(run.reported.first().contains(rom));
    }

    // No data: after the set number of cycles whose readings failed, once,
    // and cleared by the next usable reading. A channel whose device leaves
    // the bus while in alarm ends its alarm with a "no data" line, once.
    void noDataAndDisappearance()
    {
        AlarmRun run({"--alarm", "ROM=10:30 nodata=2"});
        const QString rom = run.rom;
        run.cycleAt(20);
        run.chip->failCrc(1000000);
        run.cycleAt(20);
        QVERIFY(run.lines().isEmpty());
        run.cycleAt(20);
        run.cycleAt(20);
        run.chip->failCrc(0);
        run.cycleAt(21);
        QCOMPARE(run.lines(), QStringList({rom + ";nodata;---;2", rom + ";normal;21,00;2"}));

        AlarmRun gone({"--alarm", "ROM=:30"});
        gone.cycleAt(35);
        for (int i = 0; i < gone.f.bus().deviceCount(); ++i) {
            if (gone.f.bus().device(i) == gone.chip) {
                gone.f.bus().removeDevice(i);
                gone.chip = nullptr;
                break;
            }
        }
        for (int i = 0; i < 6; ++i)
            gone.cycleAt(35);
        QCOMPARE(gone.lines(), QStringList({gone.rom + ";high;35,00;30,00", gone.rom + ";nodata;---;"}));
    }

    // Limits changed by the operator in the middle of a cycle (between a
    // reading and the cycle's end) take effect from the next reading and
    // never give a transition two lines. A line alarms.csv could not take
    // is written later, once, in its place.
    void changesMidCycleAndFailedWrites()
    {
        AlarmRun run({"--alarm", "ROM=:25 nodata=1"});
        AlarmLimits wider;
        wider.high = 40;
        wider.noDataCycles = 1;
        bool change = false;
        QObject::connect(run.session.get(), &MeasurementSession::readingTaken, [&] {
            if (change)
                run.board().setLimits(run.channel(), wider);
            change = false;
        });
        run.cycleAt(30);
        change = true;
        run.cycleAt(30);
        QCOMPARE(run.lines(), QStringList({run.rom + ";high;30,00;25,00"}));
        run.cycleAt(30);
        run.cycleAt(30);
        QCOMPARE(run.lines(), QStringList({run.rom + ";high;30,00;25,00", run.rom + ";normal;30,00;40,00"}));

        QTemporaryDir dir;
        const QString folder = dir.filePath("later");
        AlarmLog log(folder);
        AlarmTransition raised;
        raised.to = AlarmState::High;
        raised.value = 30;
        raised.limit = 25;
        AlarmTransition cleared = raised;
        cleared.from = AlarmState::High;
        cleared.to = AlarmState::Normal;
        const QDateTime time(QDate(2025, 3, 14), QTime(9, 27, 3));
        QString problem;
        QVERIFY(!log.append(raised, time, &problem));
        QVERIFY(!problem.isEmpty());
        QCOMPARE(log.owed(), 1);
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(log.append(cleared, time.addSecs(60), &problem));
        QVERIFY(log.retry(&problem));
        QCOMPARE(fileLines(log.path()),
                 QStringList({"DATA;TIME;Channel;State;Value;Limit", "2025.03.14;09:27:03;0000000000000000;high;30,00;25,00",
                              "2025.03.14;09:28:03;0000000000000000;normal;30,00;25,00"}));
    }

    // A disk that fills up in the middle of a line of alarms.csv: the file
    // keeps no part of it, the failure is said once, and the lines owed go
    // out whole, each once and in order, at the end of the first cycle with
    // room again, whether or not that cycle changes anything.
    void alarmsFileOnAFullDisk()
    {
        AlarmRun run({"--alarm", "ROM=:25"});
        run.cycleAt(30);
        const QString path = run.dir.path() + "/alarms.csv";
        const QByteArray before = TableSupport::readFile(path);
        QCOMPARE(run.lines().size(), 1);
        {
            FileSizeLimit full(rlim_t(before.size() + 7)); // room for a few bytes of the next line
            run.cycleAt(20);
            QCOMPARE(TableSupport::readFile(path), before);
            run.cycleAt(30);
            QCOMPARE(TableSupport::readFile(path), before);
        }
        QCOMPARE(run.reported.filter("Ошибка записи файла " + path).size(), 1);
        run.cycleAt(30);
        QCOMPARE(run.lines(), QStringList({run.rom + ";high;30,00;25,00", run.rom + ";normal;20,00;25,00",
                                           run.rom + ";high;30,00;25,00"}));
        run.cycleAt(30);
        QCOMPARE(run.lines().size(), 3);
    }

    // A reading handed to the alarms again (same number) is not a second
    // reading: it does not count towards `delay`, and in a later cycle it
    // does not stand for that cycle's reading, so "no data" still comes.
    void aReadingCountsOnce()
    {
        QStringList reported;
        OutputHost host;
        host.report = [&](const QString &line) { reported << line; };
        std::unique_ptr<SensorDevice> device(TableSupport::makeDevice(0x2800000000000A01ULL));
        device->channels << TableSupport::channel(30);
        const ChannelId id = ChannelId::of(*device, 0);
        AlarmLimits limits;
        limits.high = 25;
        limits.delay = 2;
        limits.noDataCycles = 2;
        AlarmOutput alarms(host, {{id, limits}});
        CycleSummary summary;
        summary.busUp << true;
        summary.devices << QVector<const SensorDevice *>{device.get()};
        auto cycle = [&](bool newReading) {
            if (newReading)
                device->channels[0].markFilled();
            alarms.takeReading(*device, 0);
            alarms.takeReading(*device, 0);
            alarms.cycleEnded(summary);
            return alarms.board().state(id);
        };
        alarms.takeReading(*device, 0);
        alarms.takeReading(*device, 0);
        alarms.cycleEnded(summary);
        QCOMPARE(alarms.board().state(id), AlarmState::Normal);
        QCOMPARE(cycle(true), AlarmState::High);
        QCOMPARE(cycle(false), AlarmState::High);
        QCOMPARE(cycle(false), AlarmState::NoData);
        QCOMPARE(reported.size(), 2);
    }

    // The window: limits set from the table's menu through the dialog are
    // stored under the channel and hold from the next reading; the table
    // marks the value in words and colour with the limits in its tooltip,
    // the status bar counts; changing limits while in alarm writes nothing
    // until the state changes, removing them clears it once. A new window
    // raises an alarm only when the fresh evaluation finds it.
    void windowLimitsMidRun()
    {
        QString folder;
        QByteArray rom;
        QString romText;
        {
            WindowRig rig;
            SimDs18b20 *chip = rig.f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 9), 20.0));
            rom = chip->rom();
            romText = WindowRig::romText(rom);
            rig.start(true, 5);
            rig.tick();
            folder = rig.folder.path();
            auto *label = rig.window->statusBar()->findChild<QLabel *>("alarmLabel");
            QVERIFY(label);
            QCOMPARE(label->text(), QString("Тревог нет"));

            auto setLimits = [&](const QString &text) {
                rig.dialogs.setResponder([text](const DialogRequest &request) {
                    DialogAnswer answer = DialogAnswer::pressed(QMessageBox::Ok, true);
                    if (request.kind == DialogRequest::InputText)
                        answer.textValue = text;
                    return ScriptedDialogs::Answer(answer);
                });
                auto *view = rig.child<QTableView>("tblSens");
                view->selectRow(0);
                emit view->customContextMenuRequested(QPoint(2, 2));
                QMenu *menu = rig.window->findChildren<QMenu *>().last();
                for (QAction *action : menu->actions()) {
                    if (action->text() == QString("Пороги тревоги…"))
                        action->trigger();
                }
                menu->close();
            };
            TableMan *table = rig.window->tableManager();
            const QModelIndex value = table->index(0, TableMan::ColValue);

            setLimits("10:15 hysteresis=0,5");
            QCOMPARE(appSettings().value("Alarms/" + romText).toString(), QString("10:15 hysteresis=0.5"));
            QVERIFY(value.data(Qt::ToolTipRole).toString().contains("верхний 15.00"));
            QVERIFY(transitions(folder).isEmpty());
            rig.tickAfter(5000);
            QCOMPARE(transitions(folder), QStringList({romText + ";high;20,00;15,00"}));
            QCOMPARE(label->text(), QString("Тревог: 1"));
            QVERIFY(value.data().toString().endsWith("ВЫШЕ ПОРОГА"));
            QVERIFY(value.data(Qt::BackgroundRole).value<QBrush>().color() != QColor(Qt::white));

            setLimits("10:18");
            rig.tickAfter(5000);
            setLimits("10:19");
            rig.tickAfter(5000);
            QCOMPARE(transitions(folder).size(), 1);

            setLimits("bad");
            QCOMPARE(rig.dialogs.history().last().icon, QMessageBox::Warning);
            QCOMPARE(appSettings().value("Alarms/" + romText).toString(), QString("10:19"));

            setLimits("");
            QVERIFY(!appSettings().contains("Alarms/" + romText));
            rig.tickAfter(5000);
            rig.tickAfter(5000);
            QCOMPARE(transitions(folder), QStringList({romText + ";high;20,00;15,00", romText + ";normal;20,00;"}));
            QCOMPARE(label->text(), QString("Тревог нет"));
            QVERIFY(!value.data().toString().contains("ПОРОГА"));

            setLimits(":19");
        }
        for (double celsius : {18.0, 22.0}) {
            WindowRig rig;
            rig.f.add(std::make_unique<SimDs18b20>(rom, celsius));
            rig.start(true, 5);
            rig.tick();
            rig.tickAfter(5000);
            const QStringList lines = transitions(rig.folder.path());
            if (celsius < 19)
                QVERIFY(lines.isEmpty());
            else
                QCOMPARE(lines, QStringList({romText + ";high;22,00;19,00"}));
        }
        appSettings().remove("Alarms");
    }

    // In a desktop session every transition is a notification to the
    // freedesktop service; without a session bus nothing is sent and
    // measuring goes on.
    void desktopNotifications()
    {
        {
            AlarmRun quiet({"--alarm", "ROM=:25"}, true);
            quiet.cycleAt(30);
            QCOMPARE(quiet.lines().size(), 1);
        }

        QProcess daemon;
        daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        if (!daemon.waitForStarted(5000))
            QSKIP("dbus-daemon is not installed (tools/install-deps --test)");
        QVERIFY(QTest::qWaitFor([&] { return daemon.canReadLine(); }, 5000));
        const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
        FakeNotifications fake;
        {
            QDBusConnection service = QDBusConnection::connectToBus(address, "fake-notifications");
            QVERIFY(service.isConnected());
            QVERIFY(service.registerObject("/org/freedesktop/Notifications", &fake, QDBusConnection::ExportAllSlots));
            QVERIFY(service.registerService("org.freedesktop.Notifications"));

            AlarmRun run({"--alarm", "ROM=:25"}, true);
            run.cycleAt(30);
            run.cycleAt(20);
            QTRY_COMPARE(fake.summaries.size(), 2);
            QCOMPARE(fake.summaries, QStringList({"Тревога", "Тревога снята"}));
            QVERIFY(fake.bodies.first().contains(run.rom));
            QVERIFY(fake.bodies.first().contains("25.00"));
        }
        QDBusConnection::disconnectFromBus("fake-notifications");
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        daemon.terminate();
        daemon.waitForFinished(5000);
    }

    // orvexctl: --alarm and --alarms name channels as `read` prints them;
    // transitions go to standard error and alarms.csv in the recording
    // folder; a bad line is a usage error.
    void orvexctlOptions()
    {
        QTemporaryDir home;
        const QStringList env = {"XDG_CONFIG_HOME=" + home.path() + "/config"};
        const OrvexctlRun plain = runOrvexctl(ORVEXCTL_BIN, {"read", kBus, "--fast", "--cycles", "1"}, env);
        QCOMPARE(plain.exitCode, 0);
        // The thermocouple (~350 °C) and the coldest thermometer (~4 °C).
        QString hot, cold;
        for (const QByteArray &line : plain.out.split('\n')) {
            const QList<QByteArray> fields = line.split('\t');
            if (fields.size() < 7)
                continue;
            if (fields.at(6).toDouble() > 100)
                hot = QString::fromLatin1(fields.at(1));
            if (fields.at(1).endsWith("28") && fields.at(6).toDouble() < 10)
                cold = QString::fromLatin1(fields.at(1));
        }
        QVERIFY(!hot.isEmpty() && !cold.isEmpty());

        QTemporaryDir records;
        QFile file(home.filePath("alarms"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(("# cold room\n" + cold + "=10: delay=2\n").toUtf8());
        file.close();
        const OrvexctlRun run = runOrvexctl(ORVEXCTL_BIN,
                                            {"read", kBus, "--fast", "--cycles", "3", "--record", records.path(),
                                             "--alarm", hot + "=:100", "--alarms", file.fileName()},
                                            env);
        QCOMPARE(run.exitCode, 0);
        const QStringList lines = transitions(records.path());
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines.at(0).startsWith(hot + ";high;") && lines.at(0).endsWith(";100,00"), qPrintable(lines.at(0)));
        QVERIFY2(lines.at(1).startsWith(cold + ";low;") && lines.at(1).endsWith(";10,00"), qPrintable(lines.at(1)));
        const QString err = QString::fromUtf8(run.err);
        QCOMPARE(err.count("Тревога"), 2);
        QVERIFY(err.contains(hot));

        for (const QStringList &bad : {QStringList{"--alarm", hot + "=30:20"}, QStringList{"--alarm", "nonsense"},
                                       QStringList{"--alarms", home.filePath("absent")}}) {
            const OrvexctlRun refused = runOrvexctl(ORVEXCTL_BIN, QStringList{"read", kBus, "--fast"} + bad, env);
            QCOMPARE(refused.exitCode, 2);
        }
    }

    // Publishing: a channel with limits gets a Home Assistant binary sensor
    // of class "problem" and its state, with the state and limit as
    // attributes, on its alarm topic; one without limits gets none.
    void mqttBinarySensor()
    {
        if (MqttTestBroker::executable().isEmpty())
            QSKIP("mosquitto is not installed (tools/install-deps --test)");
        MqttTestBroker broker;
        QVERIFY2(broker.start(), qPrintable(broker.error()));
        MqttTestSubscriber subscriber("alarms-watch", {"#"});
        QVERIFY(subscriber.connectTo(broker.port()));
        QTemporaryDir home;
        const QStringList env = {"XDG_CONFIG_HOME=" + home.path() + "/config",
                                 "XDG_DATA_HOME=" + home.path() + "/data"};
        const OrvexctlRun plain = runOrvexctl(ORVEXCTL_BIN, {"read", kBus, "--fast", "--cycles", "1"}, env);
        QString hot;
        for (const QByteArray &line : plain.out.split('\n')) {
            const QList<QByteArray> fields = line.split('\t');
            if (fields.size() > 6 && fields.at(6).toDouble() > 100)
                hot = QString::fromLatin1(fields.at(1));
        }
        QVERIFY(!hot.isEmpty());
        const OrvexctlRun run = runOrvexctl(
            ORVEXCTL_BIN,
            {"read", kBus, "--fast", "--cycles", "2", "--mqtt", broker.url("lab"), "--alarm", hot + "=:100"}, env);
        QCOMPARE(run.exitCode, 0);

        QTRY_VERIFY(!subscriber.matching("lab/+/+/alarm").isEmpty());
        const auto configs = subscriber.matching("homeassistant/binary_sensor/+/+/config");
        QStringList alarmConfigs;
        for (const auto &m : configs) {
            if (m.topic.endsWith("_alarm/config"))
                alarmConfigs << m.topic;
        }
        QCOMPARE(alarmConfigs.size(), 1);
        QVERIFY(alarmConfigs.first().contains(hot + "_0_alarm"));
        QJsonObject config;
        for (const auto &m : configs) {
            if (m.topic == alarmConfigs.first())
                config = QJsonDocument::fromJson(m.payload).object();
        }
        QCOMPARE(config.value("device_class").toString(), QString("problem"));
        const auto states = subscriber.matching("lab/+/+/alarm");
        QCOMPARE(states.size(), 1);
        QCOMPARE(config.value("state_topic").toString(), states.first().topic);
        const QJsonObject state = QJsonDocument::fromJson(states.first().payload).object();
        QCOMPARE(state.value("active").toBool(), true);
        QCOMPARE(state.value("state").toString(), QString("high"));
        QCOMPARE(state.value("limit").toDouble(), 100.0);
    }

    // In the window's publisher, limits removed while in alarm publish the
    // cleared state and then withdraw the binary sensor.
    void mqttLimitsRemoved()
    {
        if (MqttTestBroker::executable().isEmpty())
            QSKIP("mosquitto is not installed (tools/install-deps --test)");
        MqttTestBroker broker;
        QVERIFY2(broker.start(), qPrintable(broker.error()));
        MqttTestSubscriber subscriber("alarms-removed", {"#"});
        QVERIFY(subscriber.connectTo(broker.port()));
        QTemporaryDir queue;
        MqttConfig config;
        config.url = broker.url("lab");
        QString error;
        QVERIFY(config.parseUrl(&error));
        config.hostName = "bench";
        config.clientId = "alarms-removed-publisher";
        config.queueFolder = queue.path();
        config.applyDefaults();

        AlarmRun run({"--alarm", "ROM=:25"});
        MqttPublisher publisher(config);
        publisher.setAlarmBoard(&run.board());
        QVERIFY(publisher.start(&error));
        run.session->addSink(&publisher);
        run.cycleAt(30);
        run.board().setLimits(run.channel(), AlarmLimits());
        run.cycleAt(30);
        run.cycleAt(30);
        QVERIFY(publisher.waitUntilDelivered(10000));

        QTRY_COMPARE(subscriber.matching("lab/bench/+/alarm").size(), 2);
        const auto states = subscriber.matching("lab/bench/+/alarm");
        QCOMPARE(QJsonDocument::fromJson(states.at(0).payload).object().value("state").toString(), QString("high"));
        QCOMPARE(QJsonDocument::fromJson(states.at(1).payload).object().value("state").toString(), QString("normal"));
        const QString alarmConfig = "homeassistant/binary_sensor/orvex_bench/" + run.rom + "_0_alarm/config";
        QTRY_COMPARE(subscriber.matching(alarmConfig).size(), 2);
        const auto configs = subscriber.matching(alarmConfig);
        QCOMPARE(json(configs.at(0).payload).value("device_class").toString(), QString("problem"));
        QVERIFY(configs.at(1).payload.isEmpty());
        run.session->removeSink(&publisher);
        publisher.stop(2000);
    }

    // The Prometheus page says for each channel with limits whether it is in alarm.
    void metricsPage()
    {
        AlarmBoard board;
        ChannelId hot, calm;
        QString error;
        AlarmRules::parseChannel("0B01145C0731AA28", &hot, &error);
        AlarmRules::parseChannel("0B01145C0731AA28/1", &calm, &error);
        AlarmLimits limits;
        limits.high = 25;
        board.setLimits(hot, limits);
        board.setLimits(calm, limits);
        board.setState(hot, AlarmState::High, 26, 25);
        MetricsFace face{MetricsConfig()};
        face.setAlarmBoard(&board);
        face.cycleEnded(CycleSummary());
        const QByteArray page = face.page();
        QVERIFY(page.contains("# TYPE orvex_alarm_active gauge"));
        QVERIFY(page.contains("orvex_alarm_active{rom=\"0B01145C0731AA28\",subchannel=\"0\",hub_channel=\"-1\","
                              "i2c_address=\"\",state=\"high\"} 1\n"));
        QVERIFY(page.contains("orvex_alarm_active{rom=\"0B01145C0731AA28\",subchannel=\"1\",hub_channel=\"-1\","
                              "i2c_address=\"\",state=\"normal\"} 0\n"));
    }

private:
    QTemporaryDir m_noBus;
};

QTEST_MAIN(TstAlarms)
#include "tst_alarms.moc"
