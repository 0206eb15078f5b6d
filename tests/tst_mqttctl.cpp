#include "publish/publishqueue.h"
#include "support/filesizelimit.h"
#include "support/mqttrelay.h"
#include "support/mqtttestbroker.h"
#include "support/mqtttestsubscriber.h"
#include "support/tablesupport.h"
#include "support/testprocess.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>

using Message = MqttTestSubscriber::Message;

namespace {

// Eight thermometer channels a cycle, all in °C.
const char kBus[] = "--bus=sim:" TEST_DATA_DIR "/buses/thermometers.json";

const int kBrokerMs = 10000;

// orvexctl with its own settings and data folders, never a user's.
struct Orvexctl : TestProcess
{
    explicit Orvexctl(const QString &home)
        : TestProcess(QStringLiteral(ORVEXCTL_BIN),
                          {"XDG_CONFIG_HOME=" + home + "/config", "XDG_DATA_HOME=" + home + "/data", "ORVEX_MQTT_PASSWORD"})
    {
    }
    // Measurement cycles printed so far (eight channels each on the thermometer bus).
    int cyclesPrinted() const { return out().size() / 8; }
};

QString timeOf(const Message &message)
{
    return QJsonDocument::fromJson(message.payload).object().value("time").toString();
}

QList<Message> without(const QList<Message> &messages, const QString &timePrefix)
{
    QList<Message> kept;
    for (const Message &m : messages) {
        if (!timeOf(m).startsWith(timePrefix))
            kept << m;
    }
    return kept;
}

QString key(const Message &message)
{
    return message.topic + ' ' + QString::fromUtf8(message.payload);
}

} // namespace

// orvexctl read --mqtt against a real broker: what it prints and writes, how
// a killed run is announced, and what a run after a crash delivers.
class TstMqttctl : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_home;

