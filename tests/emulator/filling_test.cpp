// A nozzle's transaction from lift to release, on a clock moved by hand.
#include <gtest/gtest.h>

#include "test_support.h"

namespace dorv::emu::test {
namespace {

using Phase = Nozzle::Phase;

TEST_F(LineTest, VolumeDoseFillingFromLiftToRelease) {
    EXPECT_EQ(Data(1, "1"), "00");
    line_.Lift(1);
    EXPECT_EQ(Data(1, "1"), "10");
    ASSERT_TRUE(Accepted(1, "Q4550"));
    ASSERT_TRUE(Accepted(1, "T01250"));  // 12.50 L
    ASSERT_TRUE(Accepted(1, "U"));
    EXPECT_EQ(Data(1, "1"), "20");
    ASSERT_TRUE(Accepted(1, "2"));
    EXPECT_EQ(Data(1, "1"), "30");  // pump on, nothing delivered yet

    Run(5.0);
    EXPECT_EQ(Data(1, "1"), "40");
    EXPECT_EQ(Data(1, "4"), "000500");
    EXPECT_EQ(Data(1, "5"),
              "000500"
              "022750"
              "4550");
    EXPECT_TRUE(Refused(1, "8"));  // never closed mid-delivery
    EXPECT_TRUE(Refused(1, "Q4600"));
    EXPECT_TRUE(Refused(1, "T02000"));
    EXPECT_TRUE(Refused(1, "2"));
    EXPECT_EQ(Data(1, "6"),
              "00000500"
              "0022750"
              "0");  // totalizers run with the filling

    Run(100.0);  // far past the dose: delivery stops exactly on it
    EXPECT_EQ(Data(1, "1"), "51");
    EXPECT_EQ(Data(1, "5"),
              "001250"
              "056875"
              "4550");
    ASSERT_TRUE(Accepted(1, "8"));
    EXPECT_EQ(Data(1, "1"), "10");      // still in the hand
    EXPECT_EQ(Data(1, "4"), "001250");  // the last filling stays readable
    line_.Hang(1);
    EXPECT_EQ(Data(1, "1"), "00");
    EXPECT_EQ(Data(1, "6"),
              "00001250"
              "0056875"
              "0");
}

TEST_F(LineTest, MoneyDoseStopsAtTheVolumeItBuys) {
    struct Case {
        std::int64_t rounding;  // parameter 50: 0 under-fill, 1 over-fill
        std::string volume;
    };
    // 100.00 at 45.50 is 2.19780... litres.
    for (const Case& c : {Case{0, "000219"}, Case{1, "000220"}}) {
        ASSERT_TRUE(line_.SetParam(2, 50, c.rounding));
        ASSERT_TRUE(Accepted(2, "Q4550"));
        ASSERT_TRUE(Accepted(2, "S010000"));
        line_.Lift(2);
        ASSERT_TRUE(Accepted(2, "2"));
        Run(60);
        EXPECT_EQ(Status(2), '5');
        EXPECT_EQ(Data(2, "4"), c.volume) << "rounding " << c.rounding;
        ASSERT_TRUE(Accepted(2, "8"));
        line_.Hang(2);
    }
}

TEST_F(LineTest, DeliveryEndsOnStopOrHang) {
    for (const bool by_hang : {false, true}) {
        ASSERT_TRUE(Accepted(3, "Q1000"));
        line_.Lift(3);
        ASSERT_TRUE(Accepted(3, "2"));  // no dose: fills until stopped
        Run(3.25);
        if (by_hang)
            line_.Hang(3);
        else
            ASSERT_TRUE(Accepted(3, "3"));
        Run(10);
        EXPECT_EQ(Data(3, "1"), "51");
        EXPECT_EQ(Data(3, "4"), "000325");
        ASSERT_TRUE(Accepted(3, "8"));
        EXPECT_EQ(Status(3), by_hang ? '0' : '1');
        line_.Hang(3);
    }
    EXPECT_EQ(line_.State(3)->totals.volume_cl, 650U);
}

TEST_F(LineTest, StartOnAHungNozzleWaitsForTheLift) {
    ASSERT_TRUE(Accepted(1, "Q4550"));
    ASSERT_TRUE(Accepted(1, "T00200"));
    ASSERT_TRUE(Accepted(1, "2"));
    Run(30);
    EXPECT_EQ(Status(1), '3');
    line_.Lift(1);
    Run(1);
    EXPECT_EQ(Data(1, "4"), "000100");
    Run(5);
    EXPECT_EQ(Data(1, "1"), "51");
}

TEST_F(LineTest, HungStartRuleCanForbidIt) {
    for (const std::int64_t rule : {2, 4}) {
        ASSERT_TRUE(line_.SetParam(1, 14, rule));
        ASSERT_TRUE(Accepted(1, "Q4550"));
        EXPECT_TRUE(Refused(1, "2")) << rule;
        EXPECT_TRUE(Refused(1, "V")) << rule;
        line_.Lift(1);
        ASSERT_TRUE(Accepted(1, "V"));
        ASSERT_TRUE(Accepted(1, "3"));
        ASSERT_TRUE(Accepted(1, "8"));
        line_.Hang(1);
    }
}

TEST_F(LineTest, RefusalsOutsideTheirPhase) {
    ASSERT_TRUE(Accepted(1, "Q4550"));
    line_.Lift(1);
    ASSERT_TRUE(Accepted(1, "2"));
    Run(1);
    EXPECT_TRUE(Refused(1, "U"));  // authorizing a running nozzle
    ASSERT_TRUE(Accepted(1, "3"));
    EXPECT_TRUE(Refused(1, "U"));  // the ended filling is not released yet
    EXPECT_TRUE(Refused(1, "2"));
    EXPECT_TRUE(Accepted(1, "Q4600"));  // the next filling's price may come early
    EXPECT_TRUE(Accepted(1, "T00500"));
    ASSERT_TRUE(Accepted(1, "8"));
    // The filling kept its own price; the next one takes the new price and dose.
    EXPECT_EQ(Data(1, "5").substr(12), "4550");
    ASSERT_TRUE(Accepted(1, "2"));
    Run(10);
    EXPECT_EQ(Data(1, "5"),
              "000500"
              "023000"
              "4600");
}

TEST_F(LineTest, StopCancelsAnAuthorization) {
    ASSERT_TRUE(Accepted(1, "U"));
    EXPECT_EQ(Status(1), '2');
    ASSERT_TRUE(Accepted(1, "3"));
    EXPECT_EQ(Status(1), '0');
    ASSERT_TRUE(Accepted(1, "U"));
    ASSERT_TRUE(Accepted(1, "8"));  // a release also withdraws it
    EXPECT_EQ(Status(1), '0');
}

TEST_F(LineTest, DoseBelowTheMinimumIsRefused) {
    ASSERT_TRUE(line_.SetParam(1, 23, 100));  // 1.00 L
    ASSERT_TRUE(Accepted(1, "Q5000"));
    EXPECT_TRUE(Refused(1, "T00099"));
    EXPECT_TRUE(Accepted(1, "T00100"));
    EXPECT_TRUE(Refused(1, "S004900"));  // 49.00 buys 0.98 L
    EXPECT_TRUE(Accepted(1, "S005000"));
}

TEST_F(LineTest, DecimalFormatSelectsTheScales) {
    struct Case {
        std::int64_t format;
        std::string price;   // 'Q' digits for 45.50 (or 45 where the scale has no decimals)
        std::string amount;  // '5' amount digits for 2.00 L
    };
    const Case cases[] = {
        {0, "0045", "009000"}, {1, "0455", "009100"}, {2, "4550", "009100"},
        {6, "0455", "009100"}, {3, "0045", "000090"}, {8, "0045", "000090"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(line_.SetParam(4, 22, c.format));
        ASSERT_TRUE(Accepted(4, "Q" + c.price));
        ASSERT_TRUE(Accepted(4, "T00200"));
        line_.Lift(4);
        ASSERT_TRUE(Accepted(4, "2"));
        Run(5);
        EXPECT_EQ(Data(4, "5").substr(6, 6), c.amount) << "format " << c.format;
        ASSERT_TRUE(Accepted(4, "8"));
    }
}

TEST_F(LineTest, FlowRateChangesTakeEffectFromNow) {
    ASSERT_TRUE(Accepted(1, "Q4550"));
    line_.Lift(1);
    ASSERT_TRUE(Accepted(1, "2"));
    Run(2);
    line_.SetFlowRate(0.5);
    Run(2);
    EXPECT_EQ(Data(1, "4"), "000300");
    line_.SetFlowRate(0);
    Run(100);
    EXPECT_EQ(Status(1), '4');
    EXPECT_EQ(Data(1, "4"), "000300");
}

TEST_F(LineTest, StateSnapshotShowsTheTransaction) {
    ASSERT_TRUE(Accepted(2, "Q4550"));
    ASSERT_TRUE(Accepted(2, "T01000"));
    auto s = line_.State(2);
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->price, 4550U);
    EXPECT_EQ(s->pending_dose, (Dose{Dose::Kind::kVolume, 1000}));
    line_.Lift(2);
    ASSERT_TRUE(Accepted(2, "2"));
    Run(4);
    s = line_.State(2);
    EXPECT_EQ(s->phase, Phase::kStarted);
    EXPECT_EQ(s->filling.volume_cl, 400U);
    EXPECT_EQ(s->filling.money, 18200U);
    EXPECT_EQ(s->filling.dose, (Dose{Dose::Kind::kVolume, 1000}));
    EXPECT_EQ(s->pending_dose.kind, Dose::Kind::kNone);  // a dose serves one filling
    EXPECT_FALSE(line_.State(9).has_value());
}

}  // namespace
}  // namespace dorv::emu::test
