// Which pump states go out and when: every change, but a fuelling pump at most once per
// interval, and the last state of a burst always (sent when its interval ends).
// Pure logic over a clock the caller passes; not thread-safe.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace forecourt::uplink {

class PumpThrottle {
public:
    using Clock = std::chrono::steady_clock;

    explicit PumpThrottle(std::chrono::milliseconds interval) : interval_(interval) {}

    // A new state of `pump`. Returns the payload to send now, or nothing when it is unchanged or
    // held for the end of the interval (a later state replaces a held one).
    std::optional<std::string> Offer(int pump, const std::string& payload, bool fuelling, Clock::time_point now);
    // The held states whose interval has ended, taken as sent.
    std::vector<std::pair<int, std::string>> Due(Clock::time_point now);
    // When the next held state falls due.
    std::optional<Clock::time_point> NextDue() const;

private:
    struct Pump {
        std::string sent;
        Clock::time_point sentAt{};
        std::optional<std::string> held;
    };
    std::chrono::milliseconds interval_;
    std::map<int, Pump> pumps_;
};

}  // namespace forecourt::uplink
