// The host's lines as TCP connections to serial device servers at the stations: each line
// number leads to host:port, where the device server passes the bytes to and from the
// controllers' serial line.
//
// The device server keeps its own serial settings; ConfigureLine checks the format and rate it
// is given (so a wrong one is reported as on a serial line), connects, and applies nothing.
// A connection the server closed is made again on the next transaction, and the configurator
// the driver installed is called. Threads: see StreamHostLink; AssignLine waits for a
// transaction running on the line to end.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "links/stream_host_link.h"

namespace dorv::links {

class TcpHostLink : public StreamHostLink {
public:
    TcpHostLink() = default;
    ~TcpHostLink() override = default;

    // Leads `line` (0..39) to `host` (a name or an IPv4/IPv6 address) and `port`. An open
    // connection is closed and the new one is made on the next use. An empty host unassigns.
    // False for a line above 39.
    bool AssignLine(std::uint8_t line, const std::string& host, std::uint16_t port);
    // How long making a connection may take. Default 2 s.
    void SetConnectTimeout(std::chrono::milliseconds timeout);

protected:
    int OpenStream(std::uint8_t line, ByteStream& stream) override;
    int ApplySettings(ByteStream& stream, const LineSettings& settings) override;

private:
    struct Endpoint {
        std::string host;
        std::uint16_t port = 0;
    };
    std::array<Endpoint, kLineCount> endpoints_;  // guarded by the line's hold
    std::atomic<int> connectTimeoutMs_{2000};
};

}  // namespace dorv::links
