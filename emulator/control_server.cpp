#include "control_server.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "listen_socket.h"
#include "script.h"

namespace dorv::emu {
namespace {

constexpr std::size_t kLongestCommand = 1024;

std::optional<int> Address(const std::string& text) {
  const auto list = ParseAddressList(text);
  if (!list || list->size() != 1) return std::nullopt;
  return list->front();
}

}  // namespace

std::string ControlAnswer(Line& line, const std::string& command) {
  const auto space = command.find(' ');
  const std::string verb = command.substr(0, space);
  if (verb == "totals" || verb == "state") {
    const auto address = Address(space == std::string::npos ? "" : command.substr(space + 1));
    const auto state = address ? line.State(*address) : std::nullopt;
    if (!state) return "error no such controller";
    if (verb == "totals")
      return "ok " + std::to_string(state->totals.volume_cl) + " " +
             std::to_string(state->totals.money);
    return std::string("ok ") + state->status + " " + (state->lifted ? "1" : "0");
  }
  try {
    if (!Apply(line, ParseCommand(command))) return "error no such controller, or refused";
  } catch (const ScriptError& e) {
    return std::string("error ") + e.what();
  }
  return "ok";
}

ControlServer::ControlServer(Line& line, const std::string& host, std::uint16_t port)
    : line_(line) {
  listen_fd_ = OpenListener(host, port);
  port_ = BoundPort(listen_fd_);
  thread_ = std::jthread([this](std::stop_token stop) { Serve(stop); });
}

ControlServer::~ControlServer() {
  thread_.request_stop();
  if (thread_.joinable()) thread_.join();
  ::close(listen_fd_);
}

void ControlServer::Serve(std::stop_token stop) {
  while (!stop.stop_requested()) {
    pollfd listening{listen_fd_, POLLIN, 0};
    if (::poll(&listening, 1, kStopPollMs) <= 0) continue;
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::string pending;
    char buf[256];
    while (!stop.stop_requested()) {
      pollfd client{fd, POLLIN, 0};
      if (::poll(&client, 1, kStopPollMs) <= 0) continue;
      const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      pending.append(buf, static_cast<std::size_t>(n));
      std::size_t end;
      while ((end = pending.find('\n')) != std::string::npos) {
        std::string command = pending.substr(0, end);
        pending.erase(0, end + 1);
        if (!command.empty() && command.back() == '\r') command.pop_back();
        const std::string answer = ControlAnswer(line_, command) + "\n";
        ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
      }
      if (pending.size() > kLongestCommand) break;
    }
    ::close(fd);
  }
}

}  // namespace dorv::emu
