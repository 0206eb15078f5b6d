#include "publish/mqttpublisher.h"

#include "model/alarmboard.h"

#include "base/logging.h"
#include "base/clock.h"
#include "publish/channelmessages.h"
#include "publish/channelregistry.h"
#include "publish/publishqueue.h"
#include "base/installpaths.h"
#include "model/sensordevice.h"
#include "onewire/romid.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QRandomGenerator>
#include <QTimer>

namespace {

// Queued messages handed to the link and not yet acknowledged, at most. The
// library keeps those across a lost connection; the rest wait on disk.
const int kSendWindow = 64;
// How often channels are checked for being gone for good, and how often
// their last-seen times are written, in seconds of the program's clock.
const int kForgetCheckS = 60;
const int kRegistrySaveS = 600;
// The wait for the network thread when the publisher is destroyed.
const int kExitWaitMs = 2000;
// orvexctl runs at once on one machine, each with a queue of its own, at most.
const int kMaxInstances = 64;
// After Home Assistant's "online", the entries go this many milliseconds
// later, drawn at random, so that many publishers do not answer at once.
// Real time: Home Assistant is a network peer.
const int kConfigPauseMinMs = 500;
const int kConfigPauseMaxMs = 3000;

} // namespace

MqttPublisher::MqttPublisher(const MqttConfig &config, QObject *parent)
    : QObject(parent)
    , m_config(config)
{
    connect(&m_link, &MqttLink::connected, this, &MqttPublisher::onConnected);
    connect(&m_link, &MqttLink::connectionFailed, this, &MqttPublisher::onConnectionFailed);
    connect(&m_link, &MqttLink::delivered, this, &MqttPublisher::onDelivered);
    connect(&m_link, &MqttLink::messageArrived, this, &MqttPublisher::onMessage);
}

MqttPublisher::~MqttPublisher()
{
    stop(kExitWaitMs);
}

MqttPublisher *MqttPublisher::fromSettings(QSettings &settings, QObject *parent)
{
    QString error;
    const MqttConfig config = MqttConfig::fromSettings(settings, &error);
    if (!config.enabled())
        return nullptr;
    auto *publisher = new MqttPublisher(config, parent);
    if (!error.isEmpty())
        publisher->fail(error);
    else
        publisher->start(&error);
    return publisher;
}

// The queue folder given, else this program's own under the broker's and
// prefix's default folder: the window's, or the first an orvexctl running
// now does not hold.
bool MqttPublisher::openQueue(QString *error)
{
    const bool chosen = !m_config.queueFolder.isEmpty();
    const QString base = m_config.defaultQueueBase();
    QString slot;
    for (int n = 1; n <= kMaxInstances; ++n) {
        if (!chosen) {
            slot = m_config.role.isEmpty() ? QString() : m_config.role + QString::number(n);
            m_config.queueFolder = base + QLatin1Char('/') + (slot.isEmpty() ? QStringLiteral("window") : slot);
        }
        if (!chosen && m_config.role.isEmpty()) {
            // Earlier versions kept the window's queue in the top folder.
            const QString legacy = InstallPaths::mqttQueueFolder();
            if (QFile::exists(legacy + QStringLiteral("/queue.log")) && !QDir(m_config.queueFolder).exists()
                && QDir().mkpath(m_config.queueFolder)) {
                for (const char *name : {"queue.log", "channels.json"})
                    QFile::rename(legacy + QLatin1Char('/') + QLatin1String(name),
                                  m_config.queueFolder + QLatin1Char('/') + QLatin1String(name));
            }
        }
        m_queue = std::make_unique<PublishQueue>(m_config.queueFolder, m_config.queueLimit, m_config.target());
        if (m_queue->open(error)) {
            m_config.resolveInstance(slot);
            return true;
        }
        if (chosen || slot.isEmpty() || !m_queue->heldElsewhere())
            break;
    }
    m_queue.reset();
    return false;
}

