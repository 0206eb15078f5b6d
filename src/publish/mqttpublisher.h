#pragma once

#include "model/channelid.h"
#include "model/readingsink.h"
#include "publish/mqttconfig.h"
#include "publish/mqttlink.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>

class AlarmBoard;
class ChannelRegistry;
class QSettings;
class PublishQueue;
struct SensorDevice;

// Publishes every reading the table announces to an MQTT broker, with Home
// Assistant discovery, and loses none while the broker is away.
//
// Each reading becomes one retained QoS 1 state message that first goes into
// the on-disk queue and then, while the broker is connected, to the link, at
// most a window of them unacknowledged at a time, in the order they were
// taken. The broker's acknowledgement takes a message out of the queue for
// good; what is still queued at the end (or after a crash) goes out first at
// the next start. Availability: a retained "online" at every connection, a
// retained "offline" at a clean stop, and the same "offline" as the broker's
// last will when the program dies or the link breaks. Discovery entries are
// sent for each channel on its first reading and again at every connection
// (the broker may have lost them), and withdrawn for a channel gone for good
// (ChannelRegistry). Entries and withdrawals go straight to the link, which
// keeps their order, so an entry sent after a withdrawal is the one that stays.
// Channels are first checked for being gone a minute (program clock) after
// the run's first reading, when every present channel has been seen.
//
// A message is taken out of the queue only by its acknowledgement; one the
// library does not take now stays where it is, in order, and one it never
// will take (a topic the protocol cannot carry) is dropped and counted.
// Each program has a queue of its own for each broker and prefix (see
// MqttConfig::role), synced to the disk once per cycle of readings.
//
// Context: the owner's (GUI) thread. takeReading() never waits and never
// processes events, so the measurement cycle does not notice the network.
class MqttPublisher : public QObject, public ReadingSink
{
    Q_OBJECT
public:
    enum class State { Off, Connecting, Connected, Reconnecting, Failed };

    explicit MqttPublisher(const MqttConfig &config, QObject *parent = nullptr);
    // stop() with a short wait.
    ~MqttPublisher() override;

    // The window's publisher, from the "Mqtt/..." settings: null when
    // publishing is off, else started (or Failed, with the reason, when the
    // settings cannot work).
    static MqttPublisher *fromSettings(QSettings &settings, QObject *parent);

    // Opens the queue (taking over what an earlier run left), reads the
    // password and starts the link. False, with the reason in *error and the
    // state Failed, when the configuration cannot work; nothing is published then.
    bool start(QString *error);
    // One reading of channel `index` of `device`: queued, and handed to the
    // link at once when connected; a reading (by its number) once only.
    void takeReading(const SensorDevice &device, int index) override;
    // The alarm states of channels with limits go out once a cycle when
    // they changed (the alarm output has decided them by then).
    void cycleEnded(const CycleSummary &summary) override;
    // The run's alarms (not owned; null: none are published).
    void setAlarmBoard(const AlarmBoard *board) { m_alarms = board; }

    // Waits in real time, processing events, until the queue is empty, the
    // link has failed for good or `ms` have passed; true when empty. For the
    // end of a run; never from a reading listener.
    bool waitUntilDelivered(int ms);
    // Publishes "offline" and disconnects; what is not yet acknowledged stays
    // queued for the next start. Waits up to `waitMs` for the network thread.
    void stop(int waitMs);

    State state() const { return m_state; }
    // Why the link is down or failed; empty otherwise.
    QString reason() const { return m_reason; }
    // Messages not yet acknowledged by the broker.
    int queued() const;
    // Of those, the ones only in memory: the queue's file could not take
    // them (queueProblem()). After stop(), they are lost.
    int unstored() const;
    // Why the queue's file cannot be written; empty while it can.
    QString queueProblem() const { return m_queueProblem; }
    // Whether the broker accepted a connection in this run.
    bool everConnected() const { return m_everConnected; }
    // The configuration as started: the queue folder, the client id and the instance resolved.
    const MqttConfig &config() const { return m_config; }
    // "MQTT: подключено к host:port", with the queue length and a dropped count when there are any.
    QString statusText() const;

signals:
    // The state, the reason or the queue length changed.
    void statusChanged();
    // The state or the reason changed, or the queue's bound was reached: worth one line.
    void stateChanged();

private:
    enum class Sent { Queued, DroppedReport, Withdrawal, Other };
    struct Outstanding
    {
        Sent kind;
        uint64_t value;  // the queue's sequence number, or the count reported
        QString channel; // the channel withdrawn
    };

    void setState(State state, const QString &reason);
    // Sends a message outside the queue; its acknowledgement only ends the wait for it.
    void sendDirect(const QByteArray &topic, const QByteArray &payload, bool retain, Sent kind, uint64_t value = 0,
                    const QString &channel = QString());
    void sendWithdrawals(const QMap<QString, QByteArrayList> &withdrawals);
    bool openQueue(QString *error);
    // Keeps a discovery entry for this run and sends it when it is new or changed.
    void announce(const QString &key, const QByteArray &topic, const QByteArray &payload);
    void sendConfigs();
    void onMessage(const QByteArray &topic, const QByteArray &payload, bool retained);
    // Syncs the queue once the cycle's readings are in.
    void syncQueueSoon();
    // Says so once when the queue's file starts or stops failing.
    void noteQueueProblem();
    void fail(const QString &reason);
    void onConnected();
    void onConnectionFailed(const QString &reason, bool lasting);
    void onDelivered(int messageId);
    // Hands queued messages to the link while connected and the window allows.
    void sendQueued();
    void sendDroppedReport();
    // Withdraws the discovery entries of channels gone for good.
    void forgetGoneChannels(const QDateTime &now);
    void saveRegistrySoon();

    MqttConfig m_config;
    MqttLink m_link;
    std::unique_ptr<PublishQueue> m_queue;
    std::unique_ptr<ChannelRegistry> m_registry;
    QHash<int, Outstanding> m_outstanding; // by the link's message identifier
    QHash<ChannelId, uint64_t> m_lastReading; // the reading number last queued per channel
    int m_queuedInFlight = 0;
    // This run's channels: their discovery topic and entry.
    QHash<QString, QPair<QByteArray, QByteArray>> m_configs;
    QDateTime m_nextForgetCheck;
    State m_state = State::Off;
    QString m_reason;
    // The bound was reached and the readings queued have not fallen below it
    // since. Only an acknowledgement lowers their count (a drop makes room
    // for the reading appended), so onDelivered() clears it.
    bool m_limitReached = false;
    bool m_registrySaveQueued = false;
    bool m_syncQueued = false;
    bool m_configsDue = false; // Home Assistant asked; they go after a short random pause
    bool m_started = false;
    bool m_everConnected = false;
    QString m_queueProblem;
    const AlarmBoard *m_alarms = nullptr;
    // Channels with limits seen this run: their alarm topic, their
    // discovery entry's key and topic, and the payload's state last queued
    // ("" before any).
    struct AlarmTopic
    {
        QByteArray topic;
        QString configKey;
        QByteArray configTopic;
        QString sent;
    };
    QHash<ChannelId, AlarmTopic> m_alarmTopics;
    void publishAlarm(const ChannelId &id, AlarmTopic &alarm, const QDateTime &now);
};
