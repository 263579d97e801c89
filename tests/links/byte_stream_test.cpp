#include "links/byte_stream.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

namespace dorv::links {
namespace {

using namespace std::chrono_literals;

// Settling after an unsure exchange listens for as long as a controller may take to answer. A
// late reply heard well into that wait, then silence, is a quiet line: the time a line may go
// on talking counts from the end of the listening, not from its start.
TEST(ByteStreamDiscard, AReplyLateInALongListenThenSilenceIsQuiet) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
    ByteStream line(fds[0], ByteStream::Kind::Socket);
    std::thread controller([peer = fds[1]] {
        std::this_thread::sleep_for(1200ms);
        const std::uint8_t reply[] = {0x02, 0x21, '1', 0x03, 0x03, 0x50};
        EXPECT_EQ(::write(peer, reply, sizeof reply), static_cast<ssize_t>(sizeof reply));
    });
    std::vector<std::uint8_t> discarded;
    const auto stale = line.DiscardInput(discarded, /*quietGap=*/1500ms, /*limit=*/1000ms, /*listen=*/1500ms);
    controller.join();
    ::close(fds[1]);
    EXPECT_EQ(stale.error, 0);
    EXPECT_EQ(stale.bytes, 6u);
    EXPECT_TRUE(stale.quiet) << "a late reply taken for a line that kept talking";
}

}  // namespace
}  // namespace dorv::links
