// Turns the byte stream arriving from the host into whole request records.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "wire.h"

namespace dorv::emu {

// Incremental frame scanner. Bytes may arrive in chunks of any size: a frame
// split over many reads, several frames in one read, line noise in between.
// Each whole frame whose complements and check byte are right comes out as
// its request record [group, byte1, ...]; anything else is skipped by
// resynchronising on the next 0x7F.
class RequestParser {
 public:
  // Appends `chunk` and returns the records of every frame it completes, in
  // order of arrival.
  std::vector<Bytes> Feed(std::span<const std::uint8_t> chunk);

  // Forgets a partly received frame (the host closed the line, or went quiet).
  void Reset() { pending_.clear(); }

  // Frames that started with 0x7F but were thrown away: a wrong complement,
  // a wrong check byte, or a frame longer than any request.
  std::uint64_t rejected_frames() const { return rejected_; }
  std::size_t pending_bytes() const { return pending_.size(); }

 private:
  enum class Scan { kIncomplete, kInvalid, kComplete };
  Scan ScanFrame(std::size_t& length, Bytes& record) const;

  Bytes pending_;
  std::uint64_t rejected_ = 0;
};

}  // namespace dorv::emu
