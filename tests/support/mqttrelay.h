#pragma once

#include <atomic>
#include <thread>

// A TCP forwarder from a free port of 127.0.0.1 to another (the broker), on
// a thread of its own, so that a test can cut the link while messages flow:
// while cut, every connection is closed at once, new ones too.
class MqttRelay
{
public:
    explicit MqttRelay(int targetPort);
    ~MqttRelay();

    int port() const { return m_port; } // 0 when it could not listen
    void setCut(bool cut) { m_cut = cut; }
    int open() const { return m_open; } // connections forwarded now

private:
    void run();

    int m_targetPort;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_cut{false}, m_stop{false};
    std::atomic<int> m_open{0};
    std::thread m_thread;
};
