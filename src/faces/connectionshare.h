#pragma once

#include <QMutex>
#include <QVector>
#include <QtGlobal>
#include <atomic>
#include <memory>

struct MHD_Connection;
struct MHD_OptionItem;

// Who gives way when a server has as many connections as it takes: never
// the newcomer, but the connection that has gone longest without a request
// in progress (one idle since it connected or since its last answer, or one
// whose request has not arrived whole), and only when every connection has
// one under way, the connection whose request began first.
//
// Every local process shares 127.0.0.1, so a limit per peer address cannot
// stop one process from taking every place; refusing newcomers at the limit
// would let it lock everyone out for as long as it holds its connections
// open. With this rule a process holding connections open holds only places
// that nobody else needs: a client that sends its request as soon as it has
// connected is answered, however many connections the other one opens.
//
// The caller closes what admit() hands back. Not thread-safe: one thread
// (or the caller's lock).
class ConnectionShare
{
public:
    using Id = quintptr;

    explicit ConnectionShare(int places);

    // `id` has connected. Returns the connection to close to make room for
    // it (already forgotten here), or 0 when there was room.
    Id admit(Id id);
    // A request of `id` arrived whole and is being answered (true), or its
    // answer has gone out (false: its wait starts now). Unknown ids are
    // ignored (a connection closed meanwhile).
    void setBusy(Id id, bool busy);
    void remove(Id id);

    int size() const { return m_entries.size(); }
    int places() const { return m_places; }

private:
    struct Entry
    {
        Id id;
        bool busy;
        quint64 since; // when its wait (or its request) began, in admissions and changes
    };
    int indexOf(Id id) const;

    int m_places;
    quint64 m_clock = 0;
    QVector<Entry> m_entries; // tens of entries: linear scans
};

// The same rule for a libmicrohttpd daemon with one internal polling
// thread. Pass its options() to MHD_start_daemon as MHD_OPTION_ARRAY (they
// take MHD_OPTION_NOTIFY_CONNECTION, MHD_OPTION_NOTIFY_COMPLETED and
// MHD_OPTION_CONNECTION_LIMIT), and call requestStarted() from the access
// handler's first call for each request. A connection that gives way is
// shut down at the socket; the daemon then closes it as a connection the
// client ended. The daemon's own limit is set above `places`, so that a
// newcomer is never refused while the ones giving way are still closing.
class MhdConnectionShare
{
public:
    explicit MhdConnectionShare(int places);
    ~MhdConnectionShare();
    MhdConnectionShare(const MhdConnectionShare &) = delete;
    MhdConnectionShare &operator=(const MhdConnectionShare &) = delete;

    const MHD_OptionItem *options() const;
    void requestStarted(MHD_Connection *connection);
    // Connections closed to make room so far. Any thread.
    int evicted() const { return m_evicted.load(); }

    // The daemon's notifications (libmicrohttpd's callbacks call these).
    void connectionStarted(MHD_Connection *connection);
    void connectionClosed(MHD_Connection *connection);
    void requestCompleted(MHD_Connection *connection);

private:
    QMutex m_mutex;
    ConnectionShare m_share;
    std::atomic<int> m_evicted{0};
    struct Options;
    std::unique_ptr<Options> m_options;
};
