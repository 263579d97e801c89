// The host's lines as serial devices: each line number leads to a tty (a USB adapter, a
// built-in port, a pseudo-terminal), opened raw at 8N1 without flow control.
//
// A line is opened on ConfigureLine or, failing that, on its first transaction (at 4800 baud,
// 8N1). A device that went away is opened again on a later transaction, and the configurator
// the driver installed is called so that it applies its settings again. Threads: see
// StreamHostLink; AssignLine waits for a transaction running on the line to end.
#pragma once

#include <array>
#include <string>

#include "links/stream_host_link.h"

namespace dorv::links {

class SerialHostLink : public StreamHostLink {
public:
    SerialHostLink() = default;
    ~SerialHostLink() override = default;

    // Leads `line` (0..39) to the device at `path`, e.g. "/dev/ttyUSB0"; a path to a symlink
    // such as /dev/serial/by-id/... follows the adapter when it comes back under another
    // name. An open line is closed and opens the new device on its next use. An empty path
    // unassigns. False for a line above 39.
    bool AssignLine(std::uint8_t line, const std::string& path);

protected:
    int OpenStream(std::uint8_t line, ByteStream& stream) override;
    int ApplySettings(ByteStream& stream, const LineSettings& settings) override;
    std::chrono::milliseconds SendTime(const LineSettings& settings, std::size_t bytes) const override;

private:
    std::array<std::string, kLineCount> paths_;  // guarded by the line's hold
};

}  // namespace dorv::links
