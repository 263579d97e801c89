#include "pty_server.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace dorv::emu {

namespace {

// How long to wait before looking again while no host holds the slave open.
constexpr auto kNoHostRetry = std::chrono::milliseconds(20);

[[noreturn]] void ThrowErrno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

// Raw mode for the slave: no echo, no line editing, no CR/LF translation;
// every protocol byte passes unchanged. The setting stays with the pair
// while the master is open, across the host's opens and closes.
void MakeSlaveRaw(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
  if (fd < 0) ThrowErrno("open pty slave");
  termios tio{};
  if (::tcgetattr(fd, &tio) == 0) {
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
  }
  ::close(fd);
}

}  // namespace

PtyServer::PtyServer(Line& line, LinkTiming timing, ExchangeObserver observer)
    : session_(line, timing, std::move(observer)) {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) ThrowErrno("posix_openpt");
  std::array<char, 128> name{};
  if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
      ::ptsname_r(master_, name.data(), name.size()) != 0) {
    const int err = errno;
    ::close(master_);
    throw std::system_error(err, std::generic_category(), "pty setup");
  }
  slave_path_ = name.data();
  try {
    MakeSlaveRaw(slave_path_);
  } catch (...) {
    ::close(master_);
    throw;
  }
  thread_ = std::jthread([this](std::stop_token stop) { Serve(stop); });
}

PtyServer::~PtyServer() {
  thread_.request_stop();
  if (thread_.joinable()) thread_.join();
  ::close(master_);
}

void PtyServer::Serve(std::stop_token stop) {
  const ByteSink sink = [this](std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
      const ssize_t n = ::write(master_, bytes.data(), bytes.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;  // EIO: the host closed the slave
      bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return true;
  };
  std::array<std::uint8_t, 512> buffer{};
  while (!stop.stop_requested()) {
    pollfd pfd{master_, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, kStopPollMs);
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    if (pfd.revents & POLLIN) {
      const ssize_t n = ::read(master_, buffer.data(), buffer.size());
      if (n > 0) {
        if (!session_.OnReceived(std::span(buffer.data(), static_cast<std::size_t>(n)), sink, stop))
          break;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
    }
    // No slave open (POLLHUP or EIO): the host is between opens. Whatever
    // it had half sent is gone; look again shortly.
    session_.Reset();
    if (!SleepUntil(stop, std::chrono::steady_clock::now() + kNoHostRetry)) break;
  }
}

}  // namespace dorv::emu