bool MqttPublisher::start(QString *error)
{
    if (!openQueue(error)) {
        fail(*error);
        return false;
    }
    m_registry = std::make_unique<ChannelRegistry>(m_config.queueFolder + QStringLiteral("/channels.json"));
    m_registry->load();

    MqttLink::Settings settings;
    if (!m_config.readPassword(&settings.password, error)) {
        fail(*error);
        return false;
    }
    settings.host = m_config.host;
    settings.port = m_config.port;
    settings.tls = m_config.tls;
    settings.caFile = m_config.caFile;
    settings.clientId = m_config.clientId;
    settings.username = m_config.username;
    settings.ackTimeoutMs = m_config.ackTimeoutMs;
    settings.willTopic = ChannelMessages::availabilityTopic(m_config);
    settings.willPayload = QByteArrayLiteral("offline");
    if (m_config.discovery)
        settings.listenTopic = (m_config.discoveryPrefix + QStringLiteral("/status")).toUtf8();
    if (!m_link.start(std::move(settings), error)) {
        fail(*error);
        return false;
    }
    m_started = true;
    setState(State::Connecting, QString());
    // A queue on a full disk is said now; it is tried again every cycle.
    noteQueueProblem();
    return true;
}

void MqttPublisher::takeReading(const SensorDevice &device, int index)
{
    if (!m_started || index < 0 || index >= device.channels.size())
        return;
    // One state message per reading, whoever hands it out again: a record
    // still holding an earlier cycle's reading is not this cycle's.
    const ChannelId channel = ChannelId::of(device, index);
    const uint64_t reading = device.channels.at(index).reading;
    uint64_t &last = m_lastReading[channel];
    if (reading != 0 && reading <= last)
        return;
    last = reading;
    const ChannelMessages messages(m_config, device, index);
    const QDateTime now = Clock::now();
    if (m_config.discovery) {
        // The devices it is reached through first, so that no entry names an unknown one.
        announce(QStringLiteral(" adapter"), ChannelMessages::adapterConfigTopic(m_config),
                 ChannelMessages::adapterConfigPayload(m_config));
        if (messages.isI2c())
            announce(QStringLiteral(" bridge ") + romToText(device.rom, false), messages.bridgeConfigTopic(),
                     messages.bridgeConfigPayload());
        const QString id = messages.channelId();
        announce(id, messages.configTopic(), messages.configPayload());
        m_registry->seen(id, messages.configTopic(), messages.stateTopic(), now);
        saveRegistrySoon();
    }

    // A failed reading without a time of its own is stamped with now: the
    // reading was attempted in this cycle.
    m_queue->append(messages.stateTopic(), messages.statePayload(now), true, true);
    if (m_alarms && m_alarms->hasLimits(channel)) {
        if (m_config.discovery)
            announce(messages.channelId() + QStringLiteral(" alarm"), messages.alarmConfigTopic(),
                     messages.alarmConfigPayload());
        AlarmTopic &alarm = m_alarmTopics[channel];
        alarm.topic = messages.alarmTopic();
        alarm.configKey = messages.channelId() + QStringLiteral(" alarm");
        alarm.configTopic = messages.alarmConfigTopic();
        publishAlarm(channel, alarm, now);
    }
    syncQueueSoon();
    if (m_queue->atLimit() && !m_limitReached) {
        m_limitReached = true;
        qCDebug(logWarning()) << "MQTT queue full:" << m_queue->limit()
                              << "readings waiting; the oldest are dropped from now on";
        emit stateChanged();
    }
    sendQueued();
    if (!m_nextForgetCheck.isValid())
        m_nextForgetCheck = now.addSecs(kForgetCheckS);
    else if (now >= m_nextForgetCheck)
        forgetGoneChannels(now);
    noteQueueProblem();
    emit statusChanged();
}

