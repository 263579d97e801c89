// What the store keeps: sales, price sets, journaled events; and their JSON shapes, which the
// API, the event stream and the uplink's outbox share.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace forecourt {

// Money and volumes are kept in hundredths: centilitres and cents, as the controllers count.
struct Preset {
    enum class Kind { kNone, kVolume, kAmount };
    Kind kind = Kind::kNone;
    std::int64_t hundredths = 0;
    bool operator==(const Preset&) const = default;
};

struct Totalizer {
    std::int64_t volume_cl = 0;
    std::int64_t amount_cents = 0;
};

// A filling from its authorization on. "open" while authorized or fuelling, "void" when it
// ended without delivering; the API shows the others: payable, locked and cleared, and the
// final drive_off (left unpaid) and test (fuel returned to the tank). A prepaid sale never
// goes void: delivering nothing, it stays payable with its whole prepay to refund.
struct Sale {
    std::int64_t id = 0;
    int pump = 0;
    int nozzle = 0;
    std::string grade;
    std::int64_t price_cents = 0;
    std::int64_t price_set = 0;
    Preset preset;
    std::string state = "open";
    std::int64_t volume_cl = 0;
    std::int64_t amount_cents = 0;
    std::string started;
    std::string ended;
    std::optional<Totalizer> before;
    std::optional<Totalizer> after;
    std::string locked_by;
    std::string cleared;
    bool reconciled = false;
    std::optional<std::int64_t> prepaid_cents;  // taken by the till before the filling
    std::string marked_by;                      // who marked it a drive-off or a test

    // What a prepay gives back: the prepaid money less what was delivered.
    std::optional<std::int64_t> RefundCents() const {
        if (!prepaid_cents) return std::nullopt;
        return *prepaid_cents - amount_cents;
    }
};

// One request that changed something, or tried to: who, which operation on what, and the answer.
struct AuditEntry {
    std::int64_t id = 0;
    std::string time;
    std::string actor;
    std::string operation;  // the route's operationId
    std::string target;     // "pump 3", "sale 12", "prices"
    int status = 0;
    std::string error;  // the answer's error code; empty with a success
};

struct GradePrice {
    std::string grade;
    std::string name;
    std::int64_t price_cents = 0;
};

struct PriceSet {
    std::int64_t id = 0;
    std::string since;
    std::vector<GradePrice> grades;
    const GradePrice* Find(const std::string& grade) const;
};

// A price change waiting for its time: the grades it names take these prices at valid_from.
struct PendingPrices {
    std::int64_t id = 0;
    std::string valid_from;  // the store's UTC text, as UtcNow writes it
    std::vector<GradePrice> grades;
};

// Who took a pump out of use, or stopped the whole forecourt, when and why.
struct Closure {
    std::string reason;
    std::string since;
    std::string by;
    bool operator==(const Closure&) const = default;
};

// What a manager set on a pump, kept across restarts.
struct PumpControl {
    std::optional<Closure> closed;
    bool attendant = false;  // a lifted nozzle is authorized by the service, without a till
    bool operator==(const PumpControl&) const = default;
};

// A nozzle's totalizers as a shift's open or close read them. `at` is when its line was read:
// the line's sales that ended up to then are in the reading, later ones are not.
struct ShiftReading {
    int pump = 0;
    int nozzle = 0;
    std::string grade;
    std::string at;
    std::optional<Totalizer> totalizer;  // none: the line did not answer, which is no reading of 0
};

// A shift from its open to its close; `report` (JSON) is written with the close.
struct Shift {
    std::int64_t id = 0;
    std::string opened;
    std::string opened_by;
    std::string closed;  // empty while open
    std::string closed_by;
    bool unread = false;  // a nozzle could not be read at the open or the close
    nlohmann::json report;
};

struct JournalEvent {
    std::int64_t seq = 0;
    std::string text;  // the serialised envelope
};

double Hundredths(std::int64_t value);
std::int64_t ToHundredths(double value);
std::string UtcNow();

nlohmann::json PresetJson(const Preset& preset);
nlohmann::json SaleJson(const Sale& sale);
nlohmann::json PriceSetJson(const PriceSet& prices);
// {"id", "valid_from", "grades"}.
nlohmann::json PendingPricesJson(const PendingPrices& pending);
nlohmann::json AuditJson(const AuditEntry& entry);
// {"reason", "since", "by"}, or null.
nlohmann::json ClosureJson(const std::optional<Closure>& closure);
// The shift with its report when `report` and the shift is closed.
nlohmann::json ShiftJson(const Shift& shift, bool report = true);
nlohmann::json TotalizerJson(const std::optional<Totalizer>& totalizer);

}  // namespace forecourt
