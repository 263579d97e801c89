#include "numbers.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace dorv::tools {
namespace {

bool AllDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::optional<std::int64_t> ParseWhole(std::string_view text) {
    const std::string_view digits = !text.empty() && text.front() == '-' ? text.substr(1) : text;
    if (!AllDigits(digits)) return std::nullopt;
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<double> ParseDecimal(std::string_view text) {
    const auto point = text.find('.');
    if (!AllDigits(text.substr(0, point))) return std::nullopt;
    if (point != std::string_view::npos && !AllDigits(text.substr(point + 1))) return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace dorv::tools
