#include "metered_link.h"

#include <algorithm>
#include <cmath>
#include <thread>

namespace dorv::bench {

namespace {

using Clock = std::chrono::steady_clock;

// The reply length the link handed the validator during this thread's current Transact.
thread_local std::size_t replyBytesSeen = 0;

}  // namespace

std::chrono::nanoseconds WireTiming::Exchange(std::size_t requestBytes, std::size_t replyBytes) const {
    if (baud <= 0) return std::chrono::nanoseconds{0};
    const auto bits = static_cast<long long>(requestBytes + replyBytes) * 10;
    const std::chrono::nanoseconds onWire{bits * 1'000'000'000LL / baud};
    return replyBytes > 0 ? onWire + turnaround : onWire;
}

MeteredLink::MeteredLink(HostLink& inner, WireTiming timing, std::size_t keep) : inner_(inner), timing_(timing), keep_(keep) { Reset(); }

void MeteredLink::Reset() {
    for (Slot& s : slots_) {
        std::lock_guard lock(s.guard);
        s.meter = LineMeter{};
        // Room for the samples is made here, so that metering allocates nothing while it runs.
        s.meter.overheadNs.reserve(keep_);
    }
}

LineMeter MeteredLink::Line(std::uint8_t line) const {
    if (line >= kMeteredLines) return {};
    Slot& s = slots_[line];
    std::lock_guard lock(s.guard);
    return s.meter;
}

std::uint64_t MeteredLink::Exchanges(std::uint8_t line) const {
    if (line >= kMeteredLines) return 0;
    Slot& s = slots_[line];
    std::lock_guard lock(s.guard);
    return s.meter.exchanges;
}

LineMeter MeteredLink::Total() const {
    LineMeter total;
    for (std::uint8_t line = 0; line < kMeteredLines; ++line) {
        const LineMeter m = Line(line);
        total.exchanges += m.exchanges;
        total.answered += m.answered;
        total.requestBytes += m.requestBytes;
        total.replyBytes += m.replyBytes;
        total.wire += m.wire;
        total.elapsed += m.elapsed;
        total.overheadNs.insert(total.overheadNs.end(), m.overheadNs.begin(), m.overheadNs.end());
    }
    return total;
}

std::int32_t DORV_CALL MeteredLink::GetLineError(std::uint8_t line) { return inner_.GetLineError(line); }

void DORV_CALL MeteredLink::ReportLineCode(std::uint8_t line, std::int32_t code) { inner_.ReportLineCode(line, code); }

void DORV_CALL MeteredLink::ReportLineState(std::uint8_t line, std::int32_t state) { inner_.ReportLineState(line, state); }

std::uint8_t DORV_CALL MeteredLink::ReadLineState(std::uint8_t line) { return inner_.ReadLineState(line); }

std::int32_t DORV_CALL MeteredLink::Transact(std::uint8_t line, const std::uint8_t* frame, std::uint8_t frameLength, std::uint8_t* reply,
                                             std::uint8_t replyLength, std::uint8_t mode) {
    replyBytesSeen = 0;
    const auto start = Clock::now();
    const std::int32_t result = inner_.Transact(line, frame, frameLength, reply, replyLength, mode);
    if (linger_.count() > 0) std::this_thread::sleep_for(linger_);
    const auto elapsed = Clock::now() - start;
    if (line >= kMeteredLines) return result;
    // Read right away, on this thread: the link's thread-local answer is this transaction's.
    const bool answered = result == 0 && inner_.ReadLineState(line) == kLineAnswered;
    const auto wire = timing_.Exchange(frameLength, replyBytesSeen);
    Slot& s = slots_[line];
    std::lock_guard lock(s.guard);
    LineMeter& m = s.meter;
    ++m.exchanges;
    if (answered) ++m.answered;
    m.requestBytes += frameLength;
    m.replyBytes += replyBytesSeen;
    m.wire += wire;
    m.elapsed += elapsed;
    if (m.overheadNs.size() < m.overheadNs.capacity()) {
        m.overheadNs.push_back(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed - wire).count());
    }
    return result;
}

std::int32_t DORV_CALL MeteredLink::ConfigureLine(std::uint8_t line, std::int32_t format, std::int32_t baud) {
    return inner_.ConfigureLine(line, format, baud);
}

void DORV_CALL MeteredLink::SetReplyValidator(std::uint8_t line, ReplyValidator validator, void* context) {
    if (line >= kMeteredLines) {
        inner_.SetReplyValidator(line, validator, context);
        return;
    }
    Slot& s = slots_[line];
    {
        std::lock_guard lock(s.guard);
        s.validator = validator;
        s.context = context;
    }
    // Without a validator the link judges by the framing alone; the meter must not change that.
    if (validator == nullptr)
        inner_.SetReplyValidator(line, nullptr, nullptr);
    else
        inner_.SetReplyValidator(line, &MeteredLink::MeterReply, &s);
}

void DORV_CALL MeteredLink::SetLineConfigurator(std::uint8_t line, LineConfigurator configurator, void* context) {
    inner_.SetLineConfigurator(line, configurator, context);
}

bool DORV_CALL MeteredLink::MeterReply(void* context, std::uint8_t line, std::uint8_t* reply, std::int32_t unused1, std::uint8_t* length,
                                       std::int32_t unused2) {
    auto* s = static_cast<Slot*>(context);
    replyBytesSeen += *length;
    ReplyValidator validator;
    void* validatorContext;
    {
        std::lock_guard lock(s->guard);
        validator = s->validator;
        validatorContext = s->context;
    }
    return validator != nullptr && validator(validatorContext, line, reply, unused1, length, unused2);
}

std::int64_t Percentile(std::vector<std::int64_t> samples, double percent) {
    if (samples.empty()) return 0;
    const double rank = std::ceil(std::clamp(percent, 0.0, 100.0) / 100 * static_cast<double>(samples.size()));
    const std::size_t index = rank < 1 ? 0 : static_cast<std::size_t>(rank) - 1;
    std::nth_element(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(index), samples.end());
    return samples[index];
}

}  // namespace dorv::bench
