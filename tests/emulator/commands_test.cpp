// The reply of every command, byte for byte, on a fresh controller and after
// a filling; malformed requests.
#include <gtest/gtest.h>

#include "test_support.h"

namespace dorv::emu::test {
namespace {

struct ExactCase {
    const char* name;
    std::string tail;
    Bytes reply;
};

class FreshController : public LineTest, public ::testing::WithParamInterface<ExactCase> {};

TEST_P(FreshController, AnswersExactly) { EXPECT_EQ(Ask(1, GetParam().tail), GetParam().reply); }

Bytes Zeros(int n) {
    Bytes data(static_cast<std::size_t>(n), '0');
    return FrameDataReply(data);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, FreshController,
    ::testing::Values(ExactCase{"status_idle", "1", B({0x02, 0x30, 0x4F, 0x30, 0x4F, 0x03, 0x03, 0x43})},
                      ExactCase{"type", "7", B({0x02, 0x41, 0x3E, 0x03, 0x03, 0x42})}, ExactCase{"short_filling", "4", Zeros(6)},
                      ExactCase{"filling_type_1", "5", Zeros(16)}, ExactCase{"counters", "6", Zeros(16)},
                      ExactCase{"param_read", "N9", B({0x02, 0x39, 0x46, 0x30, 0x4F, 0x30, 0x4F, 0x30, 0x4F, 0x03, 0x03, 0x4A})},
                      ExactCase{"authorize", "U", B({0x06})}, ExactCase{"stop", "3", B({0x06})},
                      ExactCase{"release_nothing", "8", B({0x06})}, ExactCase{"price", "Q4550", B({0x06})},
                      ExactCase{"volume_dose", "T01250", B({0x06})}, ExactCase{"start_without_price", "2", B({0x18})},
                      ExactCase{"money_dose_without_price", "S025000", B({0x18})}, ExactCase{"param_write", "O705", B({0x06})},
                      ExactCase{"counter_write",
                                "6\x01"
                                "00012345",
                                B({0x06})}),
    [](const auto& info) { return std::string(info.param.name); });

class Malformed : public LineTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(Malformed, IsRefused) {
    Accepted(1, "Q4550");
    EXPECT_EQ(Ask(1, GetParam()), B({0x18})) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Requests, Malformed,
                         ::testing::Values("2x", "1x", "7x", "Vx", "Q455", "Q45500", "Q45a0", "Q0000", "T1250", "T00000", "T0125x",
                                           "S25000", "S000000", "N", "N/", "N99", "O", "O7", "O7123",
                                           "6\x02"
                                           "00012345",
                                           "6\x01"
                                           "0001234",
                                           "Z", "\x7F"));

TEST_F(LineTest, FillingReplyLayoutFollowsTheType) {
    struct Case {
        char type;
        std::string filling;
    };
    // 2.50 L at 45.50: 113.75 in money.
    const Case cases[] = {
        {'A',
         "000250"
         "011375"
         "4550"},
        {'B',
         "000250"
         "00011375"
         "004550"},
        {'C',
         "000250"
         "011375"
         "4550"},
        {'G',
         "000250"
         "00011375"
         "004550"},
        {'H',
         "00250"
         "0011375"
         "4550"},
        {'@',
         "000250"
         "011375"
         "4550"},  // unknown types answer like type 1
    };
    ASSERT_TRUE(Accepted(1, "Q4550"));
    ASSERT_TRUE(Accepted(1, "T00250"));
    line_.Lift(1);
    ASSERT_TRUE(Accepted(1, "2"));
    Run(10);
    for (const Case& c : cases) {
        line_.SetType(1, c.type);
        EXPECT_EQ(Data(1, "7"), std::string(1, c.type));
        EXPECT_EQ(Data(1, "5"), c.filling) << "type " << c.type;
    }
    EXPECT_EQ(Data(1, "4"), "000250");
    EXPECT_EQ(Data(1, "6"),
              "00000250"
              "0011375"
              "0");
}

TEST_F(LineTest, UnknownAddressesStaySilent) {
    EXPECT_TRUE(Ask(5, "1").empty());
    EXPECT_TRUE(Ask(16, "1").empty());
    EXPECT_TRUE(line_.Answer(B({0x02, 0x20, '1'})).bytes.empty());
    EXPECT_TRUE(line_.Answer(B({0x02, 0x21})).bytes.empty());  // no command byte
}

TEST_F(LineTest, ControllersAboveFifteenAnswerOnTheirGroup) {
    ASSERT_TRUE(line_.AddController(30));
    ASSERT_TRUE(line_.AddController(45));
    line_.SetType(45, 'C');
    EXPECT_EQ(line_.Answer(B({0x07, 0x20, '7'})).bytes, FrameDataReply(Text("A")));
    EXPECT_EQ(line_.Answer(B({0x08, 0x20, '7'})).bytes, FrameDataReply(Text("C")));
}

}  // namespace
}  // namespace dorv::emu::test
