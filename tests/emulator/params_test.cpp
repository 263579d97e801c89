// Numbered parameters, the password operations, address programming and
// common settings.
#include <gtest/gtest.h>

#include "param_catalogue.h"
#include "test_support.h"

namespace dorv::emu::test {
namespace {

std::string ReadTail(int number) { return std::string("N") + static_cast<char>('0' + number); }

std::string WriteTail(int number, const std::string& digits) { return std::string("O") + static_cast<char>('0' + number) + digits; }

TEST(ParamCatalogueTable, HoldsTheFiftyNumbersWithTheirInitialValuesInBounds) {
    EXPECT_EQ(ParamCatalogue().size(), 50U);
    for (const ParamEntry& p : ParamCatalogue()) {
        EXPECT_LE(p.min, p.initial) << p.number;
        EXPECT_LE(p.initial, p.max) << p.number;
        EXPECT_GT(WireDigits(p.number), 0) << p.number;
    }
}

TEST_F(LineTest, EveryParameterAnswersWithItsNumberAndDigitCount) {
    for (int number = 0; number < kParamNumberCount; ++number) {
        const std::string data = Data(1, ReadTail(number));
        if (FindParam(number) == nullptr) {
            EXPECT_TRUE(Refused(1, ReadTail(number))) << number;
            continue;
        }
        ASSERT_EQ(data.size(), 1U + static_cast<std::size_t>(WireDigits(number))) << number;
        EXPECT_EQ(data[0], '0' + number);
    }
    EXPECT_EQ(Data(1, ReadTail(22)), "F2");  // decimal format starts at 2
    EXPECT_EQ(Data(1, ReadTail(52)),
              "d"
              "0000060001"
              "103");  // ID, then the loader version
    EXPECT_EQ(Data(1, ReadTail(53)).size(), 6U);
    for (int number : {1, 16, 17, 46, 54, 59}) EXPECT_TRUE(Refused(1, ReadTail(number))) << number;
}

struct WriteCase {
    int number;
    std::string digits;
    bool accepted;
};

class ParamWrites : public LineTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(ParamWrites, FollowTheParameterRules) {
    const WriteCase& c = GetParam();
    const std::string before = Data(1, ReadTail(c.number));
    EXPECT_EQ(Accepted(1, WriteTail(c.number, c.digits)), c.accepted);
    const std::string after = Data(1, ReadTail(c.number));
    if (c.accepted)
        EXPECT_EQ(after.substr(1), c.digits);
    else
        EXPECT_EQ(after, before);
}

INSTANTIATE_TEST_SUITE_P(Rules, ParamWrites,
                         ::testing::Values(WriteCase{0, "1", true}, WriteCase{0, "2", false},        // two choices
                                           WriteCase{11, "180", true}, WriteCase{11, "002", false},  // 3..180
                                           WriteCase{11, "181", false}, WriteCase{22, "8", true}, WriteCase{22, "9", false},
                                           WriteCase{24, "120080", true}, WriteCase{37, "200", true}, WriteCase{37, "002", false},
                                           WriteCase{38, "215", true}, WriteCase{38, "221", false}, WriteCase{38, "100", false},
                                           WriteCase{18, "00001", false}, WriteCase{19, "001", false},  // read-only
                                           WriteCase{25, "00000001", false}, WriteCase{28, "00001", false},
                                           WriteCase{44, "00000001", false}, WriteCase{52, "0000000000001", false},
                                           WriteCase{53, "00001", false}, WriteCase{36, "020", false},
                                           WriteCase{27, "00308", false}));  // coefficient without the password

TEST_F(LineTest, InternalSensorReadsTemperatureOrOff) {
    EXPECT_EQ(Data(1, ReadTail(37)), "U025");
    ASSERT_TRUE(Accepted(1, WriteTail(37, "200")));
    EXPECT_EQ(Data(1, ReadTail(37)), "U200");
    ASSERT_TRUE(Accepted(1, WriteTail(37, "001")));
    EXPECT_EQ(Data(1, ReadTail(37)), "U025");
}

TEST_F(LineTest, CalibrationNeedsThePasswordEachTime) {
    // Password, coefficient, read-back of the confirmation: what a service tool sends.
    ASSERT_TRUE(Accepted(2, WriteTail(26, "5821")));
    ASSERT_TRUE(Accepted(2, WriteTail(27, "00308")));
    EXPECT_EQ(Data(2, ReadTail(26)), "J0001");
    EXPECT_EQ(Data(2, ReadTail(27)), "K00308");
    EXPECT_EQ(Data(2, ReadTail(28)), "L00001");
    EXPECT_EQ(Data(2, ReadTail(26)), "J0001");  // reading again counts nothing
    EXPECT_EQ(Data(2, ReadTail(28)), "L00001");

    EXPECT_TRUE(Refused(2, WriteTail(27, "00400")));  // the password served one write
    EXPECT_TRUE(Refused(2, WriteTail(26, "1234")));   // wrong password
    EXPECT_EQ(Data(2, ReadTail(26)), "J0000");
    EXPECT_TRUE(Refused(2, WriteTail(27, "00400")));
    ASSERT_TRUE(Accepted(2, WriteTail(26, "5821")));
    ASSERT_TRUE(Accepted(2, WriteTail(26, "0000")));  // 0 locks again
    EXPECT_TRUE(Refused(2, WriteTail(27, "00400")));
    EXPECT_EQ(Data(2, ReadTail(27)), "K00308");
    EXPECT_EQ(Data(2, ReadTail(28)), "L00001");
}

TEST_F(LineTest, CounterWriteSetsTheVolumeTotalizer) {
    ASSERT_TRUE(Accepted(1, WriteTail(26, "0000")));
    EXPECT_EQ(Data(1, ReadTail(26)), "J0000");
    ASSERT_TRUE(Accepted(1,
                         "6\x01"
                         "00123456"));
    EXPECT_EQ(Data(1, ReadTail(26)), "J0001");
    EXPECT_EQ(Data(1, "6").substr(0, 8), "00123456");
    EXPECT_EQ(Data(1, ReadTail(44)), "\\00123456");
    EXPECT_EQ(Data(1, ReadTail(53)), "e00001");
    // Not while the pump runs.
    ASSERT_TRUE(Accepted(1, "Q4550"));
    line_.Lift(1);
    ASSERT_TRUE(Accepted(1, "2"));
    EXPECT_TRUE(Refused(1,
                        "6\x01"
                        "00000000"));
}

// [0x02, ']', ID chars, 3-digit address, (ID chars 6-10)].
Bytes Program(const std::string& id, const std::string& address) {
    Bytes r{0x02, ']'};
    const std::string text = id.size() <= 5 ? id : id.substr(0, 5);
    r.insert(r.end(), text.begin(), text.end());
    r.insert(r.end(), address.begin(), address.end());
    if (id.size() > 5) r.insert(r.end(), id.begin() + 5, id.end());
    return r;
}

TEST_F(LineTest, AddressProgrammingMovesTheControllerWithItsState) {
    ASSERT_TRUE(Accepted(2, "Q4550"));
    ASSERT_TRUE(Accepted(2, WriteTail(22, "1")));
    line_.Lift(2);
    EXPECT_EQ(line_.Answer(Program("60002", "017")).bytes, B({0x06}));
    EXPECT_TRUE(Ask(2, "1").empty());
    EXPECT_EQ(Data(17, "1"), "10");
    EXPECT_EQ(Data(17, ReadTail(22)), "F1");
    EXPECT_EQ(line_.State(17)->price, 4550U);
    EXPECT_EQ(line_.Addresses(), (std::vector<int>{1, 3, 4, 17}));
}

TEST_F(LineTest, AddressProgrammingCases) {
    ASSERT_TRUE(line_.SetId(3, 907162));
    struct Case {
        const char* name;
        Bytes request;
        Bytes reply;
        std::vector<int> addresses;
    };
    const Case cases[] = {
        {"unknown_id_is_silent", Program("60009", "009"), {}, {1, 2, 3, 4}},
        {"taken_address", Program("60001", "002"), B({0x18}), {1, 2, 3, 4}},
        {"address_zero", Program("60001", "000"), B({0x18}), {1, 2, 3, 4}},
        {"same_address", Program("60001", "001"), B({0x06}), {1, 2, 3, 4}},
        {"long_id_form", Program("0000907162", "017"), B({0x06}), {1, 2, 4, 17}},
        {"not_digits", Program("6000x", "005"), {}, {1, 2, 4, 17}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(line_.Answer(c.request).bytes, c.reply) << c.name;
        EXPECT_EQ(line_.Addresses(), c.addresses) << c.name;
    }
}

TEST_F(LineTest, CommonSettingsReachTheWholeLine) {
    EXPECT_EQ(line_.Answer(B({0x02, 'W', '3', '1'})).bytes, B({0x06}));
    EXPECT_EQ(line_.CommonSettings()[3], 1);
    EXPECT_EQ(line_.Answer(B({0x02, 'W', '3'})).bytes, B({0x18}));
    line_.SetAnswerCommonSettings(false);
    EXPECT_TRUE(line_.Answer(B({0x02, 'W', '0', '1'})).bytes.empty());
    EXPECT_EQ(line_.CommonSettings()[0], 1);
}

TEST_F(LineTest, CommonResetEndsAndReleasesEveryTransaction) {
    ASSERT_TRUE(Accepted(1, "Q4550"));
    line_.Lift(1);
    ASSERT_TRUE(Accepted(1, "2"));
    ASSERT_TRUE(Accepted(2, "U"));
    Run(2);
    EXPECT_EQ(line_.Answer(B({0x02, 'W', '4', '0'})).bytes, B({0x06}));
    EXPECT_EQ(Status(1), '1');
    EXPECT_EQ(Status(2), '0');
    EXPECT_EQ(Data(1, "4"), "000200");
    EXPECT_EQ(line_.State(1)->totals.volume_cl, 200U);
}

}  // namespace
}  // namespace dorv::emu::test
