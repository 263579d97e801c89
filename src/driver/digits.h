// Numbers as they travel: ASCII decimal digits, most significant first, zero-padded on the
// left to a fixed width. Money and volume are scaled to integers first; this is where that
// rounding lives, so every command rounds the same way.
#pragma once

#include <cstdint>
#include <optional>
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
// A field has no place for a sign: a negative v raises dorv::Exception (nothing is sent).
std::string LowDigits(std::int64_t v, int width);

// Reads ASCII digits at reply[first], reply[first + step], ... while they are digits and lie
// before `length`; stops at the first non-digit. Saturates instead of overflowing.
std::int64_t ReadDigits(const std::uint8_t* reply, int length, int first, int step, int maxCount);

// A fixed field of `count` digits at reply[first], reply[first + step], ...: its value, or
// nothing when the field runs past `length` or holds a byte that is no digit.
std::optional<std::int64_t> ReadField(const std::uint8_t* reply, int length, int first, int step, int count);

// Whether a parameter reply's byte counts as a digit (see ReadParameterDigits).
constexpr bool IsParameterDigit(std::uint8_t b) { return (b & 0x30) == 0x30; }
// Parameter replies count every byte with bits 4 and 5 set (byte AND 0x30 = 0x30) as the digit
// byte - 0x30, from reply[first] in steps of two until the first other byte or `length`.
// Saturates at the largest 64-bit value instead of overflowing.
std::int64_t ReadParameterDigits(const std::uint8_t* reply, int length, int first);

// x / scale. A column without a money scale (0, as line 0 and column 33 start out) counts no
// money rather than a division by zero.
double Unscale(double x, std::int32_t scale);
// Money of a filling: round0(litres x price x scale) / scale.
double Money(double litres, double price, std::int32_t scale);

}  // namespace dorv::digits
