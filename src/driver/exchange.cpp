#include <exception>

#include "addressing.h"
#include "codec.h"
#include "tvm30.h"

namespace dorv {

namespace {

// The innermost OwnLineState of this thread; each points to the one it hides.
thread_local OwnLineState* tOwnLineState = nullptr;

}  // namespace

OwnLineState::OwnLineState(const TVM30& driver, std::int32_t line) : driver_(&driver), line_(line), outer_(tOwnLineState) {
    tOwnLineState = this;
}

OwnLineState::~OwnLineState() { tOwnLineState = outer_; }

bool OwnLineState::Answered() const { return completed_ && state_ == kLineAnswered; }

void TVM30::StoreLineStatus(std::int32_t line, std::uint8_t v) {
    lineStatus_.Set(static_cast<std::size_t>(line), v);
    for (OwnLineState* w = tOwnLineState; w; w = w->outer_) {
        if (w->driver_ == this && w->line_ == line) w->state_ = v;
    }
}

void TVM30::NoteCompleted(std::int32_t line, bool completed) const {
    for (OwnLineState* w = tOwnLineState; w; w = w->outer_) {
        if (w->driver_ == this && w->line_ == line) w->completed_ = completed;
    }
}

bool DORV_CALL TVM30::ValidateReplyCallback(void* context, std::uint8_t line, std::uint8_t* reply, std::int32_t, std::uint8_t* length,
                                            std::int32_t) {
    auto* self = static_cast<TVM30*>(context);
    const codec::Verdict v = codec::ValidateReply(reply, *length);
    if (v.state >= 0) self->link_->ReportLineState(line, v.state);
    self->link_->ReportLineCode(line, v.code);
    return v.accepted;
}

ExchangeResult TVM30::Exchange(std::int32_t line, Record& record, std::size_t n, std::uint8_t replyLength, std::uint8_t mode) {
    CheckLine(line);
    const auto l = static_cast<std::uint8_t>(line);
    std::uint8_t frame[codec::kMaxFrame];
    const std::uint8_t frameLength = codec::BuildFrame(record.data(), n, frame);
    // Not guarded: a failure to install the validator reaches the command and the host.
    link_->SetReplyValidator(l, &TVM30::ValidateReplyCallback, this);
    std::int32_t result;
    try {
        result = link_->Transact(l, frame, frameLength, record.data(), replyLength, mode);
        const std::uint8_t state = link_->ReadLineState(l);
        NoteCompleted(line, result == 0);
        StoreLineStatus(line, state);
        return {result, state};
    } catch (const std::exception&) {
        // The line keeps the status it had; the link tells what went wrong.
        result = link_->GetLineError(l);
    }
    NoteCompleted(line, false);
    return {result, LineStatusOf(line)};
}

}  // namespace dorv
