// What clients send, decoded or refused: request targets and the JSON bodies.
#include <gtest/gtest.h>

#include "api/request_decoder.h"

namespace forecourt {
namespace {

TEST(RequestDecoder, TargetsSplitAndDecode) {
    const auto t = ParseTarget("/api/v1/sales?state=payable&pump=%32&after=&x");
    ASSERT_TRUE(t);
    EXPECT_EQ(t->path, "/api/v1/sales");
    EXPECT_EQ(t->query.at("pump"), "2");
    EXPECT_EQ(t->query.at("after"), "");
    EXPECT_FALSE(ParseTarget("api/v1"));
    EXPECT_FALSE(ParseTarget("/a%2"));
    EXPECT_FALSE(ParseTarget("/a?b=%g1"));
}

TEST(RequestDecoder, IdsAreDecimalDigitsOnly) {
    EXPECT_EQ(ParseId("0012"), 12);
    for (const char* bad : {"", "-1", "+1", "0x1f", "1e3", "12 ", "9999999999999999999"}) EXPECT_FALSE(ParseId(bad)) << bad;
}

struct Body {
    const char* name;
    const char* text;
    bool ok;
    Preset preset;
    int nozzle;  // 0: none given
};
void PrintTo(const Body& row, std::ostream* out) { *out << row.name; }

const Body kBodies[] = {
    {"full_tank", R"({"nozzle": 2, "preset": null})", true, {}, 2},
    {"no_preset_no_nozzle", R"({})", true, {}, 0},
    {"volume", R"({"nozzle": 1, "preset": {"volume": 20}})", true, {Preset::Kind::kVolume, 2000}, 1},
    {"amount_in_cents", R"({"preset": {"amount": 1000.5}})", true, {Preset::Kind::kAmount, 100050}, 0},
    {"malformed", R"({"nozzle": 1)", false, {}, 0},
    {"array", R"([])", false, {}, 0},
    {"nozzle_as_text", R"({"nozzle": "1"})", false, {}, 0},
    {"nozzle_as_fraction", R"({"nozzle": 1.5})", false, {}, 0},
    {"nozzle_written_with_a_point", R"({"nozzle": 2.0})", true, {}, 2},
    {"nozzle_zero", R"({"nozzle": 0})", false, {}, 0},
    {"preset_empty_object", R"({"preset": {}})", false, {}, 0},
    {"preset_unknown_kind", R"({"preset": {"litres": 5}})", false, {}, 0},
    {"preset_zero", R"({"preset": {"volume": 0}})", false, {}, 0},
    {"preset_thousandths", R"({"preset": {"volume": 0.001}})", false, {}, 0},
    {"preset_rounding_to_zero", R"({"preset": {"amount": 1e-9}})", false, {}, 0},
    {"preset_rounding_to_a_cent", R"({"preset": {"volume": 1.000000001}})", false, {}, 0},
    {"preset_of_two_decimals_in_binary", R"({"preset": {"amount": 0.29}})", true, {Preset::Kind::kAmount, 29}, 0},
    {"preset_beyond_five_digits", R"({"preset": {"volume": 1000}})", false, {}, 0},
    {"preset_as_text", R"({"preset": {"amount": "10"}})", false, {}, 0},
    {"unknown_field", R"({"pump": 1})", false, {}, 0},
};

class AuthorizeBody : public ::testing::TestWithParam<Body> {};

TEST_P(AuthorizeBody, DecodesOrRefuses) {
    const Body& b = GetParam();
    const auto decoded = DecodeAuthorize(b.text);
    ASSERT_EQ(std::holds_alternative<AuthorizeRequest>(decoded), b.ok);
    if (!b.ok) return;
    const auto& r = std::get<AuthorizeRequest>(decoded);
    EXPECT_EQ(r.preset, b.preset);
    EXPECT_EQ(r.nozzle.value_or(0), b.nozzle);
}

INSTANTIATE_TEST_SUITE_P(RequestDecoder, AuthorizeBody, ::testing::ValuesIn(kBodies),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RequestDecoder, PricesAndNozzles) {
    const auto prices = DecodePrices(R"({"grades": [{"grade": "95", "price": 1.99}, {"grade": "D", "price": 2}]})");
    ASSERT_EQ(prices.index(), 0u);
    EXPECT_EQ(std::get<0>(prices)[0].second, 199);
    EXPECT_EQ(std::get<0>(prices)[1].second, 200);
    for (const char* bad : {R"({"grades": []})", R"({"grades": [{"grade": "95"}]})", R"({"grades": [{"grade": "95", "price": 0}]})",
                            R"({"grades": [{"grade": "95", "price": 1e-9}]})",
                            R"({"grades": [{"grade": "95", "price": 1}, {"grade": "95", "price": 2}]})", R"({"grades": {}})"})
        EXPECT_TRUE(std::holds_alternative<std::string>(DecodePrices(bad))) << bad;
    EXPECT_EQ(std::get<int>(DecodeNozzle("")), 1);
    EXPECT_EQ(std::get<int>(DecodeNozzle(R"({"nozzle": 2})")), 2);
    EXPECT_TRUE(std::holds_alternative<std::string>(DecodeNozzle(R"({"nozzle": 5})")));
}

}  // namespace
}  // namespace forecourt
