// The control socket of a dorv-emulator: one text command a line ("lift 3", "hang 3",
// "fault silence 0", "clear-faults", "totals 3"), one answer line ("ok ...", "error ...").
// Lets the service (and tests) play the customer on an emulator running as its own process.
#pragma once

#include <chrono>
#include <string>

#include "config/config.h"

namespace forecourt {

// Sends one command and returns the answer line without its newline; raises
// std::runtime_error when the emulator cannot be reached or does not answer in time.
std::string EmulatorCommand(const Endpoint& control, const std::string& command,
                            std::chrono::milliseconds timeout = std::chrono::seconds(2));

}  // namespace forecourt
