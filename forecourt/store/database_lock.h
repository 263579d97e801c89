// One service per database: the service holds an exclusive lock on a file beside the database
// for as long as it runs, so a second one started on the same database (and so on the same
// lines) refuses to start instead of driving the pumps too. The lock goes with the process,
// however it ends.
#pragma once

#include <stdexcept>
#include <string>

namespace forecourt {

class DatabaseLock {
public:
    // Raises DatabaseInUse naming the holder when another process holds the lock, and
    // std::runtime_error when the lock file cannot be opened.
    explicit DatabaseLock(const std::string& database);
    ~DatabaseLock();
    DatabaseLock(const DatabaseLock&) = delete;
    DatabaseLock& operator=(const DatabaseLock&) = delete;

private:
    int fd_ = -1;
};

struct DatabaseInUse : std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace forecourt
