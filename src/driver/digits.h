// Numbers as they travel: ASCII decimal digits, most significant first, zero-padded on the
// left to a fixed width. Money and volume are scaled to integers first; this is where that
// rounding lives, so every command rounds the same way.
#pragma once

#include <cstdint>
#include <string>

namespace dorv::digits {

// Nearest integer, halves to the even neighbour, of x computed in extended precision.
long double RoundHalfEven(long double x);
// round0: sign(x) x trunc(|x| + 0.5000000001): halves away from zero (money of a filling).
double RoundHalfAway(double x);

// The integer round(value x scale) (halves to even) as exactly `width` digits. Raises
// dorv::Exception (nothing is sent) when value is not finite, negative, or does not fit.
std::string Field(double value, double scale, int width);
// The `width` lowest decimal digits of v, most significant first (higher digits dropped).
std::string LowDigits(std::int64_t v, int width);

// Reads ASCII digits at reply[first], reply[first + step], ... while they are digits and lie
// before `length`; stops at the first non-digit. Saturates instead of overflowing.
std::int64_t ReadDigits(const std::uint8_t* reply, int length, int first, int step, int maxCount);

}  // namespace dorv::digits
