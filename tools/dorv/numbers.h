// The host program's reading of numbers typed by its user: plain decimal digits only, so that a
// typing slip never reaches a controller as another number ("0x10" is no price of 16, "80abc"
// no port 80).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace dorv::tools {

// An optional minus and decimal digits, nothing else; nothing when the text is not one or
// does not fit 64 bits.
std::optional<std::int64_t> ParseWhole(std::string_view text);

// Digits with an optional point and further digits ("45", "45.5", "45.50"); no sign, exponent,
// hexadecimal, blanks or infinity.
std::optional<double> ParseDecimal(std::string_view text);

}  // namespace dorv::tools
