// The exchange and the driver object's own slots, through the recording link.
#include <gtest/gtest.h>

#include "dorv5000/exceptions.h"
#include "driver/tvm30.h"
#include "platform/cp1251.h"
#include "recording_link.h"
#include "temp_dir.h"

namespace dorv {
namespace {

using test::Bytes;
using test::RecordingLink;

class ExchangeTest : public ::testing::Test {
protected:
    test::TempDir dir;
    RecordingLink link;
    TVM30 driver{0, &link};

    ExchangeResult Send(Bytes request, std::uint8_t replyLength = 8, std::uint8_t mode = 2, Record* out = nullptr) {
        Record record{};
        std::copy(request.begin(), request.end(), record.begin());
        const auto r = driver.Exchange(3, record, request.size(), replyLength, mode);
        if (out) *out = record;
        return r;
    }
};

TEST_F(ExchangeTest, FramesTheRequestAndHandsOverLengthAndMode) {
    link.Queue(test::Data({'0', '0'}));
    const auto r = Send({0x02, 0x21, '1'}, 8, 2);
    ASSERT_EQ(link.calls.size(), 1u);
    EXPECT_EQ(link.calls[0].line, 3);
    EXPECT_EQ(link.calls[0].frame, (Bytes{0x7F, 0x02, 0x21, 0x5E, 0x31, 0x4E, 0x03, 0x03, 0x53}));
    EXPECT_EQ(link.calls[0].replyLength, 8);
    EXPECT_EQ(link.calls[0].mode, 2);
    EXPECT_EQ(link.validatorContext, &driver);
    EXPECT_TRUE(r.Answered());
    EXPECT_EQ(driver.GetLineStatus(3), 1);
}

TEST_F(ExchangeTest, Outcomes) {
    struct Case {
        const char* name;
        test::Answer answer;
        std::uint8_t before;  // line status before the exchange
        std::int32_t result;
        std::uint8_t after;
        std::vector<std::int32_t> codes;
    };
    const Case cases[] = {
        {"accepted data", test::Data({'5'}), 9, 0, 1, {0}},
        {"refusal is an answer", test::Refused(), 9, 0, 1, {0}},
        {"silent line", test::Silent(), 9, 0, RecordingLink::kSilentState, {}},
        {"wrong check byte", test::Raw({0x02, 0x41, 0x3E, 0x03, 0x03, 0x43}), 9, 0, RecordingLink::kSilentState, {222}},
        {"broken complement", test::Raw({0x02, 0x41, 0x3F, 0x03, 0x03, 0x42}), 9, 0, 3, {246}},
        {"noise only", test::Raw({0x7F, 0x11}), 9, 0, RecordingLink::kSilentState, {223}},
        {"link failure", test::Failed(42), 9, 42, RecordingLink::kSilentState, {}},
        {"transaction raises: status kept", {test::Answer::ThrowInTransact, {}, 0}, 9, 77, 9, {}},
        {"line state raises: status kept", {test::Answer::ThrowInReadState, {}, 0}, 9, 77, 9, {}},
    };
    for (const auto& c : cases) {
        link.codes.clear();
        link.Queue(c.answer);
        driver.SetLineStatus(3, c.before);
        const auto r = Send({0x02, 0x21, '1'});
        EXPECT_EQ(r.result, c.result) << c.name;
        EXPECT_EQ(r.lineState, c.after) << c.name;
        EXPECT_EQ(driver.GetLineStatus(3), c.after) << c.name;
        EXPECT_EQ(link.codes, c.codes) << c.name;
    }
}

TEST_F(ExchangeTest, RecordHoldsTheReplyWithoutTheNoiseAheadOfIt) {
    Bytes reply = test::DataReply({'4', '0'});
    reply.insert(reply.begin(), {0x7F, 0x7F, 0x21});
    link.Queue(test::Raw(reply));
    Record record{};
    Send({0x02, 0x21, '1'}, 8, 2, &record);
    EXPECT_EQ(Bytes(record.begin(), record.begin() + 8), test::DataReply({'4', '0'}));
    EXPECT_EQ(link.lastReply, test::DataReply({'4', '0'}));
}

TEST_F(ExchangeTest, LinesOutsideTheTablesAreRefusedBeforeSending) {
    Record record{};
    EXPECT_THROW(driver.Exchange(40, record, 3, 2, 0), Exception);
    EXPECT_THROW(driver.Exchange(-1, record, 3, 2, 0), Exception);
    EXPECT_TRUE(link.calls.empty());
}

TEST_F(ExchangeTest, AFailingValidatorInstallationReachesTheCaller) {
    struct Throwing : RecordingLink {
        void DORV_CALL SetReplyValidator(std::uint8_t, ReplyValidator, void*) override { throw std::runtime_error("no validator"); }
    } bad;
    TVM30 other(0, &bad);
    Record record{};
    EXPECT_THROW(other.Exchange(1, record, 3, 2, 0), std::runtime_error);
    EXPECT_TRUE(bad.calls.empty());
}

TEST(DriverObject, TablesStartAtTheirDefaults) {
    test::TempDir dir;
    RecordingLink link;
    TVM30 driver(0, &link);
    for (int line = 0; line < 40; ++line) {
        EXPECT_EQ(driver.GetLineStatus(static_cast<std::uint8_t>(line)), 0);
        for (int column = 0; column <= 33; ++column) {
            const bool configured = line >= 1 && column >= 1 && column <= 32;
            ASSERT_EQ(driver.ColumnType(line, column), configured ? 1 : 0) << line << "/" << column;
            ASSERT_EQ(driver.PriceScale(line, column), configured ? 100 : 0);
            ASSERT_EQ(driver.AmountScale(line, column), configured ? 100 : 0);
            ASSERT_EQ(driver.DecimalsPending(line, column), configured);
            ASSERT_EQ(driver.CurrentNozzle(line, column), 0);
        }
    }
}

TEST(DriverObject, LineStatusSlotsIgnoreLinesWithoutAnEntry) {
    test::TempDir dir;
    RecordingLink link;
    TVM30 driver(0, &link);
    driver.SetLineStatus(39, 17);
    driver.SetLineStatus(40, 5);
    driver.SetLineStatus(255, 5);
    EXPECT_EQ(driver.GetLineStatus(39), 17);
    EXPECT_EQ(driver.GetLineStatus(40), 0);
    EXPECT_EQ(driver.GetLineStatus(255), 0);
}

TEST(DriverObject, DriverInfoIsTheVersionAndProtocolInCp1251) {
    test::TempDir dir;
    RecordingLink link;
    TVM30 driver(0, &link);
    const DriverInfo info = driver.GetDriverInfo();
    EXPECT_EQ(info.length, 32);
    const std::string text(info.text, 32);
    EXPECT_EQ(text.substr(0, 6), "v2.41#");
    EXPECT_EQ(static_cast<unsigned char>(text[6]), 0xCF);  // П
    EXPECT_EQ(platform::Cp1251ToUtf8(text), "v2.41#Протокол колонок Dorv 5000");
}

TEST(DriverObject, ReservedSlotsDoNothing) {
    test::TempDir dir;
    RecordingLink link;
    TVM30 driver(0, &link);
    DI30& host = driver;
    EXPECT_FALSE(host.Reserved5(1));
    host.Reserved12(1, 2, 3);
    host.Reserved25(1, 2);
    host.Reserved26(1, 2);
    EXPECT_TRUE(link.calls.empty());
}

TEST(DriverObject, DriverProperties) {
    test::TempDir dir;
    RecordingLink link;
    TVM30 driver(0, &link);
    struct Case {
        std::int32_t number;
        bool result;
        std::int32_t value;
    };
    const Case cases[] = {{1, true, 1},   {2, true, 0},   {3, true, 0},     {4, true, 1},   {5, true, 1},    {6, true, 0},
                          {7, true, 400}, {8, false, -7}, {9, true, 99999}, {0, false, -7}, {10, false, -7}, {-1, false, -7}};
    for (const auto& c : cases) {
        std::int32_t value = -7;
        EXPECT_EQ(driver.GetDriverProperty(c.number, &value), c.result) << c.number;
        EXPECT_EQ(value, c.value) << c.number;
    }
    DriverSettings s = driver.Settings();
    s.freeStartEn = false;
    driver.ApplySettings(s);
    std::int32_t value = -7;
    EXPECT_TRUE(driver.GetDriverProperty(4, &value));
    EXPECT_EQ(value, 0);
}

TEST(Cp1251, RoundTripsTheDriversTexts) {
    struct Case {
        const char* utf8;
        std::string cp1251;
    };
    const Case cases[] = {
        {"ТРК", "\xD2\xD0\xCA"}, {"ёЁ№", "\xB8\xA8\xB9"}, {"&ТРК", "&\xD2\xD0\xCA"}, {"яА", "\xFF\xC0"}, {"abc", "abc"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::Utf8ToCp1251(c.utf8), c.cp1251) << c.utf8;
        EXPECT_EQ(platform::Cp1251ToUtf8(c.cp1251), c.utf8) << c.utf8;
    }
    EXPECT_EQ(platform::Utf8ToCp1251("漢"), "?");
    EXPECT_EQ(platform::Utf8ToCp1251("\xD0"), "?");
    EXPECT_EQ(platform::Utf8ToCp1251("\xFF\xFE"), "??");
}

}  // namespace
}  // namespace dorv
