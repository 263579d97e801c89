// The forecourt: every pump of the station, driven through the driver's slots by one poll
// thread per line. It knows no socket: the API calls it and hears back through a callback,
// and every change goes out through the event hub.
//
// A filling is a sale from its authorization on (stored before the pump is told); it becomes
// payable when the poll sees the nozzle released, with the readings of the filling, or void
// when nothing was delivered. After a restart the open sales are taken up again and read back
// from the controller's totalizers, so each filling becomes exactly one sale.
//
// Threads: every public call may come from any thread. Commands for a pump run on its line's
// thread between polls (the driver's slots for one column must not overlap); `Done` is called
// from that thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "config/config.h"
#include "pumps/dispenser.h"
#include "pumps/pump_machine.h"
#include "store/records.h"

namespace forecourt {

class EventHub;
class Store;
struct AuditNote;

struct Outcome {
    enum class Kind {
        kOk,
        kBadRequest,
        kNotFound,
        kConflict,
        kRefused,
        kUnpaidLimit,
        kOffline,
        kForbidden,
        kStoreFailed,
        kBusy,
        kIncomplete
    };
    Kind kind = Kind::kOk;
    std::string message;
    int code = 0;         // the driver's refusal code, for kRefused
    nlohmann::json body;  // the answer; with a failure, more fields of the error (each pump's result, say)
    std::string error;    // the failure's stable code where the kind's own is too broad

    static Outcome Ok(nlohmann::json body) { return {Kind::kOk, {}, 0, std::move(body), {}}; }
    static Outcome Fail(Kind kind, std::string message, int code = 0) { return {kind, std::move(message), code, nullptr, {}}; }
    static Outcome Error(Kind kind, std::string error, std::string message) {
        return {kind, std::move(message), 0, nullptr, std::move(error)};
    }
};
using Done = std::function<void(Outcome)>;
// The kind's stable code in an error answer, where the outcome names none of its own.
const char* ErrorCode(Outcome::Kind kind);

struct AuthorizeRequest {
    std::optional<int> nozzle;
    Preset preset;
    std::optional<std::int64_t> prepay;  // money the till took: the preset is this amount
};

struct LineMetrics {
    int line = 0;
    bool online = false;
    std::uint64_t exchanges = 0;
    std::uint64_t failures = 0;
    double poll_ms = 0;
    std::uint64_t cycles = 0;
};

// The latest serialized view of a pump or of the list: readers copy the pointer under a lock held
// for that copy alone, and the bytes behind it never change once stored.
class ViewCell {
public:
    std::shared_ptr<const std::string> load() const {
        std::lock_guard lock(mutex_);
        return view_;
    }
    void store(std::shared_ptr<const std::string> view) {
        std::lock_guard lock(mutex_);
        view_.swap(view);
    }

private:
    mutable std::mutex mutex_;
    std::shared_ptr<const std::string> view_;
};

class Forecourt {
public:
    // Each line gets the dispenser `dispensers` makes for it.
    Forecourt(const Config& config, Store& store, EventHub& hub, const DispenserFactory& dispensers);
    ~Forecourt();  // stops the poll threads
    Forecourt(const Forecourt&) = delete;
    Forecourt& operator=(const Forecourt&) = delete;

    void Start();
    void Stop();

    // A view is the pump's JSON as last published, serialized once: readers take the bytes
    // without the pump lock and without building JSON.
    using View = std::shared_ptr<const std::string>;
    View PumpsView() const;         // {"pumps": [...]}
    View PumpView(int pump) const;  // null: no such pump
    // The forecourt's JSON with `extra`'s fields added at the top.
    std::string ForecourtText(const nlohmann::json& extra) const;
    nlohmann::json PumpsJson() const;
    std::vector<LineMetrics> Metrics() const;
    int LinesOnline() const;
    bool Emulated() const { return config_.emulator; }