void MqttPublisher::cycleEnded(const CycleSummary &)
{
    if (!m_started)
        return;
    // Room may have come back for what waits in memory, the lock file or the
    // folder (which lets the queue hand out its messages); cheap when
    // nothing waits.
    const int unstored = m_queue->unstored();
    m_queue->catchUp();
    syncQueueSoon();
    noteQueueProblem();
    if (m_queue->unstored() != unstored)
        emit statusChanged();
    if (!m_alarms) {
        sendQueued();
        return;
    }
    const QDateTime now = Clock::now();
    for (auto it = m_alarmTopics.begin(); it != m_alarmTopics.end();) {
        publishAlarm(it.key(), it.value(), now);
        // Limits removed and the alarm over: Home Assistant drops the
        // entity when its discovery entry is emptied.
        if (!m_alarms->hasLimits(it.key()) && m_alarms->state(it.key()) == AlarmState::Normal) {
            if (m_config.discovery)
                announce(it.value().configKey, it.value().configTopic, QByteArray());
            it = m_alarmTopics.erase(it);
        } else {
            ++it;
        }
    }
    sendQueued();
}

// Retained, and not a reading: the queue's bound never drops it.
void MqttPublisher::publishAlarm(const ChannelId &id, AlarmTopic &alarm, const QDateTime &now)
{
    const AlarmBoard::Entry entry = m_alarms->entry(id);
    const QString key = alarmStateKey(entry.state) + QLatin1Char(' ') + QString::number(entry.limit);
    if (key == alarm.sent)
        return;
    alarm.sent = key;
    m_queue->append(alarm.topic, ChannelMessages::alarmPayload(entry.state, entry.value, entry.limit, now), true,
                    false);
    syncQueueSoon();
}

void MqttPublisher::announce(const QString &key, const QByteArray &topic, const QByteArray &payload)
{
    auto known = m_configs.find(key);
    if (known != m_configs.end() && known->second == payload)
        return;
    m_configs.insert(key, qMakePair(topic, payload));
    if (m_link.isConnected())
        sendDirect(topic, payload, true, Sent::Other);
}

void MqttPublisher::sendConfigs()
{
    for (const auto &config : qAsConst(m_configs))
        sendDirect(config.first, config.second, true, Sent::Other);
}

// Home Assistant says "online" when it starts: it has forgotten what was
// announced unless the broker kept it, so everything is announced again.
void MqttPublisher::onMessage(const QByteArray &, const QByteArray &payload, bool retained)
{
    if (retained || payload != "online" || m_configsDue)
        return;
    m_configsDue = true;
    QTimer::singleShot(QRandomGenerator::global()->bounded(kConfigPauseMinMs, kConfigPauseMaxMs), this, [this] {
        m_configsDue = false;
        if (m_started && m_link.isConnected())
            sendConfigs();
    });
}

void MqttPublisher::syncQueueSoon()
{
    if (m_syncQueued)
        return;
    m_syncQueued = true;
    QTimer::singleShot(0, this, [this] {
        m_syncQueued = false;
        if (m_queue) {
            m_queue->sync();
            noteQueueProblem();
        }
    });
}

void MqttPublisher::noteQueueProblem()
{
    const QString problem = m_queue ? m_queue->problemText() : QString();
    if (problem == m_queueProblem)
        return;
    m_queueProblem = problem;
    if (!problem.isEmpty())
        qCDebug(logCritical()) << "MQTT: the queue in" << m_config.queueFolder << "cannot be written:" << problem;
    emit stateChanged();
    emit statusChanged();
}

void MqttPublisher::forgetGoneChannels(const QDateTime &now)
{
    m_nextForgetCheck = now.addSecs(kForgetCheckS);
    if (!m_config.discovery || m_config.forgetAfterH <= 0)
        return;
    const QMap<QString, QByteArrayList> gone = m_registry->forget(now.addSecs(-qint64(m_config.forgetAfterH) * 3600));
    for (auto it = gone.constBegin(); it != gone.constEnd(); ++it) {
        qCDebug(logInfo()) << "MQTT: channel" << it.key() << "unseen for" << m_config.forgetAfterH
                           << "h; its discovery entry is withdrawn";
        m_configs.remove(it.key());
    }
    if (!gone.isEmpty()) {
        // Kept in the registry until the broker confirms, also across a restart.
        saveRegistrySoon();
        if (m_link.isConnected())
            sendWithdrawals(gone);
    }
}

