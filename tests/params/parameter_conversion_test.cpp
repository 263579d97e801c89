#include <gtest/gtest.h>

#include <cmath>

#include "dorv5000/exceptions.h"
#include "params/parameter.h"

namespace dorv::params {
namespace {

struct Shape {
    std::uint8_t type = 0, digits = 3, decimals = 0;
    std::int64_t min = 0, max = 999;
    std::vector<const char*> choices;
};

std::unique_ptr<CParameter> Make(const Shape& s) {
    auto p = std::make_unique<CParameter>(1, s.digits, s.decimals, "p", "", 0, s.min, s.max, s.type, 2, false);
    for (const char* c : s.choices) p->AddChoice(c);
    return p;
}

const NumberLocale kTestLocale{" ", ","};
const Shape kLitres{0, 8, 2, 0, 99999999, {}};
const Shape kSwitch{1, 1, 0, 0, 0, {"0-Выключить", "1-Включить"}};
const Shape kPair{2, 13, 0, 0, 0, {}};
const Shape kTemperature{3, 3, 0, 0, 0, {}};

TEST(RawToText, ShowsEachTypeAsTheOperatorReadsIt) {
    const struct {
        const char* behaviour;
        Shape shape;
        std::int64_t raw;
        const char* text;
    } cases[] = {
        {"decimals after the locale's separator", kLitres, 45678, "456,78"},
        {"thousands grouped", kLitres, 99999999, "999 999,99"},
        {"below the minimum shows the minimum", {0, 3, 0, 3, 180, {}}, 0, "3"},
        {"at the maximum shows itself", {0, 3, 0, 3, 180, {}}, 180, "180"},
        {"numbers use the low 32 bits", {0, 3, 0, 0, 999, {}}, 0x100000005LL, "5"},
        {"choice text", kSwitch, 1, "1-Включить"},
        {"choice past the list shows digits", kSwitch, 2, "2"},
        {"pair of zeros", kPair, 0, "0 - 0"},
        {"13-digit pair", kPair, 9876543210987, "9876543210 - 987"},
        {"temperature switched off", kTemperature, 200, "200"},
        {"one below zero", kTemperature, 201, "-1"},
        {"99 below zero", kTemperature, 299, "-99"},
        {"plain temperature", kTemperature, 37, "37"},
        {"sensor switch reads a temperature", {4, 3, 0, 0, 0, {"1-Включить датчик", "200-Отключить датчик"}}, 25, "25"},
    };
    for (const auto& c : cases) EXPECT_EQ(Make(c.shape)->RawToText(c.raw, kTestLocale), c.text) << c.behaviour;
    EXPECT_EQ(Make(kLitres)->RawToText(99999999, {",", "."}), "999,999.99");
}

TEST(RawToText, RaisesForValuesWithoutText) {
    const struct {
        const char* behaviour;
        Shape shape;
        std::int64_t raw;
    } cases[] = {
        {"negative number", kLitres, -1},
        {"negative choice", kSwitch, -1},
        {"negative pair", kPair, -1},
        {"negative temperature", kTemperature, -1},
        {"type above 8", {9, 3, 0, 0, 0, {}}, 0},
        {"wider than the field", {0, 2, 0, 0, 99, {}}, 100},
        {"wider than a field with decimals", {0, 3, 2, 0, 200, {}}, 1000},
    };
    for (const auto& c : cases) {
        try {
            Make(c.shape)->RawToText(c.raw, kTestLocale);
            ADD_FAILURE() << c.behaviour;
        } catch (const Exception& e) {
            EXPECT_STREQ(e.what(), "Ошибка при преобразовании параметра в текстовый вид") << c.behaviour;
        }
    }
}

TEST(ValueToRaw, ScalesByDecimalsRoundsHalvesToEvenAndNeverOverflows) {
    const struct {
        std::uint8_t decimals;
        double shown;
        std::int32_t raw;
    } cases[] = {{1, 2.5, 25}, {0, 2.5, 2}, {0, 3.5, 4}, {2, 1.25, 125}, {2, 0.29, 29}, {0, -2.5, -2}};
    for (const auto& c : cases) EXPECT_EQ(Make({0, 8, c.decimals, 0, 0, {}})->ValueToRaw(c.shown), c.raw) << c.shown;
    EXPECT_THROW(Make(kLitres)->ValueToRaw(1e12), Exception);
    EXPECT_THROW(Make(kLitres)->ValueToRaw(std::nan("")), Exception);
    const auto dose = Make({0, 3, 2, 1, 500, {}});
    EXPECT_DOUBLE_EQ(dose->GetStep(), 0.01);
    EXPECT_DOUBLE_EQ(dose->GetMinValue(), 0.01);
    EXPECT_DOUBLE_EQ(dose->GetMaxValue(), 5.0);
    EXPECT_DOUBLE_EQ(Make({0, 2, 1, 0, 50, {}})->GetStep(), 0.1);
}

}  // namespace
}  // namespace dorv::params
