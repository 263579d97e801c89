#include "parameter_set.h"

#include <algorithm>
#include <exception>

#include "buffer_file.h"

namespace dorv::params {

std::string ValueToWriteText(const CParameter& entry, const NumberLocale& locale) {
    try {
        return entry.RawToText(std::max(entry.Value(), entry.Min()), locale);
    } catch (const std::exception&) {
        return {};
    }
}

ParameterSet::ParameterSet(NumberLocale locale) : locale_(std::move(locale)), catalogue_(MakeFilledCatalogue()) {}

std::string ParameterSet::ShownValue(std::int32_t position) const { return ValueToWriteText(catalogue_->GetParameter(position), locale_); }

RunSummary ParameterSet::ReadAll(ParameterTransport& transport, Target target, const ProgressCallback& progress) {
    RunSummary summary;
    const std::int32_t count = catalogue_->GetCount();
    for (std::int32_t i = kFirstNumberedPosition; i < count; ++i) {
        CParameter& entry = catalogue_->GetParameter(i);
        const bool ok = ReadEntry(entry, &transport, target, locale_);
        ++(ok ? summary.succeeded : summary.failed);
        if (progress) progress({i, i - kFirstNumberedPosition + 1, count - kFirstNumberedPosition, &entry, ok, false, {}});
    }
    return summary;
}

RunSummary ParameterSet::WriteAll(ParameterTransport& transport, Target target, const ProgressCallback& progress) {
    RunSummary summary;
    const std::int32_t count = catalogue_->GetCount();
    for (std::int32_t i = kFirstNumberedPosition; i < count; ++i) {
        CParameter& entry = catalogue_->GetParameter(i);
        const WriteOutcome outcome = WriteEntry(entry, &transport, target);
        const bool ok = outcome == WriteOutcome::Written;
        const bool skipped = outcome == WriteOutcome::Skipped;
        ++(ok ? summary.succeeded : skipped ? summary.skipped : summary.failed);
        if (progress)
            progress({i, i - kFirstNumberedPosition + 1, count - kFirstNumberedPosition, &entry, ok, skipped,
                      WriteStatusText(outcome, entry.Number())});
    }
    return summary;
}

std::vector<ParameterDifference> Diff(const ParameterSet& left, const ParameterSet& right) {
    std::vector<ParameterDifference> result;
    const std::int32_t count = std::min(left.Catalogue().GetCount(), right.Catalogue().GetCount());
    for (std::int32_t i = kFirstNumberedPosition; i < count; ++i) {
        const CParameter& a = left.Catalogue().GetParameter(i);
        const CParameter& b = right.Catalogue().GetParameter(i);
        const std::int64_t va = a.Value();
        const std::int64_t vb = b.Value();
        if (va == vb) continue;
        result.push_back({i, a.Number(), a.Name(), va, vb, ValueToWriteText(a, left.Locale()), ValueToWriteText(b, right.Locale())});
    }
    return result;
}

}  // namespace dorv::params
