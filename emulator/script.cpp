#include "script.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iostream>
#include <istream>

#include "addressing.h"
#include "stream_session.h"

namespace dorv::emu {

namespace {

using Verb = ScriptCommand::Verb;

std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t begin = text.find_first_not_of(" \t\r", pos);
    if (begin == std::string_view::npos) break;
    const std::size_t end = std::min(text.find_first_of(" \t\r", begin), text.size());
    words.push_back(text.substr(begin, end - begin));
    pos = end;
  }
  return words;
}

template <typename T>
std::optional<T> Number(std::string_view text) {
  T value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

template <typename T>
T Require(std::optional<T> value, int line, std::string_view what, std::string_view text) {
  if (!value) throw ScriptError(line, "bad " + std::string(what) + " '" + std::string(text) + "'");
  return *value;
}

// 'A'..'H' as they are, or the type number 1..8.
std::optional<char> TypeChar(std::string_view text) {
  if (text.size() == 1 && text[0] >= '@' && text[0] <= 'Z') return text[0];
  const auto n = Number<int>(text);
  if (n && *n >= 0 && *n <= 26) return static_cast<char>('@' + *n);
  return std::nullopt;
}

// cmd=1 (the character itself) or cmd=0x31.
std::optional<std::uint8_t> CommandByte(std::string_view text) {
  if (text.size() == 1) return static_cast<std::uint8_t>(text[0]);
  if (text.starts_with("0x")) {
    unsigned v = 0;
    const auto [end, ec] = std::from_chars(text.data() + 2, text.data() + text.size(), v, 16);
    if (ec == std::errc() && end == text.data() + text.size() && v <= 0xFF)
      return static_cast<std::uint8_t>(v);
  }
  return std::nullopt;
}

FaultRule ParseFault(const std::vector<std::string_view>& w, int line) {
  if (w.size() < 2) throw ScriptError(line, "fault needs a kind");
  FaultRule rule;
  rule.kind = Require(ParseFaultKind(w[1]), line, "fault kind", w[1]);
  bool counted = false;
  for (std::size_t i = 2; i < w.size(); ++i) {
    const std::string_view word = w[i];
    const std::size_t eq = word.find('=');
    if (eq == std::string_view::npos) {
      rule.count = Require(Number<int>(word), line, "fault count", word);
      counted = true;
      continue;
    }
    const std::string_view key = word.substr(0, eq);
    const std::string_view val = word.substr(eq + 1);
    if (key == "cmd")
      rule.command = Require(CommandByte(val), line, "command", val);
    else if (key == "addr")
      rule.address = Require(Number<int>(val), line, "address", val);
    else if (key == "rate")
      rule.rate = Require(Number<double>(val), line, "rate", val);
    else if (key == "delay-ms")
      rule.delay = std::chrono::milliseconds(Require(Number<int>(val), line, "delay", val));
    else if (key == "noise")
      rule.noise_bytes = Require(Number<int>(val), line, "noise count", val);
    else
      throw ScriptError(line, "unknown fault option '" + std::string(key) + "'");
  }
  if (rule.rate < 0.0 || rule.rate > 1.0) throw ScriptError(line, "rate must be within 0..1");
  if (!counted && rule.rate < 1.0) rule.count = 0;  // a rate without a count goes on for good
  return rule;
}

void Expect(const std::vector<std::string_view>& w, std::size_t n, int line) {
  if (w.size() != n)
    throw ScriptError(
        line, "'" + std::string(w[0]) + "' takes " + std::to_string(n - 1) + " argument(s)");
}

}  // namespace

std::optional<std::vector<int>> ParseAddressList(std::string_view text) {
  std::vector<int> out;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    const std::size_t comma = std::min(text.find(',', pos), text.size());
    const std::string_view item = text.substr(pos, comma - pos);
    const std::size_t dash = item.find('-');
    const auto first = Number<int>(item.substr(0, dash));
    const auto last = dash == std::string_view::npos ? first : Number<int>(item.substr(dash + 1));
    if (!first || !last || *first < 1 || *last < *first || *last > kMaxAddress) return std::nullopt;
    for (int a = *first; a <= *last; ++a) out.push_back(a);
    pos = comma + 1;
  }
  return out;
}

