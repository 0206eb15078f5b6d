#include "support/mqttrelay.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

sockaddr_in loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(uint16_t(port));
    return address;
}

} // namespace

MqttRelay::MqttRelay(int targetPort)
    : m_targetPort(targetPort)
{
    m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(m_listener, 8) != 0
        || ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return;
    m_port = ntohs(address.sin_port);
    m_thread = std::thread(&MqttRelay::run, this);
}

MqttRelay::~MqttRelay()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_listener >= 0)
        ::close(m_listener);
}

void MqttRelay::run()
{
    // Pairs of sockets: even the program's side, odd the broker's.
    std::vector<int> ends;
    auto closeAll = [&] {
        for (int fd : ends)
            ::close(fd);
        ends.clear();
        m_open = 0;
    };
    while (!m_stop) {
        if (m_cut)
            closeAll();
        std::vector<pollfd> fds{{m_listener, POLLIN, 0}};
        for (int fd : ends)
            fds.push_back({fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), 20) <= 0)
            continue;
        if (fds[0].revents & POLLIN) {
            const int client = ::accept(m_listener, nullptr, nullptr);
            const int broker = ::socket(AF_INET, SOCK_STREAM, 0);
            const sockaddr_in target = loopback(m_targetPort);
            if (client >= 0 && broker >= 0 && !m_cut
                && ::connect(broker, reinterpret_cast<const sockaddr *>(&target), sizeof target) == 0) {
                ends.push_back(client);
                ends.push_back(broker);
                ++m_connections;
            } else {
                m_refused += m_cut ? 1 : 0;
                if (client >= 0)
                    ::close(client);
                if (broker >= 0)
                    ::close(broker);
            }
        }
        char buffer[65536];
        for (size_t i = 1; i < fds.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const size_t at = i - 1;
            const int peer = ends[at ^ 1];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            bool ok = n > 0;
            for (ssize_t sent = 0; ok && sent < n;) {
                const ssize_t w = ::write(peer, buffer + sent, size_t(n - sent));
                ok = w > 0;
                sent += ok ? w : 0;
            }
            if (!ok) {
                // One side ended: the pair goes (the rest of this pass skips it).
                ::close(ends[at & ~size_t(1)]);
                ::close(ends[at | 1]);
                ends[at & ~size_t(1)] = ends[at | 1] = -1;
            }
        }
        std::vector<int> open;
        for (int fd : ends)
            if (fd >= 0)
                open.push_back(fd);
        ends.swap(open);
        m_open = int(ends.size() / 2);
    }
    closeAll();
}
