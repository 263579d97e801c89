#include "config.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <set>
#include <sstream>
#include <toml++/toml.h>

namespace forecourt {
namespace {

[[noreturn]] void Fail(const std::string& key, const std::string& why) { throw ConfigError(key + ": " + why); }

// Every table is read key by key and anything left over is refused: a misspelt key
// would otherwise silently keep its default.
class Reader {
public:
    Reader(const toml::table& table, std::string prefix) : table_(table), prefix_(std::move(prefix)) {}

    std::string Key(const std::string& key) const { return prefix_.empty() ? key : prefix_ + "." + key; }
    const toml::node* Node(const std::string& key) {
        seen_.insert(key);
        return table_.get(key);
    }

    std::optional<std::string> String(const std::string& key) {
        const auto* node = Node(key);
        if (!node) return std::nullopt;
        if (!node->is_string()) Fail(Key(key), "must be a string");
        return node->value<std::string>();
    }
    std::optional<std::int64_t> Integer(const std::string& key, std::int64_t low, std::int64_t high) {
        const auto* node = Node(key);
        if (!node) return std::nullopt;
        if (!node->is_integer()) Fail(Key(key), "must be a whole number");
        const auto value = *node->value<std::int64_t>();
        if (value < low || value > high) Fail(Key(key), "must be from " + std::to_string(low) + " to " + std::to_string(high));
        return value;
    }
    std::optional<double> Number(const std::string& key) {
        const auto* node = Node(key);
        if (!node) return std::nullopt;
        if (!node->is_number()) Fail(Key(key), "must be a number");
        return node->value<double>();
    }
    const toml::array* Array(const std::string& key) {
        const auto* node = Node(key);
        if (!node) return nullptr;
        if (!node->is_array()) Fail(Key(key), "must be an array");
        return node->as_array();
    }
    const toml::table* Table(const std::string& key) {
        const auto* node = Node(key);
        if (!node) return nullptr;
        if (!node->is_table()) Fail(Key(key), "must be a table");
        return node->as_table();
    }
    void Finish() const {
        for (const auto& [key, value] : table_)
            if (!seen_.count(std::string(key.str()))) Fail(Key(std::string(key.str())), "unknown key");
    }

private:
    const toml::table& table_;
    std::string prefix_;
    std::set<std::string> seen_;
};

template <typename Each>
void ForTables(Reader& reader, const std::string& key, Each each) {
    const auto* array = reader.Array(key);
    if (!array) return;
    for (std::size_t i = 0; i < array->size(); ++i) {
        const std::string where = reader.Key(key) + "[" + std::to_string(i) + "]";
        const auto* table = array->get(i)->as_table();
        if (!table) Fail(where, "must be a table");
        Reader item(*table, where);
        each(item);
        item.Finish();
    }
}

std::int64_t PriceCents(double price, const std::string& key) {
    const double cents = price * 100.0;
    if (!std::isfinite(price) || price <= 0 || price > 99.99 || std::fabs(cents - std::round(cents)) > 1e-6)
        Fail(key, "must be a price above 0 and at most 99.99, with at most 2 decimals");
    return static_cast<std::int64_t>(std::llround(cents));
}

Role ParseRole(const std::string& text, const std::string& key) {
    if (text == "viewer") return Role::kViewer;
    if (text == "pos") return Role::kPos;
    if (text == "manager") return Role::kManager;
    Fail(key, "must be viewer, pos or manager");
}

void ReadLines(Reader& root, Config& c) {
    ForTables(root, "lines", [&](Reader& r) {
        LineConfig line;
        line.line = static_cast<int>(r.Integer("line", 1, 39).value_or(0));
        if (line.line == 0) Fail(r.Key("line"), "is required");
        line.device = r.String("device").value_or("");
        if (auto tcp = r.String("tcp")) line.tcp = ParseEndpoint(*tcp, r.Key("tcp"));
        if (auto emu = r.String("emulator")) line.emulator = ParseEndpoint(*emu, r.Key("emulator"));
        if (line.device.empty() == !line.tcp) Fail(r.Key("device"), "give exactly one of device or tcp");
        c.lines.push_back(line);
    });
}

void ReadPumps(Reader& root, Config& c) {
    ForTables(root, "pumps", [&](Reader& r) {
        PumpConfig pump;
        pump.pump = static_cast<int>(r.Integer("pump", 1, 999).value_or(0));
        if (pump.pump == 0) Fail(r.Key("pump"), "is required");
        pump.line = static_cast<int>(r.Integer("line", 1, 39).value_or(0));
        if (pump.line == 0) Fail(r.Key("line"), "is required");
        pump.column = static_cast<int>(r.Integer("column", 1, 33).value_or(0));
        if (pump.column == 0) Fail(r.Key("column"), "is required");
        ForTables(r, "nozzles", [&](Reader& n) {
            NozzleConfig nozzle;
            nozzle.nozzle = static_cast<int>(n.Integer("nozzle", 1, 4).value_or(0));
            if (nozzle.nozzle == 0) Fail(n.Key("nozzle"), "is required");
            nozzle.grade = n.String("grade").value_or("");
            if (nozzle.grade.empty()) Fail(n.Key("grade"), "is required");
            pump.nozzles.push_back(nozzle);
        });
        c.pumps.push_back(pump);
    });
}

std::string Lower(std::string text) {
    for (auto& ch : text) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return text;
}

bool IsHostName(const std::string& name) {
    return !name.empty() && name.size() <= 253 && name.front() != '.' && name.front() != '-' &&
           std::all_of(name.begin(), name.end(),
                       [](char ch) { return std::isalnum(static_cast<unsigned char>(ch)) || ch == '.' || ch == '-'; });
}

// A list of strings, each checked by `check` (which names what is wrong, or returns empty).
std::vector<std::string> Strings(Reader& r, const std::string& key, std::string (*check)(const std::string&)) {
    std::vector<std::string> out;
    const auto* array = r.Array(key);
    if (!array) return out;
    for (std::size_t i = 0; i < array->size(); ++i) {
        const std::string where = r.Key(key) + "[" + std::to_string(i) + "]";
        const auto* text = array->get(i)->as_string();
        if (!text) Fail(where, "must be a string");
        const std::string value = Lower(text->get());
        if (const auto why = check(value); !why.empty()) Fail(where, why);
        out.push_back(value);
    }
    return out;
}

std::string CheckHost(const std::string& host) { return IsHostName(host) ? "" : "must be a host name without scheme or port"; }

std::string CheckOrigin(const std::string& origin) {
    const auto sep = origin.find("://");
    if (sep == std::string::npos || (origin.substr(0, sep) != "http" && origin.substr(0, sep) != "https"))
        return "must be http://HOST[:PORT] or https://HOST[:PORT]";
    std::string host = origin.substr(sep + 3);
    if (host.size() > 2 && host.front() == '[') {
        const auto close = host.find(']');
        if (close == std::string::npos) return "must be http://HOST[:PORT] or https://HOST[:PORT]";
        host = "x" + host.substr(close + 1);  // an IPv6 address; its port is checked below
    }
    if (const auto colon = host.rfind(':'); colon != std::string::npos) {
        const std::string port = host.substr(colon + 1);
        if (port.empty() || port.size() > 5 || !std::all_of(port.begin(), port.end(), [](char ch) { return ch >= '0' && ch <= '9'; }))
            return "must be http://HOST[:PORT] or https://HOST[:PORT]";
        host = host.substr(0, colon);
    }
    return IsHostName(host) ? "" : "must be http://HOST[:PORT] or https://HOST[:PORT], without a path";
}

void ReadHttp(Reader& root, Config& c) {
    const auto* table = root.Table("http");
    if (!table) return;
    Reader r(*table, "http");
    c.http.hosts = Strings(r, "hosts", CheckHost);
    c.http.origins = Strings(r, "origins", CheckOrigin);
    r.Finish();
}

void ReadUplink(Reader& root, Config& c) {
    const auto* table = root.Table("uplink");
    if (!table) return;
    Reader r(*table, "uplink");
    const auto broker = r.String("broker");
    if (!broker) Fail("uplink.broker", "is required in an [uplink] table");
    ParseBroker(*broker, "uplink.broker", c.uplink);
    c.uplink.ca_file = r.String("ca_file").value_or("");
    c.uplink.station = r.String("station").value_or(c.station);
    c.uplink.username = r.String("username").value_or("");
    c.uplink.password = r.String("password").value_or("");
    r.Finish();
}

}  // namespace

const char* RoleName(Role role) {
    switch (role) {
        case Role::kViewer: return "viewer";
        case Role::kPos: return "pos";
        case Role::kManager: return "manager";
    }
    return "viewer";
}

const GradeConfig* Config::Grade(const std::string& id) const {
    for (const auto& g : grades)
        if (g.id == id) return &g;
    return nullptr;
}

const PumpConfig* Config::Pump(int number) const {
    for (const auto& p : pumps)
        if (p.pump == number) return &p;
    return nullptr;
}

Endpoint ParseEndpoint(const std::string& text, const std::string& key) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) Fail(key, "must be HOST:PORT");
    const std::string port = text.substr(colon + 1);
    if (port.size() > 5 || !std::all_of(port.begin(), port.end(), [](char ch) { return ch >= '0' && ch <= '9'; }))
        Fail(key, "must be HOST:PORT with PORT a number from 0 to 65535");
    const long value = std::stol(port);
    if (value > 65535) Fail(key, "must be HOST:PORT with PORT a number from 0 to 65535");
    std::string host = text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    return {host, static_cast<std::uint16_t>(value)};
}

