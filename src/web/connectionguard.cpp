#include "web/connectionguard.h"

#include <QHostAddress>
#include <microhttpd.h>
#include <sys/socket.h>

namespace {

QString addressOf(MHD_Connection *connection)
{
    const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (!info || !info->client_addr)
        return QString();
    return QHostAddress(info->client_addr).toString();
}

int socketOf(MHD_Connection *connection)
{
    const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    return info ? int(info->connect_fd) : -1;
}

} // namespace

ConnectionGuard::ConnectionGuard(const Limits &limits)
    : m_limits(limits)
{
    m_clock.start();
}

bool ConnectionGuard::isLoopback(const QString &address)
{
    const QHostAddress host(address);
    if (host.isLoopback())
        return true;
    bool mapped = false;
    const quint32 v4 = host.toIPv4Address(&mapped);
    return mapped && (v4 >> 24) == 127;
}

void ConnectionGuard::opened(MHD_Connection *connection)
{
    const qint64 now = m_clock.elapsed();
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (!it->evicted && it->state == State::Waiting && now - it->sinceMs > m_limits.headerTimeoutMs)
            evict(it.key(), *it);
    }
    Entry entry;
    entry.fd = socketOf(connection);
    entry.address = addressOf(connection);
    entry.sinceMs = entry.openedMs = now;
    m_entries.insert(connection, entry);
    ++m_open;

    int live = 0, fromAddress = 0;
    for (const Entry &other : qAsConst(m_entries)) {
        if (other.evicted)
            continue;
        ++live;
        fromAddress += other.address == entry.address ? 1 : 0;
    }
    bool admitted = true;
    if (m_limits.perAddress > 0 && !isLoopback(entry.address))
        admitted = makeRoom(fromAddress, m_limits.perAddress, entry.address, connection);
    if (admitted)
        admitted = makeRoom(live, m_limits.maxConnections, QString(), connection);
    if (!admitted)
        evict(connection, m_entries[connection]);
}

bool ConnectionGuard::makeRoom(int count, int limit, const QString &address, MHD_Connection *newcomer)
{
    if (count <= limit)
        return true;
    MHD_Connection *victim = oldest(State::Waiting, address, newcomer);
    if (!victim)
        victim = oldest(State::Stream, address, newcomer);
    if (!victim)
        return false;
    evict(victim, m_entries[victim]);
    return true;
}

MHD_Connection *ConnectionGuard::oldest(State state, const QString &address, MHD_Connection *except) const
{
    MHD_Connection *found = nullptr;
    qint64 foundMs = 0;
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
        if (it.key() == except || it->evicted || it->state != state)
            continue;
        if (!address.isEmpty() && it->address != address)
            continue;
        if (!found || it->openedMs < foundMs) {
            found = it.key();
            foundMs = it->openedMs;
        }
    }
    return found;
}

void ConnectionGuard::evict(MHD_Connection *connection, Entry &entry)
{
    entry.evicted = true;
    ++m_evicted;
    if (entry.state == State::Stream && endStream) {
        endStream(connection);
        return;
    }
    // The server's loop sees the end of the socket and closes the connection.
    if (entry.fd >= 0)
        ::shutdown(entry.fd, SHUT_RDWR);
}

void ConnectionGuard::closed(MHD_Connection *connection)
{
    if (m_entries.remove(connection) > 0)
        --m_open;
}

void ConnectionGuard::requestStarted(MHD_Connection *connection)
{
    auto it = m_entries.find(connection);
    if (it != m_entries.end() && it->state == State::Waiting) {
        it->state = State::Busy;
        it->sinceMs = m_clock.elapsed();
    }
}

void ConnectionGuard::requestEnded(MHD_Connection *connection)
{
    auto it = m_entries.find(connection);
    if (it != m_entries.end()) {
        it->state = State::Waiting;
        it->sinceMs = m_clock.elapsed();
    }
}

void ConnectionGuard::streamStarted(MHD_Connection *connection)
{
    auto it = m_entries.find(connection);
    if (it != m_entries.end())
        it->state = State::Stream;
}
