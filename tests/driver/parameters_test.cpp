// Type query, numbered parameters, common settings, address programming, line set-up.
#include <gtest/gtest.h>

#include <functional>
#include <limits>

#include "driver_rig.h"

namespace dorv {
namespace {

using namespace test;

using Call = std::function<void(TVM30&)>;

TEST(TypeQuery, TypeCharacterGivesTheColumnType) {
    struct Case {
        const char* name;
        Answer answer;
        std::uint8_t type;
    };
    const Case cases[] = {
        {"'C' is type 3", Data(B("C")), 3},
        {"'H' is type 8", Data(B("H")), 8},
        {"'@' is type 0", Data(B("@")), 0},
        {"'I' would be 9: type 1", Data(B("I")), 1},
        {"'5' wraps below '@': type 1", Data(B("5")), 1},
        {"a refusal carries no type character: type 1", Refused(), 1},
        {"silent line leaves the type", Silent(), 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.driver.SetColumnType(1, 4, 6);
        rig.link.Queue(c.answer);
        rig.driver.QueryType(1, 4);
        EXPECT_EQ(rig.Exchanges(), (std::vector<Sent>{{{0x02, 0x24, '7'}, 6, 2}}));
        EXPECT_EQ(rig.driver.ColumnType(1, 4), c.type);
    }
}

TEST(TypeQuery, AsksTheColumnsFirstNozzleAndRaisesOnFailure) {
    Rig rig;
    rig.Set([](DriverSettings& s) { s.pistStep = 4; });
    rig.Queue({Data(B("B")), Failed()});
    rig.driver.QueryType(1, 2);
    EXPECT_EQ(rig.Requests(), (std::vector<Bytes>{{0x02, 0x22, '7'}}));
    EXPECT_EQ(RaisedBy([&] { rig.driver.QueryType(1, 2); }), SerialError(msg::kGetType));
    EXPECT_EQ(RaisedBy([&] { rig.driver.QueryType(1, 34); }), CallerError(msg::kColumnRange));
    EXPECT_EQ(RaisedBy([&] { rig.driver.QueryType(40, 1); }), CallerError(msg::kLineRange));
    EXPECT_EQ(rig.link.calls.size(), 2u);
}

TEST(GetParam, HostNumberSelectsNozzleAndParameter) {
    struct Case {
        const char* name;
        std::int32_t p;
        Sent sent;
    };
    const Case cases[] = {
        {"10: number 0 of nozzle 1", 10, {{0x02, 0x23, 'N', '0'}, 8, 2}},
        {"36: number 26 of nozzle 1, four digits", 36, {{0x02, 0x23, 'N', 'J'}, 14, 2}},
        {"75: number 5 of nozzle 2 at address 4", 75, {{0x02, 0x24, 'N', '5'}, 12, 2}},
        {"69: number 59 of nozzle 1, no digits", 69, {{0x02, 0x23, 'N', 'k'}, 6, 2}},
        {"249: number 59 of nozzle 4", 249, {{0x02, 0x26, 'N', 'k'}, 6, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.link.Queue(Data(B("x7")));
        EXPECT_EQ(rig.driver.GetParam(1, 3, c.p), 7);
        EXPECT_EQ(rig.Exchanges(), std::vector<Sent>{c.sent});
    }
}

TEST(GetParam, Replies) {
    struct Case {
        const char* name;
        std::int32_t p;
        Answer answer;
        std::int32_t value;
        std::uint8_t status;
        Raised raised;
    };
    const Case cases[] = {
        {"digits after the unexamined data byte", 36, Data(B("J5821")), 5821, 1, Nothing()},
        {"reading stops at the first byte without bits 4 and 5", 36,
         Data(B("J12\x05"
                "4")),
         12, 1, Nothing()},
        {"bytes with bits 4 and 5 count as digits", 36, Data(B("J1:")), 20, 1, Nothing()},
        {"an acknowledgement is no reading of 0; the request's '5' is no digit", 15, Ack(), -1, 3, Nothing()},
        {"a negative acknowledgement is no reading", 36, Raw({0x15}), -1, 3, Nothing()},
        {"a data frame without digits is no reading", 36, Data(B("J")), -1, 3, Nothing()},
        {"a data frame whose first digit is none is no reading", 36,
         Data(B("J\x05"
                "12")),
         -1, 3, Nothing()},
        {"a field shorter than the digit count still reads", 36, Data(B("J7")), 7, 1, Nothing()},
        {"a parameter without digits reads 0 from a bare data frame", 69, Data(B("x")), 0, 1, Nothing()},
        {"but not from an acknowledgement", 69, Ack(), -1, 3, Nothing()},
        {"too many digits saturate", 36, Data(B("J99999999999999")), std::numeric_limits<std::int32_t>::max(), 1, Nothing()},
        {"refused: -1 and 23", 36, Refused(), -1, 23, Nothing()},
        {"silent line: -1", 36, Silent(), -1, kSilent, Nothing()},
        {"failed exchange", 36, Failed(), 0, kSilent, SerialError(msg::kGetParam)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.link.Queue(c.answer);
        std::int32_t value = 0;
        EXPECT_EQ(RaisedBy([&] { value = rig.driver.GetParam(1, 1, c.p); }), c.raised);
        EXPECT_EQ(value, c.value);
        EXPECT_EQ(rig.driver.GetLineStatus(1), c.status);
    }
}

TEST(GetParam, NothingIsSentForUnreadableOrUnaddressableParameters) {
    struct Case {
        const char* name;
        std::int32_t column;
        std::int32_t p;
        std::int32_t value;
        Raised raised;
    };
    const Case cases[] = {
        {"9 is no numbered parameter", 1, 9, -1, Nothing()},
        {"negative numbers neither", 1, -5, -1, Nothing()},
        {"250 would be a fifth nozzle", 1, 250, 0, CallerError(msg::kNozzleRange)},
        {"column 34", 34, 36, 0, CallerError(msg::kColumnRange)},
        {"column 34 also for p below 10", 34, 5, 0, CallerError(msg::kColumnRange)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        std::int32_t value = 0;
        EXPECT_EQ(RaisedBy([&] { value = rig.driver.GetParam(1, c.column, c.p); }), c.raised);
        EXPECT_EQ(value, c.value);
        EXPECT_TRUE(rig.link.calls.empty());
    }
}

TEST(NumberedWrite, CarriesTheParametersDigitCount) {
    struct Case {
        const char* name;
        std::int32_t column;
        std::int32_t index;
        std::int32_t value;
        Sent sent;
    };
    const Case cases[] = {
        {"number 7 has two digits", 2, 7, 5, {Bytes{0x02, 0x22, 'O', '7'} + B("05"), 2, 0}},
        {"number 24 has six: the leading 9 is dropped", 2, 24, 9876543, {Bytes{0x02, 0x22, 'O', 'H'} + B("876543"), 2, 0}},
        {"number 25 has eight", 2, 25, 12345678, {Bytes{0x02, 0x22, 'O', 'I'} + B("12345678"), 2, 0}},
        {"number 52 has none", 2, 52, 5, {{0x02, 0x22, 'O', 'd'}, 2, 0}},
        {"index 67 is number 7 of nozzle 2", 2, 67, 5, {Bytes{0x02, 0x23, 'O', '7'} + B("05"), 2, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.link.Queue(Ack());
        rig.driver.WriteNumberedParam(1, c.column, c.index, c.value);
        EXPECT_EQ(rig.Exchanges(), std::vector<Sent>{c.sent});
    }
}

TEST(NumberedWrite, Outcomes) {
    struct Case {
        const char* name;
        std::int32_t index;
        std::int32_t value;
        Answer answer;
        std::uint8_t status;
        Raised raised;
        std::size_t sent;
    };
    const Case cases[] = {
        {"accepted", 7, 5, Ack(), 1, Nothing(), 1},
        {"refused sets 23", 7, 5, Refused(), 23, Nothing(), 1},
        {"silent line", 7, 5, Silent(), kSilent, Nothing(), 1},
        {"failed exchange", 7, 5, Failed(), kSilent, SerialError(msg::kGetParam), 1},
        {"negative index", -1, 5, Ack(), 0, CallerError(msg::kParameterRange), 0},
        {"index of a fifth nozzle", 240, 5, Ack(), 0, CallerError(msg::kNozzleRange), 0},
        {"a negative value, not the digits of its size", 7, -5, Ack(), 0, CallerError(msg::kValueRange), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.link.Queue(c.answer);
        EXPECT_EQ(RaisedBy([&] { rig.driver.WriteNumberedParam(1, 2, c.index, c.value); }), c.raised);
        EXPECT_EQ(rig.driver.GetLineStatus(1), c.status);
        EXPECT_EQ(rig.link.calls.size(), c.sent);
    }
}

TEST(SetParam, HostNumberSelectsTheCommand) {
    struct Case {
        const char* name;
        std::int32_t p;
        std::int32_t v;
        Sent sent;
    };
    const Case cases[] = {
        {"p 3: common setting", 3, 1, {{0x02, 0x57, 0x33, 0x31}, 0, 0}},
        {"p 0, value 9", 0, 9, {{0x02, 0x57, 0x30, 0x39}, 0, 0}},
        {"p 9: ID 60718 gets address 5", 9, 6071805, {{0x02, 0x5D, 0x36, 0x30, 0x37, 0x31, 0x38, 0x30, 0x30, 0x35}, 2, 0}},
        {"p 10: number 0 of nozzle 1", 10, 7, {{0x02, 0x21, 'O', '0', '7'}, 2, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.link.Queue(Ack());
        rig.driver.SetParam(1, 1, c.p, c.v);
        EXPECT_EQ(rig.Exchanges(), std::vector<Sent>{c.sent});
    }
}

TEST(SetParam, CommonSettingsLookOnlyAtTheLinksResult) {
    struct Case {
        const char* name;
        Answer answer;
        std::uint8_t status;
        Raised raised;
    };
    const Case cases[] = {
        {"refusal goes unnoticed", Refused(), 1, Nothing()},
        {"silence goes unnoticed", Silent(), kSilent, Nothing()},
        {"failed exchange", Failed(), kSilent, SerialError(msg::kSetParam)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.link.Queue(c.answer);
        EXPECT_EQ(RaisedBy([&] { rig.driver.SetParam(1, 1, 3, 1); }), c.raised);
        EXPECT_EQ(rig.driver.GetLineStatus(1), c.status);
    }
}

TEST(SetParam, ArgumentsThatCannotTravelSendNothing) {
    struct Case {
        const char* name;
        std::int32_t line;
        std::int32_t column;
        std::int32_t p;
        std::int32_t v;
        Raised raised;
    };
    const Raised column = CallerError(msg::kColumnRange);
    const Case cases[] = {
        {"column 34, common setting", 1, 34, 3, 1, column},
        {"column 34, address programming", 1, 34, 9, 6071805, column},
        {"column 34, numbered", 1, 34, 10, 7, column},
        {"column -1", 1, -1, 10, 7, column},
        {"a setting value of 10 is no digit", 1, 1, 3, 10, CallerError(msg::kValueRange)},
        {"a negative setting value", 1, 1, 3, -1, CallerError(msg::kValueRange)},
        {"a negative setting number", 1, 1, -1, 1, CallerError(msg::kParameterRange)},
        {"a negative ID number", 1, 1, 9, -6071805, CallerError(msg::kValueRange)},
        {"a negative numbered value, not the digits of its size", 1, 1, 34, -123, CallerError(msg::kValueRange)},
        {"a negative value of a parameter without digits", 1, 1, 62, -1, CallerError(msg::kValueRange)},
        {"line 257 is no line 1", 257, 1, 9, 6071805, CallerError(msg::kLineRange)},
        {"line 40, common setting", 40, 1, 3, 1, CallerError(msg::kLineRange)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        EXPECT_EQ(RaisedBy([&] { rig.driver.SetParam(c.line, c.column, c.p, c.v); }), c.raised);
        EXPECT_TRUE(rig.link.calls.empty());
    }
}

TEST(AddressProgramming, RequestLayout) {
    struct Case {
        const char* name;
        std::int32_t id;
        std::int32_t address;
        Bytes request;
    };
    const Case cases[] = {
        {"ten ID characters: 5, the address, 5", 907162, 17, Bytes{0x02, 0x5D} + B("00009") + B("017") + B("07162")},
        {"ID 0, address 0", 0, 0, Bytes{0x02, 0x5D} + B("00000") + B("000")},
        {"five ID characters", 60718, 5, Bytes{0x02, 0x5D} + B("60718") + B("005")},
        {"the largest ID", std::numeric_limits<std::int32_t>::max(), 99, Bytes{0x02, 0x5D} + B("21474") + B("099") + B("83647")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.link.Queue(Ack());
        rig.driver.ProgramNozzleAddress(1, 1, c.id, c.address);
        EXPECT_EQ(rig.Exchanges(), (std::vector<Sent>{{c.request, 2, 0}}));
    }
}

TEST(AddressProgramming, Outcomes) {
    struct Case {
        const char* name;
        std::uint8_t column;
        std::int32_t id;
        std::int32_t address;
        Answer answer;
        std::uint8_t status;
        Raised raised;
        std::size_t sent;
    };
    const Case cases[] = {
        {"accepted", 1, 60718, 5, Ack(), 1, Nothing(), 1},
        {"refused sets 24", 1, 60718, 5, Refused(), 24, Nothing(), 1},
        {"silent line raises", 1, 60718, 5, Silent(), kSilent, SerialError(msg::kAddressNotAnswered), 1},
        {"failed exchange", 1, 60718, 5, Failed(), kSilent, SerialError(msg::kSetAddress), 1},
        {"column 34", 34, 60718, 5, Ack(), 0, CallerError(msg::kColumnRange), 0},
        {"negative ID", 1, -60718, 5, Ack(), 0, CallerError(msg::kValueRange), 0},
        {"negative address", 1, 60718, -5, Ack(), 0, CallerError(msg::kValueRange), 0},
        {"address of four digits", 1, 60718, 1000, Ack(), 0, CallerError(msg::kValueRange), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.link.Queue(c.answer);
        EXPECT_EQ(RaisedBy([&] { rig.driver.ProgramNozzleAddress(1, c.column, c.id, c.address); }), c.raised);
        EXPECT_EQ(rig.driver.GetLineStatus(1), c.status);
        EXPECT_EQ(rig.link.calls.size(), c.sent);
    }
}

TEST(SetupLine, InstallsTheConfiguratorThenConfiguresOnce) {
    Rig rig;
    rig.link.configureResult = 7;
    EXPECT_EQ(rig.driver.SetupLine(5), 7);
    EXPECT_EQ(rig.link.configuratorInstalls, 1);
    EXPECT_EQ(rig.link.configuratorContext, &rig.driver);
    EXPECT_EQ(rig.link.configureArgs, (std::vector<std::int32_t>{5, 42, 4800}));

    // The link applies the settings again through the installed configurator.
    rig.link.configureResult = 9;
    ASSERT_NE(rig.link.configurator, nullptr);
    EXPECT_EQ(rig.link.configurator(rig.link.configuratorContext, 5), 9);
    EXPECT_EQ(rig.link.configureArgs, (std::vector<std::int32_t>{5, 42, 4800, 5, 42, 4800}));
    EXPECT_TRUE(rig.link.calls.empty());
}

TEST(SetupLine, InstallsBeforeConfiguring) {
    // A link that records the order of the two calls.
    struct OrderLink : RecordingLink {
        std::vector<std::string> order;
        std::int32_t DORV_CALL ConfigureLine(std::uint8_t l, std::int32_t f, std::int32_t b) override {
            order.push_back("configure");
            return RecordingLink::ConfigureLine(l, f, b);
        }
        void DORV_CALL SetLineConfigurator(std::uint8_t l, LineConfigurator c, void* ctx) override {
            order.push_back("install");
            RecordingLink::SetLineConfigurator(l, c, ctx);
        }
    };
    TempDir dir;
    OrderLink link;
    TVM30 driver(0, &link);
    driver.SetupLine(2);
    EXPECT_EQ(link.order, (std::vector<std::string>{"install", "configure"}));
}

}  // namespace
}  // namespace dorv
