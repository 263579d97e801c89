#include "session.h"

#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fstream>
#include <stdexcept>

#include "line.h"
#include "links/serial_host_link.h"
#include "links/tcp_host_link.h"
#include "numbers.h"
#include "pty_server.h"

namespace dorv::tools {
namespace {

constexpr int kMaxTimeoutMs = 600000;
constexpr int kMaxRetries = 100;
constexpr std::array<int, 9> kBauds = {0, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

struct Endpoint {
    std::string host;
    std::uint16_t port = 0;
};

Endpoint ParseEndpoint(const std::string& text) {
    const char* usage = "--tcp needs HOST:PORT, PORT a number from 1 to 65535";
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) throw std::runtime_error(usage);
    const auto port = ParseWhole(std::string_view(text).substr(colon + 1));
    if (!port || *port < 1 || *port > 65535 || text[colon + 1] == '-') throw std::runtime_error(usage);
    std::string host = text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    return {host, static_cast<std::uint16_t>(*port)};
}

bool Resolves(const std::string& host) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) return false;
    ::freeaddrinfo(found);
    return true;
}

std::string UtcNow() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm tm{};
    ::gmtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

}  // namespace

void CheckSessionOptions(const SessionOptions& o) {
    const int sources = (o.port.empty() ? 0 : 1) + (o.tcp.empty() ? 0 : 1) + (o.emulator ? 1 : 0);
    if (sources != 1) throw std::runtime_error("choose exactly one of --port DEVICE, --tcp HOST:PORT, --emulator");
    if (o.line < 0 || o.line > 39) throw std::runtime_error("--line must be 0 to 39");
    if (o.responseTimeoutMs < 0 || o.responseTimeoutMs > kMaxTimeoutMs)
        throw std::runtime_error("--timeout-ms must be 0 to 600000 milliseconds");
    if (o.retries < 0 || o.retries > kMaxRetries) throw std::runtime_error("--retries must be 0 to 100");
    if (std::find(kBauds.begin(), kBauds.end(), o.baud) == kBauds.end())
        throw std::runtime_error(
            "--baud must be 0 (unpaced) or a standard rate: 1200, 2400, 4800, 9600, "
            "19200, 38400, 57600 or 115200");
    if (!std::isfinite(o.flow) || !(o.flow > 0)) throw std::runtime_error("--flow must be a positive number of litres per second");
    if (!o.tcp.empty()) ParseEndpoint(o.tcp);
}

Session::Session(const SessionOptions& o) {
    CheckSessionOptions(o);
    const auto line = static_cast<std::uint8_t>(o.line);
    std::unique_ptr<links::StreamHostLink> link;
    if (!o.tcp.empty()) {
        const Endpoint endpoint = ParseEndpoint(o.tcp);
        auto tcp = std::make_unique<links::TcpHostLink>();
        tcp->AssignLine(line, endpoint.host, endpoint.port);
        link = std::move(tcp);
        host_ = endpoint.host;
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
            description_ =
                "built-in emulator on " + device + " at " + (o.baud > 0 ? std::to_string(o.baud) + " baud" : std::string("full speed"));
        } else {
            description_ = "serial " + device;
        }
        device_ = device;
        auto serial = std::make_unique<links::SerialHostLink>();
        serial->AssignLine(line, device);
        link = std::move(serial);
    }
    link->SetTimeouts(std::chrono::milliseconds(o.responseTimeoutMs), std::chrono::milliseconds(50));
    link->SetRetries(o.retries);
    if (!o.trace.empty()) {
        // Opened here, not by the link, so that the program can add its notes to it; a header
        // line written at once shows a file that takes nothing (a full disk, /dev/full).
        trace_ = std::make_unique<std::ofstream>(o.trace, std::ios::app);
        errno = 0;
        if (*trace_) *trace_ << "# " << UtcNow() << " dorv: " << description_ << ", line " << o.line << std::endl;
        if (!*trace_) {
            const int err = errno;
            throw std::runtime_error("cannot write the trace file " + o.trace +
                                     (err ? std::string(": ") + std::strerror(err) : std::string()));
        }
        link->SetTrace(trace_.get());
    }
    link_ = std::move(link);
}

// The link goes before the emulator it talks to, and before its trace.
Session::~Session() {
    link_.reset();
    pty_.reset();
    line_.reset();
}

std::string Session::Cause(std::int32_t code) const {
    if (code == 0) return {};
    if (code == ENOTTY && !device_.empty()) return "not a terminal: " + device_ + " is no serial device";
    if (code == EHOSTUNREACH && !host_.empty() && !Resolves(host_)) return "unknown host " + host_;
    return std::strerror(code);
}

void Session::TraceNote(const std::string& text) {
    if (trace_) *trace_ << "# " << UtcNow() << ' ' << text << std::endl;
}

bool Session::TraceWritable() const { return !trace_ || static_cast<bool>(*trace_); }

}  // namespace dorv::tools
