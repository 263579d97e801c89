// How the module's windows come and go. RegisterWindowHooks tells the module (driver/module.h)
// to open the parameter window modally when the host's menu item is clicked - created on first
// use and kept - and to release it when the driver it works on is destroyed: the release stops
// and joins the window's runs before the driver goes away.
//
// Threads: the opener runs on the host's user-interface thread. The releaser runs on whichever
// thread destroys the driver; from another thread it waits for the user-interface thread to
// release the window, so that thread must not itself be waiting for the destroying one.
#pragma once

namespace dorv::ui::qt {

class ParamFrameWidget;

// Idempotent.
void RegisterWindowHooks();
// The module's parameter window, or null when none exists.
ParamFrameWidget* ModuleParamWindow();

}  // namespace dorv::ui::qt
