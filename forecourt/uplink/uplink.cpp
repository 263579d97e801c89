#include "uplink.h"

#include <mosquitto.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "store/outbox.h"

#include <spdlog/spdlog.h>
#include "pump_throttle.h"

namespace forecourt::uplink {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const char* ToString(UplinkState state) {
    switch (state) {
        case UplinkState::kConnected: return "connected";
        case UplinkState::kConnecting: return "connecting";
        case UplinkState::kDisconnected: break;
    }
    return "disconnected";
}

namespace {

std::string StatusPayload(const std::string& station, bool online) {
    return nlohmann::json{{"state", online ? "online" : "offline"}, {"station", station}}.dump();
}

std::string Reason(int rc) { return rc == MOSQ_ERR_ERRNO ? std::string(std::strerror(errno)) : std::string(mosquitto_strerror(rc)); }

}  // namespace

struct Uplink::Impl {
    Impl(UplinkConfig c, const std::string& database)
        : cfg(std::move(c)),
          address(ParseBrokerUrl(cfg.broker)),
          outbox(database),
          status_topic(StationTopic(cfg.station, "status")),
          throttle(cfg.pump_interval),
          backoff(cfg.reconnect_min) {
        static const int initialised = mosquitto_lib_init();
        (void)initialised;
        wake_fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (wake_fd < 0) throw std::runtime_error(std::string("uplink: eventfd: ") + std::strerror(errno));
        depth = outbox.Depth();
    }
    ~Impl() { ::close(wake_fd); }

    const UplinkConfig cfg;
    const BrokerAddress address;
    Outbox outbox;  // uplink thread only, once started
    const std::string status_topic;
    int wake_fd = -1;

    // Shared with OnEvent's callers.
    mutable std::mutex mutex;
    PumpThrottle throttle;
    std::map<std::string, std::string> retained;  // topic -> latest payload
    std::set<std::string> dirty;                  // retained topics the broker does not hold yet
    bool sale_wake = false;
    std::string last_error;

    std::atomic<UplinkState> state{UplinkState::kDisconnected};
    std::atomic<std::int64_t> depth{0};
    std::atomic<bool> stopping{false};
    std::thread thread;

    // The uplink thread's own.
    mosquitto* mosq = nullptr;
    bool connack_ok = false;
    bool refused = false;
    Clock::time_point attempt_at{}, retry_at{}, counted_at{};
    milliseconds backoff;
    std::minstd_rand random{static_cast<std::uint_fast32_t>(std::hash<std::string>{}(cfg.station) ^
                                                            static_cast<std::size_t>(Clock::now().time_since_epoch().count()))};
    std::unordered_map<int, std::int64_t> inflight;  // message id -> outbox row
    std::vector<std::int64_t> acked;                 // rows the broker has, not yet removed
    std::int64_t last_queued = 0;
    bool drain_wanted = true;
    int offline_mid = -1;
    bool offline_acked = false;

    void Wake() {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(wake_fd, &one, sizeof one);
    }

    void SetError(std::string why) {
        std::lock_guard lock(mutex);
        // Said once per new reason: a broker that stays away is not one line per retry.
        if (!why.empty() && why != last_error) spdlog::warn("event=uplink_failed broker={} reason=\"{}\"", cfg.broker, why);
        last_error = std::move(why);
    }

    static void OnConnect(mosquitto*, void* obj, int rc) {
        auto* self = static_cast<Impl*>(obj);
        if (rc == 0) {
            self->connack_ok = true;
        } else {
            self->refused = true;
            self->SetError(std::string("broker refused the connection: ") + mosquitto_connack_string(rc));
        }
    }

    static void OnPublish(mosquitto*, void* obj, int mid) {
        auto* self = static_cast<Impl*>(obj);
        if (auto it = self->inflight.find(mid); it != self->inflight.end()) {
            self->acked.push_back(it->second);
            self->inflight.erase(it);
            self->drain_wanted = true;
        }
        if (mid == self->offline_mid) self->offline_acked = true;
    }

    void Connect() {
        refused = connack_ok = false;
        mosq = mosquitto_new(cfg.station.c_str(), true, this);
        if (!mosq) return Lost("cannot make an MQTT client");
        mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
        mosquitto_connect_callback_set(mosq, OnConnect);
        mosquitto_publish_callback_set(mosq, OnPublish);
        // The outbox window bounds what is unacknowledged; the library should not queue behind it.
        mosquitto_max_inflight_messages_set(mosq, 0);
        const std::string offline = StatusPayload(cfg.station, false);
        mosquitto_will_set(mosq, status_topic.c_str(), static_cast<int>(offline.size()), offline.data(), 1, true);
        if (!cfg.username.empty())
            mosquitto_username_pw_set(mosq, cfg.username.c_str(), cfg.password.empty() ? nullptr : cfg.password.c_str());
        if (address.tls) {
            const int rc = mosquitto_tls_set(mosq, cfg.ca_file.c_str(), nullptr, nullptr, nullptr, nullptr);
            if (rc != MOSQ_ERR_SUCCESS) return Lost("uplink.ca_file: " + Reason(rc));
        }
        state = UplinkState::kConnecting;
        spdlog::debug("event=uplink_connecting broker={}", cfg.broker);
        attempt_at = Clock::now();
        const int rc = mosquitto_connect_async(mosq, address.host.c_str(), address.port, cfg.keepalive_seconds);
        if (rc != MOSQ_ERR_SUCCESS) Lost("cannot reach " + cfg.broker + ": " + Reason(rc));
    }

