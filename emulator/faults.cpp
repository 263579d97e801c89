#include "faults.h"

#include <algorithm>
#include <array>

namespace dorv::emu {

namespace {

constexpr std::array<std::pair<FaultKind, std::string_view>, 9> kNames = {{
    {FaultKind::kNoise, "noise"},
    {FaultKind::kSilence, "silence"},
    {FaultKind::kCorruptComplement, "complement"},
    {FaultKind::kCorruptCheck, "check"},
    {FaultKind::kRefusal, "refuse"},
    {FaultKind::kLate, "late"},
    {FaultKind::kTruncate, "truncate"},
    {FaultKind::kFlood, "flood"},
    {FaultKind::kAck, "ack"},
}};

bool NeedsDataReply(FaultKind kind) {
  return kind == FaultKind::kCorruptComplement || kind == FaultKind::kCorruptCheck ||
         kind == FaultKind::kTruncate || kind == FaultKind::kAck;
}

bool IsLead(std::uint8_t b) { return b == kDataLead || b == kAck || b == kNak || b == kRefusal; }

}  // namespace

std::optional<FaultKind> ParseFaultKind(std::string_view name) {
  for (const auto& [kind, text] : kNames)
    if (text == name) return kind;
  return std::nullopt;
}

std::string_view FaultKindName(FaultKind kind) {
  for (const auto& [k, text] : kNames)
    if (k == kind) return text;
  return "?";
}

bool FaultPreventsExecution(FaultKind kind) {
  return kind == FaultKind::kSilence || kind == FaultKind::kRefusal;
}

std::optional<FaultRule> FaultInjector::TakeBlocking(std::uint8_t command,
                                                     std::optional<int> address) {
  return Take(command, address, true, false);
}

void FaultInjector::Damage(Reply& reply, std::uint8_t command, std::optional<int> address) {
  if (reply.bytes.empty()) return;
  const bool data_reply = reply.bytes.front() == kDataLead;
  if (auto rule = Take(command, address, false, data_reply)) Apply(*rule, reply);
}

std::optional<FaultRule> FaultInjector::Take(std::uint8_t command, std::optional<int> address,
                                             bool blocking, bool data_reply) {
  for (auto it = rules_.begin(); it != rules_.end(); ++it) {
    FaultRule& rule = *it;
    if (FaultPreventsExecution(rule.kind) != blocking) continue;
    if (NeedsDataReply(rule.kind) && !data_reply) continue;
    if (rule.command && *rule.command != command) continue;
    if (rule.address && rule.address != address) continue;
    // Draw only for matching replies so a seed replays the same faults for
    // the same conversation.
    if (rule.rate < 1.0 && std::uniform_real_distribution<double>(0.0, 1.0)(rng_) >= rule.rate)
      continue;
    FaultRule fired = rule;
    if (rule.count > 0 && --rule.count == 0) rules_.erase(it);
    return fired;
  }
  return std::nullopt;
}

void FaultInjector::Apply(const FaultRule& rule, Reply& reply) {
  Bytes& b = reply.bytes;
  reply.fault = rule.kind;
  switch (rule.kind) {
    case FaultKind::kNoise: {
      // Noise never contains a lead byte, or it would pass for a reply.
      Bytes noise;
      std::uniform_int_distribution<int> byte(0, 255);
      while (static_cast<int>(noise.size()) < rule.noise_bytes) {
        const auto n = static_cast<std::uint8_t>(byte(rng_));
        if (!IsLead(n)) noise.push_back(n);
      }
      b.insert(b.begin(), noise.begin(), noise.end());
      break;
    }
    case FaultKind::kCorruptComplement: {
      // Data byte j is at 2j-1, its complement at 2j; the trailer takes the last three.
      const std::size_t data_bytes = (b.size() - 4) / 2;
      if (data_bytes == 0) break;
      const auto j = std::uniform_int_distribution<std::size_t>(1, data_bytes)(rng_);
      b[2 * j] ^= 0x01;
      break;
    }
    case FaultKind::kCorruptCheck:
      b.back() ^= 0x01;  // keeps bit 6, so it still looks like a check byte
      break;
    case FaultKind::kTruncate: {
      const auto keep = std::uniform_int_distribution<std::size_t>(1, b.size() - 1)(rng_);
      b.resize(keep);
      break;
    }
    case FaultKind::kFlood: {
      // Junk of every byte value; every eighth byte is a lead byte, so that even a short flood
      // holds things a careless host would take for a reply.
      constexpr std::uint8_t kLeads[] = {kAck, kRefusal, kDataLead, kNak};
      const auto size = static_cast<std::size_t>(std::max(rule.noise_bytes, 0));
      std::uniform_int_distribution<int> byte(0, 255);
      b.reserve(b.size() + size);
      for (std::size_t i = 0; i < size; ++i)
        b.push_back(i % 8 == 0 ? kLeads[i / 8 % 4] : static_cast<std::uint8_t>(byte(rng_)));
      break;
    }
    case FaultKind::kLate: reply.delay += rule.delay; break;
    case FaultKind::kAck: b = OneByteReply(kAck); break;
    case FaultKind::kSilence:
    case FaultKind::kRefusal: break;
  }
}

}  // namespace dorv::emu
