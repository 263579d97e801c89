// The station as the service runs it: lines, pumps, grades, listening, store, tokens, limits.
// Read from a TOML file or made for the emulator; every value is checked at start, and a bad
// one is refused with the key that holds it and why.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "errors.h"

namespace forecourt {

enum class Role { kViewer = 0, kPos = 1, kManager = 2 };
const char* RoleName(Role role);

struct Endpoint {
    std::string host;
    std::uint16_t port = 0;
};

struct LineConfig {
    int line = 1;                      // the driver's line number, 1..39
    std::string device;                // serial device, or empty
    std::optional<Endpoint> tcp;       // serial device server, or none
    std::optional<Endpoint> emulator;  // control socket of a dorv-emulator serving this line
};

struct NozzleConfig {
    int nozzle = 1;  // 1..4
    std::string grade;
};

struct PumpConfig {
    int pump = 1;
    int line = 1;
    int column = 1;  // 1..33
    std::vector<NozzleConfig> nozzles;
};

struct GradeConfig {
    std::string id;
    std::string name;
    std::int64_t price_cents = 0;  // per litre, 1..9999
};

// The audit trail's actor for what the service does of its own accord (a timeout's withdrawal,
// stop or alarm). No token may go by this name.
inline constexpr const char* kServiceActor = "dorv-forecourt";

struct TokenConfig {
    std::string name;
    std::string token;
    Role role = Role::kViewer;
};

struct TlsConfig {
    std::string cert;
    std::string key;
    bool enabled() const { return !cert.empty(); }
};

struct Limits {
    std::size_t body_bytes = 64 * 1024;
    int connections = 256;             // HTTP connections; event clients have their own limit
    int per_address = 64;              // HTTP connections of one client address
    int events = 64;                   // event (WebSocket) clients
    int header_seconds = 5;            // to connect (TLS included) or wait after an answer, and send a request's head
    std::size_t client_backlog = 512;  // events queued to one client before it is dropped
    std::size_t journal = 10000;       // events kept for replay
};

// The MQTT uplink's settings; the service only checks them and hands them on.
struct UplinkConfig {
    std::string scheme;  // "mqtt" or "mqtts"; empty: no uplink
    std::string url;     // as given
    Endpoint broker;
    std::string ca_file;
    std::string station;
    std::string username;
    std::string password;
    bool enabled() const { return !scheme.empty(); }
};

// Who may call from a browser: the names the service answers to beside IP addresses and
// localhost, and the web origins besides its own that may send requests.
struct HttpConfig {
    std::vector<std::string> hosts;    // lower case, no port
    std::vector<std::string> origins;  // "scheme://host[:port]", lower case
};

struct EmulatorOptions {
    int baud = 0;       // 0: unpaced
    double flow = 2.5;  // litres per second
};

// How long the forecourt waits on a pump before it acts on its own; 0 turns one off.
struct Timeouts {
    int authorize_seconds = 120;   // an authorization that delivered nothing (nozzle not lifted) is withdrawn
    int nozzle_out_seconds = 300;  // a nozzle left out after its sale raises an alarm
    int no_flow_seconds = 60;      // a filling under way that delivers nothing more is stopped
};

struct Config {
    std::string station = "station";
    Endpoint listen{"127.0.0.1", 8050};
    std::string database = "forecourt.db";
    int unpaid_limit = 2;
    int poll_interval_ms = 100;
    int line_timeout_ms = 300;  // reply timeout of every line
    int line_retries = 1;
    int driver_flags = 0;
    int pist_step = 1;  // must match the driver's own setting: it places the nozzles' addresses
    TlsConfig tls;
    Limits limits;
    Timeouts timeouts;
    HttpConfig http;
    UplinkConfig uplink;
    std::vector<LineConfig> lines;
    std::vector<GradeConfig> grades;
    std::vector<PumpConfig> pumps;
    std::vector<TokenConfig> tokens;
    bool emulator = false;  // lines served by dorv-emulator processes the service starts
    EmulatorOptions emulator_options;

    const GradeConfig* Grade(const std::string& id) const;
    const PumpConfig* Pump(int number) const;
};

Config ParseConfig(const std::string& toml_text, const std::string& source = "config");
Config LoadConfig(const std::string& path);
// 2 lines x 4 pumps x 2 nozzles, prices set, on 127.0.0.1:8050; lines filled in when the
// emulators have started.
Config EmulatorConfig();

// Checks the whole configuration; raises ConfigError naming the key.
void Validate(const Config& config);

// "HOST:PORT" ("[::1]:80" too); raises ConfigError naming `key`.
Endpoint ParseEndpoint(const std::string& text, const std::string& key);
// "mqtt://HOST:PORT" or "mqtts://HOST:PORT" into the uplink; raises ConfigError naming `key`.
void ParseBroker(const std::string& url, const std::string& key, UplinkConfig& uplink);
bool IsLoopback(const std::string& host);
// Controller address of a nozzle, as the driver places it.
int NozzleAddress(const Config& config, const PumpConfig& pump, int nozzle);

}  // namespace forecourt
