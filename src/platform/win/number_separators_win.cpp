// The separators the user chose in the regional settings, as the hosts' own number formatting
// takes them (LOCALE_STHOUSAND, LOCALE_SDECIMAL).
#include <windows.h>

#include "platform/cp1251.h"
#include "platform/number_separators.h"

namespace dorv::platform {
namespace {

std::string LocaleText(LCTYPE type) {
    char buffer[16] = {};  // the system allows at most four characters for either separator
    const int n = GetLocaleInfoA(LOCALE_USER_DEFAULT, type, buffer, sizeof(buffer));
    return n > 1 ? Cp1251ToUtf8(std::string(buffer, static_cast<std::size_t>(n - 1))) : std::string();
}

}  // namespace

std::optional<NumberSeparators> UserNumberSeparators() {
    NumberSeparators s{LocaleText(LOCALE_STHOUSAND), LocaleText(LOCALE_SDECIMAL)};
    if (s.thousands.empty() || s.decimal.empty()) return std::nullopt;
    return s;
}

}  // namespace dorv::platform
