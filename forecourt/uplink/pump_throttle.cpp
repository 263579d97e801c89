#include "pump_throttle.h"

namespace forecourt::uplink {

std::optional<std::string> PumpThrottle::Offer(int pump, const std::string& payload, bool fuelling, Clock::time_point now) {
    auto [it, fresh] = pumps_.try_emplace(pump);
    Pump& p = it->second;
    if (!fresh && payload == p.sent) {
        p.held.reset();  // back to what the broker holds: nothing left to send
        return std::nullopt;
    }
    if (!fresh && fuelling && now - p.sentAt < interval_) {
        p.held = payload;
        return std::nullopt;
    }
    p.sent = payload;
    p.sentAt = now;
    p.held.reset();
    return payload;
}

std::vector<std::pair<int, std::string>> PumpThrottle::Due(Clock::time_point now) {
    std::vector<std::pair<int, std::string>> due;
    for (auto& [pump, p] : pumps_) {
        if (p.held && now - p.sentAt >= interval_) {
            p.sent = std::move(*p.held);
            p.sentAt = now;
            p.held.reset();
            due.emplace_back(pump, p.sent);
        }
    }
    return due;
}

std::optional<PumpThrottle::Clock::time_point> PumpThrottle::NextDue() const {
    std::optional<Clock::time_point> next;
    for (const auto& [pump, p] : pumps_)
        if (p.held && (!next || p.sentAt + interval_ < *next)) next = p.sentAt + interval_;
    return next;
}

}  // namespace forecourt::uplink
