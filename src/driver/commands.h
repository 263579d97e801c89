// What the driver's commands share: the command characters, the line status codes they leave,
// the digit counts of the numbered parameters, and the one road every command takes to the link.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "addressing.h"
#include "codec.h"
#include "tvm30.h"

namespace dorv::cmd {

// Command characters (request byte 2).
inline constexpr std::uint8_t kStatus = '1';
inline constexpr std::uint8_t kStart = '2';
inline constexpr std::uint8_t kStop = '3';
inline constexpr std::uint8_t kShortFilling = '4';
inline constexpr std::uint8_t kFilling = '5';
inline constexpr std::uint8_t kCounters = '6';
inline constexpr std::uint8_t kType = '7';
inline constexpr std::uint8_t kRelease = '8';
inline constexpr std::uint8_t kReadNumbered = 'N';
inline constexpr std::uint8_t kWriteNumbered = 'O';
inline constexpr std::uint8_t kPrice = 'Q';
inline constexpr std::uint8_t kAmountDose = 'S';
inline constexpr std::uint8_t kVolumeDose = 'T';
inline constexpr std::uint8_t kAuthorize = 'U';
inline constexpr std::uint8_t kForcedStart = 'V';
inline constexpr std::uint8_t kWriteCommon = 'W';
inline constexpr std::uint8_t kProgramAddress = ']';

// Group byte of the requests that name no controller address ('W', ']').
inline constexpr std::uint8_t kUnaddressedGroup = 0x02;

// Line status codes a command leaves after the controller refused it (reply lead 0x18).
inline constexpr std::uint8_t kStartRefused = 16;
inline constexpr std::uint8_t kAuthorizeRefused = 17;
inline constexpr std::uint8_t kVolumeDoseRefused = 18;
inline constexpr std::uint8_t kAmountDoseRefused = 19;
inline constexpr std::uint8_t kStopRefused = 20;
inline constexpr std::uint8_t kPriceRefused = 21;
inline constexpr std::uint8_t kParameterRefused = 23;
inline constexpr std::uint8_t kAddressRefused = 24;
inline constexpr std::uint8_t kShortFillingRefused = 25;

// Numbered parameters 0..59 and the digits each carries in 'N' replies and 'O' writes.
inline constexpr int kParameterCount = 60;
inline constexpr std::array<std::uint8_t, kParameterCount> kParamDigits{1, 1, 1, 1, 3, 3, 1, 2, 1, 3, 3, 3, 2, 2, 1, 2, 2, 2, 5, 3,
                                                                        3, 2, 1, 3, 6, 8, 4, 5, 5, 5, 1, 1, 3, 2, 3, 1, 3, 3, 3, 2,
                                                                        2, 3, 2, 2, 8, 1, 2, 1, 2, 2, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0};

// The calibration password. Counter and calibration writes go behind a write of it and end by
// reading it back: the controller's confirmation of the operation.
inline constexpr int kPasswordNumber = 26;

// Host parameter numbers: p = 10 + 60 x (nozzle - 1) + number; below 10 nothing is readable.
inline constexpr std::int32_t kFirstNumbered = 10;
inline constexpr std::int32_t kHostParamsPerNozzle = 60;

// Range checks of a slot that addresses a column (and a nozzle of it), made before anything is
// sent or any table is touched. Raise dorv::Exception.
void CheckTarget(std::int32_t line, std::int32_t column);
void CheckTarget(std::int32_t line, std::int32_t column, std::int32_t nozzle);

// A zero-filled record [group, address, command]. Zero-filled so that nothing but the request
// and, after the exchange, the reply can ever be read back from it.
Record Request(GroupAddress target, std::uint8_t command);
// Copies text into the record from index `at` on.
void Put(Record& record, std::size_t at, std::string_view text);

// 'N' read of a numbered parameter: [group, address, 'N', '0' + number] (4 bytes); the reply
// carries a data byte the driver does not examine, then the parameter's digits.
Record NumberedRead(GroupAddress target, int number);
std::uint8_t NumberedReplyLength(int number);
// 'O' write of a numbered parameter: [group, address, 'O', '0' + number, digits...], so
// digits.size() + 4 bytes.
Record NumberedWrite(GroupAddress target, int number, std::string_view digits);
// 'W' write of a common setting of the whole line: [0x02, 'W', '0' + number, '0' + value].
Record CommonWrite(int number, int value);

struct Reply {
    std::int32_t result;     // 0: the link completed the transaction
    std::uint8_t lineState;  // the line status this exchange left
    std::uint8_t lead;       // reply byte 0
    std::size_t length;      // bytes of the accepted reply left in the record
    bool Completed() const { return result == 0; }
    bool Answered() const { return result == 0 && lineState == kLineAnswered; }
    bool Refused() const { return Answered() && lead == codec::kRefused; }
};

// Number of reply bytes in the record after an exchange: 1 for a one-byte reply, up to and
// including the check byte for a data reply, 0 when no reply lead stands at byte 0.
std::size_t ReplyExtent(const Record& record);

// One exchange of a command. Afterwards every record byte past the reply is zero: a one-byte
// answer leaves the request behind it, and a request digit must never pass for a reply digit.
Reply Transfer(TVM30& driver, std::int32_t line, Record& record, std::size_t n, std::uint8_t replyLength, std::uint8_t mode);

// Index of reply data byte j (1-based) in the record.
constexpr std::size_t DataIndex(int j) { return static_cast<std::size_t>(2 * j - 1); }

// The value an 'N' reply carries for parameter `number`: its digits after the data byte that is
// not examined, up to the first byte that is no digit (a field shorter than the parameter's
// digit count still reads). Nothing when the reply is no data frame (an acknowledgement, a
// late answer to another request), or when a parameter that has digits got none: such a reply
// is no reading, and least of all a reading of 0.
std::optional<std::int64_t> NumberedReading(const Record& record, const Reply& reply, int number);

}  // namespace dorv::cmd
