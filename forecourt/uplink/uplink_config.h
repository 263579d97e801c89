// How a station reaches its chain's broker, and the topics it publishes under.
#pragma once

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "errors.h"

namespace forecourt::uplink {

struct UplinkConfig {
    std::string broker;    // mqtt://HOST:PORT, or mqtts://HOST:PORT with ca_file
    std::string ca_file;   // the chain's CA certificate (PEM) for mqtts
    std::string station;   // the station id: the topics' second level and the MQTT client id
    std::string username;  // empty: connect without credentials
    std::string password;
    std::chrono::milliseconds reconnect_min{500};  // first wait after a failed or lost connection
    std::chrono::milliseconds reconnect_max{30000};
    std::chrono::milliseconds connect_timeout{10000};  // a connection without CONNACK by then is dropped
    std::chrono::milliseconds pump_interval{500};      // fuelling pump states at most this often
    int keepalive_seconds = 30;                        // a silently cut line is noticed within 1.5 times this
    int window = 64;                                   // sales published and not yet acknowledged, at most
};

struct BrokerAddress {
    std::string host;
    std::uint16_t port = 0;
    bool tls = false;
};

// Reads mqtt://HOST[:PORT] or mqtts://HOST[:PORT] (ports default to 1883 and 8883; decimal only).
BrokerAddress ParseBrokerUrl(const std::string& url);

// Refuses a configuration the uplink cannot run with: a bad broker address, mqtts without a CA
// file, a station id that would break out of its topic level (empty, '/', '+', '#', spaces).
void Validate(const UplinkConfig& config);

// The topics, versioned under dorv/v1/{station}.
std::string StationTopic(const std::string& station, const std::string& leaf);
std::string PumpTopic(const std::string& station, int pump);

}  // namespace forecourt::uplink
