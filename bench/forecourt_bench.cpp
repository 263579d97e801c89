// dorv-forecourt-bench: the forecourt service on 39 emulated lines x 4 pumps (2 nozzles each),
// every line served by an emulator on a pseudo-terminal in this process, the service in its
// own process. Prints figures, not verdicts:
//   - the poll cycle unpaced and at 4800 baud, and at 4800 baud its ratio to the time the
//     exchanges take on the wire (request and reply bytes at 10 bits a byte, plus turnaround);
//   - GET /api/v1/pumps requests per second while every line polls, with the wire ratio then,
//     beside GET /healthz flat out in the same run;
//   - event latency: from the emulator's answer that shows a lifted nozzle to the pump event
//     on a WebSocket client (the answer then still takes its bytes' time on the wire), and from
//     the pump's last answer, once on the wire, to the event (the service's own share);
//   - the service's resident memory with 100 event clients.
//   dorv-forecourt-bench [--seconds N] [--lines N] [--client-nice N (the load clients' niceness, 0)]
//                        [--lifts N (event latency samples, 100)] [--only poll|memory|loads|events]
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "line.h"
#include "pty_server.h"

namespace {

namespace beast = boost::beast;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;
using nlohmann::json;

constexpr int kRequestBytes = 9, kReplyBytes = 8;  // a status query and its answer

struct Emulated {
    std::unique_ptr<dorv::emu::Line> line;
    std::unique_ptr<dorv::emu::PtyServer> pty;
};

// The moment the emulator first answered "lifted" for an address, by line; and when each
// address's last answer on line 1 was all on the wire. The answer is made as soon as the request
// reaches the emulator, which is before the request's own bytes have crossed the emulated wire,
// the turnaround, and the answer's bytes.
std::mutex lifted_mutex;
std::map<std::pair<int, int>, Clock::time_point> lifted_at;
std::map<int, Clock::time_point> arrived_at;

int AddressOf(const dorv::emu::Bytes& record) {
    const int group = record[0], byte = record[1];
    return group == 2 ? byte - 0x20 : (group - 6) * 15 + (byte - 0x20);
}

class Service {
public:
    Service(const std::string& config) {
        int out[2];
        if (::pipe(out) != 0) throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::execl(FORECOURT_PATH, FORECOURT_PATH, "--config", config.c_str(), "--listen", "127.0.0.1:0", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        std::string banner;
        char c;
        while (::read(out[0], &c, 1) == 1 && c != '\n') banner += c;
        ::close(out[0]);
        port_ = static_cast<std::uint16_t>(std::stoi(banner.substr(banner.rfind(':') + 1)));
    }
    ~Service() {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    std::uint16_t port() const { return port_; }
    // User and system CPU time the service has used, in seconds.
    double CpuSeconds() const {
        std::ifstream in("/proc/" + std::to_string(pid_) + "/stat");
        std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));  // after the command's name
        std::string field;
        double ticks = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i)
            if (i >= 14) ticks += std::stod(field);  // utime, stime
        return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }
    long RssKb() const {
        std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
        for (std::string line; std::getline(in, line);)
            if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
        return 0;
    }

private:
    pid_t pid_ = -1;
    std::uint16_t port_ = 0;
};

// A keep-alive client; a connection the service closed while it was idle is opened again.
class Http {
public:
    explicit Http(std::uint16_t port) : port_(port) { Connect(); }
    // accept_encoding: sent as the request's Accept-Encoding; the body comes back as it is.
    std::string Get(const std::string& target, const char* accept_encoding = nullptr) {
        try {
            return Exchange(target, accept_encoding);
        } catch (const boost::system::system_error&) {
            Connect();
            return Exchange(target, accept_encoding);
        }
    }

private:
    void Connect() {
        stream_ = std::make_unique<beast::tcp_stream>(io_);
        buffer_.clear();
        stream_->connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port_));
    }
    std::string Exchange(const std::string& target, const char* accept_encoding) {
        beast::http::request<beast::http::empty_body> req{beast::http::verb::get, target, 11};
        req.set(beast::http::field::host, "127.0.0.1");
        if (accept_encoding) req.set(beast::http::field::accept_encoding, accept_encoding);
        beast::http::write(*stream_, req);
        beast::http::response<beast::http::string_body> res;
        beast::http::read(*stream_, buffer_, res);
        return res.body();
    }

    std::uint16_t port_;
    net::io_context io_;
    std::unique_ptr<beast::tcp_stream> stream_;
    beast::flat_buffer buffer_;
};

struct LineTotals {
    double exchanges = 0, cycles = 0;
};

// Exchanges and poll cycles summed over the lines, from /metrics.
LineTotals Totals(Http& http) {
    LineTotals t;
    std::istringstream text(http.Get("/metrics"));
    for (std::string line; std::getline(text, line);) {
        if (line.rfind("dorv_line_exchanges_total{", 0) == 0) t.exchanges += std::stod(line.substr(line.rfind(' ') + 1));
        if (line.rfind("dorv_line_poll_cycles_total{", 0) == 0) t.cycles += std::stod(line.substr(line.rfind(' ') + 1));
    }
    return t;
}

