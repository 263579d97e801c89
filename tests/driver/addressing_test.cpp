#include "driver/addressing.h"

#include <gtest/gtest.h>

#include "dorv5000/exceptions.h"

namespace dorv {
namespace {

TEST(Addressing, ColumnNozzleAndStepGiveGroupAndAddressBytes) {
    struct Case {
        int column, nozzle, step;
        std::int64_t a;
        int group, address;
    };
    const Case cases[] = {
        {1, 1, 1, 1, 2, 0x21},   {1, 0, 1, 1, 2, 0x21},   {15, 1, 1, 15, 2, 0x2F},     {16, 1, 1, 16, 7, 0x21},
        {30, 1, 1, 30, 7, 0x20}, {31, 1, 1, 31, 8, 0x21}, {2, 3, 4, 10, 2, 0x2A},      {3, 4, 8, 27, 7, 0x2C},
        {45, 1, 1, 45, 8, 0x20}, {5, 4, 2, 11, 2, 0x2B},  {33, 4, 255, 798, 59, 0x23},
    };
    for (const auto& c : cases) {
        const auto step = static_cast<std::uint8_t>(c.step);
        EXPECT_EQ(ControllerAddress(c.column, c.nozzle, step), c.a) << c.column << "/" << c.nozzle;
        const GroupAddress ga = Address(c.column, c.nozzle, step);
        EXPECT_EQ(ga.group, c.group) << c.column << "/" << c.nozzle;
        EXPECT_EQ(ga.address, c.address) << c.column << "/" << c.nozzle;
    }
}

TEST(Addressing, EveryAddressOfAGroupDecodesBackToItself) {
    for (std::int64_t a = 1; a <= 200; ++a) {
        const GroupAddress ga = AddressOf(a);
        const int offset = ga.address - 0x20;
        const std::int64_t back = ga.group == 2 ? offset : offset == 0 ? (ga.group - 5) * 15 : (ga.group - 6) * 15 + offset;
        EXPECT_EQ(back, a) << a;
    }
}

TEST(Addressing, RangeChecksNameTheFault) {
    EXPECT_NO_THROW(CheckColumn(0));
    EXPECT_NO_THROW(CheckColumn(33));
    for (int bad : {34, -1, INT32_MIN, INT32_MAX}) {
        try {
            CheckColumn(bad);
            ADD_FAILURE() << bad;
        } catch (const Exception& e) {
            EXPECT_STREQ(e.what(), "Номер колонки выходит за допустимый диапозон");
        }
    }
    EXPECT_NO_THROW(CheckLine(39));
    EXPECT_THROW(CheckLine(40), Exception);
    EXPECT_THROW(CheckLine(-1), Exception);
    EXPECT_NO_THROW(CheckNozzle(4));
    EXPECT_THROW(CheckNozzle(5), Exception);
    EXPECT_THROW(CheckNozzle(-1), Exception);
}

}  // namespace
}  // namespace dorv
