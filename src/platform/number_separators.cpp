#include "number_separators.h"

#include <langinfo.h>
#include <locale.h>

namespace dorv::platform {

std::optional<NumberSeparators> UserNumberSeparators() {
    locale_t loc = ::newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
    if (loc == static_cast<locale_t>(0)) return std::nullopt;
    const char* thousands = ::nl_langinfo_l(THOUSEP, loc);
    const char* decimal = ::nl_langinfo_l(RADIXCHAR, loc);
    std::optional<NumberSeparators> result;
    if (thousands && *thousands && decimal && *decimal) result = NumberSeparators{thousands, decimal};
    ::freelocale(loc);
    return result;
}

}  // namespace dorv::platform
