// Tells from the framing alone when a controller's reply is complete, so a link returns as soon
// as the last byte is in and never waits for the line to fall silent.
//
// A reply is one of the bytes 0x06 (ack), 0x15 (not acknowledged), 0x18 (refused) on its own, or
// 0x02, pairs of data byte and complement, 0x03 0x03 and a check byte. Data bytes and their
// complements are never 0x03 in a well-formed reply, so a 0x03 where a data byte stands starts
// the trailer. Bytes ahead of the lead byte (line noise) stay in the buffer: the reply validator
// sees them and drops them itself. An exact copy of the request ahead of the reply is the line's
// echo (two-wire converters hear their own transmitter) and is taken out, since its group byte
// 0x02 would otherwise pass for the lead of a data reply.
//
// Pure: no I/O, no clock. Not thread-safe; one collector serves one transaction.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "dorv5000/host_link.h"

namespace dorv::links {

class ReplyCollector {
public:
    enum class Step {
        WaitLead,    // skipping noise until 0x02, 0x06, 0x15 or 0x18
        Echo,        // the bytes so far repeat the request; matching the rest of it
        DataByte,    // a data byte or the first 0x03 of the trailer comes next
        Complement,  // the complement of the data byte just taken comes next
        SecondEnd,   // the second 0x03 of the trailer comes next
        CheckByte,   // the check byte comes next
        Complete,    // the reply is whole; later bytes belong to something else
        Full,        // kReplyCapacity bytes arrived without a complete reply
    };

    // `echo` is the request just sent; empty when the line never echoes.
    explicit ReplyCollector(std::span<const std::uint8_t> echo = {});

    // Takes bytes from the front of `chunk` until the reply is complete or the buffer is full
    // and returns how many it took; the rest of the chunk is not part of this reply.
    std::size_t Feed(std::span<const std::uint8_t> chunk);

    Step CurrentStep() const { return step_; }
    bool Complete() const { return step_ == Step::Complete; }
    // No further byte can be taken: the reply is complete or the buffer is full.
    bool Done() const { return step_ == Step::Complete || step_ == Step::Full; }
    // Bytes collected: noise included, the line's echo taken out.
    std::span<const std::uint8_t> Bytes() const { return {buffer_.data(), length_}; }
    // The bytes from the lead byte this collector took for the reply's start on: what goes to
    // the reply validator. Noise ahead of it is left out, because a damaged echo of the request
    // carries the request's group byte 0x02, which the validator would take for a lead byte.
    // All bytes collected when no lead byte came.
    std::span<const std::uint8_t> Reply() const { return leadFound_ ? Bytes().subspan(leadAt_) : Bytes(); }
    // Bytes of the request's echo that were taken out.
    std::size_t EchoRemoved() const { return echoRemoved_; }

private:
    void Take(std::uint8_t byte);
    void TakeAtLead(std::uint8_t byte);
    void ContinueEcho(std::uint8_t byte);

    std::array<std::uint8_t, kReplyCapacity> buffer_{};
    std::size_t length_ = 0;
    std::array<std::uint8_t, kReplyCapacity> echo_{};
    std::size_t echoLength_ = 0;
    std::size_t echoStart_ = 0;    // where the suspected echo begins in buffer_
    std::size_t echoMatched_ = 0;  // bytes of the echo matched so far
    std::size_t echoRemoved_ = 0;
    std::size_t leadAt_ = 0;
    bool leadFound_ = false;
    Step step_ = Step::WaitLead;
};

}  // namespace dorv::links
