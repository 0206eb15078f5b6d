#include "publish/mqttlink.h"

#include "base/logging.h"

#include <mosquitto.h>

#include <QCoreApplication>
#include <QFile>
#include <QMetaObject>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

namespace {

using SteadyClock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

// How long one pass of the network loop may wait for the socket, and so how
// late the thread notices a stop.
const int kLoopWaitMs = 250;
// The system's CA certificates, one file each with hashed names (Debian's
// ca-certificates), for a TLS broker without a CA file of the operator's.
const char kSystemCaFolder[] = "/etc/ssl/certs";
// Our own result codes: an attempt the broker did not answer in time, and a
// connection on which a message went unacknowledged too long.
const int kTimedOut = -1;
const int kNoAck = -2;

// Whether the socket's TCP connection was ever set up: its receive space
// is sized then, and stays 0 on a socket whose connection was refused.
bool wasEstablished(int fd)
{
    tcp_info info{};
    socklen_t length = sizeof info;
    return ::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) == 0 && info.tcpi_rcv_space > 0;
}

void initLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

} // namespace

// What the owner and the network thread share. The owner's thread touches
// `client` only before it sets `stopping`; after that only the network thread
// does, and it destroys the client when it ends.
struct MqttLink::Shared
{
    std::mutex mutex;
    std::condition_variable wake;
    // Guarded by `mutex`:
    bool stopping = false;
    bool finished = false;
    SteadyClock::time_point stopDeadline;
    MqttLink *owner = nullptr; // null once the owner no longer listens

    mosquitto *client = nullptr;
    Settings settings;         // read-only once the thread runs
    std::atomic<bool> sessionUp{false};
    // Guarded by `mutex`: when each message handed over and not yet
    // acknowledged was handed over, by identifier; the last acknowledgement.
    std::map<int, SteadyClock::time_point> unacked;
    SteadyClock::time_point lastAck;
    // Network thread only: what the library said about the current attempt.
    int connackCode = -1;
    std::string tlsError;
    SteadyClock::time_point connectedAt;

    // Whether the broker has acknowledged nothing for longer than the bound
    // on this connection while a message waited all that time. (Messages
    // the library holds back behind its in-flight limit wait for others'
    // acknowledgements, so a slow but steady broker is never overdue.)
    bool ackOverdue()
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (unacked.empty())
            return false;
        SteadyClock::time_point oldest = SteadyClock::time_point::max();
        for (const auto &entry : unacked)
            oldest = qMin(oldest, entry.second);
        return SteadyClock::now() - qMax(qMax(oldest, connectedAt), lastAck) > Ms(settings.ackTimeoutMs);
    }

    // The library's callbacks, all on the network thread; `userData` is the Shared.
    static void onConnect(mosquitto *, void *userData, int code);
    static void onDisconnect(mosquitto *, void *userData, int);
    static void onPublish(mosquitto *, void *userData, int messageId);
    static void onMessage(mosquitto *, void *userData, const mosquitto_message *message);
    static void onLog(mosquitto *, void *userData, int level, const char *text);
    // The words for why an attempt ended with the library's result `rc`.
    QString failureText(int rc, int systemError, bool *lasting) const;

    bool isStopping()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return stopping;
    }

    // Runs `action` on the owner's thread, unless the owner has stopped listening.
    template <typename Action>
    void post(Action action)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (MqttLink *link = owner) {
            QMetaObject::invokeMethod(
                link,
                [link, action] {
                    if (link->m_shared) // a stop() since the post: no more signals
                        action(*link);
                },
                Qt::QueuedConnection);
        }
    }
};

void MqttLink::Shared::onConnect(mosquitto *, void *userData, int code)
{
    Shared *s = static_cast<Shared *>(userData);
    s->connackCode = code;
    if (code == 0) {
        s->connectedAt = SteadyClock::now();
        s->sessionUp = true;
        // Again at every connection: the session is a clean one.
        if (!s->settings.listenTopic.isEmpty())
            mosquitto_subscribe(s->client, nullptr, s->settings.listenTopic.constData(), 1);
        s->post([](MqttLink &link) {
            link.m_connected = true;
            emit link.connected();
        });
    }
}

void MqttLink::Shared::onDisconnect(mosquitto *, void *userData, int)
{
    static_cast<Shared *>(userData)->sessionUp = false;
}

