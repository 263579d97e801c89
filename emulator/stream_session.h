// One host connection to the line: bytes in, requests parsed, replies out at
// the pace of the emulated serial line.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <stop_token>

#include "clock.h"
#include "line.h"
#include "request_parser.h"

namespace dorv::emu {

struct LinkTiming {
  int baud = 4800;  // 10 bits a byte; 0 sends every reply in one piece at once
  std::chrono::microseconds turnaround{2000};  // end of request to first reply byte

  std::chrono::nanoseconds ByteTime() const {
    return baud > 0 ? std::chrono::nanoseconds(10'000'000'000LL / baud)
                    : std::chrono::nanoseconds(0);
  }
};

// Sleeps until `deadline` or until stop is requested; false when stopped.
bool SleepUntil(std::stop_token stop, SteadyTime deadline);

// Writes bytes to the host; false when the connection cannot take them.
using ByteSink = std::function<bool(std::span<const std::uint8_t>)>;
// Sees every request the session answered and the reply it sent.
using ExchangeObserver = std::function<void(const Bytes& record, const Reply& reply)>;

class StreamSession {
 public:
  StreamSession(Line& line, LinkTiming timing, ExchangeObserver observer = {});

  // Takes the bytes just read from the host and answers every request they
  // complete, sleeping through the line's timing. Incoming bytes queue up
  // meanwhile, as they would in a UART's buffer. False once stop is requested.
  bool OnReceived(std::span<const std::uint8_t> bytes, const ByteSink& sink, std::stop_token stop);

  // The host went away: drop a half-received request.
  void Reset() { parser_.Reset(); }

  std::uint64_t rejected_frames() const { return parser_.rejected_frames(); }

 private:
  bool Send(const Reply& reply, SteadyTime request_end, const ByteSink& sink, std::stop_token stop);

  Line& line_;
  LinkTiming timing_;
  ExchangeObserver observer_;
  RequestParser parser_;
  SteadyTime wire_free_{};  // when the emulated wire has carried everything so far
};

}  // namespace dorv::emu
