// The thousands and decimal separators of the user's number format, in UTF-8.
#pragma once

#include <optional>
#include <string>

namespace dorv::platform {

struct NumberSeparators {
    std::string thousands;
    std::string decimal;
};

// The separators of the user's locale: LC_NUMERIC from the environment, or on Windows the
// user's regional settings. Empty when the locale lacks either of them (the C locale).
std::optional<NumberSeparators> UserNumberSeparators();

}  // namespace dorv::platform
