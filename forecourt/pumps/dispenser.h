// A line's dispensers as the pump model sees them: poll the nozzles, read a filling or the
// totalizers, authorize with price and preset, stop. An implementation speaks one protocol
// and decides in one place whether the controller answered; nothing above it sees the
// protocol's bytes.
//
// Threads: one Dispenser belongs to its line's poll thread; Health may be called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/config.h"
#include "store/records.h"

namespace forecourt {

enum class NozzleCode {
    kHung,        // idle, nozzle in its holder
    kLifted,      // nozzle lifted, pump not started
    kAuthorized,  // authorized, not started
    kStarted,     // pump on, nothing delivered yet
    kDelivering,  // a filling under way
    kEnded,       // the filling was seen to end but may still be running
    kOther,
};

// Delivering or just ended: the filling's readings are worth taking.
inline bool Flowing(NozzleCode c) { return c == NozzleCode::kDelivering || c == NozzleCode::kEnded; }
inline bool Started(NozzleCode c) { return c == NozzleCode::kAuthorized || c == NozzleCode::kStarted; }

struct NozzleReading {
    NozzleCode code = NozzleCode::kOther;
    int raw = 0;  // the controller's own code, shown to clients as it came
};

struct Delivery {
    std::int64_t volume_cl = 0;
    std::int64_t amount_cents = 0;
};

struct Reply {
    enum class Kind { kOk, kSilent, kRefused, kInvalid };
    Kind kind = Kind::kOk;
    int code = 0;         // the controller's refusal code, with kRefused
    std::string message;  // what went wrong; empty with a plain silence

    bool Ok() const { return kind == Kind::kOk; }
};

struct LineHealth {
    int state = 0;  // the link's state after the latest exchange
    std::uint64_t exchanges = 0;
    std::uint64_t failures = 0;
};

class Dispenser {
public:
    virtual ~Dispenser() = default;

    // Once, before the first poll; a line that cannot be set up shows in the polls.
    virtual void Open() = 0;
    // Each nozzle of the column, nozzle n at n - 1; none when the controller did not answer.
    virtual std::optional<std::vector<NozzleReading>> Poll(int column, int nozzles) = 0;
    // The running filling of the column as the controller counts it.
    virtual std::optional<Delivery> Filling(int column) = 0;
    virtual std::optional<Totalizer> Totals(int column, int nozzle) = 0;
    // Sends the price and the preset, then the authorization. `sent` says whether the
    // authorization went out: from then on the pump may start, whatever the reply says.
    virtual Reply Authorize(int column, int nozzle, std::int64_t price_cents, const Preset& preset, bool& sent) = 0;
    // Stops a delivery (`flowing`) or withdraws an authorization.
    virtual Reply Stop(int column, int nozzle, bool flowing) = 0;
    // Withdraws an authorization the pump never started on; true when the controller answered.
    virtual bool Release(int column, int nozzle) = 0;
    virtual LineHealth Health() const = 0;
};

using DispenserFactory = std::function<std::unique_ptr<Dispenser>(const LineConfig& line)>;

}  // namespace forecourt
