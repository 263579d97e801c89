#include "links/frame_decoder.h"

#include <gtest/gtest.h>

#include <sstream>

#include "links/frame_trace.h"
#include "scripted_peer.h"

namespace dorv::links::test {
namespace {

TEST(ControllerAddress, FollowsTheGroupsOfFifteen) {
    const auto none = std::nullopt;
    const struct {
        std::uint8_t group, byte;
        std::optional<int> address;
    } cases[] = {
        {2, 0x21, 1},  {2, 0x2F, 15},  {7, 0x21, 16},   {7, 0x2E, 29},   {7, 0x20, 30},   {8, 0x21, 31},
        {8, 0x20, 45}, {10, 0x24, 64}, {2, 0x20, none}, {3, 0x21, none}, {7, 0x2F, none},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ControllerAddress(c.group, c.byte), c.address) << int(c.group) << "/" << int(c.byte);
    }
}

TEST(FrameDecoder, NamesCommandControllerAndDataOfARequest) {
    Bytes badCheck = RequestFrame({0x02, 0x21, '2'}), badComplement = badCheck;
    badCheck.back() ^= 1;
    badComplement[3] ^= 1;
    const struct {
        Bytes frame;
        std::string text;
    } cases[] = {
        {{0x7F, 0x02, 0x21, 0x5E, 0x32, 0x4D, 0x03, 0x03, 0x50}, "start, address 1 (column 1 nozzle 1)"},
        {RequestFrame({2, 0x26, 'Q', '4', '5', '5', '0'}), "price, address 6 (column 5 nozzle 2), data \"4550\""},
        {RequestFrame({7, 0x20, '1'}), "status, address 30 (column 29 nozzle 2)"},
        {RequestFrame({2, 0x21, 'O', '7', '0', '5'}), "parameter write, address 1 (column 1 nozzle 1), parameter 7, value \"05\""},
        {RequestFrame({2, 'W', '3', '1'}), "common setting write, setting 3, value 1"},
        {RequestFrame({2, ']', '6', '0', '7', '1', '8', '0', '0', '5'}), "address programming, ID \"60718\", new address \"005\""},
        {badCheck, "invalid request (check byte wrong)"},
        {badComplement, "invalid request (complement wrong)"},
        {{0x7F, 0x02, 0x21, 0x5E, 0x32}, "invalid request (cut short)"},
    };
    for (const auto& c : cases) EXPECT_EQ(DescribeRequest(c.frame), c.text);
}

TEST(FrameDecoder, TellsAnswersFromDataAndFromGarbage) {
    const struct {
        Bytes reply;
        const char* text;
    } cases[] = {
        {{0x02, 0x41, 0x3E, 0x03, 0x03, 0x42}, "data \"A\""},
        {{0x7F, 0x02, 0x41, 0x3E, 0x03, 0x03, 0x42}, "data \"A\" after 1 noise bytes"},
        {{0x06}, "ack"},
        {{0x18}, "refused"},
        {{0x15}, "not acknowledged"},
        {{}, "no reply"},
        {{0x7F, 0x00}, "invalid (no lead byte)"},
        {{0x02, 0x41, 0x3E, 0x03, 0x03, 0x43}, "invalid (check byte wrong)"},
        {{0x02, 0x41, 0x3F, 0x03, 0x03, 0x42}, "invalid (complement wrong)"},
    };
    for (const auto& c : cases) EXPECT_EQ(DescribeReply(c.reply), c.text);
}

TEST(TraceDecoding, DecodesSavedEntriesAfreshAndKeepsOtherLines) {
    std::istringstream saved(
        "# line 3\n"
        "2025-03-01T10:15:42.318Z TX line 03 7F 02 21 5E 32 4D 03 03 50 | something old\n"
        "2025-03-01T10:15:42.360Z RX line 03 02 41 3E 03 03 42\n"
        "2025-03-01T10:15:43.000Z RX line 03 | \n"
        "2025-03-01T10:15:43.000Z RX line 03 4G\n");
    std::ostringstream out;
    EXPECT_EQ(DecodeTrace(saved, out), 3u);
    EXPECT_EQ(out.str(),
              "# line 3\n"
              "2025-03-01T10:15:42.318Z TX line 03 7F 02 21 5E 32 4D 03 03 50 | start, address 1 "
              "(column 1 nozzle 1)\n"
              "2025-03-01T10:15:42.360Z RX line 03 02 41 3E 03 03 42 | data \"A\"\n"
              "2025-03-01T10:15:43.000Z RX line 03 | no reply\n"
              "2025-03-01T10:15:43.000Z RX line 03 4G\n");
}

}  // namespace
}  // namespace dorv::links::test
