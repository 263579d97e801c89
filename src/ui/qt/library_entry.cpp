// Loading the module registers its windows with the driver's module state, so the host's menu
// item opens them and destroying a driver releases them.
#include "window_hooks.h"

namespace {

[[maybe_unused]] const bool kWindowHooksRegistered = (dorv::ui::qt::RegisterWindowHooks(), true);

}  // namespace