void MqttLink::Shared::onPublish(mosquitto *, void *userData, int messageId)
{
    Shared *s = static_cast<Shared *>(userData);
    {
        std::lock_guard<std::mutex> lock(s->mutex);
        s->unacked.erase(messageId);
        s->lastAck = SteadyClock::now();
    }
    s->post([messageId](MqttLink &link) { emit link.delivered(messageId); });
}

void MqttLink::Shared::onMessage(mosquitto *, void *userData, const mosquitto_message *message)
{
    const QByteArray topic(message->topic);
    const QByteArray payload(static_cast<const char *>(message->payload), message->payloadlen);
    const bool retained = message->retain;
    static_cast<Shared *>(userData)->post(
        [topic, payload, retained](MqttLink &link) { emit link.messageArrived(topic, payload, retained); });
}

// Keeps the TLS library's own words for a failed handshake
// ("OpenSSL Error[0]: error:0A000086:SSL routines::certificate verify failed").
void MqttLink::Shared::onLog(mosquitto *, void *userData, int level, const char *text)
{
    if (level == MOSQ_LOG_ERR && text && std::strstr(text, "OpenSSL Error")) {
        const char *last = std::strrchr(text, ':');
        static_cast<Shared *>(userData)->tlsError = last ? last + 1 : text;
    }
}

MqttLink::MqttLink(QObject *parent)
    : QObject(parent)
{
}

MqttLink::~MqttLink()
{
    stop(QByteArray(), QByteArray(), 0);
}

bool MqttLink::start(Settings settings, QString *error)
{
    initLibrary();
    auto s = std::make_shared<Shared>();
    s->client = mosquitto_new(settings.clientId.toUtf8().constData(), true, s.get());
    if (!s->client) {
        settings.password.fill('\0');
        *error = QCoreApplication::translate("MqttLink", "клиент MQTT не создан");
        return false;
    }
    mosquitto_threaded_set(s->client, true);
    mosquitto_connect_callback_set(s->client, Shared::onConnect);
    mosquitto_disconnect_callback_set(s->client, Shared::onDisconnect);
    mosquitto_publish_callback_set(s->client, Shared::onPublish);
    mosquitto_message_callback_set(s->client, Shared::onMessage);
    mosquitto_log_callback_set(s->client, Shared::onLog);
    if (!settings.username.isEmpty()) {
        mosquitto_username_pw_set(s->client, settings.username.toUtf8().constData(),
                                  settings.password.isEmpty() ? nullptr : settings.password.constData());
    }
    // The library keeps its own copy; none stays here.
    settings.password.fill('\0');
    settings.password.clear();
    if (!settings.willTopic.isEmpty()) {
        mosquitto_will_set(s->client, settings.willTopic.constData(), settings.willPayload.size(),
                           settings.willPayload.constData(), 1, true);
    }
    if (settings.tls && !settings.caFile.isEmpty()) {
        // The library reads the file only when it connects, and then fails
        // with every attempt: a file without a certificate is refused now.
        QFile file(settings.caFile);
        if (file.open(QIODevice::ReadOnly) && !file.readAll().contains("-----BEGIN CERTIFICATE-----")) {
            *error = QCoreApplication::translate("MqttLink", "файл сертификатов ЦС %1 не содержит сертификатов").arg(settings.caFile);
            mosquitto_destroy(s->client);
            return false;
        }
    }
    if (settings.tls) {
        // Without a CA file of the operator's, the system's certificates. The
        // library's "use the OS certificates" option alone does not turn TLS
        // on: the first attempt would go out as plain MQTT and the next ones
        // fail, so a folder of certificates is named as well.
        const QByteArray caFile = settings.caFile.toLocal8Bit();
        const int rc = mosquitto_tls_set(s->client, caFile.isEmpty() ? nullptr : caFile.constData(),
                                         caFile.isEmpty() ? kSystemCaFolder : nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            *error = settings.caFile.isEmpty()
                         ? QCoreApplication::translate("MqttLink", "TLS не настраивается: %1").arg(QString::fromUtf8(mosquitto_strerror(rc)))
                         : QCoreApplication::translate("MqttLink", "файл сертификатов ЦС %1 не читается").arg(settings.caFile);
            mosquitto_destroy(s->client);
            return false;
        }
    }
    s->settings = settings;
    s->owner = this;
    m_shared = s;
    m_connected = false;
    m_thread = std::thread(&MqttLink::run, s);
    return true;
}

