// Whole fillings from price to release, through the serial link to the emulated controllers.
#include "e2e_fixture.h"

namespace dorv::e2e {
namespace {

struct Filling {
    const char* name;
    std::uint8_t nozzle;  // of column 1
    double price;
    bool byMoney;  // a money dose, turned into litres by the driver
    double dose;
    double litres;       // delivered
    double money;        // the filling's money, price x litres in hundredths
    bool shortReadings;  // SpecAvtomatika: fillings read with the short reading
};

// Run one after another on one driver: each filling starts where the last left the tables.
const Filling kFillings[] = {
    {"money dose turned into litres", 1, 45.50, true, 500.00, 10.98, 499.59, false},
    {"volume dose on the same nozzle", 1, 52.30, false, 12.50, 12.50, 653.75, false},
    {"money dose on the second nozzle", 2, 48.10, true, 100.00, 2.07, 99.57, false},
    {"short readings of the filling", 1, 49.90, false, 3.33, 3.33, 166.17, true},
};

class WholeFilling : public PtyDriverTest {};

TEST_F(WholeFilling, DeliversTheDoseReleasesTheNozzleAndCountsItOnTheTotalizers) {
    constexpr std::uint8_t kColumn = 1;
    for (const Filling& f : kFillings) {
        SCOPED_TRACE(f.name);
        driver_->ApplySettings([&] {
            DriverSettings s = driver_->Settings();
            s.specAvtomatika = f.shortReadings;
            return s;
        }());
        const int address = AddressOf(kColumn, f.nozzle);
        double volumeBefore = -1, moneyBefore = -1;
        driver_->ReadCounters(1, kColumn, f.nozzle, &volumeBefore, &moneyBefore, 0, 0);

        driver_->SetPrice(1, kColumn, f.nozzle, 0, f.price);
        ASSERT_EQ(LineStatus(), 1);
        if (f.byMoney)
            driver_->PresetAmount(1, kColumn, f.nozzle, 0, f.dose);
        else
            driver_->PresetVolume(1, kColumn, f.nozzle, 0, f.dose);
        ASSERT_EQ(LineStatus(), 1);
        EXPECT_EQ(driver_->OrderedVolume(1, kColumn), f.litres);

        emu_.Controllers().Lift(address);
        EXPECT_EQ(driver_->GetStatus(1, kColumn, 2).bytes[2 * f.nozzle], 0xE0 + f.nozzle);
        driver_->AuthorizeNozzle(1, kColumn, f.nozzle, 0);
        ASSERT_EQ(LineStatus(), 1);

        const int underWay = PollFillingToEnd(*driver_, emu_, 1, kColumn, f.nozzle, 2);
        ASSERT_GT(underWay, 0) << "the poll never saw the filling under way, or it never ended";
        const emu::ControllerState s = emu_.State(address);
        EXPECT_EQ(s.phase, emu::Nozzle::Phase::kIdle) << "the poll released the ended filling";
        EXPECT_EQ(s.filling.volume_cl, static_cast<std::uint64_t>(f.litres * 100 + 0.5));
        EXPECT_EQ(driver_->FilledVolume(1, kColumn), f.litres);
        EXPECT_EQ(driver_->CurrentNozzle(1, kColumn), f.nozzle);

        double litres = -1, money = -1;
        driver_->GetFilling(1, kColumn, &litres, &money);
        EXPECT_EQ(litres, f.litres);
        EXPECT_EQ(money, f.money);

        emu_.Controllers().Hang(address);
        EXPECT_EQ(driver_->GetStatus(1, kColumn, 2).bytes[0], 0xC0);
        double volumeAfter = -1, moneyAfter = -1;
        driver_->ReadCounters(1, kColumn, f.nozzle, &volumeAfter, &moneyAfter, 0, 0);
        EXPECT_EQ(LineStatus(), 1);
        EXPECT_NEAR(volumeAfter - volumeBefore, f.litres, 1e-9);
        EXPECT_NEAR(moneyAfter - moneyBefore, f.money, 1e-9);
    }
}

// The line paced at 4800 baud as the dispensers' own wire: every byte of request and reply
// takes its time, and each exchange still carries its own values.
TEST(PacedLine, At4800BaudEveryExchangeCarriesItsOwnValues) {
    test::TempDir dir;
    EmulatedLine emu({1}, emu::LinkTiming{4800, std::chrono::microseconds(2000)});
    emu.Controllers().SetParam(1, 24, 321654);
    links::SerialHostLink link;
    link.SetTimeouts(std::chrono::milliseconds(300), kInterByte);
    ASSERT_TRUE(link.AssignLine(1, emu.Path()));
    TVM30 driver(0, &link);
    ASSERT_EQ(driver.SetupLine(1), 0);

    driver.SetPrice(1, 1, 1, 0, 45.50);
    EXPECT_EQ(driver.GetLineStatus(1), 1);
    driver.PresetVolume(1, 1, 1, 0, 3.25);
    EXPECT_EQ(driver.GetLineStatus(1), 1);
    EXPECT_EQ(driver.OrderedVolume(1, 1), 3.25);
    EXPECT_EQ(driver.GetStatus(1, 1, 1).bytes[0], 0xC0);
    EXPECT_EQ(driver.ReadParameter(0, 1, 1, 24, 6), 321654);
    EXPECT_EQ(driver.GetLineStatus(1), 1);
    const emu::ControllerState s = emu.State(1);
    EXPECT_EQ(s.price, 4550u);
    EXPECT_EQ(s.pending_dose.value, 325u);
    EXPECT_EQ(emu.TakeAnswered(), "QT1N");
}

}  // namespace
}  // namespace dorv::e2e
