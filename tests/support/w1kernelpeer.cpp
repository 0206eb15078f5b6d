#include "support/w1kernelpeer.h"

#include "bus/w1netlink.h"
#include "sim/simbus.h"

#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <linux/connector.h>
#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace W1NetlinkLayout;

namespace {

const uint16_t kBundle = 1; // W1_CN_BUNDLE, the one flag the kernel knows

template <typename T>
T at(const QByteArray &bytes, int offset)
{
    T value;
    std::memcpy(&value, bytes.constData() + offset, sizeof value);
    return value;
}

template <typename T>
QByteArray bytesOf(const T &value)
{
    return QByteArray(reinterpret_cast<const char *>(&value), sizeof value);
}

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' '));
}

// A w1 message header with its data.
QByteArray message(Message header, const QByteArray &data)
{
    header.len = uint16_t(data.size());
    return bytesOf(header) + data;
}

QByteArray command(Cmd header, const QByteArray &data)
{
    header.len = uint16_t(data.size());
    return bytesOf(header) + data;
}

} // namespace

W1KernelPeer::W1KernelPeer(SimBus &bus, uint32_t masterId)
    : m_bus(bus)
    , m_masterId(masterId)
{
}

W1KernelPeer::~W1KernelPeer()
{
    W1Netlink::setSocketFactory(nullptr);
    m_notifiers.clear();
    for (int fd : qAsConst(m_fds))
        ::close(fd);
}

void W1KernelPeer::install()
{
    W1Netlink::setSocketFactory([this]() {
        if (m_refuse) {
            errno = m_refuse;
            return -1;
        }
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
            return -1;
        const int fd = pair[1];
        m_fds << fd;
        auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(notifier.get(), &QSocketNotifier::activated, this, [this, fd]() { serve(fd); });
        m_notifiers.push_back(std::move(notifier));
        return pair[0];
    });
}

QStringList W1KernelPeer::takeWire()
{
    QStringList taken;
    taken.swap(m_wire);
    return taken;
}

void W1KernelPeer::serve(int fd)
{
    QByteArray datagram(NLMSG_HDRLEN + kMaxMessage + 64, '\0');
    const ssize_t got = ::recv(fd, datagram.data(), size_t(datagram.size()), MSG_DONTWAIT);
    if (got <= 0) {
        if (got == 0) {
            // The program closed its end.
            for (auto &notifier : m_notifiers) {
                if (notifier->socket() == fd)
                    notifier->setEnabled(false);
            }
        }
        return;
    }
    datagram.truncate(int(got));
    handle(fd, datagram);
}

void W1KernelPeer::send(int fd, uint32_t seq, uint32_t ack, const QByteArray &messages)
{
    cn_msg cn{};
    cn.id.idx = CN_W1_IDX;
    cn.id.val = CN_W1_VAL;
    cn.seq = m_misnumber ? seq + 1000 : seq;
    cn.ack = ack;
    cn.len = uint16_t(messages.size());
    m_misnumber = false;
    nlmsghdr header{};
    header.nlmsg_len = uint32_t(NLMSG_LENGTH(sizeof cn + messages.size()));
    header.nlmsg_type = NLMSG_DONE;
    header.nlmsg_seq = seq;
    QByteArray bytes = bytesOf(header) + bytesOf(cn) + messages;
    // The kernel's netlink messages take up their aligned length.
    bytes.append(QByteArray(int(NLMSG_ALIGN(bytes.size())) - bytes.size(), '\0'));
    if (m_cutTo >= 0) {
        bytes.truncate(m_cutTo);
        m_cutTo = -1;
    }
    ::send(fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL);
}

