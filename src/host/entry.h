// The driver object a host gets from GetDI30 (host_boundary.cpp).
#pragma once

#include <cstdint>

namespace dorv::host {

// A new driver object over the host's link; a failure is raised to the host (guard.h).
void* CreateDriverObject(std::int32_t flags, void* link);

}  // namespace dorv::host