    // `client` names the caller: line commands are bounded per client and per line, so that no
    // caller holds up the poll or another's commands; one over its share hears kBusy.
    void Authorize(int pump, AuthorizeRequest request, const std::string& client, Done done);
    void StopPump(int pump, Done done);
    // Stops every pump; answers each pump's result, and kIncomplete while any could not be stopped.
    void StopAll(Done done);
    void Totals(int pump, const std::string& client, Done done);
    // A manager takes a pump out of use or back; a filling under way finishes its sale. Kept
    // across restarts. Each answers the pump's JSON.
    Outcome Close(int pump, const std::string& reason, const std::string& by, AuditNote* audit = nullptr);
    Outcome Open(int pump, AuditNote* audit = nullptr);
    Outcome SetMode(int pump, bool attendant, AuditNote* audit = nullptr);
    // Stops every pump as StopAll does, and refuses every authorization until a manager
    // releases it; kept across restarts.
    void EmergencyStop(const std::string& by, Done done);
    Outcome ReleaseEmergencyStop(const std::string& by, AuditNote* audit = nullptr);

    // A prepay whose nozzle is still in its holder: withdrawn, and its whole prepay refunded.
    void Cancel(std::int64_t sale, Done done);
    // The same prepay withdrawn here and authorized on `pump` (the nozzle of its grade unless
    // `nozzle` names one); should the new pump refuse it, it ends as a full refund.
    void Move(std::int64_t sale, int pump, std::optional<int> nozzle, const std::string& client, Done done);

    PriceSet Prices() const;
    // The board and, under "pending", the changes waiting for their time.
    nlohmann::json PricesJson() const;
    // `audit`, when given, is written in the change's own transaction.
    Outcome SetPrices(const std::vector<std::pair<std::string, std::int64_t>>& prices, AuditNote* audit = nullptr);
    // The change is kept and takes effect at `valid_from` (the store's UTC text, later than now),
    // as SetPrices would make it then; answers the pending change.
    Outcome SchedulePrices(const std::vector<std::pair<std::string, std::int64_t>>& prices, const std::string& valid_from,
                           AuditNote* audit = nullptr);
    // Answers PricesJson; kConflict when the change took effect already.
    Outcome CancelPendingPrices(std::int64_t id, AuditNote* audit = nullptr);
    Outcome Lock(std::int64_t sale, const std::string& holder, AuditNote* audit = nullptr);
    Outcome Clear(std::int64_t sale, const std::string& holder, AuditNote* audit = nullptr);
    Outcome Unlock(std::int64_t sale, AuditNote* audit = nullptr);
    // A payable sale settled as a drive-off or a test delivery (`state`) by `who`.
    Outcome Mark(std::int64_t sale, const std::string& state, const std::string& who, AuditNote* audit = nullptr);
    // A customer lifts or hangs a nozzle on the emulator serving the pump's line.
    Outcome MoveNozzle(int pump, int nozzle, bool lift);

    // Every nozzle's totalizers, each line read on its own thread between polls, so that none of
    // its sales ends while it is read; a line that does not answer gives readings without
    // totalizers. `done` is called once, on any thread.
    void ReadAllTotals(std::function<void(std::vector<ShiftReading>)> done);
    // A shift opened or closed on every nozzle's readings; waits for them, then stores the
    // change and tells the clients. Answers the shift.
    Outcome OpenShift(const std::string& by, AuditNote* audit = nullptr);
    Outcome CloseShift(const std::string& by, AuditNote* audit = nullptr);

private:
    struct Pump;
    struct Line;

