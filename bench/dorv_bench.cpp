// dorv-bench: how close the host's serial links come to the wire, what they cost in CPU, and
// whether lines stay independent of each other. It prints one figure a line, figure last:
//
//   wire-efficiency poll-line: R   one poll cycle of 32 columns x 4 nozzles (128 status polls)
//   wire-efficiency read-all: R    the 50 numbered parameters of a controller (ParameterSet)
//   wire-efficiency filling: R     the demo's whole filling, polling included
//   parallel-lines 39: S           39 lines polled at once by one driver object from 39 threads:
//                                  aggregate exchanges per second / one line's alone
//   cpu-per-wire-second: C         the host's CPU seconds per second of wire time, 39-line run
//   driver-ns-per-exchange: N      the driver's own CPU per status poll, in-memory link
//
// R = elapsed time / wire time, the wire time of an exchange being (request bytes + reply
// bytes) x 10 / 4800 s plus the controller's 2 ms turnaround. Every line is a SerialHostLink on a
// pseudo-terminal served by the emulator, paced at 4800 baud with a 2 ms turnaround.
//
// The 39 emulated lines of the parallel run live in a child process forked before this process
// starts any thread, so that the CPU counted for the host (getrusage of this process) is the
// host's alone. The single-line runs serve their emulator from a thread of this process: they
// measure elapsed time only, and the filling needs the nozzle lifted and hung in between.
//
// Details for each figure (per-exchange overhead percentiles, exchange counts, CPU split) go to
// stderr. Options: --repeat N (runs per figure, median reported; default 3), --seconds S (length
// of each phase of the parallel run; default 8), --only NAME[,NAME] (poll-line, read-all,
// filling, parallel, driver), --linger-us N (calibration: the host waits N microseconds after
// every reply, as a link that waits for line silence does; the figures must show the loss).
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "driver/tvm30.h"
#include "instant_link.h"
#include "line.h"
#include "links/serial_host_link.h"
#include "metered_link.h"
#include "params/parameter_set.h"
#include "params/transport.h"
#include "pty_server.h"

namespace dorv::bench {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

constexpr int kBaud = 4800;
constexpr auto kTurnaround = 2ms;
constexpr int kColumns = 32;
constexpr int kNozzles = 4;
// Nozzle n of column c sits at c + 32 (n - 1): 128 distinct controllers, addresses 1..128.
constexpr std::uint8_t kPistStep = 32;
constexpr int kParallelLines = 39;
constexpr std::uint8_t kLine = 1;

struct Options {
    int repeats = 3;
    double parallelSeconds = 8;
    std::chrono::microseconds linger{0};
    std::vector<std::string> only;
    bool Wants(const std::string& name) const { return only.empty() || std::find(only.begin(), only.end(), name) != only.end(); }
};

emu::LinkTiming LineTiming() { return emu::LinkTiming{kBaud, std::chrono::duration_cast<std::chrono::microseconds>(kTurnaround)}; }

WireTiming Wire() { return WireTiming{kBaud, kTurnaround}; }

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t m = v.size() / 2;
    return v.size() % 2 == 1 ? v[m] : (v[m - 1] + v[m]) / 2;
}

std::string Join(const std::vector<double>& v, int decimals) {
    std::string s;
    char buf[32];
    for (double x : v) {
        std::snprintf(buf, sizeof buf, "%s%.*f", s.empty() ? "" : " ", decimals, x);
        s += buf;
    }
    return s;
}

void Figure(const char* name, double value, int decimals) {
    std::printf("%s: %.*f\n", name, decimals, value);
    std::fflush(stdout);
}

