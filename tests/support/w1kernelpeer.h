#pragma once

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <QVector>
#include <cstdint>
#include <memory>
#include <vector>

class QSocketNotifier;
class SimBus;

// The kernel's side of the w1 connector over a simulated bus: it takes the
// requests W1Netlink sends (netlink header, connector header, w1 messages
// and commands) and answers them as the kernel's w1 netlink code does —
// LIST_MASTERS with the master ids; for a master or slave command, each
// command carried out on the simulated wire in order (a slave command reset
// and selected first), a data message (ack = seq + 1) for a read, touch or
// search, then a status message (ack as in the request, status the positive
// errno, 255 for a reset nobody answered); a request for an unknown master
// or device, or without commands, an error message with no command; unknown
// connector flags refused with EINVAL; a message longer than its connector
// message dropped unanswered.
//
// install() points W1Netlink at it: every socket the program opens is one
// end of a socket pair whose other end this peer serves from the event loop
// (the client's wait runs pending events, so one thread does).
class W1KernelPeer : public QObject
{
    Q_OBJECT
public:
    explicit W1KernelPeer(SimBus &bus, uint32_t masterId = 1);
    ~W1KernelPeer() override;

    void install();
    // Sockets are refused with `error` (EPERM, EPROTONOSUPPORT...); 0 accepts.
    void refuseSockets(int error) { m_refuse = error; }

    // Faults for the next answers: the next datagram cut to `bytes`; the
    // next read, write or touch failing with `status`; the next data
    // message one byte short; the next answer under another sequence number.
    void cutNextAnswer(int bytes) { m_cutTo = bytes; }
    void failNextCommand(uint8_t status) { m_failStatus = status; }
    void shortenNextData() { m_shortenData = true; }
    void misnumberNextAnswer() { m_misnumber = true; }

    // What the kernel did on the wire since the last call, one line for
    // each request that used it: "reset, write 55 19..., touch 4b... ->
    // 4b..., read -> ff".
    QStringList takeWire();
    int requests() const { return m_requests; }

private:
    void serve(int fd);
    void handle(int fd, const QByteArray &datagram);
    void send(int fd, uint32_t seq, uint32_t ack, const QByteArray &messages);

    SimBus &m_bus;
    uint32_t m_masterId;
    QVector<int> m_fds;
    std::vector<std::unique_ptr<QSocketNotifier>> m_notifiers;
    int m_refuse = 0;
    int m_cutTo = -1;
    int m_failStatus = 0;
    bool m_shortenData = false;
    bool m_misnumber = false;
    int m_requests = 0;
    QStringList m_wire;
};
