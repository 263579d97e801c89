// The driver's per-nozzle status codes, as the pump model reads them.
#pragma once

#include <cstdint>

namespace forecourt {

enum class NozzleCode {
    kHung,        // 0xC0: idle, nozzle in its holder
    kLifted,      // 0xE0 + n: nozzle lifted, pump not started
    kAuthorized,  // 0xC8: authorized, not started
    kStarted,     // 0xD8 + n: pump on, nothing delivered yet
    kDelivering,  // 0xD0 + n: a filling under way
    kEnded,       // 0xD8: the poll found a delivery and tried to close it; it may still be running
    kOther,
};

NozzleCode ClassifyCode(std::uint8_t code);
// Delivering or just ended: the filling's readings are worth taking.
inline bool Flowing(NozzleCode c) { return c == NozzleCode::kDelivering || c == NozzleCode::kEnded; }
inline bool Started(NozzleCode c) { return c == NozzleCode::kAuthorized || c == NozzleCode::kStarted; }

// What a controller refusal left in the driver's line status means.
const char* RefusalText(int code);

}  // namespace forecourt
