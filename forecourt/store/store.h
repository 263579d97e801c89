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
#include "sql.h"

struct sqlite3;

namespace forecourt {

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

// Cancelling a pending price change: kTookEffect, it is the board already.
enum class PendingChange { kDone, kNotFound, kTookEffect };

// kMarked: the sale was settled as a drive-off or a test; kPrepaid: a prepay cannot be marked.
enum class SaleChange { kDone, kNotFound, kLockedByOther, kNotLocked, kAlreadyCleared, kMarked, kPrepaid };

// The audit entry of a change, written in the change's own transaction when it is a store
// write; `written` then tells the caller not to write it again with the answer.
struct AuditNote {
    AuditEntry entry;
    bool written = false;
};

// kAlreadyOpen: a shift is open already; kNoneOpen: there is no open shift to close.
enum class ShiftChange { kDone, kAlreadyOpen, kNoneOpen };

struct AuditFilter {
    std::optional<std::string> from;  // [from, to) in the store's UTC text, as SaleFilter's
    std::optional<std::string> to;
    std::optional<std::string> actor;
    int limit = 100;
};

class Store {
public:
    // `outbox_topic` non-empty: finished and cleared sales also go to the uplink's outbox, in
    // the same transaction; `shift_topic` non-empty: so do closed shifts' reports.
    Store(const std::string& path, std::string outbox_topic = {}, std::string station = {}, std::string shift_topic = {});
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // The latest price set; the first start makes one from `initial`.
    PriceSet Prices(const std::vector<GradePrice>& initial);
    PriceSet NewPriceSet(const std::vector<GradePrice>& grades, AuditNote* audit = nullptr);

    // Price changes that wait for their time, earliest first.
    std::vector<PendingPrices> PendingPriceSets();
    // Stored with its new id; its audit entry tells 202, the answer of a change that waits.
    PendingPrices AddPendingPrices(PendingPrices pending, AuditNote* audit = nullptr);
    PendingChange CancelPendingPrices(std::int64_t id, AuditNote* audit = nullptr);
    // The pending change `id` takes effect as the new price set `grades`, in one transaction;
    // none when it was cancelled meanwhile.
    std::optional<PriceSet> ApplyPendingPrices(std::int64_t id, const std::vector<GradePrice>& grades);

    // An authorization becomes an open sale; its id is returned.
    std::int64_t OpenSale(Sale sale);
    // Open sales of every pump: what was authorized or fuelling when the service stopped.
    std::vector<Sale> OpenSales();
    // The filling ended without delivering.
    void VoidSale(std::int64_t id);
    // The filling ended: the sale becomes payable.
    Sale FinishSale(std::int64_t id, std::int64_t volume_cl, std::int64_t amount_cents, const std::optional<Totalizer>& after,
                    bool reconciled);
    // An open sale handed to another pump before it started: its pump, nozzle, grade, price and
    // the totalizer it starts from are the new pump's.
    void MoveSale(const Sale& sale);
    SaleChange Lock(std::int64_t id, const std::string& holder, Sale& sale, AuditNote* audit = nullptr);
    SaleChange Clear(std::int64_t id, const std::string& holder, Sale& sale, AuditNote* audit = nullptr);
    // A manager's release of a lock whose till is gone: the sale is payable again.
    SaleChange Unlock(std::int64_t id, Sale& sale, AuditNote* audit = nullptr);
    // A payable sale settled as `state` (drive_off or test) by `who`.
    SaleChange Mark(std::int64_t id, const std::string& state, const std::string& who, Sale& sale, AuditNote* audit = nullptr);
    std::optional<Sale> Find(std::int64_t id);
    std::vector<Sale> List(const SaleFilter& filter);
    // Totals per grade of the finished sales (payable, locked, cleared) that ended in the
    // filter's [from, to); its state, pump, after and limit are not used.
    std::vector<GradeTotal> Summary(const SaleFilter& filter);
    // The test deliveries in the filter's range, all grades together (grade left empty).
    GradeTotal TestTotal(const SaleFilter& filter);
    // Payable and locked sales per pump; a prepay's refund is owed to the customer, not by one.
    std::map<int, int> Unpaid();
    std::map<std::string, std::int64_t> CountByState();

    // What managers set on each pump; pumps with nothing set are left out.
    std::map<int, PumpControl> PumpControls();
    void SetPumpControl(int pump, const PumpControl& control, AuditNote* audit = nullptr);
    // The emergency stop in force, if any; none releases it.
    std::optional<Closure> EmergencyStop();
    void SetEmergencyStop(const std::optional<Closure>& stop, AuditNote* audit = nullptr);

    // Event journal: kept to `keep` events.
    void Journal(const std::vector<JournalEvent>& events, std::size_t keep);
    std::vector<JournalEvent> JournalAfter(std::int64_t seq, std::size_t limit);
    std::int64_t LastSeq();
    // The sequence numbers handed out may run ahead of the journal (written in batches) up to
    // the reserved mark, which is stored before any number past the last mark is given.
    std::int64_t ReservedSeq();
    void ReserveSeq(std::int64_t upto);
    bool Healthy();

    // Opens a shift with the nozzles' readings; refused while one is open.
    ShiftChange OpenShift(const std::string& by, const std::vector<ShiftReading>& readings, Shift& shift, AuditNote* audit = nullptr);
    // Closes the open shift with its report, built from the readings and the sales, in one
    // transaction with its message for the uplink: a shift is open, or closed with its report.
    ShiftChange CloseShift(const std::string& by, const std::vector<ShiftReading>& readings, Shift& shift, AuditNote* audit = nullptr);
    std::optional<Shift> FindShift(std::int64_t id);
    std::optional<Shift> OpenShiftNow();
    // Newest first, without their reports.
    std::vector<Shift> Shifts(int limit);

    // An entry of a request whose change wrote nothing (or failed), in a transaction of its own.
    void Audit(const AuditEntry& entry);
    std::vector<AuditEntry> AuditTrail(const AuditFilter& filter);

private:
    Sale ReadSale(sql::Statement& st);
    PriceSet InsertPriceSetLocked(const std::vector<GradePrice>& grades);
    // On the writing connection unless `db` names another.
    std::optional<Sale> FindLocked(std::int64_t id, sqlite3* db = nullptr);
    SaleChange Unsettled(std::int64_t id, Sale& sale);
    // The sale's message for the uplink, in the caller's transaction (none without an uplink).
    void QueueForUplink(const char* event, const Sale& sale);
    // Inside the change's transaction, as a success.
    void WriteAudit(AuditNote* audit);
    void InsertAudit(const AuditEntry& entry);
    nlohmann::json ShiftReport(std::int64_t shift, const std::vector<ShiftReading>& closing);

    std::mutex mutex_;  // the writing connection
    sqlite3* db_ = nullptr;
    std::mutex read_mutex_;  // the reading connection
    sqlite3* read_ = nullptr;
    std::string topic_;
    std::string station_;
    std::string shift_topic_;
};

}  // namespace forecourt
