#include "commands.h"

#include <algorithm>

#include "digits.h"

namespace dorv::cmd {

void CheckTarget(std::int32_t line, std::int32_t column) {
    CheckColumn(column);
    CheckLine(line);
}

void CheckTarget(std::int32_t line, std::int32_t column, std::int32_t nozzle) {
    CheckTarget(line, column);
    CheckNozzle(nozzle);
}

Record Request(GroupAddress target, std::uint8_t command) {
    Record r{};
    r[0] = target.group;
    r[1] = target.address;
    r[2] = command;
    return r;
}

void Put(Record& record, std::size_t at, std::string_view text) {
    std::copy(text.begin(), text.end(), record.begin() + static_cast<std::ptrdiff_t>(at));
}

Record NumberedRead(GroupAddress target, int number) {
    Record r = Request(target, kReadNumbered);
    r[3] = static_cast<std::uint8_t>('0' + number);
    return r;
}

std::uint8_t NumberedReplyLength(int number) {
    return static_cast<std::uint8_t>(2 * kParamDigits.at(static_cast<std::size_t>(number)) + 6);
}

Record NumberedWrite(GroupAddress target, int number, std::string_view digits) {
    Record r = Request(target, kWriteNumbered);
    r[3] = static_cast<std::uint8_t>('0' + number);
    Put(r, 4, digits);
    return r;
}

std::optional<std::int64_t> NumberedReading(const Record& r, const Reply& reply, int number) {
    if (!reply.Answered() || reply.lead != codec::kDataLead) return std::nullopt;
    const int length = static_cast<int>(reply.length);
    const std::size_t first = DataIndex(2);
    const bool hasDigits = kParamDigits.at(static_cast<std::size_t>(number)) > 0;
    if (hasDigits && !(static_cast<int>(first) < length && digits::IsParameterDigit(r[first]))) return std::nullopt;
    return digits::ReadParameterDigits(r.data(), length, static_cast<int>(first));
}

Record CommonWrite(int number, int value) {
    // No controller address: the setting goes to every controller of the line.
    Record r = Request({kUnaddressedGroup, kWriteCommon}, static_cast<std::uint8_t>('0' + number));
    r[3] = static_cast<std::uint8_t>('0' + value);
    return r;
}

std::size_t ReplyExtent(const Record& r) {
    switch (r[0]) {
        case codec::kAck:
        case codec::kNak:
        case codec::kRefused: return 1;
        case codec::kDataLead: break;
        default: return 0;
    }
    // Data bytes stand at odd indices, each followed by its complement, so the first odd index
    // holding 0x03 followed by 0x03 is the trailer of an accepted reply.
    for (std::size_t i = 1; i + 2 < r.size(); i += 2) {
        if (r[i] == codec::kEnd && r[i + 1] == codec::kEnd) return i + 3;
    }
    return 1;
}

Reply Transfer(TVM30& driver, std::int32_t line, Record& record, std::size_t n, std::uint8_t replyLength, std::uint8_t mode) {
    const ExchangeResult ex = driver.Exchange(line, record, n, replyLength, mode);
    const std::size_t length = ReplyExtent(record);
    std::fill(record.begin() + static_cast<std::ptrdiff_t>(length), record.end(), 0);
    return {ex.result, ex.lineState, record[0], length};
}

}  // namespace dorv::cmd
