#include "faces/owserverface.h"

#include "faces/connectionshare.h"
#include "faces/faceoutput.h"
#include "faces/owserverprotocol.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QHostAddress>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <sys/socket.h>

OwserverConfig OwserverConfig::fromSettings(QSettings &settings, QString *error)
{
    OwserverConfig config;
    const QString listen = settings.value(QStringLiteral("Owserver/Listen")).toString().trimmed();
    if (!listen.isEmpty())
        config.enabled = ListenAddress::parse(listen, &config.listen, error);
    config.maxConnections =
        qBound(1, settings.value(QStringLiteral("Owserver/MaxConnections"), config.maxConnections).toInt(), 1024);
    return config;
}

bool OwserverConfig::takeOptions(QStringList &args, OwserverConfig *config, QString *error)
{
    return ListenAddress::takeOption(args, QStringLiteral("--owserver"), &config->listen, &config->enabled, error);
}

QString OwserverConfig::optionsUsage()
{
    return QCoreApplication::translate(
        "Orvexctl",
        "  --owserver [ADDRESS:]PORT  serve the latest readings over the owserver protocol\n"
        "                     (owread, owdir, Home Assistant); the address defaults to\n"
        "                     127.0.0.1, the protocol's usual port is 4304\n");
}

class OwListener;

// One client connection: reads whole requests and answers each from the
// current snapshot. Lives on the listener's thread.
class OwConnection : public QObject
{
    // Replies a client leaves unread beyond this close its connection: a
    // client that sends and never reads holds no more of the server's memory.
    static constexpr qint64 kMaxUnsentBytes = 256 * 1024;

public:
    OwConnection(QTcpSocket *socket, OwListener &listener);

private:
    void readRequests();
    void sent();

    QTcpSocket *m_socket;
    OwListener &m_listener;
    QTimer m_deadline;
    int m_requestMs = 0;
    int m_idleMs = 0;
    bool m_requestBegun = false; // bytes of a request have come: it must come whole in time
    bool m_haveHeader = false;
    OwProtocol::Header m_header;
    int m_after = 0;
};

class OwListener : public QTcpServer
{
public:
    OwListener(const SnapshotHolder &snapshot, const OwserverConfig &config)
        : m_snapshot(snapshot)
        , m_config(config)
        , m_share(config.maxConnections)
    {
        // Out of descriptors, Qt stops accepting for good; accept again once
        // connections have had time to close.
        connect(this, &QTcpServer::acceptError, this,
                [this] { QTimer::singleShot(100, this, [this] { resumeAccepting(); }); });
    }

    const SnapshotHolder &snapshot() const { return m_snapshot; }
    const OwserverConfig &config() const { return m_config; }
    // A request of `socket` is being answered (true) or its answer is out.
    void setBusy(QTcpSocket *socket, bool busy) { m_share.setBusy(ConnectionShare::Id(socket), busy); }

    QAtomicInt rejected;
    QAtomicInt evicted;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        const ConnectionShare::Id id = ConnectionShare::Id(socket);
        if (const ConnectionShare::Id victim = m_share.admit(id)) {
            evicted.fetchAndAddRelaxed(1);
            auto *giving = reinterpret_cast<QTcpSocket *>(victim);
            giving->abort();
            giving->deleteLater();
        }
        connect(socket, &QObject::destroyed, this, [this, id] { m_share.remove(id); });
        new OwConnection(socket, *this);
    }

private:
    const SnapshotHolder &m_snapshot;
    OwserverConfig m_config;
    ConnectionShare m_share;
};

OwConnection::OwConnection(QTcpSocket *socket, OwListener &listener)
    : QObject(socket)
    , m_socket(socket)
    , m_listener(listener)
{
    // Network deadlines are real time whatever the measuring clock does.
    m_deadline.setSingleShot(true);
    m_requestMs = listener.config().requestTimeoutMs;
    m_idleMs = listener.config().idleTimeoutMs;
    connect(&m_deadline, &QTimer::timeout, socket, &QTcpSocket::abort);
    connect(socket, &QTcpSocket::readyRead, this, [this] { readRequests(); });
    connect(socket, &QTcpSocket::bytesWritten, this, [this] { sent(); });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    // The first request is due at once.
    m_requestBegun = true;
    m_deadline.start(m_requestMs);
}