double CpuSeconds(const rusage& u) {
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double ProcessCpu(double* system = nullptr) {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    if (system) *system = static_cast<double>(u.ru_stime.tv_sec) + static_cast<double>(u.ru_stime.tv_usec) / 1e6;
    return CpuSeconds(u);
}

double ThreadCpu() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

std::string LoadAverage() {
    double load[3] = {};
    if (::getloadavg(load, 3) != 3) return "unknown";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2f %.2f %.2f", load[0], load[1], load[2]);
    return buf;
}

// The overhead of the exchanges a meter kept, for stderr.
void Describe(const char* what, const LineMeter& m) {
    std::fprintf(stderr,
                 "  %s: %llu exchanges (%llu answered), %llu + %llu bytes, wire %.3f s, in "
                 "Transact %.3f s; overhead per exchange us: p50 %.0f p90 %.0f p99 %.0f max %.0f\n",
                 what, static_cast<unsigned long long>(m.exchanges), static_cast<unsigned long long>(m.answered),
                 static_cast<unsigned long long>(m.requestBytes), static_cast<unsigned long long>(m.replyBytes), Seconds(m.wire).count(),
                 Seconds(m.elapsed).count(), Percentile(m.overheadNs, 50) / 1e3, Percentile(m.overheadNs, 90) / 1e3,
                 Percentile(m.overheadNs, 99) / 1e3, Percentile(m.overheadNs, 100) / 1e3);
}

// An exchange the emulator did not answer in time (a reply cut short by the 50 ms pause limit,
// or none within 300 ms) happens only when the machine starves the emulator's threads; the run
// goes on and counts it with the bytes that did go over the line, and stderr says so.
void Unanswered(const std::string& what, const LineMeter& m) {
    if (m.answered == m.exchanges) return;
    std::fprintf(stderr, "  WARNING %s: %llu of %llu exchanges were not answered (machine overloaded?)\n", what.c_str(),
                 static_cast<unsigned long long>(m.exchanges - m.answered), static_cast<unsigned long long>(m.exchanges));
}

// The driver's settings file and parameter buffers go to a folder of the run's own.
class ScratchSettings {
public:
    ScratchSettings() {
        std::string pattern = (std::filesystem::temp_directory_path() / "dorv-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create " + pattern);
        path_ = pattern;
        ::setenv("DORV_WINDIR", path_.c_str(), 1);
        ::unsetenv("DORV_SETTINGS_DIR");
    }
    ~ScratchSettings() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchSettings(const ScratchSettings&) = delete;
    ScratchSettings& operator=(const ScratchSettings&) = delete;

private:
    std::string path_;
};

// An emulated line whose controllers answer every poll of the cycle: addresses 1..128.
std::unique_ptr<emu::Line> PollCycleLine() {
    auto line = std::make_unique<emu::Line>();
    for (int a = 1; a <= kColumns * kNozzles; ++a) line->AddController(a);
    return line;
}

// A UART hands a byte over when its stop bit ends, never later. The emulator's threads sleep to
// each byte's deadline, and the kernel may let such a sleep run over by the thread's timer slack
// (50 us by default), which would count against the host. Threads inherit the slack of the
// thread that starts them, so the emulators are started with the least slack there is.
std::unique_ptr<emu::PtyServer> StartServer(emu::Line& line) {
    const int kept = ::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    auto server = std::make_unique<emu::PtyServer>(line, LineTiming());
    if (kept > 0) ::prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(kept), 0, 0, 0);
    return server;
}

// One emulated line served on a pseudo-terminal from a thread of this process.
struct LocalLine {
    std::unique_ptr<emu::Line> line;
    std::unique_ptr<emu::PtyServer> server;
    explicit LocalLine(std::unique_ptr<emu::Line> l) : line(std::move(l)), server(StartServer(*line)) {}
};

