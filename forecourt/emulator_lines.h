// --emulator: one dorv-emulator process per line, each serving its line on a pseudo-terminal
// and listening for lift and hang on a control socket. The service reaches the pty through
// the real serial link, as it would a dispenser line.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "config/config.h"

namespace forecourt {

class EmulatorLines {
public:
    // Starts the emulators and fills in each line's device and control socket; raises
    // std::runtime_error when the program cannot be found or does not start.
    EmulatorLines(Config& config, const std::string& self_path);
    ~EmulatorLines();  // stops them
    EmulatorLines(const EmulatorLines&) = delete;
    EmulatorLines& operator=(const EmulatorLines&) = delete;

private:
    std::vector<pid_t> children_;
};

// Where dorv-emulator is: $DORV_EMULATOR, next to this program, the build tree's emulator/,
// or the PATH.
std::string FindEmulator(const std::string& self_path);

}  // namespace forecourt
