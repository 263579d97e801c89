// Byte-level vocabulary of the dispenser line as the controller sees it:
// lead bytes, frame layout of requests and replies, ASCII digit fields.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace dorv::emu {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kRequestLead = 0x7F;
inline constexpr std::uint8_t kDataLead = 0x02;
inline constexpr std::uint8_t kAck = 0x06;
inline constexpr std::uint8_t kNak = 0x15;
inline constexpr std::uint8_t kRefusal = 0x18;
inline constexpr std::uint8_t kEnd = 0x03;
inline constexpr std::uint8_t kComplementMask = 0x7F;
inline constexpr std::uint8_t kCheckBit = 0x40;

// A request record is at most this long; the host builds frames in a 255-byte buffer.
inline constexpr std::size_t kMaxRequestRecord = 126;

// Wraps a request record [group, byte1, ...] into its wire frame. The
// controller never sends requests; hosts, tools and tests do.
Bytes FrameRequest(std::span<const std::uint8_t> record);

// Builds a data reply: 0x02, every data byte followed by its complement,
// 0x03 0x03 and the check byte.
Bytes FrameDataReply(std::span<const std::uint8_t> data);

inline Bytes OneByteReply(std::uint8_t lead) { return Bytes{lead}; }

// `value` as exactly `width` ASCII digits, most significant first; digits
// above the field are dropped, as a counter wraps on its display.
std::string DigitField(std::uint64_t value, int width);

// The value of an all-digit field; nullopt when any byte is not '0'..'9' or
// the field is empty.
std::optional<std::uint64_t> ParseDigits(std::span<const std::uint8_t> field);

}  // namespace dorv::emu
