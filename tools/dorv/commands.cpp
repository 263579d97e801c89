#include "commands.h"

#include <cstdio>
#include <iostream>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "dorv5000/exceptions.h"
#include "driver/tvm30.h"
#include "line.h"
#include "numbers.h"
#include "session.h"

namespace dorv::tools {
namespace {

using Json = nlohmann::ordered_json;

// Columns the driver keeps prices and scales for, and the nozzles of a column: anything else
// would address another column's nozzle or none.
constexpr int kFirstColumn = 1, kLastColumn = 32;
constexpr int kFirstNozzle = 1, kLastNozzle = 4;
constexpr int kFirstAddress = 1, kLastAddress = 64;
constexpr int kLastLine = 39;
constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();

// Arguments that are wrong: nothing was sent.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Call {
    CommandContext& ctx;
    std::vector<std::string> args;
    Json outputs = Json::object();
    std::string text;              // plain-text outputs
    std::int32_t linkFailure = 0;  // a failure code a command got from the link directly

    int Whole(std::size_t i, const char* name, std::int64_t low, std::int64_t high) const {
        const auto v = ParseWhole(args.at(i));
        if (!v) throw UsageError(std::string(name) + " must be a whole number");
        if (*v < low || *v > high) throw UsageError(std::string(name) + " must be " + std::to_string(low) + " to " + std::to_string(high));
        return static_cast<int>(*v);
    }
    double Decimal(std::size_t i, const char* name) const {
        const auto v = ParseDecimal(args.at(i));
        if (!v) throw UsageError(std::string(name) + " must be a plain decimal number, such as 45.50");
        return *v;
    }
    int Column(std::size_t i) const { return Whole(i, "COLUMN", kFirstColumn, kLastColumn); }
    int Nozzle(std::size_t i) const { return Whole(i, "NOZZLE", kFirstNozzle, kLastNozzle); }
    int Address(std::size_t i) const { return Whole(i, "ADDRESS", kFirstAddress, kLastAddress); }

