#include "addressing.h"

#include "dorv5000/exceptions.h"
#include "messages.h"
#include "tables.h"

namespace dorv {

std::int64_t ControllerAddress(std::int32_t column, std::int32_t nozzle, std::uint8_t pistStep) {
    const std::int64_t p = nozzle == 0 ? 1 : nozzle;
    return static_cast<std::int64_t>(column) + static_cast<std::int64_t>(pistStep) * (p - 1);
}

GroupAddress AddressOf(std::int64_t a) {
    if (a < 16) return {2, static_cast<std::uint8_t>(a + 0x20)};
    return {static_cast<std::uint8_t>((a - 1) / 15 + 6), static_cast<std::uint8_t>(a % 15 + 0x20)};
}

void CheckColumn(std::int32_t column) {
    if (column < 0 || column > kMaxColumn) throw Exception(msg::kColumnRange);
}

void CheckLine(std::int32_t line) {
    if (line < 0 || line >= kLines) throw Exception(msg::kLineRange);
}

void CheckNozzle(std::int32_t nozzle) {
    if (nozzle < 0 || nozzle > kMaxNozzle) throw Exception(msg::kNozzleRange);
}

void CheckAddress(std::int64_t address) {
    if (address < 0 || address > kMaxControllerAddress) throw Exception(msg::kAddressRange);
}

}  // namespace dorv
