// The library's frame trace on a station: every frame the driver hands the host's link (TX) and
// every reply the link has the driver check (RX), one text line each, in the form `dorv trace`
// decodes:
//
//   2026-03-01T10:15:42.318Z TX line 01 7F 02 21 5E 32 4D 03 03 50 |
//
// The words after the bar are left to the decoder. Off unless cnf.INI's [Dorv] TraceFile names
// a file, or DORV_TRACE does (the environment wins, so an engineer need not edit the file). The
// file never grows past TraceLimitKB (default 4096): it is then renamed to "<file>.1", replacing
// the one before, and a new file begun, so the trace takes at most twice the limit on disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace dorv::host {

struct FrameLogSettings {
    std::string path;  // UTF-8; empty: no trace
    std::uint32_t limitBytes = 4096 * 1024;
};

// TraceFile and TraceLimitKB of the settings file, DORV_TRACE over the former.
FrameLogSettings ReadFrameLogSettings();

// One per loaded library; every member may be called from any thread.
namespace frame_log {
void Configure(const FrameLogSettings& settings);
bool Enabled();
void Sent(std::uint8_t line, const std::uint8_t* bytes, std::size_t length);
// The reply the link last had checked on `line`; written as RX by ReplyDone, once per exchange
// however often the link checked a growing reply.
void ReplySeen(std::uint8_t line, const std::uint8_t* bytes, std::size_t length);
void ReplyDone(std::uint8_t line);
}  // namespace frame_log

}  // namespace dorv::host
