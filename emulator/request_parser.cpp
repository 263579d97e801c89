#include "request_parser.h"

#include <algorithm>

namespace dorv::emu {

std::vector<Bytes> RequestParser::Feed(std::span<const std::uint8_t> chunk) {
  pending_.insert(pending_.end(), chunk.begin(), chunk.end());
  std::vector<Bytes> records;
  for (;;) {
    auto lead = std::find(pending_.begin(), pending_.end(), kRequestLead);
    pending_.erase(pending_.begin(), lead);  // noise ahead of a frame
    if (pending_.empty()) break;
    std::size_t length = 0;
    Bytes record;
    Scan scan = ScanFrame(length, record);
    if (scan == Scan::kIncomplete) break;
    if (scan == Scan::kInvalid) {
      // The 0x7F may have been noise or a complement byte; the real frame
      // can start anywhere after it.
      ++rejected_;
      pending_.erase(pending_.begin());
      continue;
    }
    records.push_back(std::move(record));
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(length));
  }
  return records;
}

// pending_[0] is 0x7F. Pairs follow the group byte: (b, b^0x7F) for a record
// byte, (0x03, 0x03) for the trailer. A record byte 0x03 cannot be mistaken
// for the trailer because its complement is 0x7C.
RequestParser::Scan RequestParser::ScanFrame(std::size_t& length, Bytes& record) const {
  const std::size_t size = pending_.size();
  if (size < 2) return Scan::kIncomplete;
  record.assign(1, pending_[1]);
  std::uint8_t check = kEnd;
  std::size_t pos = 2;
  for (;;) {
    if (pos + 1 >= size) return Scan::kIncomplete;
    const std::uint8_t b = pending_[pos];
    const std::uint8_t c = pending_[pos + 1];
    if (b == kEnd && c == kEnd) break;
    if ((b ^ kComplementMask) != c) return Scan::kInvalid;
    if (record.size() >= kMaxRequestRecord) return Scan::kInvalid;
    record.push_back(b);
    check ^= b;
    pos += 2;
  }
  if (pos + 2 >= size) return Scan::kIncomplete;
  if (pending_[pos + 2] != (check | kCheckBit)) return Scan::kInvalid;
  if (record.size() < 2) return Scan::kInvalid;  // a group byte alone addresses nothing
  length = pos + 3;
  return Scan::kComplete;
}

}  // namespace dorv::emu
