#include "onewire/romid.h"
#include "publish/channelmessages.h"
#include "publish/channelregistry.h"
#include "publish/mqttpublisher.h"
#include "publish/mqttconfig.h"
#include "publish/publishqueue.h"
#include "support/filesizelimit.h"
#include "support/tablesupport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>
#include <dlfcn.h>
#include <memory>
#include <tuple>

namespace {

// While set, every fdatasync() of this process fails as on a disk that lost
// what was written (EIO).
bool g_failSyncs = false;

} // namespace

// This test's own fdatasync(), which the program's calls reach before the C
// library's.
extern "C" int fdatasync(int fd)
{
    using Sync = int (*)(int);
    static const Sync real = reinterpret_cast<Sync>(dlsym(RTLD_NEXT, "fdatasync"));
    if (g_failSyncs) {
        errno = EIO;
        return -1;
    }
    return real(fd);
}

namespace {

// The topics the queue hands out, in order, without acknowledging them.
QStringList pendingTopics(PublishQueue &queue)
{
    QStringList topics;
    while (const PublishQueue::Message *message = queue.takeNext())
        topics << QString::fromUtf8(message->topic);
    return topics;
}

// A queue on `folder`, opened; `error` says why when it could not be.
struct OpenedQueue : PublishQueue
{
    OpenedQueue(const QString &folder, int limit) : PublishQueue(folder, limit) { opened = open(&error); }
    bool opened = false;
    QString error;
};

QJsonObject json(const QByteArray &payload)
{
    return QJsonDocument::fromJson(payload).object();
}

} // namespace

// The parts of publishing that need no broker: the on-disk queue, the broker
// address and options, and how a channel is named and described.
class TstPublishing : public QObject
{
    Q_OBJECT
private slots:
    // What was queued and not acknowledged comes back, in order, after the
    // program ends, also when it died in the middle of writing a line; an
    // acknowledged message never does; an empty queue leaves an empty file.
    void queueSurvivesARestartAndATornLine()
    {
        QTemporaryDir dir;
        const QString log = dir.path() + "/queue.log";
        {
            OpenedQueue queue(dir.path(), 100);
            QVERIFY2(queue.opened, qPrintable(queue.error));
            for (int i = 1; i <= 5; ++i)
                queue.append(QByteArray("t/") + QByteArray::number(i), "{\"n\":" + QByteArray::number(i) + "}", true, true);
            queue.acknowledge(1);
            queue.acknowledge(3);
            QCOMPARE(queue.size(), 3);
        }
        // A crash in the middle of a line.
        QFile file(log);
        QVERIFY(file.open(QIODevice::Append));
        file.write("{\"ack\":4");
        file.close();
        {
            OpenedQueue queue(dir.path(), 100);
            QVERIFY2(queue.opened, qPrintable(queue.error));
            QCOMPARE(queue.size(), 3);
            const PublishQueue::Message *first = queue.takeNext();
            QVERIFY(first);
            QCOMPARE(first->payload, QByteArray("{\"n\":2}"));
            QVERIFY(first->retain && first->reading);
            queue.acknowledge(first->seq);
            // The line after the torn one is read back whole.
            queue.append("t/6", "{\"n\":6}", false, false);
        }
        OpenedQueue queue(dir.path(), 100);
        QVERIFY2(queue.opened, qPrintable(queue.error));
        QCOMPARE(pendingTopics(queue), QStringList({"t/4", "t/5", "t/6"}));
        QCOMPARE(queue.readings(), 2);
        for (uint64_t seq = 1; seq <= 10; ++seq)
            queue.acknowledge(seq);
        QCOMPARE(queue.size(), 0);
        QCOMPARE(TableSupport::readFile(log), QByteArray());
    }

