// A whole filling as a host runs it, and slots that reach other slots through the object's table.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

#include "driver_rig.h"

namespace dorv {
namespace {

using namespace test;

TEST(FillingSequence, PriceMoneyDoseAuthorizePollUntilEndedThenCounters) {
    Rig rig;                                                                      // StartInLiter: the money dose goes out in litres
    rig.Queue({Ack(), Ack(),                                                      // price, dose
               Ack(), Ack(), Ack(),                                               // release, authorize, start
               Data(B("2")),                                                      // poll: ready
               Data(B("A")), Data(B("000250") + B("011375") + B("4550")),         // reading: 2.50 l
               Data(B("40")),                                                     // poll: under way
               Data(B("A")), Data(B("000549") + B("024980") + B("4550")),         // reading: 5.49 l
               Data(B("40")),                                                     // poll: within a litre of the dose
               Data(B("A")), Data(B("000549") + B("024980") + B("4550")), Ack(),  // closing reading, release
               Data(B("00000549") + B("0024980") + B("0"))});                     // counters

    TVM30& d = rig.driver;
    d.SetPrice(1, 1, 1, 0, 45.50);
    d.PresetAmount(1, 1, 1, 0, 250.00);
    EXPECT_DOUBLE_EQ(d.OrderedVolume(1, 1), 5.49);
    d.AuthorizeNozzle(1, 1, 1, 0);

    double litres = 0, money = 0;
    EXPECT_EQ(d.GetStatus(1, 1, 1).bytes[0], 0xC8);
    d.GetFilling(1, 1, &litres, &money);
    EXPECT_DOUBLE_EQ(litres, 2.50);
    EXPECT_DOUBLE_EQ(money, 113.75);
    EXPECT_EQ(d.GetStatus(1, 1, 1).bytes[0], 0xD1);
    d.GetFilling(1, 1, &litres, &money);
    EXPECT_DOUBLE_EQ(litres, 5.49);
    EXPECT_DOUBLE_EQ(money, 249.80);
    EXPECT_EQ(d.GetStatus(1, 1, 1).bytes[0], 0xD8);

    double volumeCounter = 0, moneyCounter = 0;
    d.ReadCounters(1, 1, 1, &volumeCounter, &moneyCounter, 0, 0);
    EXPECT_DOUBLE_EQ(volumeCounter, 5.49);
    EXPECT_DOUBLE_EQ(moneyCounter, 249.80);
    EXPECT_EQ(d.GetLineStatus(1), 1);

    EXPECT_EQ(rig.Requests(), (std::vector<Bytes>{
                                  Bytes{0x02, 0x21, 'Q'} + B("4550"),
                                  Bytes{0x02, 0x21, 'T'} + B("00549"),
                                  {0x02, 0x21, '8'},
                                  {0x02, 0x21, 'U'},
                                  {0x02, 0x21, '2'},
                                  {0x02, 0x21, '1'},
                                  {0x02, 0x21, '7'},
                                  {0x02, 0x21, '5'},
                                  {0x02, 0x21, '1'},
                                  {0x02, 0x21, '7'},
                                  {0x02, 0x21, '5'},
                                  {0x02, 0x21, '1'},
                                  {0x02, 0x21, '7'},
                                  {0x02, 0x21, '5'},
                                  {0x02, 0x21, '8'},
                                  {0x02, 0x21, '6'},
                              }));
    EXPECT_TRUE(rig.link.answers.empty());
}

// Counts the slots other slots call, and passes each call on.
class CountingDriver : public TVM30 {
public:
    using TVM30::TVM30;
    std::map<std::string, int> calls;