    void Out(const std::string& key, double v, const char* fmt = "%.2f") {
        outputs[key] = v;
        char buf[64];
        std::snprintf(buf, sizeof buf, fmt, v);
        text += " " + key + " " + buf;
    }
    void Out(const std::string& key, std::int64_t v) {
        outputs[key] = v;
        text += " " + key + " " + std::to_string(v);
    }
    void OutHex(const std::string& key, unsigned v) {
        outputs[key] = v;
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%02X", v);
        text += " " + key + " " + buf;
    }
};

using Handler = void (*)(Call&);

struct Command {
    int arity;
    const char* usage;
    const char* help;
    Handler run;
};

void Status(Call& c, int column, int nozzles) {
    const StatusRecord r = c.ctx.driver.GetStatus(static_cast<std::uint8_t>(c.ctx.line), static_cast<std::uint8_t>(column),
                                                  static_cast<std::uint8_t>(nozzles));
    c.OutHex("summary", r.bytes[0]);
    c.Out("nozzle", static_cast<std::int64_t>(r.bytes[14]));
    Json codes = Json::array();
    c.text += " codes";
    for (int n = 1; n <= nozzles; ++n) {
        codes.push_back(r.bytes[2 * n]);
        char buf[8];
        std::snprintf(buf, sizeof buf, " %02X", r.bytes[2 * n]);
        c.text += buf;
    }
    c.outputs["codes"] = codes;
}

void Emulated(Call& c, const std::function<bool(int)>& act, const char* verb) {
    if (!act) throw UsageError(std::string(verb) + " needs the built-in emulator (--emulator)");
    const int address = c.Address(0);
    if (!act(address)) throw UsageError("the built-in emulator has no controller at address " + std::to_string(address));
}

const std::map<std::string, Command>& Commands() {
    static const std::map<std::string, Command> commands = {
        {"line",
         {1, "line N", "use line N for the commands that follow",
          [](Call& c) {
              c.ctx.line = c.Whole(0, "N", 0, kLastLine);
              c.Out("line", static_cast<std::int64_t>(c.ctx.line));
          }}},
        {"setup",
         {0, "setup", "apply the line settings (SetupLine)",
          [](Call& c) {
              const std::int32_t result = c.ctx.driver.SetupLine(static_cast<std::uint8_t>(c.ctx.line));
              c.Out("result", static_cast<std::int64_t>(result));
              c.linkFailure = result;
          }}},
        {"status",
         {1, "status COLUMN", "poll the four nozzles of a column (GetStatus)", [](Call& c) { Status(c, c.Column(0), kLastNozzle); }}},
        {"status-n",
         {2, "status-n COLUMN NOZZLES", "poll the first NOZZLES nozzles of a column",
          [](Call& c) { Status(c, c.Column(0), c.Whole(1, "NOZZLES", 1, kLastNozzle)); }}},
        {"price",
         {3, "price COLUMN NOZZLE PRICE", "set the unit price (SetPrice)",
          [](Call& c) {
              const int column = c.Column(0), nozzle = c.Nozzle(1);
              c.ctx.driver.SetPrice(c.ctx.line, column, nozzle, 0.0, c.Decimal(2, "PRICE"));
          }}},
        {"preset-volume",
         {3, "preset-volume COLUMN NOZZLE LITRES", "dose by volume (PresetVolume)",
          [](Call& c) {
              const int column = c.Column(0), nozzle = c.Nozzle(1);
              c.ctx.driver.PresetVolume(c.ctx.line, column, nozzle, 0, c.Decimal(2, "LITRES"));
              c.Out("ordered", c.ctx.driver.OrderedVolume(c.ctx.line, column));
          }}},
        {"preset-money",
         {3, "preset-money COLUMN NOZZLE MONEY", "dose by money (PresetAmount)",
          [](Call& c) {
              const int column = c.Column(0), nozzle = c.Nozzle(1);
              c.ctx.driver.PresetAmount(c.ctx.line, column, nozzle, 0, c.Decimal(2, "MONEY"));
              c.Out("ordered", c.ctx.driver.OrderedVolume(c.ctx.line, column));
          }}},
        {"authorize",
         {2, "authorize COLUMN NOZZLE", "authorize and start (AuthorizeNozzle)",
          [](Call& c) { c.ctx.driver.AuthorizeNozzle(c.ctx.line, c.Column(0), c.Nozzle(1), 0); }}},
        {"start",
         {2, "start COLUMN NOZZLE", "start without authorization (StartNozzle)",
          [](Call& c) { c.ctx.driver.StartNozzle(c.ctx.line, c.Column(0), c.Nozzle(1)); }}},
        {"stop",
         {2, "stop COLUMN NOZZLE", "stop the nozzle (StopNozzle)",
          [](Call& c) { c.ctx.driver.StopNozzle(c.ctx.line, c.Column(0), c.Nozzle(1), 1); }}},
        {"release",
         {2, "release COLUMN NOZZLE", "end the transaction (command 8)",
          [](Call& c) {
              const int column = c.Column(0), nozzle = c.Nozzle(1);
              c.Out("result", static_cast<std::int64_t>(c.ctx.driver.ReleaseNozzle(c.ctx.line, column, nozzle)));
          }}},
        {"stop-release",
         {2, "stop-release COLUMN NOZZLE", "stop, then release (StopAndRelease)",
          [](Call& c) {
              const int column = c.Column(0), nozzle = c.Nozzle(1);
              c.Out("result", static_cast<std::int64_t>(c.ctx.driver.StopAndRelease(c.ctx.line, column, nozzle, 1)));
          }}},
        {"filling",
         {1, "filling COLUMN", "read the running filling (GetFilling)",
          [](Call& c) {
              double litres = 0, money = 0;
              c.ctx.driver.GetFilling(c.ctx.line, c.Column(0), &litres, &money);
              c.Out("litres", litres);
              c.Out("money", money);
          }}},
        {"filling-volume",
         {1, "filling-volume COLUMN", "short filling reading (GetFillingVolume)",
          [](Call& c) {
              double money = 0;
              const double litres = c.ctx.driver.GetFillingVolume(c.ctx.line, c.Column(0), &money);
              c.Out("litres", litres);
              c.Out("money", money);
          }}},
        {"counters",
         {2, "counters COLUMN NOZZLE", "read the totalizers (ReadCounters)",
          [](Call& c) {
              double volume = 0, money = 0;
              const int column = c.Column(0), nozzle = c.Nozzle(1);
              c.ctx.driver.ReadCounters(c.ctx.line, column, nozzle, &volume, &money, 0, 0);
              c.Out("volume", volume);
              c.Out("money", money);
          }}},
        {"param-get",
         {2, "param-get COLUMN P", "read host parameter P (GetParam)",
          [](Call& c) {
              const int column = c.Column(0), p = c.Whole(1, "P", 0, kInt32Max);
              c.Out("value", static_cast<std::int64_t>(c.ctx.driver.GetParam(c.ctx.line, column, p)));
          }}},
        {"param-set",
         {3, "param-set COLUMN P VALUE", "write host parameter P (SetParam)",
          [](Call& c) {
              const int column = c.Column(0), p = c.Whole(1, "P", 0, kInt32Max);
              c.ctx.driver.SetParam(c.ctx.line, column, p, c.Whole(2, "VALUE", 0, kInt32Max));
          }}},
        {"line-status", {0, "line-status", "the line status (GetLineStatus)", [](Call&) {}}},
        {"lift",
         {1, "lift ADDRESS", "built-in emulator: lift the nozzle at a controller address",
          [](Call& c) { Emulated(c, c.ctx.lift, "lift"); }}},
        {"hang", {1, "hang ADDRESS", "built-in emulator: hang the nozzle up", [](Call& c) { Emulated(c, c.ctx.hang, "hang"); }}},
    };
    return commands;
}

struct Outcome {
    std::string kind = "done";
    const char* errorClass = nullptr;  // the exception's class, or "Usage"
    std::string message;
    std::uint8_t refusalCode = 0;
    std::string cause;  // link failures: why the line could not be used
    std::uint8_t silentState = 0;
    std::uint8_t asideCode = 0;  // a refused step beside the command's own outcome (its code)
    bool Succeeded() const { return kind == "answered" || kind == "done"; }
};

Outcome Failure(const char* kind, const char* errorClass, std::string message) {
    Outcome o;
    o.kind = kind;
    o.errorClass = errorClass;
    o.message = std::move(message);
    return o;
}

int LineStatusOf(CommandContext& ctx) {
    return ctx.line >= 0 && ctx.line <= kLastLine ? ctx.driver.GetLineStatus(static_cast<std::uint8_t>(ctx.line)) : 0;
}

void Report(CommandContext& ctx, const std::string& name, const Call& call, const Outcome& o) {
    const int status = LineStatusOf(ctx);
    const std::string refusalMeaning = o.refusalCode ? RefusalMeaning(o.refusalCode) : std::string("the controller refused the command");
    if (ctx.json) {
        Json j;
        j["command"] = name;
        j["args"] = call.args;
        j["outputs"] = call.outputs;
        j["line"] = ctx.line;
        j["line_status"] = status;
        j["outcome"] = o.kind;
        j["refusal"] = nullptr;
        if (o.kind == "refused")
            j["refusal"] = {{"code", o.refusalCode ? Json(o.refusalCode) : Json(nullptr)}, {"meaning", refusalMeaning}};
        j["cause"] = o.cause.empty() ? Json(nullptr) : Json(o.cause);
        if (o.asideCode) j["decimals_read"] = {{"refused", true}, {"code", o.asideCode}};
        j["exception"] = nullptr;
        if (o.errorClass) j["exception"] = {{"class", o.errorClass}, {"message", o.message}};
        // Whatever bytes an argument or a message holds, the line stays valid JSON.
        ctx.out << j.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
    } else {
        ctx.out << name;
        for (const auto& a : call.args) ctx.out << ' ' << a;
        ctx.out << ':' << call.text << "  [line " << ctx.line << " status " << status << ']';
        if (o.kind == "refused") ctx.out << "  refused: " << (o.refusalCode ? std::to_string(o.refusalCode) + " " : "") << refusalMeaning;
        if (o.kind == "no_answer" && !o.errorClass) ctx.out << "  no answer: " << LineStateMeaning(o.silentState);
        if (o.kind == "no_reading") ctx.out << "  no reading: the reply carried none";
        if (o.asideCode) ctx.out << "  decimals read refused: " << int(o.asideCode) << ", the price kept its scales";
        if (o.errorClass) ctx.out << "  " << o.errorClass << ": " << o.message;
        if (!o.cause.empty()) ctx.out << "; cause: " << o.cause;
        ctx.out << '\n';
    }
    ctx.out.flush();
}

}  // namespace

