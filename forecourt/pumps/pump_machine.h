// A pump's life as a pure state machine: one poll's nozzle codes and what the forecourt knows of
// the open sale go in; the pump's next state and what to do about the sale come out. No threads,
// no I/O: the forecourt runs the action (reading the pump, writing the store) and the machine
// decides nothing beyond this one poll.
#pragma once

#include <optional>
#include <vector>

#include "dispenser.h"

namespace forecourt {

enum class PumpState { kOffline, kIdle, kCalling, kAuthorized, kFuelling, kStopped, kFinished };

// The state's name in the pump's JSON.
const char* StateName(PumpState state);

struct PumpObservation {
    bool online = true;             // false: the line stopped answering, the codes mean nothing
    std::vector<NozzleCode> codes;  // nozzle n at n - 1; kOther where the pump has no nozzle
    std::optional<int> sale;        // the open sale's nozzle
    bool by_totals = false;         // the sale's start was not seen: it is read from the totalizers
    bool stop_requested = false;
    bool attendant = false;           // the service authorizes a lifted nozzle itself
    bool may_authorize = true;        // not closed, no emergency stop, under the unpaid limit
    bool authorize_expired = false;   // the open sale was authorized too long ago to start now
    bool no_flow_expired = false;     // the open sale's filling delivered nothing for too long
    bool nozzle_out_expired = false;  // the finished sale's nozzle is still out, and no alarm yet
    // For a pump shown offline: what it showed before its line went silent.
    PumpState before_offline = PumpState::kOffline;
};

enum class PumpAction {
    kNone,
    kRelease,      // withdraw the authorization the pump never started on, then close the sale
    kReadFilling,  // take the running filling's readings
    kFinalize,     // the nozzle is back: close the sale from its readings
    kAuthorize,    // attendant mode: authorize the lifted nozzle, without a preset
    kStopFilling,  // the filling delivers nothing: stop it
    kAlarm,        // the nozzle stays out after its sale: raise the alarm
};

struct PumpStep {
    PumpState state = PumpState::kOffline;
    std::optional<int> nozzle;
    PumpAction action = PumpAction::kNone;

    bool operator==(const PumpStep&) const = default;
};

// With kRelease and kFinalize the state is left as it was: closing the sale decides it.
PumpStep Step(PumpState state, std::optional<int> nozzle, const PumpObservation& seen);

}  // namespace forecourt