// The file is written (and synced) once the current work is done, not in the
// middle of a measurement cycle, and once for all the channels of a cycle.
void MqttPublisher::saveRegistrySoon()
{
    if (m_registrySaveQueued)
        return;
    m_registrySaveQueued = true;
    QTimer::singleShot(0, this, [this] {
        m_registrySaveQueued = false;
        if (m_registry)
            m_registry->save(Clock::now(), kRegistrySaveS);
    });
}

// An empty retained message clears each topic; the discovery entry goes
// last, and its acknowledgement completes the withdrawal.
void MqttPublisher::sendWithdrawals(const QMap<QString, QByteArrayList> &withdrawals)
{
    for (auto it = withdrawals.constBegin(); it != withdrawals.constEnd(); ++it) {
        const QByteArrayList &topics = it.value();
        for (int i = 0; i < topics.size(); ++i) {
            const bool last = i == topics.size() - 1;
            sendDirect(topics.at(i), QByteArray(), true, last ? Sent::Withdrawal : Sent::Other, 0,
                       last ? it.key() : QString());
        }
    }
}

void MqttPublisher::sendQueued()
{
    if (!m_link.isConnected())
        return;
    while (m_queuedInFlight < kSendWindow) {
        const PublishQueue::Message *message = m_queue->takeNext();
        if (!message)
            break;
        const uint64_t seq = message->seq;
        MqttLink::Refusal refusal = MqttLink::Refusal::None;
        const int id = m_link.publish(message->topic, message->payload, message->retain, &refusal);
        if (id > 0) {
            m_outstanding.insert(id, {Sent::Queued, seq, QString()});
            ++m_queuedInFlight;
        } else if (refusal == MqttLink::Refusal::ForGood) {
            qCDebug(logWarning()) << "MQTT: a message the protocol cannot carry is dropped from the queue";
            m_queue->reject(seq);
            if (m_queue->rejectedThisRun() == 1)
                emit stateChanged();
        } else {
            // Stays first in line, for the next acknowledgement or reading.
            m_queue->giveBack(seq);
            break;
        }
    }
}

void MqttPublisher::sendDirect(const QByteArray &topic, const QByteArray &payload, bool retain, Sent kind,
                               uint64_t value, const QString &channel)
{
    const int id = m_link.publish(topic, payload, retain);
    if (id > 0)
        m_outstanding.insert(id, {kind, value, channel});
}

void MqttPublisher::sendDroppedReport()
{
    const uint64_t dropped = m_queue->droppedUnreported();
    if (dropped > 0) {
        sendDirect(ChannelMessages::droppedTopic(m_config), ChannelMessages::droppedPayload(dropped, Clock::now()),
                   false, Sent::DroppedReport, dropped);
    }
}

void MqttPublisher::onConnected()
{
    qCDebug(logInfo()) << "MQTT: connected to" << m_config.brokerText();
    m_everConnected = true;
    sendDirect(ChannelMessages::availabilityTopic(m_config), QByteArrayLiteral("online"), true, Sent::Other);
    if (m_config.discovery) {
        sendWithdrawals(m_registry->withdrawals());
        sendConfigs();
    }
    sendDroppedReport();
    sendQueued();
    setState(State::Connected, QString());
}

void MqttPublisher::onConnectionFailed(const QString &reason, bool lasting)
{
    setState(lasting ? State::Failed : State::Reconnecting, reason);
}

