#include "schema.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "sql.h"

namespace forecourt {
namespace {

using sql::Exec;
using sql::Rows;

// The uplink's messages waiting for the broker, each written in the transaction of the change
// it tells (see Outbox).
constexpr const char* kOutbox =
    "CREATE TABLE IF NOT EXISTS outbox(id INTEGER PRIMARY KEY AUTOINCREMENT, topic TEXT NOT NULL, payload TEXT NOT NULL)";

// Version 1: the layout of release 2.41, whose files carry no version yet.
constexpr const char* kLayout1 = R"(
CREATE TABLE IF NOT EXISTS price_sets(id INTEGER PRIMARY KEY, since TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS prices(price_set INTEGER NOT NULL, grade TEXT NOT NULL, name TEXT NOT NULL,
  price_cents INTEGER NOT NULL, PRIMARY KEY(price_set, grade));
CREATE TABLE IF NOT EXISTS sales(id INTEGER PRIMARY KEY AUTOINCREMENT, pump INTEGER NOT NULL,
  nozzle INTEGER NOT NULL, grade TEXT NOT NULL, price_cents INTEGER NOT NULL, price_set INTEGER NOT NULL,
  preset_kind INTEGER NOT NULL, preset INTEGER NOT NULL, state TEXT NOT NULL,
  volume_cl INTEGER NOT NULL DEFAULT 0, amount_cents INTEGER NOT NULL DEFAULT 0,
  started TEXT NOT NULL, ended TEXT NOT NULL DEFAULT '',
  before_volume INTEGER, before_amount INTEGER, after_volume INTEGER, after_amount INTEGER,
  locked_by TEXT NOT NULL DEFAULT '', cleared TEXT NOT NULL DEFAULT '', reconciled INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS sales_state ON sales(state, pump);
CREATE TABLE IF NOT EXISTS events(seq INTEGER PRIMARY KEY, envelope TEXT NOT NULL);
)";

// Version 2: sales found by the day they ended; event numbers reserved ahead, so none is given
// twice across a restart.
constexpr const char* kLayout2 = R"(
CREATE INDEX IF NOT EXISTS sales_ended ON sales(ended);
CREATE TABLE IF NOT EXISTS event_seq(id INTEGER PRIMARY KEY CHECK (id = 1), reserved INTEGER NOT NULL);
)";

// Version 3: what managers set on pumps (closed, attendant mode) and the emergency stop, kept
// across restarts.
constexpr const char* kLayout3 = R"(
CREATE TABLE IF NOT EXISTS pump_controls(pump INTEGER PRIMARY KEY, closed_reason TEXT, closed_since TEXT,
  closed_by TEXT, attendant INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS emergency_stop(id INTEGER PRIMARY KEY CHECK (id = 1), since TEXT NOT NULL, by TEXT NOT NULL);
)";

// Version 4: prepaid sales and what they refund, sales marked as drive-offs or test deliveries
// and by whom, and the trail of every request that changed something.
constexpr const char* kLayout4 = R"(
ALTER TABLE sales ADD COLUMN prepaid_cents INTEGER;
ALTER TABLE sales ADD COLUMN marked_by TEXT NOT NULL DEFAULT '';
CREATE TABLE IF NOT EXISTS audit(id INTEGER PRIMARY KEY AUTOINCREMENT, time TEXT NOT NULL, actor TEXT NOT NULL,
  operation TEXT NOT NULL, target TEXT NOT NULL, status INTEGER NOT NULL, error TEXT NOT NULL DEFAULT '');
CREATE INDEX IF NOT EXISTS audit_time ON audit(time);
)";

// Version 5: price changes set for a later time, kept until they take effect (price_set then
// names the set they became) or are cancelled.
constexpr const char* kLayout5 = R"(
CREATE TABLE IF NOT EXISTS pending_prices(id INTEGER PRIMARY KEY AUTOINCREMENT, valid_from TEXT NOT NULL, price_set INTEGER);
CREATE TABLE IF NOT EXISTS pending_price_grades(pending INTEGER NOT NULL, grade TEXT NOT NULL, name TEXT NOT NULL,
  price_cents INTEGER NOT NULL, PRIMARY KEY(pending, grade));
)";

// Version 6: shifts, one open at most, with the totalizers read at their open (a reading not had
// is NULL, never 0) and the report written with their close.
constexpr const char* kLayout6 = R"(
CREATE TABLE IF NOT EXISTS shifts(id INTEGER PRIMARY KEY AUTOINCREMENT, opened TEXT NOT NULL, opened_by TEXT NOT NULL,
  closed TEXT, closed_by TEXT, unread INTEGER NOT NULL DEFAULT 0, report TEXT);
CREATE UNIQUE INDEX IF NOT EXISTS shifts_one_open ON shifts((closed IS NULL)) WHERE closed IS NULL;
CREATE TABLE IF NOT EXISTS shift_readings(shift INTEGER NOT NULL, pump INTEGER NOT NULL, nozzle INTEGER NOT NULL,
  grade TEXT NOT NULL, at TEXT NOT NULL, volume_cl INTEGER, amount_cents INTEGER, PRIMARY KEY(shift, pump, nozzle));
)";

