// The pump machine: one row per way a poll could move a pump wrongly.
#include <gtest/gtest.h>

#include "pumps/pump_machine.h"

namespace forecourt {
namespace {

using S = PumpState;
using A = PumpAction;
using C = NozzleCode;

struct Row {
    const char* fault;
    S state;
    std::optional<int> nozzle;
    PumpObservation seen;
    PumpStep want;
};

PumpObservation Seen(std::vector<C> codes, std::optional<int> sale = std::nullopt, bool by_totals = false, bool stop = false) {
    PumpObservation o;
    o.codes = std::move(codes);
    o.sale = sale;
    o.by_totals = by_totals;
    o.stop_requested = stop;
    return o;
}

PumpStep Want(S state, std::optional<int> nozzle, A action = A::kNone) {
    PumpStep s;
    s.state = state;
    s.nozzle = nozzle;
    s.action = action;
    return s;
}

// `seen` with one of its flags set.
PumpObservation With(PumpObservation seen, bool PumpObservation::*flag, bool value = true) {
    seen.*flag = value;
    return seen;
}

TEST(PumpMachine, Steps) {
    PumpObservation silent = Seen({C::kDelivering});
    silent.online = false;
    using O = PumpObservation;
    const O attendant = With(Seen({C::kLifted}), &O::attendant);
    O held_when_back = attendant;
    held_when_back.before_offline = S::kFinished;
    const Row rows[] = {
        {"unseen start the pump never took is released", S::kAuthorized, 1, Seen({C::kAuthorized}, 1, true),
         Want(S::kAuthorized, 1, A::kRelease)},
        {"a confirmed authorization waits for the customer", S::kAuthorized, 1, Seen({C::kAuthorized}, 1), Want(S::kAuthorized, 1)},
        {"unseen start that delivers keeps its sale", S::kAuthorized, 1, Seen({C::kDelivering}, 1, true),
         Want(S::kFuelling, 1, A::kReadFilling)},
        {"an ended code may still run: read, not close", S::kFuelling, 1, Seen({C::kEnded}, 1), Want(S::kFuelling, 1, A::kReadFilling)},
        {"a stopped delivery stays stopped", S::kStopped, 2, Seen({C::kHung, C::kDelivering}, 2, false, true),
         Want(S::kStopped, 2, A::kReadFilling)},
        {"a stopped start before delivery stays stopped", S::kStopped, 1, Seen({C::kStarted}, 1, false, true), Want(S::kStopped, 1)},
        {"released nozzle closes the sale", S::kFuelling, 1, Seen({C::kHung}, 1), Want(S::kFuelling, 1, A::kFinalize)},
        {"only the sale's nozzle closes it", S::kFuelling, 2, Seen({C::kDelivering, C::kHung}, 2), Want(S::kFuelling, 2, A::kFinalize)},
        {"a free start shows its own nozzle", S::kIdle, std::nullopt, Seen({C::kHung, C::kDelivering}), Want(S::kFuelling, 2)},
        {"the customer holding the finished nozzle", S::kFinished, 1, Seen({C::kLifted}), Want(S::kFinished, 1)},
        {"another nozzle lifted after a sale calls", S::kFinished, 2, Seen({C::kLifted, C::kHung}), Want(S::kCalling, 1)},
        {"a nozzle the pump does not have never calls", S::kIdle, std::nullopt, Seen({C::kOther, C::kHung}), Want(S::kIdle, std::nullopt)},
        {"attendant mode authorizes a lifted nozzle", S::kIdle, std::nullopt, attendant, Want(S::kCalling, 1, A::kAuthorize)},
        {"attendant mode authorizes nothing a closure or the limit forbids", S::kIdle, std::nullopt,
         With(attendant, &O::may_authorize, false), Want(S::kCalling, 1)},
        {"attendant mode does not authorize the finished sale's nozzle again", S::kFinished, 1, attendant, Want(S::kFinished, 1)},
        {"an authorization nobody came for is withdrawn", S::kAuthorized, 1, With(Seen({C::kAuthorized}, 1), &O::authorize_expired),
         Want(S::kAuthorized, 1, A::kRelease)},
        {"a filling without flow is stopped", S::kFuelling, 1, With(Seen({C::kDelivering}, 1), &O::no_flow_expired),
         Want(S::kStopped, 1, A::kStopFilling)},
        {"a started pump that never delivered is withdrawn in time", S::kAuthorized, 1, With(Seen({C::kStarted}, 1), &O::authorize_expired),
         Want(S::kAuthorized, 1, A::kRelease)},
        {"a filling under way outlives the authorization's time", S::kFuelling, 1, With(Seen({C::kDelivering}, 1), &O::authorize_expired),
         Want(S::kFuelling, 1, A::kReadFilling)},
        {"a filling stopped already is not stopped again", S::kStopped, 1,
         With(Seen({C::kDelivering}, 1, false, true), &O::no_flow_expired), Want(S::kStopped, 1, A::kReadFilling)},
        {"a nozzle left out after its sale raises the alarm", S::kFinished, 1, With(Seen({C::kLifted}), &O::nozzle_out_expired),
         Want(S::kFinished, 1, A::kAlarm)},
        {"a silent line shows offline whatever it said before", S::kFuelling, 1, silent, Want(S::kOffline, 1)},
        {"a finished nozzle still held when its line comes back is not authorized again", S::kOffline, 1, held_when_back,
         Want(S::kFinished, 1)},
    };
    for (const auto& r : rows) EXPECT_EQ(forecourt::Step(r.state, r.nozzle, r.seen), r.want) << r.fault;
}

}  // namespace
}  // namespace forecourt
