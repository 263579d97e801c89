// The emulator's control socket: lets a test or a service play the customer on a line served
// by this process. One text command a line, one answer line:
//   any scenario-file command ("lift 3", "hang 3", "fault silence 0", "clear-faults", "flow 20")
//       -> "ok", or "error WHY"
//   "totals A"  -> "ok VOLUME_CL MONEY": the totalizers of the controller at address A
//   "state A"   -> "ok STATUS LIFTED": its status character and 1 when its nozzle is lifted
// Connections are served one after another.
#pragma once

#include <cstdint>
#include <string>
#include <thread>

#include "line.h"

namespace dorv::emu {

// One command's answer, without the newline.
std::string ControlAnswer(Line& line, const std::string& command);

class ControlServer {
 public:
  // Listens on host:port (port 0 picks one); throws as OpenListener does.
  ControlServer(Line& line, const std::string& host, std::uint16_t port);
  ~ControlServer();
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

  std::uint16_t port() const { return port_; }

 private:
  void Serve(std::stop_token stop);

  Line& line_;
  int listen_fd_ = -1;
  std::uint16_t port_ = 0;
  std::jthread thread_;
};

}  // namespace dorv::emu
