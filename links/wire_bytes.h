// The bytes that frame requests and replies on a dispenser line, as the links read them.
#pragma once

#include <cstdint>

namespace dorv::links::wire {

inline constexpr std::uint8_t kRequestLead = 0x7F;
inline constexpr std::uint8_t kDataLead = 0x02;
inline constexpr std::uint8_t kEnd = 0x03;
inline constexpr std::uint8_t kAck = 0x06;
inline constexpr std::uint8_t kNak = 0x15;
inline constexpr std::uint8_t kRefused = 0x18;
inline constexpr std::uint8_t kComplement = 0x7F;  // a data byte XOR this follows it
inline constexpr std::uint8_t kCheckBits = 0x40;   // always set in the check byte

// 0x02, one data byte and its complement, 0x03 0x03, the check byte. A command expecting fewer
// bytes expects a lone 0x06 (or 0x15, 0x18).
inline constexpr std::uint8_t kShortestDataReply = 6;

}  // namespace dorv::links::wire
