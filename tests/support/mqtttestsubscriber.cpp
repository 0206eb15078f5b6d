#include "support/mqtttestsubscriber.h"

#include <mosquitto.h>

#include <QtTest>

MqttTestSubscriber::MqttTestSubscriber(const QString &clientId, const QStringList &filters)
    : m_filters(filters)
{
    mosquitto_lib_init();
    m_client = mosquitto_new(clientId.toUtf8().constData(), false, this);
    mosquitto_connect_callback_set(m_client, onConnect);
    mosquitto_subscribe_callback_set(m_client, onSubscribe);
    mosquitto_message_callback_set(m_client, onMessage);
    mosquitto_publish_callback_set(m_client, onPublish);
    mosquitto_reconnect_delay_set(m_client, 1, 1, false);
}

MqttTestSubscriber::~MqttTestSubscriber()
{
    disconnect();
    mosquitto_destroy(m_client);
}

bool MqttTestSubscriber::connectTo(int port)
{
    if (mosquitto_connect_async(m_client, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS
        || mosquitto_loop_start(m_client) != MOSQ_ERR_SUCCESS)
        return false;
    return QTest::qWaitFor(
        [this] {
            std::lock_guard<std::mutex> lock(m_mutex);
            return m_subscribed >= m_filters.size();
        },
        5000);
}

void MqttTestSubscriber::disconnect()
{
    mosquitto_disconnect(m_client);
    mosquitto_loop_stop(m_client, false);
}

bool MqttTestSubscriber::sync()
{
    int messageId = 0;
    if (mosquitto_publish(m_client, &messageId, "orvex-test/sync", 0, nullptr, 1, false) != MOSQ_ERR_SUCCESS)
        return false;
    return QTest::qWaitFor(
        [&] {
            std::lock_guard<std::mutex> lock(m_mutex);
            return m_acknowledged == messageId;
        },
        5000);
}

void MqttTestSubscriber::onPublish(mosquitto *, void *self, int messageId)
{
    auto *subscriber = static_cast<MqttTestSubscriber *>(self);
    std::lock_guard<std::mutex> lock(subscriber->m_mutex);
    subscriber->m_acknowledged = messageId;
}

void MqttTestSubscriber::onConnect(mosquitto *client, void *self, int code)
{
    if (code != 0)
        return;
    // Again after every reconnection; the broker keeps the session anyway.
    for (const QString &filter : static_cast<MqttTestSubscriber *>(self)->m_filters)
        mosquitto_subscribe(client, nullptr, filter.toUtf8().constData(), 1);
}

void MqttTestSubscriber::onSubscribe(mosquitto *, void *self, int, int, const int *)
{
    auto *subscriber = static_cast<MqttTestSubscriber *>(self);
    std::lock_guard<std::mutex> lock(subscriber->m_mutex);
    ++subscriber->m_subscribed;
}

void MqttTestSubscriber::onMessage(mosquitto *, void *self, const mosquitto_message *message)
{
    auto *subscriber = static_cast<MqttTestSubscriber *>(self);
    Message m;
    m.topic = QString::fromUtf8(message->topic);
    m.payload = QByteArray(static_cast<const char *>(message->payload), message->payloadlen);
    m.retained = message->retain;
    std::lock_guard<std::mutex> lock(subscriber->m_mutex);
    subscriber->m_messages << m;
}

QList<MqttTestSubscriber::Message> MqttTestSubscriber::messages() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

QList<MqttTestSubscriber::Message> MqttTestSubscriber::matching(const QString &filter) const
{
    QList<Message> found;
    const QByteArray sub = filter.toUtf8();
    for (const Message &m : messages()) {
        bool matches = false;
        mosquitto_topic_matches_sub(sub.constData(), m.topic.toUtf8().constData(), &matches);
        if (matches && !m.retained)
            found << m;
    }
    return found;
}

QByteArrayList MqttTestSubscriber::payloads(const QString &filter) const
{
    QByteArrayList found;
    for (const Message &m : matching(filter))
        found << m.payload;
    return found;
}
