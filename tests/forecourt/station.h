// A station for the service's tests: dorv-emulator processes (one per line, on a pty, with a
// control socket) and dorv-forecourt as its own process, reached over HTTP and WebSocket.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace forecourt::test {

using nlohmann::json;

// A child process whose standard output is read line by line.
class Process {
public:
    explicit Process(const std::vector<std::string>& argv);
    ~Process();  // SIGTERM, then waits
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    std::string ReadLine(int timeout_ms = 10000);
    void Kill(int signal);  // and waits
    int pid() const { return pid_; }

private:
    int pid_ = -1;
    int out_ = -1;
    std::string pending_;
};

struct HttpReply {
    int status = 0;
    std::string body;
    std::map<std::string, std::string> headers;
    json Json() const;
};

struct Emulator {
    std::unique_ptr<Process> process;
    std::string pty;
    std::string control;  // HOST:PORT
    std::string Command(const std::string& command) const;
};

std::unique_ptr<Emulator> StartEmulator(double flow);

struct StationOptions {
    int lines = 2;
    double flow = 10.0;
    std::string extra_toml;  // added to the configuration file
    bool tokens = true;      // pos1, pos2, viewer, manager tokens
    bool tls = false;        // a certificate for 127.0.0.1; requests then verify it
    int connections = 0;     // [limits] connections, when not 0
    int pist_step = 1;       // the station file's and the driver's; other than 1, pumps sit at columns 1..4
};

class Station {
public:
    explicit Station(StationOptions options = {});
    ~Station();

    void StartService();  // (again) on the same database and emulators
    void KillService();   // SIGKILL

    // `headers` are set after the usual ones; an empty value takes one away.
    HttpReply Request(const std::string& method, const std::string& target, const std::string& body = "", const std::string& token = "pos1",
                      const std::vector<std::pair<std::string, std::string>>& headers = {});
    json Get(const std::string& target, const std::string& token = "viewer");
    // Polls GET /pumps/{n} until its state is `state`; false after `seconds`.
    bool WaitState(int pump, const std::string& state, double seconds = 20);
    std::string Emulate(int line, const std::string& command) {
        return emulators_.at(static_cast<std::size_t>(line - 1))->Command(command);
    }
    std::uint16_t port() const { return port_; }
    int pid() const { return service_->pid(); }
    const std::string& database() const { return database_; }
    static std::string Token(const std::string& name);
    const std::string& certificate() const { return certificate_; }
    // Runs the service on the station's files until it exits (20 s at most): its exit code and
    // what it wrote.
    std::pair<int, std::string> RunToExit() const;
    std::string DriverSettingsFile() const { return dir_.File("cnf.INI"); }

private:
    dorv::test::TempDir dir_;  // the driver's settings folder too; goes last
    StationOptions options_;
    std::string database_;
    std::string config_;
    std::string certificate_;  // with tls
    std::vector<std::unique_ptr<Emulator>> emulators_;
    std::unique_ptr<Process> service_;
    std::uint16_t port_ = 0;
};

// A WebSocket client of the event stream.
class EventClient {
public:
    EventClient(std::uint16_t port, const std::string& target);
    ~EventClient();
    // The next event, or nullopt when none comes in `timeout_ms` or the stream ended.
    std::optional<json> Next(int timeout_ms = 10000);
    // Reads until an event satisfies `match`.
    std::optional<json> Until(const std::function<bool(const json&)>& match, int timeout_ms = 20000);
    void Send(const std::string& text);  // raises when the stream is closed

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// An event client that shakes hands and then never reads, on a tiny receive buffer.
struct SilentClient {
    int fd = -1;
    ~SilentClient();
};
std::unique_ptr<SilentClient> SilentEventClient(std::uint16_t port, const std::string& token);

// Checks `value` against the OpenAPI document's response for the route; empty when it conforms.
std::string CheckResponse(const std::string& method, const std::string& route, int status, const json& value);
// Checks `value` against a named schema of the document.
std::string CheckSchema(const std::string& schema, const json& value);
// Checks an event against its type's message in the event stream's AsyncAPI document.
std::string CheckEvent(const json& event);

}  // namespace forecourt::test
