// The line served on a pseudo-terminal and over TCP, unpaced.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "pty_server.h"
#include "tcp_server.h"
#include "test_support.h"

namespace dorv::emu::test {
namespace {

constexpr LinkTiming kUnpaced{0, std::chrono::microseconds(0)};

// Reads until `want` bytes came or the peer stays quiet for a second.
Bytes ReadReply(int fd, std::size_t want) {
    Bytes got;
    while (got.size() < want) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 1000) <= 0) break;
        std::uint8_t buf[64];
        const ssize_t n = ::read(fd, buf, std::min(sizeof buf, want - got.size()));
        if (n <= 0) break;
        got.insert(got.end(), buf, buf + n);
    }
    return got;
}

bool WriteAll(int fd, const Bytes& bytes) { return ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()); }

int OpenRawSlave(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) return fd;
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    return fd;
}

int ConnectTcp(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

const Bytes kTypeRequest = B({0x7F, 0x02, 0x21, 0x5E, 0x37, 0x48, 0x03, 0x03, 0x55});
const Bytes kTypeReply = B({0x02, 0x41, 0x3E, 0x03, 0x03, 0x42});

TEST_F(LineTest, PtyAnswersAcrossRepeatedOpens) {
    PtyServer server(line_, kUnpaced);
    ASSERT_FALSE(server.slave_path().empty());
    for (int round = 0; round < 3; ++round) {
        const int fd = OpenRawSlave(server.slave_path());
        ASSERT_GE(fd, 0) << round;
        // Noise, then the type query split in two writes.
        ASSERT_TRUE(WriteAll(fd, B({0x55, 0x00})));
        ASSERT_TRUE(WriteAll(fd, Bytes(kTypeRequest.begin(), kTypeRequest.begin() + 4)));
        ASSERT_TRUE(WriteAll(fd, Bytes(kTypeRequest.begin() + 4, kTypeRequest.end())));
        EXPECT_EQ(ReadReply(fd, kTypeReply.size()), kTypeReply) << round;
        ASSERT_TRUE(WriteAll(fd, FrameRequest(Record(1, "U"))));
        EXPECT_EQ(ReadReply(fd, 1), B({0x06})) << round;
        ::close(fd);
    }
    EXPECT_EQ(line_.State(1)->phase, Nozzle::Phase::kAuthorized);
}

TEST_F(LineTest, PacedPtyDeliversTheSameBytes) {
    PtyServer server(line_, LinkTiming{});  // 4800 baud, 2 ms turnaround
    const int fd = OpenRawSlave(server.slave_path());
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(WriteAll(fd, kTypeRequest));
    EXPECT_EQ(ReadReply(fd, kTypeReply.size()), kTypeReply);
    ::close(fd);
}

TEST_F(LineTest, LateReplyLandsAheadOfTheNextAnswer) {
    PtyServer server(line_, kUnpaced);
    const int fd = OpenRawSlave(server.slave_path());
    ASSERT_GE(fd, 0);
    line_.ArmFault(FaultRule{.kind = FaultKind::kLate, .command = '7', .delay = std::chrono::milliseconds(200)});
    // The host gives up on the type query and moves on to a status query.
    ASSERT_TRUE(WriteAll(fd, kTypeRequest));
    ASSERT_TRUE(WriteAll(fd, FrameRequest(Record(1, "1"))));
    Bytes expected = kTypeReply;
    const Bytes status = FrameDataReply(Text("00"));
    expected.insert(expected.end(), status.begin(), status.end());
    EXPECT_EQ(ReadReply(fd, expected.size()), expected);
    ::close(fd);
}

TEST_F(LineTest, ServersStopWhileAReplyIsHeldBack) {
    line_.ArmFault(FaultRule{.kind = FaultKind::kLate, .count = 0, .delay = std::chrono::hours(1)});
    {
        PtyServer server(line_, kUnpaced);
        const int fd = OpenRawSlave(server.slave_path());
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(WriteAll(fd, kTypeRequest));
        EXPECT_TRUE(ReadReply(fd, 1).empty());
        ::close(fd);
    }  // must return without waiting the hour out
    int fd = -1;
    {
        TcpServer server(line_, kUnpaced, "127.0.0.1", 0);
        fd = ConnectTcp(server.port());
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(WriteAll(fd, kTypeRequest));
        EXPECT_TRUE(ReadReply(fd, 1).empty());
    }  // the client is still connected
    ::close(fd);
}

TEST_F(LineTest, TcpClientsShareTheLine) {
    TcpServer server(line_, kUnpaced, "127.0.0.1", 0);
    ASSERT_NE(server.port(), 0);
    const int a = ConnectTcp(server.port());
    const int b = ConnectTcp(server.port());
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    ASSERT_TRUE(WriteAll(a, FrameRequest(Record(3, "U"))));
    EXPECT_EQ(ReadReply(a, 1), B({0x06}));
    ASSERT_TRUE(WriteAll(b, FrameRequest(Record(3, "1"))));
    EXPECT_EQ(DataOf(ReadReply(b, 8)), "20");  // b sees what a did
    ::close(a);
    ASSERT_TRUE(WriteAll(b, kTypeRequest));
    EXPECT_EQ(ReadReply(b, kTypeReply.size()), kTypeReply);
    ::close(b);
}

}  // namespace
}  // namespace dorv::emu::test
