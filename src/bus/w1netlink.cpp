#include "bus/w1netlink.h"

#include "base/clock.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <linux/connector.h>
#include <linux/netlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace W1NetlinkLayout;

namespace {

W1Netlink::SocketFactory &factory()
{
    static W1Netlink::SocketFactory instance;
    return instance;
}

QString errnoText(int error)
{
    const char *name = error == EPERM             ? "EPERM"
                       : error == EACCES          ? "EACCES"
                       : error == ENOENT          ? "ENOENT"
                       : error == EPROTONOSUPPORT ? "EPROTONOSUPPORT"
                       : error == EAFNOSUPPORT    ? "EAFNOSUPPORT"
                       : error == ENODEV          ? "ENODEV"
                       : error == EINVAL          ? "EINVAL"
                       : error == E2BIG           ? "E2BIG"
                       : error == EPROTO          ? "EPROTO"
                                                  : nullptr;
    const QString text = QString::fromLocal8Bit(std::strerror(error));
    return name ? QStringLiteral("%1 (%2)").arg(text, QLatin1String(name)) : text;
}

// Whether the kernel registered the w1 connector; empty when it did (or
// when the list cannot be read, and the request will tell).
QString connectorProblem()
{
    QFile list(QStringLiteral("/proc/net/connector"));
    if (!list.exists())
        return QStringLiteral("the kernel has no netlink connector (no /proc/net/connector)");
    if (!list.open(QIODevice::ReadOnly))
        return QString();
    for (const QByteArray &line : list.readAll().split('\n')) {
        if (line.simplified().startsWith("w1 "))
            return QString();
    }
    return QStringLiteral("the kernel's w1 core has no netlink connector (no w1 in /proc/net/connector: "
                          "built without CONFIG_W1_CON, or the wire module not loaded)");
}

template <typename T>
T readAt(const QByteArray &bytes, int offset)
{
    T value;
    std::memcpy(&value, bytes.constData() + offset, sizeof value);
    return value;
}

} // namespace

W1Netlink::W1Netlink() = default;

W1Netlink::~W1Netlink()
{
    close();
}

void W1Netlink::setSocketFactory(SocketFactory make)
{
    factory() = std::move(make);
}

void W1Netlink::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool W1Netlink::open(QString *why)
{
    close();
    m_masters.clear();
    if (factory()) {
        m_kernel = false;
        m_fd = factory()();
        if (m_fd < 0) {
            *why = QStringLiteral("socket: %1").arg(errnoText(errno));
            return false;
        }
    } else {
        m_kernel = true;
        const QString missing = connectorProblem();
        if (!missing.isEmpty()) {
            *why = missing;
            return false;
        }
        m_fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_CONNECTOR);
        if (m_fd < 0) {
            *why = QStringLiteral("socket: %1").arg(errnoText(errno));
            return false;
        }
        // No multicast group: the kernel answers this socket's port alone.
        sockaddr_nl local{};
        local.nl_family = AF_NETLINK;
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        if (::bind(m_fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0
            || ::connect(m_fd, reinterpret_cast<sockaddr *>(&kernel), sizeof kernel) != 0) {
            *why = QStringLiteral("bind: %1").arg(errnoText(errno));
            close();
            return false;
        }
    }
    QVector<Reply> replies;
    QString error;
    if (!exchange(ListMasters, QByteArray(8, '\0'), {}, &replies, &error)) {
        *why = error;
        close();
        return false;
    }
    const QByteArray &ids = replies.value(0).data;
    for (int at = 0; at + 4 <= ids.size(); at += 4)
        m_masters << readAt<uint32_t>(ids, at);
    return true;
}

