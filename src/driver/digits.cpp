#include "digits.h"

#include <cmath>
#include <limits>

#include "dorv5000/exceptions.h"
#include "messages.h"

namespace dorv::digits {

long double RoundHalfEven(long double x) { return std::nearbyintl(x); }

double RoundHalfAway(double x) {
    const double r = std::trunc(std::fabs(x) + 0.5000000001);
    return x < 0 ? -r : r;
}

std::string Field(double value, double scale, int width) {
    if (!std::isfinite(value) || value < 0) throw Exception(msg::kValueRange);
    const long double scaled = RoundHalfEven(static_cast<long double>(value) * scale);
    const long double limit = std::pow(10.0L, width);
    if (!(scaled < limit)) throw Exception(msg::kValueRange);
    return LowDigits(static_cast<std::int64_t>(scaled), width);
}

std::string LowDigits(std::int64_t v, int width) {
    // The digits of its magnitude would reach the controller as a positive value.
    if (v < 0) throw Exception(msg::kValueRange);
    std::string s(static_cast<std::size_t>(width), '0');
    for (int j = width - 1; j >= 0; --j) {
        s[static_cast<std::size_t>(j)] = static_cast<char>('0' + v % 10);
        v /= 10;
    }
    return s;
}

std::int64_t ReadDigits(const std::uint8_t* reply, int length, int first, int step, int maxCount) {
    std::int64_t result = 0;
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    for (int i = first, n = 0; i < length && n < maxCount; i += step, ++n) {
        const std::uint8_t b = reply[i];
        if (b < '0' || b > '9') break;
        const int d = b - '0';
        result = result > (kMax - d) / 10 ? kMax : result * 10 + d;
    }
    return result;
}

std::optional<std::int64_t> ReadField(const std::uint8_t* reply, int length, int first, int step, int count) {
    std::int64_t result = 0;
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    for (int n = 0, i = first; n < count; ++n, i += step) {
        if (i < 0 || i >= length) return std::nullopt;
        const std::uint8_t b = reply[i];
        if (b < '0' || b > '9') return std::nullopt;
        const int d = b - '0';
        result = result > (kMax - d) / 10 ? kMax : result * 10 + d;
    }
    return result;
}

std::int64_t ReadParameterDigits(const std::uint8_t* reply, int length, int first) {
    std::int64_t result = 0;
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    for (int i = first; i >= 0 && i < length && IsParameterDigit(reply[i]); i += 2) {
        const int d = reply[i] - 0x30;
        result = result > (kMax - d) / 10 ? kMax : result * 10 + d;
    }
    return result;
}

double Unscale(double x, std::int32_t scale) { return scale > 0 ? x / scale : 0.0; }

double Money(double litres, double price, std::int32_t scale) { return Unscale(RoundHalfAway(litres * price * scale), scale); }

}  // namespace dorv::digits
