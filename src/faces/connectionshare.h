#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QMutex>
#include <QVector>
#include <QtGlobal>
#include <atomic>
#include <functional>
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
// Optionally a group (one remote address) holds at most `perGroup` places:
// its newcomer beyond them takes the place of one of its own, chosen by the
// same rule, so that one remote machine cannot take every place from the
// others. The empty group (every local process) has no such share.
//
// The caller closes what admit() hands back. Not thread-safe: one thread
// (or the caller's lock).
class ConnectionShare
{
public:
    using Id = quintptr;

    explicit ConnectionShare(int places, int perGroup = 0);

    // `id` of `group` has connected. Returns the connection to close to make
    // room for it (already forgotten here), or 0 when there was room.
    Id admit(Id id, const QByteArray &group = QByteArray());
    // A request of `id` arrived whole and is being answered (true), or its
    // answer has gone out (false: its wait starts now). Unknown ids are
    // ignored (a connection closed meanwhile).
    void setBusy(Id id, bool busy);
    void remove(Id id);
    bool contains(Id id) const { return indexOf(id) >= 0; }

    int size() const { return m_entries.size(); }
    int places() const { return m_places; }

private:
    struct Entry
    {
        Id id;
        bool busy;
        quint64 since; // when its wait (or its request) began, in admissions and changes
        QByteArray group;
    };
    int indexOf(Id id) const;
    // The entry that gives way, of `group` only unless null; -1 if none.
    int victimIndex(const QByteArray *group) const;

    int m_places;
    int m_perGroup;
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
// An answer that lasts (an event stream) is a request under way for as long
// as it is sent, so when every place has one, the oldest stream gives way.
class MhdConnectionShare
{
public:
    struct Limits
    {
        int places = 16;
        // From one address other than a loopback one, at most this many (0: no such share).
        int perAddress = 0;
        // A connection whose request has not arrived whole this long (real
        // time: network time, whatever the measuring clock does) after it
        // connected or its last answer went out is closed when the next one
        // connects (0: never).
        int headerDeadlineMs = 0;
    };

    explicit MhdConnectionShare(int places)
        : MhdConnectionShare(Limits{places})
    {
    }
    explicit MhdConnectionShare(const Limits &limits);
    ~MhdConnectionShare();
    MhdConnectionShare(const MhdConnectionShare &) = delete;
    MhdConnectionShare &operator=(const MhdConnectionShare &) = delete;

    const MHD_OptionItem *options() const;
    void requestStarted(MHD_Connection *connection);
    // Connections closed to make room or past their deadline so far. Any thread.
    int evicted() const { return m_evicted.load(); }

    // Set before the daemon starts; called on its thread, without the
    // share's lock. For each request that ended, after the share has noted
    // it, with the request's state pointer (whatever the owner keeps there
    // is its to free).
    std::function<void(MHD_Connection *, void **state)> requestEnded;
    // For each connection closed by the share, after its socket is shut
    // down. The daemon does not watch a suspended connection's socket: one
    // the owner has suspended must be resumed here to be closed.
    std::function<void(MHD_Connection *)> gaveWay;

    // The daemon's notifications (libmicrohttpd's callbacks call these).
    void connectionStarted(MHD_Connection *connection);
    void connectionClosed(MHD_Connection *connection);
    void requestCompleted(MHD_Connection *connection, void **state);

private:
    QMutex m_mutex;
    ConnectionShare m_share;
    int m_headerDeadlineMs;
    QElapsedTimer m_timer;
    QHash<MHD_Connection *, qint64> m_waitingSinceMs; // with a deadline only
    std::atomic<int> m_evicted{0};
    struct Options;
    std::unique_ptr<Options> m_options;
};