struct Window {
    double cycle_ms = 0;  // a line's poll cycle
    double ratio = 0;     // elapsed / wire time of the exchanges made, per line
};

Window Measure(Http& http, int lines, int baud, double seconds, const std::function<void()>& during = {}) {
    const auto a = Totals(http);
    const auto start = Clock::now();
    if (during)
        during();
    else
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const auto b = Totals(http);
    Window w;
    const double cycles = (b.cycles - a.cycles) / lines, exchanges = (b.exchanges - a.exchanges) / lines;
    w.cycle_ms = cycles > 0 ? elapsed * 1000 / cycles : 0;
    const double wire = baud > 0 ? exchanges * ((kRequestBytes + kReplyBytes) * 10.0 / baud + 0.002) : 0;
    w.ratio = wire > 0 ? elapsed / wire : 0;
    return w;
}

std::string WriteConfig(const std::string& dir, const std::vector<Emulated>& lines) {
    const std::string path = dir + "/bench.toml";
    std::ofstream toml(path);
    toml << "database = \"" << dir << "/bench.db\"\npoll_interval_ms = 0\n[limits]\nconnections = 1000\nper_address = 1000\nevents = 1000\n"
         << "[[grades]]\nid = \"95\"\nprice = 1.85\n";
    for (std::size_t l = 0; l < lines.size(); ++l) {
        toml << "[[lines]]\nline = " << l + 1 << "\ndevice = \"" << lines[l].pty->slave_path() << "\"\n";
        for (int p = 0; p < 4; ++p)
            toml << "[[pumps]]\npump = " << l * 4 + p + 1 << "\nline = " << l + 1 << "\ncolumn = " << 1 + 2 * p
                 << "\nnozzles = [{ nozzle = 1, grade = \"95\" }, { nozzle = 2, grade = \"95\" }]\n";
    }
    return path;
}

std::vector<Emulated> StartLines(int count, int baud) {
    std::vector<Emulated> lines(static_cast<std::size_t>(count));
    for (int l = 0; l < count; ++l) {
        auto& e = lines[static_cast<std::size_t>(l)];
        e.line = std::make_unique<dorv::emu::Line>(dorv::emu::LineConfig{.flow_lps = 1.0});
        for (int a = 1; a <= 8; ++a) e.line->AddController(a);
        const dorv::emu::LinkTiming timing{baud, std::chrono::milliseconds(2)};
        e.pty = std::make_unique<dorv::emu::PtyServer>(
            *e.line, timing, [l, timing](const dorv::emu::Bytes& record, const dorv::emu::Reply& reply) {
                if (record.size() < 2) return;
                const auto now = Clock::now();
                std::lock_guard lock(lifted_mutex);
                if (l == 0)
                    arrived_at[AddressOf(record)] = now + timing.ByteTime() * kRequestBytes + timing.turnaround +
                                                    timing.ByteTime() * static_cast<long>(reply.bytes.size());
                if (record.size() < 3 || record[2] != '1' || reply.bytes.size() < 2 || reply.bytes[1] != '1') return;
                lifted_at.emplace(std::pair{l + 1, AddressOf(record)}, now);
            });
    }
    return lines;
}

