// How the module's windows come and go on Windows. RegisterWindowHooks tells the module
// (driver/module.h) to open the parameter window modally when the host's menu item is clicked -
// created on first use and kept - and to release it when the driver it works on is destroyed:
// the release stops and joins the window's runs and closes both windows before the driver goes.
//
// Threads: the opener runs on the host's user-interface thread. The releaser runs on whichever
// thread destroys the driver; from another thread it sends the release to the window's thread
// and waits for it, so that thread must not itself be waiting for the destroying one.
#pragma once

namespace dorv::ui::win32 {

// Idempotent.
void RegisterWindowHooks();

}  // namespace dorv::ui::win32
