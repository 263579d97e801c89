#include <gtest/gtest.h>

#include "request_parser.h"
#include "test_support.h"
#include "wire.h"

namespace dorv::emu::test {
namespace {

const Bytes kStartFrame = B({0x7F, 0x02, 0x21, 0x5E, 0x32, 0x4D, 0x03, 0x03, 0x50});
const Bytes kStartRecord = B({0x02, 0x21, '2'});
// Status query to address 20 (group 7, 0x25).
const Bytes kStatusFrame = B({0x7F, 0x07, 0x25, 0x5A, 0x31, 0x4E, 0x03, 0x03, 0x57});
const Bytes kStatusRecord = B({0x07, 0x25, '1'});

TEST(Framing, RequestAndReplyFramesMatchTheLine) {
    EXPECT_EQ(FrameRequest(kStartRecord), kStartFrame);
    EXPECT_EQ(FrameRequest(kStatusRecord), kStatusFrame);
    EXPECT_EQ(FrameDataReply(B({0x41})), B({0x02, 0x41, 0x3E, 0x03, 0x03, 0x42}));
    // A read of number 9 holding 125: '9' echoed, then the digits.
    EXPECT_EQ(FrameDataReply(Text("9125")), B({0x02, 0x39, 0x46, 0x31, 0x4E, 0x32, 0x4D, 0x35, 0x4A, 0x03, 0x03, 0x4C}));
}

TEST(Framing, DigitFieldsPadAndWrap) {
    EXPECT_EQ(DigitField(1250, 5), "01250");
    EXPECT_EQ(DigitField(1234567, 6), "234567");
    EXPECT_EQ(ParseDigits(Text("004550")), 4550U);
    EXPECT_EQ(ParseDigits(Text("45a0")), std::nullopt);
    EXPECT_EQ(ParseDigits(Text("")), std::nullopt);
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes WithByte(Bytes b, std::size_t i, std::uint8_t v) {
    b[i] = v;
    return b;
}

struct ParseCase {
    const char* name;
    Bytes stream;
    std::size_t chunk;  // 0 = all at once
    std::vector<Bytes> records;
};

class ParserCases : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParserCases, YieldsExactlyTheGoodFrames) {
    const ParseCase& c = GetParam();
    RequestParser parser;
    std::vector<Bytes> got;
    const std::size_t step = c.chunk == 0 ? c.stream.size() : c.chunk;
    for (std::size_t i = 0; i < c.stream.size(); i += step) {
        const std::size_t n = std::min(step, c.stream.size() - i);
        for (Bytes& r : parser.Feed(std::span(c.stream).subspan(i, n))) got.push_back(std::move(r));
    }
    EXPECT_EQ(got, c.records);
}

const Bytes kRecordWith03 = B({0x02, 0x21, 'O', 0x03});  // a record byte equal to the end byte

INSTANTIATE_TEST_SUITE_P(
    Streams, ParserCases,
    ::testing::Values(ParseCase{"whole", kStartFrame, 0, {kStartRecord}}, ParseCase{"byte_by_byte", kStartFrame, 1, {kStartRecord}},
                      ParseCase{"three_byte_chunks", Concat({kStartFrame, kStatusFrame}), 3, {kStartRecord, kStatusRecord}},
                      ParseCase{"two_frames_one_chunk", Concat({kStartFrame, kStatusFrame}), 0, {kStartRecord, kStatusRecord}},
                      ParseCase{"garbage_first", Concat({B({0x00, 0x55, 0x03, 0x03, 0xFF}), kStartFrame}), 0, {kStartRecord}},
                      ParseCase{"garbage_with_lead_byte", Concat({B({0x7F, 0x7F, 0x12}), kStartFrame}), 1, {kStartRecord}},
                      ParseCase{"bad_complement", WithByte(kStartFrame, 3, 0x5F), 0, {}},
                      ParseCase{"bad_check", WithByte(kStartFrame, 8, 0x51), 0, {}},
                      ParseCase{"bad_then_good", Concat({WithByte(kStartFrame, 5, 0x4C), kStatusFrame}), 0, {kStatusRecord}},
                      ParseCase{
                          "cut_then_good", Concat({Bytes(kStartFrame.begin(), kStartFrame.begin() + 4), kStatusFrame}), 2, {kStatusRecord}},
                      ParseCase{"record_byte_03", FrameRequest(kRecordWith03), 1, {kRecordWith03}},
                      ParseCase{"incomplete", Bytes(kStartFrame.begin(), kStartFrame.end() - 1), 0, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Parser, CountsRejectedFramesAndForgetsOnReset) {
    RequestParser parser;
    EXPECT_TRUE(parser.Feed(WithByte(kStartFrame, 8, 0x51)).empty());
    EXPECT_GE(parser.rejected_frames(), 1U);
    EXPECT_TRUE(parser.Feed(Bytes(kStartFrame.begin(), kStartFrame.begin() + 5)).empty());
    parser.Reset();
    // The tail of the forgotten frame alone makes nothing; the next frame does.
    EXPECT_TRUE(parser.Feed(Bytes(kStartFrame.begin() + 5, kStartFrame.end())).empty());
    EXPECT_EQ(parser.Feed(kStatusFrame), std::vector<Bytes>{kStatusRecord});
}

TEST(Parser, NeverHoldsMoreThanTheLongestRequest) {
    RequestParser parser;
    Bytes endless{0x7F, 0x02};
    for (int i = 0; i < 300; ++i) {
        endless.push_back(0x30);
        endless.push_back(0x4F);
    }
    EXPECT_TRUE(parser.Feed(endless).empty());
    EXPECT_LE(parser.pending_bytes(), 2 * kMaxRequestRecord + 3);
}

}  // namespace
}  // namespace dorv::emu::test
