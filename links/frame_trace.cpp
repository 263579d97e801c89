#include "links/frame_trace.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <istream>
#include <ostream>
#include <sstream>

#include "links/frame_decoder.h"

namespace dorv::links {

namespace {

constexpr std::string_view kSeparator = " | ";

const char* DirectionWord(TraceDirection d) {
    switch (d) {
        case TraceDirection::Sent: return "TX";
        case TraceDirection::Received: return "RX";
        case TraceDirection::Skipped: return "SKIP";
    }
    return "?";
}

std::optional<TraceDirection> DirectionOf(std::string_view word) {
    if (word == "TX") return TraceDirection::Sent;
    if (word == "RX") return TraceDirection::Received;
    if (word == "SKIP") return TraceDirection::Skipped;
    return std::nullopt;
}

std::string Describe(const TraceEntry& e) {
    switch (e.direction) {
        case TraceDirection::Sent: return DescribeRequest(e.bytes);
        case TraceDirection::Received: return DescribeReply(e.bytes);
        case TraceDirection::Skipped: return "discarded";
    }
    return {};
}

std::string Now() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char s[80];  // room for any int the compiler can imagine in each field
    std::snprintf(s, sizeof s, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour,
                  utc.tm_min, utc.tm_sec, static_cast<int>(millis));
    return s;
}

std::optional<std::uint8_t> HexByte(const std::string& token) {
    if (token.size() != 2) return std::nullopt;
    unsigned value = 0;
    for (char c : token) {
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0) return std::nullopt;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return static_cast<std::uint8_t>(value);
}

}  // namespace

std::string FormatTraceLine(const TraceEntry& entry) {
    char head[32];
    std::snprintf(head, sizeof head, " %s line %02d", DirectionWord(entry.direction), entry.line);
    std::string s = entry.timestamp + head;
    for (std::uint8_t b : entry.bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", b);
        s += hex;
    }
    s += kSeparator;
    return s + Describe(entry);
}

std::optional<TraceEntry> ParseTraceLine(std::string_view text) {
    const auto bar = text.find(kSeparator);
    std::istringstream in(std::string(text.substr(0, bar)));
    TraceEntry e;
    std::string direction, lineWord;
    if (!(in >> e.timestamp >> direction >> lineWord >> e.line) || lineWord != "line") {
        return std::nullopt;
    }
    const auto d = DirectionOf(direction);
    if (!d || e.line < 0 || e.line > 255) return std::nullopt;
    e.direction = *d;
    for (std::string token; in >> token;) {
        const auto b = HexByte(token);
        if (!b) return std::nullopt;
        e.bytes.push_back(*b);
    }
    return e;
}

std::size_t DecodeTrace(std::istream& in, std::ostream& out) {
    std::size_t decoded = 0;
    for (std::string text; std::getline(in, text);) {
        if (!text.empty() && text.back() == '\r') text.pop_back();
        if (const auto e = ParseTraceLine(text)) {
            out << FormatTraceLine(*e) << '\n';
            ++decoded;
        } else {
            out << text << '\n';
        }
    }
    return decoded;
}

void FrameTrace::SetStream(std::ostream* out) {
    std::lock_guard lock(mutex_);
    file_.reset();
    out_ = out;
    enabled_ = out_ != nullptr;
}

bool FrameTrace::OpenFile(const std::string& path) {
    auto file = std::make_unique<std::ofstream>(path, std::ios::app);
    std::lock_guard lock(mutex_);
    if (!*file) {
        file_.reset();
        out_ = nullptr;
        enabled_ = false;
        return false;
    }
    file_ = std::move(file);
    out_ = file_.get();
    enabled_ = true;
    return true;
}

void FrameTrace::Record(TraceDirection direction, std::uint8_t line, std::span<const std::uint8_t> bytes) {
    if (!Enabled()) return;
    const std::string text = FormatTraceLine({Now(), direction, line, {bytes.begin(), bytes.end()}});
    std::lock_guard lock(mutex_);
    // A trace is read while the host runs: each entry reaches the file whole and at once.
    if (out_) *out_ << text << std::endl;
}

void FrameTrace::Note(std::uint8_t line, std::string_view text) {
    if (!Enabled()) return;
    char head[32];
    std::snprintf(head, sizeof head, " NOTE line %02d", line);
    const std::string entry = Now() + head + std::string(kSeparator) + std::string(text);
    std::lock_guard lock(mutex_);
    if (out_) *out_ << entry << std::endl;
}

}  // namespace dorv::links
