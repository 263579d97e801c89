#include "number_locale.h"

#include "platform/number_separators.h"

namespace dorv::params {

NumberLocale SystemNumberLocale() {
    if (const auto user = platform::UserNumberSeparators()) return {user->thousands, user->decimal};
    return NumberLocale::Station();
}

int DigitCount(std::uint64_t v) {
    int n = 0;
    for (; v != 0; v /= 10) ++n;
    return n;
}

std::string FormatGrouped(std::int64_t scaled, int decimals, const NumberLocale& locale) {
    // Work on the magnitude as unsigned so the most negative value has a magnitude too.
    const bool negative = scaled < 0;
    std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(scaled) : static_cast<std::uint64_t>(scaled);
    std::uint64_t divisor = 1;
    for (int i = 0; i < decimals; ++i) divisor *= 10;
    const std::uint64_t whole = magnitude / divisor;
    const std::uint64_t fraction = magnitude % divisor;

    const std::string digits = std::to_string(whole);
    std::string text = negative ? "-" : "";
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) text += locale.thousandsSeparator;
        text += digits[i];
    }
    if (decimals > 0) {
        std::string tail = std::to_string(fraction);
        text += locale.decimalSeparator;
        text.append(static_cast<std::size_t>(decimals) - tail.size(), '0');
        text += tail;
    }
    return text;
}

}  // namespace dorv::params