    // At the bound the oldest reading not yet handed out is dropped (never
    // one already on its way, never a message that is not a reading); the
    // count survives a restart until it is reported.
    void queueBound()
    {
        QTemporaryDir dir;
        {
            OpenedQueue queue(dir.path(), 3);
            QVERIFY2(queue.opened, qPrintable(queue.error));
            queue.append("r/1", "1", true, true);
            queue.append("x/2", "2", true, false);
            QVERIFY(queue.takeNext()); // r/1 is on its way
            queue.append("r/3", "3", true, true);
            queue.append("r/4", "4", true, true);
            QVERIFY(!queue.atLimit());
            queue.append("r/5", "5", true, true);
            QVERIFY(queue.atLimit());
            queue.append("r/6", "6", true, true);
            QCOMPARE(queue.readings(), 3);
            QCOMPARE(queue.droppedUnreported(), uint64_t(2));
            QCOMPARE(queue.droppedThisRun(), uint64_t(2));
        }
        {
            OpenedQueue queue(dir.path(), 3);
            QVERIFY2(queue.opened, qPrintable(queue.error));
            QCOMPARE(pendingTopics(queue), QStringList({"r/1", "x/2", "r/5", "r/6"}));
            QCOMPARE(queue.droppedUnreported(), uint64_t(2));
            QCOMPARE(queue.droppedThisRun(), uint64_t(0));
            queue.reportedDropped(2);
        }
        OpenedQueue queue(dir.path(), 3);
        QVERIFY2(queue.opened, qPrintable(queue.error));
        QCOMPARE(queue.droppedUnreported(), uint64_t(0));
        QCOMPARE(queue.size(), 4);
    }

    // Acknowledged lines are cleared out as they pile up behind a message
    // that waits; a second program cannot use the same folder while the first
    // holds it.
    void queueFileStaysSmallAndOwned()
    {
        QTemporaryDir dir;
        OpenedQueue queue(dir.path(), 10000);
        QVERIFY2(queue.opened, qPrintable(queue.error));
        queue.append("kept", "waiting", true, true);
        for (int i = 0; i < 3000; ++i)
            queue.acknowledge(queue.append("gone", QByteArray(100, 'x'), true, true));
        QVERIFY2(TableSupport::readFile(dir.path() + "/queue.log").size() < 1100 * 120, "acknowledged lines were not cleared out");

        OpenedQueue second(dir.path(), 10);
        QVERIFY2(!second.opened && second.error.contains(QStringLiteral("занята другой программой")),
                 qPrintable(second.error));

        const QString unusable = dir.path() + "/file";
        QFile file(unusable);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        OpenedQueue third(unusable, 10);
        QVERIFY(!third.opened);
        QCOMPARE(third.error, QStringLiteral("не удалось создать папку очереди ") + unusable);
    }

