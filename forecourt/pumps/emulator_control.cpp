#include "emulator_control.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace forecourt {
namespace {

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

[[noreturn]] void Fail(const Endpoint& e, const std::string& why) {
    throw std::runtime_error("emulator control " + e.host + ":" + std::to_string(e.port) + ": " + why);
}

bool WaitFor(int fd, short events, std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, events, 0};
    return ::poll(&p, 1, static_cast<int>(left.count())) > 0;
}

}  // namespace

std::string EmulatorCommand(const Endpoint& control, const std::string& command, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(control.host.c_str(), std::to_string(control.port).c_str(), &hints, &found) != 0 || !found)
        Fail(control, "unknown host");
    Fd s;
    s.fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int rc = s.fd < 0 ? -1 : ::connect(s.fd, found->ai_addr, found->ai_addrlen);
    const int err = errno;
    ::freeaddrinfo(found);
    if (rc != 0) Fail(control, std::strerror(err));
    const std::string line = command + "\n";
    if (::send(s.fd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) Fail(control, "cannot send");
    std::string answer;
    char buf[256];
    while (answer.find('\n') == std::string::npos) {
        if (!WaitFor(s.fd, POLLIN, deadline)) Fail(control, "no answer");
        const ssize_t n = ::recv(s.fd, buf, sizeof buf, 0);
        if (n <= 0) Fail(control, "closed without an answer");
        answer.append(buf, static_cast<std::size_t>(n));
        if (answer.size() > 4096) Fail(control, "answer too long");
    }
    answer.resize(answer.find('\n'));
    return answer;
}

}  // namespace forecourt
