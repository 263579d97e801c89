#include "driver/codec.h"

#include <gtest/gtest.h>

#include "recording_link.h"

namespace dorv {
namespace {

using test::Bytes;

TEST(FrameBuilder, WrapsEveryByteAfterTheGroupWithItsComplement) {
    struct Case {
        const char* name;
        Bytes request;
        Bytes frame;
    };
    const Case cases[] = {
        {"start of address 1", {0x02, 0x21, '2'}, {0x7F, 0x02, 0x21, 0x5E, 0x32, 0x4D, 0x03, 0x03, 0x50}},
        {"group byte travels bare", {0x07, 0x20, '1'}, {0x7F, 0x07, 0x20, 0x5F, 0x31, 0x4E, 0x03, 0x03, (0x03 ^ 0x20 ^ 0x31) | 0x40}},
        {"price with digits",
         {0x02, 0x21, 'Q', '4', '5', '5', '0'},
         {0x7F, 0x02, 0x21, 0x5E, 'Q', 'Q' ^ 0x7F, '4', '4' ^ 0x7F, '5', '5' ^ 0x7F, '5', '5' ^ 0x7F, '0', '0' ^ 0x7F, 0x03, 0x03,
          (0x03 ^ 0x21 ^ 'Q' ^ '4' ^ '5' ^ '5' ^ '0') | 0x40}},
    };
    for (const auto& c : cases) {
        std::uint8_t frame[codec::kMaxFrame];
        const auto n = codec::BuildFrame(c.request.data(), c.request.size(), frame);
        EXPECT_EQ(Bytes(frame, frame + n), c.frame) << c.name;
    }
}

TEST(FrameBuilder, LargestRequestFillsTheFrameBuffer) {
    Bytes request(codec::kMaxRequest, '7');
    std::uint8_t frame[codec::kMaxFrame];
    EXPECT_EQ(codec::BuildFrame(request.data(), request.size(), frame), 255);
    EXPECT_EQ(frame[254], ((request.size() - 1) % 2 ? (0x03 ^ '7') : 0x03) | 0x40);
}

TEST(ReplyValidator, Verdicts) {
    struct Case {
        const char* name;
        Bytes reply;
        bool accepted;
        int state;
        int code;
        Bytes after;  // the buffer at its new length
    };
    const Bytes good = test::DataReply({0x41});
    const Case cases[] = {
        {"one data byte", {0x02, 0x41, 0x3E, 0x03, 0x03, 0x42}, true, 1, 0, {0x02, 0x41, 0x3E, 0x03, 0x03, 0x42}},
        {"wrong check byte", {0x02, 0x41, 0x3E, 0x03, 0x03, 0x43}, false, -1, 222, {0x02, 0x41, 0x3E, 0x03, 0x03, 0x43}},
        {"complement off by one bit", {0x02, 0x41, 0x3F, 0x03, 0x03, 0x42}, false, 3, 246, {0x02, 0x41, 0x3F, 0x03, 0x03, 0x42}},
        {"missing trailer", {0x02, 0x41, 0x3E, 0x03, 0x42}, false, 3, 246, {0x02, 0x41, 0x3E, 0x03, 0x42}},
        {"ack", {0x06}, true, 1, 0, {0x06}},
        {"nak counts as accepted", {0x15}, true, 1, 0, {0x15}},
        {"refusal is accepted", {0x18}, true, 1, 0, {0x18}},
        {"noise ahead of the reply is dropped",
         {0x7F, 0x21, 0x5E, 0x02, 0x41, 0x3E, 0x03, 0x03, 0x42},
         true,
         1,
         0,
         {0x02, 0x41, 0x3E, 0x03, 0x03, 0x42}},
        {"all noise", {0x7F, 0x33, 0x44}, false, -1, 223, {}},
        {"empty", {}, false, -1, 223, {}},
        {"lead byte alone", {0x02}, false, 3, 246, {0x02}},
        {"three bytes", {0x02, 0x03, 0x03}, false, 3, 246, {0x02, 0x03, 0x03}},
        {"no data bytes", {0x02, 0x03, 0x03, 0x43}, true, 1, 0, {0x02, 0x03, 0x03, 0x43}},
        {"status reply", test::DataReply({'4', '0'}), true, 1, 0, test::DataReply({'4', '0'})},
        {"second complement wrong",
         {0x02, '4', '4' ^ 0x7F, '0', '0', 0x03, 0x03, (0x03 ^ '4' ^ '0') | 0x40},
         false,
         3,
         246,
         {0x02, '4', '4' ^ 0x7F, '0', '0', 0x03, 0x03, (0x03 ^ '4' ^ '0') | 0x40}},
    };
    for (const auto& c : cases) {
        std::uint8_t buffer[256] = {};
        std::copy(c.reply.begin(), c.reply.end(), buffer);
        std::uint8_t length = static_cast<std::uint8_t>(c.reply.size());
        const auto v = codec::ValidateReply(buffer, length);
        EXPECT_EQ(v.accepted, c.accepted) << c.name;
        EXPECT_EQ(v.state, c.state) << c.name;
        EXPECT_EQ(v.code, c.code) << c.name;
        EXPECT_EQ(Bytes(buffer, buffer + length), c.after) << c.name;
    }
}

TEST(ReplyValidator, AcceptsEveryWellFormedReplyUpToTheBufferSize) {
    for (std::size_t d = 0; d <= 125; ++d) {
        Bytes data(d);
        for (std::size_t i = 0; i < d; ++i) data[i] = static_cast<std::uint8_t>('0' + i % 10);
        Bytes reply = test::DataReply(data);
        std::uint8_t length = static_cast<std::uint8_t>(reply.size());
        const auto v = codec::ValidateReply(reply.data(), length);
        EXPECT_TRUE(v.accepted) << d << " data bytes";
    }
}

}  // namespace
}  // namespace dorv
