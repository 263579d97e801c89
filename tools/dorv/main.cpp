// dorv: the command-line host program. It drives one driver object over a serial line, a TCP
// device server or the built-in emulator.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "commands.h"
#include "demo.h"
#include "number_options.h"
#include "links/frame_trace.h"
#include "params_cli.h"
#include "session.h"

namespace {

using namespace dorv::tools;

void AddLineOptions(CLI::App& app, SessionOptions& o) {
    app.add_option("--port", o.port, "serial device of the line, e.g. /dev/ttyUSB0");
    app.add_option("--tcp", o.tcp, "serial device server, HOST:PORT");
    app.add_flag("--emulator", o.emulator, "the built-in emulator on a pseudo-terminal");
    AddNumberOption(app, "--line", o.line, "line number the driver uses (0..39)")->capture_default_str();
    app.add_option("--trace", o.trace, "write a trace of every frame to FILE");
    AddNumberOption(app, "--baud", o.baud, "built-in emulator: line speed, a standard rate (0 = unpaced)")->capture_default_str();
    AddNumberOption(app, "--flow", o.flow, "built-in emulator: litres per second (above 0)")->capture_default_str();
    AddNumberOption(app, "--timeout-ms", o.responseTimeoutMs, "reply timeout, 0..600000")->capture_default_str();
    AddNumberOption(app, "--retries", o.retries, "repeats of an unanswered request, 0..100")->capture_default_str();
}

// Exit statuses: 0 everything succeeded, 1 a command or transfer did not succeed, 2 nothing
// could be done (options, the line, a file).
constexpr int kFailed = 1;
constexpr int kCannotRun = 2;

int RunCommands(const SessionOptions& options, bool json, const std::vector<std::string>& words, bool shell) {
    Session session(options);
    CommandHost host(session, std::cout, json, options.line);
    int failed = RunSequence(host.Context(), words);
    if (shell) failed += RunShell(host.Context(), std::cin, ::isatty(0) != 0);
    if (!session.TraceWritable()) {
        std::cerr << "dorv: the trace file " << options.trace << " could not be written\n";
        return kFailed;
    }
    return failed == 0 ? 0 : kFailed;
}

int DecodeTraceFile(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) throw std::runtime_error(path + " is a folder, not a trace file");
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path + ": " + std::strerror(errno));
    dorv::links::DecodeTrace(in, std::cout);
    if (in.bad()) throw std::runtime_error("cannot read " + path + ": " + std::strerror(errno));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "dorv: host program for Dorv 5000 dispenser lines.\n"
        "Commands (several may follow each other):\n" +
        CommandHelp()};
    app.footer(
        "Examples:\n  dorv demo\n  dorv --emulator price 1 1 45.50 preset-money 1 1 100 status 1\n"
        "  dorv --port /dev/ttyUSB0 --json status 1 counters 1 1\n  dorv --tcp 10.0.0.5:4001 shell");
    SessionOptions options;
    bool json = false;
    std::vector<std::string> words;
    AddLineOptions(app, options);
    app.add_flag("--json", json, "one JSON object per command");
    app.add_option("commands", words, "commands and their arguments");

    auto* demo = app.add_subcommand("demo", "one whole filling on the built-in emulator");
    auto* shell = app.add_subcommand("shell", "read commands from standard input, one a line");
    std::string traceFile;
    auto* trace = app.add_subcommand("trace", "decode a saved frame trace");
    trace->add_option("file", traceFile, "trace file")->required();
    ParamsCli params(app, options);
    for (auto* sub : {demo, shell, trace}) sub->fallthrough();
    app.require_subcommand(0, 1);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        return status == 0 ? 0 : kCannotRun;
    }
    try {
        if (demo->parsed()) return RunDemo(options, std::cout);
        if (trace->parsed()) return DecodeTraceFile(traceFile);
        if (params.Chosen()) return params.Run(std::cout);
        if (!shell->parsed() && words.empty()) {
            std::cout << app.help();
            return kCannotRun;
        }
        return RunCommands(options, json, words, shell->parsed());
    } catch (const std::exception& e) {
        std::cerr << "dorv: " << e.what() << "\n";
        return kCannotRun;
    }
}
