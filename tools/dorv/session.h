// Where the host program's line leads: a serial device, a TCP device server, or the built-in
// emulator served on a pseudo-terminal and reached through the real serial link.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "dorv5000/host_link.h"

namespace dorv::emu {
class Line;
class PtyServer;
}  // namespace dorv::emu

namespace dorv::tools {

struct SessionOptions {
    std::string port;          // a tty device
    std::string tcp;           // HOST:PORT
    bool emulator = false;     // the built-in emulator
    int line = 1;
    std::string trace;         // trace file
    int baud = 4800;           // built-in emulator's line speed (0: unpaced)
    double flow = 2.5;         // built-in emulator's flow rate, litres per second
    int responseTimeoutMs = 300;
    int retries = 1;
};

class Session {
public:
    // Raises std::runtime_error with a clear message when the line cannot be set up.
    explicit Session(const SessionOptions& options);
    ~Session();

    HostLink& Link() { return *link_; }
    // The built-in emulator's line, or nullptr.
    emu::Line* Emulator() { return line_.get(); }
    const std::string& Description() const { return description_; }

private:
    std::unique_ptr<emu::Line> line_;
    std::unique_ptr<emu::PtyServer> pty_;
    std::unique_ptr<HostLink> link_;
    std::string description_;
};

}  // namespace dorv::tools
