// The driver, the real serial link and the emulated controllers on a pseudo-terminal, as a host
// runs them. The controllers' fillings run on a clock the test moves, so a filling advances
// exactly as far as the test says between two polls.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>

#include <gtest/gtest.h>

#include "dorv5000/exceptions.h"
#include "driver/tvm30.h"
#include "line.h"
#include "links/serial_host_link.h"
#include "pty_server.h"
#include "temp_dir.h"

namespace dorv::e2e {

using namespace std::chrono_literals;

// Replies go out whole and at once: the tests run at the machine's speed.
inline constexpr emu::LinkTiming kUnpaced{0, std::chrono::microseconds(0)};
// A silent controller costs a tenth of a second per attempt.
inline constexpr std::chrono::milliseconds kResponse{100};
inline constexpr std::chrono::milliseconds kInterByte{50};
// Bounds every wait for something that must happen; reaching one fails the test.
inline constexpr std::chrono::milliseconds kPatience{5000};

// Controller address of a column's nozzle with PistStep 1.
constexpr int AddressOf(int column, int nozzle) { return column + nozzle - 1; }

// Controllers on one line served on their own pseudo-terminal. Every request they took is
// logged by its command character, lost ones included.
class EmulatedLine {
public:
    explicit EmulatedLine(std::initializer_list<int> addresses, emu::LinkTiming timing = kUnpaced)
        : line_(emu::LineConfig{.flow_lps = 1.0}, clock_.AsClock()), timing_(timing) {
        for (int a : addresses) line_.AddController(a);
        PlugIn();
    }
    EmulatedLine(const EmulatedLine&) = delete;
    EmulatedLine& operator=(const EmulatedLine&) = delete;

    // A fresh pseudo-terminal for the same controllers: the device is back.
    void PlugIn() {
        pty_ = std::make_unique<emu::PtyServer>(line_, timing_, [this](const emu::Bytes& r, const emu::Reply&) {
            std::lock_guard lock(mutex_);
            answered_ += CommandOf(r);
        });
    }
    // Closes the pseudo-terminal's master: the device is gone.
    void Unplug() { pty_.reset(); }

    const std::string& Path() const { return pty_->slave_path(); }
    emu::Line& Controllers() { return line_; }
    emu::ManualClock& Clock() { return clock_; }
    emu::ControllerState State(int address) { return line_.State(address).value(); }

    // The command characters of the requests taken since the last call.
    std::string TakeAnswered() {
        std::lock_guard lock(mutex_);
        return std::exchange(answered_, {});
    }

    // Waits until bytes stand ready for the host on the line, without taking them: a reply that
    // no request is waiting for has arrived.
    bool InputWaiting() const {
        const int fd = ::open(Path().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return false;
        pollfd p{fd, POLLIN, 0};
        const bool ready = ::poll(&p, 1, static_cast<int>(kPatience.count())) == 1 && (p.revents & POLLIN);
        ::close(fd);
        return ready;
    }

private:
    static char CommandOf(const emu::Bytes& r) {
        const bool unaddressed = r.size() > 1 && r[0] == 0x02 && (r[1] == 'W' || r[1] == ']');
        if (unaddressed) return static_cast<char>(r[1]);
        return r.size() > 2 ? static_cast<char>(r[2]) : '?';
    }

    emu::ManualClock clock_;
    emu::Line line_;
    emu::LinkTiming timing_;
    std::mutex mutex_;
    std::string answered_;
    std::unique_ptr<emu::PtyServer> pty_;  // last: it stops serving before the line goes
};

// One driver object over the serial link, line 1 led to the emulator's pseudo-terminal.
class PtyDriverTest : public ::testing::Test {
protected:
    explicit PtyDriverTest(std::initializer_list<int> addresses = {1, 2, 3, 4}) : emu_(addresses) {}

    void SetUp() override {
        link_.SetTimeouts(kResponse, kInterByte);
        link_.SetRetries(1);
        driver_ = std::make_unique<TVM30>(0, &link_);
        Connect(1, emu_);
    }

    void Connect(std::uint8_t line, const EmulatedLine& emu) {
        ASSERT_TRUE(link_.AssignLine(line, emu.Path()));
        ASSERT_EQ(driver_->SetupLine(line), 0);
    }

    void Apply(void (*change)(DriverSettings&)) {
        DriverSettings s = driver_->Settings();
        change(s);
        driver_->ApplySettings(s);
    }

    std::uint8_t LineStatus(std::uint8_t line = 1) { return driver_->GetLineStatus(line); }

    test::TempDir dir_;  // first: the driver reads and writes its settings file here
    EmulatedLine emu_;
    links::SerialHostLink link_;
    std::unique_ptr<TVM30> driver_;  // after the link, which must outlive it
};

// Polls a column as a host does until the poll itself has read the ended filling and released
// the nozzle, moving the emulator's clock half a second before each poll. While the filling
// runs, the host's reading must show what the controller has delivered at that moment.
// Returns how many polls saw the filling under way, or -1 when it did not end within the bound.
inline int PollFillingToEnd(TVM30& d, EmulatedLine& emu, std::uint8_t line, std::uint8_t column, std::uint8_t nozzle,
                            std::uint8_t nozzleCount) {
    bool delivering = false;
    int underWay = 0;
    for (int poll = 0; poll < 1000; ++poll) {
        emu.Clock().Advance(0.5s);
        const std::uint8_t code = d.GetStatus(line, column, nozzleCount).bytes[2 * nozzle];
        if (code < 0xD0 || code > 0xDF) {
            if (delivering) return underWay;
            continue;
        }
        delivering = true;
        if (code != 0xD0 + nozzle) continue;
        ++underWay;
        double litres = -1, money = -1;
        d.GetFilling(line, column, &litres, &money);
        const emu::Filling f = emu.State(AddressOf(column, nozzle)).filling;
        EXPECT_EQ(litres, static_cast<double>(f.volume_cl) / 100) << "poll " << poll;
        EXPECT_EQ(money, static_cast<double>(f.money) / 100) << "poll " << poll;
    }
    return -1;
}

}  // namespace dorv::e2e
