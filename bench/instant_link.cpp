#include "instant_link.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "addressing.h"
#include "clock.h"
#include "line.h"

namespace dorv::bench {

void InstantLink::Answer(std::uint8_t command, Bytes reply) {
    if (reply.size() > static_cast<std::size_t>(kReplyCapacity)) reply.resize(kReplyCapacity);
    replies_[command] = std::move(reply);
}

std::uint8_t DORV_CALL InstantLink::ReadLineState(std::uint8_t line) { return line < kLines ? lines_[line].state : 0; }

std::int32_t DORV_CALL InstantLink::Transact(std::uint8_t line, const std::uint8_t* frame, std::uint8_t frameLength, std::uint8_t* reply,
                                             std::uint8_t, std::uint8_t) {
    if (line >= kLines || frame == nullptr || frameLength == 0) return 22;  // EINVAL
    ++exchanges_;
    Line& l = lines_[line];
    const Bytes& answer = replies_[CommandOf(frame, frameLength)];
    if (answer.empty()) {
        l.state = 2;  // no reply
        return 0;
    }
    std::copy(answer.begin(), answer.end(), reply);
    auto length = static_cast<std::uint8_t>(answer.size());
    const bool accepted = l.validator == nullptr || l.validator(l.context, line, reply, 0, &length, 0);
    l.state = accepted ? 1 : 3;
    return 0;
}

void DORV_CALL InstantLink::SetReplyValidator(std::uint8_t line, ReplyValidator validator, void* context) {
    if (line >= kLines) return;
    lines_[line].validator = validator;
    lines_[line].context = context;
}

std::uint8_t CommandOf(const std::uint8_t* frame, std::size_t length) {
    if (length >= 3 && frame[1] == 0x02 && (frame[2] == 'W' || frame[2] == ']')) return frame[2];
    return length >= 5 ? frame[4] : 0;
}

namespace {

Bytes Ask(emu::Line& line, int address, std::initializer_list<std::uint8_t> tail) {
    const emu::AddressBytes a = emu::EncodeAddress(address);
    Bytes record{a.group, a.address};
    record.insert(record.end(), tail);
    Bytes reply = line.Answer(record).bytes;
    if (reply.empty()) throw std::logic_error("the emulated controller did not answer");
    return reply;
}

}  // namespace

CannedReplies MakeCannedReplies() {
    emu::ManualClock clock;
    emu::Line line({.flow_lps = 1.0}, clock.AsClock());
    line.AddController(1);
    CannedReplies c;
    c.idleStatus = Ask(line, 1, {'1'});
    c.type = Ask(line, 1, {'7'});
    c.paramShort = Ask(line, 1, {'N', '0' + 2});
    c.paramLong = Ask(line, 1, {'N', '0' + 52});
    Ask(line, 1, {'Q', '4', '5', '5', '0'});
    line.Lift(1);
    c.status = Ask(line, 1, {'1'});
    Ask(line, 1, {'2'});
    clock.Advance(std::chrono::milliseconds(12345));
    c.filling = Ask(line, 1, {'5'});
    c.counters = Ask(line, 1, {'6'});
    return c;
}

}  // namespace dorv::bench
