#include "emulator_lines.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace forecourt {
namespace {

namespace fs = std::filesystem;

// Reads the lines the emulator prints at start ("pty /dev/pts/N", "control HOST:PORT").
std::string ReadLine(int fd) {
    std::string line;
    char c;
    while (::read(fd, &c, 1) == 1 && c != '\n') line += c;
    return line;
}

}  // namespace

std::string FindEmulator(const std::string& self_path) {
    if (const char* env = std::getenv("DORV_EMULATOR"); env && *env) return env;
    std::error_code ec;
    const fs::path dir = fs::path(self_path).parent_path();
    for (const fs::path& candidate : {dir / "dorv-emulator", dir / ".." / "emulator" / "dorv-emulator"})
        if (fs::exists(candidate, ec)) return candidate.string();
    return "dorv-emulator";
}

EmulatorLines::EmulatorLines(Config& config, const std::string& self_path) {
    const std::string program = FindEmulator(self_path);
    const std::string flow = std::to_string(config.emulator_options.flow);
    const std::string baud = std::to_string(config.emulator_options.baud);
    for (auto& line : config.lines) {
        int last = 1;
        for (const auto& pump : config.pumps)
            for (const auto& nozzle : pump.nozzles)
                if (pump.line == line.line) last = std::max(last, NozzleAddress(config, pump, nozzle.nozzle));
        const std::string addresses = "1-" + std::to_string(last);
        int out[2];
        if (::pipe(out) != 0) throw std::runtime_error("cannot start the emulator: no pipe");
        const pid_t pid = ::fork();
        if (pid < 0) throw std::runtime_error("cannot start the emulator: fork failed");
        if (pid == 0) {
            // The emulators go when the service goes, however it goes.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            ::dup2(out[1], 1);
            ::close(out[0]);
            ::close(out[1]);
            ::execlp(program.c_str(), program.c_str(), "--pty", "--control", "127.0.0.1:0", "--flow", flow.c_str(), "--baud", baud.c_str(),
                     "--addresses", addresses.c_str(), static_cast<char*>(nullptr));
            std::perror(program.c_str());
            ::_exit(127);
        }
        children_.push_back(pid);
        ::close(out[1]);
        const std::string pty = ReadLine(out[0]);
        const std::string control = ReadLine(out[0]);
        ::close(out[0]);
        if (pty.rfind("pty ", 0) != 0 || control.rfind("control ", 0) != 0)
            throw std::runtime_error("cannot start the emulator " + program + " (set DORV_EMULATOR to its path)");
        line.device = pty.substr(4);
        line.emulator = ParseEndpoint(control.substr(8), "emulator");
    }
}

EmulatorLines::~EmulatorLines() {
    for (pid_t pid : children_) ::kill(pid, SIGTERM);
    for (pid_t pid : children_) ::waitpid(pid, nullptr, 0);
}

}  // namespace forecourt
