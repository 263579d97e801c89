// Filling readings, counters and the counter write.
#include <gtest/gtest.h>

#include <functional>
#include <limits>

#include "driver_rig.h"

namespace dorv {
namespace {

using namespace test;

// A rig whose column 1 of line 1 dispenses through nozzle 2 at 45.50 a litre.
struct FillingRig : Rig {
    FillingRig() {
        link.Queue(Ack());
        driver.SetPrice(1, 1, 2, 0, 45.5);
        driver.SetCurrentNozzle(1, 1, 2);
        Forget();
    }
};

TEST(ShortFillingReading, ReadsVolumeAndWorksOutTheMoney) {
    FillingRig rig;
    rig.link.Queue(Data(B("x24680")));
    double money = -1;
    const double litres = rig.driver.GetFillingVolume(1, 1, &money);
    EXPECT_EQ(rig.Exchanges(), (std::vector<Sent>{{{0x02, 0x22, '4'}, 17, 0}}));
    EXPECT_DOUBLE_EQ(litres, 246.80);
    EXPECT_DOUBLE_EQ(money, 11229.40);
    EXPECT_DOUBLE_EQ(rig.driver.FilledVolume(1, 1), 246.80);
    EXPECT_EQ(rig.driver.GetLineStatus(1), 1);
}

TEST(ShortFillingReading, AnswersWithoutAReading) {
    struct Case {
        const char* name;
        Answer answer;
        std::uint8_t status;
    };
    const Case cases[] = {
        {"refused: 25", Refused(), 25},
        {"silent line", Silent(), kSilent},
        {"acknowledgement without data is no reading", Ack(), kLineFrameError},
        {"volume with a byte that is no digit is no reading", Data(B("x24:80")), kLineFrameError},
        {"volume cut short is no reading", Data(B("x246")), kLineFrameError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FillingRig rig;
        rig.driver.SetFilledVolume(1, 1, 3);
        rig.link.Queue(c.answer);
        double money = -1;
        EXPECT_EQ(rig.driver.GetFillingVolume(1, 1, &money), 0);
        EXPECT_EQ(money, 0);
        EXPECT_EQ(rig.driver.GetLineStatus(1), c.status);
        EXPECT_EQ(rig.driver.FilledVolume(1, 1), 3);
    }
}

TEST(ShortFillingReading, FailedExchangeRaisesAndLeavesTheMoneyAlone) {
    FillingRig rig;
    rig.link.Queue(Failed());
    double money = -1;
    EXPECT_EQ(RaisedBy([&] { rig.driver.GetFillingVolume(1, 1, &money); }), SerialError(msg::kFilling));
    EXPECT_EQ(money, -1);
}

TEST(FillingReading, TypeQueryThenTheReadingInTheTypesLayout) {
    struct Case {
        const char* name;
        char type;
        Bytes reply;  // data bytes of the '5' reply
        int replyLength;
        double litres;
        double money;
    };
    // Price 21.80: 25.75 litres make 561.35 computed, so the controller's 561.50 stands.
    const Case cases[] = {
        {"type 1: 6 volume, 6 amount digits", 'A', B("002575") + B("056150") + B("2180"), 36, 25.75, 561.50},
        {"type 2: 6 volume, 8 amount digits", 'B', B("002575") + B("00056150") + B("002180"), 44, 25.75, 561.50},
        {"type 8: 5 volume, 7 amount digits", 'H', B("02575") + B("0056150") + B("2180"), 38, 25.75, 561.50},
        {"type 0 reads as type 1", '@', B("002575") + B("056150") + B("2180"), 36, 25.75, 561.50},
        {"an amount that is no number leaves the computed money", 'A', B("002575") + B("05x150") + B("2180"), 36, 25.75, 561.35},
        {"an amount cut short leaves the computed money", 'A', B("002575") + B("0561"), 36, 25.75, 561.35},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.link.Queue(Ack());
        rig.driver.SetPrice(1, 3, 1, 0, 21.80);
        rig.driver.SetCurrentNozzle(1, 3, 1);
        rig.Forget();
        rig.Queue({Data({static_cast<std::uint8_t>(c.type)}), Data(c.reply)});
        double litres = -1;
        double money = -1;
        rig.driver.GetFilling(1, 3, &litres, &money);
        EXPECT_EQ(rig.Exchanges(), (std::vector<Sent>{{{0x02, 0x23, '7'}, 6, 2}, {{0x02, 0x23, '5'}, c.replyLength, 2}}));
        EXPECT_DOUBLE_EQ(litres, c.litres);
        EXPECT_DOUBLE_EQ(money, c.money);
        EXPECT_DOUBLE_EQ(rig.driver.FilledVolume(1, 3), c.litres);
    }
}

TEST(FillingReading, TheControllersAmountSuppliesThePartBelowOneMillionUnits) {
    struct Case {
        const char* name;
        double price;
        const char* volume;
        const char* amount;
        double money;
    };
    const Case cases[] = {
        // 211.23 litres at 50.00 compute to 10561.50: 10000 above the controller's 561.50.
        {"millions from the computed money", 50.0, "021123", "056150", 10561.50},
        {"within 9000 of the amount the controller's amount stands", 45.5, "000100", "000500", 5.00},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FillingRig rig;
        rig.link.Queue(Ack());
        rig.driver.SetPrice(1, 1, 2, 0, c.price);
        rig.Forget();
        rig.Queue({Data(B("A")), Data(B(c.volume) + B(c.amount) + B("5000"))});
        double litres = 0;
        double money = 0;
        rig.driver.GetFilling(1, 1, &litres, &money);
        EXPECT_DOUBLE_EQ(money, c.money);
    }
}

TEST(FillingReading, AnswersWithoutAReading) {
    struct Case {
        const char* name;
        Answer answer;
        std::uint8_t status;
        Raised raised;
        double out;  // both outputs afterwards
    };
    const Case cases[] = {
        {"silent line gives zeros", Silent(), kSilent, Nothing(), 0},
        {"a refusal carries no volume", Refused(), kLineFrameError, Nothing(), 0},
        {"volume with a byte that is no digit", Data(B("0025-5056150")), kLineFrameError, Nothing(), 0},
        {"failed exchange leaves the outputs alone", Failed(), kSilent, SerialError(msg::kFilling), -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FillingRig rig;
        rig.driver.SetFilledVolume(1, 1, 3);
        rig.Queue({Data(B("A")), c.answer});
        double litres = -1;
        double money = -1;
        EXPECT_EQ(RaisedBy([&] { rig.driver.GetFilling(1, 1, &litres, &money); }), c.raised);
        EXPECT_EQ(litres, c.out);
        EXPECT_EQ(money, c.out);
        EXPECT_EQ(rig.driver.GetLineStatus(1), c.status);
        EXPECT_EQ(rig.driver.FilledVolume(1, 1), 3);
    }
}

TEST(FillingReading, TypeQueryFailureAndColumnRange) {
    FillingRig rig;
    rig.link.Queue(Failed());
    double litres = 0, money = 0;
    EXPECT_EQ(RaisedBy([&] { rig.driver.GetFilling(1, 1, &litres, &money); }), SerialError(msg::kGetType));
    rig.Forget();
    // Column 290 would be column 34 as a byte and 257 column 1: neither gets a type query.
    for (std::int32_t column : {34, 257, 290, -1}) {
        EXPECT_EQ(RaisedBy([&] { rig.driver.GetFilling(1, column, &litres, &money); }), CallerError(msg::kColumnRange));
    }
    EXPECT_EQ(RaisedBy([&] { rig.driver.GetFilling(297, 1, &litres, &money); }), CallerError(msg::kLineRange));
    EXPECT_TRUE(rig.link.calls.empty());
}

TEST(FillingReading, WithSpecAvtomatikaItIsTheShortReading) {
    FillingRig rig;
    rig.Set([](DriverSettings& s) { s.specAvtomatika = true; });
    rig.link.Queue(Data(B("x24680")));
    double litres = 0, money = 0;
    rig.driver.GetFilling(1, 1, &litres, &money);
    EXPECT_EQ(rig.Commands(), std::vector<std::uint8_t>{'4'});
    EXPECT_DOUBLE_EQ(litres, 246.80);
    EXPECT_DOUBLE_EQ(money, 11229.40);
}

TEST(ShortFillingReading, ALineOrColumnWithoutMoneyScaleCountsNoMoney) {
    Rig rig;
    rig.link.Queue(Ack());
    rig.driver.SetPrice(1, 33, 1, 0, 45.5);  // scales of column 33 start at 0
    rig.driver.SetCurrentNozzle(1, 33, 1);
    rig.Forget();
    rig.link.Queue(Data(B("x24680")));
    double money = -1;
    EXPECT_DOUBLE_EQ(rig.driver.GetFillingVolume(1, 33, &money), 246.80);
    EXPECT_EQ(money, 0);
}

// ---- counters ----

TEST(Counters, DigitCountsFollowFromWhereTheReplyEnds) {
    struct Case {
        const char* name;
        Bytes data;
        double first;
        double second;
    };
    const Case cases[] = {
        {"16 data bytes: 8 and 7 digits", B("12345678") + B("1234567") + B("0"), 123456.78, 12345.67},
        {"15 data bytes: 8 and 7 digits", B("00012345") + B("0009876"), 123.45, 98.76},
        {"11 data bytes: 6 and 5 digits", B("001250") + B("00500"), 12.50, 5.00},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.link.Queue(Data(c.data));
        double first = -1, second = -1;
        rig.driver.ReadCounters(1, 2, 3, &first, &second, 0, 0);
        EXPECT_EQ(rig.Exchanges(), (std::vector<Sent>{{{0x02, 0x24, '6'}, 52, 2}}));
        EXPECT_DOUBLE_EQ(first, c.first);
        EXPECT_DOUBLE_EQ(second, c.second);
        EXPECT_EQ(rig.driver.GetLineStatus(1), 1);
    }
}

TEST(Counters, NoVolumeCounterSetsLineStatusThree) {
    struct Case {
        const char* name;
        Answer answer;
    };
    const Case cases[] = {
        {"silent line", Silent()},
        {"refusal", Refused()},
        {"acknowledgement without data", Ack()},
        {"zero volume counter", Data(B("00000000") + B("0001000") + B("0"))},
        {"reply without digits", Data(B("ABCDEFGHIJKLMNO"))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.link.Queue(c.answer);
        double first = -1, second = -1;
        rig.driver.ReadCounters(1, 2, 3, &first, &second, 0, 0);
        EXPECT_EQ(first, 0);
        EXPECT_EQ(rig.driver.GetLineStatus(1), kLineFrameError);
    }
}

TEST(Counters, FailedReadingRaisesAndLeavesTheOutputsAlone) {
    Rig rig;
    rig.link.Queue(Failed());
    double first = -1, second = -1;
    EXPECT_EQ(RaisedBy([&] { rig.driver.ReadCounters(1, 2, 3, &first, &second, 0, 0); }), SerialError(msg::kFilling));
    EXPECT_EQ(first, -1);
    EXPECT_EQ(second, -1);
}

TEST(CounterWrite, PreparesWritesAndReadsTheConfirmation) {
    struct Case {
        const char* name;
        double value;
        const char* digits;
    };
    const Case cases[] = {
        {"whole", 1234.5, "00123450"},
        {"a half rounds to even, down", 0.125, "00000012"},
        {"a half rounds to even, up", 0.375, "00000038"},
        {"the largest that fits", 999999.99, "99999999"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.Queue({Ack(), Ack(), Data(B("J0000"))});
        rig.driver.WriteCounter(1, 2, 3, &c.value, 0, 0, 0);
        EXPECT_EQ(rig.Exchanges(), (std::vector<Sent>{{Bytes{0x02, 0x22, 'O', 'J'} + B("0000"), 2, 0},
                                                      {Bytes{0x02, 0x24, '6', 0x01} + B(c.digits), 1, 0},
                                                      {{0x02, 0x22, 'N', 'J'}, 14, 2}}));
    }
}

TEST(CounterWrite, ValuesThatDoNotFitSendNothing) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (double value : {100000000.0, 1000000.0, -0.01, nan}) {
        SCOPED_TRACE(value);
        Rig rig;
        EXPECT_EQ(RaisedBy([&] { rig.driver.WriteCounter(1, 2, 3, &value, 0, 0, 0); }), CallerError(msg::kValueRange));
        EXPECT_TRUE(rig.link.calls.empty());
    }
    Rig rig;
    EXPECT_EQ(RaisedBy([&] { rig.driver.WriteCounter(1, 2, 3, nullptr, 0, 0, 0); }), CallerError(msg::kValueRange));
    EXPECT_TRUE(rig.link.calls.empty());
}

TEST(CounterWrite, FailedWriteRaisesWithoutTheConfirmationRead) {
    Rig rig;
    rig.Queue({Ack(), Failed()});
    const double value = 10;
    EXPECT_EQ(RaisedBy([&] { rig.driver.WriteCounter(1, 2, 3, &value, 0, 0, 0); }), SerialError(msg::kFilling));
    EXPECT_EQ(rig.Commands(), (std::vector<std::uint8_t>{'O', '6'}));
}

TEST(Readings, OutOfRangeArgumentsRaiseBeforeAnythingIsSent) {
    struct Case {
        const char* name;
        std::function<void(TVM30&)> call;
        Raised raised;
    };
    double a = 0, b = 0;
    const double v = 1;
    const Case cases[] = {
        {"short reading, column 34", [&](TVM30& d) { d.GetFillingVolume(1, 34, &a); }, CallerError(msg::kColumnRange)},
        {"short reading, line 40", [&](TVM30& d) { d.GetFillingVolume(40, 1, &a); }, CallerError(msg::kLineRange)},
        {"counters, column 34", [&](TVM30& d) { d.ReadCounters(1, 34, 1, &a, &b, 0, 0); }, CallerError(msg::kColumnRange)},
        {"counters, nozzle 5", [&](TVM30& d) { d.ReadCounters(1, 1, 5, &a, &b, 0, 0); }, CallerError(msg::kNozzleRange)},
        {"counter write, column 34", [&](TVM30& d) { d.WriteCounter(1, 34, 1, &v, 0, 0, 0); }, CallerError(msg::kColumnRange)},
        {"counter write, nozzle -1", [&](TVM30& d) { d.WriteCounter(1, 1, -1, &v, 0, 0, 0); }, CallerError(msg::kNozzleRange)},
        {"current nozzle out of range",
         [&](TVM30& d) {
             d.SetCurrentNozzle(1, 1, 9);
             d.GetFillingVolume(1, 1, &a);
         },
         CallerError(msg::kNozzleRange)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        EXPECT_EQ(RaisedBy([&] { c.call(rig.driver); }), c.raised);
        EXPECT_TRUE(rig.link.calls.empty());
    }
}

}  // namespace
}  // namespace dorv