void WaitOnline(Http& http, int lines) {
    for (int i = 0; i < 3000; ++i) {
        if (json::parse(http.Get("/healthz")).value("lines_online", 0) == lines) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    throw std::runtime_error("the lines did not come online");
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 5;
    int count = 39;
    int client_nice = 0;
    int lifts = 100;
    std::string only;  // one part of the run; all when empty
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--seconds")
            seconds = std::stod(argv[i + 1]);
        else if (option == "--lines")
            count = std::stoi(argv[i + 1]);
        else if (option == "--client-nice")
            client_nice = std::stoi(argv[i + 1]);
        else if (option == "--lifts")
            lifts = std::stoi(argv[i + 1]);
        else if (option == "--only")
            only = argv[i + 1];
    }
    const std::string dir = std::filesystem::temp_directory_path() / ("forecourt-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    ::setenv("DORV_WINDIR", dir.c_str(), 1);

    const auto part = [&](const char* name) { return only.empty() || only == name; };
    for (int baud : {0, 4800}) {
        if (baud == 0 && !part("poll")) continue;
        auto lines = StartLines(count, baud);
        std::filesystem::remove(dir + "/bench.db");
        Service service(WriteConfig(dir, lines));
        Http http(service.port());
        WaitOnline(http, count);
        const Window idle = part("poll") ? Measure(http, count, baud, seconds) : Window{};
        if (baud == 0) {
            std::printf("poll cycle, %d lines x 4 pumps, unpaced:      %.2f ms a line\n", count, idle.cycle_ms);
            continue;
        }
        if (part("poll"))
            std::printf("poll cycle, %d lines x 4 pumps, 4800 baud:    %.1f ms a line, %.4f x wire time\n", count, idle.cycle_ms,
                        idle.ratio);

        // Memory with 100 event clients.
        net::io_context events_io;
        const long before = service.RssKb();
        std::vector<std::unique_ptr<beast::websocket::stream<beast::tcp_stream>>> clients;
        for (int c = 0; c < 100 && (part("memory") || part("events")); ++c) {
            clients.push_back(std::make_unique<beast::websocket::stream<beast::tcp_stream>>(events_io));
            beast::get_lowest_layer(*clients.back()).connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), service.port()));
            clients.back()->handshake("127.0.0.1", "/api/v1/events");
        }
        std::this_thread::sleep_for(std::chrono::seconds(1));
        if (!clients.empty())
            std::printf("resident memory:                              %ld kB, %ld kB with 100 event clients\n", before, service.RssKb());

        // GET /pumps from 4 clients at a set total rate while every line polls; 0: as fast as they can.
        // GET /healthz flat out in the same run is the yardstick: the service's own floor.
        struct Load {
            double rate;
            const char* target;
            const char* accept_encoding;
        };
        for (const Load& load : part("loads") ? std::vector<Load>{Load{50, "/api/v1/pumps", nullptr}, Load{100, "/api/v1/pumps", nullptr},
                                                                  Load{200, "/api/v1/pumps", nullptr}, Load{400, "/api/v1/pumps", nullptr},
                                                                  Load{0, "/api/v1/pumps", nullptr}, Load{0, "/api/v1/pumps", "gzip"},
                                                                  Load{0, "/healthz", nullptr}}
                                              : std::vector<Load>{}) {
            const double rate = load.rate;
            const char* target = load.target;
            std::atomic<long> requests{0};
            const double cpu_before = service.CpuSeconds();
            const Window loaded = Measure(http, count, baud, seconds, [&] {
                std::vector<std::jthread> clients;
                const auto end = Clock::now() + std::chrono::duration<double>(seconds);
                for (int c = 0; c < 4; ++c)
                    clients.emplace_back([&, end, c] {
                        // The load's clients stand for tills on other machines: niced, they take
                        // less of the emulated wire's time on this one.
                        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), client_nice);
                        Http client(service.port());
                        auto next = Clock::now() +
                                    std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(c / std::max(rate, 1.0)));
                        while (Clock::now() < end) {
                            if (rate > 0) {
                                std::this_thread::sleep_until(next);
                                next += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(4 / rate));
                            }
                            client.Get(target, load.accept_encoding);
                            ++requests;
                        }
                    });
            });
            // The service's CPU for each request, its 39 lines' polling included.
            const double cpu_us = (service.CpuSeconds() - cpu_before) * 1e6 / static_cast<double>(std::max(requests.load(), 1L));
            std::printf("GET %-13s %-4s while polling, %-9s %6.0f requests/s (4 clients), wire ratio %.4f, service CPU %.0f us a request\n",
                        target, load.accept_encoding ? "gzip" : "",
                        rate > 0 ? (std::to_string(static_cast<int>(rate)) + "/s:").c_str() : "flat out:",
                        static_cast<double>(requests.load()) / seconds, loaded.ratio, cpu_us);
        }

        // Event latency: lift nozzle 1 of pumps on line 1, time the pump event.
        if (!part("events")) continue;
        net::io_context io;
        beast::websocket::stream<beast::tcp_stream> ws(io);
        beast::get_lowest_layer(ws).connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), service.port()));
        ws.handshake("127.0.0.1", "/api/v1/events");
        std::vector<double> latencies, completed;
        for (int round = 0; round < lifts; ++round) {
            const int pump = 1 + round % 4, address = 1 + 2 * (pump - 1);
            {
                std::lock_guard lock(lifted_mutex);
                lifted_at.clear();
            }
            lines[0].line->Lift(address);
            for (;;) {
                beast::flat_buffer buffer;
                ws.read(buffer);
                const auto now = Clock::now();
                const json e = json::parse(beast::buffers_to_string(buffer.data()));
                if (e["type"] == "pump" && e["data"]["pump"] == pump && e["data"]["state"] == "calling") {
                    std::lock_guard lock(lifted_mutex);
                    const auto at = lifted_at.find({1, address});
                    if (at != lifted_at.end()) latencies.push_back(std::chrono::duration<double, std::milli>(now - at->second).count());
                    // The reply that completed the change: the pump's last answer on the wire.
                    const auto last = std::max(arrived_at[address], arrived_at[address + 1]);
                    completed.push_back(std::chrono::duration<double, std::milli>(now - last).count());
                    break;
                }
            }
            lines[0].line->Hang(address);
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
        }
        std::printf("event latency, emulator answer to WebSocket:  median %.2f ms, p99 %.2f ms, max %.2f ms (%zu lifts)\n",
                    Percentile(latencies, 0.5), Percentile(latencies, 0.99), Percentile(latencies, 1.0), latencies.size());
        std::printf("event latency, completing reply to WebSocket: median %.2f ms, p99 %.2f ms, max %.2f ms (%zu lifts)\n",
                    Percentile(completed, 0.5), Percentile(completed, 0.99), Percentile(completed, 1.0), completed.size());
    }
    std::filesystem::remove_all(dir);
    return 0;
}