    void DORV_CALL StopNozzle(std::int32_t l, std::int32_t c, std::int32_t n, std::uint8_t f) override {
        ++calls["StopNozzle"];
        TVM30::StopNozzle(l, c, n, f);
    }
    std::int32_t DORV_CALL StopAndRelease(std::int32_t l, std::int32_t c, std::int32_t n, std::uint8_t f) override {
        ++calls["StopAndRelease"];
        return TVM30::StopAndRelease(l, c, n, f);
    }
    void DORV_CALL PresetVolume(std::int32_t l, std::int32_t c, std::int32_t n, std::int32_t u, double v) override {
        ++calls["PresetVolume"];
        TVM30::PresetVolume(l, c, n, u, v);
    }
    std::int32_t DORV_CALL GetParam(std::int32_t l, std::int32_t c, std::int32_t p) override {
        ++calls["GetParam"];
        return TVM30::GetParam(l, c, p);
    }
    void DORV_CALL GetFilling(std::int32_t l, std::int32_t c, double* v, double* m) override {
        ++calls["GetFilling"];
        TVM30::GetFilling(l, c, v, m);
    }
    double DORV_CALL GetFillingVolume(std::int32_t l, std::int32_t c, double* m) override {
        ++calls["GetFillingVolume"];
        return TVM30::GetFillingVolume(l, c, m);
    }
};

TEST(SlotTable, SlotsCallOtherSlotsThroughTheObjectsTable) {
    struct Case {
        const char* name;
        std::function<void(DriverSettings&)> settings;
        std::vector<Answer> answers;
        std::function<void(CountingDriver&)> call;
        std::map<std::string, int> expected;
    };
    const auto plain = [](DriverSettings&) {};
    const auto avtomatika = [](DriverSettings& s) { s.specAvtomatika = true; };
    double a = 0, b = 0;
    const double counter = 12.5;
    const Case cases[] = {
        {"stop column stops through the table", plain, {Ack()}, [](CountingDriver& d) { d.StopColumn(1, 1, 1); }, {{"StopNozzle", 1}}},
        {"stop and release stops through the table",
         plain,
         {Ack(), Ack()},
         [](CountingDriver& d) { d.StopAndRelease(1, 1, 1, 1); },
         {{"StopAndRelease", 1}, {"StopNozzle", 1}}},
        {"a refused price stops and releases through the table",
         plain,
         {Refused(), Ack(), Ack()},
         [](CountingDriver& d) { d.SetPrice(1, 1, 1, 0, 10); },
         {{"StopAndRelease", 1}, {"StopNozzle", 1}}},
        {"a money dose in litres is a volume dose",
         plain,
         {Ack(), Ack()},
         [](CountingDriver& d) {
             d.SetPrice(1, 1, 1, 0, 10);
             d.PresetAmount(1, 1, 1, 0, 10);
         },
         {{"PresetVolume", 1}}},
        {"decimal settings are a parameter read",
         [](DriverSettings& s) { s.readDecimalTRK = true; },
         {Data(B("F2")), Ack()},
         [](CountingDriver& d) { d.SetPrice(1, 1, 1, 0, 10); },
         {{"GetParam", 1}}},
        {"the counter write reads its confirmation",
         plain,
         {Ack(), Ack(), Data(B("J0"))},
         [&](CountingDriver& d) { d.WriteCounter(1, 1, 1, &counter, 0, 0, 0); },
         {{"GetParam", 1}}},
        {"calibration reads the password back",
         plain,
         {Ack(), Ack(), Data(B("J0"))},
         [](CountingDriver& d) { d.WriteParameter(0, 1, 1, 27, 5, 308); },
         {{"GetParam", 1}}},
        {"with SpecAvtomatika a filling reading is the short one",
         avtomatika,
         {Data(B("x00100"))},
         [&](CountingDriver& d) { d.GetFilling(1, 1, &a, &b); },
         {{"GetFilling", 1}, {"GetFillingVolume", 1}}},
        {"an ended filling is read through the table",
         plain,
         {Data(B("40")), Data(B("A")), Data(B("000100000100")), Ack()},
         [](CountingDriver& d) { d.GetStatus(1, 1, 1); },
         {{"GetFilling", 1}}},
        {"SpecAvtomatika's stop goes through the table",
         avtomatika,
         {Data(B("60")), Ack()},
         [](CountingDriver& d) {
             d.SetFilledVolume(1, 1, 10);
             d.SetOrderedVolume(1, 1, 20);
             d.GetStatus(1, 1, 1);
         },
         {{"StopNozzle", 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        RecordingLink link;
        CountingDriver driver(0, &link);
        DriverSettings s = driver.Settings();
        c.settings(s);
        driver.ApplySettings(s);
        for (const Answer& answer : c.answers) link.Queue(answer);
        c.call(driver);
        EXPECT_EQ(driver.calls, c.expected);
    }
}

}  // namespace
}  // namespace dorv
