#include <gtest/gtest.h>

#include <sstream>

#include "script.h"
#include "test_support.h"

namespace dorv::emu::test {
namespace {

using Verb = ScriptCommand::Verb;

TEST(Script, ParsesTimesCommentsAndOrdersSteps) {
    std::istringstream in(R"(# demo
flow 2.5
at 3 hang 1
at 0.5 lift 1   # the driver's customer arrives
at 1 fault silence 2 cmd=1 addr=1
fault noise rate=0.25 noise=5
at 1 type 1-3,16 C
at 1 param 2 22 1
)");
    const auto steps = ParseScript(in);
    ASSERT_EQ(steps.size(), 7U);
    const double times[] = {0, 0, 0.5, 1, 1, 1, 3};
    for (std::size_t i = 0; i < steps.size(); ++i) EXPECT_DOUBLE_EQ(steps[i].at, times[i]) << i;
    EXPECT_EQ(steps[0].command.verb, Verb::kFlow);
    EXPECT_DOUBLE_EQ(steps[0].command.number, 2.5);
    const FaultRule& noise = steps[1].command.fault;
    EXPECT_EQ(noise.kind, FaultKind::kNoise);
    EXPECT_EQ(noise.count, 0);  // a rate alone lasts
    EXPECT_EQ(noise.noise_bytes, 5);
    EXPECT_EQ(steps[2].line, 4);
    const FaultRule& silence = steps[3].command.fault;
    EXPECT_EQ(silence.count, 2);
    EXPECT_EQ(silence.command, '1');
    EXPECT_EQ(silence.address, 1);
    EXPECT_EQ(steps[4].command.addresses, (std::vector<int>{1, 2, 3, 16}));
    EXPECT_EQ(steps[4].command.type, 'C');
    EXPECT_EQ(steps[6].command.verb, Verb::kHang);
}

TEST(Script, RejectsBadLinesNamingThem) {
    const char* bad[] = {
        "lift",
        "lift x",
        "lift 0",
        "at lift 1",
        "at -1 lift 1",
        "jump 1",
        "flow -1",
        "fault",
        "fault sparks",
        "fault noise cmd=",
        "fault noise rate=2",
        "fault late wait=3",
        "type 1 $",
        "param 1 22",
        "common-reply maybe",
    };
    for (const char* text : bad) {
        std::istringstream in(std::string("# first\n") + text + "\n");
        try {
            ParseScript(in);
            ADD_FAILURE() << "accepted: " << text;
        } catch (const ScriptError& e) {
            EXPECT_EQ(e.line(), 2) << text;
        }
    }
}

TEST_F(LineTest, ScriptCommandsActOnTheLine) {
    const char* commands[] = {"lift 1-2",         "type 3 8", "id 4 907162", "param 1 22 3", "add 20", "fault refuse 1 cmd=7",
                              "common-reply off", "flow 0.5"};
    for (const char* c : commands) EXPECT_TRUE(Apply(line_, ParseCommand(c))) << c;
    EXPECT_EQ(Status(1), '1');
    EXPECT_EQ(Status(2), '1');
    EXPECT_EQ(line_.State(3)->type, 'H');
    EXPECT_EQ(line_.State(4)->id, 907162U);
    EXPECT_EQ(line_.State(1)->scales, (Scales{1, 1}));
    EXPECT_EQ(Ask(20, "7"), B({0x18}));
    EXPECT_TRUE(line_.Answer(B({0x02, 'W', '1', '1'})).bytes.empty());
    EXPECT_DOUBLE_EQ(line_.flow_rate(), 0.5);
    EXPECT_FALSE(Apply(line_, ParseCommand("lift 40")));
}

TEST(Script, AddressLists) {
    EXPECT_EQ(ParseAddressList("7"), (std::vector<int>{7}));
    EXPECT_EQ(ParseAddressList("1-3,9"), (std::vector<int>{1, 2, 3, 9}));
    for (const char* bad : {"", "3-1", "a", "1,,2", "0", "1-"}) EXPECT_EQ(ParseAddressList(bad), std::nullopt) << bad;
}

}  // namespace
}  // namespace dorv::emu::test