void OwConnection::readRequests()
{
    while (m_socket->state() == QAbstractSocket::ConnectedState) {
        if (!m_requestBegun && m_socket->bytesAvailable() > 0) {
            // A kept connection's next request: from its first byte it has the request's time, not the idle time.
            m_requestBegun = true;
            m_deadline.start(m_requestMs);
        }
        if (!m_haveHeader) {
            if (m_socket->bytesAvailable() < OwProtocol::kHeaderBytes)
                break;
            char bytes[OwProtocol::kHeaderBytes];
            m_socket->read(bytes, sizeof bytes);
            m_header = OwProtocol::decodeHeader(bytes);
            m_after = OwProtocol::bytesAfter(m_header);
            if (m_after < 0) {
                // Not a request this server takes (a payload over the limit, say): closed at
                // once, as there is no telling where the next one starts.
                m_listener.rejected.fetchAndAddRelaxed(1);
                m_socket->abort();
                return;
            }
            m_haveHeader = true;
        }
        if (m_socket->bytesAvailable() < m_after)
            break;
        const QByteArray rest = m_socket->read(m_after);
        m_haveHeader = false;
        m_requestBegun = false;
        const bool keep = (m_header.flags & OwProtocol::kPersistent) != 0;
        const std::shared_ptr<const FaceSnapshot> snapshot = m_listener.snapshot().current();
        m_listener.setBusy(m_socket, true);
        m_socket->write(OwProtocol::answer(*snapshot, m_header, rest.left(m_header.payload), keep));
        if (m_socket->bytesToWrite() > kMaxUnsentBytes) {
            m_socket->abort();
            return;
        }
        if (!keep) {
            m_socket->disconnectFromHost();
            return;
        }
        m_deadline.start(m_idleMs);
    }
}

void OwConnection::sent()
{
    if (m_socket->bytesToWrite() == 0)
        m_listener.setBusy(m_socket, false);
}

OwserverFace::OwserverFace(const OwserverConfig &config, QObject *parent)
    : QObject(parent)
    , m_config(config)
{
}

OwserverFace::~OwserverFace()
{
    if (m_thread) {
        m_thread->quit();
        m_thread->wait();
        delete m_thread;
    }
}

bool OwserverFace::start(QString *error)
{
    if (m_thread)
        return true;
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("owserver"));
    m_listener = new OwListener(m_snapshot, m_config);
    m_listener->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_listener, &QObject::deleteLater);
    m_thread->start();
    bool listening = false;
    QString why;
    quint16 port = 0;
    const ListenAddress address = m_config.listen;
    OwListener *listener = m_listener;
    QMetaObject::invokeMethod(
        m_listener,
        [listener, address, &listening, &why, &port] {
            listening = listener->listen(QHostAddress(address.host), address.port);
            // Qt 5 listens with a queue of 50: a burst of connections from one
            // process would fill it, and the kernel then drops everyone's
            // connection requests, each retried only a second later. The
            // system's largest queue takes the burst until the thread has
            // taken them (and closed them to make room).
            if (listening)
                ::listen(int(listener->socketDescriptor()), SOMAXCONN);
            why = listener->errorString();
            port = listener->serverPort();
        },
        Qt::BlockingQueuedConnection);
    if (!listening) {
        *error = QStringLiteral("owserver: cannot listen on %1: %2").arg(address.text(), why);
        m_thread->quit();
        m_thread->wait();
        delete m_thread;
        m_thread = nullptr;
        m_listener = nullptr;
        return false;
    }
    m_port = port;
    return true;
}

int OwserverFace::rejectedConnections() const
{
    return m_listener ? m_listener->rejected.loadRelaxed() : 0;
}

int OwserverFace::evictedConnections() const
{
    return m_listener ? m_listener->evicted.loadRelaxed() : 0;
}

void OwserverFace::takeReading(const SensorDevice &device, int index)
{
    m_builder.takeReading(device, index);
}

void OwserverFace::cycleEnded(const CycleSummary &summary)
{
    m_snapshot.publish(m_builder.endCycle(summary));
}

OutputEntry OwserverFace::outputEntry()
{
    return FaceOutput::entry<OwserverFace, OwserverConfig>(QStringLiteral("owserver"),
                                                           QStringLiteral("[--owserver [ADDRESS:]PORT]"));
}
