#include "listen_socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

namespace dorv::emu {

int OpenListener(const std::string& host, std::uint16_t port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int rc =
          ::getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &found);
      rc != 0)
    throw std::invalid_argument("cannot resolve " + host + ": " + ::gai_strerror(rc));
  int err = 0;
  for (addrinfo* ai = found; ai != nullptr; ai = ai->ai_next) {
    const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) {
      err = errno;
      continue;
    }
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(fd, ai->ai_addr, ai->ai_addrlen) == 0 && ::listen(fd, 8) == 0) {
      ::freeaddrinfo(found);
      return fd;
    }
    err = errno;
    ::close(fd);
  }
  ::freeaddrinfo(found);
  throw std::system_error(err, std::generic_category(), "listen on " + host + ":" + service);
}

std::uint16_t BoundPort(int fd) {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  if (addr.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port);
  return ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
}

}  // namespace dorv::emu