// The lines of the parallel run, served by a child process. Forked before any thread starts.
class EmulatorFarm {
public:
    explicit EmulatorFarm(int count) {
        int report[2];
        int control[2];
        if (::pipe2(report, O_CLOEXEC) != 0 || ::pipe2(control, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe: " + std::string(std::strerror(errno)));
        std::fflush(nullptr);
        child_ = ::fork();
        if (child_ < 0) throw std::runtime_error("fork: " + std::string(std::strerror(errno)));
        if (child_ == 0) {
            ::close(report[0]);
            ::close(control[1]);
            Serve(count, report[1], control[0]);
        }
        ::close(report[1]);
        ::close(control[0]);
        control_ = control[1];
        std::string text;
        char buf[512];
        for (;;) {
            const ssize_t n = ::read(report[0], buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            text.append(buf, static_cast<std::size_t>(n));
        }
        ::close(report[0]);
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t end = text.find('\n', at);
            if (end == std::string::npos) break;
            paths_.push_back(text.substr(at, end - at));
            at = end + 1;
        }
        if (paths_.size() != static_cast<std::size_t>(count)) {
            Stop();
            throw std::runtime_error("the emulator process served " + std::to_string(paths_.size()) + " of " + std::to_string(count) +
                                     " lines: " + text);
        }
    }
    ~EmulatorFarm() { Stop(); }
    EmulatorFarm(const EmulatorFarm&) = delete;
    EmulatorFarm& operator=(const EmulatorFarm&) = delete;

    const std::vector<std::string>& Paths() const { return paths_; }

    // CPU seconds the emulator process has used so far (all its threads), from /proc.
    double Cpu() const {
        std::FILE* f = std::fopen(("/proc/" + std::to_string(child_) + "/stat").c_str(), "r");
        if (f == nullptr) return 0;
        char text[1024] = {};
        const std::size_t n = std::fread(text, 1, sizeof text - 1, f);
        std::fclose(f);
        // Fields after the command's closing parenthesis: state is field 3, utime 14, stime 15.
        const char* p = std::strrchr(text, ')');
        if (p == nullptr || n == 0) return 0;
        unsigned long long utime = 0, stime = 0;
        if (std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime, &stime) != 2) return 0;
        return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }

private:
    // The child: serves the lines until the parent closes the control pipe or goes away.
    [[noreturn]] static void Serve(int count, int reportFd, int controlFd) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() == 1) ::_exit(1);
        int status = 0;
        try {
            std::vector<std::unique_ptr<LocalLine>> lines;
            std::string text;
            for (int i = 0; i < count; ++i) {
                lines.push_back(std::make_unique<LocalLine>(PollCycleLine()));
                text += lines.back()->server->slave_path() + "\n";
            }
            for (std::size_t at = 0; at < text.size();) {
                const ssize_t n = ::write(reportFd, text.data() + at, text.size() - at);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) break;
                at += static_cast<std::size_t>(n);
            }
            ::close(reportFd);
            char c;
            for (;;) {
                const ssize_t n = ::read(controlFd, &c, 1);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) break;
            }
        } catch (const std::exception& e) {
            const std::string text = std::string("error ") + e.what() + "\n";
            [[maybe_unused]] const ssize_t n = ::write(reportFd, text.data(), text.size());
            status = 1;
        }
        ::_exit(status);
    }

    void Stop() {
        if (control_ >= 0) ::close(control_);
        control_ = -1;
        if (child_ > 0) {
            int status = 0;
            while (::waitpid(child_, &status, 0) < 0 && errno == EINTR) {
            }
        }
        child_ = -1;
    }

    pid_t child_ = -1;
    int control_ = -1;
    std::vector<std::string> paths_;
};

// The host side: the serial link, the meter around it and one driver object over the meter.
struct Host {
    links::SerialHostLink serial;
    MeteredLink meter{serial, Wire()};
    TVM30 driver{0, &meter};

    Host(std::uint8_t pistStep, const Options& o) {
        meter.SetLinger(o.linger);
        serial.SetTimeouts(300ms, 50ms);
        // One Transact is one request on the wire, so that the meter sees every attempt.
        serial.SetRetries(0);
        DriverSettings s;
        s.pistStep = pistStep;
        driver.ApplySettings(s);
    }
    void Attach(std::uint8_t line, const std::string& path) {
        serial.AssignLine(line, path);
        if (const int err = driver.SetupLine(line))
            throw std::runtime_error("line " + std::to_string(line) + " (" + path + "): " + std::strerror(err));
    }
};

void PollCycle(TVM30& driver, std::uint8_t line) {
    for (int c = 1; c <= kColumns; ++c) driver.GetStatus(line, static_cast<std::uint8_t>(c), kNozzles);
}

void Expect(bool ok, const std::string& what) {
    if (!ok) throw std::runtime_error(what);
}