int MqttLink::publish(const QByteArray &topic, const QByteArray &payload, bool retain, Refusal *refusal)
{
    Refusal ignored;
    refusal = refusal ? refusal : &ignored;
    *refusal = Refusal::NotNow;
    if (!m_shared)
        return 0;
    int messageId = 0;
    const int rc = mosquitto_publish(m_shared->client, &messageId, topic.constData(), payload.size(),
                                     payload.constData(), 1, retain);
    switch (rc) {
    case MOSQ_ERR_SUCCESS:
    // Not connected (perhaps not yet known on this thread): the library has
    // queued the message under this identifier all the same and sends it
    // after reconnecting; only the first attempt to send it failed.
    case MOSQ_ERR_NO_CONN:
    case MOSQ_ERR_CONN_LOST: {
        *refusal = Refusal::None;
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        m_shared->unacked.emplace(messageId, SteadyClock::now());
        return messageId;
    }
    case MOSQ_ERR_NOMEM:
        break;
    default:
        *refusal = Refusal::ForGood;
        break;
    }
    qCDebug(logCritical()) << "MQTT publish refused:" << topic.left(200) << mosquitto_strerror(rc);
    return 0;
}

void MqttLink::stop(const QByteArray &lastTopic, const QByteArray &lastPayload, int waitMs)
{
    if (!m_shared)
        return;
    const std::shared_ptr<Shared> s = std::move(m_shared);
    {
        std::lock_guard<std::mutex> lock(s->mutex);
        s->owner = nullptr;
    }
    // The client is still ours until `stopping` is set.
    if (m_connected) {
        if (!lastTopic.isEmpty())
            mosquitto_publish(s->client, nullptr, lastTopic.constData(), lastPayload.size(),
                              lastPayload.constData(), 0, true);
        mosquitto_disconnect(s->client);
    }
    m_connected = false;
    std::unique_lock<std::mutex> lock(s->mutex);
    s->stopping = true;
    s->stopDeadline = SteadyClock::now() + Ms(waitMs);
    s->wake.notify_all();
    const bool finished = s->wake.wait_for(lock, Ms(waitMs), [&] { return s->finished; });
    lock.unlock();
    if (finished) {
        m_thread.join();
    } else {
        qCDebug(logWarning()) << "MQTT: the network thread is still busy; leaving it to end alone";
        m_thread.detach();
    }
}

QString MqttLink::Shared::failureText(int rc, int systemError, bool *lasting) const
{
    *lasting = false;
    switch (rc) {
    case kTimedOut:
        return QCoreApplication::translate("MqttLink", "брокер не ответил за %1 с").arg(settings.connectTimeoutMs / 1000);
    case kNoAck:
        return QCoreApplication::translate("MqttLink", "брокер не подтверждает сообщения (нет подтверждения за %1 с)")
            .arg(settings.ackTimeoutMs / 1000.0);
    case MOSQ_ERR_CONN_REFUSED:
        *lasting = connackCode != 3;
        switch (connackCode) {
        case 4:
            return QCoreApplication::translate("MqttLink", "брокер отказал в доступе: неверное имя пользователя или пароль");
        case 5:
            return QCoreApplication::translate("MqttLink", "брокер отказал в доступе: неверное имя пользователя или пароль, или нет прав");
        case 2:
            return QCoreApplication::translate("MqttLink", "брокер отклонил идентификатор клиента");
        default:
            return QCoreApplication::translate("MqttLink", "брокер отклонил подключение: ")
                   + QString::fromUtf8(mosquitto_connack_string(connackCode));
        }
    case MOSQ_ERR_TLS:
    case MOSQ_ERR_TLS_HANDSHAKE:
        *lasting = true;
        return QCoreApplication::translate("MqttLink", "ошибка TLS: ")
               + (tlsError.empty() ? QCoreApplication::translate("MqttLink", "согласование не удалось") : QString::fromStdString(tlsError));
    case MOSQ_ERR_EAI:
        return QCoreApplication::translate("MqttLink", "адрес брокера %1 не найден").arg(settings.host);
    case MOSQ_ERR_ERRNO:
        return QCoreApplication::translate("MqttLink", "нет связи: ")
               + QString::fromStdString(std::error_code(systemError, std::generic_category()).message());
    case MOSQ_ERR_CONN_LOST:
    case MOSQ_ERR_NO_CONN:
        return QCoreApplication::translate("MqttLink", "связь потеряна");
    case MOSQ_ERR_KEEPALIVE:
        return QCoreApplication::translate("MqttLink", "брокер перестал отвечать");
    default:
        return QString::fromUtf8(mosquitto_strerror(rc));
    }
}

