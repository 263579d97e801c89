#include "wire.h"

#include <string>

namespace dorv::emu {

Bytes FrameRequest(std::span<const std::uint8_t> record) {
  Bytes frame;
  if (record.empty()) return frame;
  frame.reserve(2 * record.size() + 3);
  frame.push_back(kRequestLead);
  frame.push_back(record[0]);  // the group byte travels bare and stays out of the check
  std::uint8_t check = kEnd;
  for (std::size_t i = 1; i < record.size(); ++i) {
    frame.push_back(record[i]);
    frame.push_back(record[i] ^ kComplementMask);
    check ^= record[i];
  }
  frame.push_back(kEnd);
  frame.push_back(kEnd);
  frame.push_back(check | kCheckBit);
  return frame;
}

Bytes FrameDataReply(std::span<const std::uint8_t> data) {
  Bytes frame;
  frame.reserve(2 * data.size() + 4);
  frame.push_back(kDataLead);
  std::uint8_t check = kEnd;
  for (std::uint8_t b : data) {
    frame.push_back(b);
    frame.push_back(b ^ kComplementMask);
    check ^= b;
  }
  frame.push_back(kEnd);
  frame.push_back(kEnd);
  frame.push_back(check | kCheckBit);
  return frame;
}

std::string DigitField(std::uint64_t value, int width) {
  std::string out(static_cast<std::size_t>(width > 0 ? width : 0), '0');
  for (int i = width - 1; i >= 0; --i) {
    out[static_cast<std::size_t>(i)] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return out;
}

std::optional<std::uint64_t> ParseDigits(std::span<const std::uint8_t> field) {
  if (field.empty() || field.size() > 19) return std::nullopt;
  std::uint64_t value = 0;
  for (std::uint8_t b : field) {
    if (b < '0' || b > '9') return std::nullopt;
    value = value * 10 + (b - '0');
  }
  return value;
}

}  // namespace dorv::emu
