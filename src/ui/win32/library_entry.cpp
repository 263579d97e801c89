// Loading the library registers its windows with the driver's module state, so the host's menu
// item opens them and destroying a driver releases them.
#include "window_hooks.h"

namespace {

[[maybe_unused]] const bool kWindowHooksRegistered = (dorv::ui::win32::RegisterWindowHooks(), true);

}  // namespace