QByteArray W1Netlink::encode(uint32_t seq, uint8_t type, const QByteArray &id, const QVector<Command> &commands)
{
    QByteArray body;
    for (const Command &command : commands) {
        Cmd cmd{};
        cmd.cmd = command.code;
        cmd.len = uint16_t(command.data.size());
        body.append(reinterpret_cast<const char *>(&cmd), sizeof cmd);
        body.append(command.data);
    }
    Message message{};
    message.type = type;
    message.len = uint16_t(body.size());
    std::memcpy(message.id, id.constData(), size_t(qMin(8, id.size())));
    cn_msg cn{};
    cn.id.idx = CN_W1_IDX;
    cn.id.val = CN_W1_VAL;
    cn.seq = seq;
    cn.ack = 0;
    cn.len = uint16_t(sizeof message + body.size());
    nlmsghdr header{};
    header.nlmsg_len = uint32_t(NLMSG_LENGTH(sizeof cn + cn.len));
    header.nlmsg_type = NLMSG_DONE;
    header.nlmsg_seq = seq;
    QByteArray bytes(reinterpret_cast<const char *>(&header), sizeof header);
    bytes.append(reinterpret_cast<const char *>(&cn), sizeof cn);
    bytes.append(reinterpret_cast<const char *>(&message), sizeof message);
    bytes.append(body);
    return bytes;
}

bool W1Netlink::masterCommand(uint32_t masterId, const QVector<Command> &commands, QVector<Reply> *replies,
                              QString *error)
{
    if (m_fd < 0) {
        *error = QStringLiteral("the w1 connector is not open");
        return false;
    }
    if (commands.isEmpty()) {
        replies->clear();
        return true;
    }
    QByteArray id(8, '\0');
    std::memcpy(id.data(), &masterId, sizeof masterId);
    return exchange(MasterCommand, id, commands, replies, error);
}

