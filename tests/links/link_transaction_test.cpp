// Transactions over a real byte stream, the same cases for a serial line (pty) and for a
// serial device server (TCP on 127.0.0.1).
#include <gtest/gtest.h>

#include <array>
#include <future>
#include <sstream>
#include <thread>

#include "links/serial_host_link.h"
#include "links/tcp_host_link.h"
#include "scripted_peer.h"
#include "stub_validator.h"

namespace dorv::links::test {
namespace {

using namespace std::chrono_literals;
using Chunks = std::vector<Bytes>;

constexpr std::uint8_t kLine = 3;
const Bytes kStart = {0x02, 0x21, '2'};  // start, address 1
const Bytes kDataA = DataReply({'A'});

struct Transport {
    const char* name;
    std::unique_ptr<StreamHostLink> (*makeLink)();
    std::unique_ptr<ScriptedPeer> (*makePeer)();
};
void PrintTo(const Transport& t, std::ostream* out) { *out << t.name; }

struct Outcome {
    std::int32_t result;
    std::uint8_t state;
    std::array<std::uint8_t, kReplyCapacity> reply;
    Bytes Reply(std::size_t n) const { return Bytes(reply.begin(), reply.begin() + n); }
};

// Every request gets `chunks`, whatever it asked.
Script Always(Chunks chunks) {
    return [chunks](const Bytes&, int) { return chunks; };
}

// Answers every request with a data reply carrying its address byte, one byte at a time.
Chunks EchoAddress(const Bytes& request, int) {
    Chunks bytes;
    for (std::uint8_t b : DataReply({RecordOf(request)[1]})) bytes.push_back({b});
    return bytes;
}

class LinkOverStream : public ::testing::TestWithParam<Transport> {
protected:
    void SetUp() override {
        link = GetParam().makeLink();
        // Generous: a reply ends where its framing says, never by these running out.
        link->SetTimeouts(3s, 1s);
        peer = Attach(kLine);
    }
    std::unique_ptr<ScriptedPeer> Attach(std::uint8_t line) {
        auto p = GetParam().makePeer();
        p->Attach(*link, line);
        link->SetReplyValidator(line, CheckingValidator, link.get());
        return p;
    }
    Outcome Transact(const Bytes& record, std::uint8_t replyLength = 2, std::uint8_t line = kLine) {
        const Bytes frame = RequestFrame(record);
        Outcome o{};
        o.result = link->Transact(line, frame.data(), static_cast<std::uint8_t>(frame.size()), o.reply.data(), replyLength, 0);
        o.state = link->ReadLineState(line);
        return o;
    }
    // Sends `count` requests with its own address on `line`; each reply must carry it.
    void RunRequests(std::uint8_t line, std::uint8_t address, int count) {
        for (int i = 0; i < count; ++i) {
            const Outcome o = Transact({0x02, address, '1'}, 8, line);
            ASSERT_EQ(o.result, 0);
            EXPECT_EQ(o.state, kStateAnswered);
            EXPECT_EQ(o.reply[1], address) << "the reply to another request";
        }
    }

