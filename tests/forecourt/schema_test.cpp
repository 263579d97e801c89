// Database files the store meets at start: the release before versions is taken up with every
// sale; a newer or damaged file is refused and left as it was; a failing step changes nothing.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "store/schema.h"
#include "store/store.h"

namespace forecourt {
namespace {

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs `sql`; the first column of its last row, or the error.
std::string Sql(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    std::string value;
    char* error = nullptr;
    const auto keep = [](void* out, int, char** row, char**) {
        *static_cast<std::string*>(out) = row[0] ? row[0] : "";
        return 0;
    };
    sqlite3_exec(db, sql.c_str(), keep, &value, &error);
    if (error) value = error;
    sqlite3_free(error);
    sqlite3_close(db);
    return value;
}

// A database as release 2.41 left it after a few sales and a price change.
void Release241(const std::string& path) { Sql(path, Read(FORECOURT_FIXTURES "/store-v1.sql")); }

class SchemaTest : public ::testing::Test {
protected:
    void SetUp() override { Remove(); }
    void TearDown() override { Remove(); }
    void Remove() {
        for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path_ + suffix);
    }
    std::string path_ = (std::filesystem::temp_directory_path() / ("forecourt-schema-" + std::to_string(::getpid()) + ".db")).string();
};

TEST_F(SchemaTest, AFileOfTheReleaseBeforeVersionsIsTakenUpWithEverySale) {
    Release241(path_);
    {
        Store store(path_);
        const std::map<std::string, std::int64_t> states = {{"cleared", 1}, {"locked", 1}, {"payable", 2}};
        EXPECT_EQ(store.CountByState(), states);
        EXPECT_EQ(store.Find(1)->amount_cents, 1850);
        EXPECT_EQ(store.Prices({}).id, 2) << "the latest price set stays the board";
        Sale sale;
        EXPECT_EQ(store.Clear(3, "local", sale), SaleChange::kDone) << "a sale locked before the upgrade is cleared after it";
    }
    EXPECT_EQ(Sql(path_, "PRAGMA user_version"), std::to_string(SchemaVersion()));
    EXPECT_EQ(Sql(path_, "SELECT COUNT(*) FROM sqlite_master WHERE name IN ('sales_ended', 'event_seq')"), "2");
    EXPECT_EQ(Sql(path_, "PRAGMA integrity_check"), "ok");
}

struct RefusedFile {
    const char* name;
    void (*make)(const std::string& path);
    std::vector<std::string> words;  // the refusal says each
};
void PrintTo(const RefusedFile& row, std::ostream* out) { *out << row.name; }

const RefusedFile kRefused[] = {
    {"written_by_a_newer_service",
     [](const std::string& path) {
         Release241(path);
         Sql(path, "PRAGMA user_version = " + std::to_string(SchemaVersion() + 1));
     },
     {"schema version " + std::to_string(SchemaVersion() + 1), "up to " + std::to_string(SchemaVersion())}},
    {"not_a_database", [](const std::string& path) { std::ofstream(path) << std::string(8192, 'x'); }, {"damaged"}},
    {"a_page_overwritten",
     [](const std::string& path) {
         Release241(path);
         std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
         file.seekp(2 * 4096 + 8);  // inside the third page's cells
         file << std::string(64, '\xff');
     },
     {"damaged"}},
};

class Refused : public SchemaTest, public ::testing::WithParamInterface<RefusedFile> {};

TEST_P(Refused, AtStartAndTheFileIsLeftAsItWas) {
    GetParam().make(path_);
    const std::string before = Read(path_);
    try {
        Store store(path_);
        ADD_FAILURE() << "opened";
    } catch (const DatabaseRefused& e) {
        for (const auto& word : GetParam().words) EXPECT_NE(std::string(e.what()).find(word), std::string::npos) << e.what();
    }
    EXPECT_EQ(Read(path_), before);
}

INSTANTIATE_TEST_SUITE_P(Schema, Refused, ::testing::ValuesIn(kRefused), [](const auto& info) { return std::string(info.param.name); });

TEST_F(SchemaTest, AStepThatFailsLeavesTheFileAtItsVersion) {
    Release241(path_);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
    std::vector<Migration> steps = Migrations();
    steps.push_back({SchemaVersion() + 1, "ALTER TABLE sales ADD COLUMN till TEXT; INSERT INTO nowhere VALUES(1);"});
    EXPECT_THROW(PrepareSchema(db, steps), StoreError);
    sqlite3_close(db);
    EXPECT_EQ(Sql(path_, "PRAGMA user_version"), "0");
    EXPECT_EQ(Sql(path_, "SELECT COUNT(*) FROM pragma_table_info('sales') WHERE name = 'till'"), "0");
}

// Backups that would overwrite what they must not: each is refused, and the target keeps its bytes.
struct RefusedBackup {
    const char* name;
    std::string to;         // beside the database: its name plus this
    const char* beside_to;  // a file made beside the target first, or none
};
void PrintTo(const RefusedBackup& row, std::ostream* out) { *out << row.name; }

const RefusedBackup kRefusedBackups[] = {
    {"onto_the_database_itself", "", nullptr},
    {"onto_a_database_in_use", ".other", "-wal"},
};

class BackupRefused : public SchemaTest, public ::testing::WithParamInterface<RefusedBackup> {};

TEST_P(BackupRefused, AndTheTargetIsLeftAsItWas) {
    Release241(path_);
    Sql(path_, "PRAGMA journal_mode=WAL");  // as the service leaves it: a copy's header differs
    const std::string to = path_ + GetParam().to;
    if (GetParam().beside_to) {
        std::ofstream(to) << "the other database";
        std::ofstream(to + GetParam().beside_to) << "its journal";
    }
    const std::string before = Read(to);
    EXPECT_THROW(BackupDatabase(path_, to), StoreError);
    EXPECT_EQ(Read(to), before);
    if (GetParam().beside_to) {
        std::filesystem::remove(to);
        std::filesystem::remove(to + GetParam().beside_to);
    }
}

INSTANTIATE_TEST_SUITE_P(Schema, BackupRefused, ::testing::ValuesIn(kRefusedBackups),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace forecourt
