#include "outbox.h"

#include <sqlite3.h>

namespace forecourt::uplink {

namespace {

class Statement {
public:
    Statement(sqlite3* db, const char* sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &st_, nullptr) != SQLITE_OK)
            throw OutboxError(std::string("outbox: ") + sqlite3_errmsg(db));
    }
    ~Statement() { sqlite3_finalize(st_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    void Bind(int i, std::int64_t v) { sqlite3_bind_int64(st_, i, v); }
    void Bind(int i, const std::string& v) {
        sqlite3_bind_text(st_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    }
    // True while a row is there; throws on an error.
    bool Step() {
        const int rc = sqlite3_step(st_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        throw OutboxError(std::string("outbox: ") + sqlite3_errmsg(db_));
    }
    void Reset() { sqlite3_reset(st_); }
    std::int64_t Int(int col) { return sqlite3_column_int64(st_, col); }
    std::string Text(int col) {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st_, col));
        return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(st_, col))) : std::string();
    }

private:
    sqlite3* db_;
    sqlite3_stmt* st_ = nullptr;
};

}  // namespace

Outbox::Outbox(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        const std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        throw OutboxError("outbox: cannot open " + path + ": " + why);
    }
    try {
        sqlite3_busy_timeout(db_, 5000);
        Exec("PRAGMA journal_mode=WAL");
        // A removal lost to a power cut only sends a row again, which consumers drop by sale id.
        Exec("PRAGMA synchronous=NORMAL");
        Exec(kOutboxSchema);
    } catch (...) {
        sqlite3_close(db_);
        throw;
    }
}

Outbox::~Outbox() { sqlite3_close(db_); }

void Outbox::Exec(const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        const std::string why = err ? err : sqlite3_errmsg(db_);
        sqlite3_free(err);
        throw OutboxError("outbox: " + why);
    }
}

std::vector<OutboxRow> Outbox::After(std::int64_t after, int limit) {
    Statement st(db_, "SELECT id, topic, payload FROM outbox WHERE id > ? ORDER BY id LIMIT ?");
    st.Bind(1, after);
    st.Bind(2, limit);
    std::vector<OutboxRow> rows;
    while (st.Step()) rows.push_back({st.Int(0), st.Text(1), st.Text(2)});
    return rows;
}

void Outbox::Remove(const std::vector<std::int64_t>& ids) {
    if (ids.empty()) return;
    Exec("BEGIN IMMEDIATE");
    try {
        Statement st(db_, "DELETE FROM outbox WHERE id = ?");
        for (std::int64_t id : ids) {
            st.Bind(1, id);
            st.Step();
            st.Reset();
        }
        Exec("COMMIT");
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

std::int64_t Outbox::Depth() {
    Statement st(db_, "SELECT COUNT(*) FROM outbox");
    st.Step();
    return st.Int(0);
}

std::int64_t Outbox::Append(const std::string& topic, const std::string& payload) {
    Statement st(db_, "INSERT INTO outbox(topic, payload) VALUES(?, ?)");
    st.Bind(1, topic);
    st.Bind(2, payload);
    st.Step();
    return sqlite3_last_insert_rowid(db_);
}

}  // namespace forecourt::uplink