    std::unique_ptr<StreamHostLink> link;
    std::unique_ptr<ScriptedPeer> peer;
};

TEST_P(LinkOverStream, TakesTheReplyHoweverItArrives) {
    const struct {
        const char* name;
        Chunks chunks;
        Bytes reply;  // at the front of the buffer after validation
    } cases[] = {
        {"ack", {{0x06}}, {0x06}},
        {"refusal", {{0x18}}, {0x18}},
        {"data reply whole", {kDataA}, kDataA},
        {"data reply byte by byte", {{0x02}, {0x41}, {0x3E}, {0x03}, {0x03}, {0x42}}, kDataA},
        {"data reply in odd chunks", {{0x02}, {0x41, 0x3E, 0x03}, {0x03, 0x42}}, kDataA},
        {"noise before the reply", {{0xFF, 0x7F, 0x00}, kDataA}, kDataA},
        {"the line's echo of the request first", {RequestFrame(kStart), kDataA}, kDataA},
    };
    link->SetTimeouts(1s, 1s);  // what comes ahead of a reply has the next request wait this out
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Responder responder(*peer, Always(c.chunks));
        const Outcome o = Transact(kStart);
        EXPECT_EQ(o.result, 0);
        EXPECT_EQ(o.state, kStateAnswered);
        EXPECT_EQ(o.Reply(c.reply.size()), c.reply);
        EXPECT_EQ(responder.AwaitRequests(1), 1);
    }
}

TEST_P(LinkOverStream, RetriesMissingAndRejectedRepliesAsConfigured) {
    const Bytes badCheck = {0x02, 0x41, 0x3E, 0x03, 0x03, 0x43};
    const struct {
        const char* name;
        int retries;
        std::uint8_t replyLength;
        std::vector<Chunks> answers;  // per request; the last one repeats
        std::uint8_t state;
        int requests;
    } cases[] = {
        {"silence, one retry", 1, 2, {{}}, kStateNoReply, 2},
        {"silence, no retry", 0, 2, {{}}, kStateNoReply, 1},
        {"silence where no reply is expected is not retried", 3, 0, {{}}, kStateNoReply, 1},
        {"bad check byte, two retries", 2, 2, {{badCheck}}, kStateBadCheck, 3},
        {"bad check byte, then a good reply", 1, 2, {{badCheck}, {kDataA}}, kStateAnswered, 2},
        {"noise and nothing else", 0, 2, {{{0xFF, 0x7E}}}, kStateNoLead, 1},
    };
    link->SetTimeouts(400ms, 100ms);  // the silent rows wait these out
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        link->SetRetries(c.retries);
        Responder responder(*peer,
                            [&](const Bytes&, int i) { return c.answers[std::min(static_cast<std::size_t>(i), c.answers.size() - 1)]; });
        Outcome o{};
        EXPECT_NO_THROW(o = Transact(kStart, c.replyLength));
        EXPECT_EQ(o.result, 0);  // a dispenser that does not answer is no failure of the line
        EXPECT_EQ(o.state, c.state);
        EXPECT_EQ(responder.AwaitRequests(c.requests), c.requests);
    }
}

TEST_P(LinkOverStream, LineStateFollowsTheValidatorsVerdict) {
    link->SetTimeouts(500ms, 200ms);  // a rejected reply has the next request wait this out
    link->SetRetries(0);
    Responder responder(*peer, Always({{0x06}}));
    struct {
        ScriptedVerdict verdict;
        std::uint8_t state;
    } cases[] = {
        {{link.get(), true, kCodeAccepted, kLineAnswered}, kStateAnswered},
        {{link.get(), false, kCodeBadCheck, -1}, kStateBadCheck},
        {{link.get(), false, kCodeNoLead, -1}, kStateNoLead},
        {{link.get(), false, kCodeBadFrame, kLineFrameError}, kStateFrameError},
        {{link.get(), false, -1, -1}, kStateFrameError},
    };
    for (auto& c : cases) {
        link->SetReplyValidator(kLine, ScriptedValidator, &c.verdict);
        EXPECT_EQ(Transact(kStart).state, c.state) << "code " << c.verdict.code;
    }
}

TEST_P(LinkOverStream, StaleInputIsNeverTakenForTheReply) {
    link->SetTimeouts(500ms, 200ms);  // the lone acknowledgement has the next request wait this out
    std::ostringstream trace;
    link->SetTrace(&trace);
    ASSERT_EQ(link->ConfigureLine(kLine, 42, 4800), 0);
    peer->Send({{0x06}});  // an acknowledgement nobody waited for
    peer->WaitDelivered();
    // The first reply comes with a second one behind it in the same write; the third, to a
    // command expecting data, is a lone acknowledgement with a stray refusal a moment behind it.
    Responder responder(*peer, [&](const Bytes&, int i) {
        if (i == 2) {
            peer->Send({{0x06}});
            std::this_thread::sleep_for(30ms);
            return Chunks{{0x18}};
        }
        return Chunks{i ? kDataA : Bytes{0x18, 0x06}};
    });
    EXPECT_EQ(Transact(kStart).Reply(1), Bytes{0x18});
    EXPECT_EQ(Transact(kStart).Reply(kDataA.size()), kDataA);
    EXPECT_EQ(Transact(kStart, 8).Reply(1), Bytes{0x06});
    EXPECT_EQ(Transact(kStart).Reply(kDataA.size()), kDataA) << "a stray refusal taken for the reply";
    for (const char* entry :
         {" SKIP line 03 06 | discarded\n", " RX line 03 18 | refused\n", " TX line 03 7F 02 21 5E 32 4D 03 03 50 | start, address 1 "}) {
        EXPECT_NE(trace.str().find(entry), std::string::npos) << entry << "in\n" << trace.str().substr(0, 2000);
    }
}

