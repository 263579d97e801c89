// Lines that cannot be used, and the serial settings ConfigureLine applies.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <functional>

#include "links/serial_host_link.h"
#include "links/tcp_host_link.h"
#include "scripted_peer.h"

namespace dorv::links::test {
namespace {

constexpr std::uint8_t kSetupLine = 3;

std::int32_t TransactStart(HostLink& link, std::uint8_t line) {
    const Bytes frame = RequestFrame({0x02, 0x21, '2'});
    std::array<std::uint8_t, kReplyCapacity> reply{};
    return link.Transact(line, frame.data(), std::uint8_t(frame.size()), reply.data(), 2, 0);
}

template <class Link, class... Endpoint>
std::function<std::unique_ptr<StreamHostLink>()> Leading(Endpoint... endpoint) {
    return [=] {
        auto link = std::make_unique<Link>();
        if constexpr (sizeof...(endpoint) > 0) link->AssignLine(kSetupLine, endpoint...);
        return link;
    };
}

TEST(UnusableLine, ReportsWhyThroughResultAndLineError) {
    // Bound and never listening: a connection to it is refused.
    const int closed = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof a;
    ASSERT_EQ(::bind(closed, reinterpret_cast<sockaddr*>(&a), size), 0);
    ASSERT_EQ(::getsockname(closed, reinterpret_cast<sockaddr*>(&a), &size), 0);
    const struct {
        const char* name;
        std::function<std::unique_ptr<StreamHostLink>()> make;
        int error;
    } cases[] = {
        {"serial line without a device", Leading<SerialHostLink>(), ENXIO},
        {"device that does not exist", Leading<SerialHostLink>("/dev/no-such-tty"), ENOENT},
        {"device that is no serial line", Leading<SerialHostLink>("/dev/null"), ENOTTY},
        {"TCP line without an endpoint", Leading<TcpHostLink>(), ENXIO},
        {"nobody listening", Leading<TcpHostLink>("127.0.0.1", ntohs(a.sin_port)), ECONNREFUSED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto link = c.make();
        EXPECT_EQ(link->ConfigureLine(kSetupLine, 42, 4800), c.error);
        EXPECT_EQ(TransactStart(*link, kSetupLine), c.error);
        EXPECT_EQ(link->GetLineError(kSetupLine), c.error);
        EXPECT_EQ(link->ReadLineState(kSetupLine), kStateNoReply);
        // Lines beyond the host's forty are refused, not indexed.
        EXPECT_EQ(TransactStart(*link, 40), EINVAL);
        EXPECT_EQ(link->ConfigureLine(255, 42, 4800), EINVAL);
    }
    ::close(closed);
}

TEST(SerialSettings, ConfigureLineAppliesRawEightNoneOneAtTheRateOrRefuses) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
    const std::string slave = ::ptsname(master);
    const int probe = ::open(slave.c_str(), O_RDWR | O_NOCTTY);  // sees the link's settings
    SerialHostLink link;
    link.AssignLine(kSetupLine, slave);
    const struct {
        std::int32_t format, baud;
        bool applied;
        speed_t speedAfter;
    } cases[] = {
        {42, 4800, true, B4800},  {42, 9600, true, B9600},     {42, 12345, false, B9600},
        {41, 4800, false, B9600}, {42, 115200, true, B115200}, {42, 1200, true, B1200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.format) + "/" + std::to_string(c.baud));
        EXPECT_EQ(link.ConfigureLine(kSetupLine, c.format, c.baud) == 0, c.applied);
        termios t{};
        ASSERT_EQ(::tcgetattr(probe, &t), 0);
        EXPECT_EQ(::cfgetospeed(&t), c.speedAfter);
        EXPECT_EQ(::cfgetispeed(&t), c.speedAfter);
        EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS | CLOCAL | CREAD), tcflag_t(CS8 | CLOCAL | CREAD));
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL), 0u);
        EXPECT_EQ(t.c_oflag & OPOST, 0u);
    }
    ::close(probe);
    ::close(master);
}

}  // namespace
}  // namespace dorv::links::test
