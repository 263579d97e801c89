// The HostLink of a host whose lines are byte streams (serial devices, TCP connections to
// serial device servers). This class does all of the transaction: discard stale input, send
// the request, collect the reply by its framing, have it validated, retry, keep the line's
// state. SerialHostLink and TcpHostLink only say how a line's stream is opened and set up.
//
// Threads: every operation may be called from any thread. Transactions of one line run one at
// a time, in the order their threads get the line; different lines run in parallel. The
// settings (timeouts, retries, trace) may be changed while transactions run and apply to the
// transactions that start afterwards.
//
// Line states (ReadLineState): 0 before the first transaction, then
//   1 answered: the reply was accepted by the validator,
//   2 no reply: nothing came back in time, or the line could not be used,
//   3 frame error: the reply's trailer or a complement was wrong (code 246 or state 3),
//   4 check byte wrong (code 222),
//   5 no lead byte: only noise came back (code 223),
//   6 line kept talking: input went on arriving after the line was opened afresh, so the
//     request was not sent.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "dorv5000/host_link.h"
#include "links/byte_stream.h"
#include "links/frame_trace.h"
#include "links/line_settings.h"

namespace dorv::links {

inline constexpr int kLineCount = 40;  // lines 0..39

inline constexpr std::uint8_t kStateNone = 0;
inline constexpr std::uint8_t kStateAnswered = 1;
inline constexpr std::uint8_t kStateNoReply = 2;
inline constexpr std::uint8_t kStateFrameError = 3;
inline constexpr std::uint8_t kStateBadCheck = 4;
inline constexpr std::uint8_t kStateNoLead = 5;
inline constexpr std::uint8_t kStateKeptTalking = 6;

// How long a line may go on delivering input that nobody asked for, before a request, until it
// is opened afresh (a new connection, the device reopened).
inline constexpr std::chrono::milliseconds kTalkingLimit{1000};

class StreamHostLink : public HostLink {
public:
    StreamHostLink();
    StreamHostLink(const StreamHostLink&) = delete;
    StreamHostLink& operator=(const StreamHostLink&) = delete;

    // `response` bounds the wait for the first byte of a reply (the time the request takes to
    // go out at the line's rate is added), `interByte` every pause inside it.
    // Defaults: 300 ms and 50 ms.
    void SetTimeouts(std::chrono::milliseconds response, std::chrono::milliseconds interByte);
    // Further attempts after a reply that did not come or was rejected. Default 1.
    void SetRetries(int retries);
    // Traces every frame to `out` (kept alive by the caller); nullptr ends tracing.
    void SetTrace(std::ostream* out) { trace_.SetStream(out); }
    // Traces to a file, appending; false when it cannot be opened.
    bool SetTraceFile(const std::string& path) { return trace_.OpenFile(path); }

    // Non-zero results are errno values: ENXIO no device assigned to the line, EINVAL a line
    // above 39, an unknown format or rate, or a missing frame; ENOENT, EACCES, EBUSY ... the
    // device could not be opened; ECONNREFUSED, ETIMEDOUT ... no connection; EIO, EPIPE the
    // device or the connection went away.
    std::int32_t DORV_CALL GetLineError(std::uint8_t line) override;
    void DORV_CALL ReportLineCode(std::uint8_t line, std::int32_t code) override;
    void DORV_CALL ReportLineState(std::uint8_t line, std::int32_t state) override;
    // The state of the calling thread's own last transaction when that was on `line` (the
    // driver reads the state right after its Transact, while other threads may already have
    // transacted on the line); otherwise the state of the line's latest transaction.
    std::uint8_t DORV_CALL ReadLineState(std::uint8_t line) override;
    // `replyLength` is what the command expects, not a promise: the reply ends where its framing
    // says. With 0 nothing is expected, but an acknowledgement that comes anyway is taken off
    // the line so that it cannot pass for the next reply; no retry then. `mode` is not used.
    std::int32_t DORV_CALL Transact(std::uint8_t line, const std::uint8_t* frame, std::uint8_t frameLength, std::uint8_t* reply,
                                    std::uint8_t replyLength, std::uint8_t mode) override;
    // Opens the line if needed and applies the settings: 42 = 8 data bits, no parity, 1 stop
    // bit; baud 1200 to 115200. The settings are kept and applied again whenever the line is
    // reopened.
    std::int32_t DORV_CALL ConfigureLine(std::uint8_t line, std::int32_t format, std::int32_t baud) override;
    void DORV_CALL SetReplyValidator(std::uint8_t line, ReplyValidator validator, void* context) override;
    void DORV_CALL SetLineConfigurator(std::uint8_t line, LineConfigurator configurator, void* context) override;

protected:
    // Opens the line's stream (non-blocking). Called with the line held. Returns 0 or errno.
    virtual int OpenStream(std::uint8_t line, ByteStream& stream) = 0;
    // Applies the settings to an open stream. Called with the line held. Returns 0 or errno.
    virtual int ApplySettings(ByteStream& stream, const LineSettings& settings) = 0;
    // How long `bytes` take to go out at the line's rate; 0 where the link cannot know.
    virtual std::chrono::milliseconds SendTime(const LineSettings& settings, std::size_t bytes) const;