    // While the disk is full every message stays queued in memory and the
    // queue says why; the first write that succeeds again makes the file
    // whole, so a restart gets exactly what was queued, none lost and none
    // acknowledged. A queue file that became a folder refuses the start.
    void failedWritesLoseNothing()
    {
        QTemporaryDir dir;
        QString error;
        {
            OpenedQueue queue(dir.path(), 100);
            QVERIFY2(queue.opened, qPrintable(queue.error));
            queue.append("t/1", "1", true, true);
            queue.append("t/2", "2", true, true);
            {
                FileSizeLimit full(0);
                queue.append("t/3", "3", true, true);
                QVERIFY(!queue.problemText().isEmpty());
                queue.acknowledge(1);
                QVERIFY(!queue.problemText().isEmpty());
                QCOMPARE(pendingTopics(queue), QStringList({"t/2", "t/3"}));
            }
            queue.append("t/4", "4", false, false);
            QCOMPARE(queue.problemText(), QString());
        }
        {
            OpenedQueue queue(dir.path(), 100);
            QVERIFY2(queue.opened, qPrintable(queue.error));
            QCOMPARE(pendingTopics(queue), QStringList({"t/2", "t/3", "t/4"}));
        }
        // The channel list keeps its last good version on a full disk.
        ChannelRegistry registry(dir.path() + "/channels.json");
        const QDateTime now(QDate(2025, 6, 1), QTime(12, 0));
        registry.seen("a_0", "ha/a/config", "lab/a/state", now);
        registry.save(now, 600);
        const QByteArray saved = TableSupport::readFile(dir.path() + "/channels.json");
        QVERIFY(saved.contains("lab/a/state"));
        {
            FileSizeLimit full(16);
            registry.seen("b_0", "ha/b/config", "lab/b/state", now);
            registry.save(now, 600, true);
        }
        QCOMPARE(TableSupport::readFile(dir.path() + "/channels.json"), saved);

        // A publisher's queue that cannot be written says so in the status
        // (and so on orvexctl's stderr), and again when it can. A reading
        // handed over twice is queued once. What waits in memory when room
        // comes back goes into the file before the publisher stops.
        {
            MqttConfig config;
            QStringList args{"--mqtt", "mqtt://127.0.0.1:1/lab", "--mqtt-queue", dir.path() + "/publisher"};
            QVERIFY(MqttConfig::takeOptions(args, &config, &error));
            MqttPublisher publisher(config);
            QVERIFY2(publisher.start(&error), qPrintable(error));
            QSignalSpy said(&publisher, &MqttPublisher::stateChanged);
            std::unique_ptr<SensorDevice> device(TableSupport::makeDevice(0x2800000000000001ULL));
            device->channels << TableSupport::channel(20);
            {
                FileSizeLimit full(0);
                publisher.takeReading(*device, 0);
                publisher.takeReading(*device, 0);
            }
            QVERIFY2(publisher.statusText().contains(QStringLiteral("; очередь не записывается: ")),
                     qPrintable(publisher.statusText()));
            QCOMPARE(publisher.queued(), 1);
            device->channels[0].markFilled();
            publisher.takeReading(*device, 0);
            QVERIFY(said.count() == 2 && publisher.queueProblem().isEmpty() && publisher.queued() == 2);
            {
                FileSizeLimit full(0);
                for (int i = 0; i < 3; ++i) {
                    device->channels[0].markFilled();
                    publisher.takeReading(*device, 0);
                }
                QCOMPARE(publisher.unstored(), 3);
            }
            publisher.stop(100);
            QCOMPARE(publisher.unstored(), 0);
        }
        QCOMPARE(OpenedQueue(dir.path() + "/publisher", 100).size(), 5);

        QVERIFY(QFile::remove(dir.path() + "/queue.log"));
        QVERIFY(QDir(dir.path()).mkdir("queue.log"));
        OpenedQueue queue(dir.path(), 100);
        QVERIFY2(!queue.opened && queue.error.startsWith(QStringLiteral("не удалось прочитать очередь")),
                 qPrintable(queue.error));
    }

    // A queue that starts on a full disk is not refused: it takes over what
    // the folder holds (first in line), keeps a second program away without
    // room for its lock file, holds new messages in memory, and writes the
    // lock, the target and the file once there is room. Without room even
    // for the folder nothing is handed out until catchUp() has made it.
    void queueOnAFullDiskAtStart()
    {
        QTemporaryDir dir;
        {
            OpenedQueue earlier(dir.path(), 100);
            QVERIFY2(earlier.opened, qPrintable(earlier.error));
            earlier.append("t/1", "1", true, true);
            earlier.append("t/2", "2", true, true);
        }
        const QString lock = dir.path() + "/queue.lock";
        PublishQueue queue(dir.path(), 100, "mqtt://127.0.0.1:1883/lab");
        {
            FileSizeLimit full(0);
            QString error;
            QVERIFY2(queue.open(&error), qPrintable(error));
            QVERIFY(!queue.problemText().isEmpty());
            QVERIFY(!QFile::exists(lock) && !QFile::exists(dir.path() + "/target"));
            queue.append("t/3", "3", true, true);
            QCOMPARE(queue.unstored(), 1);
            OpenedQueue second(dir.path(), 100);
            QVERIFY2(!second.opened && second.heldElsewhere(), qPrintable(second.error));
            QVERIFY(!queue.catchUp());
        }
        QVERIFY(queue.catchUp());
        QCOMPARE(queue.problemText(), QString());
        QVERIFY(QFile::exists(lock));
        QCOMPARE(TableSupport::readFile(dir.path() + "/target"), QByteArray("mqtt://127.0.0.1:1883/lab\n"));
        QCOMPARE(pendingTopics(queue), QStringList({"t/1", "t/2", "t/3"}));
        QCOMPARE(TableSupport::readFile(dir.path() + "/queue.log").count('\n'), 3);

        // A file system out of inodes: no folder can be made.
        QTemporaryDir mountPoint;
        if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=64k,nr_inodes=16", "orvex-inodes-test", mountPoint.path()}) != 0)
            QSKIP("no small tmpfs: mounting one is not allowed here (needs root)");
        const auto unmount = qScopeGuard([&] { QProcess::execute("umount", {mountPoint.path()}); });
        QStringList fillers;
        for (int i = 0; i < 64; ++i) {
            QFile filler(mountPoint.path() + QStringLiteral("/filler%1").arg(i));
            if (!filler.open(QIODevice::WriteOnly))
                break;
            fillers << filler.fileName();
        }
        PublishQueue later(mountPoint.path() + "/queue", 100);
        QString error;
        QVERIFY2(later.open(&error), qPrintable(error));
        QVERIFY(!later.problemText().isEmpty());
        later.append("t/1", "1", true, true);
        QVERIFY(!later.takeNext());
        QVERIFY(!later.catchUp());
        for (const QString &filler : fillers)
            QFile::remove(filler);
        QVERIFY(later.catchUp());
        QCOMPARE(later.problemText(), QString());
        QCOMPARE(pendingTopics(later), QStringList({"t/1"}));
        QCOMPARE(TableSupport::readFile(mountPoint.path() + "/queue/queue.log").count('\n'), 1);
    }

