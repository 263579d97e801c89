#include "entry_transfer.h"

#include <exception>

#include "texts.h"

namespace dorv::params {

bool ReadEntry(CParameter& entry, ParameterTransport* transport, Target target, const NumberLocale& locale) {
    const auto kind = AccessKindOf(entry.Type());
    if (!transport || !kind) {
        entry.RecordFailedRead(/*clearText=*/false);
        return false;
    }
    std::int64_t raw = -1;
    std::string text;
    try {
        raw = transport->ReadParameter(*kind, target.line, target.address, entry.Number(), entry.Digits());
        text = entry.RawToText(raw, locale);
    } catch (const std::exception&) {
        text.clear();
    }
    if (text.empty()) {
        entry.RecordFailedRead(/*clearText=*/false);
        return false;
    }
    entry.RecordRead(raw, std::move(text));
    return true;
}

bool FitsDigitField(std::int64_t value, int digits) { return value >= 0 && DigitCount(static_cast<std::uint64_t>(value)) <= digits; }

WriteOutcome WriteEntry(CParameter& entry, ParameterTransport* transport, Target target) {
    const auto kind = AccessKindOf(entry.Type());
    if (!transport || !kind) {
        entry.SetReadError(true);
        return WriteOutcome::NotSent;
    }
    if (entry.SkipWriteAll()) return WriteOutcome::Skipped;
    const std::int64_t value = entry.Value();
    if (!FitsDigitField(value, entry.Digits())) return WriteOutcome::Failed;
    try {
        return transport->WriteParameter(*kind, target.line, target.address, entry.Number(), entry.Digits(), value) ? WriteOutcome::Written
                                                                                                                    : WriteOutcome::Failed;
    } catch (const std::exception&) {
        // A line that fails mid-run is one failed entry, not the silent end of the run with
        // the previous entry's success still on the status bar.
        return WriteOutcome::Failed;
    }
}

std::string WriteStatusText(WriteOutcome outcome, std::int32_t number) {
    switch (outcome) {
        case WriteOutcome::Written: return text::kRunWriteDone + std::to_string(number);
        case WriteOutcome::Failed: return text::kRunWriteFailed + std::to_string(number);
        default: return {};
    }
}

}  // namespace dorv::params