// A reply that comes after the link gave up on it, or behind a lone byte, is for no later
// request: each request below gets the reply that carries its own address.
TEST_P(LinkOverStream, AReplyGivenUpOnNeverStandsForALaterRequest) {
    const Bytes first = {0x02, 0x21, '1'}, second = {0x02, 0x22, '1'};
    const struct {
        const char* name;
        std::vector<Chunks> (*answers)(const Bytes& request, int index);  // index 0: the first
    } cases[] = {
        {"a reply after the timeout, the retry's own 30 ms behind it",
         [](const Bytes& r, int i) {
             std::this_thread::sleep_for(i == 0 ? 450ms : 30ms);
             return std::vector<Chunks>{{DataReply({RecordOf(r)[1]})}};
         }},
        {"a lone acknowledgement where data was due, the reply 80 ms behind it",
         [](const Bytes& r, int i) {
             if (i > 0) return std::vector<Chunks>{{DataReply({RecordOf(r)[1]})}};
             return std::vector<Chunks>{{{0x06}}, {DataReply({RecordOf(r)[1]})}};
         }},
    };
    link->SetTimeouts(300ms, 20ms);
    link->SetRetries(1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Responder responder(*peer, [&](const Bytes& request, int i) {
            const auto parts = c.answers(request, i);
            for (std::size_t k = 0; k + 1 < parts.size(); ++k) {
                peer->Send(parts[k]);
                std::this_thread::sleep_for(80ms);
            }
            return parts.back();
        });
        Transact(first, 8);
        const Outcome o = Transact(second, 8);
        EXPECT_EQ(o.state, kStateAnswered);
        EXPECT_EQ(o.reply[1], 0x22) << "the reply to an earlier request";
    }
}

