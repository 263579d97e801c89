#include "commands.h"

#include <cstdio>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "dorv5000/exceptions.h"
#include "driver/tvm30.h"
#include "json.h"

namespace dorv::tools {
namespace {

struct Call {
    CommandContext& ctx;
    std::vector<std::string> args;
    JsonObject outputs;
    std::string text;  // plain-text outputs

    int Int(std::size_t i) const {
        std::size_t used = 0;
        const int v = std::stoi(args.at(i), &used);
        if (used != args[i].size()) throw std::invalid_argument(args[i]);
        return v;
    }
    double Real(std::size_t i) const {
        std::size_t used = 0;
        const double v = std::stod(args.at(i), &used);
        if (used != args[i].size()) throw std::invalid_argument(args[i]);
        return v;
    }
    void Out(const std::string& key, double v, const char* fmt = "%.2f") {
        outputs.Add(key, v);
        char buf[64];
        std::snprintf(buf, sizeof buf, fmt, v);
        text += " " + key + " " + buf;
    }
    void Out(const std::string& key, std::int64_t v) {
        outputs.Add(key, v);
        text += " " + key + " " + std::to_string(v);
    }
    void OutHex(const std::string& key, unsigned v) {
        outputs.Add(key, static_cast<std::int64_t>(v));
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

// GetStatus takes its numbers as bytes: a number that does not fit one must fail, not wrap
// around and poll another column.
std::uint8_t Byte(int v) {
    if (v < 0 || v > 255) throw std::out_of_range("not a byte");
    return static_cast<std::uint8_t>(v);
}

void Status(Call& c, int column, int nozzles) {
    const StatusRecord r = c.ctx.driver.GetStatus(Byte(c.ctx.line), Byte(column), Byte(nozzles));
    c.OutHex("summary", r.bytes[0]);
    c.Out("nozzle", static_cast<std::int64_t>(r.bytes[14]));
    std::vector<std::string> codes;
    c.text += " codes";
    for (int n = 1; n <= nozzles && n <= 6; ++n) {
        codes.push_back(std::to_string(r.bytes[2 * n]));
        char buf[8];
        std::snprintf(buf, sizeof buf, " %02X", r.bytes[2 * n]);
        c.text += buf;
    }
    c.outputs.AddRaw("codes", JsonArray(codes));
}

const std::map<std::string, Command>& Commands() {
    static const std::map<std::string, Command> commands = {
        {"line", {1, "line N", "use line N for the commands that follow", [](Call& c) {
             // The same lines as --line; a larger number would reach a byte-wide slot as
             // another line.
             const int line = c.Int(0);
             if (line < 0 || line > 39) throw std::out_of_range("line");
             c.ctx.line = line;
             c.Out("line", static_cast<std::int64_t>(c.ctx.line));
         }}},
        {"setup", {0, "setup", "apply the line settings (SetupLine)", [](Call& c) {
             c.Out("result", static_cast<std::int64_t>(c.ctx.driver.SetupLine(static_cast<std::uint8_t>(c.ctx.line))));
         }}},
        {"status", {1, "status COLUMN", "poll the four nozzles of a column (GetStatus)", [](Call& c) {
             Status(c, c.Int(0), 4);
         }}},
        {"status-n", {2, "status-n COLUMN NOZZLES", "poll the first NOZZLES nozzles of a column", [](Call& c) {
             Status(c, c.Int(0), c.Int(1));
         }}},
        {"price", {3, "price COLUMN NOZZLE PRICE", "set the unit price (SetPrice)", [](Call& c) {
             c.ctx.driver.SetPrice(c.ctx.line, c.Int(0), c.Int(1), 0.0, c.Real(2));
         }}},
        {"preset-volume", {3, "preset-volume COLUMN NOZZLE LITRES", "dose by volume (PresetVolume)", [](Call& c) {
             c.ctx.driver.PresetVolume(c.ctx.line, c.Int(0), c.Int(1), 0, c.Real(2));
             c.Out("ordered", c.ctx.driver.OrderedVolume(c.ctx.line, c.Int(0)));
         }}},
        {"preset-money", {3, "preset-money COLUMN NOZZLE MONEY", "dose by money (PresetAmount)", [](Call& c) {
             c.ctx.driver.PresetAmount(c.ctx.line, c.Int(0), c.Int(1), 0, c.Real(2));
             c.Out("ordered", c.ctx.driver.OrderedVolume(c.ctx.line, c.Int(0)));
         }}},
        {"authorize", {2, "authorize COLUMN NOZZLE", "authorize and start (AuthorizeNozzle)", [](Call& c) {
             c.ctx.driver.AuthorizeNozzle(c.ctx.line, c.Int(0), c.Int(1), 0);
         }}},
        {"start", {2, "start COLUMN NOZZLE", "start without authorization (StartNozzle)", [](Call& c) {
             c.ctx.driver.StartNozzle(c.ctx.line, c.Int(0), c.Int(1));
         }}},
        {"stop", {2, "stop COLUMN NOZZLE", "stop the nozzle (StopNozzle)", [](Call& c) {
             c.ctx.driver.StopNozzle(c.ctx.line, c.Int(0), c.Int(1), 1);
         }}},
        {"release", {2, "release COLUMN NOZZLE", "end the transaction (command 8)", [](Call& c) {
             c.Out("result", static_cast<std::int64_t>(c.ctx.driver.ReleaseNozzle(c.ctx.line, c.Int(0), c.Int(1))));
         }}},
        {"stop-release", {2, "stop-release COLUMN NOZZLE", "stop, then release (StopAndRelease)", [](Call& c) {
             c.Out("result", static_cast<std::int64_t>(c.ctx.driver.StopAndRelease(c.ctx.line, c.Int(0), c.Int(1), 1)));
         }}},
        {"filling", {1, "filling COLUMN", "read the running filling (GetFilling)", [](Call& c) {
             double litres = 0, money = 0;
             c.ctx.driver.GetFilling(c.ctx.line, c.Int(0), &litres, &money);
             c.Out("litres", litres);
             c.Out("money", money);
         }}},
        {"filling-volume", {1, "filling-volume COLUMN", "short filling reading (GetFillingVolume)", [](Call& c) {
             double money = 0;
             const double litres = c.ctx.driver.GetFillingVolume(c.ctx.line, c.Int(0), &money);
             c.Out("litres", litres);
             c.Out("money", money);
         }}},
        {"counters", {2, "counters COLUMN NOZZLE", "read the totalizers (ReadCounters)", [](Call& c) {
             double volume = 0, money = 0;
             c.ctx.driver.ReadCounters(c.ctx.line, c.Int(0), c.Int(1), &volume, &money, 0, 0);
             c.Out("volume", volume);
             c.Out("money", money);
         }}},
        {"param-get", {2, "param-get COLUMN P", "read host parameter P (GetParam)", [](Call& c) {
             c.Out("value", static_cast<std::int64_t>(c.ctx.driver.GetParam(c.ctx.line, c.Int(0), c.Int(1))));
         }}},
        {"param-set", {3, "param-set COLUMN P VALUE", "write host parameter P (SetParam)", [](Call& c) {
             c.ctx.driver.SetParam(c.ctx.line, c.Int(0), c.Int(1), c.Int(2));
         }}},
        {"line-status", {0, "line-status", "the line status (GetLineStatus)", [](Call&) {}}},
        {"lift", {1, "lift ADDRESS", "built-in emulator: lift the nozzle at a controller address", [](Call& c) {
             if (!c.ctx.lift) throw std::runtime_error("lift needs the built-in emulator (--emulator)");
             c.ctx.lift(c.Int(0));
         }}},
        {"hang", {1, "hang ADDRESS", "built-in emulator: hang the nozzle up", [](Call& c) {
             if (!c.ctx.hang) throw std::runtime_error("hang needs the built-in emulator (--emulator)");
             c.ctx.hang(c.Int(0));
         }}},
    };
    return commands;
}

void Report(CommandContext& ctx, const std::string& name, Call& call, const char* errorClass,
            const std::string& error) {
    const int status = ctx.line >= 0 && ctx.line < 40
                           ? ctx.driver.GetLineStatus(static_cast<std::uint8_t>(ctx.line))
                           : 0;
    if (ctx.json) {
        JsonObject o;
        o.Add("command", name);
        std::vector<std::string> args;
        for (const auto& a : call.args) args.push_back(JsonString(a));
        o.AddRaw("args", JsonArray(args));
        o.AddRaw("outputs", call.outputs.Str());
        o.Add("line", ctx.line);
        o.Add("line_status", status);
        if (errorClass) {
            o.AddRaw("exception", JsonObject().Add("class", errorClass).Add("message", error).Str());
        } else {
            o.AddNull("exception");
        }
        ctx.out << o.Str() << '\n';
    } else {
        ctx.out << name;
        for (const auto& a : call.args) ctx.out << ' ' << a;
        ctx.out << ':' << call.text << "  [line " << ctx.line << " status " << status << ']';
        if (errorClass) ctx.out << "  " << errorClass << ": " << error;
        ctx.out << '\n';
    }
    ctx.out.flush();
}

}  // namespace

bool RunCommand(CommandContext& ctx, const std::vector<std::string>& words, std::size_t& pos) {
    const std::string name = words.at(pos++);
    Call call{ctx, {}, {}, {}};
    const auto it = Commands().find(name);
    if (it == Commands().end()) {
        Report(ctx, name, call, "Usage", "unknown command (see dorv --help)");
        return false;
    }
    const Command& cmd = it->second;
    if (pos + static_cast<std::size_t>(cmd.arity) > words.size()) {
        call.args.assign(words.begin() + static_cast<long>(pos), words.end());
        pos = words.size();
        Report(ctx, name, call, "Usage", std::string("usage: ") + cmd.usage);
        return false;
    }
    call.args.assign(words.begin() + static_cast<long>(pos), words.begin() + static_cast<long>(pos) + cmd.arity);
    pos += static_cast<std::size_t>(cmd.arity);
    try {
        cmd.run(call);
    } catch (const ESerialIO& e) {
        Report(ctx, name, call, "ESerialIO", e.what());
        return false;
    } catch (const Exception& e) {
        Report(ctx, name, call, "Exception", e.what());
        return false;
    } catch (const std::invalid_argument&) {
        Report(ctx, name, call, "Usage", std::string("usage: ") + cmd.usage);
        return false;
    } catch (const std::out_of_range&) {
        Report(ctx, name, call, "Usage", std::string("number out of range; usage: ") + cmd.usage);
        return false;
    } catch (const std::exception& e) {
        Report(ctx, name, call, "Error", e.what());
        return false;
    }
    Report(ctx, name, call, nullptr, {});
    return true;
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
