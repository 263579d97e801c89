// A device that goes away in the middle of a session and comes back: the command that meets the
// gap fails with its own message, and the line works again once the device is there.
#include <sstream>

#include "driver/messages.h"
#include "e2e_fixture.h"
#include "links/tcp_host_link.h"
#include "tcp_server.h"

namespace dorv::e2e {
namespace {

// The ESerialIO message a command raised, or "" when it raised nothing.
template <typename F>
std::string SerialError(F&& command) {
    try {
        command();
    } catch (const ESerialIO& e) {
        return e.what();
    }
    return {};
}

class DeviceGone : public PtyDriverTest {};

TEST_F(DeviceGone, PseudoTerminalClosedMidFillingFailsTheCommandsAndTheNewDeviceFinishesIt) {
    emu_.Controllers().Lift(1);
    driver_->SetPrice(1, 1, 1, 0, 45.50);
    driver_->PresetVolume(1, 1, 1, 0, 5.00);
    driver_->AuthorizeNozzle(1, 1, 1, 0);
    ASSERT_EQ(LineStatus(), 1);
    emu_.Clock().Advance(2s);

    emu_.Unplug();
    EXPECT_EQ(SerialError([&] { driver_->GetStatus(1, 1, 1); }), msg::kGetStatus);
    EXPECT_NE(link_.GetLineError(1), 0);
    // Still gone: every command fails with its own message.
    EXPECT_EQ(SerialError([&] { driver_->GetFilling(1, 1, nullptr, nullptr); }), msg::kGetType);
    EXPECT_EQ(SerialError([&] { driver_->StopNozzle(1, 1, 1, 1); }), msg::kStopPump);

    // The dispenser went on delivering meanwhile; the poll over the new device ends the filling.
    emu_.PlugIn();
    ASSERT_TRUE(link_.AssignLine(1, emu_.Path()));
    EXPECT_GE(PollFillingToEnd(*driver_, emu_, 1, 1, 1, 1), 0);
    EXPECT_EQ(LineStatus(), 1);
    EXPECT_EQ(emu_.State(1).phase, emu::Nozzle::Phase::kIdle);
    EXPECT_EQ(driver_->FilledVolume(1, 1), 5.00);
    double volume = 0, money = 0;
    driver_->ReadCounters(1, 1, 1, &volume, &money, 0, 0);
    EXPECT_EQ(volume, 5.00);
    EXPECT_EQ(money, 227.50);
}

TEST(DeviceServerGone, StoppedServerFailsTheNextCommandAndTheLinkReconnectsToTheNewOne) {
    test::TempDir dir;
    emu::ManualClock clock;
    emu::Line controllers(emu::LineConfig{}, clock.AsClock());
    controllers.AddController(1);
    controllers.SetParam(1, 24, 271828);
    auto server = std::make_unique<emu::TcpServer>(controllers, kUnpaced, "127.0.0.1", 0);
    const std::uint16_t port = server->port();

    links::TcpHostLink link;
    link.SetTimeouts(kResponse, kInterByte);
    link.SetConnectTimeout(kPatience);
    ASSERT_TRUE(link.AssignLine(1, "127.0.0.1", port));
    TVM30 driver(0, &link);
    ASSERT_EQ(driver.SetupLine(1), 0);
    EXPECT_EQ(driver.ReadParameter(0, 1, 1, 24, 6), 271828);

    server.reset();
    EXPECT_EQ(SerialError([&] { driver.ReadParameter(0, 1, 1, 24, 6); }), msg::kLinkFailed);
    EXPECT_NE(link.GetLineError(1), 0);

    server = std::make_unique<emu::TcpServer>(controllers, kUnpaced, "127.0.0.1", port);
    EXPECT_EQ(driver.ReadParameter(0, 1, 1, 24, 6), 271828);
    EXPECT_EQ(driver.GetLineStatus(1), 1);
    EXPECT_EQ(driver.GetStatus(1, 1, 1).bytes[0], 0xC0);
}

// A device server whose line pours out junk after a reply: the backlog is never read as a reply,
// and a line that is still talking after the link's limit is connected afresh.
TEST(DeviceServerFlood, TheNextCommandGetsItsOwnReply) {
    const struct {
        const char* name;
        emu::LinkTiming timing;
        int junk;
        const char* traced;
    } cases[] = {
        {"a 1 MB blob after a status reply", kUnpaced, 1 << 20, " bytes discarded in "},
        {"a line that goes on talking for seconds is connected afresh",
         {1'000'000, std::chrono::microseconds(0)},
         400'000,
         "opening it afresh"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        emu::ManualClock clock;
        emu::Line controllers(emu::LineConfig{}, clock.AsClock());
        controllers.AddController(1);
        controllers.SetParam(1, 24, 271828);
        emu::TcpServer server(controllers, c.timing, "127.0.0.1", 0);
        links::TcpHostLink link;
        std::ostringstream trace;
        link.SetTrace(&trace);
        // The line counts as silent after this pause; a loaded machine must not fake one.
        link.SetTimeouts(kResponse, 1000ms);
        link.SetConnectTimeout(kPatience);
        ASSERT_TRUE(link.AssignLine(1, "127.0.0.1", server.port()));
        TVM30 driver(0, &link);
        ASSERT_EQ(driver.SetupLine(1), 0);

        controllers.ArmFault(
            {.kind = emu::FaultKind::kFlood, .count = 1, .command = static_cast<std::uint8_t>('1'), .noise_bytes = c.junk});
        EXPECT_EQ(driver.GetStatus(1, 1, 1).bytes[0], 0xC0);
        // A flood at the line's pace may begin just after the next request went out, and that
        // exchange may take its first byte, an acknowledgement, for the reply: nothing tells it
        // from one short of waiting after every reply. A lone byte leaves the link unsure, so
        // before the next request it waits for the line to fall silent and finds it talking.
        driver.GetStatus(1, 1, 1);
        EXPECT_EQ(driver.ReadParameter(0, 1, 1, 24, 6), 271828);
        EXPECT_EQ(driver.GetLineStatus(1), 1);
        EXPECT_EQ(driver.GetStatus(1, 1, 1).bytes[0], 0xC0);
        EXPECT_EQ(driver.GetLineStatus(1), 1);
        EXPECT_NE(trace.str().find(c.traced), std::string::npos);
        link.SetTrace(nullptr);
    }
}

}  // namespace
}  // namespace dorv::e2e
