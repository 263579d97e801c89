// MeteredLink: a HostLink that hands every call to the host's real link and meters each line's
// exchanges on the way: the request as sent (its frame length), the reply as the link received
// it (the length the link gives the reply validator, noise included, echo taken out), how long
// the exchange took, and how long the same bytes take on the wire.
//
// Wire time of an exchange = (request bytes + reply bytes) x 10 bit times + the controller's
// turnaround when a reply came. Overhead = elapsed - wire time; it is kept per exchange so that
// its distribution can be shown.
//
// The reply length is taken by a validator of the meter's own that the driver's validator is
// wrapped in; the link calls it on the transacting thread before Transact returns. Every attempt
// of the link counts only once, so the meter's host sets the link's retries to 0: then one
// Transact is one request on the wire.
//
// Threads: any number of lines may transact at once; the counters of one line are written by
// whichever thread transacts on it. Reading the counters while transactions run gives a
// consistent enough snapshot for a rate, not an exact one.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

#include "dorv5000/host_link.h"

namespace dorv::bench {

inline constexpr int kMeteredLines = 40;

struct WireTiming {
    int baud = 4800;
    std::chrono::nanoseconds turnaround{std::chrono::milliseconds(2)};

    // Time on the wire of one exchange.
    std::chrono::nanoseconds Exchange(std::size_t requestBytes, std::size_t replyBytes) const;
};

struct LineMeter {
    std::uint64_t exchanges = 0;
    std::uint64_t answered = 0;  // the line state after the exchange was 1
    std::uint64_t requestBytes = 0;
    std::uint64_t replyBytes = 0;
    std::chrono::nanoseconds wire{0};
    std::chrono::nanoseconds elapsed{0};
    std::vector<std::int64_t> overheadNs;  // one entry per exchange, as far as room was kept
};

class MeteredLink final : public HostLink {
public:
    // `inner` must outlive the meter. `keep` is how many per-exchange overheads each line keeps.
    MeteredLink(HostLink& inner, WireTiming timing, std::size_t keep = 16384);

    // Starts every line's counters afresh. No transaction may run meanwhile.
    void Reset();
    // A copy of a line's counters.
    LineMeter Line(std::uint8_t line) const;
    std::uint64_t Exchanges(std::uint8_t line) const;
    // The sum over all lines.
    LineMeter Total() const;
    const WireTiming& Timing() const { return timing_; }
    // Calibration: waits this long after every reply before returning, as a link that ends
    // replies by waiting for the line to fall silent would. A measurement that does not show
    // the loss cannot tell a good link from a bad one.
    void SetLinger(std::chrono::microseconds linger) { linger_ = linger; }

    std::int32_t DORV_CALL GetLineError(std::uint8_t line) override;
    void DORV_CALL ReportLineCode(std::uint8_t line, std::int32_t code) override;
    void DORV_CALL ReportLineState(std::uint8_t line, std::int32_t state) override;
    std::uint8_t DORV_CALL ReadLineState(std::uint8_t line) override;
    std::int32_t DORV_CALL Transact(std::uint8_t line, const std::uint8_t* frame, std::uint8_t frameLength, std::uint8_t* reply,
                                    std::uint8_t replyLength, std::uint8_t mode) override;
    std::int32_t DORV_CALL ConfigureLine(std::uint8_t line, std::int32_t format, std::int32_t baud) override;
    void DORV_CALL SetReplyValidator(std::uint8_t line, ReplyValidator validator, void* context) override;
    void DORV_CALL SetLineConfigurator(std::uint8_t line, LineConfigurator configurator, void* context) override;

private:
    struct Slot {
        std::mutex guard;  // guards validator, context and meter
        ReplyValidator validator = nullptr;
        void* context = nullptr;
        LineMeter meter;
    };
    static bool DORV_CALL MeterReply(void* context, std::uint8_t line, std::uint8_t* reply, std::int32_t unused1, std::uint8_t* length,
                                     std::int32_t unused2);

    HostLink& inner_;
    const WireTiming timing_;
    const std::size_t keep_;
    std::chrono::microseconds linger_{0};
    mutable std::array<Slot, kMeteredLines> slots_;
};

// Nearest-rank percentile (0..100) of unsorted samples; 0 for none.
std::int64_t Percentile(std::vector<std::int64_t> samples, double percent);

}  // namespace dorv::bench
