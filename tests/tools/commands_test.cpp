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
    const char* outcome;
    int lineStatus;          // 0: not checked
    const char* errorClass;  // nullptr: the exception field is null
    const char* message;
    const char* output;  // an output that must be there, or nullptr
    double value;        // that output's value; for "refused", the refusal code
};

const CommandCase kCommands[] = {
    {"status 1", "status", "answered", 1, nullptr, nullptr, "summary", 0xC0},
    {"param-get 1 34", "param-get", "answered", 1, nullptr, nullptr, "value", 40040},
    {"counters 2 1", "counters", "answered", 3, nullptr, nullptr, "volume", 0},
    {"line-status", "line-status", "done", 0, nullptr, nullptr, nullptr, 0},
    // No controller at address 9: a silent line is a failure, not a reading of zero.
    {"status 9", "status", "no_answer", 2, nullptr, nullptr, "summary", 0},
    // A refusal is a failure, with the code the driver stored and what it means.
    {"price 1 1 0", "price", "refused", 21, nullptr, nullptr, nullptr, 21},
    {"frobnicate", "frobnicate", "invalid", 0, "Usage", "unknown command (see dorv --help)", nullptr, 0},
    // Whatever bytes a word holds, the line is valid JSON (UTF-8, control bytes escaped).
    {"\xff\x01", "\xEF\xBF\xBD\x01", "invalid", 0, "Usage", "unknown command (see dorv --help)", nullptr, 0},
    {"price 1 1", "price", "invalid", 0, "Usage", "usage: price COLUMN NOZZLE PRICE", nullptr, 0},
    // Prices and volumes are plain decimal numbers: no hexadecimal, exponent or sign.
    {"price 1 1 cheap", "price", "invalid", 0, "Usage",
     "PRICE must be a plain decimal number, such as 45.50; usage: price COLUMN NOZZLE PRICE", nullptr, 0},
    {"price 1 1 0x10", "price", "invalid", 0, "Usage",
     "PRICE must be a plain decimal number, such as 45.50; usage: price COLUMN NOZZLE PRICE", nullptr, 0},
    {"price 1 1 0x1p3", "price", "invalid", 0, "Usage",
     "PRICE must be a plain decimal number, such as 45.50; usage: price COLUMN NOZZLE PRICE", nullptr, 0},
    {"preset-volume 1 1 -5", "preset-volume", "invalid", 0, "Usage",
     "LITRES must be a plain decimal number, such as 45.50; usage: preset-volume COLUMN NOZZLE LITRES", nullptr, 0},
    // Column, nozzle and address are checked before anything is sent: nozzle 5 of column 1
    // would be another pump's nozzle.
    {"release 1 5", "release", "invalid", 0, "Usage", "NOZZLE must be 1 to 4; usage: release COLUMN NOZZLE", nullptr, 0},
    {"authorize 0 1", "authorize", "invalid", 0, "Usage", "COLUMN must be 1 to 32; usage: authorize COLUMN NOZZLE", nullptr, 0},
    {"status 34", "status", "invalid", 0, "Usage", "COLUMN must be 1 to 32; usage: status COLUMN", nullptr, 0},
    {"status 257", "status", "invalid", 0, "Usage", "COLUMN must be 1 to 32; usage: status COLUMN", nullptr, 0},
    {"status-n 1 260", "status-n", "invalid", 0, "Usage", "NOZZLES must be 1 to 4; usage: status-n COLUMN NOZZLES", nullptr, 0},
    {"line 257", "line", "invalid", 0, "Usage", "N must be 0 to 39; usage: line N", nullptr, 0},
    {"lift 99999999999", "lift", "invalid", 0, "Usage", "ADDRESS must be 1 to 64; usage: lift ADDRESS", nullptr, 0},
    {"lift 9", "lift", "invalid", 0, "Usage", "the built-in emulator has no controller at address 9; usage: lift ADDRESS", nullptr, 0},
};

void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.words; }

