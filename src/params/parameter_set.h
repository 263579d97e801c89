// ParameterSet: a catalogue without a window, for the host program's parameter commands
// (read-all, write-all, save, load, diff). It does what the window's runs and buffer-file
// buttons do, on the calling thread, with a callback after each entry.
//
// Thread safety: one thread at a time per set.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "buffer_file.h"
#include "catalogue.h"
#include "entry_transfer.h"
#include "number_locale.h"
#include "transport.h"

namespace dorv::params {

struct EntryProgress {
    std::int32_t position = 0;  // catalogue position
    std::int32_t done = 0;      // entries handled so far, this one included
    std::int32_t total = 0;     // entries the run handles
    const CParameter* entry = nullptr;
    bool ok = false;         // read, or written; false for skipped or failed entries
    bool skipped = false;    // write runs: SkipWriteAll
    std::string statusText;  // write runs: the status line the window would show
};
using ProgressCallback = std::function<void(const EntryProgress&)>;

struct RunSummary {
    int succeeded = 0;
    int failed = 0;
    int skipped = 0;
};

// One numbered parameter whose values differ between two sets.
struct ParameterDifference {
    std::int32_t position = 0;
    std::int32_t number = 0;
    std::string name;
    std::int64_t left = 0;
    std::int64_t right = 0;
    std::string leftText;  // the values as the window's "Запись" column shows them
    std::string rightText;
};

class ParameterSet {
public:
    explicit ParameterSet(NumberLocale locale = SystemNumberLocale());

    CTRKParameters& Catalogue() { return *catalogue_; }
    const CTRKParameters& Catalogue() const { return *catalogue_; }
    const NumberLocale& Locale() const { return locale_; }

    RunSummary ReadAll(ParameterTransport& transport, Target target, const ProgressCallback& progress = {});
    RunSummary WriteAll(ParameterTransport& transport, Target target, const ProgressCallback& progress = {});
    void Save(const std::string& path) const { SaveParamsToFile(*catalogue_, path); }
    int Load(const std::string& path) { return LoadParamsFromFile(*catalogue_, path); }

    // The text of the value that a write would send, as the window shows it.
    std::string ShownValue(std::int32_t position) const;

private:
    NumberLocale locale_;
    std::shared_ptr<CTRKParameters> catalogue_;
};

// The numbered parameters (the ones buffer files hold) whose Value differs, in catalogue order.
std::vector<ParameterDifference> Diff(const ParameterSet& left, const ParameterSet& right);

// The text of the value an entry would send: RawToText of the larger of Value and Min; empty
// when the value has no text (it does not fit the entry's field).
std::string ValueToWriteText(const CParameter& entry, const NumberLocale& locale);

}  // namespace dorv::params