    // Drops the connection: what was in flight goes again, from the oldest row, on the next one.
    void Lost(const std::string& why) {
        if (mosq) mosquitto_destroy(mosq);
        mosq = nullptr;
        state = UplinkState::kDisconnected;
        inflight.clear();
        last_queued = 0;
        offline_mid = -1;
        SetError(why);
        // Half to all of the backoff, so a chain's stations do not all return in the same instant.
        retry_at =
            Clock::now() + std::chrono::duration_cast<milliseconds>(backoff * std::uniform_real_distribution<double>(0.5, 1.0)(random));
        backoff = std::min(backoff * 2, cfg.reconnect_max);
    }

    // Waits for the socket or a wake-up, at most `timeout`, then reads, writes and keeps alive.
    void Step(milliseconds timeout) {
        pollfd fds[2] = {{wake_fd, POLLIN, 0}, {-1, 0, 0}};
        const int sock = mosq ? mosquitto_socket(mosq) : -1;
        if (sock >= 0) fds[1] = {sock, static_cast<short>(POLLIN | (mosquitto_want_write(mosq) ? POLLOUT : 0)), 0};
        ::poll(fds, 2, static_cast<int>(std::max<milliseconds::rep>(timeout.count(), 0)));
        if (fds[0].revents & POLLIN) {
            std::uint64_t n;
            [[maybe_unused]] auto r = ::read(wake_fd, &n, sizeof n);
        }
        if (!mosq) return;
        int rc = MOSQ_ERR_SUCCESS;
        if (fds[1].revents & (POLLIN | POLLERR | POLLHUP)) rc = mosquitto_loop_read(mosq, 100);
        if (rc == MOSQ_ERR_SUCCESS && mosq && mosquitto_socket(mosq) >= 0 && mosquitto_want_write(mosq))
            rc = mosquitto_loop_write(mosq, 100);
        if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop_misc(mosq);
        if (refused) {
            std::string why;
            {
                std::lock_guard lock(mutex);
                why = last_error;
            }
            Lost(why);
        } else if (rc != MOSQ_ERR_SUCCESS || mosquitto_socket(mosq) < 0) {
            Lost("connection to " + cfg.broker + " lost: " + Reason(rc == MOSQ_ERR_SUCCESS ? MOSQ_ERR_CONN_LOST : rc));
        } else if (state == UplinkState::kConnecting && connack_ok) {
            Connected();
        } else if (state == UplinkState::kConnecting && Clock::now() - attempt_at > cfg.connect_timeout) {
            Lost("no answer from " + cfg.broker);
        }
    }

    void Connected() {
        state = UplinkState::kConnected;
        spdlog::info("event=uplink_connected broker={}", cfg.broker);
        backoff = cfg.reconnect_min;
        SetError("");
        Publish(status_topic, StatusPayload(cfg.station, true), true);
        std::lock_guard lock(mutex);
        for (const auto& [topic, payload] : retained) dirty.insert(topic);
        drain_wanted = true;
    }

    int Publish(const std::string& topic, const std::string& payload, bool retain) {
        int mid = -1;
        mosquitto_publish(mosq, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1, retain);
        return mid;
    }

    void PublishStates() {
        std::vector<std::pair<std::string, std::string>> out;
        {
            std::lock_guard lock(mutex);
            for (auto& [pump, payload] : throttle.Due(Clock::now())) {
                const std::string topic = PumpTopic(cfg.station, pump);
                retained[topic] = std::move(payload);
                dirty.insert(topic);
            }
            if (sale_wake) drain_wanted = true;
            sale_wake = false;
            if (state != UplinkState::kConnected) return;
            for (const auto& topic : dirty) out.emplace_back(topic, retained[topic]);
            dirty.clear();
        }
        for (const auto& [topic, payload] : out) Publish(topic, payload, true);
    }

    void Drain() {
        const int room = cfg.window - static_cast<int>(inflight.size());
        if (state != UplinkState::kConnected || !drain_wanted || room <= 0) return;
        drain_wanted = false;
        try {
            for (const auto& row : outbox.After(last_queued, room)) {
                int mid = -1;
                const int rc =
                    mosquitto_publish(mosq, &mid, row.topic.c_str(), static_cast<int>(row.payload.size()), row.payload.data(), 1, false);
                if (rc != MOSQ_ERR_SUCCESS) {
                    // Mostly the connection going: the row goes on the next one. A row the library
                    // itself refuses stays where it is, and says so rather than stall unseen.
                    if (rc != MOSQ_ERR_NO_CONN && rc != MOSQ_ERR_CONN_LOST)
                        SetError("outbox row " + std::to_string(row.id) + ": " + Reason(rc));
                    break;
                }
                inflight[mid] = row.id;
                last_queued = row.id;
            }
        } catch (const StoreError& e) {
            SetError(e.what());
            drain_wanted = true;
        }
    }