void ParseBroker(const std::string& url, const std::string& key, UplinkConfig& uplink) {
    const auto sep = url.find("://");
    if (sep == std::string::npos) Fail(key, "must be mqtt://HOST:PORT or mqtts://HOST:PORT");
    const std::string scheme = url.substr(0, sep);
    if (scheme != "mqtt" && scheme != "mqtts") Fail(key, "must be mqtt://HOST:PORT or mqtts://HOST:PORT");
    uplink.broker = ParseEndpoint(url.substr(sep + 3), key);
    if (uplink.broker.port == 0) Fail(key, "needs a port from 1 to 65535");
    uplink.scheme = scheme;
    uplink.url = url;
}

bool IsLoopback(const std::string& host) { return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0; }

int NozzleAddress(const Config& config, const PumpConfig& pump, int nozzle) { return pump.column + config.pist_step * (nozzle - 1); }

Config ParseConfig(const std::string& text, const std::string& source) {
    toml::table root;
    try {
        root = toml::parse(text, source);
    } catch (const toml::parse_error& e) {
        std::ostringstream where;
        where << source << ":" << e.source().begin.line << ":" << e.source().begin.column;
        Fail(where.str(), std::string(e.description()));
    }
    Config c;
    Reader r(root, "");
    c.station = r.String("station").value_or(c.station);
    if (auto listen = r.String("listen")) c.listen = ParseEndpoint(*listen, "listen");
    c.database = r.String("database").value_or(c.database);
    c.unpaid_limit = static_cast<int>(r.Integer("unpaid_limit", 1, 1000).value_or(c.unpaid_limit));
    c.poll_interval_ms = static_cast<int>(r.Integer("poll_interval_ms", 0, 60000).value_or(c.poll_interval_ms));
    c.line_timeout_ms = static_cast<int>(r.Integer("line_timeout_ms", 10, 60000).value_or(c.line_timeout_ms));
    c.line_retries = static_cast<int>(r.Integer("line_retries", 0, 10).value_or(c.line_retries));
    if (const auto* driver = r.Table("driver")) {
        Reader d(*driver, "driver");
        c.driver_flags = static_cast<int>(d.Integer("flags", 0, 255).value_or(0));
        c.pist_step = static_cast<int>(d.Integer("pist_step", 1, 8).value_or(1));
        d.Finish();
    }
    if (const auto* tls = r.Table("tls")) {
        Reader t(*tls, "tls");
        c.tls.cert = t.String("cert").value_or("");
        c.tls.key = t.String("key").value_or("");
        if (c.tls.cert.empty() || c.tls.key.empty()) Fail("tls", "needs both cert and key");
        t.Finish();
    }
    if (const auto* limits = r.Table("limits")) {
        Reader l(*limits, "limits");
        c.limits.body_bytes = static_cast<std::size_t>(l.Integer("body_bytes", 256, 16 << 20).value_or(c.limits.body_bytes));
        c.limits.connections = static_cast<int>(l.Integer("connections", 1, 100000).value_or(c.limits.connections));
        c.limits.per_address = static_cast<int>(l.Integer("per_address", 1, 100000).value_or(c.limits.per_address));
        c.limits.events = static_cast<int>(l.Integer("events", 1, 100000).value_or(c.limits.events));
        c.limits.header_seconds = static_cast<int>(l.Integer("header_seconds", 1, 300).value_or(c.limits.header_seconds));
        c.limits.client_backlog = static_cast<std::size_t>(l.Integer("client_backlog", 1, 1 << 20).value_or(c.limits.client_backlog));
        c.limits.journal = static_cast<std::size_t>(l.Integer("journal", 10, 10000000).value_or(c.limits.journal));
        l.Finish();
    }
    if (const auto* timeouts = r.Table("timeouts")) {
        Reader t(*timeouts, "timeouts");
        auto& to = c.timeouts;
        to.authorize_seconds = static_cast<int>(t.Integer("authorize_seconds", 0, 86400).value_or(to.authorize_seconds));
        to.nozzle_out_seconds = static_cast<int>(t.Integer("nozzle_out_seconds", 0, 86400).value_or(to.nozzle_out_seconds));
        to.no_flow_seconds = static_cast<int>(t.Integer("no_flow_seconds", 0, 86400).value_or(to.no_flow_seconds));
        t.Finish();
    }
    ReadHttp(r, c);
    ReadLines(r, c);
    ForTables(r, "grades", [&](Reader& g) {
        GradeConfig grade;
        grade.id = g.String("id").value_or("");
        if (grade.id.empty()) Fail(g.Key("id"), "is required");
        grade.name = g.String("name").value_or(grade.id);
        const auto price = g.Number("price");
        if (!price) Fail(g.Key("price"), "is required");
        grade.price_cents = PriceCents(*price, g.Key("price"));
        c.grades.push_back(grade);
    });
    ReadPumps(r, c);
    ForTables(r, "tokens", [&](Reader& t) {
        TokenConfig token;
        token.name = t.String("name").value_or("");
        token.token = t.String("token").value_or("");
        if (token.name.empty()) Fail(t.Key("name"), "is required");
        if (token.name == kServiceActor) Fail(t.Key("name"), "\"" + token.name + "\" is the service's own name in the audit trail");
        if (token.token.size() < 16) Fail(t.Key("token"), "must be at least 16 characters");
        token.role = ParseRole(t.String("role").value_or(""), t.Key("role"));
        c.tokens.push_back(token);
    });
    ReadUplink(r, c);
    r.Finish();
    Validate(c);
    return c;
}

