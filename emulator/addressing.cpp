#include "addressing.h"

namespace dorv::emu {

namespace {
constexpr std::uint8_t kSmallGroup = 2;
constexpr std::uint8_t kFirstLargeGroup = 7;
constexpr std::uint8_t kAddressBase = 0x20;
constexpr int kPerGroup = 15;
}  // namespace

AddressBytes EncodeAddress(int a) {
  if (a < 16) return {kSmallGroup, static_cast<std::uint8_t>(kAddressBase + a)};
  return {static_cast<std::uint8_t>((a - 1) / kPerGroup + 6),
          static_cast<std::uint8_t>(a % kPerGroup + kAddressBase)};
}

std::optional<int> DecodeAddress(std::uint8_t group, std::uint8_t address) {
  if (address < kAddressBase) return std::nullopt;
  const int offset = address - kAddressBase;
  if (group == kSmallGroup) {
    if (offset < 1 || offset > kPerGroup) return std::nullopt;
    return offset;
  }
  if (group < kFirstLargeGroup || offset >= kPerGroup) return std::nullopt;
  // Group g holds addresses 15*(g-6)+1 .. 15*(g-6)+15; the last one wraps to 0x20.
  const int first = kPerGroup * (group - 6);
  return offset == 0 ? first + kPerGroup : first + offset;
}

}  // namespace dorv::emu