ScriptCommand ParseCommand(std::string_view text, int line) {
  const auto w = Words(text);
  if (w.empty()) throw ScriptError(line, "empty command");
  ScriptCommand c;
  const std::string_view verb = w[0];
  auto addresses = [&](std::string_view t) {
    return Require(ParseAddressList(t), line, "address list", t);
  };
  if (verb == "lift" || verb == "hang" || verb == "add") {
    Expect(w, 2, line);
    c.verb = verb == "lift" ? Verb::kLift : verb == "hang" ? Verb::kHang : Verb::kAdd;
    c.addresses = addresses(w[1]);
  } else if (verb == "flow") {
    Expect(w, 2, line);
    c.verb = Verb::kFlow;
    c.number = Require(Number<double>(w[1]), line, "flow rate", w[1]);
    if (!(c.number >= 0.0)) throw ScriptError(line, "flow rate must not be negative");
  } else if (verb == "fault") {
    c.verb = Verb::kFault;
    c.fault = ParseFault(w, line);
  } else if (verb == "clear-faults") {
    Expect(w, 1, line);
    c.verb = Verb::kClearFaults;
  } else if (verb == "type") {
    Expect(w, 3, line);
    c.verb = Verb::kType;
    c.addresses = addresses(w[1]);
    c.type = Require(TypeChar(w[2]), line, "type", w[2]);
  } else if (verb == "id") {
    Expect(w, 3, line);
    c.verb = Verb::kId;
    c.addresses = addresses(w[1]);
    c.value = Require(Number<std::int64_t>(w[2]), line, "ID number", w[2]);
  } else if (verb == "param") {
    Expect(w, 4, line);
    c.verb = Verb::kParam;
    c.addresses = addresses(w[1]);
    c.param = Require(Number<int>(w[2]), line, "parameter number", w[2]);
    c.value = Require(Number<std::int64_t>(w[3]), line, "parameter value", w[3]);
  } else if (verb == "common-reply") {
    Expect(w, 2, line);
    c.verb = Verb::kCommonReply;
    if (w[1] != "on" && w[1] != "off") throw ScriptError(line, "common-reply takes on or off");
    c.value = w[1] == "on";
  } else {
    throw ScriptError(line, "unknown command '" + std::string(verb) + "'");
  }
  return c;
}

std::vector<ScriptStep> ParseScript(std::istream& in) {
  std::vector<ScriptStep> steps;
  std::string text;
  for (int line = 1; std::getline(in, text); ++line) {
    std::string_view rest(text);
    rest = rest.substr(0, rest.find('#'));
    auto w = Words(rest);
    if (w.empty()) continue;
    ScriptStep step;
    step.line = line;
    if (w[0] == "at") {
      if (w.size() < 3) throw ScriptError(line, "'at' needs a time and a command");
      step.at = Require(Number<double>(w[1]), line, "time", w[1]);
      if (!(step.at >= 0.0)) throw ScriptError(line, "time must not be negative");
      rest = rest.substr(static_cast<std::size_t>(w[1].data() - rest.data()) + w[1].size());
    }
    step.command = ParseCommand(rest, line);
    steps.push_back(std::move(step));
  }
  std::stable_sort(steps.begin(), steps.end(),
                   [](const ScriptStep& a, const ScriptStep& b) { return a.at < b.at; });
  return steps;
}

bool Apply(Line& line, const ScriptCommand& c) {
  bool ok = true;
  switch (c.verb) {
    case Verb::kFlow: line.SetFlowRate(c.number); return true;
    case Verb::kFault: line.ArmFault(c.fault); return true;
    case Verb::kClearFaults: line.ClearFaults(); return true;
    case Verb::kCommonReply: line.SetAnswerCommonSettings(c.value != 0); return true;
    default: break;
  }
  for (int a : c.addresses) {
    switch (c.verb) {
      case Verb::kLift: ok = line.Lift(a) && ok; break;
      case Verb::kHang: ok = line.Hang(a) && ok; break;
      case Verb::kAdd: ok = line.AddController(a) && ok; break;
      case Verb::kType: ok = line.SetType(a, c.type) && ok; break;
      case Verb::kId: ok = line.SetId(a, static_cast<std::uint64_t>(c.value)) && ok; break;
      case Verb::kParam: ok = line.SetParam(a, c.param, c.value) && ok; break;
      default: break;
    }
  }
  return ok;
}

void RunScript(Line& line, const std::vector<ScriptStep>& steps,
               std::chrono::steady_clock::time_point start, std::stop_token stop) {
  for (const ScriptStep& step : steps) {
    const auto when = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                  std::chrono::duration<double>(step.at));
    if (!SleepUntil(stop, when)) return;
    if (!Apply(line, step.command))
      std::cerr << "script line " << step.line << ": no such controller, or refused\n";
  }
}

}  // namespace dorv::emu
