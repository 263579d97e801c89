// GetDI30 as a Windows host calls it. Kept apart from the driver's own header, whose
// declaration speaks of the C++ interface: here the object is the one the boundary lays out
// for the host, and the convention is the build's (calls.h) - in the register build the flags
// arrive in EAX, the unused argument in EDX and the link in ECX.
#include "host/calls.h"
#include "host/entry.h"

extern "C" __declspec(dllexport) void* DORV_HOST_CALL GetDI30(std::int32_t flags, std::int32_t, void* link) {
    return dorv::host::CreateDriverObject(flags, link);
}