Config LoadConfig(const std::string& path) {
    std::ifstream in(path);
    if (!in) Fail(path, "cannot be read");
    std::ostringstream text;
    text << in.rdbuf();
    return ParseConfig(text.str(), path);
}

Config EmulatorConfig() {
    Config c;
    c.station = "emulator";
    c.emulator = true;
    c.grades = {{"95", "Unleaded 95", 185}, {"D", "Diesel", 172}};
    for (int line = 1; line <= 2; ++line) {
        LineConfig lc;
        lc.line = line;
        c.lines.push_back(lc);
        for (int i = 0; i < 4; ++i) c.pumps.push_back(PumpConfig{(line - 1) * 4 + i + 1, line, 1 + 2 * i, {{1, "95"}, {2, "D"}}});
    }
    return c;
}

void Validate(const Config& c) {
    if (c.station.empty()) Fail("station", "must not be empty");
    if (c.database.empty()) Fail("database", "must not be empty");
    if (c.grades.empty()) Fail("grades", "at least one grade is required");
    std::set<std::string> grades;
    for (std::size_t i = 0; i < c.grades.size(); ++i)
        if (!grades.insert(c.grades[i].id).second) Fail("grades[" + std::to_string(i) + "].id", "is used twice");
    std::set<int> lines;
    for (std::size_t i = 0; i < c.lines.size(); ++i)
        if (!lines.insert(c.lines[i].line).second) Fail("lines[" + std::to_string(i) + "].line", "is used twice");
    if (c.pumps.empty()) Fail("pumps", "at least one pump is required");
    std::set<int> numbers;
    std::set<std::pair<int, int>> addresses;
    for (std::size_t i = 0; i < c.pumps.size(); ++i) {
        const auto& p = c.pumps[i];
        const std::string where = "pumps[" + std::to_string(i) + "]";
        if (!numbers.insert(p.pump).second) Fail(where + ".pump", "is used twice");
        if (!lines.count(p.line) && !c.emulator) Fail(where + ".line", "names no line in [[lines]]");
        if (p.nozzles.empty()) Fail(where + ".nozzles", "at least one nozzle is required");
        std::set<int> nozzles;
        for (std::size_t j = 0; j < p.nozzles.size(); ++j) {
            const auto& n = p.nozzles[j];
            const std::string nkey = where + ".nozzles[" + std::to_string(j) + "]";
            if (!nozzles.insert(n.nozzle).second) Fail(nkey + ".nozzle", "is used twice");
            if (!grades.count(n.grade)) Fail(nkey + ".grade", "names no grade in [[grades]]");
            const int address = NozzleAddress(c, p, n.nozzle);
            if (address > 64) Fail(nkey + ".nozzle", "lies at controller address " + std::to_string(address) + ", above 64");
            if (!addresses.insert({p.line, address}).second)
                Fail(nkey + ".nozzle",
                     "shares controller address " + std::to_string(address) + " with another nozzle of line " + std::to_string(p.line));
        }
    }
    std::set<std::string> tokens, names;
    for (std::size_t i = 0; i < c.tokens.size(); ++i) {
        if (!tokens.insert(c.tokens[i].token).second) Fail("tokens[" + std::to_string(i) + "].token", "is used twice");
        // A lock belongs to the name: two tills under one name would clear each other's sales.
        if (!names.insert(c.tokens[i].name).second)
            Fail("tokens[" + std::to_string(i) + "].name", "\"" + c.tokens[i].name + "\" is used twice");
    }
    if (c.tokens.empty() && !IsLoopback(c.listen.host))
        Fail("listen", "a service on " + c.listen.host + " needs [[tokens]]: without them only loopback is allowed");
    if (c.uplink.enabled() && c.uplink.station.empty()) Fail("uplink.station", "must not be empty");
    if (c.uplink.enabled() && c.uplink.station.find_first_of("/+#") != std::string::npos)
        Fail("uplink.station", "must not hold '/', '+' or '#'");
}

}  // namespace forecourt
