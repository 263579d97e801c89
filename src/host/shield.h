// Calls into the host under a structured-exception frame of the library's own.
//
// An Object Pascal host raises its exceptions as Windows structured exceptions, and its handler
// unwinds the frames in between with RtlUnwind, which knows nothing of the C++ frames of this
// library: their destructors would not run and the driver's state would be left half-changed.
// So every call of the host's code that may raise is made through Shielded: an exception that
// leaves the host's code stops at the shield, the host's own frames above it are unwound (their
// finally parts run), and Shielded returns false with a copy of the exception's record. The
// caller then goes on in C++: it turns the failure into a result, or throws HostRaised, which
// the slot's guard raises again, unchanged, once every frame of the driver is cleaned up.
#pragma once

#include <cstdint>
#include <stdexcept>

namespace dorv::host {

// What the host raised: the fields of its EXCEPTION_RECORD that RaiseException takes.
struct HostException {
    std::uint32_t code = 0;
    std::uint32_t flags = 0;
    std::uint32_t count = 0;
    std::uintptr_t information[15] = {};
};

// A host's exception on its way through the driver, as a C++ exception.
class HostRaised : public std::runtime_error {
public:
    explicit HostRaised(const HostException& e);
    HostException exception;
};

namespace detail {
bool CallShielded(void (*call)(void*), void* argument, HostException* raised);
}

// Runs call(); false when a structured exception left it (its record in `raised`). Nothing with
// a destructor may live in `call` around the host's code.
template <class Call>
bool Shielded(Call& call, HostException& raised) {
    return detail::CallShielded([](void* c) { (*static_cast<Call*>(c))(); }, &call, &raised);
}

// Runs call(); a structured exception out of it is thrown on as HostRaised.
template <class Call>
void ShieldedOrThrow(Call& call) {
    HostException raised;
    if (!Shielded(call, raised)) throw HostRaised(raised);
}

}  // namespace dorv::host