    void Settle(bool count) {
        try {
            if (!acked.empty()) {
                outbox.Remove(acked);
                acked.clear();
                count = true;
            }
            if (count) {
                depth = outbox.Depth();
                counted_at = Clock::now();
            }
        } catch (const StoreError& e) {
            SetError(e.what());
        }
    }

    milliseconds Timeout() {
        const auto now = Clock::now();
        auto until = now + milliseconds(1000);
        if (!mosq) until = std::min(until, retry_at);
        {
            std::lock_guard lock(mutex);
            if (auto due = throttle.NextDue()) until = std::min(until, *due);
        }
        return std::chrono::ceil<milliseconds>(until - now);
    }

    void Run() {
        while (!stopping) {
            if (!mosq && Clock::now() >= retry_at) Connect();
            Step(Timeout());
            PublishStates();
            const bool second = Clock::now() - counted_at >= milliseconds(1000);
            if (second) drain_wanted = true;  // rows another process wrote without telling us
            Settle(second);
            Drain();
        }
        if (mosq && state == UplinkState::kConnected) {
            offline_acked = false;
            offline_mid = Publish(status_topic, StatusPayload(cfg.station, false), true);
            const auto deadline = Clock::now() + milliseconds(1000);
            while (mosq && !offline_acked && Clock::now() < deadline) Step(milliseconds(50));
            Settle(true);
            if (mosq) {
                mosquitto_disconnect(mosq);
                mosquitto_loop_write(mosq, 1);
            }
        }
        if (mosq) mosquitto_destroy(mosq);
        mosq = nullptr;
        state = UplinkState::kDisconnected;
    }
};

Uplink::Uplink(UplinkConfig config, const std::string& database) {
    Validate(config);
    if (!config.ca_file.empty() && !std::ifstream(config.ca_file)) throw ConfigError("uplink.ca_file: cannot read " + config.ca_file);
    impl_ = std::make_unique<Impl>(std::move(config), database);
}

Uplink::~Uplink() { Stop(); }

void Uplink::Start() {
    if (impl_->thread.joinable()) return;
    impl_->stopping = false;
    impl_->thread = std::thread([this] { impl_->Run(); });
}

void Uplink::Stop() {
    if (!impl_->thread.joinable()) return;
    impl_->stopping = true;
    impl_->Wake();
    impl_->thread.join();
}

void Uplink::OnEvent(const nlohmann::json& envelope) {
    if (!envelope.is_object() || !envelope.contains("type") || !envelope.contains("data")) return;
    const auto& type = envelope["type"];
    const auto& data = envelope["data"];
    if (!type.is_string() || !data.is_object()) return;
    Impl& m = *impl_;
    if (type == "sale") {
        std::lock_guard lock(m.mutex);
        m.sale_wake = true;
    } else if (type == "pump") {
        const auto n = data.find("pump");
        if (n == data.end() || !n->is_number_integer() || n->get<long long>() < 1 || n->get<long long>() > 9999) return;
        const int pump = n->get<int>();
        const auto st = data.find("state");
        const bool fuelling = st != data.end() && *st == "fuelling";
        std::lock_guard lock(m.mutex);
        if (auto now = m.throttle.Offer(pump, data.dump(), fuelling, Clock::now())) {
            const std::string topic = PumpTopic(m.cfg.station, pump);
            m.retained[topic] = std::move(*now);
            m.dirty.insert(topic);
        }
    } else if (type == "prices") {
        std::lock_guard lock(m.mutex);
        const std::string topic = StationTopic(m.cfg.station, "prices");
        m.retained[topic] = data.dump();
        m.dirty.insert(topic);
    } else {
        return;
    }
    m.Wake();
}

UplinkState Uplink::State() const { return impl_->state; }

std::int64_t Uplink::OutboxDepth() const { return impl_->depth; }

std::string Uplink::LastError() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->last_error;
}

std::string Uplink::MetricsText() const {
    std::string text = "# TYPE dorv_uplink_outbox_depth gauge\ndorv_uplink_outbox_depth " + std::to_string(OutboxDepth()) +
                       "\n# TYPE dorv_uplink_state gauge\n";
    const UplinkState now = State();
    for (UplinkState s : {UplinkState::kDisconnected, UplinkState::kConnecting, UplinkState::kConnected})
        text += std::string("dorv_uplink_state{state=\"") + ToString(s) + "\"} " + (s == now ? "1" : "0") + "\n";
    // Why the last connection failed, as a label (escaped as the text format wants it).
    const std::string error = LastError();
    if (error.empty()) return text;
    std::string label;
    for (char c : error) label += c == '\\' ? "\\\\" : c == '"' ? "\\\"" : c == '\n' ? "\\n" : std::string(1, c);
    return text + "# TYPE dorv_uplink_last_error_info gauge\ndorv_uplink_last_error_info{reason=\"" + label + "\"} 1\n";
}

}  // namespace forecourt::uplink
