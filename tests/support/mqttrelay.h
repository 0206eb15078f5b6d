#pragma once

#include <atomic>
#include <thread>

// A TCP forwarder on a free port of 127.0.0.1 to a port there (the broker),
// on a thread of its own, so that a test can cut the link between a program
// and its broker while messages flow: cut() closes every connection at once,
// and while it is cut new connections are closed as they come.
class MqttRelay
{
public:
    explicit MqttRelay(int targetPort);
    ~MqttRelay();

    // The port to connect to; 0 when the relay could not listen.
    int port() const { return m_port; }
    // Closes every connection and refuses new ones until setCut(false).
    void setCut(bool cut) { m_cut = cut; }
    // Connections accepted and forwarded so far, and closed at once while cut.
    int connections() const { return m_connections; }
    int refused() const { return m_refused; }
    // Connections open now.
    int open() const { return m_open; }

private:
    void run();

    int m_targetPort;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_cut{false};
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::atomic<int> m_refused{0};
    std::atomic<int> m_open{0};
    std::thread m_thread;
};