    // A sync of the queue that fails is said, and the readings written since
    // the last good one count as not stored (a run ending now counts them
    // lost) until the file has been written anew and a sync has worked.
    void failedSyncIsNoStorage()
    {
        QTemporaryDir dir;
        MqttConfig config;
        QString error;
        QStringList args{"--mqtt", "mqtt://127.0.0.1:1/lab", "--mqtt-queue", dir.path()};
        QVERIFY(MqttConfig::takeOptions(args, &config, &error));
        MqttPublisher publisher(config);
        QVERIFY2(publisher.start(&error), qPrintable(error));
        std::unique_ptr<SensorDevice> device(TableSupport::makeDevice(0x2800000000000002ULL));
        device->channels << TableSupport::channel(20);
        // A cycle of `readings`; the queue is synced once they are in.
        auto cycle = [&](int readings) {
            for (int i = 0; i < readings; ++i) {
                device->channels[0].markFilled();
                publisher.takeReading(*device, 0);
            }
            QCoreApplication::processEvents();
        };
        const auto failing = qScopeGuard([] { g_failSyncs = false; });
        cycle(2);
        g_failSyncs = true;
        cycle(3);
        QCOMPARE(publisher.queueProblem(), QString::fromLocal8Bit(strerror(EIO)));
        QCOMPARE(publisher.unstored(), 3);
        QVERIFY2(publisher.statusText().endsWith(QStringLiteral("; только в памяти, пропадут при остановке: 3")),
                 qPrintable(publisher.statusText()));
        g_failSyncs = false;
        cycle(1);
        QCOMPARE(publisher.unstored(), 0);
        QCOMPARE(publisher.queueProblem(), QString());
        g_failSyncs = true;
        cycle(1);
        publisher.stop(100);
        QCOMPARE(publisher.unstored(), 7);
        QCOMPARE(publisher.queued(), 7);
    }

    // orvexctl takes the stored "Mqtt/..." settings as its defaults but
    // publishes only with --mqtt, whose options it takes out of the command
    // line; the URL gives the port (8883 for mqtts), the user and the prefix.
    void orvexctlOptionsOverTheSettings()
    {
        QTemporaryDir dir;
        QSettings settings(dir.path() + "/s.ini", QSettings::IniFormat);
        settings.setValue("Mqtt/Url", "mqtt://127.0.0.1/window");
        settings.setValue("Mqtt/TopicPrefix", "stored");
        settings.setValue("Mqtt/Username", "stored-user");
        QString error;
        MqttConfig config = MqttConfig::fromSettings(settings, &error);
        QVERIFY(config.enabled());
        QCOMPARE(config.topicPrefix, QStringLiteral("window"));
        QStringList plain{"--fast"};
        QVERIFY(MqttConfig::takeOptions(plain, &config, &error));
        QVERIFY2(!config.enabled(), "orvexctl publishes only with --mqtt");

        config = MqttConfig::fromSettings(settings, &error);
        QStringList args{"--cycles", "2", "--mqtt", "mqtts://operator@broker.lab", "--no-discovery",
                         "--mqtt-wait", "0", "--mqtt-client-id", "ctl", "--fast"};
        QVERIFY(MqttConfig::takeOptions(args, &config, &error));
        QCOMPARE(args, QStringList({"--cycles", "2", "--fast"}));
        QVERIFY(config.tls && config.port == 8883 && !config.discovery && config.finishWaitS == 0);
        QCOMPARE(config.host + " " + config.topicPrefix + " " + config.username + " " + config.clientId,
                 QStringLiteral("broker.lab stored stored-user ctl"));
    }

