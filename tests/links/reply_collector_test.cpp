#include "links/reply_collector.h"

#include <gtest/gtest.h>

#include <vector>

namespace dorv::links {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Step = ReplyCollector::Step;

const Bytes kStart = {0x7F, 0x02, 0x21, 0x5E, 0x32, 0x4D, 0x03, 0x03, 0x50};
const Bytes kDataA = {0x02, 0x41, 0x3E, 0x03, 0x03, 0x42};

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// Feeds `input` in chunks of `chunk` bytes (0: all at once) until the collector is done and
// returns how many bytes it took.
std::size_t FeedInChunks(ReplyCollector& c, const Bytes& input, std::size_t chunk) {
    std::size_t at = 0;
    while (at < input.size() && !c.Done()) {
        const std::size_t n = chunk == 0 ? input.size() - at : std::min(chunk, input.size() - at);
        const std::size_t taken = c.Feed({input.data() + at, n});
        at += taken;
        if (taken < n) break;
    }
    return at;
}

TEST(ReplyCollector, EndsTheReplyWhereItsFramingEnds) {
    struct Case {
        const char* name;
        Bytes input;
        Step step;
        std::size_t taken;
        Bytes held = {};  // what the collector holds, when not simply the bytes it took
        Bytes echo = {};  // the request sent
    };
    const Case cases[] = {
        {"ack alone", {0x06}, Step::Complete, 1},
        {"refusal alone", {0x18}, Step::Complete, 1},
        {"not acknowledged alone", {0x15}, Step::Complete, 1},
        {"data reply", kDataA, Step::Complete, 6},
        {"reply without data", {0x02, 0x03, 0x03, 0x40}, Step::Complete, 4},
        {"noise kept for the validator", Join({{0xFF, 0x7F, 0x00}, kDataA}), Step::Complete, 9},
        {"second reply in the same chunk left alone", Join({{0x06}, kDataA}), Step::Complete, 1},
        {"ack after a data reply left alone", Join({kDataA, {0x06}}), Step::Complete, 6},
        {"03 at a complement place is no trailer", {2, 0x7C, 3, 3, 3, 0x43}, Step::Complete, 6},
        // 03 where a data byte stands, then no second 03: a malformed pair, not the end
        {"lone 03 at a data place", {2, 3, 0x7C, 0x41, 0x3E, 3, 3, 0x42}, Step::Complete, 8},
        {"cut short after the trailer", {0x02, 0x41, 0x3E, 0x03, 0x03}, Step::CheckByte, 5},
        {"cut short in the data", {0x02, 0x41}, Step::Complement, 2},
        {"nothing but noise", {0x7F, 0x00, 0x55}, Step::WaitLead, 3},
        {"no echo expected: a request passes for a reply", kStart, Step::Complete, 9},
        {"echo of the request taken out", Join({kStart, kDataA}), Step::Complete, 15, kDataA, kStart},
        {"noise before the echo stays", Join({{0x00}, kStart, {0x06}}), Step::Complete, 11, {0x00, 0x06}, kStart},
        {"damaged echo stays as noise", Join({{0x7F, 0x02, 0x22}, kDataA}), Step::Complete, 9, {}, kStart},
    };
    for (const auto& c : cases) {
        for (std::size_t chunk : {0, 1, 2, 5}) {
            SCOPED_TRACE(std::string(c.name) + ", chunks of " + std::to_string(chunk));
            ReplyCollector collector(c.echo);
            const std::size_t taken = FeedInChunks(collector, c.input, chunk);
            const Bytes held = c.held.empty() ? Bytes(c.input.begin(), c.input.begin() + taken) : c.held;
            EXPECT_EQ(collector.CurrentStep(), c.step);
            EXPECT_EQ(taken, c.taken);
            EXPECT_EQ(Bytes(collector.Bytes().begin(), collector.Bytes().end()), held);
        }
    }
}

TEST(ReplyCollector, HandsTheValidatorTheReplyFromItsLeadByteOn) {
    Bytes damagedStart = kStart;
    damagedStart.back() = 0xD0;
    struct Case {
        const char* name;
        Bytes input;
        Bytes reply;
    };
    const Case cases[] = {
        {"damaged echo, then an ack", Join({damagedStart, {0x06}}), {0x06}},
        {"echo cut short by the reply", Join({{0x7F, 0x02, 0x21}, kDataA}), kDataA},
        {"noise first", Join({{0x7F, 0x11}, kDataA}), kDataA},
        {"whole echo, then the reply", Join({kStart, kDataA}), kDataA},
        {"noise only", {0x7F, 0x11, 0x44}, {0x7F, 0x11, 0x44}},
    };
    for (const auto& c : cases) {
        ReplyCollector collector(kStart);
        FeedInChunks(collector, c.input, 0);
        EXPECT_EQ(Bytes(collector.Reply().begin(), collector.Reply().end()), c.reply) << c.name;
    }
}

TEST(ReplyCollector, StopsAtTheReplyCapacity) {
    const Bytes endless(400, 0x41);
    Bytes endsAtTheLimit(kReplyCapacity - kDataA.size(), 0x00);
    endsAtTheLimit.insert(endsAtTheLimit.end(), kDataA.begin(), kDataA.end());
    ReplyCollector full, complete;
    EXPECT_EQ(full.Feed(endless), std::size_t(kReplyCapacity));
    EXPECT_EQ(full.CurrentStep(), Step::Full);
    EXPECT_EQ(full.Feed(endless), 0u);
    EXPECT_EQ(complete.Feed(endsAtTheLimit), std::size_t(kReplyCapacity));
    EXPECT_EQ(complete.CurrentStep(), Step::Complete);
}

}  // namespace
}  // namespace dorv::links
