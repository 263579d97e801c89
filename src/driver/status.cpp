// GetStatus: one status query per nozzle, each answer turned into the host's status code, the
// codes folded into the column's summary. An ended filling is closed right here.
#include <algorithm>

#include "commands.h"
#include "messages.h"
#include "tvm30.h"

namespace dorv {

namespace {

// Host status codes.
constexpr std::uint8_t kIdle = 0xC0;          // status '0'
constexpr std::uint8_t kReady = 0xC8;         // status '2', or a filling without its second byte
constexpr std::uint8_t kFilling = 0xD0;       // + nozzle: filling under way
constexpr std::uint8_t kFillingEnded = 0xD8;  // filling read and nozzle released
constexpr std::uint8_t kStopped = 0xD8;       // + nozzle: status '3'
constexpr std::uint8_t kLifted = 0xE0;        // + nozzle: status '1'

constexpr std::size_t kSummary = 0;
constexpr std::size_t kSummaryNozzle = 14;

// Puts the column's current nozzle back however the end-of-filling step leaves.
class CurrentNozzleOverride {
public:
    CurrentNozzleOverride(TVM30& d, std::uint8_t line, std::uint8_t column, std::uint8_t nozzle)
        : d_(d), line_(line), column_(column), kept_(d.CurrentNozzle(line, column)) {
        d_.SetCurrentNozzle(line_, column_, nozzle);
    }
    ~CurrentNozzleOverride() { d_.SetCurrentNozzle(line_, column_, kept_); }
    CurrentNozzleOverride(const CurrentNozzleOverride&) = delete;
    CurrentNozzleOverride& operator=(const CurrentNozzleOverride&) = delete;

private:
    TVM30& d_;
    std::uint8_t line_, column_, kept_;
};

// Whether the code v of a later nozzle replaces the summary s: a filling (0xD0..0xDF) outranks
// a lifted nozzle and readiness, and anything of note replaces idleness.
bool Replaces(std::uint8_t s, std::uint8_t v) {
    if (s < 8) return true;
    if (s >= kIdle && s < kReady) return v > 198;
    if ((s >= kReady && s < kFilling) || (s >= kLifted && s < kLifted + 8)) {
        return (v & 0xD0) == 0xD0 || v == kReady;
    }
    return false;
}

}  // namespace

StatusRecord TVM30::GetStatus(std::uint8_t line, std::uint8_t column, std::uint8_t nozzleCount) {
    StatusRecord record{};
    CheckColumn(column);
    if (nozzleCount == 0) return record;
    CheckLine(line);
    // The tables and the record hold four nozzles per column; a larger count polls those four.
    const auto count = static_cast<std::uint8_t>(std::min<int>(nozzleCount, kMaxNozzle));

    // Status code of one nozzle from the status character s and the byte t after it.
    auto decode = [&](std::uint8_t s, std::uint8_t t, std::uint8_t n) -> std::uint8_t {
        switch (s) {
            case '0': return kIdle;
            case '1': return static_cast<std::uint8_t>(kLifted + n);
            case '2': return kReady;
            case '3': return static_cast<std::uint8_t>(kStopped + n);
            case '4':
            case '5':
            case '6': break;
            default: return s;
        }
        const bool avtomatika = specAvtomatika_;
        // A filling status without its second byte reads as ready unless SpecAvtomatika is on.
        if (!avtomatika && t == codec::kEnd) return kReady;
        std::uint8_t code;
        const double filled = FilledVolume(line, column);
        const double ordered = OrderedVolume(line, column);
        if (filled > 0.005 && filled < ordered - 1.0 && (t == codec::kEnd || t == '0')) {
            code = static_cast<std::uint8_t>(kFilling + n);
        } else {
            // The filling has ended: read it for this nozzle and close its transaction.
            code = kFillingEnded;
            CurrentNozzleOverride current(*this, line, column, n);
            double litres = 0;
            double money = 0;
            GetFilling(line, column, &litres, &money);
            ReleaseNozzle(line, column, n);
        }
        if (avtomatika && (s == '5' || s == '6')) StopNozzle(line, column, count, 1);
        return code;
    };

    for (std::uint8_t n = 1; n <= count; ++n) {
        // The nozzle's step is the query and whatever its answer sets off: the reading and the
        // release of an ended filling, SpecAvtomatika's stop.
        const OwnLineState step(*this, line);
        Record r = cmd::Request(Address(column, n, pistStep_), cmd::kStatus);
        const cmd::Reply reply = cmd::Transfer(*this, line, r, 3, 8, 2);
        if (!reply.Completed()) throw ESerialIO(msg::kGetStatus);
        // A nozzle that did not answer reads 0: nothing is known about it.
        const std::uint8_t v = reply.Answered() ? decode(r[cmd::DataIndex(1)], r[cmd::DataIndex(2)], n) : 0;
        record.bytes[2 * n] = v;
        record.bytes[2 * n + 1] = 0;
        SetNozzleState(line, column, n, v);
        // The step's last exchange decides: a release nobody answered or a refused stop ends the
        // poll unfolded, and LineStatus tells the host which it was.
        if (!step.Answered()) break;
        if (Replaces(record.bytes[kSummary], v)) {
            record.bytes[kSummary] = v;
            record.bytes[kSummaryNozzle] = n;
        }
    }
    return record;
}

}  // namespace dorv
