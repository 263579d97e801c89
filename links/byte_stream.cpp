#include "links/byte_stream.h"

#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <utility>

namespace dorv::links {

namespace {

using Clock = std::chrono::steady_clock;

// Enough of the discarded input for a trace to show what was thrown away.
constexpr std::size_t kDiscardKept = 4 * kReplyCapacity;

// Waits until `events` are ready on fd or the deadline passes.
// Returns the revents, 0 on timeout, or -1 with errno set.
int WaitUntil(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return 0;
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, static_cast<int>(left.count()));
        if (n > 0) return p.revents;
        if (n < 0 && errno != EINTR) return -1;
    }
}

// Reads what is waiting. Returns the byte count, 0 when nothing is waiting, or -errno;
// the end of the stream is -EPIPE.
long ReadSome(int fd, std::uint8_t* into, std::size_t room) {
    for (;;) {
        const ssize_t n = ::read(fd, into, room);
        if (n > 0) return n;
        if (n == 0) return -EPIPE;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        return -errno;
    }
}

}  // namespace

ByteStream::ByteStream(ByteStream&& other) noexcept : fd_(std::exchange(other.fd_, -1)), kind_(other.kind_) {}

ByteStream& ByteStream::operator=(ByteStream&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
        kind_ = other.kind_;
    }
    return *this;
}

void ByteStream::Close() {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

ByteStream::Discarded ByteStream::DiscardInput(std::vector<std::uint8_t>& discarded, std::chrono::milliseconds quietGap,
                                               std::chrono::milliseconds limit, std::chrono::milliseconds listen) {
    const auto start = Clock::now();
    // The time a line may go on talking counts from the end of the listening: a reply heard
    // late in a long listen is a reply, not a line that keeps talking.
    const auto deadline = start + std::max(listen, std::chrono::milliseconds{0}) + limit + quietGap;
    const auto took = [start] { return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start); };
    std::array<std::uint8_t, 16 * 1024> chunk;
    std::size_t total = 0;
    bool hungUp = false;
    for (;;) {
        // Everything waiting now goes, however much it is.
        for (bool first = true;; first = false) {
            const long n = ReadSome(fd_, chunk.data(), chunk.size());
            if (n < 0) return {static_cast<int>(-n), total, false, took()};
            // Readable but empty: only a hang-up or an error says so for good.
            if (n == 0 && first && hungUp) return {EPIPE, total, false, took()};
            if (n == 0) break;
            total += static_cast<std::size_t>(n);
            const std::size_t keep = std::min(static_cast<std::size_t>(n), kDiscardKept - std::min(kDiscardKept, discarded.size()));
            discarded.insert(discarded.end(), chunk.begin(), chunk.begin() + keep);
        }
        // Bytes still in the serial driver's queue, not yet visible to read(), go too.
        if (kind_ == Kind::Tty && ::tcflush(fd_, TCIFLUSH) != 0) return {errno, total, false, took()};
        // A line that had nothing to say is clear at once. One that had may be in the middle of
        // a long stream (a backlog still arriving over the network): it is clear once silent
        // for a pause, and not at all if it is still talking at the limit.
        if (total == 0 && listen.count() <= 0) return {0, 0, true, took()};
        const auto now = Clock::now();
        if (now >= deadline) return {0, total, false, took()};
        const auto until = std::min(deadline, now + (total == 0 ? listen : quietGap));
        const int ready = WaitUntil(fd_, POLLIN, until);
        if (ready < 0) return {errno, total, false, took()};
        if (ready & POLLNVAL) return {EBADF, total, false, took()};
        // A line that said nothing at all is quiet, however long it was listened to.
        if (ready == 0) return {0, total, total == 0 || until < deadline, took()};
        hungUp = (ready & (POLLHUP | POLLERR)) != 0;
    }
}

int ByteStream::Send(std::span<const std::uint8_t> bytes, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = kind_ == Kind::Socket
                              // A connection the server dropped must report EPIPE, not kill the host by SIGPIPE.
                              ? ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL)
                              : ::write(fd_, bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return errno;
        const int ready = WaitUntil(fd_, POLLOUT, deadline);
        if (ready < 0) return errno;
        if (ready == 0) return ETIMEDOUT;
        if (ready & POLLNVAL) return EBADF;
        if ((ready & POLLOUT) == 0) return EPIPE;  // hung up or in error with nothing writable
    }
    return 0;
}

ByteStream::Collected ByteStream::Collect(ReplyCollector& collector, std::chrono::milliseconds firstByte,
                                          std::chrono::milliseconds interByte, std::vector<std::uint8_t>& after) {
    std::array<std::uint8_t, kReplyCapacity> chunk;
    auto deadline = Clock::now() + firstByte;
    while (!collector.Done()) {
        const int ready = WaitUntil(fd_, POLLIN, deadline);
        if (ready < 0) return {Outcome::Failed, errno};
        if (ready == 0) return {Outcome::TimedOut, 0};
        if (ready & POLLNVAL) return {Outcome::Failed, EBADF};
        const long n = ReadSome(fd_, chunk.data(), chunk.size());
        if (n < 0) return {Outcome::Failed, static_cast<int>(-n)};
        if (n == 0) {
            // Readable but empty: only a hang-up or an error says so for good.
            if (ready & (POLLHUP | POLLERR)) return {Outcome::Failed, EPIPE};
            continue;
        }
        const std::span<const std::uint8_t> got(chunk.data(), static_cast<std::size_t>(n));
        const std::size_t taken = collector.Feed(got);
        after.insert(after.end(), got.begin() + static_cast<std::ptrdiff_t>(taken), got.end());
        deadline = Clock::now() + interByte;
    }
    return {collector.Complete() ? Outcome::Complete : Outcome::Full, 0};
}

}  // namespace dorv::links
