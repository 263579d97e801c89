#include "tcp_server.h"

#include "listen_socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <stdexcept>
#include <system_error>

namespace dorv::emu {

TcpServer::Client::Client(int socket, Line& line, LinkTiming timing, ExchangeObserver observer)
    : fd(socket), session(line, timing, std::move(observer)) {
  thread = std::jthread([this](std::stop_token stop) { Serve(*this, stop); });
}

TcpServer::Client::~Client() {
  thread.request_stop();
  if (thread.joinable()) thread.join();
  ::close(fd);
}

TcpServer::TcpServer(Line& line, LinkTiming timing, const std::string& host, std::uint16_t port,
                     ExchangeObserver observer)
    : line_(line), timing_(timing), observer_(std::move(observer)) {
  listen_fd_ = OpenListener(host, port);
  port_ = BoundPort(listen_fd_);
  accept_thread_ = std::jthread([this](std::stop_token stop) { AcceptLoop(stop); });
}

TcpServer::~TcpServer() {
  accept_thread_.request_stop();
  if (accept_thread_.joinable()) accept_thread_.join();
  ::close(listen_fd_);
}

void TcpServer::AcceptLoop(std::stop_token stop) {
  while (!stop.stop_requested()) {
    clients_.remove_if([](const std::unique_ptr<Client>& c) { return c->done.load(); });
    pollfd pfd{listen_fd_, POLLIN, 0};
    if (::poll(&pfd, 1, kStopPollMs) <= 0) continue;
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    const int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);  // replies are a few bytes each
    clients_.push_back(std::make_unique<Client>(fd, line_, timing_, observer_));
  }
  clients_.clear();
}

void TcpServer::Serve(Client& client, std::stop_token stop) {
  const ByteSink sink = [&client](std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
      const ssize_t n = ::send(client.fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return true;
  };
  std::array<std::uint8_t, 512> buffer{};
  while (!stop.stop_requested()) {
    pollfd pfd{client.fd, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, kStopPollMs);
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    const ssize_t n = ::recv(client.fd, buffer.data(), buffer.size(), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the client hung up
    if (!client.session.OnReceived(std::span(buffer.data(), static_cast<std::size_t>(n)), sink,
                                   stop))
      break;
  }
  client.done = true;
}

}  // namespace dorv::emu
