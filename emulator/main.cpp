// dorv-emulator: a software dispenser line for driver development and tests.
#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "control_server.h"
#include "line.h"
#include "pty_server.h"
#include "script.h"
#include "stream_session.h"
#include "tcp_server.h"

namespace {

using namespace dorv::emu;

std::string Hex(const Bytes& bytes) {
  std::string out;
  char buf[4];
  for (std::uint8_t b : bytes) {
    std::snprintf(buf, sizeof buf, "%02X ", b);
    out += buf;
  }
  if (!out.empty()) out.pop_back();
  return out;
}

void Trace(const Bytes& record, const Reply& reply) {
  std::string line =
      "request " + Hex(record) + " -> " + (reply.bytes.empty() ? "(silence)" : Hex(reply.bytes));
  if (reply.fault) line += " [fault " + std::string(FaultKindName(*reply.fault)) + "]";
  line += '\n';
  std::fputs(line.c_str(), stderr);
}

bool SplitHostPort(const std::string& text, std::string& host, std::uint16_t& port) {
  const auto colon = text.rfind(':');
  if (colon == std::string::npos) return false;
  host = text.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  try {
    const unsigned long p = std::stoul(text.substr(colon + 1));
    if (p > 65535) return false;
    port = static_cast<std::uint16_t>(p);
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Dispenser line emulator: controllers that answer the Dorv 5000 driver on a pty or TCP"};
  bool use_pty = false;
  std::string listen;
  std::string control;
  int baud = 4800;
  int turnaround_ms = 2;
  double flow = 1.0;
  std::uint64_t seed = 1;
  std::string script_path;
  std::string addresses = "1-8";
  bool no_common_reply = false;
  bool verbose = false;
  app.add_flag("--pty", use_pty, "Serve on a pseudo-terminal; prints 'pty PATH'");
  app.add_option("--listen", listen,
                 "Serve on TCP HOST:PORT (port 0 picks one); prints 'listen HOST:PORT'");
  app.add_option(
      "--control", control,
      "Control socket on TCP HOST:PORT (port 0 picks one): lift, hang, faults, totals from outside; "
      "prints 'control HOST:PORT'");
  app.add_option("--baud", baud, "Line speed for pacing, 10 bits a byte; 0 = unpaced")
      ->check(CLI::Range(0, 1000000));
  app.add_option("--turnaround-ms", turnaround_ms, "Delay from end of request to first reply byte")
      ->check(CLI::Range(0, 60000));
  app.add_option("--flow", flow, "Delivery rate, litres per second")
      ->check(CLI::Range(0.0, 1000.0));
  app.add_option("--seed", seed, "Seed of the random fault rates");
  app.add_option("--script", script_path, "Scenario file")->check(CLI::ExistingFile);
  app.add_option("--addresses", addresses,
                 "Controller addresses on the line, e.g. 1-8 or 1,2,16-18");
  app.add_flag("--no-common-reply", no_common_reply,
               "Controllers stay silent after a common setting ('W')");
  app.add_flag("-v,--verbose", verbose, "Print every request and reply on stderr");
  CLI11_PARSE(app, argc, argv);

  if (!use_pty && listen.empty()) {
    std::cerr << "nothing to serve: give --pty and/or --listen HOST:PORT\n";
    return 2;
  }
  const auto address_list = ParseAddressList(addresses);
  if (!address_list) {
    std::cerr << "bad --addresses '" << addresses << "'\n";
    return 2;
  }
  std::vector<ScriptStep> steps;
  if (!script_path.empty()) {
    std::ifstream in(script_path);
    try {
      steps = ParseScript(in);
    } catch (const ScriptError& e) {
      std::cerr << script_path << ": " << e.what() << '\n';
      return 2;
    }
  }

  // Signals go to the sigwait below, not to whichever thread happens to run.
  // A shell starts background jobs with SIGINT ignored; ignored signals never
  // reach sigwait, so take the default back first.
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  Line line(LineConfig{flow, !no_common_reply, seed});
  for (int a : *address_list) line.AddController(a);
  const LinkTiming timing{baud, std::chrono::milliseconds(turnaround_ms)};
  const ExchangeObserver observer = verbose ? ExchangeObserver(Trace) : ExchangeObserver();

  std::unique_ptr<PtyServer> pty;
  std::unique_ptr<TcpServer> tcp;
  std::unique_ptr<ControlServer> control_server;
  try {
    if (use_pty) {
      pty = std::make_unique<PtyServer>(line, timing, observer);
      std::cout << "pty " << pty->slave_path() << std::endl;
    }
    std::string host;
    std::uint16_t port = 0;
    const auto endpoint = [&](const char* option, const std::string& text) {
      if (SplitHostPort(text, host, port)) return true;
      std::cerr << "bad " << option << " '" << text << "', expected HOST:PORT\n";
      return false;
    };
    if (!listen.empty()) {
      if (!endpoint("--listen", listen)) return 2;
      tcp = std::make_unique<TcpServer>(line, timing, host, port, observer);
      std::cout << "listen " << host << ':' << tcp->port() << std::endl;
    }
    if (!control.empty()) {
      if (!endpoint("--control", control)) return 2;
      control_server = std::make_unique<ControlServer>(line, host, port);
      std::cout << "control " << host << ':' << control_server->port() << std::endl;
    }
  } catch (const std::exception& e) {
    std::cerr << "cannot serve: " << e.what() << '\n';
    return 1;
  }

  std::jthread script([&line, &steps, start = std::chrono::steady_clock::now()](
                          std::stop_token stop) { RunScript(line, steps, start, stop); });
  int sig = 0;
  sigwait(&signals, &sig);
  return 0;  // the servers and the script thread stop and join on the way out
}
