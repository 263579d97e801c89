// A listening TCP socket for the emulator's servers (the line and the control socket).
#pragma once

#include <cstdint>
#include <string>

namespace dorv::emu {

// Listens on host:port (port 0 picks a free one); throws std::system_error or
// std::invalid_argument when it cannot.
int OpenListener(const std::string& host, std::uint16_t port);
// The port a socket is bound to; 0 when it cannot be read.
std::uint16_t BoundPort(int fd);

}  // namespace dorv::emu
