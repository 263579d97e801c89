// Controller addresses on the line and the group/address byte pair that
// carries them at the head of every request.
#pragma once

#include <cstdint>
#include <optional>

namespace dorv::emu {

struct AddressBytes {
  std::uint8_t group = 0;
  std::uint8_t address = 0;
  friend bool operator==(const AddressBytes&, const AddressBytes&) = default;
};

// Addresses 1..15 sit in group 2 as 0x21..0x2F. From 16 on, fifteen
// addresses share a group starting at group 7, and the address byte is
// a % 15 + 0x20: the fifteenth address of a group (30, 45, ...) carries 0x20.
inline constexpr int kMaxAddress = (0xFF - 6) * 15 + 15;

// The pair the host sends for controller address `a` (1..kMaxAddress).
AddressBytes EncodeAddress(int a);

// The controller address a request is for, or nullopt when the pair names
// no controller (group 0..1, 3..6, a byte outside the group's range).
std::optional<int> DecodeAddress(std::uint8_t group, std::uint8_t address);

}  // namespace dorv::emu
