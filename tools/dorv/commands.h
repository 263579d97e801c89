// The host program's commands: each drives one driver operation and prints its outputs, the
// line status after it and any exception, as plain text or as one JSON object per command.
// One driver object carries every command of a run, so prices, the current nozzle and the
// ordered and filled volumes persist from one command to the next, as they do in a host.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace dorv {
class TVM30;
}

namespace dorv::tools {

struct CommandContext {
    TVM30& driver;
    std::ostream& out;
    bool json = false;
    int line = 1;
    // Set when the built-in emulator runs: lift and hang a nozzle by controller address.
    std::function<void(int address)> lift;
    std::function<void(int address)> hang;
};

// Runs the command that starts at words[pos] and moves pos past it. Returns false when the
// command failed (unknown command, bad arguments, or the driver raised).
bool RunCommand(CommandContext& ctx, const std::vector<std::string>& words, std::size_t& pos);
// Runs every command in the list in order; returns the number that failed.
int RunSequence(CommandContext& ctx, const std::vector<std::string>& words);
// Reads commands from `in`, one a line ('#' starts a comment); returns the number that failed.
int RunShell(CommandContext& ctx, std::istream& in, bool prompt);
// One line per command: its words and what it does.
std::string CommandHelp();

std::vector<std::string> SplitWords(const std::string& line);

}  // namespace dorv::tools
