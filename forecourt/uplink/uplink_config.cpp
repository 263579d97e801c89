#include "uplink_config.h"

#include <algorithm>
#include <cctype>

namespace forecourt::uplink {

namespace {

std::uint16_t ParsePort(const std::string& text, const std::string& url) {
    const bool digits =
        !text.empty() && text.size() <= 5 && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
    const long port = digits ? std::stol(text, nullptr, 10) : 0;
    if (port < 1 || port > 65535) throw ConfigError("uplink.broker: bad port in '" + url + "'");
    return static_cast<std::uint16_t>(port);
}

}  // namespace

BrokerAddress ParseBrokerUrl(const std::string& url) {
    BrokerAddress a;
    std::string rest;
    if (url.rfind("mqtt://", 0) == 0) {
        rest = url.substr(7);
    } else if (url.rfind("mqtts://", 0) == 0) {
        rest = url.substr(8);
        a.tls = true;
    } else {
        throw ConfigError("uplink.broker: '" + url + "' is not mqtt://HOST:PORT or mqtts://HOST:PORT");
    }
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    std::string port;
    if (!rest.empty() && rest.front() == '[') {  // [IPv6]:PORT
        const auto close = rest.find(']');
        if (close == std::string::npos) throw ConfigError("uplink.broker: unclosed '[' in '" + url + "'");
        a.host = rest.substr(1, close - 1);
        if (close + 1 < rest.size()) {
            if (rest[close + 1] != ':') throw ConfigError("uplink.broker: bad address '" + url + "'");
            port = rest.substr(close + 2);
            if (port.empty()) throw ConfigError("uplink.broker: bad port in '" + url + "'");
        }
    } else {
        const auto colon = rest.find(':');
        a.host = rest.substr(0, colon);
        if (colon != std::string::npos) {
            port = rest.substr(colon + 1);
            if (port.empty()) throw ConfigError("uplink.broker: bad port in '" + url + "'");
        }
    }
    if (a.host.empty() || a.host.find_first_of("/@?# ") != std::string::npos) throw ConfigError("uplink.broker: bad host in '" + url + "'");
    a.port = port.empty() ? (a.tls ? 8883 : 1883) : ParsePort(port, url);
    return a;
}

void Validate(const UplinkConfig& config) {
    const BrokerAddress a = ParseBrokerUrl(config.broker);
    if (a.tls && config.ca_file.empty()) throw ConfigError("uplink.ca_file: mqtts needs the chain's CA file");
    const std::string& s = config.station;
    const bool plain = !s.empty() && s.size() <= 64 &&
                       std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isalnum(c) || c == '-' || c == '_' || c == '.'; });
    if (!plain) throw ConfigError("uplink.station: '" + s + "' must be 1 to 64 of A-Z a-z 0-9 - _ .");
    if (config.password.size() && config.username.empty()) throw ConfigError("uplink.password: given without uplink.username");
}

std::string StationTopic(const std::string& station, const std::string& leaf) { return "dorv/v1/" + station + "/" + leaf; }

std::string PumpTopic(const std::string& station, int pump) { return StationTopic(station, "pumps/" + std::to_string(pump)); }

}  // namespace forecourt::uplink
