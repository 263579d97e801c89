// Line faults the emulator can put on its replies, deterministically from a
// seed, to exercise a host's validation, retries and resynchronisation.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <string_view>
#include <vector>

#include "wire.h"

namespace dorv::emu {

enum class FaultKind : std::uint8_t {
  kNoise,              // junk bytes ahead of the reply
  kSilence,            // the request is lost: not carried out, no reply
  kCorruptComplement,  // one complement byte of a data reply is wrong
  kCorruptCheck,       // the check byte of a data reply is wrong
  kRefusal,            // 0x18 instead of carrying the request out
  kLate,               // the reply comes after `delay`, into the host's next request
  kTruncate,           // a data reply is cut short
  kFlood,  // the line keeps talking: `noise_bytes` of junk, lead bytes among them, follow the reply
  kAck,    // a lone 0x06 stands for a data reply: the request is carried out, nothing read back
};

std::optional<FaultKind> ParseFaultKind(std::string_view name);
std::string_view FaultKindName(FaultKind kind);

// Silence and refusal replace the request's effect; the others damage a
// reply the controller did produce, and the damaging ones only apply to data
// replies (a one-byte 0x06 has no complement, check or tail to lose).
bool FaultPreventsExecution(FaultKind kind);

struct FaultRule {
  FaultKind kind = FaultKind::kSilence;
  int count = 1;                                       // replies it may hit; 0 or less = no limit
  std::optional<std::uint8_t> command = std::nullopt;  // only requests with this command byte
  std::optional<int> address = std::nullopt;           // only requests for this controller
  double rate = 1.0;                                   // chance of hitting a matching reply
  int noise_bytes = 3;                                 // for kNoise and kFlood
  std::chrono::milliseconds delay{500};                // for kLate
};

// A reply as it goes onto the line: empty bytes mean silence; `delay` comes
// on top of the line's turnaround.
struct Reply {
  Bytes bytes;
  std::chrono::milliseconds delay{0};
  std::optional<FaultKind> fault;
};

class FaultInjector {
 public:
  explicit FaultInjector(std::uint64_t seed = 1) : rng_(seed) {}

  void Arm(const FaultRule& rule) { rules_.push_back(rule); }
  void Clear() { rules_.clear(); }
  void Reseed(std::uint64_t seed) { rng_.seed(seed); }
  std::size_t armed() const { return rules_.size(); }

  // Before the request is carried out: a silence or refusal rule that fires.
  std::optional<FaultRule> TakeBlocking(std::uint8_t command, std::optional<int> address);
  // After: damages `reply` when a damaging rule fires.
  void Damage(Reply& reply, std::uint8_t command, std::optional<int> address);

 private:
  std::optional<FaultRule> Take(std::uint8_t command, std::optional<int> address, bool blocking,
                                bool data_reply);
  void Apply(const FaultRule& rule, Reply& reply);

  std::vector<FaultRule> rules_;
  std::mt19937_64 rng_;
};

}  // namespace dorv::emu
