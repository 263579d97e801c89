// The separators the number format uses. Passing them in keeps the text of a value independent
// of the machine a test or a tool runs on.
#pragma once

#include <cstdint>
#include <string>

namespace dorv::params {

struct NumberLocale {
    std::string thousandsSeparator = " ";
    std::string decimalSeparator = ",";

    // The stations' Russian format: "999 999,99".
    static NumberLocale Station() { return {}; }
    bool operator==(const NumberLocale&) const = default;
};

// The separators of the user's number format (LC_NUMERIC, or the regional settings on Windows).
// A locale without a thousands separator (the C locale) gives the stations' format instead, so
// values always show grouped.
NumberLocale SystemNumberLocale();

// scaled / 10^decimals written with a "-" when negative, the integer part grouped by three,
// and exactly `decimals` digits after the decimal separator (none when decimals is 0).
// decimals must be 0..18.
std::string FormatGrouped(std::int64_t scaled, int decimals, const NumberLocale& locale);

// Count of decimal digits of |v| without leading zeros; 0 has none.
int DigitCount(std::uint64_t v);

}  // namespace dorv::params
