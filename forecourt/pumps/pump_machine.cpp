#include "pump_machine.h"

namespace forecourt {

const char* StateName(PumpState state) {
    switch (state) {
        case PumpState::kOffline: return "offline";
        case PumpState::kIdle: return "idle";
        case PumpState::kCalling: return "calling";
        case PumpState::kAuthorized: return "authorized";
        case PumpState::kFuelling: return "fuelling";
        case PumpState::kStopped: return "stopped";
        case PumpState::kFinished: return "finished";
    }
    return "offline";
}

PumpStep Step(PumpState state, std::optional<int> nozzle, const PumpObservation& seen) {
    using S = PumpState;
    if (!seen.online) return {S::kOffline, nozzle, PumpAction::kNone};
    // A line back from a silence goes on from where the pump was: a finished sale's nozzle
    // still held is not a new call.
    if (state == S::kOffline) state = seen.before_offline;
    const int count = static_cast<int>(seen.codes.size());
    auto code = [&](int n) { return n >= 1 && n <= count ? seen.codes[n - 1] : NozzleCode::kOther; };
    auto first = [&](auto predicate) -> std::optional<int> {
        for (int n = 1; n <= count; ++n)
            if (predicate(code(n))) return n;
        return std::nullopt;
    };
    if (seen.sale) {
        const int n = *seen.sale;
        const NozzleCode c = code(n);
        // Authorized but never started: the start went down with the service or its reply was
        // lost and the pump never took it. Nothing was delivered, so the sale ends (a prepay
        // with its whole refund): a customer may be holding the nozzle, waiting for a start
        // that will never come.
        if (seen.by_totals && c == NozzleCode::kAuthorized) return {state, nozzle, PumpAction::kRelease};
        // Nothing delivered since the authorization, the nozzle not lifted as far as the pump
        // shows: it is withdrawn as one never started.
        if (Started(c) && seen.authorize_expired && !seen.stop_requested) return {state, nozzle, PumpAction::kRelease};
        if (Flowing(c) && seen.no_flow_expired && !seen.stop_requested) return {S::kStopped, n, PumpAction::kStopFilling};
        if (Flowing(c)) return {seen.stop_requested ? S::kStopped : S::kFuelling, n, PumpAction::kReadFilling};
        if (Started(c)) return {seen.stop_requested ? S::kStopped : S::kAuthorized, n, PumpAction::kNone};
        return {state, nozzle, PumpAction::kFinalize};
    }
    if (auto n = first(Flowing)) return {S::kFuelling, n, PumpAction::kNone};  // a free start
    if (auto n = first(Started)) return {S::kAuthorized, n, PumpAction::kNone};
    if (auto n = first([](NozzleCode c) { return c == NozzleCode::kLifted; })) {
        // The customer still holds the nozzle of the sale just finished.
        const bool holding = state == S::kFinished && nozzle == n;
        if (holding) return {S::kFinished, n, seen.nozzle_out_expired ? PumpAction::kAlarm : PumpAction::kNone};
        return {S::kCalling, n, seen.attendant && seen.may_authorize ? PumpAction::kAuthorize : PumpAction::kNone};
    }
    return {S::kIdle, std::nullopt, PumpAction::kNone};
}

}  // namespace forecourt