TEST_P(LinkOverStream, InputThatKeepsComingIsDiscardedWholeOrTheRequestIsNotSent) {
    std::ostringstream trace;
    link->SetTrace(&trace);
    // The line counts as silent after the inter-byte pause; a loaded machine must not fake one.
    link->SetTimeouts(400ms, 500ms);
    link->SetRetries(0);
    ASSERT_EQ(link->ConfigureLine(kLine, 42, 4800), 0);
    const Bytes dataB = DataReply({'B'});
    const struct {
        const char* name;
        bool talker;  // a peer that talks on and on, on every connection
        std::uint8_t state;
        const char* traced;
    } cases[] = {
        {"a 1 MB backlog, acknowledgements among it, is gone before the request", false, kStateAnswered, " bytes discarded in "},
        {"a line still talking when opened afresh gets no request and says so", true, kStateKeptTalking, "request not sent"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // The flood has begun when the request is due, and most of it is still on its way.
        peer->Send({Junk(2048)});
        peer->WaitDelivered();
        std::atomic<bool> stop{false};
        std::thread flood([&] { peer->Talk(stop, c.talker ? SIZE_MAX : 1u << 20); });
        Outcome o{};
        if (!c.talker) {
            Responder responder(*peer, Always({dataB}));
            o = Transact(kStart);
            stop = true;
            flood.join();
            EXPECT_EQ(o.Reply(dataB.size()), dataB) << "a reply out of the flood";
        } else {
            o = Transact(kStart);
            stop = true;
            flood.join();
            EXPECT_FALSE(peer->NextRequest(200ms)) << "the request went into the noise";
        }
        EXPECT_EQ(o.result, 0);
        EXPECT_EQ(o.state, c.state);
        EXPECT_NE(trace.str().find(c.traced), std::string::npos) << trace.str().substr(0, 2000);
        // Once silent, the line serves the next request.
        Responder responder(*peer, Always({dataB}));
        EXPECT_EQ(Transact(kStart).state, kStateAnswered);
    }
}

// A line that kept talking may fall quiet for a moment between two bursts: the request after
// it waits for the line to be silent for longer than that, and gets its own reply.
TEST_P(LinkOverStream, TheRequestAfterALineKeptTalkingWaitsOutItsBursts) {
    // The line counts as talking on while it pauses less than 150 ms; a loaded machine must
    // not fake such a pause.
    link->SetTimeouts(300ms, 150ms);
    link->SetRetries(0);
    ASSERT_EQ(link->ConfigureLine(kLine, 42, 4800), 0);
    peer->Send({Junk(2048)});  // talking already when the request is due
    peer->WaitDelivered();
    std::atomic<bool> stop{false};
    std::thread flood([&] { peer->Talk(stop); });
    EXPECT_EQ(Transact(kStart).state, kStateKeptTalking);
    stop = true;
    flood.join();
    std::thread bursts([&] {
        for (int i = 0; i < 5; ++i) {
            peer->Send({Junk(16)});
            std::this_thread::sleep_for(200ms);
        }
    });
    const Bytes dataB = DataReply({'B'});
    Responder responder(*peer, Always({dataB}));
    const Outcome o = Transact(kStart);
    bursts.join();
    EXPECT_EQ(o.state, kStateAnswered);
    EXPECT_EQ(o.Reply(dataB.size()), dataB) << "a burst taken for the reply";
}

TEST_P(LinkOverStream, AcknowledgementOfACommandExpectingNoReplyIsSwallowed) {
    Responder responder(*peer, [](const Bytes&, int i) {
        if (i > 0) return Chunks{kDataA};
        std::this_thread::sleep_for(20ms);  // a controller in no hurry to acknowledge
        return Chunks{{0x06}};
    });
    const Outcome written = Transact({0x02, 'W', '3', '1'}, 0);
    EXPECT_EQ(written.result, 0);
    EXPECT_EQ(written.state, kStateAnswered);
    const Outcome next = Transact(kStart);
    EXPECT_EQ(next.state, kStateAnswered);
    EXPECT_EQ(next.Reply(kDataA.size()), kDataA);
}

TEST_P(LinkOverStream, DeviceThatWentAwayFailsThenIsReopenedAndReconfigured) {
    struct Configurator {
        StreamHostLink* link;
        int calls = 0;
        static std::int32_t DORV_CALL Apply(void* context, std::uint8_t line) {
            auto* self = static_cast<Configurator*>(context);
            ++self->calls;
            return self->link->ConfigureLine(line, 42, 4800);
        }
    } configurator{link.get()};
    link->SetLineConfigurator(kLine, &Configurator::Apply, &configurator);
    ASSERT_EQ(link->ConfigureLine(kLine, 42, 4800), 0);
    {
        Responder responder(*peer, Always({kDataA}));
        EXPECT_EQ(Transact(kStart).state, kStateAnswered);
    }
    peer->GoAway();
    const Outcome gone = Transact(kStart);
    EXPECT_NE(gone.result, 0);
    EXPECT_EQ(link->GetLineError(kLine), gone.result);
    EXPECT_NE(gone.state, kStateAnswered);

    peer->ComeBack();
    Responder responder(*peer, Always({kDataA}));
    const Outcome back = Transact(kStart);
    EXPECT_EQ(back.result, 0);
    EXPECT_EQ(back.state, kStateAnswered);
    EXPECT_EQ(configurator.calls, 1);
}

TEST_P(LinkOverStream, LinesRunInParallelAndKeepTheirReplies) {
    auto other = Attach(7);
    Responder first(*peer, EchoAddress), second(*other, EchoAddress);
    std::thread a([&] { RunRequests(kLine, 0x21, 20); });
    std::thread b([&] { RunRequests(7, 0x22, 20); });
    a.join();
    b.join();
}

TEST_P(LinkOverStream, ThreadsSharingALineEachGetTheReplyToTheirOwnRequest) {
    Responder responder(*peer, EchoAddress);
    std::thread a([&] { RunRequests(kLine, 0x21, 20); });
    std::thread b([&] { RunRequests(kLine, 0x22, 20); });
    a.join();
    b.join();
    EXPECT_EQ(responder.AwaitRequests(40), 40);
}

TEST_P(LinkOverStream, LineStateIsTheCallingThreadsOwnLastTransaction) {
    link->SetTimeouts(400ms, 100ms);
    link->SetRetries(0);
    Responder responder(*peer, [](const Bytes& request, int) { return RecordOf(request)[1] == 0x21 ? Chunks{kDataA} : Chunks{}; });
    std::promise<void> answered, silenced;
    std::uint8_t answeredState = 0;
    std::thread a([&] {
        Transact(kStart);
        answered.set_value();
        silenced.get_future().wait();
        answeredState = link->ReadLineState(kLine);
    });
    answered.get_future().wait();
    std::thread([&] { EXPECT_EQ(Transact({0x02, 0x22, '2'}).state, kStateNoReply); }).join();
    silenced.set_value();
    a.join();
    EXPECT_EQ(answeredState, kStateAnswered);
    EXPECT_EQ(link->ReadLineState(kLine), kStateNoReply);  // a thread without its own: the latest
}

const Transport kTransports[] = {
    {"SerialPty", [] { return std::unique_ptr<StreamHostLink>(new SerialHostLink); }, MakePtyPeer},
    {"TcpLoopback", [] { return std::unique_ptr<StreamHostLink>(new TcpHostLink); }, MakeTcpPeer},
};
INSTANTIATE_TEST_SUITE_P(Transports, LinkOverStream, ::testing::ValuesIn(kTransports),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace dorv::links::test
