// Controller addresses on a line and the group and address bytes that carry them.
//
// A column's nozzle p sits at controller address a = column + PistStep x (p - 1) (nozzle 0 is
// nozzle 1). Addresses 1..15 travel as group 2 with address byte 0x20 + a; higher addresses as
// group (a - 1) / 15 + 6 with address byte a % 15 + 0x20, so 30 is group 7 byte 0x20.
#pragma once

#include <cstdint>

namespace dorv {

struct GroupAddress {
    std::uint8_t group;
    std::uint8_t address;
};

GroupAddress AddressOf(std::int64_t controllerAddress);
std::int64_t ControllerAddress(std::int32_t column, std::int32_t nozzle, std::uint8_t pistStep);
inline GroupAddress Address(std::int32_t column, std::int32_t nozzle, std::uint8_t pistStep) {
    return AddressOf(ControllerAddress(column, nozzle, pistStep));
}

// The highest address a group byte can carry: group 0xFF, address byte 0x20.
inline constexpr std::int64_t kMaxControllerAddress = (0xFF - 6) * 15 + 15;

// Range checks made before anything is sent; each raises dorv::Exception.
void CheckColumn(std::int32_t column);  // 0..33
void CheckLine(std::int32_t line);      // 0..39
void CheckNozzle(std::int32_t nozzle);  // 0..4
// A raw controller address, 0..kMaxControllerAddress: beyond it the group byte would wrap and
// name another controller.
void CheckAddress(std::int64_t address);

}  // namespace dorv
