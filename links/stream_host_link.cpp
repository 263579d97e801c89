#include "links/stream_host_link.h"

#include <algorithm>
#include <cerrno>

#include "links/wire_bytes.h"

namespace dorv::links {

namespace {

// How long a device may refuse to take the request before the line counts as stuck.
constexpr std::chrono::milliseconds kSendTimeout{1000};

std::atomic<std::uint64_t> nextLinkId{1};

// The calling thread's last transaction, so that ReadLineState right after Transact reports
// that transaction even when another thread has used the line in between.
struct LastTransaction {
    std::uint64_t link = 0;
    std::uint8_t line = 0;
    std::uint8_t state = kStateNone;
};
thread_local LastTransaction lastTransaction;

}  // namespace

StreamHostLink::StreamHostLink() : id_(nextLinkId.fetch_add(1)) {}

void StreamHostLink::SetTimeouts(std::chrono::milliseconds response, std::chrono::milliseconds interByte) {
    responseMs_ = static_cast<int>(std::clamp<long long>(response.count(), 0, 600000));
    interByteMs_ = static_cast<int>(std::clamp<long long>(interByte.count(), 0, 600000));
}

void StreamHostLink::SetRetries(int retries) { retries_ = std::clamp(retries, 0, 100); }

std::int32_t DORV_CALL StreamHostLink::GetLineError(std::uint8_t line) { return line < kLineCount ? lines_[line].error.load() : EINVAL; }

void DORV_CALL StreamHostLink::ReportLineCode(std::uint8_t line, std::int32_t code) {
    if (line < kLineCount) lines_[line].reportedCode = code;
}

void DORV_CALL StreamHostLink::ReportLineState(std::uint8_t, std::int32_t) {}

std::uint8_t DORV_CALL StreamHostLink::ReadLineState(std::uint8_t line) {
    if (line >= kLineCount) return kStateNone;
    if (lastTransaction.link == id_ && lastTransaction.line == line) return lastTransaction.state;
    return lines_[line].state.load();
}

std::int32_t DORV_CALL StreamHostLink::Transact(std::uint8_t line, const std::uint8_t* frame, std::uint8_t frameLength, std::uint8_t* reply,
                                                std::uint8_t replyLength, std::uint8_t /*mode*/) {
    if (line >= kLineCount) return EINVAL;
    if (frame == nullptr || frameLength == 0) {
        Finish(line, {EINVAL, kStateNoReply});
        return EINVAL;
    }
    auto hold = HoldLine(line);
    try {
        const Result r = Run(line, {frame, frameLength}, reply, replyLength);
        Finish(line, r);
        return r.code;
    } catch (...) {
        // The driver takes GetLineError as the result when Transact raises; the line is
        // opened afresh next time, since nobody knows where the exception left it.
        CloseLine(line);
        lines_[line].error = EIO;
        throw;
    }
}

std::int32_t DORV_CALL StreamHostLink::ConfigureLine(std::uint8_t line, std::int32_t format, std::int32_t baud) {
    if (line >= kLineCount) return EINVAL;
    Line& l = lines_[line];
    const LineSettings settings{format, baud};
    if (const int err = CheckLineSettings(settings)) {
        l.error = err;
        return err;
    }
    auto hold = HoldLine(line);
    l.settings = settings;
    const int err = l.stream.IsOpen() ? ApplySettings(l.stream, settings) : Open(line, false);
    if (err != 0) {
        CloseLine(line);
        l.error = err;
    }
    return err;
}

void DORV_CALL StreamHostLink::SetReplyValidator(std::uint8_t line, ReplyValidator validator, void* context) {
    if (line >= kLineCount) return;
    std::lock_guard lock(lines_[line].callbacks);
    lines_[line].validator = validator;
    lines_[line].validatorContext = context;
}

void DORV_CALL StreamHostLink::SetLineConfigurator(std::uint8_t line, LineConfigurator configurator, void* context) {
    if (line >= kLineCount) return;
    std::lock_guard lock(lines_[line].callbacks);
    lines_[line].configurator = configurator;
    lines_[line].configuratorContext = context;
}

std::chrono::milliseconds StreamHostLink::SendTime(const LineSettings&, std::size_t) const { return std::chrono::milliseconds{0}; }

std::unique_lock<std::recursive_mutex> StreamHostLink::HoldLine(std::uint8_t line) { return std::unique_lock(lines_[line].hold); }

void StreamHostLink::CloseLine(std::uint8_t line) { lines_[line].stream.Close(); }

StreamHostLink::Result StreamHostLink::Run(std::uint8_t line, std::span<const std::uint8_t> frame, std::uint8_t* reply,
                                           std::uint8_t replyLength) {
    Line& l = lines_[line];
    const bool wasOpen = l.stream.IsOpen();
    if (!wasOpen) {
        if (const int err = Open(line, true)) return {err, kStateNoReply};
    }
    if (const auto refused = ClearLine(line, wasOpen)) {
        if (refused->code != 0) CloseLine(line);
        return *refused;
    }
    // A command that expects no reply is not repeated: its acknowledgement is optional.
    const int attempts = replyLength == 0 ? 1 : 1 + retries_.load();
    Result r{0, kStateNoReply};
    int made = 0;
    for (int i = 0; i < attempts; ++i) {
        // Every repetition starts clean: a late answer to the last one is no answer to this.
        if (i > 0) {
            if (const auto refused = ClearLine(line, false)) {
                r = *refused;
                break;
            }
        }
        r = Attempt(line, frame, reply, replyLength);
        ++made;
        if (r.code != 0 || r.state == kStateAnswered) break;
    }
    // An answer to a repetition may have an answer to an earlier attempt behind it.
    if (made > 1) l.unsure = true;
    if (r.code != 0) CloseLine(line);
    return r;
}

std::optional<StreamHostLink::Result> StreamHostLink::ClearLine(std::uint8_t line, bool reopenEnded) {
    Line& l = lines_[line];
    // Nothing waiting right now says little about a line that was unsure a moment ago: a reply
    // to a request given up on may still be on its way (a controller answers within its own
    // delay, not the link's timeout), and a line that goes on talking reaches the host in
    // bursts. So after an unsure exchange the line must have been silent for longer than a
    // controller takes to answer, counted from when it last spoke or was last waited on.
    std::chrono::milliseconds listen{0};
    std::chrono::milliseconds gap{interByteMs_};
    if (l.unsure) {
        gap = SettleTime();
        listen = std::max(std::chrono::milliseconds{0},
                          std::chrono::ceil<std::chrono::milliseconds>(l.heardAt + gap - std::chrono::steady_clock::now()));
    }
    auto stale = DiscardStale(line, listen, gap);
    if (stale.error != 0) {
        if (!reopenEnded) return Result{stale.error, kStateNoReply};
        // The stream ended while the line was idle (a device unplugged and back, a server that
        // drops idle connections). Nothing of this request has gone out yet, so opening the
        // line afresh now loses nothing and repeats nothing.
        if (const int err = Open(line, true)) return Result{err, kStateNoReply};
        stale = DiscardStale(line);
        if (stale.error != 0) return Result{stale.error, kStateNoReply};
    }
    if (stale.quiet) {
        l.unsure = false;
        return std::nullopt;
    }
    // Still talking at the limit: a peer pouring out garbage or a backlog without end. A new
    // connection (or the device opened again) starts without the backlog.
    trace_.Note(line, "line kept talking: " + std::to_string(stale.bytes) + " bytes discarded in " + std::to_string(stale.took.count()) +
                          " ms; opening it afresh");
    if (const int err = Open(line, true)) return Result{err, kStateNoReply};
    // A peer that floods every connection may take a moment to start on the new one, and a
    // serial line reopened still carries what its controllers were saying.
    stale = DiscardStale(line, SettleTime(), SettleTime());
    if (stale.error != 0) return Result{stale.error, kStateNoReply};
    if (stale.quiet) {
        l.unsure = false;
        return std::nullopt;
    }
    trace_.Note(line, "line kept talking when opened afresh: " + std::to_string(stale.bytes) + " bytes discarded in " +
                          std::to_string(stale.took.count()) + " ms; request not sent");
    // The next request waits for the line to fall silent, however soon it comes.
    l.unsure = true;
    l.heardAt = std::chrono::steady_clock::now();
    return Result{0, kStateKeptTalking};
}

int StreamHostLink::Open(std::uint8_t line, bool callConfigurator) {
    Line& l = lines_[line];
    l.stream.Close();
    l.unsure = false;
    int err = OpenStream(line, l.stream);
    if (err == 0) err = ApplySettings(l.stream, l.settings);
    if (err == 0 && callConfigurator) {
        LineConfigurator configurator;
        void* context;
        {
            std::lock_guard lock(l.callbacks);
            configurator = l.configurator;
            context = l.configuratorContext;
        }
        // The host's driver re-applies its settings through ConfigureLine on this thread.
        if (configurator) err = configurator(context, line);
        if (err == 0 && !l.stream.IsOpen()) err = EIO;
    }
    if (err != 0) l.stream.Close();
    return err;
}

ByteStream::Discarded StreamHostLink::DiscardStale(std::uint8_t line, std::chrono::milliseconds listen,
                                                   std::optional<std::chrono::milliseconds> gap) {
    std::vector<std::uint8_t> discarded;
    const auto stale =
        lines_[line].stream.DiscardInput(discarded, gap.value_or(std::chrono::milliseconds(interByteMs_)), kTalkingLimit, listen);
    if (!discarded.empty()) trace_.Record(TraceDirection::Skipped, line, discarded);
    // The entry shows the first bytes; a flood is counted.
    if (stale.bytes > discarded.size() && stale.quiet) {
        trace_.Note(line, std::to_string(stale.bytes) + " bytes discarded in " + std::to_string(stale.took.count()) + " ms");
    }
    return stale;
}

StreamHostLink::Result StreamHostLink::Attempt(std::uint8_t line, std::span<const std::uint8_t> frame, std::uint8_t* reply,
                                               std::uint8_t replyLength) {
    Line& l = lines_[line];
    const auto sendTime = SendTime(l.settings, frame.size());
    trace_.Record(TraceDirection::Sent, line, frame);
    if (const int err = l.stream.Send(frame, kSendTimeout + sendTime)) return {err, kStateNoReply};

    ReplyCollector collector(frame);
    std::vector<std::uint8_t> after;
    const auto got =
        l.stream.Collect(collector, std::chrono::milliseconds(responseMs_) + sendTime, std::chrono::milliseconds(interByteMs_), after);
    if (collector.EchoRemoved() > 0) trace_.Record(TraceDirection::Skipped, line, frame);
    trace_.Record(TraceDirection::Received, line, collector.Bytes());
    if (!after.empty()) trace_.Record(TraceDirection::Skipped, line, after);

    if (got.outcome == ByteStream::Outcome::Failed) return {got.error, kStateNoReply};
    if (collector.Bytes().empty()) {
        // A reply given up on may still come: it must not stand for the next request's.
        l.unsure = true;
        l.heardAt = std::chrono::steady_clock::now();
        return {0, kStateNoReply};
    }
    const std::uint8_t state = Validate(line, collector.Reply(), collector.Complete(), reply);
    // A reply of one byte carries no check: a stray byte, or the first of a line that goes on
    // talking, looks just like it. Where the command expected a data reply, a lone byte leaves
    // the link unsure; so does anything ahead of the reply or behind it, or a rejected reply.
    const bool loneByteForData = collector.Reply().size() == 1 && replyLength >= wire::kShortestDataReply;
    l.unsure = state != kStateAnswered || !collector.Complete() || loneByteForData ||
               collector.Reply().size() != collector.Bytes().size() || !after.empty();
    l.heardAt = std::chrono::steady_clock::now();
    return {0, state};
}

std::uint8_t StreamHostLink::Validate(std::uint8_t line, std::span<const std::uint8_t> bytes, bool complete, std::uint8_t* reply) {
    Line& l = lines_[line];
    ReplyValidator validator;
    void* context;
    {
        std::lock_guard lock(l.callbacks);
        validator = l.validator;
        context = l.validatorContext;
    }
    std::array<std::uint8_t, kReplyCapacity> scratch;
    std::uint8_t* buffer = reply != nullptr ? reply : scratch.data();
    std::copy(bytes.begin(), bytes.end(), buffer);
    // Without a validator only the framing can speak for the reply.
    if (validator == nullptr) return complete ? kStateAnswered : kStateFrameError;

    auto length = static_cast<std::uint8_t>(bytes.size());
    l.reportedCode = -1;
    if (validator(context, line, buffer, 0, &length, 0)) return kStateAnswered;
    switch (l.reportedCode.load()) {
        case kCodeBadCheck: return kStateBadCheck;
        case kCodeNoLead: return kStateNoLead;
        default: return kStateFrameError;  // 246, state 3, or a rejection without a reason
    }
}

std::chrono::milliseconds StreamHostLink::SettleTime() const {
    return std::chrono::milliseconds(std::max(responseMs_.load(), interByteMs_.load()));
}

void StreamHostLink::Finish(std::uint8_t line, const Result& result) {
    Line& l = lines_[line];
    l.state = result.state;
    if (result.code != 0) l.error = result.code;
    lastTransaction = {id_, line, result.state};
}

}  // namespace dorv::links
