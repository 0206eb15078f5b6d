#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>
#include <cstdint>
#include <functional>

// The kernel's w1 connector: raw access to a bus master (reset, read, write,
// touch, search) through a NETLINK_CONNECTOR socket, at the connector
// address CN_W1_IDX.CN_W1_VAL.
//
// Who may use it: a request is a unicast to the kernel, which any process
// may send; since Linux 3.16 the kernel answers the sending socket alone,
// so no privilege is needed. The multicast group of the w1 connector (the
// kernel's notices of masters and devices coming and going) is another
// matter: joining it takes CAP_NET_ADMIN, and kernels before 3.16 sent their
// answers there, so on them only root gets replies. This client joins no
// group. Where the connector is missing (no `cn` in the kernel), the w1 core
// was built without it (CONFIG_W1_CON: no "w1" in /proc/net/connector) or a
// sandbox refuses netlink sockets, the problem says so.
//
// A request goes to one master with a list of commands, which the kernel
// carries out in order while it holds the bus, so a whole transaction costs
// one round trip. For every command the kernel sends a status message (0 or
// a positive errno; 255 for a reset nobody answered), preceded by a message
// with the data for reads, touches and searches.
class W1Netlink
{
public:
    // The kernel's command codes (enum w1_commands).
    enum CommandCode : uint8_t {
        Read = 0,
        Write = 1,
        Search = 2,
        AlarmSearch = 3,
        Touch = 4,
        Reset = 5,
        ListSlaves = 8,
    };
    // The kernel's message types (enum w1_netlink_message_types).
    enum MessageType : uint8_t {
        MasterCommand = 4,
        SlaveCommand = 5,
        ListMasters = 6,
    };
    // The status of a reset that found no presence.
    static constexpr uint8_t kNoPresence = 255;

    struct Command
    {
        CommandCode code;
        // Written bytes (write, touch); for a read, its length of 0xFF.
        QByteArray data;
    };
    struct Reply
    {
        uint8_t status = 0;
        QByteArray data; // read, touch: the bytes the line gave; search: 8 per ROM
    };

    W1Netlink();
    ~W1Netlink();
    W1Netlink(const W1Netlink &) = delete;
    W1Netlink &operator=(const W1Netlink &) = delete;

    // Opens the socket and asks for the masters; false with *why (for the
    // operator, one line) when this process cannot use the connector.
    bool open(QString *why);
    bool isOpen() const { return m_fd >= 0; }
    // The master ids the kernel listed at open().
    QVector<uint32_t> masters() const { return m_masters; }

    // Runs `commands` on master `masterId` in one request. True with one
    // reply per command; false with *error when the kernel refused the
    // request, the answer was malformed, cut short or did not come (then
    // nothing of it may be used).
    bool masterCommand(uint32_t masterId, const QVector<Command> &commands, QVector<Reply> *replies,
                       QString *error);

    // Requests sent, each one round trip to the kernel.
    int roundTrips() const { return m_roundTrips; }

    // How long an answer is waited for (real time, also on a virtual clock).
    void setReplyTimeoutMs(int ms) { m_timeoutMs = ms; }

    // Tests: sockets come from `factory` instead of AF_NETLINK. It returns
    // a connected, message-preserving socket (the client owns it), or -1
    // with errno set. Null restores the kernel.
    using SocketFactory = std::function<int()>;
    static void setSocketFactory(SocketFactory factory);

    // A request's bytes: netlink header, connector header, one w1 message
    // of `type` for `id` (a master id, or 8 ROM bytes) holding `commands`.
    static QByteArray encode(uint32_t seq, uint8_t type, const QByteArray &id, const QVector<Command> &commands);

private:
    bool exchange(uint8_t type, const QByteArray &id, const QVector<Command> &commands, QVector<Reply> *replies,
                  QString *error);
    void close();

    int m_fd = -1;
    bool m_kernel = true;
    uint32_t m_seq = 0;
    int m_roundTrips = 0;
    int m_timeoutMs = 2000;
    QVector<uint32_t> m_masters;
};

// The kernel's layouts (drivers/w1/w1_netlink.h; not in the uapi headers),
// host byte order as the kernel uses them.
namespace W1NetlinkLayout {

#pragma pack(push, 1)
struct Message
{
    uint8_t type;
    uint8_t status;
    uint16_t len; // bytes of data after this header
    uint8_t id[8]; // a ROM, or a master id (u32) and a reserved u32
};
struct Cmd
{
    uint8_t cmd;
    uint8_t res;
    uint16_t len; // bytes of data after this header
};
#pragma pack(pop)
static_assert(sizeof(Message) == 12, "w1_netlink_msg is 12 bytes");
static_assert(sizeof(Cmd) == 4, "w1_netlink_cmd is 4 bytes");

// The largest message the connector takes (CONNECTOR_MAX_MSG_SIZE).
const int kMaxMessage = 16384;

} // namespace W1NetlinkLayout