// Elapsed / wire time of `run`, repeated; the first run warms up and is not counted.
double WireEfficiency(const char* name, Host& host, std::uint8_t line, const Options& o, const std::function<void()>& run,
                      std::uint64_t expectedExchanges = 0) {
    run();
    std::vector<double> ratios;
    LineMeter last;
    for (int i = 0; i < o.repeats; ++i) {
        host.meter.Reset();
        const auto start = Clock::now();
        run();
        const Seconds elapsed = Clock::now() - start;
        last = host.meter.Line(line);
        Unanswered(name, last);
        Expect(expectedExchanges == 0 || last.exchanges == expectedExchanges,
               std::string(name) + ": " + std::to_string(last.exchanges) + " exchanges, expected " + std::to_string(expectedExchanges));
        ratios.push_back(elapsed.count() / Seconds(last.wire).count());
    }
    std::fprintf(stderr, "%s: runs %s; load average %s\n", name, Join(ratios, 4).c_str(), LoadAverage().c_str());
    Describe("last run", last);
    return Median(ratios);
}

double PollLine(const Options& o) {
    LocalLine emulated(PollCycleLine());
    Host host(kPistStep, o);
    host.Attach(kLine, emulated.server->slave_path());
    return WireEfficiency(
        "poll-line", host, kLine, o, [&] { PollCycle(host.driver, kLine); }, kColumns * kNozzles);
}

double ReadAll(const Options& o) {
    auto line = std::make_unique<emu::Line>();
    line->AddController(1);
    LocalLine emulated(std::move(line));
    Host host(1, o);
    host.Attach(kLine, emulated.server->slave_path());
    params::Tvm30Transport transport(host.driver);
    params::RunSummary summary;
    const double r = WireEfficiency("read-all", host, kLine, o, [&] {
        params::ParameterSet set;
        summary = set.ReadAll(transport, params::Target{kLine, 1});
    });
    std::fprintf(stderr, "  read-all: %d read, %d failed\n", summary.succeeded, summary.failed);
    Expect(summary.succeeded + summary.failed == 50, "read-all did not handle 50 parameters");
    return r;
}

// The demo's filling, from the counters before to the counters after, with the host polling
// back to back where the demo pauses 20 ms between polls to keep its output readable.
void FillingSequence(TVM30& driver, emu::Line& emulator, std::uint8_t line) {
    constexpr int kColumn = 1;
    constexpr int kNozzle = 1;
    double volumeBefore = 0, moneyBefore = 0;
    driver.ReadCounters(line, kColumn, kNozzle, &volumeBefore, &moneyBefore, 0, 0);
    driver.SetPrice(line, kColumn, kNozzle, 0, 45.50);
    driver.PresetAmount(line, kColumn, kNozzle, 0, 500.00);
    emulator.Lift(kColumn);
    driver.GetStatus(line, kColumn, 1);
    driver.AuthorizeNozzle(line, kColumn, kNozzle, 0);
    const auto deadline = Clock::now() + 120s;
    bool delivering = false;
    std::uint8_t code = 0;
    while (Clock::now() < deadline) {
        code = driver.GetStatus(line, kColumn, 1).bytes[0];
        if (driver.GetLineStatus(line) != 1) continue;  // a lost poll: the next one tells
        if (code >= 0xD0 && code <= 0xDF) {
            delivering = true;
            if (code != 0xD8) {
                double litres = 0, money = 0;
                driver.GetFilling(line, kColumn, &litres, &money);
            }
        } else if (delivering) {
            break;
        }
    }
    Expect(delivering && !(code >= 0xD0 && code <= 0xDF), "filling: the filling did not finish");
    double litres = 0, money = 0;
    driver.GetFilling(line, kColumn, &litres, &money);
    emulator.Hang(kColumn);
    driver.GetStatus(line, kColumn, 1);
    double volumeAfter = 0, moneyAfter = 0;
    driver.ReadCounters(line, kColumn, kNozzle, &volumeAfter, &moneyAfter, 0, 0);
    Expect(std::fabs(volumeAfter - volumeBefore - litres) < 0.005 && std::fabs(litres - driver.OrderedVolume(line, kColumn)) < 0.005,
           "filling: delivered volume, order and totalizer disagree");
}

