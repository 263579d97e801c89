#include "station.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/write.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "child_process.h"

namespace forecourt::test {
namespace {

namespace beast = boost::beast;
namespace net = boost::asio;
using tcp = net::ip::tcp;

std::string Field(const std::string& line, const std::string& prefix) {
    if (line.rfind(prefix, 0) != 0) throw std::runtime_error("expected '" + prefix + "', got '" + line + "'");
    return line.substr(prefix.size());
}

}  // namespace

Process::Process(const std::vector<std::string>& argv) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    const dorv::test::Parent parent;
    pid_ = ::fork();
    if (pid_ == 0) {
        dorv::test::EndWithParent(parent);
        ::dup2(out[1], 1);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(out[1]);
    out_ = out[0];
}

Process::~Process() {
    if (pid_ > 0) Kill(SIGTERM);
    if (out_ >= 0) ::close(out_);
}

void Process::Kill(int signal) {
    if (pid_ <= 0) return;
    ::kill(pid_, signal);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::string Process::ReadLine(int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (pending_.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        pollfd p{out_, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) throw std::runtime_error("no line from the process");
        char buf[256];
        const ssize_t n = ::read(out_, buf, sizeof buf);
        if (n <= 0) throw std::runtime_error("the process ended: " + pending_);
        pending_.append(buf, static_cast<std::size_t>(n));
    }
    const auto end = pending_.find('\n');
    std::string line = pending_.substr(0, end);
    pending_.erase(0, end + 1);
    return line;
}

json HttpReply::Json() const { return json::parse(body, nullptr, false); }

std::string Emulator::Command(const std::string& command) const {
    const auto colon = control.rfind(':');
    net::io_context io;
    tcp::socket socket(io);
    socket.connect({net::ip::make_address(control.substr(0, colon)), static_cast<std::uint16_t>(std::stoi(control.substr(colon + 1)))});
    net::write(socket, net::buffer(command + "\n"));
    std::string answer;
    net::read_until(socket, net::dynamic_buffer(answer), '\n');
    return answer.substr(0, answer.find('\n'));
}

std::unique_ptr<Emulator> StartEmulator(double flow) {
    auto e = std::make_unique<Emulator>();
    e->process = std::make_unique<Process>(
        std::vector<std::string>{DORV_EMULATOR_PATH, "--pty", "--control", "127.0.0.1:0", "--baud", "0", "--flow", std::to_string(flow)});
    e->pty = Field(e->process->ReadLine(), "pty ");
    e->control = Field(e->process->ReadLine(), "control ");
    return e;
}

std::string Station::Token(const std::string& name) { return name.empty() ? "" : "token-of-" + name + "-0123456789"; }

Station::Station(StationOptions options) : options_(std::move(options)) {
    // The service's driver keeps to the factory settings: no settings file in this folder.
    database_ = dir_.File("forecourt.db");
    config_ = dir_.File("station.toml");
    std::ofstream toml(config_);
    toml << "station = \"test\"\ndatabase = \"" << database_ << "\"\nunpaid_limit = 2\npoll_interval_ms = 20\n"
         << "line_timeout_ms = 300\n[limits]\nclient_backlog = 64\nbody_bytes = 4096\n"
         << (options_.connections ? "connections = " + std::to_string(options_.connections) + "\n" : "")
         << "[[grades]]\nid = \"95\"\nname = \"Unleaded 95\"\nprice = 1.85\n"
         << "[[grades]]\nid = \"D\"\nname = \"Diesel\"\nprice = 1.72\n";
    for (int line = 1; line <= options_.lines; ++line) {
        emulators_.push_back(StartEmulator(options_.flow));
        toml << "[[lines]]\nline = " << line << "\ndevice = \"" << emulators_.back()->pty << "\"\nemulator = \""
             << emulators_.back()->control << "\"\n";
        for (int i = 0; i < 4; ++i)
            toml << "[[pumps]]\npump = " << (line - 1) * 4 + i + 1 << "\nline = " << line
                 << "\ncolumn = " << (options_.pist_step == 1 ? 1 + 2 * i : 1 + i)
                 << "\nnozzles = [{ nozzle = 1, grade = \"95\" }, { nozzle = 2, grade = \"D\" }]\n";
    }
    if (options_.tokens)
        for (const char* role : {"pos1", "pos2", "viewer", "manager"})
            toml << "[[tokens]]\nname = \"" << role << "\"\ntoken = \"" << Token(role) << "\"\nrole = \""
                 << (std::string(role).rfind("pos", 0) == 0 ? "pos" : role) << "\"\n";
    if (options_.tls) {
        certificate_ = dir_.File("service.pem");
        const std::string key = dir_.File("service.key");
        const std::string make =
            "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
            "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout '" +
            key + "' -out '" + certificate_ + "' >/dev/null 2>&1";
        if (std::system(make.c_str()) != 0) throw std::runtime_error("openssl could not make a certificate");
        toml << "[tls]\ncert = \"" << certificate_ << "\"\nkey = \"" << key << "\"\n";
    }
    if (options_.pist_step != 1) {
        toml << "[driver]\npist_step = " << options_.pist_step << "\n";
        std::ofstream(DriverSettingsFile()) << "[Dorv]\nPistStep=" << options_.pist_step << "\n";
    }
    toml << options_.extra_toml;
    toml.close();
    StartService();
}

Station::~Station() {
    service_.reset();
    emulators_.clear();
}

std::pair<int, std::string> Station::RunToExit() const {
    const std::string command = std::string("timeout 20 '") + FORECOURT_PATH + "' --config '" + config_ + "' --listen 127.0.0.1:0 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) throw std::runtime_error("cannot run " + command);
    std::string output;
    char chunk[512];
    while (const std::size_t n = std::fread(chunk, 1, sizeof chunk, pipe)) output.append(chunk, n);
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

void Station::StartService() {
    service_.reset();  // never two services on one line and one database
    service_ = std::make_unique<Process>(std::vector<std::string>{FORECOURT_PATH, "--config", config_, "--listen", "127.0.0.1:0"});
    const std::string banner = service_->ReadLine();
    const auto colon = banner.rfind(':');
    port_ = static_cast<std::uint16_t>(std::stoi(banner.substr(colon + 1)));
    // Ready when every line answered.
    for (int i = 0; i < 500; ++i) {
        auto health = Request("GET", "/healthz").Json();
        if (health.is_object() && health.value("lines_online", 0) == options_.lines) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    throw std::runtime_error("the lines did not come online");
}

void Station::KillService() { service_->Kill(SIGKILL); }

namespace {

template <typename Stream>
HttpReply Exchange(Stream& stream, const beast::http::request<beast::http::string_body>& req) {
    beast::http::write(stream, req);
    beast::flat_buffer buffer;
    beast::http::response_parser<beast::http::string_body> parser;
    parser.body_limit(64 << 20);
    parser.skip(req.method() == beast::http::verb::head);
    beast::http::read(stream, buffer, parser);
    HttpReply reply{static_cast<int>(parser.get().result_int()), parser.get().body(), {}};
    for (const auto& field : parser.get()) reply.headers[std::string(field.name_string())] = std::string(field.value());
    return reply;
}

}  // namespace

HttpReply Station::Request(const std::string& method, const std::string& target, const std::string& body, const std::string& token,
                           const std::vector<std::pair<std::string, std::string>>& headers) {
    beast::http::request<beast::http::string_body> req{beast::http::string_to_verb(method), target, 11};
    req.set(beast::http::field::host, "127.0.0.1");
    if (!token.empty() && options_.tokens) req.set(beast::http::field::authorization, "Bearer " + Token(token));
    if (!body.empty()) {
        req.set(beast::http::field::content_type, "application/json");
        req.body() = body;
    }
    req.prepare_payload();
    for (const auto& [name, value] : headers)
        if (value.empty())
            req.erase(name);
        else
            req.set(name, value);
    net::io_context io;
    const tcp::endpoint service(net::ip::make_address("127.0.0.1"), port_);
    if (options_.tls) {
        net::ssl::context tls(net::ssl::context::tls_client);
        tls.load_verify_file(certificate_);
        tls.set_verify_mode(net::ssl::verify_peer);
        tls.set_verify_callback(net::ssl::host_name_verification("127.0.0.1"));
        beast::ssl_stream<beast::tcp_stream> stream(io, tls);
        beast::get_lowest_layer(stream).connect(service);
        stream.handshake(net::ssl::stream_base::client);
        return Exchange(stream, req);
    }
    beast::tcp_stream stream(io);
    stream.connect(service);
    auto reply = Exchange(stream, req);
    beast::error_code ignored;
    stream.socket().shutdown(tcp::socket::shutdown_both, ignored);
    return reply;
}

json Station::Get(const std::string& target, const std::string& token) {
    const auto reply = Request("GET", target, "", token);
    if (reply.status != 200) throw std::runtime_error("GET " + target + ": " + std::to_string(reply.status) + " " + reply.body);
    return reply.Json();
}

bool Station::WaitState(int pump, const std::string& state, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (Get("/api/v1/pumps/" + std::to_string(pump))["state"] == state) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

struct EventClient::Impl {
    net::io_context io;
    beast::websocket::stream<beast::tcp_stream> ws{io};
    beast::flat_buffer buffer;
    bool reading = false;
    bool done = false;
    bool closed = false;
};

EventClient::EventClient(std::uint16_t port, const std::string& target) : impl_(std::make_unique<Impl>()) {
    beast::get_lowest_layer(impl_->ws).connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port));
    impl_->ws.handshake("127.0.0.1", target);
}

EventClient::~EventClient() = default;

std::optional<json> EventClient::Next(int timeout_ms) {
    auto& s = *impl_;
    if (s.closed) return std::nullopt;
    if (!s.reading) {
        s.reading = true;
        s.done = false;
        s.ws.async_read(s.buffer, [&s](beast::error_code ec, std::size_t) {
            s.done = true;
            s.reading = false;
            if (ec) s.closed = true;
        });
    }
    s.io.restart();
    s.io.run_for(std::chrono::milliseconds(timeout_ms));
    if (!s.done || s.closed) return std::nullopt;
    json event = json::parse(beast::buffers_to_string(s.buffer.data()), nullptr, false);
    s.buffer.consume(s.buffer.size());
    if (auto fault = CheckEvent(event); !fault.empty()) throw std::runtime_error(fault + ": " + event.dump());
    return event;
}

std::optional<json> EventClient::Until(const std::function<bool(const json&)>& match, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        auto event = Next(static_cast<int>(std::max<long>(1, left.count())));
        if (!event) return std::nullopt;
        if (match(*event)) return event;
    }
    return std::nullopt;
}

void EventClient::Send(const std::string& text) {
    impl_->ws.text(true);
    impl_->ws.write(net::buffer(text));
}

SilentClient::~SilentClient() {
    if (fd >= 0) ::close(fd);
}

std::unique_ptr<SilentClient> SilentEventClient(std::uint16_t port, const std::string& token) {
    auto client = std::make_unique<SilentClient>();
    client->fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int small = 1024;
    ::setsockopt(client->fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(client->fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) throw std::runtime_error("connect");
    const std::string request = "GET /api/v1/events?token=" + token +
                                " HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
    if (::send(client->fd, request.data(), request.size(), 0) != static_cast<ssize_t>(request.size())) throw std::runtime_error("send");
    std::string head;
    char c;
    while (head.find("\r\n\r\n") == std::string::npos && ::recv(client->fd, &c, 1, 0) == 1) head += c;
    if (head.find(" 101 ") == std::string::npos) throw std::runtime_error("no upgrade: " + head);
    return client;
}

namespace {

json Load(const char* path) {
    std::ifstream in(path);
    return json::parse(in);
}
const json& Document() {
    static const json doc = Load(FORECOURT_OPENAPI_PATH);
    return doc;
}
const json& EventDocument() {
    static const json doc = Load(FORECOURT_ASYNCAPI_PATH);
    return doc;
}

// `node`, or what its reference names in `doc`.
const json& Resolve(const json& node, const json& doc) {
    if (!node.is_object() || !node.contains("$ref")) return node;
    const std::string ref = node["$ref"];
    return Resolve(doc.at(json::json_pointer(ref.substr(1))), doc);
}

bool HasType(const json& value, const std::string& type) {
    if (type == "integer") return value.is_number_integer();
    if (type == "number") return value.is_number();
    if (type == "string") return value.is_string();
    if (type == "boolean") return value.is_boolean();
    if (type == "null") return value.is_null();
    if (type == "array") return value.is_array();
    if (type == "object") return value.is_object();
    return false;
}

std::string Validate(const json& schema_ref, const json& value, const std::string& where, const json& doc = Document()) {
    const json& schema = Resolve(schema_ref, doc);
    if (schema.contains("oneOf")) {
        for (const auto& option : schema["oneOf"])
            if (Validate(option, value, where, doc).empty()) return "";
        return where + ": matches none of oneOf";
    }
    if (schema.contains("type")) {
        bool ok = false;
        if (schema["type"].is_array()) {
            for (const auto& t : schema["type"]) ok = ok || HasType(value, t);
        } else {
            ok = HasType(value, schema["type"]);
        }
        if (!ok) return where + ": " + value.dump() + " is not of type " + schema["type"].dump();
    }
    if (schema.contains("enum") && std::find(schema["enum"].begin(), schema["enum"].end(), value) == schema["enum"].end())
        return where + ": " + value.dump() + " is not one of " + schema["enum"].dump();
    if (value.is_object()) {
        for (const auto& key : schema.value("required", json::array()))
            if (!value.contains(key)) return where + ": " + key.get<std::string>() + " is missing";
        const json properties = schema.value("properties", json::object());
        for (const auto& [key, item] : value.items()) {
            if (properties.contains(key)) {
                if (auto e = Validate(properties[key], item, where + "." + key, doc); !e.empty()) return e;
            } else if (schema.value("additionalProperties", true) == false) {
                return where + ": unexpected " + key;
            }
        }
    }
    if (value.is_array() && schema.contains("items"))
        for (std::size_t i = 0; i < value.size(); ++i)
            if (auto e = Validate(schema["items"], value[i], where + "[" + std::to_string(i) + "]", doc); !e.empty()) return e;
    return "";
}

}  // namespace

std::string CheckResponse(const std::string& method, const std::string& route, int status, const json& value) {
    std::string m = method;
    for (auto& c : m) c = static_cast<char>(std::tolower(c));
    const json& paths = Document()["paths"];
    if (!paths.contains(route) || !paths[route].contains(m)) return "the document has no " + method + " " + route;
    const json& responses = paths[route][m]["responses"];
    if (!responses.contains(std::to_string(status))) return method + " " + route + " does not document " + std::to_string(status);
    const json& response = Resolve(responses[std::to_string(status)], Document());
    return Validate(response["content"]["application/json"]["schema"], value, method + " " + route);
}

std::string CheckSchema(const std::string& schema, const json& value) {
    return Validate(json{{"$ref", "#/components/schemas/" + schema}}, value, schema);
}

std::string CheckEvent(const json& event) {
    const json& messages = EventDocument()["components"]["messages"];
    const std::string type = event.is_object() ? event.value("type", "") : "";
    if (!messages.contains(type)) return "the event document has no message " + type;
    return Validate(messages[type]["payload"], event, "event " + type, EventDocument());
}

}  // namespace forecourt::test
