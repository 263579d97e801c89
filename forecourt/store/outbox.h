// The uplink's outbox: the store writes a sale's message in the transaction that records the
// sale (Store::QueueForUplink); the uplink reads the messages here, in order, and removes each
// once the broker has it. A connection of its own, so the uplink's thread never waits on the
// service's writes in this process.
//
// One Outbox belongs to one thread. Other processes and connections may write the same file at
// the same time (WAL); a busy database is waited for, up to a few seconds.
// Failures: StoreError.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sql.h"

namespace forecourt {

struct OutboxRow {
    std::int64_t id = 0;
    std::string topic;
    std::string payload;
};

class Outbox {
public:
    // Opens (or creates) the database file and brings its layout up to date, so the service and
    // the uplink may start in either order.
    explicit Outbox(const std::string& path);
    ~Outbox();
    Outbox(const Outbox&) = delete;
    Outbox& operator=(const Outbox&) = delete;

    // Up to `limit` rows with an id above `after`, in id order.
    std::vector<OutboxRow> After(std::int64_t after, int limit);
    // Removes rows the broker acknowledged, in one transaction.
    void Remove(const std::vector<std::int64_t>& ids);
    std::int64_t Depth();
    // Adds a row in a transaction of its own (the store adds its rows inside its own).
    std::int64_t Append(const std::string& topic, const std::string& payload);

private:
    sqlite3* db_ = nullptr;
};

}  // namespace forecourt
