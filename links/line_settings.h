// The serial settings a line runs with, as the host's driver asks for them through
// ConfigureLine(line, format, baud).
#pragma once

#include <termios.h>

#include <cstdint>
#include <optional>

namespace dorv::links {

// The only character format the controllers speak: 8 data bits, no parity, 1 stop bit.
inline constexpr std::int32_t kFormat8N1 = 42;
inline constexpr std::int32_t kDefaultBaud = 4800;

struct LineSettings {
    std::int32_t format = kFormat8N1;
    std::int32_t baud = kDefaultBaud;
};

// The termios speed of a baud rate, or nothing for a rate the links do not offer.
std::optional<speed_t> TermiosSpeed(std::int32_t baud);

// 0 when a link can run a line with these settings, EINVAL when it cannot.
int CheckLineSettings(const LineSettings& settings);

}  // namespace dorv::links
