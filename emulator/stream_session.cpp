#include "stream_session.h"

#include <condition_variable>
#include <mutex>

namespace dorv::emu {

bool SleepUntil(std::stop_token stop, SteadyTime deadline) {
  std::mutex m;
  std::condition_variable_any cv;
  std::unique_lock lock(m);
  cv.wait_until(lock, stop, deadline, [] { return false; });
  return !stop.stop_requested();
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
    for (std::size_t i = 0; i < reply.bytes.size(); ++i) {
      if (!SleepUntil(stop, start + byte_time * static_cast<long>(i))) return false;
      if (!sink(std::span(reply.bytes).subspan(i, 1))) break;  // host gone: drop the rest
    }
  }
  wire_free_ = std::max(wire_free_, start + byte_time * static_cast<long>(reply.bytes.size()));
  return true;
}

}  // namespace dorv::emu
