// Failures the driver raises. Messages are fixed texts (Russian in UTF-8, or short English).
//
// Exception   - the caller's fault: a column, line or nozzle out of range, a value that cannot
//               be converted or does not fit its field.
// ESerialIO   - the line's fault: the host link could not complete an exchange.
// A controller's refusal raises nothing; it shows in the line status.
#pragma once

#include <stdexcept>
#include <string>

#include "abi.h"

namespace dorv {

class DORV_SHARED Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

class DORV_SHARED ESerialIO : public Exception {
public:
    explicit ESerialIO(const std::string& message) : Exception(message) {}
};

}  // namespace dorv
