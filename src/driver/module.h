// State of the loaded library, shared by every driver object: the most recently created
// driver, the once-per-library menu flag, and the hooks the window layer registers.
// All functions may be called from any thread.
#pragma once

#include <functional>

namespace dorv {

class TVM30;

namespace module {

TVM30* DriverInstance();
void DriverCreated(TVM30* driver);
// Called by a driver's destructor: releases the windows that work on it and forgets it.
void DriverDestroyed(TVM30* driver);
// Runs `action` on `driver` unless it has been destroyed; a destruction that starts meanwhile
// waits until the action is done. `action` must not call back into the module.
void IfAlive(TVM30* driver, const std::function<void(TVM30&)>& action);

// True only the first time: the menu is searched once per loaded library.
bool TakeMenuPending();
void ResetMenuPendingForTests();

// The window layer registers how to open the parameter window (modally: returns when it has
// closed) and how to release its windows when a driver goes away. Without an opener the menu
// item does nothing visible.
using DriverHook = std::function<void(TVM30*)>;
void SetParamWindowOpener(DriverHook opener);
void OpenParamWindow(TVM30* driver);
void SetWindowReleaser(DriverHook releaser);

// While it lives, a call of the window's own thread works on `driver` (null: none). The boundary
// that hands drivers to a host counts it through the hooks it registers: a host that frees the
// driver from a message loop its link runs meanwhile has the driver end when the call is done.
class DriverInUse {
public:
    explicit DriverInUse(TVM30* driver);
    ~DriverInUse();
    DriverInUse(const DriverInUse&) = delete;
    DriverInUse& operator=(const DriverInUse&) = delete;

private:
    TVM30* const driver_;
};
void SetInUseHooks(DriverHook enter, DriverHook leave);

}  // namespace module
}  // namespace dorv
