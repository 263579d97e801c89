#include "links/tcp_host_link.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

namespace dorv::links {

namespace {

using Clock = std::chrono::steady_clock;

// Connects a non-blocking socket to `address` by `deadline`. Returns 0 or errno.
int ConnectBy(int fd, const addrinfo& address, Clock::time_point deadline) {
    if (::connect(fd, address.ai_addr, address.ai_addrlen) == 0) return 0;
    if (errno != EINPROGRESS && errno != EINTR) return errno;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return ETIMEDOUT;
        pollfd p{fd, POLLOUT, 0};
        const int n = ::poll(&p, 1, static_cast<int>(left.count()));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return ETIMEDOUT;
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return errno;
        return error;
    }
}

}  // namespace

bool TcpHostLink::AssignLine(std::uint8_t line, const std::string& host, std::uint16_t port) {
    if (line >= kLineCount) return false;
    auto hold = HoldLine(line);
    endpoints_[line] = {host, port};
    CloseLine(line);
    return true;
}

void TcpHostLink::SetConnectTimeout(std::chrono::milliseconds timeout) {
    connectTimeoutMs_ = static_cast<int>(std::clamp<long long>(timeout.count(), 1, 600000));
}

int TcpHostLink::OpenStream(std::uint8_t line, ByteStream& stream) {
    const Endpoint& e = endpoints_[line];
    if (e.host.empty()) return ENXIO;
    const auto deadline = Clock::now() + std::chrono::milliseconds(connectTimeoutMs_);

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(e.port);
    if (::getaddrinfo(e.host.c_str(), port.c_str(), &hints, &found) != 0) return EHOSTUNREACH;
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, &::freeaddrinfo);

    int err = EHOSTUNREACH;
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            err = errno;
            continue;
        }
        err = ConnectBy(fd, *a, deadline);
        if (err == 0) {
            // Requests are small and each waits for its reply: send them at once.
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
            stream = ByteStream(fd, ByteStream::Kind::Socket);
            return 0;
        }
        ::close(fd);
        if (err == ETIMEDOUT) break;
    }
    return err;
}

int TcpHostLink::ApplySettings(ByteStream&, const LineSettings& settings) { return CheckLineSettings(settings); }

}  // namespace dorv::links