void W1KernelPeer::handle(int fd, const QByteArray &datagram)
{
    // The connector's own checks: a whole netlink message holding at least
    // a connector header and its data; anything else is dropped.
    if (datagram.size() < int(NLMSG_HDRLEN + sizeof(cn_msg)))
        return;
    const nlmsghdr header = at<nlmsghdr>(datagram, 0);
    if (header.nlmsg_len > uint32_t(datagram.size()) || header.nlmsg_len < NLMSG_HDRLEN + sizeof(cn_msg))
        return;
    const QByteArray payload = datagram.mid(NLMSG_HDRLEN, int(header.nlmsg_len - NLMSG_HDRLEN));
    const cn_msg cn = at<cn_msg>(payload, 0);
    if (int(sizeof(cn_msg)) + cn.len > payload.size() || cn.len > kMaxMessage)
        return;
    if (cn.id.idx != CN_W1_IDX || cn.id.val != CN_W1_VAL)
        return;
    ++m_requests;
    const QByteArray data = payload.mid(sizeof(cn_msg), cn.len);
    if (cn.flags & ~kBundle) {
        Message first = data.size() >= int(sizeof(Message)) ? at<Message>(data, 0) : Message{};
        first.status = uint8_t(EINVAL);
        send(fd, cn.seq, cn.ack, message(first, QByteArray()));
        return;
    }
    // Lengths first: one message longer than what holds it drops the whole
    // request unanswered.
    for (int offset = 0; offset < data.size();) {
        if (offset + int(sizeof(Message)) > data.size())
            return;
        const Message m = at<Message>(data, offset);
        offset += int(sizeof(Message)) + m.len;
        if (offset > data.size())
            return;
    }

    QStringList wire;
    for (int offset = 0; offset < data.size();) {
        Message request = at<Message>(data, offset);
        const QByteArray body = data.mid(offset + int(sizeof(Message)), request.len);
        offset += int(sizeof(Message)) + request.len;
        auto refuse = [&](int error) {
            Message reply = request;
            reply.status = uint8_t(error);
            send(fd, cn.seq, cn.ack, message(reply, QByteArray()));
        };

        if (request.type == W1Netlink::ListMasters) {
            Message reply{};
            reply.type = W1Netlink::ListMasters;
            send(fd, cn.seq, cn.seq + 1, message(reply, bytesOf(m_masterId)));
            continue;
        }
        if (body.isEmpty()) {
            refuse(EPROTO);
            continue;
        }
        const bool slave = request.type == W1Netlink::SlaveCommand;
        if (request.type == W1Netlink::MasterCommand) {
            if (at<uint32_t>(QByteArray(reinterpret_cast<const char *>(request.id), 8), 0) != m_masterId) {
                refuse(ENODEV);
                continue;
            }
        } else if (slave) {
            if (!m_bus.findDevice(QByteArray(reinterpret_cast<const char *>(request.id), 8))) {
                refuse(ENODEV);
                continue;
            }
        } else {
            refuse(EPROTO);
            continue;
        }

        int error = 0;
        if (slave) {
            // The kernel resets and selects the device before the commands.
            if (m_bus.reset() != 1) {
                error = ENODEV;
            } else {
                m_bus.touchByte(0x55);
                for (uint8_t byte : request.id)
                    m_bus.touchByte(byte);
                wire << QStringLiteral("reset, write 55 ") + hex(QByteArray(reinterpret_cast<const char *>(request.id), 8));
            }
        }
        Cmd last{};
        int cmdAt = 0;
        while (cmdAt < body.size() && error == 0) {
            if (cmdAt + int(sizeof(Cmd)) > body.size()) {
                error = E2BIG;
                break;
            }
            last = at<Cmd>(body, cmdAt);
            if (cmdAt + int(sizeof(Cmd)) + last.len > body.size()) {
                error = E2BIG;
                break;
            }
            QByteArray bytes = body.mid(cmdAt + int(sizeof(Cmd)), last.len);
            cmdAt += int(sizeof(Cmd)) + last.len;

            int status = 0;
            bool withData = false;
            const bool io = last.cmd == W1Netlink::Read || last.cmd == W1Netlink::Write || last.cmd == W1Netlink::Touch;
            if (io && m_failStatus) {
                status = m_failStatus;
                m_failStatus = 0;
            } else if (io) {
                const QByteArray sent = bytes;
                for (char &byte : bytes)
                    byte = char(m_bus.touchByte(last.cmd == W1Netlink::Read ? 0xFF : uint8_t(byte)));
                withData = last.cmd != W1Netlink::Write;
                if (last.cmd == W1Netlink::Write)
                    wire << QStringLiteral("write ") + hex(sent);
                else if (last.cmd == W1Netlink::Touch)
                    wire << QStringLiteral("touch %1 -> %2").arg(hex(sent), hex(bytes));
                else
                    wire << QStringLiteral("read -> ") + hex(bytes);
            } else if (!slave && last.cmd == W1Netlink::Reset) {
                wire << QStringLiteral("reset");
                status = m_bus.reset() == 1 ? 0 : 255; // (u8)-1: nobody answered
            } else if (!slave && (last.cmd == W1Netlink::Search || last.cmd == W1Netlink::ListSlaves)) {
                bytes.clear();
                uint8_t rom[8] = {};
                int lastDiscrepancy = 0;
                do {
                    if (m_bus.searchPass(rom, &lastDiscrepancy) != 1)
                        break;
                    bytes.append(reinterpret_cast<const char *>(rom), 8);
                } while (lastDiscrepancy != 0);
                withData = true;
                wire << QStringLiteral("search -> %1 device(s)").arg(bytes.size() / 8);
            } else {
                status = EINVAL;
            }
            if (withData) {
                if (m_shortenData && !bytes.isEmpty()) {
                    bytes.chop(1);
                    m_shortenData = false;
                }
                send(fd, cn.seq, cn.seq + 1, message(request, command(last, bytes)));
            }
            send(fd, cn.seq, cn.ack, message(request, command(last, QByteArray())).replace(1, 1, QByteArray(1, char(status))));
        }
        if (error) {
            Message reply = request;
            reply.status = uint8_t(error);
            send(fd, cn.seq, cn.ack, message(reply, command(last, QByteArray())));
        }
    }
    if (!wire.isEmpty())
        m_wire << wire.join(QStringLiteral(", "));
}