double Filling(const Options& o) {
    // The demo's emulator: controllers 1..8, 2.5 litres a second.
    auto line = std::make_unique<emu::Line>(emu::LineConfig{.flow_lps = 2.5});
    for (int a = 1; a <= 8; ++a) line->AddController(a);
    emu::Line& emulator = *line;
    LocalLine emulated(std::move(line));
    Host host(1, o);
    host.Attach(kLine, emulated.server->slave_path());
    return WireEfficiency("filling", host, kLine, o, [&] { FillingSequence(host.driver, emulator, kLine); });
}

struct PollRun {
    std::uint64_t exchanges = 0;
    Seconds elapsed{0};
    double threadCpu = 0;
    std::string error;
};

// Polls the line cycle after cycle from `start` until `deadline`; counts the exchanges.
PollRun PollUntil(Host& host, std::uint8_t line, Clock::time_point start, Clock::time_point deadline) {
    PollRun r;
    const double cpu0 = ThreadCpu();
    const std::uint64_t before = host.meter.Exchanges(line);
    try {
        int column = 1;
        while (Clock::now() < deadline) {
            host.driver.GetStatus(line, static_cast<std::uint8_t>(column), kNozzles);
            column = column % kColumns + 1;
        }
    } catch (const std::exception& e) {
        r.error = e.what();
    }
    r.elapsed = Clock::now() - start;
    r.exchanges = host.meter.Exchanges(line) - before;
    r.threadCpu = ThreadCpu() - cpu0;
    return r;
}

struct ParallelFigures {
    double speedup;
    double cpuPerWireSecond;
};

ParallelFigures Parallel(const Options& o, const EmulatorFarm& farm) {
    Host host(kPistStep, o);
    for (int i = 0; i < kParallelLines; ++i) host.Attach(static_cast<std::uint8_t>(i + 1), farm.Paths()[static_cast<std::size_t>(i)]);
    // Every line answers a poll before the clock starts.
    for (int i = 1; i <= kParallelLines; ++i) host.driver.GetStatus(static_cast<std::uint8_t>(i), 1, kNozzles);
    const auto phase = std::chrono::duration_cast<Clock::duration>(Seconds(o.parallelSeconds));

    std::vector<double> speedups, cpus, threadCpus;
    for (int rep = 0; rep < o.repeats; ++rep) {
        // One line alone.
        host.meter.Reset();
        auto start = Clock::now();
        const PollRun alone = PollUntil(host, kLine, start, start + phase);
        Expect(alone.error.empty(), "line alone: " + alone.error);
        Unanswered("line alone", host.meter.Line(kLine));
        const double aloneRate = static_cast<double>(alone.exchanges) / alone.elapsed.count();

        // All 39 at once, each from a thread of its own, all through the one driver object.
        host.meter.Reset();
        std::vector<PollRun> runs(kParallelLines);
        std::barrier ready(kParallelLines + 1);
        std::atomic<std::int64_t> startTicks{0};
        double system0 = 0, system1 = 0;
        const double cpu0 = ProcessCpu(&system0);
        const double emulatorCpu0 = farm.Cpu();
        {
            std::vector<std::jthread> threads;
            for (int i = 0; i < kParallelLines; ++i) {
                threads.emplace_back([&, i] {
                    ready.arrive_and_wait();
                    const Clock::time_point s{Clock::duration{startTicks.load()}};
                    runs[static_cast<std::size_t>(i)] = PollUntil(host, static_cast<std::uint8_t>(i + 1), s, s + phase);
                });
            }
            startTicks = Clock::now().time_since_epoch().count();
            ready.arrive_and_wait();
        }
        const double cpu = ProcessCpu(&system1) - cpu0;
        const double emulatorCpu = farm.Cpu() - emulatorCpu0;
        double aggregate = 0;
        double threadCpu = 0;
        for (const PollRun& r : runs) {
            Expect(r.error.empty(), "parallel: " + r.error);
            aggregate += static_cast<double>(r.exchanges) / r.elapsed.count();
            threadCpu += r.threadCpu;
        }
        const LineMeter total = host.meter.Total();
        Unanswered("39 lines", total);
        const double wire = Seconds(total.wire).count();
        speedups.push_back(aggregate / aloneRate);
        cpus.push_back(cpu / wire);
        threadCpus.push_back(threadCpu / wire);
        std::fprintf(stderr,
                     "parallel run %d: alone %.2f exchanges/s, 39 lines %.2f exchanges/s; host CPU %.3f s "
                     "(system %.3f s; polling threads %.3f s), emulator process CPU %.3f s, for %.1f wire "
                     "seconds; load average %s\n",
                     rep + 1, aloneRate, aggregate, cpu, system1 - system0, threadCpu, emulatorCpu, wire, LoadAverage().c_str());
        Describe("39 lines", total);
    }
    std::fprintf(stderr, "parallel: speedups %s; cpu per wire second %s (polling threads alone %s)\n", Join(speedups, 2).c_str(),
                 Join(cpus, 4).c_str(), Join(threadCpus, 4).c_str());
    return {Median(speedups), Median(cpus)};
}