    // Prefixes and URLs the broker cannot serve as meant are refused, from
    // the command line and from the settings: a "$" prefix (the broker's
    // own topics), control characters and wildcards also when encoded,
    // port 0, and a prefix that would make topics too long for the protocol.
    void refusedPrefixesAndUrls()
    {
        const QStringList refused{"mqtt://h/$SYS/x", "mqtt://h/%24share/x", "mqtt://h/a%00b", "mqtt://h/a%0Ab",
                                  "mqtt://h/a%2Bb", "mqtt://h/a%23", "mqtt://h:0/lab",
                                  "mqtt://h/" + QString(70000, 'a')};
        for (const QString &url : refused) {
            MqttConfig config;
            QStringList args{"--mqtt", url};
            QString error;
            QVERIFY2(!MqttConfig::takeOptions(args, &config, &error) && !error.isEmpty(), qPrintable(url.left(40)));
        }
        MqttConfig good;
        QStringList args{"--mqtt", "mqtt://h:1884/лаб/этаж-2"};
        QString error;
        QVERIFY2(MqttConfig::takeOptions(args, &good, &error), qPrintable(error));
        QCOMPARE(good.topicPrefix, QStringLiteral("лаб/этаж-2"));
        QCOMPARE(good.target(), QStringLiteral("mqtt://h:1884/лаб/этаж-2"));

        QTemporaryDir dir;
        QSettings settings(dir.path() + "/s.ini", QSettings::IniFormat);
        settings.setValue("Mqtt/Url", "mqtt://127.0.0.1");
        for (const auto &bad : QList<QPair<QString, QString>>{{"Mqtt/DiscoveryPrefix", "ha/#"},
                                                              {"Mqtt/DiscoveryPrefix", "$ha"},
                                                              {"Mqtt/TopicPrefix", "$x"},
                                                              {"Mqtt/TopicPrefix", "a\tb"}}) {
            settings.setValue(bad.first, bad.second);
            MqttConfig::fromSettings(settings, &error);
            QVERIFY2(!error.isEmpty(), qPrintable(bad.second));
            settings.remove(bad.first);
        }
        MqttConfig::fromSettings(settings, &error);
        QCOMPARE(error, QString());
    }

