#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <memory>
#include <thread>

// One client connection to an MQTT broker (MQTT 3.1.1 through libmosquitto),
// kept up by a network thread of its own. Name look-up, connecting, the TLS
// handshake, keep-alive and reconnecting with a doubling pause all happen on
// that thread, so the thread that owns the link never waits for the network:
// it hands messages over with publish() and hears back through queued
// signals, in its own event loop. A message handed over stays with the
// library until the broker acknowledges it, across lost connections, and goes
// out in the order handed over.
//
// The network works in real time whatever the program's clock does: the
// broker is a real peer.
class MqttLink : public QObject
{
    Q_OBJECT
public:
    struct Settings
    {
        QString host;
        int port = 1883;
        bool tls = false;
        QString caFile;        // empty with tls: the system's certificates
        QString clientId;
        QString username;
        QByteArray password;   // handed to the library and cleared here; move it in, so no shared copy keeps it
        QByteArray willTopic;  // the broker publishes willPayload there (retained) if the link breaks
        QByteArray willPayload;
        int keepAliveS = 30;
        int retryMinMs = 500;  // the pause after a failed attempt, doubled up to retryMaxMs
        int retryMaxMs = 30000;
        int connectTimeoutMs = 10000; // an attempt without the broker's answer by then is given up
        // A message sent and not acknowledged by then ends the connection: it
        // goes out again on the next one, and the failure says why.
        int ackTimeoutMs = 30000;
        QByteArray listenTopic; // subscribed to (QoS 1) at every connection when set; see messageArrived()
    };

    // Why publish() did not take a message.
    enum class Refusal { None, NotNow, ForGood };

    explicit MqttLink(QObject *parent = nullptr);
    // Stops without waiting (see stop()).
    ~MqttLink() override;

    // Sets the client up and starts the network thread, which connects at once.
    // False with *error when the settings cannot work (an unreadable CA file).
    // The password is cleared either way.
    bool start(Settings settings, QString *error);

    // Hands over a QoS 1 message; returns its message identifier (above 0), or 0
    // when the library did not take it, with *refusal saying whether it never
    // will (a topic or payload the protocol cannot carry) or not now (no
    // memory). Allowed while disconnected: the library keeps the message and
    // sends it after the next connection, and its acknowledgement comes with
    // the identifier returned. Owner's thread only, between start() and stop().
    int publish(const QByteArray &topic, const QByteArray &payload, bool retain, Refusal *refusal = nullptr);

    // Ends the link: when connected, publishes `lastPayload` retained on
    // `lastTopic` (QoS 0, so it leaves before the disconnection) and
    // disconnects cleanly, so the broker does not publish the last will. Waits
    // up to `waitMs` for the network thread; one still busy then (a stuck name
    // look-up) is left to finish alone. No signal comes after this call.
    void stop(const QByteArray &lastTopic, const QByteArray &lastPayload, int waitMs);

    // Whether the broker has accepted the connection, as far as the signals told.
    bool isConnected() const { return m_connected; }

signals:
    void connected();
    // An attempt failed or the connection was lost (also: the broker let a
    // message go unacknowledged past Settings::ackTimeoutMs); the thread
    // tries again after its pause. `lasting`: the broker refused us
    // (credentials, certificates, no TLS on its port), which trying again
    // does not mend by itself.
    void connectionFailed(const QString &reason, bool lasting);
    // The broker acknowledged the message publish() returned `messageId` for.
    void delivered(int messageId);
    // A message arrived on Settings::listenTopic; `retained`: a stored one,
    // sent because we subscribed, not because it was published now.
    void messageArrived(const QByteArray &topic, const QByteArray &payload, bool retained);

private:
    struct Shared;
    static void run(std::shared_ptr<Shared> shared);

    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
    bool m_connected = false;
};
