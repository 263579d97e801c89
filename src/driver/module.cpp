#include "module.h"

#include <atomic>
#include <mutex>
#include <unordered_set>

namespace dorv::module {
namespace {

// Built on first use: a window layer registers its hooks from a static initialiser of the same
// module, which may run before this unit's own initialisers would (namespace-scope hooks would
// then be reset to empty after the registration).
struct State {
    std::mutex mutex;
    TVM30* instance = nullptr;
    std::unordered_set<TVM30*> alive;
    DriverHook opener;
    DriverHook releaser;
    DriverHook enterInUse;
    DriverHook leaveInUse;
};

State& Module() {
    static State state;
    return state;
}

std::atomic<bool> g_menuPending{true};  // constant-initialised

}  // namespace

TVM30* DriverInstance() {
    State& s = Module();
    std::lock_guard lock(s.mutex);
    return s.instance;
}

void DriverCreated(TVM30* driver) {
    State& s = Module();
    std::lock_guard lock(s.mutex);
    s.instance = driver;
    s.alive.insert(driver);
}

void DriverDestroyed(TVM30* driver) {
    State& s = Module();
    DriverHook releaser;
    {
        std::lock_guard lock(s.mutex);
        if (s.instance == driver) s.instance = nullptr;
        s.alive.erase(driver);
        releaser = s.releaser;
    }
    if (releaser) releaser(driver);
}

void IfAlive(TVM30* driver, const std::function<void(TVM30&)>& action) {
    State& s = Module();
    std::lock_guard lock(s.mutex);
    if (s.alive.count(driver)) action(*driver);
}

bool TakeMenuPending() { return g_menuPending.exchange(false); }
void ResetMenuPendingForTests() { g_menuPending = true; }

void SetParamWindowOpener(DriverHook opener) {
    State& s = Module();
    std::lock_guard lock(s.mutex);
    s.opener = std::move(opener);
}

void OpenParamWindow(TVM30* driver) {
    State& s = Module();
    DriverHook opener;
    {
        std::lock_guard lock(s.mutex);
        opener = s.opener;
    }
    if (opener) opener(driver);
}

void SetWindowReleaser(DriverHook releaser) {
    State& s = Module();
    std::lock_guard lock(s.mutex);
    s.releaser = std::move(releaser);
}

void SetInUseHooks(DriverHook enter, DriverHook leave) {
    State& s = Module();
    std::lock_guard lock(s.mutex);
    s.enterInUse = std::move(enter);
    s.leaveInUse = std::move(leave);
}

namespace {
// The hook outside the lock: leaving may end the driver, which calls back into the module.
void RunInUseHook(DriverHook State::*hook, TVM30* driver) {
    if (!driver) return;
    State& s = Module();
    DriverHook run;
    {
        std::lock_guard lock(s.mutex);
        run = s.*hook;
    }
    if (run) run(driver);
}
}  // namespace

DriverInUse::DriverInUse(TVM30* driver) : driver_(driver) { RunInUseHook(&State::enterInUse, driver_); }
DriverInUse::~DriverInUse() { RunInUseHook(&State::leaveInUse, driver_); }

}  // namespace dorv::module
