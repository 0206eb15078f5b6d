#include "faces/connectionshare.h"

#include <QHostAddress>
#include <algorithm>
#include <microhttpd.h>
#include <sys/socket.h>

ConnectionShare::ConnectionShare(int places, int perGroup)
    : m_places(qMax(1, places))
    , m_perGroup(qMax(0, perGroup))
{
}

int ConnectionShare::indexOf(Id id) const
{
    for (int i = 0; i < m_entries.size(); ++i) {
        if (m_entries.at(i).id == id)
            return i;
    }
    return -1;
}

int ConnectionShare::victimIndex(const QByteArray *group) const
{
    int pick = -1;
    for (int i = 0; i < m_entries.size(); ++i) {
        const Entry &entry = m_entries.at(i);
        if (group && entry.group != *group)
            continue;
        if (pick < 0) {
            pick = i;
            continue;
        }
        const Entry &chosen = m_entries.at(pick);
        // A connection without a request under way goes before any with one.
        if (entry.busy != chosen.busy ? !entry.busy : entry.since < chosen.since)
            pick = i;
    }
    return pick;
}

ConnectionShare::Id ConnectionShare::admit(Id id, const QByteArray &group)
{
    int pick = -1;
    if (m_perGroup > 0 && !group.isEmpty()
        && std::count_if(m_entries.cbegin(), m_entries.cend(), [&](const Entry &e) { return e.group == group; })
               >= m_perGroup)
        pick = victimIndex(&group); // one of its own: the total stays as it was
    else if (m_entries.size() >= m_places)
        pick = victimIndex(nullptr);
    Id victim = 0;
    if (pick >= 0) {
        victim = m_entries.at(pick).id;
        m_entries.remove(pick);
    }
    m_entries.append(Entry{id, false, ++m_clock, group});
    return victim;
}

void ConnectionShare::setBusy(Id id, bool busy)
{
    const int at = indexOf(id);
    if (at < 0 || m_entries.at(at).busy == busy)
        return;
    m_entries[at].busy = busy;
    m_entries[at].since = ++m_clock;
}

void ConnectionShare::remove(Id id)
{
    const int at = indexOf(id);
    if (at >= 0)
        m_entries.remove(at);
}

namespace {

void onConnection(void *self, MHD_Connection *connection, void **, MHD_ConnectionNotificationCode code)
{
    auto *share = static_cast<MhdConnectionShare *>(self);
    if (code == MHD_CONNECTION_NOTIFY_STARTED)
        share->connectionStarted(connection);
    else
        share->connectionClosed(connection);
}

void onCompleted(void *self, MHD_Connection *connection, void **state, MHD_RequestTerminationCode)
{
    static_cast<MhdConnectionShare *>(self)->requestCompleted(connection, state);
}

ConnectionShare::Id idOf(MHD_Connection *connection)
{
    return reinterpret_cast<ConnectionShare::Id>(connection);
}

// The client's address as its share's group; empty for a loopback one, as
// every local process (and a reverse proxy's every client) comes from there.
QByteArray groupOf(MHD_Connection *connection)
{
    const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (!info || !info->client_addr)
        return QByteArray();
    const QHostAddress host(info->client_addr);
    bool mapped = false;
    const quint32 v4 = host.toIPv4Address(&mapped);
    if (host.isLoopback() || (mapped && (v4 >> 24) == 127))
        return QByteArray();
    return host.toString().toLatin1();
}

} // namespace

struct MhdConnectionShare::Options
{
    MHD_OptionItem items[4];
};

MhdConnectionShare::MhdConnectionShare(const Limits &limits)
    : m_share(limits.places, limits.perAddress)
    , m_headerDeadlineMs(qMax(0, limits.headerDeadlineMs))
    , m_options(std::make_unique<Options>())
{
    m_timer.start();
    // The daemon's limit leaves room for those already shut down but not
    // yet closed by its thread.
    const unsigned hardLimit = unsigned(2 * m_share.places() + 8);
    m_options->items[0] = {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&onConnection), this};
    m_options->items[1] = {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&onCompleted), this};
    m_options->items[2] = {MHD_OPTION_CONNECTION_LIMIT, intptr_t(hardLimit), nullptr};
    m_options->items[3] = {MHD_OPTION_END, 0, nullptr};
}

MhdConnectionShare::~MhdConnectionShare() = default;

const MHD_OptionItem *MhdConnectionShare::options() const
{
    return m_options->items;
}

void MhdConnectionShare::connectionStarted(MHD_Connection *connection)
{
    QVector<MHD_Connection *> closing;
    {
        QMutexLocker lock(&m_mutex);
        const qint64 nowMs = m_timer.elapsed();
        for (auto it = m_waitingSinceMs.begin(); it != m_waitingSinceMs.end();) {
            if (nowMs - it.value() <= m_headerDeadlineMs) {
                ++it;
                continue;
            }
            closing.append(it.key());
            m_share.remove(idOf(it.key()));
            it = m_waitingSinceMs.erase(it);
        }
        if (auto *victim = reinterpret_cast<MHD_Connection *>(m_share.admit(idOf(connection), groupOf(connection)))) {
            closing.append(victim);
            m_waitingSinceMs.remove(victim);
        }
        if (m_headerDeadlineMs > 0)
            m_waitingSinceMs.insert(connection, nowMs);
    }
    // Still open: the daemon tells of every close, and one closing here is
    // forgotten only here or there. All of this runs on the daemon's thread.
    for (MHD_Connection *gone : qAsConst(closing)) {
        const MHD_ConnectionInfo *info = MHD_get_connection_info(gone, MHD_CONNECTION_INFO_CONNECTION_FD);
        if (info)
            ::shutdown(info->connect_fd, SHUT_RDWR);
        ++m_evicted;
        if (gaveWay)
            gaveWay(gone);
    }
}

void MhdConnectionShare::connectionClosed(MHD_Connection *connection)
{
    QMutexLocker lock(&m_mutex);
    m_share.remove(idOf(connection));
    m_waitingSinceMs.remove(connection);
}

void MhdConnectionShare::requestStarted(MHD_Connection *connection)
{
    QMutexLocker lock(&m_mutex);
    m_share.setBusy(idOf(connection), true);
    m_waitingSinceMs.remove(connection);
}

void MhdConnectionShare::requestCompleted(MHD_Connection *connection, void **state)
{
    {
        QMutexLocker lock(&m_mutex);
        m_share.setBusy(idOf(connection), false);
        // One that gave way is closing: no deadline of its own any more.
        if (m_headerDeadlineMs > 0 && m_share.contains(idOf(connection)))
            m_waitingSinceMs.insert(connection, m_timer.elapsed());
    }
    if (requestEnded)
        requestEnded(connection, state);
}
