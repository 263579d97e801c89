// One open byte stream to the controllers of a line: a serial device or a TCP connection to a
// serial device server. Everything a transaction does on the wire goes through here: discard
// stale input, send the request, collect the reply. Waits use poll(); nothing spins and nothing
// waits for the line to fall silent once the framing says the reply is whole.
//
// Errors are errno values (EPIPE when the far side ended the stream). Not thread-safe: the link
// serialises all use of one line's stream.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

#include "links/reply_collector.h"

namespace dorv::links {

class ByteStream {
public:
    enum class Kind { Tty, Socket };
    enum class Outcome {
        Complete,  // the collector says the reply is whole
        Full,      // the reply buffer filled up without a complete reply
        TimedOut,  // no first byte in time, or a pause between bytes too long
        Failed,    // the stream is unusable; see Collected::error
    };
    struct Collected {
        Outcome outcome;
        int error;  // errno value when Failed, else 0
    };

    ByteStream() = default;
    // Takes ownership of `fd`, which must be non-blocking.
    ByteStream(int fd, Kind kind) : fd_(fd), kind_(kind) {}
    ~ByteStream() { Close(); }
    ByteStream(ByteStream&& other) noexcept;
    ByteStream& operator=(ByteStream&& other) noexcept;
    ByteStream(const ByteStream&) = delete;
    ByteStream& operator=(const ByteStream&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    void Close();

    struct Discarded {
        int error;          // errno value, or 0
        std::size_t bytes;  // how many were thrown away
        bool quiet;         // the line fell silent; false: it was still talking at the limit
        std::chrono::milliseconds took;
    };
    // Throws away all input already received: a late reply to an earlier request, an
    // acknowledgement nobody waited for or the backlog of a peer that flooded the line must never
    // pass for the reply to the next request. When anything came, the line must then stay silent
    // for `quietGap` before it counts as clear; when nothing came yet, for `listen` (none: clear
    // at once). A line still talking `limit` after the listening is not quiet. The first bytes
    // read are appended to `discarded` (as many as a trace shows).
    Discarded DiscardInput(std::vector<std::uint8_t>& discarded, std::chrono::milliseconds quietGap, std::chrono::milliseconds limit,
                           std::chrono::milliseconds listen = std::chrono::milliseconds{0});

    // Writes all of `bytes`, waiting while the device's output buffer is full.
    // Returns 0, ETIMEDOUT when the device took nothing for `timeout`, or errno.
    int Send(std::span<const std::uint8_t> bytes, std::chrono::milliseconds timeout);

    // Feeds incoming bytes to `collector` until it says the reply is done. `firstByte` bounds
    // the wait for the first byte, `interByte` every later pause. Bytes read past the end of
    // the reply belong to no request and are appended to `after`.
    Collected Collect(ReplyCollector& collector, std::chrono::milliseconds firstByte, std::chrono::milliseconds interByte,
                      std::vector<std::uint8_t>& after);

private:
    int fd_ = -1;
    Kind kind_ = Kind::Tty;
};

}  // namespace dorv::links
