#pragma once
// Plain blocking sockets for the far end of a test: a listener on a port
// the system picks, and bounded reads and writes.

#include <arpa/inet.h>
#include <chrono>
#include <cstdint>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace dz::test {

class RawFd {
public:
    RawFd() = default;
    explicit RawFd(int fd) : fd_(fd) {}
    RawFd(RawFd &&o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    RawFd &operator=(RawFd &&o) noexcept
    {
        if (this != &o) {
            Close();
            fd_ = o.fd_;
            o.fd_ = -1;
        }
        return *this;
    }
    ~RawFd() { Close(); }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void Close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

    // Writes all bytes; false on failure.
    bool Send(const std::string &bytes) const
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    // Reads exactly n bytes within the time limit, or what came before the
    // peer closed or the time ran out.
    std::string Recv(std::size_t n, int timeoutMs = 5000) const
    {
        std::string out;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        char buf[65536];
        while (out.size() < n) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0)
                break;
            pollfd p {fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0)
                break;
            const std::size_t want = std::min(sizeof buf, n - out.size());
            const ssize_t got = ::recv(fd_, buf, want, 0);
            if (got <= 0)
                break;
            out.append(buf, static_cast<std::size_t>(got));
        }
        return out;
    }

    // Everything until the peer closes (bounded by time and size).
    std::string RecvUntilClose(int timeoutMs = 5000, std::size_t limit = 1 << 20) const
    {
        return Recv(limit, timeoutMs);
    }

    // True when the peer closes (or resets) within the time limit.
    bool WaitClosed(int timeoutMs = 5000) const
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        char buf[4096];
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0)
                return false;
            pollfd p {fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0)
                return false;
            if (::recv(fd_, buf, sizeof buf, 0) <= 0)
                return true;
        }
    }

private:
    int fd_ = -1;
};

// A loopback listener on a port the system picks.
class RawListener {
public:
    explicit RawListener(int backlog = 8)
    {
        fd_ = RawFd(::socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_.get(), reinterpret_cast<sockaddr *>(&a), sizeof a);
        ::listen(fd_.get(), backlog);
        socklen_t len = sizeof a;
        ::getsockname(fd_.get(), reinterpret_cast<sockaddr *>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    int port() const { return port_; }
    int fd() const { return fd_.get(); }

    // The next connection, or an invalid fd after the time limit.
    RawFd Accept(int timeoutMs = 5000) const
    {
        pollfd p {fd_.get(), POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return RawFd();
        return RawFd(::accept(fd_.get(), nullptr, nullptr));
    }

private:
    RawFd fd_;
    int port_ = 0;
};

// A blocking client connection to 127.0.0.1:port.
inline RawFd RawConnect(int port)
{
    RawFd fd(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd.get(), reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
        return RawFd();
    return fd;
}

// The same from another loopback address (127.0.0.2, say): another host, as
// far as the listener can tell.
inline RawFd RawConnectFrom(int port, const char *source)
{
    RawFd fd(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in from {};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = ::inet_addr(source);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd.get(), reinterpret_cast<sockaddr *>(&from), sizeof from) != 0 ||
        ::connect(fd.get(), reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
        return RawFd();
    return fd;
}

// Fills the accept queue of a listener that never accepts (backlog 0) with
// connections that are never finished, so the next connection attempt gets
// no answer.
inline std::vector<RawFd> FillAcceptQueue(const RawListener &listener)
{
    std::vector<RawFd> fillers;
    for (int i = 0; i < 8; ++i) {
        RawFd f(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(listener.port()));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(f.get(), reinterpret_cast<sockaddr *>(&a), sizeof a);
        fillers.push_back(std::move(f));
    }
    return fillers;
}

// A port on loopback that nothing listens on (bound, then released).
inline int UnusedPort()
{
    RawListener l;
    return l.port();
}

} // namespace dz::test
