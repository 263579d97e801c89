#include "stream_session.h"

#include <sys/prctl.h>
#include <time.h>

#include <algorithm>
#include <cerrno>

namespace dorv::emu {

namespace {

// The longest a sleep goes without looking at the stop request; the servers' own polls look
// as often.
constexpr auto kStopCheck = std::chrono::milliseconds(50);

}  // namespace

// Every paced reply byte sleeps here, so a sleep is one absolute-deadline clock_nanosleep on
// the clock steady_clock reads (CLOCK_MONOTONIC): no lock, no allocation, no wake-up call
// afterwards, and no drift from one byte to the next. Long waits (late replies, script times)
// go in slices so that a stop request is seen within kStopCheck.
bool SleepUntil(std::stop_token stop, SteadyTime deadline) {
  // A byte is due at its time, not up to the kernel's default 50 us timer slack later: eight
  // late bytes a reply would add almost half a millisecond to every exchange on the wire.
  static thread_local const bool precise = ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0;
  (void)precise;
  while (!stop.stop_requested()) {
    const SteadyTime now = std::chrono::steady_clock::now();
    if (now >= deadline) return true;
    const auto until = std::min(deadline, now + kStopCheck).time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(until);
    const timespec at{
        static_cast<time_t>(seconds.count()),
        static_cast<long>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(until - seconds).count())};
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
  }
  return false;
}

StreamSession::StreamSession(Line& line, LinkTiming timing, ExchangeObserver observer)
    : line_(line), timing_(timing), observer_(std::move(observer)) {}

bool StreamSession::OnReceived(std::span<const std::uint8_t> bytes, const ByteSink& sink,
                               std::stop_token stop) {
  // A pty or socket delivers a request at once; on the emulated wire its
  // bytes follow each other at the baud rate from the moment they arrive.
  const auto now = std::chrono::steady_clock::now();
  wire_free_ = std::max(now, wire_free_) + timing_.ByteTime() * static_cast<long>(bytes.size());
  for (const Bytes& record : parser_.Feed(bytes)) {
    const Reply reply = line_.Answer(record);
    if (observer_) observer_(record, reply);
    if (!Send(reply, wire_free_, sink, stop)) return false;
  }
  return !stop.stop_requested();
}

bool StreamSession::Send(const Reply& reply, SteadyTime request_end, const ByteSink& sink,
                         std::stop_token stop) {
  if (reply.bytes.empty()) return true;  // silence
  const SteadyTime start = request_end + timing_.turnaround + reply.delay;
  const auto byte_time = timing_.ByteTime();
  if (byte_time.count() == 0) {
    if (!SleepUntil(stop, start)) return false;
    sink(reply.bytes);
  } else {
    // A byte is the host's once its stop bit is through, as a UART hands it over: byte i
    // starts at start + i byte times and is whole one byte time later. Handing it over at
    // its start would make every reply a byte time early and hide that much host latency.
    for (std::size_t i = 0; i < reply.bytes.size(); ++i) {
      if (!SleepUntil(stop, start + byte_time * static_cast<long>(i + 1))) return false;
      if (!sink(std::span(reply.bytes).subspan(i, 1))) break;  // host gone: drop the rest
    }
  }
  wire_free_ = std::max(wire_free_, start + byte_time * static_cast<long>(reply.bytes.size()));
  return true;
}

}  // namespace dorv::emu