double DriverNsPerExchange(const Options& o) {
    InstantLink link;
    const CannedReplies canned = MakeCannedReplies();
    link.Answer('1', canned.idleStatus);
    TVM30 driver(0, &link);
    DriverSettings s;
    s.pistStep = kPistStep;
    driver.ApplySettings(s);
    constexpr int kCycles = 200;  // 200 x 128 = 25600 status polls a run
    std::vector<double> runs;
    const int count = std::max(o.repeats * 5, 11) + 1;
    for (int i = 0; i < count; ++i) {
        const std::uint64_t before = link.Exchanges();
        const double cpu0 = ThreadCpu();
        for (int c = 0; c < kCycles; ++c) PollCycle(driver, kLine);
        const double cpu = ThreadCpu() - cpu0;
        const auto exchanges = static_cast<double>(link.Exchanges() - before);
        Expect(exchanges == kCycles * kColumns * kNozzles, "driver: a poll did not go out");
        if (i > 0) runs.push_back(cpu * 1e9 / exchanges);  // the first run warms up
    }
    std::fprintf(stderr, "driver: ns per exchange, runs %s\n", Join(runs, 0).c_str());
    return Median(runs);
}

Options Parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::runtime_error(a + " needs a value");
            return argv[++i];
        };
        if (a == "--repeat") {
            o.repeats = std::max(1, std::stoi(value()));
        } else if (a == "--seconds") {
            o.parallelSeconds = std::max(0.5, std::stod(value()));
        } else if (a == "--linger-us") {
            o.linger = std::chrono::microseconds(std::max(0, std::stoi(value())));
        } else if (a == "--only") {
            const std::string list = value();
            for (std::size_t at = 0; at <= list.size();) {
                const std::size_t comma = std::min(list.find(',', at), list.size());
                o.only.push_back(list.substr(at, comma - at));
                at = comma + 1;
            }
        } else {
            throw std::runtime_error(
                "usage: dorv-bench [--repeat N] [--seconds S] [--linger-us N] "
                "[--only poll-line,read-all,filling,parallel,driver]");
        }
    }
    return o;
}

int Run(int argc, char** argv) {
    const Options o = Parse(argc, argv);
    // Before any thread of this process exists.
    std::optional<EmulatorFarm> farm;
    if (o.Wants("parallel")) farm.emplace(kParallelLines);
    ScratchSettings scratch;
    if (o.Wants("poll-line")) Figure("wire-efficiency poll-line", PollLine(o), 3);
    if (o.Wants("read-all")) Figure("wire-efficiency read-all", ReadAll(o), 3);
    if (o.Wants("filling")) Figure("wire-efficiency filling", Filling(o), 3);
    if (o.Wants("parallel")) {
        const ParallelFigures p = Parallel(o, *farm);
        Figure("parallel-lines 39", p.speedup, 2);
        Figure("cpu-per-wire-second", p.cpuPerWireSecond, 4);
    }
    if (o.Wants("driver")) Figure("driver-ns-per-exchange", DriverNsPerExchange(o), 0);
    return 0;
}

}  // namespace
}  // namespace dorv::bench

int main(int argc, char** argv) {
    try {
        return dorv::bench::Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "dorv-bench: %s\n", e.what());
        return 1;
    }
}
