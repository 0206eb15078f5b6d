#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QList>
#include <QString>
#include <QStringList>
#include <mutex>

struct mosquitto;

// A test's listener on the broker: subscribes to topic filters with QoS 1
// and records every message in arrival order. It keeps its session on the
// broker (clean session off) and reconnects by itself, so messages published
// while it is cut off reach it later. Its network runs on the library's own
// thread; the test reads what arrived at any time.
class MqttTestSubscriber
{
public:
    struct Message
    {
        QString topic;
        QByteArray payload;
        bool retained = false; // sent because it was retained, not as it was published
    };

    // `clientId` names the session on the broker.
    MqttTestSubscriber(const QString &clientId, const QStringList &filters);
    ~MqttTestSubscriber();

    // Connects to the broker on 127.0.0.1:`port` and waits (real time, a few
    // seconds at most) until the subscriptions are in place.
    bool connectTo(int port);
    // Ends the session cleanly; what arrived stays readable.
    void disconnect();
    // Waits until the broker has taken this client's acknowledgements of
    // everything received so far (a message of its own acknowledged after
    // them), so that a broker stopped now will not deliver any of it again.
    bool sync();

    QList<Message> messages() const;
    // Messages delivered as published (no replays of retained ones to a new
    // subscription) whose topic matches the MQTT filter `filter`.
    QList<Message> matching(const QString &filter) const;
    // Their payloads alone.
    QByteArrayList payloads(const QString &filter) const;

private:
    static void onConnect(mosquitto *, void *self, int code);
    static void onSubscribe(mosquitto *, void *self, int, int, const int *);
    static void onMessage(mosquitto *, void *self, const struct mosquitto_message *message);
    static void onPublish(mosquitto *, void *self, int messageId);

    mosquitto *m_client = nullptr;
    QStringList m_filters;
    mutable std::mutex m_mutex;
    QList<Message> m_messages;
    int m_subscribed = 0;
    int m_acknowledged = 0; // the last message of its own the broker acknowledged
};