void MqttLink::run(std::shared_ptr<Shared> s)
{
    const Settings &settings = s->settings;
    const QByteArray host = settings.host.toUtf8();
    int pauseMs = settings.retryMinMs;
    bool first = true;
    while (!s->isStopping()) {
        s->connackCode = -1;
        s->tlsError.clear();
        // Connected once, later attempts reuse the address and keep the
        // messages not yet acknowledged; they go out again first.
        int rc = first ? mosquitto_connect_async(s->client, host.constData(), settings.port, settings.keepAliveS)
                       : mosquitto_reconnect_async(s->client);
        int systemError = errno;
        first = false;
        const SteadyClock::time_point began = SteadyClock::now();
        bool wasUp = false;
        while (rc == MOSQ_ERR_SUCCESS) {
            rc = mosquitto_loop(s->client, kLoopWaitMs, 1);
            systemError = errno;
            wasUp |= s->sessionUp;
            {
                // Stopping: go on only while a clean disconnection is being sent.
                std::lock_guard<std::mutex> lock(s->mutex);
                if (s->stopping && (!s->sessionUp || SteadyClock::now() > s->stopDeadline))
                    break;
            }
            if (rc == MOSQ_ERR_SUCCESS && s->sessionUp && s->ackOverdue())
                rc = kNoAck;
            if (!wasUp && rc == MOSQ_ERR_SUCCESS) {
                // A refused TCP connection under TLS does not end the library's
                // attempt (its handshake takes the socket's error and tries
                // again): it would wait out the time-out. A socket that has
                // ended without a peer now was refused if it never had one;
                // one the peer closed in the middle of the TLS handshake is a
                // port that does not speak TLS (or refused ours).
                const int fd = mosquitto_socket(s->client);
                pollfd ended = {fd, POLLOUT, 0};
                sockaddr_storage peer{};
                socklen_t peerLength = sizeof peer;
                if (fd >= 0 && ::poll(&ended, 1, 0) == 1 && (ended.revents & (POLLERR | POLLHUP))
                    && ::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &peerLength) != 0) {
                    int pending = 0;
                    socklen_t length = sizeof pending;
                    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &length);
                    if (wasEstablished(fd) && pending != ECONNREFUSED) {
                        rc = settings.tls ? MOSQ_ERR_TLS_HANDSHAKE : MOSQ_ERR_CONN_LOST;
                        if (s->tlsError.empty())
                            s->tlsError = QCoreApplication::translate(
                                "MqttLink", "брокер закрыл соединение во время согласования (порт без TLS?)").toStdString();
                    } else {
                        rc = MOSQ_ERR_ERRNO;
                        systemError = pending != 0 ? pending : ECONNREFUSED;
                    }
                } else if (SteadyClock::now() - began > Ms(settings.connectTimeoutMs)) {
                    rc = kTimedOut;
                }
            }
        }
        if (s->isStopping())
            break;
        // The TLS library complained before the broker answered: whatever the
        // socket did next (closed, reset), the handshake is what failed.
        if (!wasUp && !s->tlsError.empty())
            rc = MOSQ_ERR_TLS_HANDSHAKE;
        s->sessionUp = false;
        bool lasting = false;
        const QString reason = s->failureText(rc, systemError, &lasting);
        s->post([reason, lasting](MqttLink &link) {
            // Logged here: the log's handler belongs to the owner's thread.
            qCDebug(logWarning()) << "MQTT: no connection -" << reason;
            link.m_connected = false;
            emit link.connectionFailed(reason, lasting);
        });
        if (wasUp)
            pauseMs = settings.retryMinMs;
        std::unique_lock<std::mutex> lock(s->mutex);
        s->wake.wait_for(lock, Ms(pauseMs), [&] { return s->stopping; });
        pauseMs = qMin(pauseMs * 2, settings.retryMaxMs);
    }
    mosquitto_destroy(s->client);
    s->client = nullptr;
    std::lock_guard<std::mutex> lock(s->mutex);
    s->finished = true;
    s->wake.notify_all();
}
