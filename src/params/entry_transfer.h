// Moving one catalogue entry between the catalogue and a controller: the steps the read and
// write runs repeat for every row, and that the headless parameter set uses too.
//
// Thread safety: as the transport's; the entry's shared fields are changed through its lock.
#pragma once

#include <cstdint>
#include <string>

#include "number_locale.h"
#include "parameter.h"
#include "transport.h"

namespace dorv::params {

// Where the controller is: the line (the window's COM-port number) and its nozzle address.
struct Target {
    std::int32_t line = 1;
    std::int32_t address = 1;
};

// Reads one entry. On success the entry takes the value and its text and the result is true.
// Every failure - no transport, a type without an access kind, an exception of the transport,
// the -1 of an unreadable entry, a value that has no text - ends as ReadError on the entry,
// which keeps its Value and ReadText.
bool ReadEntry(CParameter& entry, ParameterTransport* transport, Target target, const NumberLocale& locale);

enum class WriteOutcome {
    NotSent,  // no transport or no access kind: the entry's ReadError is set
    Skipped,  // SkipWriteAll: nothing sent, nothing shown
    Written,  // the transport carried the write out
    Failed,   // the transport said no or raised, or the value does not fit the field
};

// Writes the entry's Value as the write-all run does.
WriteOutcome WriteEntry(CParameter& entry, ParameterTransport* transport, Target target);

// The status line after a written or failed entry ("Операция записи параметра 7"); empty for
// the other outcomes.
std::string WriteStatusText(WriteOutcome outcome, std::int32_t number);

// True when `value` can travel in a field of `digits` decimal digits: the transport sends only
// the lowest digits and no sign, so anything else would reach the controller as another number.
bool FitsDigitField(std::int64_t value, int digits);

}  // namespace dorv::params