    void Loop(Line& line, std::stop_token stop);
    void PollCycle(Line& line);
    bool PollPump(Pump& pump);
    void Track(Pump& pump, const std::vector<NozzleReading>& codes);
    void Finalize(Pump& pump);
    void SetOnline(Line& line, bool online);
    // What a line command is, for its place in the line's queues: stops first, then
    // authorizations, then reads, one read between polls at most.
    enum class CommandClass { kStop, kAuthorize, kRead };
    void Post(int pump, CommandClass type, const std::string& client, std::function<void(Pump&)> command, Done done);
    void RunQueued(Line& line);
    // `moved`: the open prepay taken over from another pump, kept under its id.
    Outcome DoAuthorize(Pump& pump, const AuthorizeRequest& request, const Sale* moved = nullptr);
    // Withdraws the prepay `sale` the pump holds while its nozzle is hung; kOk when withdrawn.
    Outcome Withdraw(Pump& pump, std::int64_t sale);
    Outcome DoCancel(Pump& pump, std::int64_t sale);
    // Ends an open prepay that never delivered as a full refund, and tells the clients.
    void Refund(std::int64_t sale);
    // The pump holding the open sale; 0 when none does.
    int PumpOfSale(std::int64_t sale) const;
    Outcome DoStop(Pump& pump);
    Outcome DoTotals(Pump& pump);
    enum class Settlement { kLock, kClear, kUnlock };
    Outcome Settle(std::int64_t sale, const std::string& holder, Settlement step, AuditNote* audit);
    std::optional<Totalizer> ReadTotals(Pump& pump, int nozzle);
    std::optional<std::pair<std::int64_t, std::int64_t>> ReadFilling(Pump& pump);
    void SetState(Pump& pump, PumpState state, std::optional<int> nozzle);
    // Publishes the pump's view when it changed; `list`: also the list of all pumps (a caller
    // publishing every pump rebuilds the list once, after the last).
    void PublishPump(Pump& pump, bool list = true);
    void StoreListLocked();
    nlohmann::json PumpJsonLocked(const Pump& pump) const;
    nlohmann::json LineJsonLocked(const Line& line) const;
    void RefreshUnpaid();
    // `pending`, when not 0, is the waiting change that becomes the board: grades it names that
    // the station no longer has are left out, and nothing changes when it was cancelled.
    Outcome ChangePrices(const std::vector<std::pair<std::string, std::int64_t>>& changes, std::int64_t pending, AuditNote* audit);
    nlohmann::json PricesJsonLocked() const;
    // Makes each pending change that is due the board, earliest first; false when the store refused one.
    bool ApplyDuePrices();
    // Sleeps until the earliest pending change is due, or the list changes, and applies it.
    void PriceTimer(std::stop_token stop);
    Outcome ChangeControl(int pump, AuditNote* audit, const std::function<void(PumpControl&)>& change);
    // What keeps the pump from a new authorization (pump_closed, emergency_stop), if anything.
    std::optional<Outcome> BlockedLocked(const Pump& pump) const;
    void PublishTimeout(const Pump& pump, const char* timeout, std::optional<std::int64_t> sale);
    Pump* Find(int pump);
    Line& LineOf(const Pump& pump);
    std::vector<ShiftReading> ReadLine(Line& line, bool online);

    Config config_;
    Store& store_;
    EventHub& hub_;
    mutable std::mutex mutex_;       // pump views, line health, prices, unpaid counts
    std::mutex price_change_mutex_;  // held across a price change, from reading the board to storing it
    PriceSet prices_;
    std::atomic<std::int64_t> price_set_id_{0};
    std::vector<PendingPrices> pending_prices_;  // under mutex_, earliest first
    std::uint64_t pending_changes_ = 0;          // under mutex_; counts changes of the list, for the timer
    std::condition_variable_any price_wake_;     // with mutex_
    std::jthread price_timer_;
    ViewCell pumps_view_;
    std::map<int, int> unpaid_;
    std::optional<Closure> emergency_;  // the emergency stop in force
    std::mutex control_mutex_;          // held across a closure, mode or emergency change, from reading it to storing it
    std::vector<std::unique_ptr<Pump>> pumps_;
    std::vector<std::unique_ptr<Line>> lines_;
};

}  // namespace forecourt
