#include <thread>

#include "window_fixture.h"

namespace dorv::test {
namespace {

TEST_F(WindowTest, ReadRunReadsTheNumberedEntriesInOrderAtTheSpinEditsValues) {
    link->onRead = [](const TransportCall& c) -> std::int64_t {
        if (c.number == 10) throw std::runtime_error("line gone");
        return c.number == 9 ? 125 : -1;
    };
    view.comPort = 30;  // beyond the spin edit's range: kept within it
    view.address = 12;
    Show();
    Entry(16).RecordRead(77, "0,77");
    link->Hold();
    ASSERT_TRUE(window->Button1Click());
    link->WaitForCalls(1);
    window->SetAddress(40);  // the run takes the value the edit holds at each entry
    link->Release();
    window->WaitForRuns();
    const auto calls = link->Calls();
    ASSERT_EQ(calls.size(), 50u);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(calls[i].number, Entry(7 + i).Number());
    EXPECT_EQ(std::make_tuple(calls[0].line, calls[0].address, calls[1].address), std::make_tuple(24, 12, 40));
    EXPECT_EQ(view.RowRepaints().front(), 8);
    const auto ok = Entry(15).State(), failed = Entry(16).State();
    EXPECT_EQ(std::make_tuple(ok.value, ok.readText, ok.readError), std::make_tuple(125, std::string("1,25"), false));
    EXPECT_EQ(std::make_tuple(failed.value, failed.readText, failed.readError), std::make_tuple(77, std::string("0,77"), true));
}

TEST_F(WindowTest, WriteRunSkipsTwelveEntriesAndReportsTheLastOneWritten) {
    const struct {
        const char* behaviour;
        std::function<bool(const TransportCall&)> onWrite;
        const char* last;
    } cases[] = {
        {"all written", [](const TransportCall&) { return true; }, "Операция записи параметра 51"},
        {"all refused", [](const TransportCall&) { return false; }, "Ошибка при операции записи параметра 51"},
        {"all raising", [](const TransportCall&) -> bool { throw std::runtime_error("gone"); }, "Ошибка при операции записи параметра 51"},
    };
    for (const auto& c : cases) {
        link = std::make_shared<FakeTransport>();
        link->onWrite = c.onWrite;
        Show();
        Entry(19).SetValue(123);  // number 13 has two digits: never sent cut down
        ASSERT_TRUE(window->WriteBtnClick());
        window->WaitForRuns();
        EXPECT_EQ(link->Count(true), 37u) << c.behaviour;
        EXPECT_EQ(view.StatusTexts().back(), c.last) << c.behaviour;
    }
}

TEST_F(WindowTest, ASecondClickWhileARunIsUnderWayStartsNothing) {
    Show();
    link->Hold();
    std::atomic<int> started{0};
    std::vector<std::thread> clickers;
    for (int i = 0; i < 4; ++i) clickers.emplace_back([&] { started += window->Button1Click(); });
    for (auto& t : clickers) t.join();
    EXPECT_EQ(started, 1);
    EXPECT_TRUE(window->WriteBtnClick());  // the other kind may run beside it
    link->Release();
    window->WaitForRuns();
    EXPECT_EQ(link->Count(false), 50u);
    EXPECT_TRUE(window->Button1Click());  // once it has ended, a click starts a new one
    window->WaitForRuns();
    EXPECT_EQ(link->Count(false), 100u);
}

TEST_F(WindowTest, ARunWithoutADriverMarksTheNumberedEntriesAndSendsNothing) {
    Show(/*withDriver=*/false);
    ASSERT_TRUE(window->Button1Click());
    window->WaitForRuns();
    EXPECT_TRUE(link->Calls().empty());
    for (int i = 0; i < 57; ++i) EXPECT_EQ(Entry(i).ReadError(), i >= 7) << i;
}

TEST_F(WindowTest, ARunOutlivesTheClosedWindowOnItsOwnCatalogue) {
    Show();
    const std::weak_ptr<params::CTRKParameters> first = window->Catalogue();
    link->Hold();
    ASSERT_TRUE(window->Button1Click());
    link->WaitForCalls(1);
    window->FormClose();
    EXPECT_FALSE(first.expired());
    window->FormShow();
    EXPECT_FALSE(window->Button1Click());  // the earlier run is still under way
    link->Release();
    window->WaitForRuns();
    EXPECT_TRUE(first.expired());
    EXPECT_EQ(link->Count(false), 50u);
}

TEST_F(WindowTest, DestroyingTheWindowStopsItsRunsBetweenEntries) {
    Show();
    link->Hold();
    ASSERT_TRUE(window->Button1Click());
    ASSERT_TRUE(window->WriteBtnClick());
    link->WaitForCalls(2);
    window->RequestStopRuns();
    link->Release();
    window.reset();
    EXPECT_EQ(link->Calls().size(), 2u);
}

// Closing while a read-all is under way: the run's thread is joined before any part of the
// run goes, never while it is still in the middle of an entry (the thread sanitizer's run
// catches the late join).
TEST_F(WindowTest, ClosingDuringAReadAllJoinsTheRunBeforeItGoes) {
    for (int i = 0; i < 30; ++i) {
        window = std::make_unique<TParamFrm>(view, params::NumberLocale{" ", ","});
        Show();
        ASSERT_TRUE(window->Button1Click());
        window->Shutdown();
        EXPECT_FALSE(window->ReadRunActive()) << i;
    }
}

}  // namespace
}  // namespace dorv::test
