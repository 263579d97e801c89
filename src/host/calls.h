// The calling convention of everything that crosses between a Windows host and the library:
// GetDI30, the 26 slots, the host link's and the menu's operations, and the callbacks the host
// calls back. The driver core knows nothing of it: only the files of this folder do.
//
// Two builds (scripts/build-windows.sh --calls stdcall|register):
//
// stdcall (the default): arguments pushed right to left, the callee removes them, Self first
//   on the stack. A record result goes through a hidden pointer pushed last, so it lies right
//   after the return address, before Self.
//
// register (DORV_HOST_REGISTER, Object Pascal's default): the first three arguments that fit a
//   register (ordinals, pointers; never a Double) in EAX, EDX, ECX, Self first; the rest pushed
//   left to right, the callee removes them; a record result through a hidden pointer that is the
//   last argument.
//
// GCC's regparm(3) together with stdcall puts the first three arguments in EAX, EDX and ECX
// and has the callee remove the rest, but expects the rest pushed right to left. A function that
// must follow the register rules therefore declares its stack arguments in reverse order; the
// files here write both orders side by side under DORV_HOST_REGISTER.
#pragma once

#include <cstdint>

#if !defined(_WIN32) || !defined(__i386__)
#error "The host boundary is built for 32-bit Windows only"
#endif

#define DORV_PASCAL_REGISTER __attribute__((regparm(3), stdcall))

#if defined(DORV_HOST_REGISTER)
#define DORV_HOST_CALL DORV_PASCAL_REGISTER
#else
#define DORV_HOST_CALL __attribute__((stdcall))
#endif

namespace dorv::host {

// The host's objects as the library calls them: the first word points at slot 0 of a table of
// entry points.
struct HostObject {
    const void* const* table;
};

template <class Fn>
Fn Slot(const void* object, int index) {
    return reinterpret_cast<Fn>(const_cast<void*>(static_cast<const HostObject*>(object)->table[index]));
}

// Which build this is, for texts and checks.
#if defined(DORV_HOST_REGISTER)
inline constexpr bool kRegisterCalls = true;
#else
inline constexpr bool kRegisterCalls = false;
#endif

}  // namespace dorv::host
