// Faults armed on the line: what each does to the reply and to the request.
#include <gtest/gtest.h>

#include "faults.h"
#include "test_support.h"

namespace dorv::emu::test {
namespace {

bool IsLead(std::uint8_t b) { return b == 0x02 || b == 0x06 || b == 0x15 || b == 0x18; }

struct FaultCase {
    FaultKind kind;
    std::string tail;  // request to controller 1
    std::function<void(const Reply& clean, const Reply& faulty)> check;
};

class EachFault : public LineTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(EachFault, DamagesTheNextReplyOnly) {
    const FaultCase& c = GetParam();
    const Reply clean = line_.Answer(Record(1, c.tail));
    line_.ArmFault(FaultRule{.kind = c.kind});
    const Reply faulty = line_.Answer(Record(1, c.tail));
    EXPECT_EQ(faulty.fault, c.kind);
    c.check(clean, faulty);
    const Reply after = line_.Answer(Record(1, c.tail));
    EXPECT_EQ(after.bytes, clean.bytes);
    EXPECT_FALSE(after.fault.has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, EachFault,
    ::testing::Values(FaultCase{FaultKind::kNoise, "7",
                                [](const Reply& clean, const Reply& f) {
                                    ASSERT_EQ(f.bytes.size(), clean.bytes.size() + 3);
                                    for (int i = 0; i < 3; ++i) EXPECT_FALSE(IsLead(f.bytes[static_cast<std::size_t>(i)]));
                                    EXPECT_TRUE(std::equal(clean.bytes.begin(), clean.bytes.end(), f.bytes.begin() + 3));
                                }},
                      FaultCase{FaultKind::kSilence, "7", [](const Reply&, const Reply& f) { EXPECT_TRUE(f.bytes.empty()); }},
                      FaultCase{FaultKind::kCorruptComplement, "6",
                                [](const Reply& clean, const Reply& f) {
                                    ASSERT_EQ(f.bytes.size(), clean.bytes.size());
                                    EXPECT_EQ(f.bytes.back(), clean.bytes.back());
                                    int broken = 0;
                                    for (std::size_t i = 1; i + 3 < f.bytes.size(); i += 2) broken += (f.bytes[i] ^ f.bytes[i + 1]) != 0x7F;
                                    EXPECT_EQ(broken, 1);
                                }},
                      FaultCase{FaultKind::kCorruptCheck, "7",
                                [](const Reply& clean, const Reply& f) {
                                    EXPECT_EQ(Bytes(f.bytes.begin(), f.bytes.end() - 1), Bytes(clean.bytes.begin(), clean.bytes.end() - 1));
                                    EXPECT_NE(f.bytes.back(), clean.bytes.back());
                                    EXPECT_FALSE(DataOf(f.bytes).has_value());
                                }},
                      FaultCase{FaultKind::kRefusal, "7", [](const Reply&, const Reply& f) { EXPECT_EQ(f.bytes, B({0x18})); }},
                      FaultCase{FaultKind::kLate, "7",
                                [](const Reply& clean, const Reply& f) {
                                    EXPECT_EQ(f.bytes, clean.bytes);
                                    EXPECT_EQ(f.delay, std::chrono::milliseconds(500));
                                }},
                      FaultCase{FaultKind::kTruncate, "6",
                                [](const Reply& clean, const Reply& f) {
                                    ASSERT_LT(f.bytes.size(), clean.bytes.size());
                                    ASSERT_FALSE(f.bytes.empty());
                                    EXPECT_TRUE(std::equal(f.bytes.begin(), f.bytes.end(), clean.bytes.begin()));
                                }},
                      FaultCase{FaultKind::kFlood, "7",
                                [](const Reply& clean, const Reply& f) {
                                    ASSERT_EQ(f.bytes.size(), clean.bytes.size() + 3);
                                    EXPECT_TRUE(std::equal(clean.bytes.begin(), clean.bytes.end(), f.bytes.begin()));
                                    EXPECT_EQ(f.bytes[clean.bytes.size()], 0x06);  // junk a host could take for an answer
                                }},
                      FaultCase{FaultKind::kAck, "6", [](const Reply&, const Reply& f) { EXPECT_EQ(f.bytes, B({0x06})); }}),
    [](const auto& info) { return std::string(FaultKindName(info.param.kind)); });

TEST_F(LineTest, SilencedOrRefusedRequestsAreNotCarriedOut) {
    ASSERT_TRUE(Accepted(1, "Q4550"));
    line_.Lift(1);
    for (FaultKind kind : {FaultKind::kSilence, FaultKind::kRefusal}) {
        line_.ArmFault(FaultRule{.kind = kind});
        line_.Answer(Record(1, "2"));
        EXPECT_EQ(Status(1), '1') << FaultKindName(kind);
    }
    // A damaged reply is still a request carried out.
    line_.ArmFault(FaultRule{.kind = FaultKind::kNoise});
    line_.Answer(Record(1, "2"));
    EXPECT_EQ(Status(1), '3');
}

TEST_F(LineTest, FaultsHitOnlyTheirCommandAddressAndCount) {
    line_.ArmFault(FaultRule{.kind = FaultKind::kSilence, .count = 2, .command = '1', .address = 2});
    EXPECT_FALSE(Ask(1, "1").empty());
    EXPECT_FALSE(Ask(2, "7").empty());
    EXPECT_TRUE(Ask(2, "1").empty());
    EXPECT_TRUE(Ask(2, "1").empty());
    EXPECT_FALSE(Ask(2, "1").empty());
    EXPECT_EQ(line_.armed_faults(), 0U);
}

TEST_F(LineTest, DataFaultsWaitForADataReply) {
    line_.ArmFault(FaultRule{.kind = FaultKind::kTruncate});
    EXPECT_EQ(Ask(1, "U"), B({0x06}));  // a one-byte reply has no tail to lose
    EXPECT_EQ(line_.armed_faults(), 1U);
    EXPECT_FALSE(DataOf(Ask(1, "1")).has_value());
    EXPECT_EQ(line_.armed_faults(), 0U);
}

TEST_F(LineTest, UnaddressedCommandsCanBeFaulted) {
    line_.ArmFault(FaultRule{.kind = FaultKind::kSilence, .command = 'W'});
    EXPECT_TRUE(line_.Answer(B({0x02, 'W', '3', '1'})).bytes.empty());
    EXPECT_EQ(line_.CommonSettings()[3], 0);
}

std::vector<bool> SilencePattern(std::uint64_t seed) {
    ManualClock clock;
    Line line(LineConfig{.seed = seed}, clock.AsClock());
    line.AddController(1);
    line.ArmFault(FaultRule{.kind = FaultKind::kSilence, .count = 0, .rate = 0.3});
    std::vector<bool> silent;
    for (int i = 0; i < 200; ++i) silent.push_back(line.Answer(Record(1, "1")).bytes.empty());
    return silent;
}

TEST(FaultRate, IsReproducibleFromTheSeed) {
    const auto a = SilencePattern(7);
    EXPECT_EQ(a, SilencePattern(7));
    EXPECT_NE(a, SilencePattern(8));
    const auto hits = std::count(a.begin(), a.end(), true);
    EXPECT_GT(hits, 20);
    EXPECT_LT(hits, 100);
}

}  // namespace
}  // namespace dorv::emu::test