private slots:
    // Publishing changes nothing orvexctl prints or records; its readings all
    // reach the broker before it ends, between "online" and "offline"; its
    // one line on stderr says it connected. Killed in the middle of a run, orvexctl
    // is announced "offline" by the broker's last will, and that stays retained.
    void publishesWhatItRecordsAndGoesOffline()
    {
        MqttTestBroker broker;
        QVERIFY2(broker.start(), qPrintable(broker.error()));
        MqttTestSubscriber subscriber("ctl-records", {"lab/#"});
        QVERIFY(subscriber.connectTo(broker.port()));

        const QStringList common{"read", kBus, "--fast", "--start", "2025-01-27T14:03:05", "--cycles", "3",
                                 "--interval", "30"};
        QTemporaryDir plainDir, publishedDir;
        Orvexctl plain(m_home.path());
        QVERIFY(plain.run(common + QStringList{"--record", plainDir.path()}));
        Orvexctl published(m_home.path());
        QVERIFY(published.run(common + QStringList{"--record", publishedDir.path(), "--mqtt", broker.url("lab"),
                                                   "--mqtt-queue", m_home.path() + "/records"}));
        QCOMPARE(published.exitCode(), 0);
        QCOMPARE(published.out(), plain.out());
        QCOMPARE(published.err().size(), 1);
        QVERIFY2(published.err().first().startsWith(QString("orvexctl: MQTT: подключено к 127.0.0.1:%1").arg(broker.port())),
                 qPrintable(published.err().first()));
        QCOMPARE(TableSupport::folderContents(plainDir.path()).size(), 8);
        QCOMPARE(TableSupport::folderContents(publishedDir.path()), TableSupport::folderContents(plainDir.path()));

        QVERIFY(QTest::qWaitFor([&] { return subscriber.matching("lab/+/+/availability").size() == 2; }, kBrokerMs));
        const QList<Message> all = subscriber.matching("lab/#");
        QCOMPARE(all.size(), 1 + 24 + 1);
        QCOMPARE(all.first().payload, QByteArray("online"));
        QCOMPARE(all.last().payload, QByteArray("offline"));
        // In the order printed.
        for (int i = 1; i <= 24; ++i) {
            const QStringList fields = published.out().at(i - 1).split('\t');
            QCOMPARE(all.at(i).topic.section('/', 2), fields.at(1) + "_" + fields.at(2) + "/state");
        }

        Orvexctl killed(m_home.path());
        killed.start({"read", kBus, "--cycles", "1000", "--interval", "1", "--mqtt", broker.url("lab"),
                      "--mqtt-queue", m_home.path() + "/will"});
        QVERIFY(QTest::qWaitFor([&] { return subscriber.matching("lab/+/+/state").size() > 24; }, kBrokerMs));
        killed.kill();
        QVERIFY(QTest::qWaitFor([&] { return subscriber.matching("lab/+/+/availability").size() == 4; }, kBrokerMs));
        QCOMPARE(subscriber.payloads("lab/+/+/availability"), QByteArrayList({"online", "offline", "online", "offline"}));
        MqttTestSubscriber late("ctl-will-late", {"lab/+/+/availability"});
        QVERIFY(late.connectTo(broker.port()));
        QVERIFY(QTest::qWaitFor([&] { return !late.messages().isEmpty(); }, kBrokerMs));
        QCOMPARE(late.messages().first().payload, QByteArray("offline"));
    }

    // Two orvexctl at once on one machine, with the default queue: each its
    // own queue, client id and availability topic, so neither evicts the
    // other (an eviction would show as a lost connection on stderr) and both
    // deliver every reading.
    void twoAtOnce()
    {
        MqttTestBroker broker;
        QVERIFY2(broker.start(), qPrintable(broker.error()));
        MqttTestSubscriber subscriber("ctl-two", {"lab/#"});
        QVERIFY(subscriber.connectTo(broker.port()));
        QTemporaryDir home;
        Orvexctl slow(home.path()), fast(home.path());
        slow.start({"read", kBus, "--cycles", "3", "--interval", "1", "--mqtt", broker.url("lab")});
        QVERIFY(slow.waitForLines(8));
        QVERIFY(fast.run({"read", kBus, "--fast", "--cycles", "20", "--mqtt", broker.url("lab")}));
        QVERIFY(slow.finish());
        for (Orvexctl *run : {&slow, &fast}) {
            QCOMPARE(run->exitCode(), 0);
            QCOMPARE(run->err().size(), 1);
            QVERIFY2(run->err().first().startsWith("orvexctl: MQTT: подключено"), qPrintable(run->err().first()));
        }
        QVERIFY(QTest::qWaitFor([&] { return subscriber.matching("lab/+/+/availability").size() == 4; }, kBrokerMs));
        QCOMPARE(subscriber.matching("lab/+/+/state").size(), 8 * (3 + 20));
        QMap<QString, QByteArrayList> availability;
        for (const Message &m : subscriber.matching("lab/+/+/availability"))
            availability[m.topic] << m.payload;
        QCOMPARE(availability.size(), 2);
        for (const QByteArrayList &said : availability)
            QCOMPARE(said, QByteArrayList({"online", "offline"}));
    }

    // Failure is not reported as success: one clear line and exit code 2
    // when the CA file cannot be read; 3 when the broker refuses for good
    // (the credentials here; a failed TLS handshake fails the publisher the
    // same way, see tst_mqtt), saying what stays queued; 4 when it is never
    // reached; 2 when the queue holds another broker's messages.
    void exitCodes()
    {
        MqttTestBroker::Options options;
        options.user = "lab";
        options.password = "right";
        MqttTestBroker broker(options);
        QVERIFY2(broker.start(), qPrintable(broker.error()));
        QTemporaryDir dir;
        QFile wrong(dir.path() + "/wrong");
        QVERIFY(wrong.open(QIODevice::WriteOnly) && wrong.write("not-it\n") > 0);
        wrong.close();
        const QString unreached = "orvexctl: MQTT: 127.0.0.1:1 was not reached during the run; 8 message(s) stay queued in ";
        const QList<QPair<QStringList, QString>> cases{
            {{"--mqtt", broker.url("lab").replace("mqtt:", "mqtts:"), "--mqtt-ca", dir.path() + "/absent.crt"},
             "2 orvexctl: MQTT: файл сертификатов ЦС " + dir.path() + "/absent.crt не читается"},
            {{"--mqtt", broker.url("lab"), "--mqtt-user", "lab", "--mqtt-password-file", wrong.fileName()},
             "3 orvexctl: MQTT: 8 message(s) stay queued in " + dir.path() + "/q1"},
            {{"--mqtt", "mqtt://127.0.0.1:1/lab", "--mqtt-wait", "0"}, "4 " + unreached + dir.path() + "/q2"},
            {{"--mqtt", broker.url("lab"), "--mqtt-user", "lab"},
             "2 orvexctl: MQTT: очередь " + dir.path() + "/q2 хранит 8 сообщ. для mqtt://127.0.0.1:1/lab; укажите для "
                 + QString("mqtt://127.0.0.1:%1/lab другую папку очереди").arg(broker.port())},
        };
        for (int i = 0; i < cases.size(); ++i) {
            Orvexctl run(m_home.path());
            QVERIFY(run.run(QStringList{"read", kBus, "--fast", "--mqtt-queue", dir.path() + "/q" + QString::number(qMin(i, 2))}
                            + cases.at(i).first));
            // Unreached, a line about the failed attempt may come first.
            const QString result = QString::number(run.exitCode()) + " " + run.err().join(" | ");
            QVERIFY2(QString::number(run.exitCode()) + " " + run.err().last() == cases.at(i).second
                         || (result.startsWith(cases.at(i).second) && run.err().size() == 1),
                     qPrintable(result));
            // Refused: the reason, then what stays queued.
            QVERIFY(run.exitCode() != 3
                    || run.err().value(0).startsWith("orvexctl: MQTT: ошибка: брокер отказал в доступе: неверное имя "
                                                     "пользователя или пароль, или нет прав"));
        }
    }

    // Undelivered readings are never success. TLS that cannot work fails for
    // good, exit code 3 every time, with the TLS library's reason: a broker
    // certificate no system CA signed (no --mqtt-ca), and mqtts:// to a port
    // that speaks plain MQTT. A broker that never acknowledges (a relay
    // holding back its PUBACKs) leaves the readings queued: exit code 5.
    void undeliveredIsNeverSuccess()
    {
        MqttTestBroker::Options options;
        options.tls = true;
        MqttTestBroker broker(options);
        QVERIFY2(broker.start(), qPrintable(broker.error()));
        QTemporaryDir dir;
        const QStringList urls{broker.url("lab", true), broker.url("lab").replace("mqtt:", "mqtts:")};
        // Each run long enough for the link to try again a few times.
        for (int i = 0; i < 4; ++i) {
            Orvexctl run(m_home.path());
            QVERIFY(run.run({"read", kBus, "--cycles", "2", "--interval", "2", "--mqtt-queue",
                             dir.path() + "/tls" + QString::number(i), "--mqtt", urls.at(i % 2)}));
            const QString result = QString::number(run.exitCode()) + " " + run.err().join(" | ");
            QStringList err = run.err();
            const QString kept = err.isEmpty() ? QString() : err.takeLast();
            QVERIFY2(run.exitCode() == 3 && !err.isEmpty()
                         && err.filter(QRegularExpression("^orvexctl: MQTT: ошибка: ошибка TLS: \\S")).size() == err.size()
                         && kept.contains(" message(s) stay queued in " + dir.path() + "/tls"),
                     qPrintable(result));
        }

        MqttRelay relay(broker.port());
        relay.setDropAcks(true);
        Orvexctl run(m_home.path());
        QVERIFY(run.run({"read", kBus, "--fast", "--mqtt-queue", dir.path() + "/noack", "--mqtt-wait", "1", "--mqtt",
                         QString("mqtt://127.0.0.1:%1/lab").arg(relay.port())}));
        QCOMPARE(run.exitCode(), 5);
        QCOMPARE(run.err().last(), "orvexctl: MQTT: 8 message(s) not acknowledged stay queued in " + dir.path() + "/noack");
        QVERIFY(relay.acksDropped() > 0);
    }

    // The service's run started on a full disk: the queue that cannot be
    // written is said, not refused; what an earlier run left queued is
    // delivered first and the new readings after it; measuring goes on;
    // once there is room the queue's lock and file are written again with
    // no restart; stopped, the run ends 7, the files having missed readings.
    void fullDiskAtStartIsNoBadOption()
    {
        MqttTestBroker broker;
        QVERIFY2(broker.start(), qPrintable(broker.error()));
        MqttTestSubscriber subscriber("ctl-full", {"lab/#"});
        QVERIFY(subscriber.connectTo(broker.port()));
        QTemporaryDir dir;
        const QString queue = dir.path() + "/queue";
        {
            PublishQueue earlier(queue, 100);
            QString error;
            QVERIFY2(earlier.open(&error), qPrintable(error));
            earlier.append("lab/bench/earlier_0/state", "{\"n\":1}", true, true);
        }
        Orvexctl run(m_home.path());
        {
            FileSizeLimit full(0); // inherited by the program
            run.start({"read", kBus, "--cycles", "0", "--interval", "1", "--record", dir.path() + "/records", "--mqtt",
                       broker.url("lab"), "--mqtt-queue", queue, "--mqtt-client-id", "ctl-full-run"});
        }
        QVERIFY(QTest::qWaitFor([&] { return subscriber.matching("lab/+/+/state").size() >= 16; }, kBrokerMs));
        const QList<Message> states = subscriber.matching("lab/+/+/state");
        QCOMPARE(states.first().topic, QString("lab/bench/earlier_0/state"));
        // (Whether queue.lock exists now is not asked: each try to write it
        // creates it for a moment before the full disk makes it go again.)
        QVERIFY2(run.err().filter("; очередь не записывается: ").size() >= 1, qPrintable(run.err().join('\n')));

        rlimit room{RLIM_INFINITY, RLIM_INFINITY};
        QVERIFY(prlimit(pid_t(run.process().processId()), RLIMIT_FSIZE, &room, nullptr) == 0);
        QVERIFY(QTest::qWaitFor([&] { return QFile::exists(queue + "/queue.lock"); }, kBrokerMs));
        const int printed = run.out().size();
        QVERIFY(QTest::qWaitFor([&] { return run.out().size() >= printed + 16; }, kBrokerMs));
        ::kill(pid_t(run.process().processId()), SIGTERM);
        QVERIFY(run.finish(kBrokerMs));
        QVERIFY2(run.exitCode() == 7, qPrintable(run.err().join('\n')));
        QCOMPARE(run.err().filter("не записано показаний: ").size(), 1);
        QCOMPARE(QFileInfo(queue + "/queue.log").size(), 0);
        QVERIFY(QTest::qWaitFor([&] { return subscriber.matching("lab/+/+/state").size() >= 1 + run.out().size(); },
                                kBrokerMs));
    }

    // A run publishes until its readings are acknowledged, loses the broker,
    // queues readings and is killed. The next run delivers that queue first,
    // in order, each reading once, then its own readings; nothing the broker
    // had acknowledged before the crash comes again.
    void queueLeftByACrash()
    {
        MqttTestBroker broker;
        QVERIFY2(broker.start(), qPrintable(broker.error()));
        MqttTestSubscriber subscriber("ctl-crash", {"lab/+/+/state"});
        QVERIFY(subscriber.connectTo(broker.port()));
        auto states = [&] { return subscriber.matching("lab/+/+/state"); };
        const QString queue = m_home.path() + "/crash";
        const QStringList mqtt{"--mqtt", broker.url("lab"), "--mqtt-queue", queue, "--mqtt-client-id", "ctl-crash-run"};

        Orvexctl crashed(m_home.path());
        crashed.start(QStringList{"read", kBus, "--cycles", "1000", "--interval", "1"} + mqtt);
        // Taken before the queue is seen empty, so all of these are acknowledged.
        QList<Message> acknowledged;
        QVERIFY(QTest::qWaitFor(
            [&] {
                acknowledged = states();
                return acknowledged.size() >= 16 && QFileInfo(queue + "/queue.log").size() == 0;
            },
            kBrokerMs));
        QVERIFY(subscriber.sync());
        broker.stop();
        // These may have gone out just before the broker stopped, unacknowledged.
        const QList<Message> beforeStop = states();
        const int cyclesBeforeStop = crashed.cyclesPrinted();
        QVERIFY(QTest::qWaitFor([&] { return crashed.cyclesPrinted() >= cyclesBeforeStop + 2; }, kBrokerMs));
        crashed.kill();
        const int cycles = crashed.cyclesPrinted();
        QVERIFY(QFileInfo(queue + "/queue.log").size() > 0);

        QVERIFY2(broker.start(), qPrintable(broker.error()));
        Orvexctl next(m_home.path());
        QVERIFY(next.run(QStringList{"read", kBus, "--fast", "--start", "2030-01-01T00:00:00", "--cycles", "1"}
                         + mqtt));
        QCOMPARE(next.exitCode(), 0);
        QVERIFY(QTest::qWaitFor(
            [&] { return states().size() - without(states(), "2030-").size() == 8; }, kBrokerMs));

        const QList<Message> all = states();
        const QList<Message> crashedRun = without(all, "2030-");
        // The new run's own readings come after the queue it found.
        for (int i = crashedRun.size(); i < all.size(); ++i)
            QVERIFY2(timeOf(all.at(i)).startsWith("2030-"), qPrintable(key(all.at(i))));
        QSet<QString> acknowledgedKeys, mayRepeat, seen;
        for (const Message &m : acknowledged)
            acknowledgedKeys << key(m);
        for (const Message &m : beforeStop.mid(acknowledged.size()))
            mayRepeat << key(m);
        QMap<QString, QString> lastTime;
        for (int i = 0; i < crashedRun.size(); ++i) {
            const Message &m = crashedRun.at(i);
            if (seen.contains(key(m))) {
                QVERIFY2(i >= acknowledged.size() && !acknowledgedKeys.contains(key(m)),
                         qPrintable("acknowledged before the crash and sent again: " + key(m)));
                QVERIFY2(mayRepeat.contains(key(m)), qPrintable("sent twice: " + key(m)));
                continue;
            }
            seen << key(m);
            QVERIFY2(timeOf(m) > lastTime.value(m.topic), qPrintable("out of order: " + key(m)));
            lastTime[m.topic] = timeOf(m);
        }
        qInfo("%lld acknowledged before the broker stopped, %d cycles before the kill, %lld readings in all",
              qint64(acknowledged.size()), cycles, qint64(seen.size()));
        // Every cycle printed before the kill, and perhaps part of the one under way.
        QVERIFY2(seen.size() >= 8 * cycles && seen.size() <= 8 * (cycles + 1),
                 qPrintable(QString("%1 readings for %2 cycles").arg(seen.size()).arg(cycles)));
        QCOMPARE(QFileInfo(queue + "/queue.log").size(), 0);
    }
};

QTEST_GUILESS_MAIN(TstMqttctl)
#include "tst_mqttctl.moc"
