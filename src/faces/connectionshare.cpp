#include "faces/connectionshare.h"

#include <microhttpd.h>
#include <sys/socket.h>

ConnectionShare::ConnectionShare(int places)
    : m_places(qMax(1, places))
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

ConnectionShare::Id ConnectionShare::admit(Id id)
{
    Id victim = 0;
    if (m_entries.size() >= m_places) {
        int pick = -1;
        for (int i = 0; i < m_entries.size(); ++i) {
            const Entry &entry = m_entries.at(i);
            if (pick < 0)
                pick = i;
            const Entry &chosen = m_entries.at(pick);
            // A connection without a request under way goes before any with one.
            if (entry.busy != chosen.busy ? !entry.busy : entry.since < chosen.since)
                pick = i;
        }
        victim = m_entries.at(pick).id;
        m_entries.remove(pick);
    }
    m_entries.append(Entry{id, false, ++m_clock});
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

void onCompleted(void *self, MHD_Connection *connection, void **, MHD_RequestTerminationCode)
{
    static_cast<MhdConnectionShare *>(self)->requestCompleted(connection);
}

ConnectionShare::Id idOf(MHD_Connection *connection)
{
    return reinterpret_cast<ConnectionShare::Id>(connection);
}

} // namespace

struct MhdConnectionShare::Options
{
    MHD_OptionItem items[4];
};

MhdConnectionShare::MhdConnectionShare(int places)
    : m_share(places)
    , m_options(std::make_unique<Options>())
{
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
    QMutexLocker lock(&m_mutex);
    auto *victim = reinterpret_cast<MHD_Connection *>(m_share.admit(idOf(connection)));
    if (!victim)
        return;
    // Still open: the daemon tells of every close, and a victim is forgotten
    // only here or there.
    const MHD_ConnectionInfo *info = MHD_get_connection_info(victim, MHD_CONNECTION_INFO_CONNECTION_FD);
    if (info)
        ::shutdown(info->connect_fd, SHUT_RDWR);
    ++m_evicted;
}

void MhdConnectionShare::connectionClosed(MHD_Connection *connection)
{
    QMutexLocker lock(&m_mutex);
    m_share.remove(idOf(connection));
}

void MhdConnectionShare::requestStarted(MHD_Connection *connection)
{
    QMutexLocker lock(&m_mutex);
    m_share.setBusy(idOf(connection), true);
}

void MhdConnectionShare::requestCompleted(MHD_Connection *connection)
{
    QMutexLocker lock(&m_mutex);
    m_share.setBusy(idOf(connection), false);
}
