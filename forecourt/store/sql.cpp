#include "sql.h"

#include <sqlite3.h>

namespace forecourt::sql {

sqlite3* Open(const std::string& path, int flags) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_FULLMUTEX, nullptr) != SQLITE_OK) {
        const std::string why = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        throw StoreError("database " + path + ": " + why);
    }
    sqlite3_busy_timeout(db, 5000);
    return db;
}

void Exec(sqlite3* db, const std::string& statements) {
    char* error = nullptr;
    if (sqlite3_exec(db, statements.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string why = error ? error : sqlite3_errmsg(db);
        sqlite3_free(error);
        throw StoreError(why);
    }
}

std::string Rows(sqlite3* db, const char* statement) {
    Statement st(db, statement);
    std::string rows;
    while (st.Step()) {
        if (!rows.empty()) rows += "; ";
        rows += st.Text(0);
    }
    return rows;
}

Statement::Statement(sqlite3* db, const char* statement) : db_(db) {
    if (sqlite3_prepare_v2(db, statement, -1, &st_, nullptr) != SQLITE_OK) throw StoreError(sqlite3_errmsg(db));
}

Statement::~Statement() { sqlite3_finalize(st_); }

Statement& Statement::Bind(int i, std::int64_t v) { return Check(sqlite3_bind_int64(st_, i, v)); }

Statement& Statement::Bind(int i, const std::string& v) {
    return Check(sqlite3_bind_text(st_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT));
}

Statement& Statement::BindNull(int i) { return Check(sqlite3_bind_null(st_, i)); }

bool Statement::Step() {
    const int rc = sqlite3_step(st_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw StoreError(sqlite3_errmsg(db_));
}

void Statement::Reset() {
    sqlite3_reset(st_);
    sqlite3_clear_bindings(st_);
}

std::int64_t Statement::Int(int i) { return sqlite3_column_int64(st_, i); }

bool Statement::Null(int i) { return sqlite3_column_type(st_, i) == SQLITE_NULL; }

std::string Statement::Text(int i) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st_, i));
    return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(st_, i))) : std::string();
}

Statement& Statement::Check(int rc) {
    if (rc != SQLITE_OK) throw StoreError(sqlite3_errmsg(db_));
    return *this;
}

Transaction::Transaction(sqlite3* db) : db_(db) { Exec(db, "BEGIN IMMEDIATE"); }

Transaction::~Transaction() {
    if (!done_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::Commit() {
    Exec(db_, "COMMIT");
    done_ = true;
}

}  // namespace forecourt::sql
