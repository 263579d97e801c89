// How a failure inside a slot reaches a Windows host: as a structured exception with this code,
// the kind of failure in ExceptionInformation[0], the CP1251 message in [1] and its length in
// [2] (see guard.h for why).
#pragma once

#include <cstdint>

namespace dorv::win {

// The customer bit (0x20000000) keeps the code apart from the system's; "DRV" in the low bytes.
inline constexpr std::uint32_t kDriverFailureCode = 0xE0445256;

enum class FailureKind : std::uint32_t {
    Caller = 1,  // dorv::Exception: an argument out of range, a value that does not fit
    Line = 2,    // dorv::ESerialIO: the host link could not complete an exchange
    Other = 3,   // anything else the driver raised
};

}  // namespace dorv::win
