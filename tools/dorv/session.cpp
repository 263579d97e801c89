#include "session.h"

#include <chrono>
#include <stdexcept>

#include "line.h"
#include "links/serial_host_link.h"
#include "links/tcp_host_link.h"
#include "pty_server.h"

namespace dorv::tools {

Session::Session(const SessionOptions& o) {
    const int sources = (o.port.empty() ? 0 : 1) + (o.tcp.empty() ? 0 : 1) + (o.emulator ? 1 : 0);
    if (sources != 1) throw std::runtime_error("choose exactly one of --port DEVICE, --tcp HOST:PORT, --emulator");
    if (o.line < 0 || o.line > 39) throw std::runtime_error("--line must be 0..39");
    const auto line = static_cast<std::uint8_t>(o.line);
    std::unique_ptr<links::StreamHostLink> link;
    if (!o.tcp.empty()) {
        const auto colon = o.tcp.rfind(':');
        if (colon == std::string::npos) throw std::runtime_error("--tcp needs HOST:PORT");
        const int port = std::stoi(o.tcp.substr(colon + 1));
        if (port <= 0 || port > 65535) throw std::runtime_error("--tcp port must be 1..65535");
        auto tcp = std::make_unique<links::TcpHostLink>();
        tcp->AssignLine(line, o.tcp.substr(0, colon), static_cast<std::uint16_t>(port));
        link = std::move(tcp);
        description_ = "TCP " + o.tcp;
    } else {
        std::string device = o.port;
        if (o.emulator) {
            line_ = std::make_unique<emu::Line>(emu::LineConfig{.flow_lps = o.flow});
            for (int a = 1; a <= 8; ++a) line_->AddController(a);
            emu::LinkTiming timing;
            timing.baud = o.baud;
            pty_ = std::make_unique<emu::PtyServer>(*line_, timing);
            device = pty_->slave_path();
            description_ = "built-in emulator on " + device + " at " +
                           (o.baud > 0 ? std::to_string(o.baud) + " baud" : std::string("full speed"));
        } else {
            description_ = "serial " + device;
        }
        auto serial = std::make_unique<links::SerialHostLink>();
        serial->AssignLine(line, device);
        link = std::move(serial);
    }
    link->SetTimeouts(std::chrono::milliseconds(o.responseTimeoutMs), std::chrono::milliseconds(50));
    link->SetRetries(o.retries);
    if (!o.trace.empty() && !link->SetTraceFile(o.trace))
        throw std::runtime_error("cannot write the trace file " + o.trace);
    link_ = std::move(link);
}

// The link goes before the emulator it talks to.
Session::~Session() {
    link_.reset();
    pty_.reset();
    line_.reset();
}

}  // namespace dorv::tools
