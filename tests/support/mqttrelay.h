#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <string>
#include <thread>

// A TCP forwarder from a free port of 127.0.0.1 to another (the broker), on
// a thread of its own, so that a test can cut the link while messages flow:
// while cut, every connection is closed at once, new ones too. It can also
// hold back the broker's acknowledgements (PUBACK) and pass on all else, or
// pass them on late, as a slow broker does.
class MqttRelay
{
public:
    explicit MqttRelay(int targetPort);
    ~MqttRelay();

    int port() const { return m_port; } // 0 when it could not listen
    void setCut(bool cut) { m_cut = cut; }
    void setDropAcks(bool drop) { m_dropAcks = drop; }
    // The broker's acknowledgements leave `count` at a time, each group
    // `spacingMs` (real time) after the one before, or after its first
    // arrived when none was waiting; count 0: at once.
    void setAckPacing(int count, int spacingMs)
    {
        m_paceMs = spacingMs;
        m_paceCount = count;
    }
    int acksDropped() const { return m_acksDropped; }
    int open() const { return m_open; } // connections forwarded now

private:
    void run();
    // Passes on the whole MQTT packets the broker's side `from` has sent so
    // far; false when either side has ended.
    bool forwardPackets(int from, int to);
    // Passes on the held acknowledgements that are due.
    void releaseAcks();

    int m_targetPort;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_cut{false}, m_stop{false}, m_dropAcks{false};
    std::atomic<int> m_open{0}, m_acksDropped{0}, m_paceCount{0}, m_paceMs{0};
    // Relay thread: the acknowledgements held back, each with the socket it goes to.
    std::deque<std::pair<int, std::string>> m_held;
    std::chrono::steady_clock::time_point m_nextRelease;
    std::map<int, std::string> m_partial; // by the broker's socket: a packet not yet whole (relay thread)
    std::thread m_thread;
};