// SQLite's own check of every page (`full`: indexes against their tables too); a file that is
// no database at all fails here as well.
void CheckIntact(sqlite3* db, bool full) {
    std::string verdict;
    try {
        verdict = Rows(db, full ? "PRAGMA integrity_check(20)" : "PRAGMA quick_check(20)");
    } catch (const StoreError& e) {
        verdict = e.what();
    }
    if (verdict != "ok") throw StoreError("damaged (" + verdict + ")");
}

}  // namespace

const std::vector<Migration>& Migrations() {
    // One step a line, as each release adds one.
    // clang-format off
    static const std::vector<Migration> steps = {
        {1, kLayout1},
        {2, kLayout2},
        {3, kLayout3},
        {4, kLayout4},
        {5, kLayout5},
        {6, kLayout6},
    };
    // clang-format on
    return steps;
}

int SchemaVersion() { return Migrations().back().version; }

void PrepareSchema(sqlite3* db, const std::vector<Migration>& steps) {
    try {
        CheckIntact(db, false);
    } catch (const StoreError& e) {
        throw DatabaseRefused(std::string(e.what()) + ": not used and left as it is; restore a backup or move it away");
    }
    // Taken before reading the version, so two services starting on one file cannot both
    // upgrade it.
    sql::Transaction tx(db);
    int version = std::stoi(Rows(db, "PRAGMA user_version"));
    if (version == 0 && !Rows(db, "SELECT name FROM sqlite_master WHERE name = 'sales'").empty()) version = 1;  // a file of release 2.41
    const int latest = steps.back().version;
    if (version > latest)
        throw DatabaseRefused("schema version " + std::to_string(version) +
                              " is from a newer dorv-forecourt, this one knows versions up to " + std::to_string(latest) +
                              ": not used and left as it is; run the newer release on it");
    for (const auto& step : steps)
        if (step.version > version) Exec(db, step.sql);
    // Files written before the outbox was part of every layout may lack it.
    Exec(db, kOutbox);
    Exec(db, "PRAGMA user_version = " + std::to_string(latest));
    tx.Commit();
}

int BackupDatabase(const std::string& database, const std::string& copy) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::is_regular_file(database, ec)) throw StoreError(database + ": no such database file");
    if (fs::equivalent(database, copy, ec)) throw StoreError(copy + " is the database itself");
    // A -wal beside the target means a database in use there: replacing its main file under
    // it would mix the two.
    if (fs::exists(copy + "-wal", ec)) throw StoreError(copy + " is a database in use (" + copy + "-wal exists)");

    struct Db {
        sqlite3* db = nullptr;
        ~Db() { sqlite3_close(db); }
    } source, target;
    if (sqlite3_open_v2(database.c_str(), &source.db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        throw StoreError(database + ": " + (source.db ? sqlite3_errmsg(source.db) : "out of memory"));
    sqlite3_busy_timeout(source.db, 5000);
    const std::string part = copy + ".part";
    fs::remove(part, ec);
    if (sqlite3_open_v2(part.c_str(), &target.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
        throw StoreError(part + ": " + (target.db ? sqlite3_errmsg(target.db) : "out of memory"));
    const auto fail = [&](const std::string& why) {
        sqlite3_close(target.db);
        target.db = nullptr;
        fs::remove(part, ec);
        return StoreError(why);
    };

    // All pages in one step: one read transaction, which in WAL mode never holds up the
    // service's writes, so the copy is the database as one commit left it.
    sqlite3_backup* backup = sqlite3_backup_init(target.db, "main", source.db, "main");
    if (!backup) throw fail(part + ": " + sqlite3_errmsg(target.db));
    int rc;
    for (int tries = 0; (rc = sqlite3_backup_step(backup, -1)) == SQLITE_BUSY || rc == SQLITE_LOCKED; ++tries) {
        if (tries == 100) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const int pages = sqlite3_backup_pagecount(backup);
    sqlite3_backup_finish(backup);
    if (rc != SQLITE_DONE) throw fail(database + ": " + sqlite3_errstr(rc));
    try {
        Exec(target.db, "PRAGMA journal_mode=DELETE");  // the copy is one file
        CheckIntact(target.db, true);
    } catch (const StoreError& e) {
        throw fail("the copy of " + database + " is " + e.what());
    }
    sqlite3_close(target.db);
    target.db = nullptr;
    // On disk before it takes the name, and the name on disk before we say done.
    const auto sync = [](const std::string& path) {
        const int fd = ::open(path.c_str(), O_RDONLY);
        const bool ok = fd >= 0 && ::fsync(fd) == 0;
        if (fd >= 0) ::close(fd);
        return ok;
    };
    if (!sync(part)) throw fail(part + ": cannot be synced");
    fs::rename(part, copy, ec);
    if (ec) throw fail(copy + ": " + ec.message());
    sync(fs::absolute(copy).parent_path().string());
    return pages;
}

}  // namespace forecourt
