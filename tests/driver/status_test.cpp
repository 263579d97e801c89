// Status polling: decoding, folding into the summary, the end of a filling.
#include <gtest/gtest.h>

#include <thread>

#include "driver_rig.h"

namespace dorv {
namespace {

using namespace test;

// A status answer: the status character, and the second byte when there is one.
Answer Status(const char* bytes) { return Data(B(bytes)); }

// The reading that closes an ended filling of a type-1 column: type, then the '5' reply.
const Answer kType1 = Status("A");
const Answer kFilling = Data(B("001950") + B("088725") + B("4550"));

TEST(Status, OneQueryPerNozzleToItsAddress) {
    Rig rig;
    rig.Queue({Status("0"), Status("0")});
    rig.driver.GetStatus(1, 3, 2);
    EXPECT_EQ(rig.Exchanges(), (std::vector<Sent>{{{0x02, 0x23, '1'}, 8, 2}, {{0x02, 0x24, '1'}, 8, 2}}));
}

TEST(Status, DecodingOfOneNozzle) {
    struct Case {
        const char* name;
        Answer answer;
        std::uint8_t code;
    };
    const Case cases[] = {
        {"'0' idle", Status("0"), 0xC0},
        {"'1' nozzle lifted", Status("1"), 0xE1},
        {"'2' ready", Status("2"), 0xC8},
        {"'3' stopped", Status("3"), 0xD9},
        {"'7' stands for itself", Status("7"), 0x37},
        {"'A' stands for itself", Status("A"), 0x41},
        {"'4' without a second byte is ready", Status("4"), 0xC8},
        {"'5' without a second byte is ready", Status("5"), 0xC8},
        {"'6' without a second byte is ready", Status("6"), 0xC8},
        {"a one-byte refusal decodes no stale request byte", Refused(), 0x00},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.link.Queue(c.answer);
        const StatusRecord r = rig.driver.GetStatus(1, 1, 1);
        EXPECT_EQ(r.bytes[0], c.code);
        EXPECT_EQ(r.bytes[2], c.code);
        EXPECT_EQ(r.bytes[3], 0);
        EXPECT_EQ(r.bytes[14], 1);
        EXPECT_EQ(rig.driver.NozzleState(1, 1, 1), c.code);
        EXPECT_EQ(rig.link.calls.size(), 1u);
    }
}

TEST(Status, SummaryFolding) {
    struct Case {
        const char* name;
        const char* first;
        const char* second;
        std::uint8_t summary;
        std::uint8_t summaryNozzle;
    };
    const Case cases[] = {
        {"idle, then lifted", "0", "1", 0xE2, 2},
        {"lifted, then ready", "1", "2", 0xC8, 2},
        {"ready, then lifted", "2", "1", 0xC8, 1},
        {"a later ready replaces an earlier one", "2", "2", 0xC8, 2},
        {"idle twice: the first", "0", "0", 0xC0, 1},
        {"lifted twice: the first", "1", "1", 0xE1, 1},
        {"stopped outranks lifted", "1", "3", 0xDA, 2},
        {"stopped stays", "3", "1", 0xD9, 1},
        {"idle, then stopped", "0", "3", 0xDA, 2},
        {"a character replaces nothing after idle", "0", "7", 0xC0, 1},
        {"a character first is never replaced", "A", "2", 0x41, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.Queue({Status(c.first), Status(c.second)});
        const StatusRecord r = rig.driver.GetStatus(1, 1, 2);
        EXPECT_EQ(r.bytes[0], c.summary);
        EXPECT_EQ(r.bytes[14], c.summaryNozzle);
        EXPECT_EQ(r.bytes[1], 0);
        EXPECT_EQ(r.bytes[15], 0);
    }
}

TEST(Status, FillingUnderWayOrEnded) {
    struct Case {
        const char* name;
        bool avtomatika;
        double filled;
        double ordered;
        const char* answer;  // of nozzle 2; nozzle 1 is idle
        std::uint8_t code;
        std::vector<std::uint8_t> commands;
    };
    const std::vector<std::uint8_t> polls{'1', '1'};
    const std::vector<std::uint8_t> closed{'1', '1', '7', '5', '8'};
    const Case cases[] = {
        {"under way", false, 10, 20, "40", 0xD2, polls},
        {"under way, one data byte, SpecAvtomatika", true, 10, 20, "4", 0xD2, polls},
        {"within a litre of the dose: ended", false, 19.5, 20, "40", 0xD8, closed},
        {"nothing filled yet: ended", false, 0.005, 20, "40", 0xD8, closed},
        {"another second byte: ended", false, 10, 20, "41", 0xD8, closed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.Set([&](DriverSettings& s) { s.specAvtomatika = c.avtomatika; });
        rig.driver.SetFilledVolume(1, 1, c.filled);
        rig.driver.SetOrderedVolume(1, 1, c.ordered);
        rig.Queue({Status("0"), Status(c.answer), kType1, kFilling, Ack()});
        const StatusRecord r = rig.driver.GetStatus(1, 1, 2);
        EXPECT_EQ(r.bytes[4], c.code);
        EXPECT_EQ(r.bytes[0], c.code);
        EXPECT_EQ(r.bytes[14], 2);
        EXPECT_EQ(rig.Commands(), c.commands);
    }
}

TEST(Status, EndedFillingIsReadAndReleasedForTheNozzleThatReportedIt) {
    Rig rig;
    rig.driver.SetCurrentNozzle(1, 1, 3);
    rig.link.Queue(Ack());
    rig.driver.SetPrice(1, 1, 2, 0, 45.5);
    rig.Forget();
    rig.Queue({Status("0"), Status("40"), kType1, kFilling, Ack()});
    rig.driver.GetStatus(1, 1, 2);
    const auto requests = rig.Requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[3], (Bytes{0x02, 0x22, '5'}));
    EXPECT_EQ(requests[4], (Bytes{0x02, 0x22, '8'}));
    EXPECT_DOUBLE_EQ(rig.driver.FilledVolume(1, 1), 19.50);
    EXPECT_EQ(rig.driver.CurrentNozzle(1, 1), 3);
}

TEST(Status, CurrentNozzleIsPutBackWhenTheEndedFillingCannotBeRead) {
    Rig rig;
    rig.driver.SetCurrentNozzle(1, 1, 3);
    rig.Queue({Status("40"), Failed()});
    EXPECT_EQ(RaisedBy([&] { rig.driver.GetStatus(1, 1, 1); }), SerialError(msg::kGetType));
    EXPECT_EQ(rig.driver.CurrentNozzle(1, 1), 3);
    EXPECT_EQ(rig.Commands(), (std::vector<std::uint8_t>{'1', '7'}));
}

TEST(Status, SpecAvtomatikaStopsTheNozzleNumberedByTheCount) {
    struct Case {
        const char* name;
        std::uint8_t count;
        std::vector<Answer> answers;
        std::vector<Bytes> requests;
    };
    const Case cases[] = {
        {"'6' under way on nozzle 1 of 3 stops nozzle 3",
         3,
         {Status("60"), Ack(), Status("0"), Status("0")},
         {{0x02, 0x21, '1'}, {0x02, 0x23, '3'}, {0x02, 0x22, '1'}, {0x02, 0x23, '1'}}},
        {"'5' ended: short reading, release, then the stop",
         1,
         {Status("51"), Data(B("x01950")), Ack(), Ack()},
         {{0x02, 0x21, '1'}, {0x02, 0x21, '4'}, {0x02, 0x21, '8'}, {0x02, 0x21, '3'}}},
        {"'4' sends no stop", 1, {Status("40")}, {{0x02, 0x21, '1'}}},
        {"a count of 6 stops nozzle 4, the last one polled",
         6,
         {Status("60"), Ack(), Status("0"), Status("0"), Status("0")},
         {{0x02, 0x21, '1'}, {0x02, 0x24, '3'}, {0x02, 0x22, '1'}, {0x02, 0x23, '1'}, {0x02, 0x24, '1'}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.Set([](DriverSettings& s) { s.specAvtomatika = true; });
        rig.driver.SetFilledVolume(1, 1, 10);
        rig.driver.SetOrderedVolume(1, 1, 20);
        for (const Answer& a : c.answers) rig.link.Queue(a);
        rig.driver.GetStatus(1, 1, c.count);
        EXPECT_EQ(rig.Requests(), c.requests);
    }
}

TEST(Status, ANozzleThatDoesNotAnswerEndsThePoll) {
    Rig rig;
    rig.driver.SetNozzleState(1, 1, 2, 0xC0);
    rig.Queue({Status("2"), Silent(), Status("1")});
    const StatusRecord r = rig.driver.GetStatus(1, 1, 3);
    EXPECT_EQ(rig.link.calls.size(), 2u);
    EXPECT_EQ(r.bytes[0], 0xC8);
    EXPECT_EQ(r.bytes[14], 1);
    EXPECT_EQ(r.bytes[2], 0xC8);
    EXPECT_EQ(r.bytes[4], 0);
    EXPECT_EQ(r.bytes[6], 0);
    EXPECT_EQ(rig.driver.NozzleState(1, 1, 2), 0);
    EXPECT_EQ(rig.driver.GetLineStatus(1), kSilent);
}

TEST(Status, TheLastExchangeOfANozzlesStepDecidesWhetherThePollGoesOn) {
    struct Case {
        const char* name;
        bool avtomatika;
        double filled;                // of 20 litres ordered
        std::vector<Answer> answers;  // nozzle 1's step, then nozzle 2 idle where it is polled
        std::uint8_t word;            // nozzle 1's code
        std::uint8_t summary;
        std::uint8_t status;
        std::size_t sent;
    };
    const Case cases[] = {
        {"ended and released: folded, polling goes on",
         false,
         19.5,
         {Status("40"), kType1, kFilling, Ack(), Status("0")},
         0xD8,
         0xD8,
         1,
         5},
        {"ended, the release unanswered: the poll stops unfolded",
         false,
         19.5,
         {Status("40"), kType1, kFilling, Silent(), Status("0")},
         0xD8,
         0,
         kSilent,
         4},
        {"ended, the release failed: the poll stops unfolded",
         false,
         19.5,
         {Status("40"), kType1, kFilling, Failed(), Status("0")},
         0xD8,
         0,
         kSilent,
         4},
        {"SpecAvtomatika's stop accepted: polling goes on", true, 10, {Status("60"), Ack(), Status("0")}, 0xD1, 0xD1, 1, 3},
        {"SpecAvtomatika's stop refused: the poll stops with 20", true, 10, {Status("60"), Refused(), Status("0")}, 0xD1, 0, 20, 2},
        {"SpecAvtomatika's stop unanswered: the poll stops", true, 10, {Status("60"), Silent(), Status("0")}, 0xD1, 0, kSilent, 2},
        {"ended under SpecAvtomatika, released, the stop refused",
         true,
         19.5,
         {Status("51"), Data(B("x01950")), Ack(), Refused(), Status("0")},
         0xD8,
         0,
         20,
         4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.Set([&](DriverSettings& s) { s.specAvtomatika = c.avtomatika; });
        rig.driver.SetFilledVolume(1, 1, c.filled);
        rig.driver.SetOrderedVolume(1, 1, 20);
        for (const Answer& a : c.answers) rig.link.Queue(a);
        const StatusRecord r = rig.driver.GetStatus(1, 1, 2);
        EXPECT_EQ(r.bytes[2], c.word);
        EXPECT_EQ(rig.driver.NozzleState(1, 1, 1), c.word);
        EXPECT_EQ(r.bytes[0], c.summary);
        EXPECT_EQ(r.bytes[14], c.summary == 0 ? 0 : 1);
        EXPECT_EQ(rig.driver.GetLineStatus(1), c.status);
        EXPECT_EQ(rig.link.calls.size(), c.sent);
    }
}

// A stop whose slot another thread's exchange follows at once: the poll still sees the stop's
// refusal, not the other thread's answered line.
TEST(Status, ThePollJudgesItsOwnExchangesNotAnotherThreadsLineStatus) {
    struct OtherThreadAfterStop : TVM30 {
        using TVM30::TVM30;
        void DORV_CALL StopNozzle(std::int32_t l, std::int32_t c, std::int32_t n, std::uint8_t f) override {
            TVM30::StopNozzle(l, c, n, f);
            std::thread([&] { SetLineStatus(static_cast<std::uint8_t>(l), 1); }).join();
        }
    };
    TempDir dir;
    RecordingLink link;
    OtherThreadAfterStop driver(0, &link);
    DriverSettings s = driver.Settings();
    s.specAvtomatika = true;
    driver.ApplySettings(s);
    driver.SetFilledVolume(1, 1, 10);
    driver.SetOrderedVolume(1, 1, 20);
    for (const Answer& a : {Status("60"), Refused(), Status("0")}) link.Queue(a);
    const StatusRecord r = driver.GetStatus(1, 1, 2);
    EXPECT_EQ(r.bytes[0], 0);
    EXPECT_EQ(link.calls.size(), 2u);
}

TEST(Status, FailedQueryRaisesWithTheEarlierNozzlesRecorded) {
    Rig rig;
    rig.Queue({Status("1"), Failed()});
    EXPECT_EQ(RaisedBy([&] { rig.driver.GetStatus(1, 1, 2); }), SerialError(msg::kGetStatus));
    EXPECT_EQ(rig.driver.NozzleState(1, 1, 1), 0xE1);
}

TEST(Status, NozzleCountZeroSendsNothingAndTheColumnIsChecked) {
    Rig rig;
    for (std::uint8_t column = 0; column <= 33; ++column) {
        const StatusRecord r = rig.driver.GetStatus(1, column, 0);
        for (std::uint8_t b : r.bytes) EXPECT_EQ(b, 0);
        EXPECT_EQ(rig.driver.GetStatusCode(1, column), 0);
    }
    // Nothing is polled, so no line is needed either.
    EXPECT_EQ(rig.driver.GetStatusCode(200, 1), 0);
    EXPECT_TRUE(rig.link.calls.empty());
    EXPECT_EQ(RaisedBy([&] { rig.driver.GetStatus(1, 34, 0); }), CallerError(msg::kColumnRange));
    EXPECT_EQ(RaisedBy([&] { rig.driver.GetStatus(40, 1, 1); }), CallerError(msg::kLineRange));
    EXPECT_TRUE(rig.link.calls.empty());
}

TEST(Status, ACountAboveFourPollsTheFourNozzlesAColumnHas) {
    Rig rig;
    rig.Queue({Status("0"), Status("0"), Status("0"), Status("1")});
    const StatusRecord r = rig.driver.GetStatus(1, 1, 200);
    EXPECT_EQ(rig.link.calls.size(), 4u);
    EXPECT_EQ(r.bytes[8], 0xE4);
    for (int i = 10; i < 14; ++i) EXPECT_EQ(r.bytes[i], 0);
    EXPECT_EQ(r.bytes[0], 0xE4);
    EXPECT_EQ(r.bytes[14], 4);
    EXPECT_EQ(r.bytes[15], 0);
}

}  // namespace
}  // namespace dorv
