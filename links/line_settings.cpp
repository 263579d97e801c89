#include "links/line_settings.h"

#include <cerrno>

namespace dorv::links {

std::optional<speed_t> TermiosSpeed(std::int32_t baud) {
    switch (baud) {
        case 1200: return B1200;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        default: return std::nullopt;
    }
}

int CheckLineSettings(const LineSettings& settings) {
    if (settings.format != kFormat8N1 || !TermiosSpeed(settings.baud)) return EINVAL;
    return 0;
}

}  // namespace dorv::links