void MqttPublisher::onDelivered(int messageId)
{
    const auto it = m_outstanding.find(messageId);
    if (it == m_outstanding.end())
        return;
    const Outstanding sent = it.value();
    m_outstanding.erase(it);
    if (sent.kind == Sent::Queued) {
        m_queue->acknowledge(sent.value);
        --m_queuedInFlight;
        sendQueued();
    } else if (sent.kind == Sent::DroppedReport) {
        m_queue->reportedDropped(sent.value);
    } else if (sent.kind == Sent::Withdrawal) {
        m_registry->confirmWithdrawal(sent.channel);
        saveRegistrySoon();
    }
    if (m_queue->readings() < m_queue->limit())
        m_limitReached = false;
    noteQueueProblem();
    emit statusChanged();
}

bool MqttPublisher::waitUntilDelivered(int ms)
{
    QElapsedTimer elapsed;
    elapsed.start();
    while (queued() > 0 && m_state != State::Failed && elapsed.elapsed() < ms) {
        // The broker answers in real time; a change of status ends each wait.
        QEventLoop loop;
        connect(this, &MqttPublisher::statusChanged, &loop, &QEventLoop::quit);
        QTimer::singleShot(int(ms - elapsed.elapsed()), &loop, &QEventLoop::quit);
        loop.exec();
    }
    return queued() == 0;
}

void MqttPublisher::stop(int waitMs)
{
    if (!m_started)
        return;
    m_started = false;
    m_link.stop(ChannelMessages::availabilityTopic(m_config), QByteArrayLiteral("offline"), waitMs);
    m_registry->save(Clock::now(), kRegistrySaveS, true);
    // Room may have come back since the last failed write.
    m_queue->catchUp();
    m_queue->sync();
    noteQueueProblem();
    if (unstored() > 0)
        qCDebug(logCritical()) << "MQTT:" << unstored() << "reading(s) lost, the queue in" << m_config.queueFolder
                               << "could not take them:" << m_queue->problemText();
    if (queued() > unstored())
        qCDebug(logInfo()) << "MQTT:" << queued() - unstored() << "message(s) stay queued in" << m_config.queueFolder;
    setState(State::Off, QString());
}

int MqttPublisher::queued() const
{
    return m_queue ? m_queue->size() : 0;
}

int MqttPublisher::unstored() const
{
    return m_queue ? m_queue->unstored() : 0;
}

void MqttPublisher::fail(const QString &reason)
{
    qCDebug(logCritical()) << "MQTT:" << reason;
    setState(State::Failed, reason);
}

void MqttPublisher::setState(State state, const QString &reason)
{
    const bool changed = state != m_state || reason != m_reason;
    m_state = state;
    m_reason = reason;
    if (changed)
        emit stateChanged();
    emit statusChanged();
}

QString MqttPublisher::statusText() const
{
    QString text;
    switch (m_state) {
    case State::Off:
        text = tr("MQTT: выключено");
        break;
    case State::Connecting:
        text = tr("MQTT: подключение к %1").arg(m_config.brokerText());
        break;
    case State::Connected:
        text = tr("MQTT: подключено к %1").arg(m_config.brokerText());
        break;
    case State::Reconnecting:
        text = tr("MQTT: нет связи с %1 (%2), повторное подключение").arg(m_config.brokerText(), m_reason);
        break;
    case State::Failed:
        text = tr("MQTT: ошибка: %1").arg(m_reason);
        break;
    }
    if (queued() > 0)
        text += tr("; в очереди %1").arg(queued());
    if (m_queue && m_queue->droppedThisRun() > 0) {
        text += tr("; очередь полна (%1), отброшено старых показаний: %2")
                    .arg(m_queue->limit())
                    .arg(m_queue->droppedThisRun());
    }
    if (m_queue && m_queue->rejectedThisRun() > 0)
        text += tr("; отброшено сообщений, которые брокер не примет: %1").arg(m_queue->rejectedThisRun());
    if (!m_queueProblem.isEmpty())
        text += tr("; очередь не записывается: %1").arg(m_queueProblem);
    if (unstored() > 0)
        text += tr("; только в памяти, пропадут при остановке: %1").arg(unstored());
    return text;
}
