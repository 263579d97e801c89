#include "records.h"

#include <chrono>
#include <cmath>
#include <ctime>

namespace forecourt {

const GradePrice* PriceSet::Find(const std::string& grade) const {
    for (const auto& g : grades)
        if (g.grade == grade) return &g;
    return nullptr;
}

double Hundredths(std::int64_t value) { return static_cast<double>(value) / 100.0; }

std::int64_t ToHundredths(double value) { return static_cast<std::int64_t>(std::llround(value * 100.0)); }

std::string UtcNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm{};
    ::gmtime_r(&seconds, &tm);
    char text[40];
    const auto n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
    std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(millis));
    return text;
}

nlohmann::json PresetJson(const Preset& preset) {
    switch (preset.kind) {
        case Preset::Kind::kVolume: return {{"volume", Hundredths(preset.hundredths)}};
        case Preset::Kind::kAmount: return {{"amount", Hundredths(preset.hundredths)}};
        case Preset::Kind::kNone: break;
    }
    return nullptr;
}

nlohmann::json TotalizerJson(const std::optional<Totalizer>& t) {
    if (!t) return nullptr;
    return {{"volume", Hundredths(t->volume_cl)}, {"amount", Hundredths(t->amount_cents)}};
}

namespace {
nlohmann::json TextOrNull(const std::string& text) { return text.empty() ? nlohmann::json(nullptr) : nlohmann::json(text); }
}  // namespace

nlohmann::json SaleJson(const Sale& s) {
    return {{"id", s.id},
            {"pump", s.pump},
            {"nozzle", s.nozzle},
            {"grade", s.grade},
            {"price", Hundredths(s.price_cents)},
            {"price_set", s.price_set},
            {"volume", Hundredths(s.volume_cl)},
            {"amount", Hundredths(s.amount_cents)},
            {"preset", PresetJson(s.preset)},
            {"started", s.started},
            {"ended", s.ended},
            {"totals_before", TotalizerJson(s.before)},
            {"totals_after", TotalizerJson(s.after)},
            {"state", s.state},
            {"locked_by", TextOrNull(s.locked_by)},
            {"cleared", TextOrNull(s.cleared)},
            {"reconciled", s.reconciled},
            {"prepaid", s.prepaid_cents ? nlohmann::json(Hundredths(*s.prepaid_cents)) : nlohmann::json(nullptr)},
            {"refund", s.RefundCents() ? nlohmann::json(Hundredths(*s.RefundCents())) : nlohmann::json(nullptr)},
            {"marked_by", TextOrNull(s.marked_by)}};
}

nlohmann::json PriceSetJson(const PriceSet& prices) {
    auto grades = nlohmann::json::array();
    for (const auto& g : prices.grades) grades.push_back({{"grade", g.grade}, {"name", g.name}, {"price", Hundredths(g.price_cents)}});
    return {{"price_set", prices.id}, {"since", prices.since}, {"grades", grades}};
}

nlohmann::json PendingPricesJson(const PendingPrices& pending) {
    PriceSet board{0, {}, pending.grades};
    return {{"id", pending.id}, {"valid_from", pending.valid_from}, {"grades", PriceSetJson(board)["grades"]}};
}

nlohmann::json AuditJson(const AuditEntry& e) {
    return {{"id", e.id},
            {"time", e.time},
            {"actor", e.actor},
            {"operation", e.operation},
            {"target", e.target},
            {"status", e.status},
            {"error", TextOrNull(e.error)}};
}

nlohmann::json ClosureJson(const std::optional<Closure>& closure) {
    if (!closure) return nullptr;
    return {{"reason", closure->reason}, {"since", closure->since}, {"by", closure->by}};
}

nlohmann::json ShiftJson(const Shift& s, bool report) {
    nlohmann::json json = {{"id", s.id},
                           {"state", s.closed.empty() ? "open" : "closed"},
                           {"opened", s.opened},
                           {"opened_by", s.opened_by},
                           {"closed", TextOrNull(s.closed)},
                           {"closed_by", TextOrNull(s.closed_by)},
                           {"unread", s.unread}};
    if (report) json["report"] = s.closed.empty() ? nlohmann::json(nullptr) : s.report;
    return json;
}

}  // namespace forecourt
