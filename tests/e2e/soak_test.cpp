// One driver object shared as a station shares it: the host polls line 1 and line 2 while a
// parameter read run and a write run go over line 1 at the same time. Every reply must reach
// the request it answers: each controller holds values of its own, so a reply taken by the
// wrong request shows as a wrong value.
#include <atomic>
#include <fstream>
#include <thread>
#include <vector>

#include "e2e_fixture.h"
#include "links/frame_trace.h"
#include "param_catalogue.h"
#include "params/parameter_set.h"

namespace dorv::e2e {
namespace {

constexpr auto kSoakTime = 3s;

// A valid value for a writable parameter, different per controller; nullopt for the ones a
// write run does not set.
std::optional<std::int64_t> ValueFor(int number, int salt) {
    const emu::ParamEntry* entry = emu::FindParam(number);
    if (!entry) return std::nullopt;
    switch (entry->rule) {
        case emu::ParamRule::kRange: return entry->min + (number * 7 + salt) % (entry->max - entry->min + 1);
        case emu::ParamRule::kSensorSwitch: return 200;
        case emu::ParamRule::kHeaterSetting: return 201 + salt % 20;
        default: return std::nullopt;
    }
}

struct Reading {
    std::uint8_t code;
    double litres;
    double money;
    bool operator==(const Reading&) const = default;
};

Reading Poll(TVM30& d, std::uint8_t line, std::uint8_t column) {
    Reading r{d.GetStatus(line, column, 1).bytes[2], -1, -1};
    d.GetFilling(line, column, &r.litres, &r.money);
    return r;
}

// Failures seen on the worker threads, reported on the test's thread.
class Findings {
public:
    void Add(const std::string& what) {
        std::lock_guard lock(mutex_);
        if (list_.size() < 20) list_.push_back(what);
        ++count_;
    }
    std::string Report() const {
        std::string out = std::to_string(count_) + " problems:";
        for (const auto& s : list_) out += "\n  " + s;
        return out;
    }
    int Count() const { return count_; }

private:
    std::mutex mutex_;
    std::vector<std::string> list_;
    std::atomic<int> count_{0};
};

class SharedDriver : public PtyDriverTest {
protected:
    SharedDriver() : PtyDriverTest({1, 2, 3}) {}

    void SetUp() override {
        PtyDriverTest::SetUp();
        // Nothing is meant to go missing here: a lost reply must not be hidden by a short wait
        // on a loaded machine.
        link_.SetTimeouts(kPatience, kInterByte);
        ASSERT_TRUE(link_.SetTraceFile(trace_));
        Connect(2, second_);
    }

    // A whole filling on nozzle 1 of the column, read and released by the poll.
    void Fill(std::uint8_t line, EmulatedLine& emu, std::uint8_t column, double price, double litres) {
        emu.Controllers().Lift(column);
        driver_->SetPrice(line, column, 1, 0, price);
        driver_->PresetVolume(line, column, 1, 0, litres);
        driver_->AuthorizeNozzle(line, column, 1, 0);
        ASSERT_GT(PollFillingToEnd(*driver_, emu, line, column, 1, 1), 0);
    }

