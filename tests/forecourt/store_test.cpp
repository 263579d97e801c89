// The store: a sale's way from authorization to clearing, the uplink's outbox written with
// it, and what survives reopening the file.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>

#include "store/store.h"

namespace forecourt {
namespace {

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = std::filesystem::temp_directory_path() / ("forecourt-store-" + std::to_string(::getpid()) + ".db");
        Remove();
    }
    void TearDown() override { Remove(); }
    void Remove() {
        for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path_.string() + suffix);
    }
    std::int64_t Finished(Store& store, int pump = 1) {
        Sale s;
        s.pump = pump;
        s.nozzle = 1;
        s.grade = "95";
        s.price_cents = 185;
        s.price_set = 1;
        s.started = UtcNow();
        s.before = Totalizer{1000, 1850};
        const auto id = store.OpenSale(s);
        store.FinishSale(id, 500, 925, Totalizer{1500, 2775}, false);
        return id;
    }
    int OutboxRows(const std::string& where = "1") {
        sqlite3* db = nullptr;
        sqlite3_open(path_.c_str(), &db);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, ("SELECT COUNT(*) FROM outbox WHERE " + where).c_str(), -1, &st, nullptr);
        sqlite3_step(st);
        const int n = sqlite3_column_int(st, 0);
        sqlite3_finalize(st);
        sqlite3_close(db);
        return n;
    }
    std::filesystem::path path_;
};

struct Step {
    enum { kLock, kClear } op;
    const char* holder;
    SaleChange expected;
};

struct Sequence {
    const char* name;
    std::vector<Step> steps;
    const char* state;
};
void PrintTo(const Sequence& row, std::ostream* out) { *out << row.name; }

const Sequence kSequences[] = {
    {"lock_then_clear_by_the_same_holder",
     {{Step::kLock, "pos1", SaleChange::kDone}, {Step::kClear, "pos1", SaleChange::kDone}},
     "cleared"},
    {"clear_without_lock", {{Step::kClear, "pos1", SaleChange::kNotLocked}}, "payable"},
    {"relock_by_the_holder_is_accepted", {{Step::kLock, "pos1", SaleChange::kDone}, {Step::kLock, "pos1", SaleChange::kDone}}, "locked"},
    {"lock_held_by_another", {{Step::kLock, "pos1", SaleChange::kDone}, {Step::kLock, "pos2", SaleChange::kLockedByOther}}, "locked"},
    {"clear_by_another", {{Step::kLock, "pos1", SaleChange::kDone}, {Step::kClear, "pos2", SaleChange::kLockedByOther}}, "locked"},
    {"clear_twice",
     {{Step::kLock, "pos1", SaleChange::kDone},
      {Step::kClear, "pos1", SaleChange::kDone},
      {Step::kClear, "pos1", SaleChange::kAlreadyCleared}},
     "cleared"},
    {"lock_after_clear",
     {{Step::kLock, "pos1", SaleChange::kDone},
      {Step::kClear, "pos1", SaleChange::kDone},
      {Step::kLock, "pos2", SaleChange::kAlreadyCleared}},
     "cleared"},
};

class SaleSequence : public StoreTest, public ::testing::WithParamInterface<Sequence> {};

TEST_P(SaleSequence, EndsInItsState) {
    Store store(path_.string());
    const auto id = Finished(store);
    for (const Step& step : GetParam().steps) {
        Sale sale;
        const auto result = step.op == Step::kLock ? store.Lock(id, step.holder, sale) : store.Clear(id, step.holder, sale);
        EXPECT_EQ(result, step.expected) << step.holder;
    }
    EXPECT_EQ(store.Find(id)->state, GetParam().state);
}

INSTANTIATE_TEST_SUITE_P(Store, SaleSequence, ::testing::ValuesIn(kSequences),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(StoreTest, OpenSalesAndFinishedOnesSurviveReopening) {
    std::int64_t open = 0, done = 0;
    {
        Store store(path_.string());
        done = Finished(store);
        Sale s;
        s.pump = 2;
        s.grade = "D";
        s.started = UtcNow();
        open = store.OpenSale(s);
    }
    Store store(path_.string());
    const auto opened = store.OpenSales();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].id, open);
    EXPECT_EQ(store.Find(done)->volume_cl, 500);
    EXPECT_EQ(store.Unpaid().at(1), 1);
    EXPECT_EQ(store.List({}).size(), 1u) << "open sales are not listed";
    store.VoidSale(open);
    EXPECT_TRUE(store.OpenSales().empty());
    EXPECT_EQ(store.FinishSale(open, 100, 172, std::nullopt, true).state, "void") << "a void sale stays void";
}

TEST_F(StoreTest, FinishedAndClearedSalesGoToTheOutboxWithTheSale) {
    {
        Store store(path_.string(), "dorv/v1/north/sales", "north");
        const auto id = Finished(store);
        store.FinishSale(id, 500, 925, std::nullopt, false);  // a repeated finish adds nothing
        Sale sale;
        store.Lock(id, "pos1", sale);
        store.Clear(id, "pos1", sale);
        store.Clear(id, "pos1", sale);
    }
    EXPECT_EQ(OutboxRows("topic = 'dorv/v1/north/sales' AND json_extract(payload, '$.event') = 'finished'"), 1);
    EXPECT_EQ(OutboxRows("json_extract(payload, '$.event') = 'cleared' AND json_extract(payload, '$.sale.state') = 'cleared'"), 1);
    EXPECT_EQ(OutboxRows("json_extract(payload, '$.station') = 'north'"), 2);
}

TEST_F(StoreTest, WithoutAnUplinkTheOutboxStaysEmpty) {
    {
        Store store(path_.string());
        Finished(store);
    }
    EXPECT_EQ(OutboxRows(), 0);
}

TEST_F(StoreTest, JournalKeepsTheLatestEvents) {
    Store store(path_.string());
    std::vector<JournalEvent> events;
    for (int i = 1; i <= 30; ++i) events.push_back({i, "{\"seq\":" + std::to_string(i) + "}"});
    store.Journal(events, 10);
    const auto kept = store.JournalAfter(0, 100);
    ASSERT_EQ(kept.size(), 10u);
    EXPECT_EQ(kept.front().seq, 21);
    EXPECT_EQ(store.LastSeq(), 30);
}

}  // namespace
}  // namespace forecourt
