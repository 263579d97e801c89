// The store's layout and its versions. The file carries the version of the layout it holds
// (SQLite's user_version); a service brings an older file up to its own version in one
// transaction before anything else touches it, and refuses a file written by a newer service
// or one that fails SQLite's own check, so a station never runs on half a database.
#pragma once

#include <string>
#include <vector>

#include "store.h"

struct sqlite3;

namespace forecourt {

// A file the service will not run on (damaged, or from a newer service): no retry changes that.
class DatabaseRefused : public StoreError {
public:
    using StoreError::StoreError;
};

// The statements that bring the layout from `version - 1` to `version`.
struct Migration {
    int version;
    const char* sql;
};

// This service's steps, oldest first; the last one's version is the one it writes.
const std::vector<Migration>& Migrations();
int SchemaVersion();

// Refuses a damaged file or one of a newer layout than `steps` reach (DatabaseRefused), and
// applies the missing steps in one transaction. Says why without naming the file.
void PrepareSchema(sqlite3* db, const std::vector<Migration>& steps = Migrations());

// Copies `database` to `copy` while the service may be writing it: one consistent read of the
// whole file, checked, then moved into place, so `copy` is either the old file or a whole one.
// Returns the pages copied; raises StoreError.
int BackupDatabase(const std::string& database, const std::string& copy);

}  // namespace forecourt