    EmulatedLine second_{1};  // line 2: one controller
    const std::string trace_ = dir_.File("lines.trace");
};

TEST_F(SharedDriver, PollsAndParameterRunsOnOneLineAndAnotherLineNeverMixUpReplies) {
    // Line 1: address 1 is read, address 2 written, address 3 polled (its last filling stays).
    for (const emu::ParamEntry& p : emu::ParamCatalogue())
        if (auto v = ValueFor(p.number, 1)) emu_.Controllers().SetParam(1, p.number, *v);
    Fill(1, emu_, 3, 47.90, 6.40);
    // Line 2: another type of column, a filling of its own, the nozzle hung.
    second_.Controllers().SetType(1, 'B');
    Fill(2, second_, 1, 39.99, 7.25);
    second_.Controllers().Hang(1);

    const Reading line1 = Poll(*driver_, 1, 3);
    const Reading line2 = Poll(*driver_, 2, 1);
    ASSERT_EQ(line1, (Reading{0xE1, 6.40, 306.56}));
    ASSERT_EQ(line2, (Reading{0xC0, 7.25, 289.93}));

    params::Tvm30Transport transport(*driver_);
    params::ParameterSet reference, reader, writer;
    const int readable = reference.ReadAll(transport, {1, 1}).succeeded;
    ASSERT_GT(readable, 40);
    std::vector<params::CParameter*> writable;
    for (std::int32_t i = params::kFirstNumberedPosition; i < writer.Catalogue().GetCount(); ++i) {
        params::CParameter& e = writer.Catalogue().GetParameter(i);
        if (ValueFor(e.Number(), 2) && !e.SkipWriteAll()) writable.push_back(&e);
    }
    ASSERT_GT(writable.size(), 30u);

    Findings findings;
    const auto deadline = std::chrono::steady_clock::now() + kSoakTime;
    // Runs `round` at least once and then until the deadline, at most `limit` times.
    auto worker = [&](const char* name, int limit, auto round) {
        return std::thread([&findings, &deadline, name, limit, round]() mutable {
            try {
                int i = 0;
                do round();
                while (++i < limit && std::chrono::steady_clock::now() < deadline);
            } catch (const std::exception& e) {
                findings.Add(std::string(name) + ": " + e.what());
            }
        });
    };
    auto poller = [&](std::uint8_t line, std::uint8_t column, Reading expected) {
        return [&findings, this, line, column, expected] {
            const Reading r = Poll(*driver_, line, column);
            if (!(r == expected))
                findings.Add("line " + std::to_string(line) + " poll read code " + std::to_string(r.code) + ", " +
                             std::to_string(r.litres) + " l, " + std::to_string(r.money));
        };
    };
    std::vector<std::thread> threads;
    threads.push_back(worker("poll line 1", 100000, poller(1, 3, line1)));
    threads.push_back(worker("poll line 2", 100000, poller(2, 1, line2)));
    threads.push_back(worker("read run", 10000, [&] {
        int ok = 0;
        reader.ReadAll(transport, {1, 1}, [&](const params::EntryProgress& p) {
            if (!p.ok) return;
            ++ok;
            const auto held = emu_.Controllers().Param(1, p.entry->Number());
            if (held != p.entry->Value())
                findings.Add("parameter " + std::to_string(p.entry->Number()) + " read " + std::to_string(p.entry->Value()));
        });
        if (ok != readable) findings.Add("read run read " + std::to_string(ok) + " of " + std::to_string(readable));
    }));
    // Address 2 gets one of two value sets in turn, so a write lost in any run shows.
    int writeRuns = 0;
    threads.push_back(worker("write run", 10000, [&] {
        const int salt = 2 + writeRuns++ % 2;
        for (params::CParameter* e : writable) e->SetValue(*ValueFor(e->Number(), salt));
        const params::RunSummary s = writer.WriteAll(transport, {1, 2});
        if (s.failed != 0) findings.Add("write run failed " + std::to_string(s.failed) + " entries");
        for (const params::CParameter* e : writable)
            if (emu_.Controllers().Param(2, e->Number()) != e->Value())
                findings.Add("parameter " + std::to_string(e->Number()) + " not written in run " + std::to_string(writeRuns));
    }));
    for (auto& t : threads) t.join();

    EXPECT_EQ(findings.Count(), 0) << findings.Report();

    // Frames of the two lines and of the four threads, each on a trace line of its own.
    link_.SetTrace(nullptr);
    std::ifstream trace(trace_);
    int entries = 0;
    for (std::string text; std::getline(trace, text) && entries < 10000000; ++entries)
        ASSERT_TRUE(links::ParseTraceLine(text)) << "trace line " << entries << ": " << text;
    EXPECT_GT(entries, 1000);
}

}  // namespace
}  // namespace dorv::e2e
