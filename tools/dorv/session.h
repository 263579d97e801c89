// Where the host program's line leads: a serial device, a TCP device server, or the built-in
// emulator served on a pseudo-terminal and reached through the real serial link.
#pragma once

#include <cstdint>
#include <iosfwd>
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
    std::string port;       // a tty device
    std::string tcp;        // HOST:PORT
    bool emulator = false;  // the built-in emulator
    int line = 1;
    std::string trace;  // trace file
    int baud = 4800;    // built-in emulator's line speed (0: unpaced)
    double flow = 2.5;  // built-in emulator's flow rate, litres per second
    int responseTimeoutMs = 300;
    int retries = 1;
};

class Session {
public:
    // Raises std::runtime_error with a clear message when an option is wrong or the line
    // cannot be set up (the trace file cannot be written, say).
    explicit Session(const SessionOptions& options);
    ~Session();

    HostLink& Link() { return *link_; }
    // The built-in emulator's line, or nullptr.
    emu::Line* Emulator() { return line_.get(); }
    const std::string& Description() const { return description_; }

    // Why the line could not be used, in words, from the failure code the link gave (an errno
    // value): "Connection refused", "not a terminal: ...", "unknown host ...". Empty for 0.
    std::string Cause(std::int32_t code) const;
    // Adds a line of words to the frame trace, when there is one. Trace decoding passes such
    // lines through unchanged.
    void TraceNote(const std::string& text);
    // False once writing the trace failed (a full disk, say).
    bool TraceWritable() const;

private:
    std::unique_ptr<std::ofstream> trace_;  // outlives the link that writes to it
    std::unique_ptr<emu::Line> line_;
    std::unique_ptr<emu::PtyServer> pty_;
    std::unique_ptr<HostLink> link_;
    std::string description_;
    std::string device_;  // serial device, when the line is one
    std::string host_;    // TCP host, when the line is one
};

// The checks Session makes of its options, without opening anything; raises
// std::runtime_error naming the option.
void CheckSessionOptions(const SessionOptions& options);

}  // namespace dorv::tools