    // A channel's identifier, topics and discovery entry: native channels by
    // ROM and sub-channel; I2C channels behind a bridge also by hub channel,
    // address and serial number, each sensor its own device reached through
    // the bridge, with Home Assistant's unit and device class. Entries say
    // where availability is and expire after five minutes at least; the
    // adapter's entry reports on the availability topic.
    void channelIdentity()
    {
        MqttConfig config;
        config.url = "mqtt://127.0.0.1/lab";
        QString error;
        QVERIFY(config.parseUrl(&error));
        config.hostName = "host-1";
        config.applyDefaults();

        std::unique_ptr<SensorDevice> bridge(TableSupport::makeDevice(0x19000000002B4CE1ULL));
        const QString rom = romToText(bridge->rom, false);
        // Channel, its unit as the driver gives it, and: id suffix, device class, unit.
        const QList<std::tuple<SensorChannel, QString, QString>> channels{
            {TableSupport::channel(21.5, 0, 3, 0x88, 0, 0x1A2B3C4D), "C", "_h3_a88_s0-1A2B3C4D_0 temperature °C"},
            {TableSupport::channel(40.0, 1, 3, 0x88, 0, 0x1A2B3C4D), "%RH", "_h3_a88_s0-1A2B3C4D_1 humidity %"},
            {TableSupport::channel(21.5, 0, 4, 0x88, 0, 0x1A2B3C4D), "C", "_h4_a88_s0-1A2B3C4D_0 temperature °C"},
            {TableSupport::channel(101.3, 0, 3, 0xEE, 0, 0), "kPa", "_h3_aEE_s0-0_0 pressure kPa"},
            {TableSupport::channel(415, 0, 0, 0xC2, 0, 0), "ppm", "_h0_aC2_s0-0_0 carbon_dioxide ppm"},
        };
        for (const auto &c : channels) {
            bridge->channels << std::get<0>(c);
            bridge->channels.last().unit = std::get<1>(c);
        }
        QSet<QString> devices;
        for (int i = 0; i < channels.size(); ++i) {
            const QString id = rom + std::get<2>(channels.at(i)).section(' ', 0, 0);
            const SensorChannel &ch = bridge->channels.at(i);
            const ChannelMessages messages(config, *bridge, i);
            const QJsonObject state = json(messages.statePayload()), entry = json(messages.configPayload());
            const QJsonObject device = entry.value("device").toObject();
            QCOMPARE(QStringList({messages.channelId(), messages.stateTopic(), messages.configTopic(),
                                  QString::number(state.value("hubChannel").toInt()),
                                  QString::number(state.value("i2cAddress").toInt()), state.value("i2cSerial").toString(),
                                  entry.value("device_class").toString() + ' ' + entry.value("unit_of_measurement").toString(),
                                  entry.value("unique_id").toString(), device.value("via_device").toString(),
                                  entry.value("availability_topic").toString(),
                                  QString::number(entry.value("expire_after").toInt())}),
                     QStringList({id, "lab/host-1/" + id + "/state", "homeassistant/sensor/orvex_host-1/" + id + "/config",
                                  QString::number(ch.hubChannel), QString::number(ch.i2cAddress),
                                  QString("0000000000000000%1").arg(ch.i2cSerialLow, 16, 16, QChar('0')).toUpper(),
                                  std::get<2>(channels.at(i)).section(' ', 1), "orvex_host-1_" + id, "orvex_" + rom,
                                  "lab/host-1/availability", "300"}));
            devices << device.value("identifiers").toArray().first().toString();
        }
        // Two channels of one sensor share it; other hubs and addresses are other sensors.
        QCOMPARE(devices.size(), 4);
        const QJsonObject adapter = json(ChannelMessages::adapterConfigPayload(config));
        QCOMPARE(adapter.value("state_topic").toString() + ' ' + ChannelMessages::adapterConfigTopic(config),
                 QStringLiteral("lab/host-1/availability homeassistant/binary_sensor/orvex_host-1/orvex_host-1_adapter/config"));
        // An orvexctl with a queue folder of its own declares the same
        // adapter, and its bridges are reached through it: the adapter is the
        // machine's, whatever folder or instance publishes.
        MqttConfig other = config;
        other.role = QStringLiteral("ctl");
        other.queueFolder = QStringLiteral("/elsewhere/queue");
        other.resolveInstance(QString());
        QVERIFY(!other.instanceTag.isEmpty());
        const QJsonObject otherAdapter = json(ChannelMessages::adapterConfigPayload(other));
        QCOMPARE(ChannelMessages::adapterConfigTopic(other) + ' '
                     + otherAdapter.value("device").toObject().value("identifiers").toArray().first().toString() + ' '
                     + json(ChannelMessages(other, *bridge, 0).bridgeConfigPayload())
                           .value("device").toObject().value("via_device").toString(),
                 ChannelMessages::adapterConfigTopic(config) + " orvex_host-1_adapter orvex_host-1_adapter");

        SensorDevice failed;
        failed.rom = bridge->rom;
        failed.channels << TableSupport::channel(std::numeric_limits<double>::quiet_NaN());
        failed.channels.last().time = QDateTime(QDate(2025, 6, 1), QTime(12, 0), Qt::OffsetFromUTC, 3 * 3600);
        const QJsonObject state = json(ChannelMessages(config, failed, 0).statePayload());
        QVERIFY(state.contains("value") && state.value("value").isNull());
        QCOMPARE(state.value("time").toString(), QStringLiteral("2025-06-01T12:00:00.000+03:00"));
        QVERIFY(state.value("i2cSerial").isNull());
    }
};

QTEST_GUILESS_MAIN(TstPublishing)
#include "tst_publishing.moc"