class OneCommand : public CommandLayer, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(OneCommand, PrintsOneJsonObjectWithOutputsLineStatusOutcomeAndException) {
    const CommandCase& c = GetParam();
    const bool succeeds = std::string(c.outcome) == "answered" || std::string(c.outcome) == "done";
    const int failed = RunSequence(ctx_, SplitWords(c.words));
    EXPECT_EQ(failed, succeeds ? 0 : 1);
    const auto objects = Objects();
    ASSERT_EQ(objects.size(), 1u) << out_.str();
    const Json& o = objects[0];
    EXPECT_EQ(o["command"].text, c.command);
    EXPECT_EQ(o["args"].kind, Json::Array);
    EXPECT_EQ(o["outputs"].kind, Json::Object);
    EXPECT_EQ(o["line"].number, 1);
    EXPECT_EQ(o["outcome"].text, c.outcome);
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
    if (std::string(c.outcome) == "refused") {
        EXPECT_EQ(o["refusal"]["code"].number, c.value);
        EXPECT_EQ(o["refusal"]["meaning"].text, "price refused");
    } else {
        EXPECT_EQ(o["refusal"].kind, Json::Null);
    }
    if (c.output) {
        ASSERT_TRUE(o["outputs"].Has(c.output)) << out_.str();
        EXPECT_EQ(o["outputs"][c.output].number, c.value);
    }
}

INSTANTIATE_TEST_SUITE_P(Commands, OneCommand, ::testing::ValuesIn(kCommands), [](const ::testing::TestParamInfo<CommandCase>& info) {
    std::string name;
    for (const char* p = info.param.words; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
});

// A lone acknowledgement where a reading was due: the command failed, in JSON and in text.
TEST_F(CommandLayer, AReplyWithoutAReadingIsNoReadingAndAFailure) {
    const struct {
        const char* words;
        char command;
    } cases[] = {{"param-get 1 34", 'N'}, {"counters 1 1", '6'}, {"filling 1", '5'}};
    for (const auto& c : cases) {
        for (const bool json : {true, false}) {
            SCOPED_TRACE(c.words);
            out_.str("");
            ctx_.json = json;
            Emulator().ArmFault({.kind = emu::FaultKind::kAck, .count = 1, .command = static_cast<std::uint8_t>(c.command)});
            EXPECT_EQ(RunSequence(ctx_, SplitWords(c.words)), 1);
            if (json) {
                const auto objects = Objects();
                ASSERT_EQ(objects.size(), 1u);
                EXPECT_EQ(objects[0]["outcome"].text, "no_reading");
            } else {
                EXPECT_NE(out_.str().find("  no reading: "), std::string::npos) << out_.str();
            }
        }
    }
}

// The decimals read ahead of a price refused, the price taken: the outcome is the price's.
TEST_F(CommandLayer, APriceTakenAfterARefusedDecimalsReadIsAnswered) {
    DriverSettings s = ctx_.driver.Settings();
    s.readDecimalTRK = true;
    ctx_.driver.ApplySettings(s);
    Emulator().ArmFault({.kind = emu::FaultKind::kRefusal, .count = 1, .command = static_cast<std::uint8_t>('N')});
    EXPECT_EQ(RunSequence(ctx_, SplitWords("price 1 1 45.50")), 0);
    const auto objects = Objects();
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_EQ(objects[0]["outcome"].text, "answered");
    EXPECT_EQ(objects[0]["decimals_read"]["code"].number, 23);
    EXPECT_EQ(Emulator().State(1)->price, 4550u);
}

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

TEST_F(CommandLayer, PlainTextNamesTheExceptionOrRefusalAndTheLineStatus) {
    ctx_.json = false;
    EXPECT_EQ(RunSequence(ctx_, SplitWords("preset-money 1 1 100 price 1 1 0")), 2);
    EXPECT_EQ(out_.str(), std::string("preset-money 1 1 100:  [line 1 status 0]  Exception: ") + msg::kZeroPrice +
                              "\nprice 1 1 0:  [line 1 status 21]  refused: 21 price refused\n");
}

}  // namespace
}  // namespace dorv::tools::test
