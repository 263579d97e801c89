#include "links/reply_collector.h"

#include <algorithm>
#include <cstring>

#include "links/wire_bytes.h"

namespace dorv::links {

namespace {

using namespace wire;

}  // namespace

ReplyCollector::ReplyCollector(std::span<const std::uint8_t> echo) : echoLength_(std::min(echo.size(), echo_.size())) {
    std::copy_n(echo.begin(), echoLength_, echo_.begin());
}

std::size_t ReplyCollector::Feed(std::span<const std::uint8_t> chunk) {
    std::size_t taken = 0;
    while (taken < chunk.size() && !Done()) Take(chunk[taken++]);
    return taken;
}

void ReplyCollector::Take(std::uint8_t byte) {
    buffer_[length_++] = byte;
    switch (step_) {
        case Step::WaitLead: TakeAtLead(byte); break;
        case Step::Echo: ContinueEcho(byte); break;
        case Step::DataByte: step_ = byte == kEnd ? Step::SecondEnd : Step::Complement; break;
        case Step::Complement: step_ = Step::DataByte; break;
        case Step::SecondEnd:
            // A lone 0x03 followed by anything else was a data byte and its complement; a
            // malformed frame, which the validator will reject, but its end still comes later.
            step_ = byte == kEnd ? Step::CheckByte : Step::DataByte;
            break;
        case Step::CheckByte: step_ = Step::Complete; break;
        case Step::Complete:
        case Step::Full: break;
    }
    if (step_ != Step::Complete && length_ == buffer_.size()) step_ = Step::Full;
}

void ReplyCollector::TakeAtLead(std::uint8_t byte) {
    if (echoLength_ > 0 && echoRemoved_ == 0 && byte == echo_[0]) {
        echoStart_ = length_ - 1;
        echoMatched_ = 0;
        step_ = Step::Echo;
        ContinueEcho(byte);
        return;
    }
    switch (byte) {
        case kAck:
        case kNak:
        case kRefused: step_ = Step::Complete; break;
        case kDataLead: step_ = Step::DataByte; break;
        default: return;  // noise: kept for the trace
    }
    leadAt_ = length_ - 1;
    leadFound_ = true;
}

void ReplyCollector::ContinueEcho(std::uint8_t byte) {
    if (byte != echo_[echoMatched_]) {
        // Not an echo after all (or a damaged one): what matched stays as noise for the
        // validator, and this byte may itself be the lead.
        step_ = Step::WaitLead;
        TakeAtLead(byte);
        return;
    }
    if (++echoMatched_ < echoLength_) return;
    // The whole request came back: take it out so that the reply starts clean.
    std::memmove(&buffer_[echoStart_], &buffer_[echoStart_ + echoLength_], length_ - echoStart_ - echoLength_);
    length_ -= echoLength_;
    echoRemoved_ = echoLength_;
    leadFound_ = false;
    step_ = Step::WaitLead;
}

}  // namespace dorv::links
