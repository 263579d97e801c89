// The frame trace: one text line per frame a link sent or received, for finding out afterwards
// what went over a line. A line reads
//
//   2025-03-01T10:15:42.318Z TX line 03 7F 02 21 5E 32 4D 03 03 50 | start, address 1 (...)
//
// timestamp (UTC), direction (TX sent, RX received, SKIP read but belonging to no request: stale
// input, bytes after a reply, the line's echo), line number, the bytes in hex, and after " | "
// what they mean. Events that are no frames (a line opened afresh because it kept talking) are
// NOTE lines with only a text. The bytes are the record; the words after them can be produced again from a
// saved trace with DecodeTrace, so a decoder improved later reads old traces better.
#pragma once

#include <atomic>
#include <cstdint>
#include <fstream>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dorv::links {

enum class TraceDirection { Sent, Received, Skipped };

struct TraceEntry {
    std::string timestamp;
    TraceDirection direction = TraceDirection::Sent;
    int line = 0;
    std::vector<std::uint8_t> bytes;
};

// The text line of an entry (without a newline), decoded afresh.
std::string FormatTraceLine(const TraceEntry& entry);

// An entry from a trace line, or nothing for a line that is not one.
std::optional<TraceEntry> ParseTraceLine(std::string_view text);

// Copies a saved trace from `in` to `out` with every frame decoded again; lines that are no
// trace entries pass through unchanged. Returns the number of entries decoded.
std::size_t DecodeTrace(std::istream& in, std::ostream& out);

// Where a link writes its trace. All members may be called from any thread; entries from
// lines running in parallel never interleave within a text line.
class FrameTrace {
public:
    // Traces to `out`, which the caller keeps alive until tracing ends; nullptr ends tracing.
    void SetStream(std::ostream* out);
    // Traces to the file at `path`, appending. False, and tracing ended, when it cannot be opened.
    bool OpenFile(const std::string& path);

    bool Enabled() const { return enabled_.load(std::memory_order_relaxed); }
    void Record(TraceDirection direction, std::uint8_t line, std::span<const std::uint8_t> bytes);
    // An event on the line that is no frame, as "<timestamp> NOTE line NN | <text>". Such lines
    // are no trace entries: DecodeTrace passes them on unchanged.
    void Note(std::uint8_t line, std::string_view text);

private:
    std::mutex mutex_;
    std::ostream* out_ = nullptr;
    std::unique_ptr<std::ofstream> file_;
    std::atomic<bool> enabled_{false};
};

}  // namespace dorv::links
