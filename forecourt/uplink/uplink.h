// The station's uplink to its chain's MQTT broker.
//
// Publishes under dorv/v1/{station}/: pumps/{n} (retained, on change, a fuelling pump at most
// twice a second with its last state always sent), prices (retained), status (retained
// online/offline, offline also as the last will), and sales: the outbox rows in id order at
// QoS 1, each removed only once the broker acknowledged it. Reconnects with backoff; whatever
// was not acknowledged is sent again, so consumers drop duplicates by sale id.
//
// Threads: the uplink runs its own thread between start and stop. OnEvent, state, outbox_depth
// and last_error may be called from any thread at any time; start and stop from one owner thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "uplink_config.h"

namespace forecourt::uplink {

enum class UplinkState { kDisconnected, kConnecting, kConnected };
const char* ToString(UplinkState state);

class Uplink {
public:
    // Checks the configuration and that the CA file reads (ConfigError), and opens the outbox in
    // `database` (StoreError).
    Uplink(UplinkConfig config, const std::string& database);
    ~Uplink();  // stops
    Uplink(const Uplink&) = delete;
    Uplink& operator=(const Uplink&) = delete;

    void Start();
    // Says offline on the status topic while connected (waiting at most a second for the
    // broker), disconnects and ends the thread. Rows not yet acknowledged stay in the outbox.
    void Stop();

    // One event of the service's hub: {"seq", "time", "type", "data"}. Pump and prices events
    // update the retained topics; sale events wake the outbox; others and malformed ones are
    // ignored. Never blocks on the network.
    void OnEvent(const nlohmann::json& envelope);

    UplinkState State() const;
    // Rows waiting in the outbox, as last counted (at least once a second while running).
    std::int64_t OutboxDepth() const;
    // Why the last connection failed or ended; empty once connected.
    std::string LastError() const;
    // The outbox depth and the state as Prometheus text lines.
    std::string MetricsText() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace forecourt::uplink
