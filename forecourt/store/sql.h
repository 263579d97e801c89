// The one way the store talks to SQLite: a connection opened with its busy wait, a statement
// that finalizes itself, a transaction that rolls back unless committed. Every failure is a
// StoreError carrying SQLite's own words.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "errors.h"

struct sqlite3;
struct sqlite3_stmt;

namespace forecourt {

namespace sql {

// Opens `path` with SQLite's `flags` (serialized threading added) and a 5 s wait on a busy file.
sqlite3* Open(const std::string& path, int flags);
void Exec(sqlite3* db, const std::string& statements);
// The first column of the statement's rows, joined by "; ".
std::string Rows(sqlite3* db, const char* statement);

class Statement {
public:
    Statement(sqlite3* db, const char* statement);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& Bind(int i, std::int64_t v);
    Statement& Bind(int i, const std::string& v);
    Statement& BindNull(int i);
    // True while a row is there; false once done.
    bool Step();
    // Ready to run again with new bindings.
    void Reset();
    std::int64_t Int(int i);
    bool Null(int i);
    std::string Text(int i);

private:
    Statement& Check(int rc);
    sqlite3* db_;
    sqlite3_stmt* st_ = nullptr;
};

// BEGIN IMMEDIATE: the write lock is taken at the start, so a transaction never fails halfway
// for want of it. Rolls back unless committed; the commit returns once it is on disk.
class Transaction {
public:
    explicit Transaction(sqlite3* db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void Commit();

private:
    sqlite3* db_;
    bool done_ = false;
};

}  // namespace sql
}  // namespace forecourt
