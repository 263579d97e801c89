// The control socket's commands, answered against one line in order.
#include <gtest/gtest.h>

#include "control_server.h"

namespace dorv::emu {
namespace {

struct Exchange {
    const char* command;
    const char* answer;  // the answer starts with this
};

const Exchange kExchanges[] = {
    {"totals 1", "ok 0 0"},
    {"state 1", "ok 0 0"},
    {"lift 1", "ok"},
    {"state 1", "ok 1 1"},
    {"hang 1", "ok"},
    {"lift 9", "error no such controller"},
    {"totals 9", "error no such controller"},
    {"totals 1-2", "error no such controller"},
    {"totals", "error no such controller"},
    {"flow 20", "ok"},
    {"fault silence 0", "ok"},
    {"clear-faults", "ok"},
    {"sing 1", "error line 0"},
};

TEST(ControlAnswer, EachCommandInTurn) {
    Line line;
    line.AddController(1);
    for (const Exchange& e : kExchanges)
        EXPECT_EQ(ControlAnswer(line, e.command).rfind(e.answer, 0), 0u) << e.command << " -> " << ControlAnswer(line, e.command);
    EXPECT_DOUBLE_EQ(line.flow_rate(), 20.0);
    EXPECT_EQ(line.armed_faults(), 0u);
}

}  // namespace
}  // namespace dorv::emu
