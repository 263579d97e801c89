// The Dorv5000 controller's status bytes and refusal codes in the pump model's terms.
#pragma once

#include <cstdint>

#include "dispenser.h"

namespace forecourt {

NozzleCode ClassifyCode(std::uint8_t code);

// What a controller refusal left in the driver's line status means.
const char* RefusalText(int code);

}  // namespace forecourt
