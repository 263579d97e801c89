#include "transport.h"

#include "driver/tvm30.h"

namespace dorv::params {

std::int64_t Tvm30Transport::ReadParameter(std::uint8_t kind, std::int32_t line, std::int32_t address, std::int32_t number,
                                           std::int32_t digits) {
    return driver_.ReadParameter(kind, line, address, number, digits);
}

bool Tvm30Transport::WriteParameter(std::uint8_t kind, std::int64_t line, std::int64_t address, std::int64_t number, std::int64_t digits,
                                    std::int64_t value) {
    return driver_.WriteParameter(kind, line, address, number, digits, value);
}

std::optional<std::uint8_t> AccessKindOf(std::uint8_t type) {
    if (type <= 5) return 0;
    if (type <= 7) return 1;
    if (type == 8) return 2;
    return std::nullopt;
}

}  // namespace dorv::params
