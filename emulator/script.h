// Scenario files for the emulator program: what happens on the line and when
// (nozzles lifted and hung, flow changes, faults), one command per line.
#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "faults.h"
#include "line.h"

namespace dorv::emu {

struct ScriptCommand {
  enum class Verb : std::uint8_t {
    kLift,
    kHang,
    kFlow,
    kFault,
    kClearFaults,
    kType,
    kId,
    kParam,
    kAdd,
    kCommonReply
  };
  Verb verb = Verb::kLift;
  std::vector<int> addresses;  // lift, hang, type, id, param, add
  double number = 0.0;         // flow rate
  std::int64_t value = 0;      // id, param value, common-reply on (1) / off (0)
  int param = 0;               // param number
  char type = 'A';
  FaultRule fault;
};

struct ScriptStep {
  double at = 0.0;  // seconds after the emulator starts
  ScriptCommand command;
  int line = 0;  // in the file, for messages
};

class ScriptError : public std::runtime_error {
 public:
  ScriptError(int line, const std::string& what)
      : std::runtime_error("line " + std::to_string(line) + ": " + what), line_(line) {}
  int line() const { return line_; }

 private:
  int line_;
};

// "3", "1-4", "1,3,9-12": the controller addresses a command applies to.
std::optional<std::vector<int>> ParseAddressList(std::string_view text);

// Parses a whole script; the steps come out ordered by time, ties in file
// order. Throws ScriptError naming the first bad line.
std::vector<ScriptStep> ParseScript(std::istream& in);
ScriptCommand ParseCommand(std::string_view text, int line = 0);

// Carries one command out on the line; false when it names a controller
// the line does not have.
bool Apply(Line& line, const ScriptCommand& command);

// Runs the steps at their times from `start` until done or stopped.
void RunScript(Line& line, const std::vector<ScriptStep>& steps,
               std::chrono::steady_clock::time_point start, std::stop_token stop);

}  // namespace dorv::emu
