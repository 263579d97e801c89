// The station's durable record in SQLite (WAL, full sync): price sets, sales from authorization
// to clearing, the event journal and the uplink's outbox. Each change that matters is one
// transaction, committed to disk before the call returns, so a client that heard yes keeps its
// answer across a crash or a power cut.
//
// Threads: every call may come from any thread. Writes are serialised on one connection, reads
// on another, so that no read waits for a write.
// Failures: StoreError (the database cannot be opened or written).
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "records.h"

struct sqlite3;

namespace forecourt {

class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct SaleFilter {
    std::optional<std::string> state;  // payable, locked or cleared; none: all three
    std::optional<int> pump;
    std::int64_t after = 0;
    int limit = 100;
    // Ended in [from, to); both in the store's own UTC text (UtcNow's form), so text order is time order.
    std::optional<std::string> from;
    std::optional<std::string> to;
};

struct GradeTotal {
    std::string grade;
    std::int64_t sales = 0;
    std::int64_t volume_cl = 0;
    std::int64_t amount_cents = 0;
};

enum class SaleChange { kDone, kNotFound, kLockedByOther, kNotLocked, kAlreadyCleared };

class Store {
public:
    // `outbox_topic` non-empty: finished and cleared sales also go to the uplink's outbox, in
    // the same transaction.
    Store(const std::string& path, std::string outbox_topic = {}, std::string station = {});
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // The latest price set; the first start makes one from `initial`.
    PriceSet Prices(const std::vector<GradePrice>& initial);
    PriceSet NewPriceSet(const std::vector<GradePrice>& grades);

    // An authorization becomes an open sale; its id is returned.
    std::int64_t OpenSale(Sale sale);
    // Open sales of every pump: what was authorized or fuelling when the service stopped.
    std::vector<Sale> OpenSales();
    // The filling ended without delivering.
    void VoidSale(std::int64_t id);
    // The filling ended: the sale becomes payable.
    Sale FinishSale(std::int64_t id, std::int64_t volume_cl, std::int64_t amount_cents,
                    const std::optional<Totalizer>& after, bool reconciled);
    SaleChange Lock(std::int64_t id, const std::string& holder, Sale& sale);
    SaleChange Clear(std::int64_t id, const std::string& holder, Sale& sale);
    // A manager's release of a lock whose till is gone: the sale is payable again.
    SaleChange Unlock(std::int64_t id, Sale& sale);
    std::optional<Sale> Find(std::int64_t id);
    std::vector<Sale> List(const SaleFilter& filter);
    // Totals per grade of the finished sales (payable, locked, cleared) that ended in the
    // filter's [from, to); its state, pump, after and limit are not used.
    std::vector<GradeTotal> Summary(const SaleFilter& filter);
    // Payable and locked sales per pump.
    std::map<int, int> Unpaid();
    std::map<std::string, std::int64_t> CountByState();

    // What managers set on each pump; pumps with nothing set are left out.
    std::map<int, PumpControl> PumpControls();
    void SetPumpControl(int pump, const PumpControl& control);
    // The emergency stop in force, if any; none releases it.
    std::optional<Closure> EmergencyStop();
    void SetEmergencyStop(const std::optional<Closure>& stop);

    // Event journal: kept to `keep` events.
    void Journal(const std::vector<JournalEvent>& events, std::size_t keep);
    std::vector<JournalEvent> JournalAfter(std::int64_t seq, std::size_t limit);
    std::int64_t LastSeq();
    // The sequence numbers handed out may run ahead of the journal (written in batches) up to
    // the reserved mark, which is stored before any number past the last mark is given.
    std::int64_t ReservedSeq();
    void ReserveSeq(std::int64_t upto);
    bool Healthy();

private:
    class Statement;
    class Transaction;
    void Exec(const char* sql);
    Sale ReadSale(Statement& st);
    // On the writing connection unless `db` names another.
    std::optional<Sale> FindLocked(std::int64_t id, sqlite3* db = nullptr);
    SaleChange Unsettled(std::int64_t id, Sale& sale);
    void Outbox(const char* event, const Sale& sale);

    std::mutex mutex_;  // the writing connection
    sqlite3* db_ = nullptr;
    std::mutex read_mutex_;  // the reading connection
    sqlite3* read_ = nullptr;
    std::string topic_;
    std::string station_;
};

}  // namespace forecourt
