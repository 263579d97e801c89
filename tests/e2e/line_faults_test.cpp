// Every fault the line can put on an exchange, over the pseudo-terminal with the real serial
// link: what the command reports, and that the exchange after it is whole again.
#include <cctype>
#include <cstdio>
#include <functional>

#include "driver/messages.h"
#include "e2e_fixture.h"
#include "links/tcp_host_link.h"
#include "param_catalogue.h"
#include "params/parameter_set.h"
#include "tcp_server.h"

namespace dorv::e2e {
namespace {

using emu::FaultKind;

// What one command does under the fault; its result as text ("" where it has none).
using Command = std::function<std::string(TVM30&)>;

std::string Hex3(std::uint8_t a, std::uint8_t b, std::uint8_t c) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02X %02X %02X", a, b, c);
    return buf;
}

// Column 1, nozzles 1 and 2: summary, nozzle 1, nozzle 2.
std::string PollTwoNozzles(TVM30& d) {
    const StatusRecord r = d.GetStatus(1, 1, 2);
    return Hex3(r.bytes[0], r.bytes[2], r.bytes[4]);
}
std::string Ordered(TVM30& d) { return std::to_string(d.OrderedVolume(1, 1)); }

const Command kPoll = PollTwoNozzles;
const Command kStart = [](TVM30& d) {
    d.StartNozzle(1, 1, 1);
    return std::string();
};
const Command kAuthorize = [](TVM30& d) {
    d.AuthorizeNozzle(1, 1, 1, 0);
    return std::string();
};
const Command kStop = [](TVM30& d) {
    d.StopNozzle(1, 1, 1, 1);
    return std::string();
};
const Command kVolumeDose = [](TVM30& d) {
    d.PresetVolume(1, 1, 1, 0, 4.00);
    return Ordered(d);
};
const Command kMoneyDose = [](TVM30& d) {
    d.PresetAmount(1, 1, 1, 0, 182.00);
    return Ordered(d);
};
const Command kPrice = [](TVM30& d) {
    d.SetPrice(1, 1, 1, 0, 51.20);
    return std::string();
};
const Command kShortFilling = [](TVM30& d) { return std::to_string(d.GetFillingVolume(1, 1, nullptr)); };
const Command kReadParam = [](TVM30& d) { return std::to_string(d.ReadParameter(0, 1, 1, 24, 6)); };
const Command kWriteParam = [](TVM30& d) {
    d.SetParam(1, 1, 10 + 24, 654321);
    return std::string();
};
const Command kProgramAddress = [](TVM30& d) {
    d.ProgramNozzleAddress(1, 1, 60001, 9);
    return std::string();
};
const Command kCommonSetting = [](TVM30& d) {
    d.SetParam(1, 1, 3, 1);
    return std::string();
};

struct FaultCase {
    const char* name;
    emu::FaultRule fault;
    Command command;
    int retries;
    std::uint8_t lineStatus;  // after the command
    const char* exception;    // the ESerialIO message, or nullptr
    std::string result;
    const char* taken;  // command characters of the requests the controllers took
};

emu::FaultRule On(FaultKind kind, char command, int count = 1) {
    return {.kind = kind, .count = count, .command = static_cast<std::uint8_t>(command)};
}
const std::string kZeroLitres = std::to_string(0.0);

// Nozzle 1 of column 1 is lifted (0xE1), nozzle 2 hangs (0xC0). Retries 1: two attempts.
const FaultCase kCases[] = {
    {"noise before the reply is dropped and the reply taken",
     {.kind = FaultKind::kNoise, .count = 1, .command = '1', .noise_bytes = 5},
     kPoll,
     1,
     1,
     nullptr,
     "E1 E1 C0",
     "11"},
    {"noise before an acknowledgement is dropped",
     {.kind = FaultKind::kNoise, .count = 1, .command = '2', .noise_bytes = 4},
     kStart,
     1,
     1,
     nullptr,
     "",
     "2"},
    {"a silent second nozzle ends the poll without an exception",
     {.kind = FaultKind::kSilence, .count = 2, .address = 2},
     kPoll,
     1,
     2,
     nullptr,
     "E1 E1 00",
     "111"},
    {"a silent start raises nothing", On(FaultKind::kSilence, '2', 2), kStart, 1, 2, nullptr, "", "22"},
    {"a silent parameter read raises the dispenser error", On(FaultKind::kSilence, 'N', 2), kReadParam, 1, 2, msg::kDispenserSilent, "",
     "NN"},
    {"a silent address programming raises its error", On(FaultKind::kSilence, ']', 2), kProgramAddress, 1, 2, msg::kAddressNotAnswered, "",
     "]]"},
    {"a wrong complement on both attempts is a frame error", On(FaultKind::kCorruptComplement, '1', 2), kPoll, 1, 3, nullptr, "00 00 00",
     "11"},
    {"a wrong complement once is cured by the retry", On(FaultKind::kCorruptComplement, '1', 1), kPoll, 1, 1, nullptr, "E1 E1 C0", "111"},
    {"a wrong check byte on both attempts is state 4", On(FaultKind::kCorruptCheck, '1', 2), kPoll, 1, 4, nullptr, "00 00 00", "11"},
    {"a reply cut short on both attempts is a frame error", On(FaultKind::kTruncate, '1', 2), kPoll, 1, 3, nullptr, "00 00 00", "11"},
    {"a late reply is no reply",
     {.kind = FaultKind::kLate, .count = 1, .command = '1', .delay = 400ms},
     kPoll,
     0,
     2,
     nullptr,
     "00 00 00",
     "1"},
    {"a late acknowledgement of a common setting is left behind",
     {.kind = FaultKind::kLate, .count = 1, .command = 'W', .delay = 400ms},
     kCommonSetting,
     1,
     2,
     nullptr,
     "",
     "W"},
    {"refused start sets line status 16", On(FaultKind::kRefusal, '2'), kStart, 1, 16, nullptr, "", "2"},
    {"refused authorization still sends the start, whose answer stands", On(FaultKind::kRefusal, 'U'), kAuthorize, 1, 1, nullptr, "",
     "8U2"},
    {"refused stop sets line status 20", On(FaultKind::kRefusal, '3'), kStop, 1, 20, nullptr, "", "3"},
    {"refused volume dose sets 18 and orders nothing", On(FaultKind::kRefusal, 'T'), kVolumeDose, 1, 18, nullptr, kZeroLitres, "T"},
    {"refused money dose sets 19 and orders nothing", On(FaultKind::kRefusal, 'S'), kMoneyDose, 1, 19, nullptr, kZeroLitres, "S"},
    {"refused price stops and releases the nozzle and sets 21", On(FaultKind::kRefusal, 'Q'), kPrice, 1, 21, nullptr, "", "Q38"},
    {"refused short filling reading sets 25", On(FaultKind::kRefusal, '4'), kShortFilling, 1, 25, nullptr, kZeroLitres, "4"},
    {"refused parameter read sets 23 and reads -1", On(FaultKind::kRefusal, 'N'), kReadParam, 1, 23, nullptr, "-1", "N"},
    {"refused parameter write sets 23", On(FaultKind::kRefusal, 'O'), kWriteParam, 1, 23, nullptr, "", "O"},
    {"refused address programming sets 24", On(FaultKind::kRefusal, ']'), kProgramAddress, 1, 24, nullptr, "", "]"},
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class LineFault : public PtyDriverTest, public ::testing::WithParamInterface<FaultCase> {
protected:
    static constexpr std::int64_t kMarker = 123456;  // parameter 24 of address 1

    void SetUp() override {
        PtyDriverTest::SetUp();
        Apply([](DriverSettings& s) { s.startInLiter = false; });  // a money dose goes out as money
        emu_.Controllers().SetParam(1, 24, kMarker);
        emu_.Controllers().Lift(1);
        driver_->SetPrice(1, 1, 1, 0, 45.50);
        ASSERT_EQ(LineStatus(), 1);
        emu_.TakeAnswered();
    }
};

TEST_P(LineFault, CommandReportsTheFaultAndTheNextExchangeIsWhole) {
    const FaultCase& c = GetParam();
    link_.SetRetries(c.retries);
    emu_.Controllers().ArmFault(c.fault);

    std::string result, error;
    try {
        result = c.command(*driver_);
    } catch (const ESerialIO& e) {
        error = e.what();
    }
    EXPECT_EQ(error, c.exception ? c.exception : "");
    EXPECT_EQ(LineStatus(), c.lineStatus);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(emu_.TakeAnswered(), c.taken);

    // A reply that came after the host gave up waits on the line; the next exchange must not
    // take it for its own.
    if (c.fault.kind == FaultKind::kLate) {
        ASSERT_TRUE(emu_.InputWaiting());
    }
    emu_.Controllers().ClearFaults();
    link_.SetRetries(1);
    EXPECT_EQ(driver_->ReadParameter(0, 1, 1, 24, 6), kMarker);
    EXPECT_EQ(LineStatus(), 1);
    EXPECT_EQ(driver_->GetStatus(1, 2, 1).bytes[0], 0xC0);  // column 2 is address 2, hung
    EXPECT_EQ(LineStatus(), 1);
}

INSTANTIATE_TEST_SUITE_P(EveryFault, LineFault, ::testing::ValuesIn(kCases), [](const ::testing::TestParamInfo<FaultCase>& info) {
    std::string name;
    for (const char* p = info.param.name; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
});

// Faults that land on the step after the one they hit, through the real link.
class FaultOnAStep : public PtyDriverTest {};

// A release the line lets go unanswered; its acknowledgement comes while the first price of the
// column reads the decimal settings. The acknowledgement is no setting of 0: the scales stay,
// the price travels at price scale 100, and the next price reads the settings again.
TEST_F(FaultOnAStep, ALateAcknowledgementIsNoDecimalSetting) {
    emu_.Controllers().SetParam(1, 22, 1);  // price scale 10
    Apply([](DriverSettings& s) { s.readDecimalTRK = true; });
    // The acknowledgement comes in the middle of the decimals read's wait.
    link_.SetTimeouts(std::chrono::milliseconds(300), kInterByte);
    link_.SetRetries(0);
    emu_.Controllers().ArmFault({.kind = FaultKind::kLate, .count = 1, .command = '8', .delay = 450ms});
    // The decimals read's own reply never comes, so the acknowledgement is all its wait can meet
    // and nothing arrives late for the price after it, however slow the machine.
    emu_.Controllers().ArmFault(On(FaultKind::kSilence, 'N'));

    EXPECT_EQ(driver_->ReleaseNozzle(1, 1, 1), 0);
    driver_->SetPrice(1, 1, 1, 0, 45.50);
    EXPECT_EQ(emu_.TakeAnswered(), "8NQ");
    EXPECT_EQ(emu_.State(1).price, 4550u);
    EXPECT_EQ(driver_->PriceScale(1, 1), 100);
    EXPECT_TRUE(driver_->DecimalsPending(1, 1));

    // The line is quiet again: the settings are read, and the price follows them.
    driver_->SetPrice(1, 1, 1, 0, 45.50);
    EXPECT_EQ(emu_.TakeAnswered(), "NQ");
    EXPECT_EQ(emu_.State(1).price, 455u);
    EXPECT_FALSE(driver_->DecimalsPending(1, 1));
}

// The poll that finds a filling ended reads it and releases the nozzle; when the release goes
// unanswered, the poll ends there: the summary is not folded and the line status tells the host.
TEST_F(FaultOnAStep, AnUnansweredReleaseEndsThePoll) {
    driver_->SetPrice(1, 1, 1, 0, 45.50);
    driver_->PresetVolume(1, 1, 1, 0, 2.00);
    emu_.Controllers().Lift(1);
    driver_->AuthorizeNozzle(1, 1, 1, 0);
    ASSERT_EQ(LineStatus(), 1);
    emu_.Clock().Advance(10s);  // the dose is delivered
    ASSERT_EQ(emu_.State(1).phase, emu::Nozzle::Phase::kEnded);
    emu_.TakeAnswered();

    emu_.Controllers().ArmFault(On(FaultKind::kSilence, '8', 2));  // both attempts
    StatusRecord r = driver_->GetStatus(1, 1, 2);
    EXPECT_EQ(Hex3(r.bytes[0], r.bytes[2], r.bytes[4]), "00 D8 00");
    EXPECT_EQ(LineStatus(), 2);
    EXPECT_EQ(emu_.TakeAnswered(), "17588");
    EXPECT_EQ(emu_.State(1).phase, emu::Nozzle::Phase::kEnded);

    emu_.Controllers().ClearFaults();
    r = driver_->GetStatus(1, 1, 2);
    EXPECT_EQ(Hex3(r.bytes[0], r.bytes[2], r.bytes[4]), "D8 D8 C0");
    EXPECT_EQ(LineStatus(), 1);
    EXPECT_EQ(emu_.State(1).phase, emu::Nozzle::Phase::kIdle);
}

// A read-all whose first parameter is answered after the link gave up on it, over a serial
// line and a device server: every value read is that parameter's own (the late one may fail,
// and then says so), never the value of the one before it.
TEST(LateReplyDuringAReadAll, EveryValueReadIsItsOwn) {
    // Every reply takes 15 ms, so the late one comes 15 ms after the link gave up on it, and
    // an answer to a repetition is still on its way when the next request goes out.
    const emu::LinkTiming timing{0, std::chrono::milliseconds(15)};
    const struct {
        const char* name;
        bool tcp;
    } cases[] = {{"serial line", false}, {"device server", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        emu::ManualClock clock;
        emu::Line controllers(emu::LineConfig{}, clock.AsClock());
        controllers.AddController(1);
        // Neighbours hold different values, so a reading shifted by one shows.
        for (const emu::ParamEntry& p : emu::ParamCatalogue()) controllers.SetParam(1, p.number, p.min + p.number % (p.max - p.min + 1));
        std::unique_ptr<emu::PtyServer> pty;
        std::unique_ptr<emu::TcpServer> server;
        std::unique_ptr<links::StreamHostLink> link;
        if (c.tcp) {
            server = std::make_unique<emu::TcpServer>(controllers, timing, "127.0.0.1", 0);
            auto tcp = std::make_unique<links::TcpHostLink>();
            ASSERT_TRUE(tcp->AssignLine(1, "127.0.0.1", server->port()));
            link = std::move(tcp);
        } else {
            pty = std::make_unique<emu::PtyServer>(controllers, timing);
            auto serial = std::make_unique<links::SerialHostLink>();
            ASSERT_TRUE(serial->AssignLine(1, pty->slave_path()));
            link = std::move(serial);
        }
        link->SetTimeouts(kResponse, kInterByte);
        link->SetRetries(1);
        TVM30 driver(0, link.get());
        ASSERT_EQ(driver.SetupLine(1), 0);
        params::Tvm30Transport transport(driver);

        params::ParameterSet clean, faulted;
        clean.ReadAll(transport, {1, 1});
        controllers.ArmFault({.kind = FaultKind::kLate, .count = 1, .command = static_cast<std::uint8_t>('N'), .delay = kResponse});
        faulted.ReadAll(transport, {1, 1});
        int failed = 0;
        for (std::int32_t i = params::kFirstNumberedPosition; i < clean.Catalogue().GetCount(); ++i) {
            const params::CParameter& want = clean.Catalogue().GetParameter(i);
            const params::CParameter& got = faulted.Catalogue().GetParameter(i);
            if (got.ReadError() && !want.ReadError()) {
                ++failed;
                continue;
            }
            EXPECT_EQ(got.ReadError(), want.ReadError()) << "parameter " << got.Number();
            EXPECT_EQ(got.Value(), want.Value()) << "parameter " << got.Number();
        }
        EXPECT_LE(failed, 1);
    }
}

}  // namespace
}  // namespace dorv::e2e