bool W1Netlink::exchange(uint8_t type, const QByteArray &id, const QVector<Command> &commands, QVector<Reply> *replies,
                         QString *error)
{
    const uint32_t seq = ++m_seq;
    const QByteArray request = encode(seq, type, id, commands);
    if (request.size() > int(NLMSG_HDRLEN) + kMaxMessage) {
        *error = QStringLiteral("request of %1 bytes is more than the connector takes").arg(request.size());
        return false;
    }
    ++m_roundTrips;
    if (::send(m_fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) != request.size()) {
        *error = QStringLiteral("send: %1").arg(errnoText(errno));
        return false;
    }

    const bool listing = type == ListMasters;
    const int expected = listing ? 1 : commands.size();
    replies->clear();
    replies->resize(expected);
    int statuses = 0; // commands whose status came
    QString failure;
    auto fail = [&failure](const QString &why) {
        failure = why;
        return false;
    };

    // One connector message of the answer. Returns false on a fault that
    // makes the whole answer unusable (in *failure).
    auto takeConnector = [&](const QByteArray &payload) {
        if (payload.size() < int(sizeof(cn_msg)))
            return fail(QStringLiteral("short connector header"));
        const cn_msg cn = readAt<cn_msg>(payload, 0);
        if (cn.id.idx != CN_W1_IDX || cn.id.val != CN_W1_VAL || cn.seq != seq)
            return true; // another connector's, or an earlier request's answer
        if (int(sizeof(cn_msg)) + cn.len > payload.size())
            return fail(QStringLiteral("connector message cut short"));
        const QByteArray data = payload.mid(sizeof(cn_msg), cn.len);
        const bool withData = cn.ack == seq + 1;
        int at = 0;
        while (at < data.size()) {
            if (at + int(sizeof(Message)) > data.size())
                return fail(QStringLiteral("short w1 message header"));
            const Message message = readAt<Message>(data, at);
            at += sizeof(Message);
            if (at + message.len > data.size())
                return fail(QStringLiteral("w1 message cut short"));
            const QByteArray body = data.mid(at, message.len);
            at += message.len;
            if (listing) {
                if (message.type != ListMasters)
                    return fail(QStringLiteral("unexpected answer type %1").arg(message.type));
                (*replies)[0].data += body;
                statuses = 1;
                continue;
            }
            if (body.isEmpty()) {
                // The request as a whole was refused (no such master, a
                // malformed request): no command was carried out.
                return fail(QStringLiteral("the kernel refused the request: %1")
                                     .arg(errnoText(message.status ? message.status : EPROTO)));
            }
            int cmdAt = 0;
            while (cmdAt < body.size()) {
                if (cmdAt + int(sizeof(Cmd)) > body.size())
                    return fail(QStringLiteral("short w1 command header"));
                const Cmd cmd = readAt<Cmd>(body, cmdAt);
                cmdAt += sizeof(Cmd);
                if (cmdAt + cmd.len > body.size())
                    return fail(QStringLiteral("w1 command data cut short"));
                if (statuses >= expected || cmd.cmd != commands.at(statuses).code)
                    return fail(QStringLiteral("answer to a command not sent (%1)").arg(cmd.cmd));
                Reply &reply = (*replies)[statuses];
                if (withData) {
                    reply.data += body.mid(cmdAt, cmd.len);
                } else {
                    reply.status = message.status;
                    const CommandCode code = commands.at(statuses).code;
                    if ((code == Read || code == Touch) && reply.status == 0
                        && reply.data.size() != commands.at(statuses).data.size())
                        return fail(QStringLiteral("%1 of %2 bytes answered with %3")
                                             .arg(code == Read ? QStringLiteral("read") : QStringLiteral("touch"))
                                             .arg(commands.at(statuses).data.size())
                                             .arg(reply.data.size()));
                    ++statuses;
                }
                cmdAt += cmd.len;
            }
        }
        return true;
    };

    QByteArray buffer(NLMSG_HDRLEN + kMaxMessage + 4096, '\0');
    auto receive = [&](int sliceMs) {
        pollfd ready{m_fd, POLLIN, 0};
        if (::poll(&ready, 1, sliceMs) <= 0)
            return false;
        for (;;) {
            const ssize_t got = ::recv(m_fd, buffer.data(), size_t(buffer.size()), MSG_DONTWAIT);
            if (got < 0) {
                if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                    failure = QStringLiteral("recv: %1").arg(errnoText(errno));
                return !failure.isEmpty();
            }
            if (got == 0) {
                failure = QStringLiteral("the connector closed");
                return true;
            }
            int at = 0;
            while (at + int(NLMSG_HDRLEN) <= got) {
                const nlmsghdr header = readAt<nlmsghdr>(buffer, at);
                if (header.nlmsg_len < NLMSG_HDRLEN || at + int(header.nlmsg_len) > got) {
                    failure = QStringLiteral("netlink message cut short");
                    return true;
                }
                const QByteArray payload =
                    buffer.mid(at + int(NLMSG_HDRLEN), int(header.nlmsg_len) - int(NLMSG_HDRLEN));
                if (header.nlmsg_type == NLMSG_ERROR) {
                    const int code = payload.size() >= int(sizeof(int)) ? -readAt<int>(payload, 0) : EPROTO;
                    if (code != 0) {
                        failure = QStringLiteral("netlink: %1").arg(errnoText(code));
                        return true;
                    }
                } else if (header.nlmsg_type != NLMSG_NOOP && !takeConnector(payload)) {
                    return true;
                }
                if (statuses >= expected)
                    return true;
                at += int(NLMSG_ALIGN(header.nlmsg_len));
            }
            // What is left past the last message is its padding, or a
            // message cut inside its header.
            if (got - at >= int(NLMSG_ALIGNTO)) {
                failure = QStringLiteral("netlink message cut short");
                return true;
            }
        }
    };

    if (!Clock::waitForInput(receive, m_timeoutMs) && failure.isEmpty())
        failure = m_kernel ? QStringLiteral("the kernel's w1 connector did not answer (a kernel before 3.16 answers "
                                            "root alone)")
                           : QStringLiteral("the w1 connector did not answer");
    if (!failure.isEmpty() || statuses < expected) {
        *error = failure.isEmpty() ? QStringLiteral("answer incomplete") : failure;
        replies->clear();
        return false;
    }
    return true;
}
