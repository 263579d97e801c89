// Reads frames back into words for a person looking at a trace: what was asked of which
// controller, and what it answered. Independent of the driver's own codec, so a trace of the
// driver's frames is a second opinion on them, not a copy of the same mistake.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace dorv::links {

// The controller address (1 and up) of a group byte and address byte: group 2 holds addresses
// 1 to 15 as 0x21..0x2F; group G >= 7 holds (G - 6) * 15 + 1 .. (G - 6) * 15 + 15, where
// 0x21..0x2E are the first fourteen and 0x20 is the group's last.
std::optional<int> ControllerAddress(std::uint8_t group, std::uint8_t addressByte);

// "start, address 1 (column 1 nozzle 1)", "price, address 6 (column 5 nozzle 2), data \"4550\"",
// or "invalid request (...)" for a frame that is not well formed.
std::string DescribeRequest(std::span<const std::uint8_t> frame);

// "ack", "not acknowledged", "refused", "data \"A\"", "no reply", or "invalid (...)".
// Noise ahead of the lead byte is skipped and mentioned.
std::string DescribeReply(std::span<const std::uint8_t> reply);

}  // namespace dorv::links
