#include "outbox.h"

#include <sqlite3.h>

#include "schema.h"

namespace forecourt {

Outbox::Outbox(const std::string& path) {
    db_ = sql::Open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    try {
        PrepareSchema(db_);
        sql::Exec(db_, "PRAGMA journal_mode=WAL");
        // A removal lost to a power cut only sends a row again, which consumers drop by sale id.
        sql::Exec(db_, "PRAGMA synchronous=NORMAL");
    } catch (const StoreError& e) {
        sqlite3_close(db_);
        throw StoreError("outbox in " + path + ": " + e.what());
    }
}

Outbox::~Outbox() { sqlite3_close(db_); }

std::vector<OutboxRow> Outbox::After(std::int64_t after, int limit) {
    sql::Statement st(db_, "SELECT id, topic, payload FROM outbox WHERE id > ? ORDER BY id LIMIT ?");
    st.Bind(1, after).Bind(2, limit);
    std::vector<OutboxRow> rows;
    while (st.Step()) rows.push_back({st.Int(0), st.Text(1), st.Text(2)});
    return rows;
}

void Outbox::Remove(const std::vector<std::int64_t>& ids) {
    if (ids.empty()) return;
    sql::Transaction tx(db_);
    sql::Statement st(db_, "DELETE FROM outbox WHERE id = ?");
    for (std::int64_t id : ids) {
        st.Bind(1, id).Step();
        st.Reset();
    }
    tx.Commit();
}

std::int64_t Outbox::Depth() {
    sql::Statement st(db_, "SELECT COUNT(*) FROM outbox");
    st.Step();
    return st.Int(0);
}

std::int64_t Outbox::Append(const std::string& topic, const std::string& payload) {
    sql::Statement st(db_, "INSERT INTO outbox(topic, payload) VALUES(?, ?)");
    st.Bind(1, topic).Bind(2, payload).Step();
    return sqlite3_last_insert_rowid(db_);
}

}  // namespace forecourt
