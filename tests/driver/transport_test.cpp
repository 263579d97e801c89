// The parameter transport of the service window: reads and writes by raw controller address.
#include <gtest/gtest.h>

#include <functional>
#include <limits>

#include "driver_rig.h"

namespace dorv {
namespace {

using namespace test;

constexpr std::uint8_t kNumbered = 0;
constexpr std::uint8_t kCommon = 1;
constexpr std::uint8_t kNetworkAddress = 2;

TEST(ReadParameter, RequestByRawAddressAndTheDigitsOfTheReply) {
    struct Case {
        const char* name;
        std::int32_t address;
        std::int32_t number;
        Answer answer;
        Sent sent;
        std::int64_t value;
    };
    const Case cases[] = {
        {"address 5, number 9",
         5,
         9,
         Raw({0x02, 0x39, 0x46, 0x31, 0x4E, 0x32, 0x4D, 0x35, 0x4A, 0x03, 0x03, 0x4C}),
         {{0x02, 0x25, 0x4E, 0x39}, 12, 2},
         125},
        {"address 20 is group 7, byte 0x25", 20, 9, Data(B("x125")), {{0x07, 0x25, 0x4E, 0x39}, 12, 2}, 125},
        {"number 52: reply length 6, a reply without digits reads 0", 1, 52, Data(B("x")), {{0x02, 0x21, 'N', 'd'}, 6, 2}, 0},
        {"number 52: all thirteen digits of an ID number", 1, 52, Data(B("x1234567890123")), {{0x02, 0x21, 'N', 'd'}, 6, 2}, 1234567890123},
        {"a field shorter than the digit count still reads", 5, 9, Data(B("x7")), {{0x02, 0x25, 0x4E, 0x39}, 12, 2}, 7},
        {"the highest address a group byte carries", 3750, 9, Data(B("x7")), {{0xFF, 0x20, 0x4E, 0x39}, 12, 2}, 7},
        {"too many digits saturate",
         1,
         52,
         Data(B("x") + Bytes(25, '9')),
         {{0x02, 0x21, 'N', 'd'}, 6, 2},
         std::numeric_limits<std::int64_t>::max()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.link.Queue(c.answer);
        EXPECT_EQ(rig.driver.ReadParameter(kNumbered, 1, c.address, c.number, 3), c.value);
        EXPECT_EQ(rig.Exchanges(), std::vector<Sent>{c.sent});
        EXPECT_EQ(rig.driver.GetLineStatus(1), 1);
    }
}

TEST(ReadParameter, Outcomes) {
    struct Case {
        const char* name;
        std::uint8_t kind;
        std::int32_t number;
        Answer answer;
        std::int64_t value;
        std::uint8_t status;
        Raised raised;
        std::size_t sent;
    };
    const Case cases[] = {
        {"common settings are not readable", kCommon, 9, Ack(), -1, 0, Nothing(), 0},
        {"address programming is not readable", kNetworkAddress, 9, Ack(), -1, 0, Nothing(), 0},
        {"refused: -1 and 23", kNumbered, 9, Refused(), -1, 23, Nothing(), 1},
        {"an acknowledgement is no reading of 0; the request's '9' is no digit", kNumbered, 9, Ack(), -1, 3, Nothing(), 1},
        {"a negative acknowledgement is no reading", kNumbered, 9, Raw({0x15}), -1, 3, Nothing(), 1},
        {"a data frame without digits is no reading", kNumbered, 9, Data(B("x")), -1, 3, Nothing(), 1},
        {"number 52 has no digit count, but an acknowledgement is still no reading", kNumbered, 52, Ack(), -1, 3, Nothing(), 1},
        {"silent line", kNumbered, 9, Silent(), 0, kSilent, SerialError(msg::kDispenserSilent), 1},
        {"failed exchange", kNumbered, 9, Failed(), 0, kSilent, SerialError(msg::kLinkFailed), 1},
        {"number 60 has no digit count", kNumbered, 60, Ack(), 0, 0, CallerError(msg::kParameterRange), 0},
        {"negative number", kNumbered, -1, Ack(), 0, 0, CallerError(msg::kParameterRange), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.link.Queue(c.answer);
        std::int64_t value = 0;
        EXPECT_EQ(RaisedBy([&] { value = rig.driver.ReadParameter(c.kind, 1, 5, c.number, 3); }), c.raised);
        EXPECT_EQ(value, c.value);
        EXPECT_EQ(rig.driver.GetLineStatus(1), c.status);
        EXPECT_EQ(rig.link.calls.size(), c.sent);
    }
}

TEST(WriteParameter, Requests) {
    struct Case {
        const char* name;
        std::uint8_t kind;
        std::int64_t line;
        std::int64_t address;
        std::int64_t number;
        std::int64_t digits;
        std::int64_t value;
        std::vector<Sent> sent;
    };
    const Case cases[] = {
        {"numbered: the two lowest digits", kNumbered, 1, 3, 7, 2, 345, {{Bytes{0x02, 0x23, 0x4F, 0x37} + B("45"), 2, 0}}},
        {"numbered: eight-digit counter 25", kNumbered, 1, 3, 25, 8, 12345678, {{Bytes{0x02, 0x23, 'O', 'I'} + B("12345678"), 2, 0}}},
        {"numbered: thirteen-digit ID number 52",
         kNumbered,
         1,
         3,
         52,
         13,
         1234567890123,
         {{Bytes{0x02, 0x23, 'O', 'd'} + B("1234567890123"), 2, 0}}},
        {"numbered: address 20", kNumbered, 1, 20, 7, 2, 5, {{Bytes{0x07, 0x25, 'O', '7'} + B("05"), 2, 0}}},
        {"numbered: the line by its low byte", kNumbered, 257, 3, 7, 2, 5, {{Bytes{0x02, 0x23, 'O', '7'} + B("05"), 2, 0}}},
        {"common setting", kCommon, 2, 9, 3, 1, 1, {{{0x02, 0x57, 0x33, 0x31}, 0, 0}}},
        {"address programming: ID 907162 gets address 17",
         kNetworkAddress,
         1,
         5,
         907162,
         0,
         1217,
         {{Bytes{0x02, 0x5D} + B("00009") + B("017") + B("07162"), 2, 0}}},
        {"calibration: password, coefficient, password read back",
         kNumbered,
         1,
         2,
         27,
         5,
         308,
         {{Bytes{0x02, 0x22, 'O', 'J'} + B("5821"), 2, 0},
          {Bytes{0x02, 0x22, 'O', 'K'} + B("00308"), 2, 0},
          {{0x02, 0x22, 'N', 'J'}, 14, 2}}},
        {"address programming of the controller whose ID is 27 is no calibration",
         kNetworkAddress,
         1,
         5,
         27,
         0,
         17,
         {{Bytes{0x02, 0x5D} + B("00027") + B("017"), 2, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.Queue({Ack(), Ack(), Data(B("J0000"))});
        EXPECT_TRUE(rig.driver.WriteParameter(c.kind, c.line, c.address, c.number, c.digits, c.value));
        EXPECT_EQ(rig.Exchanges(), c.sent);
    }
}

TEST(WriteParameter, Outcomes) {
    struct Case {
        const char* name;
        std::uint8_t kind;
        std::int64_t address;
        std::int64_t number;
        std::int64_t digits;
        std::int64_t value;
        std::vector<Answer> answers;
        bool result;
        std::uint8_t status;
        Raised raised;
        std::size_t sent;
    };
    const Case cases[] = {
        {"numbered, refused: still carried out", kNumbered, 3, 7, 2, 5, {Refused()}, true, 1, Nothing(), 1},
        {"numbered, failed exchange: false", kNumbered, 3, 7, 2, 5, {Failed()}, false, kSilent, Nothing(), 1},
        {"common, failed exchange: false", kCommon, 3, 3, 1, 1, {Failed()}, false, kSilent, Nothing(), 1},
        {"kind 3 is not transferred", 3, 3, 7, 2, 5, {}, false, 0, Nothing(), 0},
        {"calibration at address 40", kNumbered, 40, 27, 5, 308, {}, false, 0, CallerError(msg::kColumnRange), 0},
        {"calibration goes on after refusals", kNumbered, 2, 27, 5, 308, {Refused(), Refused(), Refused()}, true, 23, Nothing(), 3},
        {"calibration, failed exchange", kNumbered, 2, 27, 5, 308, {Ack(), Failed()}, false, kSilent, SerialError(msg::kGetParam), 2},
        {"address programming at address 34", kNetworkAddress, 34, 907162, 0, 17, {}, false, 0, CallerError(msg::kColumnRange), 0},
        {"address programming, silent line",
         kNetworkAddress,
         5,
         907162,
         0,
         17,
         {Silent()},
         false,
         kSilent,
         SerialError(msg::kAddressNotAnswered),
         1},
        {"address programming, refused: 24", kNetworkAddress, 5, 907162, 0, 17, {Refused()}, true, 24, Nothing(), 1},
        {"address programming, negative value", kNetworkAddress, 5, 907162, 0, -17, {}, false, 0, CallerError(msg::kValueRange), 0},
        {"address programming, an ID whose low 32 bits are another one",
         kNetworkAddress,
         5,
         (std::int64_t{1} << 32) + 27,
         0,
         17,
         {},
         false,
         0,
         CallerError(msg::kValueRange),
         0},
        {"numbered, number 60", kNumbered, 3, 60, 2, 5, {}, false, 0, CallerError(msg::kParameterRange), 0},
        {"numbered, a number whose low byte is 5", kNumbered, 3, 261, 2, 5, {}, false, 0, CallerError(msg::kParameterRange), 0},
        {"numbered, negative digit count", kNumbered, 3, 7, -1, 5, {}, false, 0, CallerError(msg::kValueRange), 0},
        {"numbered, more digits than a frame holds", kNumbered, 3, 7, 123, 5, {}, false, 0, CallerError(msg::kValueRange), 0},
        {"common, value 10 is no digit", kCommon, 3, 3, 1, 10, {}, false, 0, CallerError(msg::kValueRange), 0},
        {"common, number 10", kCommon, 3, 10, 1, 1, {}, false, 0, CallerError(msg::kParameterRange), 0},
        {"common, number 27 is no setting and no calibration", kCommon, 2, 27, 5, 1, {}, false, 0, CallerError(msg::kParameterRange), 0},
        {"numbered, a negative value, not the digits of its size", kNumbered, 3, 7, 3, -45, {}, false, 0, CallerError(msg::kValueRange), 0},
        {"calibration, a negative coefficient sends not even the password",
         kNumbered,
         2,
         27,
         5,
         -308,
         {},
         false,
         0,
         CallerError(msg::kValueRange),
         0},
        {"calibration, a coefficient beyond 32 bits",
         kNumbered,
         2,
         27,
         5,
         (std::int64_t{1} << 32) + 308,
         {},
         false,
         0,
         CallerError(msg::kValueRange),
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        for (const Answer& a : c.answers) rig.link.Queue(a);
        bool result = false;
        EXPECT_EQ(RaisedBy([&] { result = rig.driver.WriteParameter(c.kind, 1, c.address, c.number, c.digits, c.value); }), c.raised);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(rig.driver.GetLineStatus(1), c.status);
        EXPECT_EQ(rig.link.calls.size(), c.sent);
    }
}

TEST(Transport, AddressesAGroupByteCannotCarrySendNothing) {
    struct Case {
        const char* name;
        std::function<void(TVM30&)> call;
    };
    // 3751 would be group 0x100, 3783 the group and address bytes of address 3.
    const Case cases[] = {
        {"read, address -1", [](TVM30& d) { d.ReadParameter(kNumbered, 1, -1, 9, 3); }},
        {"read, address 3751", [](TVM30& d) { d.ReadParameter(kNumbered, 1, 3751, 9, 3); }},
        {"read, address 3783", [](TVM30& d) { d.ReadParameter(kNumbered, 1, 3783, 9, 3); }},
        {"write, address -1", [](TVM30& d) { d.WriteParameter(kNumbered, 1, -1, 7, 2, 5); }},
        {"write, address 3783", [](TVM30& d) { d.WriteParameter(kNumbered, 1, 3783, 7, 2, 5); }},
        {"write, address 2^32 + 3", [](TVM30& d) { d.WriteParameter(kNumbered, 1, (std::int64_t{1} << 32) + 3, 7, 2, 5); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.link.Queue(Ack());
        EXPECT_EQ(RaisedBy([&] { c.call(rig.driver); }), CallerError(msg::kAddressRange));
        EXPECT_TRUE(rig.link.calls.empty());
    }
}

TEST(WriteParameter, TheLargestDigitCountFillsAFrame) {
    Rig rig;
    rig.link.Queue(Ack());
    EXPECT_TRUE(rig.driver.WriteParameter(kNumbered, 1, 3, 7, 122, 5));
    ASSERT_EQ(rig.link.calls.size(), 1u);
    EXPECT_EQ(rig.link.calls[0].frame.size(), 255u);
    EXPECT_EQ(rig.Requests()[0].back(), '5');
}

}  // namespace
}  // namespace dorv
