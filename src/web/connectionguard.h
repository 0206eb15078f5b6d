#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <atomic>
#include <functional>

struct MHD_Connection;

// Keeps a libmicrohttpd server's connections shared among its clients, so
// that one client holding many idle, half-sent or slow connections cannot
// lock the others out. Every local process comes from 127.0.0.1, so no
// count per address tells them apart; instead a new connection that finds
// the server full pushes out the oldest connection with no request under
// way (one still sending its header, or idle between requests), else the
// oldest stream (an answer that lasts, such as an event stream), else it
// is itself refused. A connection whose request header has not arrived
// whole within the header deadline is pushed out when the next one opens.
// Another address than the loopback one has a share of its own as well.
//
// Network time is real time, whatever the measuring clock does. Not tied
// to one server: a face with its own libmicrohttpd daemon can use it too.
// Server thread only (one polling thread), except the counts.
class ConnectionGuard
{
public:
    struct Limits
    {
        int maxConnections = 48;
        int perAddress = 16;     // 0: no share per address
        int headerTimeoutMs = 5000;
    };

    explicit ConnectionGuard(const Limits &limits);

    // libmicrohttpd's notifications (MHD_OPTION_NOTIFY_CONNECTION) and the
    // bounds of each request: its first call of the access handler, and
    // MHD_OPTION_NOTIFY_COMPLETED.
    void opened(MHD_Connection *connection);
    void closed(MHD_Connection *connection);
    void requestStarted(MHD_Connection *connection);
    void requestEnded(MHD_Connection *connection);
    // The request's answer lasts until the client leaves (an event stream).
    void streamStarted(MHD_Connection *connection);

    // Ends a stream pushed out to make room; the owner of the stream sets
    // it (a suspended connection does not see its socket shut down).
    std::function<void(MHD_Connection *)> endStream;

    // Connections open now, and pushed out or refused so far. Any thread.
    int openCount() const { return m_open.load(); }
    int evictedCount() const { return m_evicted.load(); }

    // Whether an address (as libmicrohttpd gives it) is a loopback one.
    static bool isLoopback(const QString &address);

private:
    enum class State { Waiting, Busy, Stream };
    struct Entry
    {
        int fd = -1;
        QString address;
        State state = State::Waiting;
        qint64 sinceMs = 0;  // when its present state began
        qint64 openedMs = 0; // when it opened: the order of age
        bool evicted = false;
    };

    void evict(MHD_Connection *connection, Entry &entry);
    // The oldest live connection (not `except`, and of `address` unless
    // empty) in `state`; null if none.
    MHD_Connection *oldest(State state, const QString &address, MHD_Connection *except) const;
    // Makes room when `count` live connections pass `limit`: false when
    // only the newcomer could go.
    bool makeRoom(int count, int limit, const QString &address, MHD_Connection *newcomer);

    Limits m_limits;
    QElapsedTimer m_clock;
    QHash<MHD_Connection *, Entry> m_entries;
    std::atomic<int> m_open{0};
    std::atomic<int> m_evicted{0};
};
