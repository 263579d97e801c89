// The host program's commands: each drives one driver operation and prints its outputs, the
// line status after it and its outcome, as plain text or as one JSON object per command.
// One driver object carries every command of a run, so prices, the current nozzle and the
// ordered and filled volumes persist from one command to the next, as they do in a host.
//
// Outcomes: "answered" (the controller answered every request), "done" (the command sends
// nothing: line, line-status, lift, hang), "refused" (the controller refused; the refusal code
// the driver stored and its meaning), "no_answer" (a request went unanswered), "link_failure"
// (the line could not be used; the link's cause), "invalid" (the arguments were wrong; nothing
// was sent) and "error" (the driver raised for another reason). Only the first two succeed.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "watched_link.h"

namespace dorv {
class TVM30;
}

namespace dorv::tools {

class Session;

struct CommandContext {
    TVM30& driver;
    std::ostream& out;
    bool json = false;
    int line = 1;
    // Set when the built-in emulator runs: lift and hang a nozzle by controller address; false
    // when no controller has that address.
    std::function<bool(int address)> lift;
    std::function<bool(int address)> hang;
    // What each command did on the line; without it only exceptions tell a failure.
    WatchedLink* watch = nullptr;
    // Words for a link's failure code, and a note in the frame trace.
    std::function<std::string(std::int32_t code)> cause;
    std::function<void(const std::string& text)> traceNote;
};

// A watched driver over a session's line and the context its commands run in.
class CommandHost {
public:
    CommandHost(Session& session, std::ostream& out, bool json, int line);
    ~CommandHost();
    CommandHost(const CommandHost&) = delete;
    CommandHost& operator=(const CommandHost&) = delete;

    CommandContext& Context() { return *ctx_; }
    TVM30& Driver() { return *driver_; }

private:
    WatchedLink watched_;
    std::unique_ptr<TVM30> driver_;
    std::unique_ptr<CommandContext> ctx_;
};

// Runs the command that starts at words[pos] and moves pos past it. Returns false when the
// command did not succeed.
bool RunCommand(CommandContext& ctx, const std::vector<std::string>& words, std::size_t& pos);
// Runs every command in the list in order; returns the number that did not succeed.
int RunSequence(CommandContext& ctx, const std::vector<std::string>& words);
// Reads commands from `in`, one a line ('#' starts a comment); returns the number that did
// not succeed.
int RunShell(CommandContext& ctx, std::istream& in, bool prompt);
// One line per command: its words and what it does.
std::string CommandHelp();

std::vector<std::string> SplitWords(const std::string& line);

}  // namespace dorv::tools
