// Start, authorization, stop and release of a nozzle; price and doses.
#include <gtest/gtest.h>

#include <functional>
#include <limits>

#include "driver_rig.h"

namespace dorv {
namespace {

using namespace test;

using Call = std::function<void(TVM30&)>;
using Prepare = std::function<void(Rig&)>;

TEST(NozzleCommands, RequestsGoToTheNozzlesAddressWithReplyLengthTwoAndModeZero) {
    struct Case {
        const char* name;
        Call call;
        std::vector<Sent> sent;
    };
    const Case cases[] = {
        {"start of column 3 nozzle 2 goes to address 4", [](TVM30& d) { d.StartNozzle(1, 3, 2); }, {{{0x02, 0x24, '2'}, 2, 0}}},
        {"nozzle 0 is addressed as nozzle 1", [](TVM30& d) { d.StartNozzle(1, 5, 0); }, {{{0x02, 0x25, '2'}, 2, 0}}},
        {"stop", [](TVM30& d) { d.StopNozzle(1, 1, 1, 1); }, {{{0x02, 0x21, '3'}, 2, 0}}},
        {"stop with flag 0 sends nothing", [](TVM30& d) { d.StopNozzle(1, 1, 1, 0); }, {}},
        {"release of column 16 travels in group 7", [](TVM30& d) { d.ReleaseNozzle(1, 16, 1); }, {{{0x07, 0x21, '8'}, 2, 0}}},
        {"stop and release", [](TVM30& d) { d.StopAndRelease(1, 2, 1, 1); }, {{{0x02, 0x22, '3'}, 2, 0}, {{0x02, 0x22, '8'}, 2, 0}}},
        {"stop and release with flag 0 only releases", [](TVM30& d) { d.StopAndRelease(1, 2, 1, 0); }, {{{0x02, 0x22, '8'}, 2, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        for (std::size_t i = 0; i < c.sent.size(); ++i) rig.link.Queue(Ack());
        c.call(rig.driver);
        EXPECT_EQ(rig.Exchanges(), c.sent);
    }
}

TEST(NozzleCommands, RefusalsShowInLineStatusAndFailuresRaise) {
    const Call start = [](TVM30& d) { d.StartNozzle(1, 1, 1); };
    const Call stop = [](TVM30& d) { d.StopNozzle(1, 1, 1, 1); };
    struct Case {
        const char* name;
        Call call;
        Answer answer;
        bool noVerify;
        std::uint8_t status;
        Raised raised;
    };
    const Case cases[] = {
        {"accepted start", start, Ack(), false, 1, Nothing()},
        {"refused start sets 16", start, Refused(), false, 16, Nothing()},
        {"refused start goes unnoticed without verification", start, Refused(), true, 1, Nothing()},
        {"start on a silent line keeps the link's state", start, Silent(), false, kSilent, Nothing()},
        {"failed start", start, Failed(), false, kSilent, SerialError(msg::kStartPump)},
        {"start whose transaction throws keeps the old status", start, Throws(), false, 0, SerialError(msg::kStartPump)},
        {"accepted stop", stop, Ack(), false, 1, Nothing()},
        {"refused stop sets 20", stop, Refused(), false, 20, Nothing()},
        {"refused stop sets 20 also without verification", stop, Refused(), true, 20, Nothing()},
        {"failed stop", stop, Failed(), false, kSilent, SerialError(msg::kStopPump)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.Set([&](DriverSettings& s) { s.noVerifeAuthorization = c.noVerify; });
        rig.link.Queue(c.answer);
        EXPECT_EQ(RaisedBy([&] { c.call(rig.driver); }), c.raised);
        EXPECT_EQ(rig.driver.GetLineStatus(1), c.status);
    }
}

TEST(NozzleCommands, StartRecordsTheColumnsNozzleEvenWhenTheExchangeFails) {
    Rig rig;
    rig.link.Queue(Failed());
    EXPECT_THROW(rig.driver.StartNozzle(1, 3, 2), ESerialIO);
    EXPECT_EQ(rig.driver.CurrentNozzle(1, 3), 2);
}

TEST(NozzleCommands, ReleaseAndStopAndReleaseReportFailureOnlyInTheirResult) {
    Rig rig;
    rig.Queue({Failed(9), Ack(), Failed(4)});
    EXPECT_EQ(rig.driver.ReleaseNozzle(1, 1, 1), 9);
    EXPECT_EQ(rig.driver.StopAndRelease(1, 1, 1, 1), 4);
}

TEST(NozzleCommands, StopColumnStopsTheNozzleOfTheLastStartAndAnswersFalse) {
    Rig rig;
    rig.Queue({Ack(), Ack()});
    rig.driver.StartNozzle(1, 3, 2);
    EXPECT_FALSE(rig.driver.StopColumn(1, 3, 1));
    EXPECT_EQ(rig.Requests().back(), (Bytes{0x02, 0x24, '3'}));
    EXPECT_FALSE(rig.driver.StopColumn(1, 3, 0));
    EXPECT_EQ(rig.link.calls.size(), 2u);
}

TEST(Authorization, ReleasesTheColumnsPreviousNozzleThenAuthorizesAndStartsTheNewOne) {
    Rig rig;
    rig.driver.SetCurrentNozzle(1, 3, 1);
    rig.Queue({Ack(), Ack(), Ack()});
    rig.driver.AuthorizeNozzle(1, 3, 2, 0);
    EXPECT_EQ(rig.Exchanges(), (std::vector<Sent>{{{0x02, 0x23, '8'}, 2, 0}, {{0x02, 0x24, 'U'}, 2, 0}, {{0x02, 0x24, '2'}, 2, 0}}));
    EXPECT_EQ(rig.driver.CurrentNozzle(1, 3), 2);
}

TEST(Authorization, Sequences) {
    struct Case {
        const char* name;
        std::uint8_t flag;
        bool noVerify;
        bool forceStart;
        std::uint8_t nozzleState;
        std::vector<Answer> answers;
        std::vector<std::uint8_t> commands;
        std::uint8_t status;
        Raised raised;
    };
    const Case cases[] = {
        {"flag 0: release, authorize, start", 0, false, false, 0, {Ack(), Ack(), Ack()}, {'8', 'U', '2'}, 1, Nothing()},
        {"flag 1 only starts", 1, false, false, 0, {Ack()}, {'2'}, 1, Nothing()},
        {"a failed release is ignored", 0, false, false, 0, {Failed(), Ack(), Ack()}, {'8', 'U', '2'}, 1, Nothing()},
        {"no start after an unanswered authorization", 0, false, false, 0, {Ack(), Silent()}, {'8', 'U'}, kSilent, Nothing()},
        {"without verification the start follows regardless", 0, true, false, 0, {Ack(), Silent(), Ack()}, {'8', 'U', '2'}, 1, Nothing()},
        {"a refused authorization still starts; the start's answer rewrites the status",
         0,
         false,
         false,
         0,
         {Ack(), Refused(), Ack()},
         {'8', 'U', '2'},
         1,
         Nothing()},
        {"17 stays when the start fails before the line state is read",
         0,
         false,
         false,
         0,
         {Ack(), Refused(), Throws()},
         {'8', 'U', '2'},
         17,
         SerialError(msg::kStartPump)},
        {"failed authorization", 0, false, false, 0, {Ack(), Failed()}, {'8', 'U'}, kSilent, SerialError(msg::kStartPump)},
        {"refused start sets 16", 1, false, false, 0, {Refused()}, {'2'}, 16, Nothing()},
        {"forced start for a nozzle last polled 225", 1, false, true, 225, {Ack(), Ack()}, {'2', 'V'}, 1, Nothing()},
        {"forced start even after a refused start", 1, false, true, 225, {Refused(), Ack()}, {'2', 'V'}, 1, Nothing()},
        {"refused forced start sets 16", 1, false, true, 225, {Ack(), Refused()}, {'2', 'V'}, 16, Nothing()},
        {"failed forced start", 1, false, true, 225, {Ack(), Failed()}, {'2', 'V'}, kSilent, SerialError(msg::kStartPump)},
        {"no forced start for any other state", 1, false, true, 0xE2, {Ack()}, {'2'}, 1, Nothing()},
        {"no forced start without ForceStart", 1, false, false, 225, {Ack()}, {'2'}, 1, Nothing()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.Set([&](DriverSettings& s) {
            s.noVerifeAuthorization = c.noVerify;
            s.forceStart = c.forceStart;
        });
        rig.driver.SetNozzleState(1, 3, 2, c.nozzleState);
        for (const Answer& a : c.answers) rig.link.Queue(a);
        EXPECT_EQ(RaisedBy([&] { rig.driver.AuthorizeNozzle(1, 3, 2, c.flag); }), c.raised);
        EXPECT_EQ(rig.Commands(), c.commands);
        EXPECT_EQ(rig.driver.GetLineStatus(1), c.status);
    }
}

TEST(NozzleCommands, OutOfRangeArgumentsRaiseBeforeAnythingIsSent) {
    struct Case {
        const char* name;
        Call call;
        Raised raised;
    };
    const Raised column = CallerError(msg::kColumnRange);
    const Raised line = CallerError(msg::kLineRange);
    const Raised nozzle = CallerError(msg::kNozzleRange);
    const Case cases[] = {
        {"start, column 34", [](TVM30& d) { d.StartNozzle(1, 34, 1); }, column},
        {"start, column -1", [](TVM30& d) { d.StartNozzle(1, -1, 1); }, column},
        {"start, line 40", [](TVM30& d) { d.StartNozzle(40, 1, 1); }, line},
        {"start, line -1", [](TVM30& d) { d.StartNozzle(-1, 1, 1); }, line},
        {"start, nozzle 5", [](TVM30& d) { d.StartNozzle(1, 1, 5); }, nozzle},
        {"start, nozzle -1", [](TVM30& d) { d.StartNozzle(1, 1, -1); }, nozzle},
        {"start, nozzle 257 (low byte 1)", [](TVM30& d) { d.StartNozzle(1, 1, 257); }, nozzle},
        {"authorize, column 34", [](TVM30& d) { d.AuthorizeNozzle(1, 34, 1, 0); }, column},
        {"authorize, nozzle 5", [](TVM30& d) { d.AuthorizeNozzle(1, 1, 5, 1); }, nozzle},
        {"authorize, line 40", [](TVM30& d) { d.AuthorizeNozzle(40, 1, 1, 0); }, line},
        {"stop, column 34", [](TVM30& d) { d.StopNozzle(1, 34, 1, 1); }, column},
        {"stop, nozzle 5 would reach another column's controller", [](TVM30& d) { d.StopNozzle(1, 1, 5, 1); }, nozzle},
        {"stop with flag 0 checks nothing", [](TVM30& d) { d.StopNozzle(1, 50, 1, 0); }, Nothing()},
        {"stop column, column 34", [](TVM30& d) { d.StopColumn(1, 34, 1); }, column},
        {"stop column, line 40", [](TVM30& d) { d.StopColumn(40, 1, 0); }, line},
        {"stop and release with flag 0, nozzle 5", [](TVM30& d) { d.StopAndRelease(1, 1, 5, 0); }, nozzle},
        {"stop and release with flag 0, column 34", [](TVM30& d) { d.StopAndRelease(1, 34, 1, 0); }, column},
        {"release, nozzle 5 would be nozzle 1 of column 5", [](TVM30& d) { d.ReleaseNozzle(1, 1, 5); }, nozzle},
        {"release, nozzle -3", [](TVM30& d) { d.ReleaseNozzle(1, 1, -3); }, nozzle},
        {"release, column 34", [](TVM30& d) { d.ReleaseNozzle(1, 34, 1); }, column},
        {"release, column 999", [](TVM30& d) { d.ReleaseNozzle(1, 999, 1); }, column},
        {"price, column 34", [](TVM30& d) { d.SetPrice(1, 34, 1, 0, 10); }, column},
        {"price, nozzle 5", [](TVM30& d) { d.SetPrice(1, 1, 5, 0, 10); }, nozzle},
        {"price, line 40", [](TVM30& d) { d.SetPrice(40, 1, 1, 0, 10); }, line},
        {"volume dose, column 34", [](TVM30& d) { d.PresetVolume(1, 34, 1, 0, 10); }, column},
        {"volume dose, nozzle 5", [](TVM30& d) { d.PresetVolume(1, 1, 5, 0, 10); }, nozzle},
        {"money dose, nozzle -1", [](TVM30& d) { d.PresetAmount(1, 1, -1, 0, 10); }, nozzle},
        {"money dose, line 40", [](TVM30& d) { d.PresetAmount(40, 1, 1, 0, 10); }, line},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        EXPECT_EQ(RaisedBy([&] { c.call(rig.driver); }), c.raised);
        EXPECT_TRUE(rig.link.calls.empty());
    }
}

TEST(NozzleCommands, ColumnThirtyThreePassesTheCheck) {
    Rig rig;
    rig.link.Queue(Ack());
    rig.driver.StartNozzle(1, 33, 1);
    EXPECT_EQ(rig.Requests(), (std::vector<Bytes>{{0x08, 0x23, '2'}}));
}

// ---- price and doses ----

TEST(Doses, ValuesTravelAsFixedDigitFields) {
    struct Case {
        const char* name;
        Prepare prepare;
        Call call;
        Sent sent;
    };
    const Prepare none = [](Rig&) {};
    const Prepare moneyAsMoney = [](Rig& r) {
        r.Set([](DriverSettings& s) { s.startInLiter = false; });
        r.driver.SetPrice(1, 1, 1, 0, 45.5);
    };
    const Case cases[] = {
        {"12.5 litres", none, [](TVM30& d) { d.PresetVolume(1, 1, 1, 0, 12.5); }, {Bytes{0x02, 0x21, 'T'} + B("01250"), 2, 0}},
        {"0.01 litres", none, [](TVM30& d) { d.PresetVolume(1, 1, 1, 0, 0.01); }, {Bytes{0x02, 0x21, 'T'} + B("00001"), 2, 0}},
        {"999.99 litres fill the field",
         none,
         [](TVM30& d) { d.PresetVolume(1, 1, 1, 0, 999.99); },
         {Bytes{0x02, 0x21, 'T'} + B("99999"), 2, 0}},
        {"250.00 money at money scale 100",
         moneyAsMoney,
         [](TVM30& d) { d.PresetAmount(1, 1, 1, 0, 250); },
         {Bytes{0x02, 0x21, 'S'} + B("025000"), 2, 0}},
        {"250.00 money at money scale 1",
         [&](Rig& r) {
             moneyAsMoney(r);
             r.driver.SetScales(1, 1, 100, 1);
         },
         [](TVM30& d) { d.PresetAmount(1, 1, 1, 0, 250); },
         {Bytes{0x02, 0x21, 'S'} + B("000250"), 2, 0}},
        {"100.00 money at 45.50 a litre asks for 2.19 litres",
         [](Rig& r) { r.driver.SetPrice(1, 1, 1, 0, 45.5); },
         [](TVM30& d) { d.PresetAmount(1, 1, 1, 0, 100); },
         {Bytes{0x02, 0x21, 'T'} + B("00219"), 2, 0}},
        {"price 45.50 at price scale 100",
         none,
         [](TVM30& d) { d.SetPrice(1, 1, 1, 0, 45.5); },
         {Bytes{0x02, 0x21, 'Q'} + B("4550"), 2, 0}},
        {"price 45.50 at price scale 10",
         [](Rig& r) { r.driver.SetScales(1, 1, 10, 100); },
         [](TVM30& d) { d.SetPrice(1, 1, 1, 0, 45.5); },
         {Bytes{0x02, 0x21, 'Q'} + B("0455"), 2, 0}},
        {"a half rounds to the even neighbour, down",
         [](Rig& r) { r.driver.SetScales(1, 1, 10, 100); },
         [](TVM30& d) { d.SetPrice(1, 1, 1, 0, 45.25); },
         {Bytes{0x02, 0x21, 'Q'} + B("0452"), 2, 0}},
        {"a half rounds to the even neighbour, up",
         [](Rig& r) { r.driver.SetScales(1, 1, 10, 100); },
         [](TVM30& d) { d.SetPrice(1, 1, 1, 0, 45.75); },
         {Bytes{0x02, 0x21, 'Q'} + B("0458"), 2, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.Queue({Ack(), Ack()});
        c.prepare(rig);
        rig.Forget();
        rig.link.Queue(Ack());
        c.call(rig.driver);
        EXPECT_EQ(rig.Exchanges(), std::vector<Sent>{c.sent});
    }
}

TEST(Doses, OutcomesOfTheDoseCommands) {
    struct Case {
        const char* name;
        bool inLitres;
        Call call;
        Answer answer;
        std::uint8_t status;
        double ordered;
        Raised raised;
    };
    const Call volume = [](TVM30& d) { d.PresetVolume(1, 1, 1, 0, 12.5); };
    const Call money = [](TVM30& d) { d.PresetAmount(1, 1, 1, 0, 250); };
    const Case cases[] = {
        {"accepted volume dose is kept", false, volume, Ack(), 1, 12.5, Nothing()},
        {"refused volume dose sets 18", false, volume, Refused(), 18, 7, Nothing()},
        {"unanswered volume dose keeps the old dose", false, volume, Silent(), kSilent, 7, Nothing()},
        {"failed volume dose", false, volume, Failed(), kSilent, 7, SerialError(msg::kPresetVolume)},
        {"accepted money dose keeps the whole litres it buys", false, money, Ack(), 1, 5, Nothing()},
        {"refused money dose sets 19", false, money, Refused(), 19, 7, Nothing()},
        {"unanswered money dose keeps the old dose", false, money, Silent(), kSilent, 7, Nothing()},
        {"failed money dose", false, money, Failed(), kSilent, 7, SerialError(msg::kPresetAmount)},
        {"money dose in litres, accepted", true, money, Ack(), 1, 5.49, Nothing()},
        {"money dose in litres, refused, sets 18", true, money, Refused(), 18, 7, Nothing()},
        {"money dose in litres, failed", true, money, Failed(), kSilent, 7, SerialError(msg::kPresetVolume)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.Set([&](DriverSettings& s) { s.startInLiter = c.inLitres; });
        rig.link.Queue(Ack());
        rig.driver.SetPrice(1, 1, 1, 0, 45.5);
        rig.driver.SetOrderedVolume(1, 1, 7);
        rig.link.Queue(c.answer);
        EXPECT_EQ(RaisedBy([&] { c.call(rig.driver); }), c.raised);
        EXPECT_EQ(rig.driver.GetLineStatus(1), c.status);
        EXPECT_DOUBLE_EQ(rig.driver.OrderedVolume(1, 1), c.ordered);
    }
}

TEST(Doses, ValuesThatCannotTravelAreRejectedBeforeAnythingIsSent) {
    struct Case {
        const char* name;
        bool inLitres;
        double price;  // set through SetPrice first when above 0
        Call call;
        Raised raised;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const Raised range = CallerError(msg::kValueRange);
    const Case cases[] = {
        {"price above 99.99 at price scale 100", false, 0, [](TVM30& d) { d.SetPrice(1, 1, 1, 0, 100); }, range},
        {"negative price", false, 0, [](TVM30& d) { d.SetPrice(1, 1, 1, 0, -1); }, range},
        {"price not a number", false, 0, [=](TVM30& d) { d.SetPrice(1, 1, 1, 0, nan); }, range},
        {"infinite price", false, 0, [=](TVM30& d) { d.SetPrice(1, 1, 1, 0, inf); }, range},
        {"volume above 999.99", false, 0, [](TVM30& d) { d.PresetVolume(1, 1, 1, 0, 1000); }, range},
        {"negative volume", false, 0, [](TVM30& d) { d.PresetVolume(1, 1, 1, 0, -0.01); }, range},
        {"volume not a number", false, 0, [=](TVM30& d) { d.PresetVolume(1, 1, 1, 0, nan); }, range},
        {"money above 9999.99 at money scale 100", false, 45.5, [](TVM30& d) { d.PresetAmount(1, 1, 1, 0, 10000); }, range},
        {"negative money", false, 45.5, [](TVM30& d) { d.PresetAmount(1, 1, 1, 0, -1); }, range},
        {"negative money in litres", true, 45.5, [](TVM30& d) { d.PresetAmount(1, 1, 1, 0, -0.004); }, range},
        {"infinite money in litres", true, 45.5, [=](TVM30& d) { d.PresetAmount(1, 1, 1, 0, inf); }, range},
        {"money buying more litres than the field holds", true, 0.01, [](TVM30& d) { d.PresetAmount(1, 1, 1, 0, 5000); }, range},
        {"money in litres without a price", true, 0, [](TVM30& d) { d.PresetAmount(1, 1, 1, 0, 100); }, CallerError(msg::kZeroPrice)},
        {"money without a price for the stored dose", false, 0, [](TVM30& d) { d.PresetAmount(1, 1, 1, 0, 100); },
         CallerError(msg::kZeroPrice)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.Set([&](DriverSettings& s) { s.startInLiter = c.inLitres; });
        if (c.price > 0) {
            rig.link.Queue(Ack());
            rig.driver.SetPrice(1, 1, 1, 0, c.price);
        }
        rig.driver.SetOrderedVolume(1, 1, 7);
        rig.Forget();
        EXPECT_EQ(RaisedBy([&] { c.call(rig.driver); }), c.raised);
        EXPECT_TRUE(rig.link.calls.empty());
        EXPECT_DOUBLE_EQ(rig.driver.Price(1, 1, 1), c.price);
        EXPECT_DOUBLE_EQ(rig.driver.OrderedVolume(1, 1), 7);
    }
}

TEST(Price, IsStoredBeforeTheExchangeAndARefusalStopsAndReleasesTheNozzle) {
    Rig rig;
    rig.Queue({Refused(), Ack(), Ack()});
    rig.driver.SetPrice(1, 2, 1, 0, 45.5);
    EXPECT_EQ(rig.Exchanges(),
              (std::vector<Sent>{{Bytes{0x02, 0x22, 'Q'} + B("4550"), 2, 0}, {{0x02, 0x22, '3'}, 2, 0}, {{0x02, 0x22, '8'}, 2, 0}}));
    EXPECT_EQ(rig.driver.GetLineStatus(1), 21);
    EXPECT_DOUBLE_EQ(rig.driver.Price(1, 2, 1), 45.5);

    Rig failing;
    failing.link.Queue(Failed());
    EXPECT_EQ(RaisedBy([&] { failing.driver.SetPrice(1, 2, 1, 0, 45.5); }), SerialError(msg::kPrice));
    EXPECT_DOUBLE_EQ(failing.driver.Price(1, 2, 1), 45.5);
}

TEST(Price, FirstPriceOfAColumnFetchesItsDecimalSettingsOnce) {
    Rig rig;
    rig.Set([](DriverSettings& s) { s.readDecimalTRK = true; });
    rig.Queue({Data(B("F1")), Ack(), Ack()});
    rig.driver.SetPrice(1, 1, 1, 0, 45.5);
    rig.driver.SetPrice(1, 1, 1, 0, 45.5);
    EXPECT_EQ(rig.Exchanges(),
              (std::vector<Sent>{
                  {{0x02, 0x21, 'N', 'F'}, 8, 2}, {Bytes{0x02, 0x21, 'Q'} + B("0455"), 2, 0}, {Bytes{0x02, 0x21, 'Q'} + B("0455"), 2, 0}}));
    EXPECT_EQ(rig.driver.PriceScale(1, 1), 10);
    EXPECT_EQ(rig.driver.AmountScale(1, 1), 100);
    EXPECT_FALSE(rig.driver.DecimalsPending(1, 1));
}

TEST(Price, DecimalSettingsSelectTheScales) {
    struct Case {
        const char* name;
        Answer answer;
        std::int32_t priceScale;
        std::int32_t amountScale;
        bool pending;
    };
    const Case cases[] = {
        {"0", Data(B("F0")), 1, 100, false},
        {"1", Data(B("F1")), 10, 100, false},
        {"2", Data(B("F2")), 100, 100, false},
        {"3", Data(B("F3")), 1, 1, false},
        {"9 changes no scale but counts as read", Data(B("F9")), 50, 50, false},
        {"silent line: read again next time", Silent(), 50, 50, true},
        {"refused: read again next time", Refused(), 50, 50, true},
        {"failed exchange is swallowed", Failed(), 50, 50, true},
        {"a late acknowledgement is no setting of 0", Ack(), 50, 50, true},
        {"a data frame without the digit neither", Data(B("F")), 50, 50, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.Set([](DriverSettings& s) { s.readDecimalTRK = true; });
        rig.driver.SetScales(1, 1, 50, 50);
        rig.Queue({c.answer, Ack()});
        EXPECT_EQ(RaisedBy([&] { rig.driver.SetPrice(1, 1, 1, 0, 1); }), Nothing());
        EXPECT_EQ(rig.Commands(), (std::vector<std::uint8_t>{'N', 'Q'}));
        EXPECT_EQ(rig.driver.PriceScale(1, 1), c.priceScale);
        EXPECT_EQ(rig.driver.AmountScale(1, 1), c.amountScale);
        EXPECT_EQ(rig.driver.DecimalsPending(1, 1), c.pending);
    }
}

TEST(Price, NoDecimalsAreFetchedForAColumnOrLineOutOfRange) {
    Rig rig;
    rig.Set([](DriverSettings& s) { s.readDecimalTRK = true; });
    EXPECT_EQ(RaisedBy([&] { rig.driver.SetPrice(1, 34, 1, 0, 1); }), CallerError(msg::kColumnRange));
    EXPECT_EQ(RaisedBy([&] { rig.driver.SetPrice(1, -1, 1, 0, 1); }), CallerError(msg::kColumnRange));
    EXPECT_EQ(RaisedBy([&] { rig.driver.SetPrice(40, 1, 1, 0, 1); }), CallerError(msg::kLineRange));
    EXPECT_TRUE(rig.link.calls.empty());
}

TEST(Price, WithoutReadDecimalTRKNoDecimalsAreFetched) {
    Rig rig;
    rig.link.Queue(Ack());
    rig.driver.SetPrice(1, 1, 1, 0, 45.5);
    EXPECT_EQ(rig.Commands(), std::vector<std::uint8_t>{'Q'});
    EXPECT_TRUE(rig.driver.DecimalsPending(1, 1));
}

TEST(Price, ARejectedPriceStillFetchedTheDecimalsButKeepsTheOldPrice) {
    Rig rig;
    rig.Set([](DriverSettings& s) { s.readDecimalTRK = true; });
    rig.link.Queue(Data(B("F2")));
    EXPECT_EQ(RaisedBy([&] { rig.driver.SetPrice(1, 1, 1, 0, 100); }), CallerError(msg::kValueRange));
    EXPECT_EQ(rig.Commands(), std::vector<std::uint8_t>{'N'});
    EXPECT_DOUBLE_EQ(rig.driver.Price(1, 1, 1), 0);
}

}  // namespace
}  // namespace dorv
