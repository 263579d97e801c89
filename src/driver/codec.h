// Frames on the wire.
//
// Request: 0x7F, the group byte as it is, every further byte followed by its complement
// (byte XOR 0x7F), 0x03 0x03, and a check byte (0x03 XOR the bytes after the group) OR 0x40.
// Reply: 0x06, 0x15 or 0x18 alone, or 0x02, data bytes each with its complement, 0x03 0x03 and a
// check byte (data bytes XOR 0x03) OR 0x40. Data byte j of a reply stands at index 2j - 1.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dorv::codec {

inline constexpr std::uint8_t kFrameLead = 0x7F;
inline constexpr std::uint8_t kDataLead = 0x02;
inline constexpr std::uint8_t kEnd = 0x03;
inline constexpr std::uint8_t kAck = 0x06;
inline constexpr std::uint8_t kNak = 0x15;
inline constexpr std::uint8_t kRefused = 0x18;
inline constexpr std::uint8_t kComplement = 0x7F;
inline constexpr std::size_t kMaxRequest = 126;  // 2 * 126 + 3 = 255, the largest frame
inline constexpr std::size_t kMaxFrame = 255;

// Writes the frame of request[0..n) into frame (kMaxFrame bytes) and returns its length 2n + 3.
// n must be 1..kMaxRequest.
std::uint8_t BuildFrame(const std::uint8_t* request, std::size_t n, std::uint8_t* frame);

// What the validator found; state < 0 means no line state is reported.
struct Verdict {
    bool accepted;
    int state;
    int code;
};

// Validates the reply in place: drops bytes ahead of the first lead byte (updating length),
// then checks the trailer, the complements and the check byte.
Verdict ValidateReply(std::uint8_t* reply, std::uint8_t& length);

}  // namespace dorv::codec
