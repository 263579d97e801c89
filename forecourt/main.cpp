// dorv-forecourt: every pump of a station behind one network API.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <spdlog/cfg/env.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>
#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <thread>

#include "api/router.h"
#include "api/server.h"
#include "config/config.h"
#include "console_files.h"
#include "dorv5000/driver.h"
#include "emulator_lines.h"
#include "events/event_hub.h"
#include "pumps/dorv_dispenser.h"
#include "pumps/driver_settings.h"
#include "pumps/forecourt.h"
#include "pumps/station_link.h"
#include "store/database_lock.h"
#include "store/schema.h"
#include "store/store.h"
#include "uplink/uplink.h"

namespace {

using namespace forecourt;

// Web threads run this much nicer than the lines' threads.
constexpr int kWebNiceness = 5;

struct Options {
    std::string config;
    bool emulator = false;
    std::string listen;
    std::string database;
    std::string uplink;
    std::string station;
    int poll_ms = -1;
    double flow = 0;
    int baud = -1;
    std::string check;  // --check-config FILE
};

// The uplink's settings from the service's [uplink] table or --uplink/--station.
uplink::UplinkConfig UplinkSettings(const UplinkConfig& c) {
    uplink::UplinkConfig u;
    u.broker = c.url;
    u.ca_file = c.ca_file;
    u.station = c.station;
    u.username = c.username;
    u.password = c.password;
    return u;
}

Config MakeConfig(const Options& o) {
    if (o.config.empty() == !o.emulator) throw ConfigError("give exactly one of --config FILE or --emulator");
    Config c = o.emulator ? EmulatorConfig() : LoadConfig(o.config);
    if (!o.listen.empty()) c.listen = ParseEndpoint(o.listen, "--listen");
    if (!o.database.empty()) c.database = o.database;
    if (!o.uplink.empty()) ParseBroker(o.uplink, "--uplink", c.uplink);
    if (!o.station.empty()) {
        if (!c.uplink.enabled()) throw ConfigError("--station: needs --uplink or an [uplink] table");
        c.uplink.station = o.station;
    }
    if (o.poll_ms >= 0) c.poll_interval_ms = o.poll_ms;
    if (o.flow > 0) c.emulator_options.flow = o.flow;
    if (o.baud >= 0) c.emulator_options.baud = o.baud;
    Validate(c);
    if (c.uplink.enabled()) {
        // Refused here, before the service takes its lines, as the rest of the file is.
        uplink::Validate(UplinkSettings(c.uplink));
    }
    return c;
}

std::string HostPort(const std::string& host, int port) {
    return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

// The driver places the nozzles by its own setting: a station file that says otherwise would
// have the service bill other nozzles than the ones it authorized.
void CheckDriverPistStep(const Config& config) {
    if (const auto driver = ReadDriverPistStep(); driver.step != config.pist_step)
        throw ConfigError("[driver] pist_step is " + std::to_string(config.pist_step) +
                          " in the station file, but the driver's "
                          "settings file " +
                          driver.file + " has PistStep=" + std::to_string(driver.step) + ": set both to the same value");
}

// What --check-config prints: the station as the service would run it, one item a line.
void Describe(const Config& c) {
    std::cout << "station " << c.station << "\n"
              << "listen " << (c.tls.enabled() ? "https" : "http") << "://" << HostPort(c.listen.host, c.listen.port) << " ("
              << c.tokens.size() << " tokens)\n"
              << "database " << c.database << "\n";
    for (const auto& line : c.lines) {
        std::cout << "line " << line.line << ": ";
        if (line.tcp)
            std::cout << "tcp " << HostPort(line.tcp->host, line.tcp->port);
        else
            std::cout << "serial " << line.device;
        if (line.emulator) std::cout << " (emulator control " << HostPort(line.emulator->host, line.emulator->port) << ")";
        std::cout << "\n";
    }
    for (const auto& g : c.grades)
        std::cout << "grade " << g.id << ": " << g.name << ", " << g.price_cents / 100 << "." << (g.price_cents % 100 < 10 ? "0" : "")
                  << g.price_cents % 100 << " a litre at the first start\n";
    for (const auto& p : c.pumps) {
        std::cout << "pump " << p.pump << ": line " << p.line << ", column " << p.column << ", nozzles";
        for (const auto& n : p.nozzles) std::cout << " " << n.nozzle << " (" << n.grade << ")";
        std::cout << "\n";
    }
    std::cout << "timeouts: authorization " << c.timeouts.authorize_seconds << " s, no flow " << c.timeouts.no_flow_seconds
              << " s, nozzle out " << c.timeouts.nozzle_out_seconds << " s (0: off)\n";
    std::cout << "uplink " << (c.uplink.enabled() ? c.uplink.url + " as station " + c.uplink.station : "none") << "\n";
}

// Feeds the event hub to the uplink from construction to destruction.
class UplinkFeed {
public:
    UplinkFeed(EventHub& hub, uplink::Uplink& up)
        : hub_(hub), id_(hub.Subscribe([&up](const Serialized&, const nlohmann::json& envelope) { up.OnEvent(envelope); })) {}
    ~UplinkFeed() { hub_.Unsubscribe(id_); }
    UplinkFeed(const UplinkFeed&) = delete;
    UplinkFeed& operator=(const UplinkFeed&) = delete;

private:
    EventHub& hub_;
    int id_;
};

int Run(Config config, const std::string& self) {
    // The emulated station runs on the driver's factory settings, whatever the machine's own
    // settings file says: its settings folder is a fresh one, removed on the way out.
    struct Folder {
        std::string path;
        ~Folder() {
            std::error_code ec;
            if (!path.empty()) std::filesystem::remove_all(path, ec);
        }
    } windir;
    std::unique_ptr<EmulatorLines> emulators;
    if (config.emulator) {
        if (!std::getenv("DORV_WINDIR")) {
            windir.path = (std::filesystem::temp_directory_path() / ("dorv-forecourt-" + std::to_string(::getpid()))).string();
            std::filesystem::create_directories(windir.path);
            ::setenv("DORV_WINDIR", windir.path.c_str(), 1);
            WriteDriverPistStep(windir.path, config.pist_step);  // the folder is ours: it takes the station's step
        }
        emulators = std::make_unique<EmulatorLines>(config, self);
    }
    CheckDriverPistStep(config);
    const DatabaseLock held(config.database);
    const std::string topic = config.uplink.enabled() ? uplink::StationTopic(config.uplink.station, "sales") : "";
    Store store(config.database, topic, config.uplink.station,
                config.uplink.enabled() ? uplink::StationTopic(config.uplink.station, "shifts") : "");
    EventHub hub(&store, config.limits.journal);
    StationLink link;
    for (const auto& line : config.lines) {
        if (line.tcp)
            link.AssignTcp(line.line, line.tcp->host, line.tcp->port);
        else
            link.AssignSerial(line.line, line.device);
    }
    link.SetTimeouts(std::chrono::milliseconds(config.line_timeout_ms), config.line_retries);
    std::unique_ptr<dorv::DI30> driver(GetDI30(config.driver_flags, 0, &link));
    Forecourt forecourt(config, store, hub,
                        [&](const LineConfig& line) { return std::make_unique<DorvDispenser>(*driver, link, line.line); });
    std::vector<StaticFile> console;
    for (const auto& file : console::Files()) console.push_back({std::string(file.path), std::string(file.content_type), file.bytes});
    Router router(config, forecourt, store, hub, std::move(console));
    std::unique_ptr<uplink::Uplink> up;
    std::unique_ptr<UplinkFeed> feed;
    if (config.uplink.enabled()) {
        up = std::make_unique<uplink::Uplink>(UplinkSettings(config.uplink), config.database);
        feed = std::make_unique<UplinkFeed>(hub, *up);
        up->OnEvent({{"type", "prices"}, {"data", forecourt.PricesJson()}});  // the board at start
        router.extra_metrics = [&up] { return up->MetricsText(); };
        router.uplink_status = [&up] {
            return nlohmann::json{{"state", uplink::ToString(up->State())}, {"outbox", up->OutboxDepth()}, {"error", up->LastError()}};
        };
        up->Start();
    }

    boost::asio::io_context io;
    Server server(io, config, router, hub);
    forecourt.Start();
    std::cout << "dorv-forecourt: " << config.pumps.size() << " pumps on " << config.lines.size() << " lines, "
              << (config.tls.enabled() ? "https" : "http") << "://" << config.listen.host << ":" << server.Port() << "/api/v1" << std::endl;

    boost::asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&](const boost::system::error_code&, int) { io.stop(); });
    std::vector<std::thread> threads;
    // Nothing a client sends may end the service: a web thread outlives whatever a handler throws.
    for (int i = 0; i < 2; ++i)
        threads.emplace_back([&io] {
            // The poll comes first: on a small box busy with clients, a line's next request must
            // not wait for a web thread's time slice. A niceness of its own lowers the thread, and
            // needs no privilege.
            if (::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kWebNiceness) != 0)
                spdlog::warn("event=web_priority_unchanged reason=\"{}\"", std::strerror(errno));
            for (;;) {
                try {
                    io.run();
                    return;
                } catch (const std::exception& e) {
                    spdlog::error("event=handler_failed reason=\"{}\"", e.what());
                } catch (...) {
                    spdlog::error("event=handler_failed");
                }
            }
        });
    spdlog::info("event=started pumps={} lines={}", config.pumps.size(), config.lines.size());
    for (auto& t : threads) t.join();
    spdlog::info("event=stopping");
    forecourt.Stop();
    feed.reset();
    if (up) up->Stop();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"dorv-forecourt: every pump of the station behind one network API"};
    Options o;
    auto* config = app.add_option("--config", o.config, "station configuration (TOML)");
    auto* emulator = app.add_flag("--emulator", o.emulator, "2 lines x 4 pumps x 2 nozzles on dorv-emulator processes");
    app.add_option("--check-config", o.check,
                   "read FILE as the service would, print the lines, pumps, listen address and database it would run, "
                   "exit 0 (good) or 2 (wrong); no line is opened")
        ->type_name("FILE")
        ->excludes(config)
        ->excludes(emulator);
    app.add_option("--listen", o.listen, "HOST:PORT to listen on (default 127.0.0.1:8050; port 0 picks one)");
    app.add_option("--database", o.database, "SQLite file (default forecourt.db in the working folder)");
    app.add_option("--uplink", o.uplink, "MQTT broker, mqtt://HOST:PORT or mqtts://HOST:PORT");
    app.add_option("--station", o.station, "station id on the uplink");
    app.add_option("--poll-ms", o.poll_ms, "pause between poll cycles, milliseconds")->check(CLI::Range(0, 60000));
    app.add_option("--emulator-flow", o.flow, "--emulator: litres per second")->check(CLI::Range(0.01, 1000.0));
    app.add_option("--emulator-baud", o.baud, "--emulator: line speed, 0 = unpaced")->check(CLI::Range(0, 115200));
    std::string backup_from, backup_to;
    auto* backup = app.add_subcommand("backup", "copy the database while the service runs (SQLite's online backup)");
    backup->add_option("--database", backup_from, "the service's SQLite file")->required()->type_name("FILE");
    backup->add_option("--to", backup_to, "the copy: written whole and checked, then moved to this name")->required()->type_name("COPY");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;  // --help is no error; a wrong option is one, as a wrong file is
    }
    ::signal(SIGPIPE, SIG_IGN);
    // One line per event on standard error, for journald (which stamps the time); SPDLOG_LEVEL
    // sets the level.
    auto log = spdlog::stderr_logger_mt("dorv-forecourt");
    log->set_pattern("%l %v");
    spdlog::set_default_logger(log);
    spdlog::cfg::load_env_levels();
    try {
        if (*backup) {
            const int pages = BackupDatabase(backup_from, backup_to);
            std::cout << "dorv-forecourt: " << backup_from << " copied to " << backup_to << " (" << pages << " pages, integrity check ok)"
                      << std::endl;
            return 0;
        }
        if (!o.check.empty()) {
            o.config = o.check;
            const Config c = MakeConfig(o);
            // The files the service reads as it starts, read as the user running the check.
            const std::pair<const char*, std::string> files[] = {
                {"tls.cert", c.tls.cert}, {"tls.key", c.tls.key}, {"uplink.ca_file", c.uplink.ca_file}};
            for (const auto& [key, path] : files)
                if (!path.empty() && !std::ifstream(path)) throw ConfigError(std::string(key) + ": " + path + " cannot be read");
            if (!c.emulator) CheckDriverPistStep(c);  // the emulated station's driver takes the file's
            Describe(c);
            return 0;
        }
        return Run(MakeConfig(o), argv[0]);
    } catch (const ConfigError& e) {
        spdlog::critical("event=failed reason=\"{}\"", e.what());
        return 2;
    } catch (const DatabaseInUse& e) {
        spdlog::critical("event=failed reason=\"{}\"", e.what());
        return 2;
    } catch (const DatabaseRefused& e) {  // as permanent as a wrong file: not worth a restart
        std::cerr << "dorv-forecourt: " << e.what() << "\n";
        return 3;
    } catch (const std::exception& e) {
        spdlog::critical("event=failed reason=\"{}\"", e.what());
        return 1;
    }
}
