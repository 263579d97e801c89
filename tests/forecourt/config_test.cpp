// A bad configuration is refused at start, naming the key and why.
#include <gtest/gtest.h>

#include "config/config.h"

namespace forecourt {
namespace {

const std::string kGood = R"(
station = "north"
listen = "127.0.0.1:8050"
[[lines]]
line = 1
device = "/dev/ttyUSB0"
[[lines]]
line = 2
tcp = "10.0.0.21:4001"
[[grades]]
id = "95"
price = 1.85
[[pumps]]
pump = 1
line = 1
column = 1
nozzles = [{ nozzle = 1, grade = "95" }, { nozzle = 2, grade = "95" }]
[[pumps]]
pump = 2
line = 2
column = 3
nozzles = [{ nozzle = 1, grade = "95" }]
[uplink]
broker = "mqtts://broker.example:8883"
station = "north-1"
)";

TEST(Config, GoodFileIsReadWhole) {
    const Config c = ParseConfig(kGood);
    ASSERT_EQ(c.lines.size(), 2u);
    EXPECT_EQ(c.lines[1].tcp->port, 4001);
    EXPECT_EQ(c.grades[0].price_cents, 185);
    EXPECT_EQ(c.pumps[0].nozzles.size(), 2u);
    EXPECT_EQ(c.uplink.scheme, "mqtts");
    EXPECT_EQ(c.uplink.broker.port, 8883);
    EXPECT_EQ(c.uplink.station, "north-1");
}

struct Bad {
    const char* name;
    std::string replace;  // text of the good file to replace
    std::string with;
    const char* key;  // the error names this
};
void PrintTo(const Bad& row, std::ostream* out) { *out << row.name; }

const Bad kBad[] = {
    {"syntax_error", "station = \"north\"", "station = ", "config:"},
    {"misspelt_key", "station = \"north\"", "staton = \"north\"", "staton: unknown key"},
    {"wrong_type", "column = 3", "column = \"3\"", "pumps[1].column: must be a whole number"},
    {"column_out_of_range", "column = 3", "column = 34", "pumps[1].column: must be from 1 to 33"},
    {"pump_on_no_line", "line = 2\ncolumn = 3", "line = 3\ncolumn = 3", "pumps[1].line: names no line"},
    {"unknown_grade", "{ nozzle = 1, grade = \"95\" }]\n[uplink]", "{ nozzle = 1, grade = \"98\" }]\n[uplink]",
     "pumps[1].nozzles[0].grade"},
    {"shared_address", "line = 2\ncolumn = 3", "line = 1\ncolumn = 2", "pumps[1].nozzles[0].nozzle: shares controller address 2"},
    {"price_in_thousandths", "price = 1.85", "price = 1.855", "grades[0].price"},
    {"price_beyond_the_field", "price = 1.85", "price = 100.0", "grades[0].price"},
    {"both_device_and_tcp", "device = \"/dev/ttyUSB0\"", "device = \"/dev/ttyUSB0\"\ntcp = \"h:1\"", "lines[0].device: give exactly one"},
    {"port_not_a_number", "10.0.0.21:4001", "10.0.0.21:40x1", "lines[1].tcp"},
    {"open_address_without_tokens", "127.0.0.1:8050", "0.0.0.0:8050", "listen: a service on 0.0.0.0 needs [[tokens]]"},
    {"broker_of_another_scheme", "mqtts://broker.example:8883", "http://broker.example:8883", "uplink.broker"},
    {"broker_without_port", "mqtts://broker.example:8883", "mqtts://broker.example", "uplink.broker"},
    {"station_with_topic_wildcard", "station = \"north-1\"", "station = \"north/#\"", "uplink.station"},
    {"short_token", "[uplink]", "[[tokens]]\nname = \"pos\"\ntoken = \"short\"\nrole = \"pos\"\n[uplink]", "tokens[0].token"},
    {"token_name_twice", "[uplink]",
     "[[tokens]]\nname = \"till\"\ntoken = \"0123456789abcdef\"\nrole = \"pos\"\n[[tokens]]\nname = \"till\"\ntoken = \"fedcba9876543210\"\nrole = \"pos\"\n[uplink]",
     "tokens[1].name: \"till\" is used twice"},
    {"token_named_as_the_service", "[uplink]",
     "[[tokens]]\nname = \"dorv-forecourt\"\ntoken = \"0123456789abcdef\"\nrole = \"pos\"\n[uplink]",
     "tokens[0].name: \"dorv-forecourt\" is the service's own name"},
    {"origin_with_a_path", "[uplink]", "[http]\norigins = [\"https://till.example/pos\"]\n[uplink]", "http.origins[0]"},
    {"host_with_a_port", "[uplink]", "[http]\nhosts = [\"forecourt.example:8050\"]\n[uplink]", "http.hosts[0]"},
    {"negative_timeout", "[uplink]", "[timeouts]\nno_flow_seconds = -1\n[uplink]", "timeouts.no_flow_seconds"},
    {"misspelt_timeout", "[uplink]", "[timeouts]\nauthorise_seconds = 30\n[uplink]", "timeouts.authorise_seconds: unknown key"},
    {"unknown_role", "[uplink]", "[[tokens]]\nname = \"pos\"\ntoken = \"0123456789abcdef\"\nrole = \"owner\"\n[uplink]", "tokens[0].role"},
};

class ConfigRefused : public ::testing::TestWithParam<Bad> {};

TEST_P(ConfigRefused, NamesTheKey) {
    const Bad& b = GetParam();
    std::string text = kGood;
    const auto at = text.find(b.replace);
    ASSERT_NE(at, std::string::npos) << b.replace;
    text.replace(at, b.replace.size(), b.with);
    try {
        ParseConfig(text);
        FAIL() << "accepted";
    } catch (const ConfigError& e) {
        EXPECT_NE(std::string(e.what()).find(b.key), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Config, ConfigRefused, ::testing::ValuesIn(kBad), [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace forecourt