    // Holds the line against transactions; for a subclass changing where a line leads.
    std::unique_lock<std::recursive_mutex> HoldLine(std::uint8_t line);
    // Closes the line's stream so that the next use opens it afresh. The line must be held.
    void CloseLine(std::uint8_t line);

private:
    struct Line {
        // Serialises the line's transactions. Recursive because the configurator, called while
        // a transaction reopens the line, calls back into ConfigureLine on the same thread.
        std::recursive_mutex hold;
        ByteStream stream;      // guarded by hold
        LineSettings settings;  // guarded by hold
        // The last exchange did not end as the command led the link to expect (no reply in
        // time, a repetition, a lone 0x06/0x15/0x18 where a data reply was due, noise, bytes
        // after the reply, a rejected reply, a line that kept talking), so a reply or more
        // talk may still be on its way; `heardAt` is when the line last spoke or was last
        // waited on. Guarded by hold.
        bool unsure = false;
        std::chrono::steady_clock::time_point heardAt{};
        std::mutex callbacks;  // guards the four fields below
        ReplyValidator validator = nullptr;
        void* validatorContext = nullptr;
        LineConfigurator configurator = nullptr;
        void* configuratorContext = nullptr;
        std::atomic<std::uint8_t> state{kStateNone};
        std::atomic<std::int32_t> error{0};
        // The code the validator reported on the reply being validated. Its state report adds
        // nothing: a rejection without code 222 or 223 is a frame error either way.
        std::atomic<std::int32_t> reportedCode{-1};
    };
    struct Result {
        std::int32_t code;  // 0 or errno
        std::uint8_t state;
    };

    Result Run(std::uint8_t line, std::span<const std::uint8_t> frame, std::uint8_t* reply, std::uint8_t replyLength);
    int Open(std::uint8_t line, bool callConfigurator);
    // With `listen` the line must also stay silent that long when nothing was waiting; once
    // anything came, for `gap` (default: the inter-byte pause).
    ByteStream::Discarded DiscardStale(std::uint8_t line, std::chrono::milliseconds listen = std::chrono::milliseconds{0},
                                       std::optional<std::chrono::milliseconds> gap = std::nullopt);
    // How long an unsure line must stay silent before a request: longer than a controller
    // takes to answer (the response timeout), and no shorter than the inter-byte pause.
    std::chrono::milliseconds SettleTime() const;
    // Readies the line for a request: stale input gone and the line silent (for the settle
    // time since it last spoke, when the last exchange was unsure), the line opened
    // afresh when it kept talking (and, with `reopenEnded`, when its stream had ended while
    // idle). Nothing when the request may go; else the transaction's result.
    std::optional<Result> ClearLine(std::uint8_t line, bool reopenEnded);
    Result Attempt(std::uint8_t line, std::span<const std::uint8_t> frame, std::uint8_t* reply, std::uint8_t replyLength);
    std::uint8_t Validate(std::uint8_t line, std::span<const std::uint8_t> bytes, bool complete, std::uint8_t* reply);
    void Finish(std::uint8_t line, const Result& result);

    const std::uint64_t id_;
    std::array<Line, kLineCount> lines_;
    std::atomic<int> responseMs_{300};
    std::atomic<int> interByteMs_{50};
    std::atomic<int> retries_{1};
    FrameTrace trace_;
};

}  // namespace dorv::links
