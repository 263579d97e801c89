// The host program's commands against the built-in emulator: state carried from command to
// command, one JSON object per command, the shell's reading of its input.
#include <cctype>

#include "driver/messages.h"
#include "tools_fixture.h"

namespace dorv::tools::test {
namespace {

TEST_F(CommandLayer, MoneyPresetAfterAPriceOrdersTheLitresTheMoneyBuys) {
    EXPECT_EQ(RunSequence(ctx_, SplitWords("price 1 1 45.50 preset-money 1 1 100")), 0);
    const auto objects = Objects();
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(objects[1]["outputs"]["ordered"].number, 2.19);
    EXPECT_EQ(Emulator().State(1)->pending_dose.value, 219u);  // centilitres, sent as a volume dose
    EXPECT_EQ(Emulator().State(1)->price, 4550u);
}

struct CommandCase {
    const char* words;
    const char* command;
    int lineStatus;
    const char* errorClass;  // nullptr: the exception field is null
    const char* message;
    const char* output;      // an output that must be there, or nullptr
    double value;
};

const CommandCase kCommands[] = {
    {"status 1", "status", 1, nullptr, nullptr, "summary", 0xC0},
    {"param-get 1 34", "param-get", 1, nullptr, nullptr, "value", 40040},
    {"counters 2 1", "counters", 3, nullptr, nullptr, "volume", 0},
    {"status 9", "status", 2, nullptr, nullptr, "summary", 0},  // no controller at address 9
    {"status 34", "status", 0, "Exception", msg::kColumnRange, nullptr, 0},
    {"frobnicate", "frobnicate", 0, "Usage", "unknown command (see dorv --help)", nullptr, 0},
    {"price 1 1", "price", 0, "Usage", "usage: price COLUMN NOZZLE PRICE", nullptr, 0},
    {"price 1 1 cheap", "price", 0, "Usage", "usage: price COLUMN NOZZLE PRICE", nullptr, 0},
    {"lift 99999999999", "lift", 0, "Usage", "number out of range; usage: lift ADDRESS", nullptr, 0},
    // Numbers the byte-wide status slot cannot take must not wrap around to column or line 1.
    {"status 257", "status", 0, "Usage", "number out of range; usage: status COLUMN", nullptr, 0},
    {"status-n 1 260", "status-n", 0, "Usage", "number out of range; usage: status-n COLUMN NOZZLES", nullptr, 0},
    {"line 257", "line", 0, "Usage", "number out of range; usage: line N", nullptr, 0},
};

void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.words; }

class OneCommand : public CommandLayer, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(OneCommand, PrintsOneJsonObjectWithOutputsLineStatusAndException) {
    const CommandCase& c = GetParam();
    const int failed = RunSequence(ctx_, SplitWords(c.words));
    EXPECT_EQ(failed, c.errorClass ? 1 : 0);
    const auto objects = Objects();
    ASSERT_EQ(objects.size(), 1u) << out_.str();
    const Json& o = objects[0];
    EXPECT_EQ(o["command"].text, c.command);
    EXPECT_EQ(o["args"].kind, Json::Array);
    EXPECT_EQ(o["outputs"].kind, Json::Object);
    EXPECT_EQ(o["line"].number, 1);
    if (c.lineStatus != 0) {
        EXPECT_EQ(o["line_status"].number, c.lineStatus);
    }
    ASSERT_TRUE(o.Has("exception"));
    if (c.errorClass) {
        EXPECT_EQ(o["exception"]["class"].text, c.errorClass);
        EXPECT_EQ(o["exception"]["message"].text, c.message);
    } else {
        EXPECT_EQ(o["exception"].kind, Json::Null);
    }
    if (c.output) {
        ASSERT_TRUE(o["outputs"].Has(c.output)) << out_.str();
        EXPECT_EQ(o["outputs"][c.output].number, c.value);
    }
}

INSTANTIATE_TEST_SUITE_P(Commands, OneCommand, ::testing::ValuesIn(kCommands),
                         [](const ::testing::TestParamInfo<CommandCase>& info) {
                             std::string name;
                             for (const char* p = info.param.words; *p; ++p)
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return name;
                         });

TEST_F(CommandLayer, ShellRunsOneCommandALineSkipsCommentsAndStopsAtQuit) {
    std::istringstream in(
        "# the morning's first customer\n"
        "\n"
        "price 1 1 45.50   # per litre\n"
        "lift 1\n"
        "   status-n 1 1\n"
        "frobnicate\n"
        "quit\n"
        "hang 1\n");
    EXPECT_EQ(RunShell(ctx_, in, false), 1);
    const auto objects = Objects();
    std::vector<std::string> commands;
    for (const Json& o : objects) commands.push_back(o["command"].text);
    EXPECT_EQ(commands, (std::vector<std::string>{"price", "lift", "status-n", "frobnicate"}));
    ASSERT_EQ(objects.size(), 4u);
    EXPECT_EQ(objects[0]["args"].items.size(), 3u) << "the comment is no argument";
    EXPECT_EQ(objects[2]["outputs"]["summary"].number, 0xE1);
    EXPECT_TRUE(Emulator().State(1)->lifted) << "nothing after quit runs";
}

TEST_F(CommandLayer, PlainTextNamesTheExceptionAndTheLineStatus) {
    ctx_.json = false;
    EXPECT_EQ(RunSequence(ctx_, SplitWords("status 34")), 1);
    EXPECT_EQ(out_.str(), std::string("status 34:  [line 1 status 0]  Exception: ") + msg::kColumnRange + "\n");
}

}  // namespace
}  // namespace dorv::tools::test
