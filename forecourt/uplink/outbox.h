// The sales outbox: rows the service's store writes in the transaction that records a sale,
// read here through a connection of the uplink's own and removed once the broker has them.
//
// One Outbox belongs to one thread. Other processes and connections may write the same file at
// the same time (WAL); a busy database is waited for, up to a few seconds.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "outbox_schema.h"

struct sqlite3;

namespace forecourt::uplink {

class OutboxError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct OutboxRow {
    std::int64_t id = 0;
    std::string topic;
    std::string payload;
};

class Outbox {
public:
    // Opens (or creates) the database file in WAL mode and the outbox table if it is missing,
    // so the service and the uplink may start in either order. Throws OutboxError.
    explicit Outbox(const std::string& path);
    ~Outbox();
    Outbox(const Outbox&) = delete;
    Outbox& operator=(const Outbox&) = delete;

    // Up to `limit` rows with an id above `after`, in id order.
    std::vector<OutboxRow> After(std::int64_t after, int limit);
    // Removes rows the broker acknowledged, in one transaction.
    void Remove(const std::vector<std::int64_t>& ids);
    std::int64_t Depth();
    // Adds a row in a transaction of its own (the service adds its rows inside its own).
    std::int64_t Append(const std::string& topic, const std::string& payload);

private:
    void Exec(const char* sql);
    sqlite3* db_ = nullptr;
};

}  // namespace forecourt::uplink