CommandHost::CommandHost(Session& session, std::ostream& out, bool json, int line)
    : watched_(session.Link()), driver_(std::make_unique<TVM30>(0, &watched_)) {
    ctx_ = std::make_unique<CommandContext>(CommandContext{*driver_, out, json, line, {}, {}, &watched_, {}, {}});
    TVM30* driver = driver_.get();
    watched_.SetLineStatusProbe([driver](std::uint8_t l) { return driver->GetLineStatus(l); });
    ctx_->cause = [&session](std::int32_t code) { return session.Cause(code); };
    ctx_->traceNote = [&session](const std::string& text) { session.TraceNote(text); };
    if (emu::Line* emulator = session.Emulator()) {
        ctx_->lift = [emulator](int a) { return emulator->Lift(a); };
        ctx_->hang = [emulator](int a) { return emulator->Hang(a); };
    }
}

CommandHost::~CommandHost() = default;

bool RunCommand(CommandContext& ctx, const std::vector<std::string>& words, std::size_t& pos) {
    const std::string name = words.at(pos++);
    Call call{ctx, {}, Json::object(), {}, 0};
    Outcome o;
    const auto it = Commands().find(name);
    if (it == Commands().end()) {
        o = Failure("invalid", "Usage", "unknown command (see dorv --help)");
        Report(ctx, name, call, o);
        return false;
    }
    const Command& cmd = it->second;
    if (pos + static_cast<std::size_t>(cmd.arity) > words.size()) {
        call.args.assign(words.begin() + static_cast<long>(pos), words.end());
        pos = words.size();
        o = Failure("invalid", "Usage", std::string("usage: ") + cmd.usage);
        Report(ctx, name, call, o);
        return false;
    }
    call.args.assign(words.begin() + static_cast<long>(pos), words.begin() + static_cast<long>(pos) + cmd.arity);
    pos += static_cast<std::size_t>(cmd.arity);

    if (ctx.watch) ctx.watch->Begin();
    bool linkException = false;
    try {
        cmd.run(call);
    } catch (const UsageError& e) {
        o = Failure("invalid", "Usage", std::string(e.what()) + "; usage: " + cmd.usage);
    } catch (const ESerialIO& e) {
        o = Failure("no_answer", "ESerialIO", e.what());
        linkException = true;
    } catch (const Exception& e) {
        o = Failure("error", "Exception", e.what());
    } catch (const std::exception& e) {
        o = Failure("error", "Error", e.what());
    }
    const LinkActivity done = ctx.watch ? ctx.watch->End(static_cast<std::uint8_t>(ctx.line)) : LinkActivity{};
    const std::int32_t failure = call.linkFailure ? call.linkFailure : done.failure;
    if (o.errorClass && !linkException) {
        // Arguments or the driver's own checks: the outcome stands.
    } else if (failure != 0) {
        o.kind = "link_failure";
        o.cause = ctx.cause ? ctx.cause(failure) : std::to_string(failure);
    } else if (!o.errorClass && name == "price" && done.refusedCommands == "N" && !done.lastRefused) {
        // Only the decimals read ahead of the price was refused; the price itself was taken.
        o.kind = "answered";
        o.asideCode = done.refusalCode;
    } else if (!o.errorClass && done.refused) {
        o.kind = "refused";
        o.refusalCode = done.refusalCode;
    } else if (!o.errorClass && done.silentState != 0) {
        o.kind = "no_answer";
        o.silentState = done.silentState;
    } else if (!o.errorClass && (done.noData || (name != "counters" && LineStatusOf(ctx) == kLineFrameError))) {
        // Answered, but with no reading in the reply (a lone 0x06 where data was due, a field
        // without digits): the values shown are none the controller gave. For the counters the
        // driver's status 3 also stands for a totalizer at zero, so only a missing reply counts.
        o.kind = "no_reading";
    } else if (!o.errorClass) {
        o.kind = done.transactions > 0 ? "answered" : "done";
    }
    if (o.kind == "link_failure" && ctx.traceNote) {
        std::string said = name;
        for (const auto& a : call.args) said += ' ' + a;
        ctx.traceNote("line " + std::to_string(ctx.line) + ": " + said + ": link failure: " + o.cause +
                      (o.errorClass ? std::string(" (") + o.errorClass + ": " + o.message + ")" : std::string()));
    }
    Report(ctx, name, call, o);
    return o.Succeeded();
}

int RunSequence(CommandContext& ctx, const std::vector<std::string>& words) {
    int failed = 0;
    for (std::size_t pos = 0; pos < words.size();)
        if (!RunCommand(ctx, words, pos)) ++failed;
    return failed;
}

std::vector<std::string> SplitWords(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line.substr(0, line.find('#')));
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

int RunShell(CommandContext& ctx, std::istream& in, bool prompt) {
    int failed = 0;
    std::string line;
    while (true) {
        if (prompt) std::cerr << "dorv> " << std::flush;
        if (!std::getline(in, line)) break;
        const auto words = SplitWords(line);
        if (words.empty()) continue;
        if (words[0] == "quit" || words[0] == "exit") break;
        if (words[0] == "help") {
            ctx.out << CommandHelp();
            continue;
        }
        failed += RunSequence(ctx, words);
    }
    return failed;
}

std::string CommandHelp() {
    std::string out;
    for (const auto& [name, cmd] : Commands()) {
        std::string usage = cmd.usage;
        usage.resize(std::max<std::size_t>(usage.size(), 38), ' ');
        out += "  " + usage + " " + cmd.help + "\n";
    }
    return out;
}

}  // namespace dorv::tools
