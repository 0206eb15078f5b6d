#include "support/mqttrelay.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <algorithm>
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

// Passes on what `from` has; false when either side has ended.
bool forward(int from, int to)
{
    char buffer[65536];
    const ssize_t n = ::read(from, buffer, sizeof buffer);
    for (ssize_t sent = 0; sent < n;) {
        const ssize_t w = ::write(to, buffer + sent, size_t(n - sent));
        if (w <= 0)
            return false;
        sent += w;
    }
    return n > 0;
}

} // namespace

bool MqttRelay::forwardPackets(int from, int to)
{
    char buffer[65536];
    const ssize_t n = ::read(from, buffer, sizeof buffer);
    if (n <= 0)
        return false;
    std::string &data = m_partial[from];
    data.append(buffer, size_t(n));
    std::string out;
    size_t at = 0;
    for (;;) {
        // Fixed header: the type byte, then the remaining length in up to four 7-bit groups.
        size_t length = 0, pos = at + 1;
        int shift = 0;
        bool whole = false;
        while (pos < data.size() && shift <= 21) {
            const unsigned char byte = static_cast<unsigned char>(data[pos++]);
            length |= size_t(byte & 0x7F) << shift;
            shift += 7;
            if (!(byte & 0x80)) {
                whole = true;
                break;
            }
        }
        if (!whole || data.size() - pos < length)
            break;
        const bool puback = (static_cast<unsigned char>(data[at]) >> 4) == 4;
        if (puback && m_dropAcks) {
            ++m_acksDropped;
        } else if (puback && m_paceCount > 0) {
            const auto now = std::chrono::steady_clock::now();
            if (m_held.empty() && m_nextRelease < now)
                m_nextRelease = now + std::chrono::milliseconds(m_paceMs);
            m_held.emplace_back(to, data.substr(at, pos + length - at));
        } else {
            out.append(data, at, pos + length - at);
        }
        at = pos + length;
    }
    data.erase(0, at);
    for (size_t sent = 0; sent < out.size();) {
        const ssize_t w = ::write(to, out.data() + sent, out.size() - sent);
        if (w <= 0)
            return false;
        sent += size_t(w);
    }
    return true;
}

void MqttRelay::releaseAcks()
{
    const auto now = std::chrono::steady_clock::now();
    if (m_held.empty() || now < m_nextRelease)
        return;
    for (int n = 0; n < m_paceCount && !m_held.empty(); ++n) {
        const std::pair<int, std::string> ack = m_held.front();
        m_held.pop_front();
        if (::send(ack.first, ack.second.data(), ack.second.size(), MSG_NOSIGNAL) != ssize_t(ack.second.size()))
            break; // its connection has ended
    }
    m_nextRelease = now + std::chrono::milliseconds(m_paceMs);
}

MqttRelay::MqttRelay(int targetPort)
    : m_targetPort(targetPort)
{
    m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 && ::listen(m_listener, 8) == 0
        && ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) == 0) {
        m_port = ntohs(address.sin_port);
        m_thread = std::thread(&MqttRelay::run, this);
    }
}

MqttRelay::~MqttRelay()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    ::close(m_listener);
}

void MqttRelay::run()
{
    std::vector<int> ends; // pairs: the program's side, then the broker's
    while (!m_stop) {
        std::vector<pollfd> fds;
        for (int fd : ends)
            fds.push_back({fd, POLLIN, 0});
        fds.push_back({m_listener, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), 20) > 0 && (fds.back().revents & POLLIN)) {
            const int client = ::accept(m_listener, nullptr, nullptr);
            const int broker = ::socket(AF_INET, SOCK_STREAM, 0);
            const sockaddr_in target = loopback(m_targetPort);
            if (m_cut || ::connect(broker, reinterpret_cast<const sockaddr *>(&target), sizeof target) != 0) {
                ::close(client);
                ::close(broker);
            } else {
                ends.insert(ends.end(), {client, broker});
            }
        }
        std::vector<int> open;
        for (size_t i = 0; i + 1 < fds.size(); i += 2) {
            const auto passes = [&](size_t k) {
                if (!(fds[k].revents & (POLLIN | POLLHUP | POLLERR)))
                    return true;
                return k % 2 ? forwardPackets(ends[k], ends[k ^ 1]) : forward(ends[k], ends[k ^ 1]);
            };
            if (!m_cut && passes(i) && passes(i + 1)) {
                open.insert(open.end(), {ends[i], ends[i + 1]});
            } else {
                m_partial.erase(ends[i + 1]);
                ::close(ends[i]);
                ::close(ends[i + 1]);
            }
        }
        open.insert(open.end(), ends.begin() + (fds.size() - 1), ends.end()); // accepted in this pass
        ends.swap(open);
        for (auto it = m_held.begin(); it != m_held.end();)
            it = std::find(ends.begin(), ends.end(), it->first) == ends.end() ? m_held.erase(it) : it + 1;
        releaseAcks();
        m_open = int(ends.size() / 2);
    }
    for (int fd : ends)
        ::close(fd);
}
