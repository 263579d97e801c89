// The outbox table: the store adds a sale's messages to it in the sale's own transaction, the
// uplink takes them out once the broker has them. Both create it from this one text.
#pragma once

namespace forecourt::uplink {

inline constexpr const char* kOutboxSchema =
    "CREATE TABLE IF NOT EXISTS outbox(id INTEGER PRIMARY KEY AUTOINCREMENT, topic TEXT NOT NULL, "
    "payload TEXT NOT NULL)";

}  // namespace forecourt::uplink
