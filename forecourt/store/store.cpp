#include "store.h"

#include <sqlite3.h>

#include "schema.h"
#include "sql.h"

namespace forecourt {

namespace {

constexpr const char* kSaleColumns =
    "id, pump, nozzle, grade, price_cents, price_set, preset_kind, preset, state, volume_cl, amount_cents, started, ended, "
    "before_volume, before_amount, after_volume, after_amount, locked_by, cleared, reconciled, prepaid_cents, marked_by";

}  // namespace

Store::Store(const std::string& path, std::string outbox_topic, std::string station, std::string shift_topic)
    : topic_(std::move(outbox_topic)), station_(std::move(station)), shift_topic_(std::move(shift_topic)) {
    db_ = sql::Open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    try {
        PrepareSchema(db_);
        // WAL with full sync: a commit is on disk when it returns, and readers (the uplink's
        // own connection) never block the service's writes.
        sql::Exec(db_, "PRAGMA journal_mode=WAL");
        sql::Exec(db_, "PRAGMA synchronous=FULL");
        // Reads take a connection of their own: in WAL a reader never waits for a writer, so
        // a write held up by a busy database (or another process's lock) holds up no read.
        read_ = sql::Open(path, SQLITE_OPEN_READONLY);
    } catch (const DatabaseRefused& e) {
        sqlite3_close(db_);
        throw DatabaseRefused("database " + path + ": " + e.what());
    } catch (const StoreError& e) {
        sqlite3_close(db_);
        throw StoreError("database " + path + ": " + e.what());
    }
}

Store::~Store() {
    sqlite3_close(read_);
    sqlite3_close(db_);
}

PriceSet Store::Prices(const std::vector<GradePrice>& initial) {
    {
        std::lock_guard lock(mutex_);
        sql::Statement last(db_, "SELECT id, since FROM price_sets ORDER BY id DESC LIMIT 1");
        if (last.Step()) {
            PriceSet set{last.Int(0), last.Text(1), {}};
            sql::Statement rows(db_, "SELECT grade, name, price_cents FROM prices WHERE price_set = ? ORDER BY grade");
            rows.Bind(1, set.id);
            while (rows.Step()) set.grades.push_back({rows.Text(0), rows.Text(1), rows.Int(2)});
            return set;
        }
    }
    return NewPriceSet(initial);
}

PriceSet Store::NewPriceSet(const std::vector<GradePrice>& grades, AuditNote* audit) {
    std::lock_guard lock(mutex_);
    sql::Transaction tx(db_);
    const PriceSet set = InsertPriceSetLocked(grades);
    WriteAudit(audit);
    tx.Commit();
    if (audit) audit->written = true;
    return set;
}

PriceSet Store::InsertPriceSetLocked(const std::vector<GradePrice>& grades) {
    PriceSet set{0, UtcNow(), grades};
    sql::Statement insert(db_, "INSERT INTO price_sets(since) VALUES(?)");
    insert.Bind(1, set.since).Step();
    set.id = sqlite3_last_insert_rowid(db_);
    for (const auto& g : grades) {
        sql::Statement row(db_, "INSERT INTO prices(price_set, grade, name, price_cents) VALUES(?, ?, ?, ?)");
        row.Bind(1, set.id).Bind(2, g.grade).Bind(3, g.name).Bind(4, g.price_cents).Step();
    }
    return set;
}

std::vector<PendingPrices> Store::PendingPriceSets() {
    std::lock_guard lock(mutex_);
    std::vector<PendingPrices> out;
    sql::Statement sets(db_, "SELECT id, valid_from FROM pending_prices WHERE price_set IS NULL ORDER BY valid_from, id");
    while (sets.Step()) out.push_back({sets.Int(0), sets.Text(1), {}});
    for (auto& p : out) {
        sql::Statement rows(db_, "SELECT grade, name, price_cents FROM pending_price_grades WHERE pending = ? ORDER BY grade");
        rows.Bind(1, p.id);
        while (rows.Step()) p.grades.push_back({rows.Text(0), rows.Text(1), rows.Int(2)});
    }
    return out;
}

PendingPrices Store::AddPendingPrices(PendingPrices pending, AuditNote* audit) {
    std::lock_guard lock(mutex_);
    sql::Transaction tx(db_);
    sql::Statement insert(db_, "INSERT INTO pending_prices(valid_from) VALUES(?)");
    insert.Bind(1, pending.valid_from).Step();
    pending.id = sqlite3_last_insert_rowid(db_);
    for (const auto& g : pending.grades) {
        sql::Statement row(db_, "INSERT INTO pending_price_grades(pending, grade, name, price_cents) VALUES(?, ?, ?, ?)");
        row.Bind(1, pending.id).Bind(2, g.grade).Bind(3, g.name).Bind(4, g.price_cents).Step();
    }
    if (audit) {
        audit->entry.status = 202;
        audit->entry.error.clear();
        InsertAudit(audit->entry);
    }
    tx.Commit();
    if (audit) audit->written = true;
    return pending;
}

PendingChange Store::CancelPendingPrices(std::int64_t id, AuditNote* audit) {
    std::lock_guard lock(mutex_);
    sql::Transaction tx(db_);
    sql::Statement find(db_, "SELECT price_set FROM pending_prices WHERE id = ?");
    find.Bind(1, id);
    if (!find.Step()) return PendingChange::kNotFound;
    if (!find.Null(0)) return PendingChange::kTookEffect;
    sql::Statement grades(db_, "DELETE FROM pending_price_grades WHERE pending = ?");
    grades.Bind(1, id).Step();
    sql::Statement set(db_, "DELETE FROM pending_prices WHERE id = ?");
    set.Bind(1, id).Step();
    WriteAudit(audit);
    tx.Commit();
    if (audit) audit->written = true;
    return PendingChange::kDone;
}

std::optional<PriceSet> Store::ApplyPendingPrices(std::int64_t id, const std::vector<GradePrice>& grades) {
    std::lock_guard lock(mutex_);
    sql::Transaction tx(db_);
    sql::Statement find(db_, "SELECT 1 FROM pending_prices WHERE id = ? AND price_set IS NULL");
    find.Bind(1, id);
    if (!find.Step()) return std::nullopt;
    const PriceSet set = InsertPriceSetLocked(grades);
    sql::Statement taken(db_, "UPDATE pending_prices SET price_set = ? WHERE id = ?");
    taken.Bind(1, set.id).Bind(2, id).Step();
    tx.Commit();
    return set;
}

std::int64_t Store::OpenSale(Sale s) {
    std::lock_guard lock(mutex_);
    sql::Statement st(db_,
                      "INSERT INTO sales(pump, nozzle, grade, price_cents, price_set, preset_kind, preset, state, started, "
                      "before_volume, before_amount, prepaid_cents) VALUES(?, ?, ?, ?, ?, ?, ?, 'open', ?, ?, ?, ?)");
    st.Bind(1, s.pump).Bind(2, s.nozzle).Bind(3, s.grade).Bind(4, s.price_cents).Bind(5, s.price_set);
    st.Bind(6, static_cast<std::int64_t>(s.preset.kind)).Bind(7, s.preset.hundredths).Bind(8, s.started);
    if (s.before)
        st.Bind(9, s.before->volume_cl).Bind(10, s.before->amount_cents);
    else
        st.BindNull(9).BindNull(10);
    if (s.prepaid_cents)
        st.Bind(11, *s.prepaid_cents);
    else
        st.BindNull(11);
    st.Step();  // one statement: its own durable transaction
    return sqlite3_last_insert_rowid(db_);
}

void Store::MoveSale(const Sale& s) {
    std::lock_guard lock(mutex_);
    sql::Statement st(db_,
                      "UPDATE sales SET pump = ?, nozzle = ?, grade = ?, price_cents = ?, price_set = ?, preset_kind = ?, preset = ?, "
                      "before_volume = ?, before_amount = ? WHERE id = ? AND state = 'open'");
    st.Bind(1, s.pump).Bind(2, s.nozzle).Bind(3, s.grade).Bind(4, s.price_cents).Bind(5, s.price_set);
    st.Bind(6, static_cast<std::int64_t>(s.preset.kind)).Bind(7, s.preset.hundredths);
    if (s.before)
        st.Bind(8, s.before->volume_cl).Bind(9, s.before->amount_cents);
    else
        st.BindNull(8).BindNull(9);
    st.Bind(10, s.id).Step();
}

Sale Store::ReadSale(sql::Statement& st) {
    Sale s;
    s.id = st.Int(0);
    s.pump = static_cast<int>(st.Int(1));
    s.nozzle = static_cast<int>(st.Int(2));
    s.grade = st.Text(3);
    s.price_cents = st.Int(4);
    s.price_set = st.Int(5);
    s.preset = {static_cast<Preset::Kind>(st.Int(6)), st.Int(7)};
    s.state = st.Text(8);
    s.volume_cl = st.Int(9);
    s.amount_cents = st.Int(10);
    s.started = st.Text(11);
    s.ended = st.Text(12);
    if (!st.Null(13)) s.before = Totalizer{st.Int(13), st.Int(14)};
    if (!st.Null(15)) s.after = Totalizer{st.Int(15), st.Int(16)};
    s.locked_by = st.Text(17);
    s.cleared = st.Text(18);
    s.reconciled = st.Int(19) != 0;
    if (!st.Null(20)) s.prepaid_cents = st.Int(20);
    s.marked_by = st.Text(21);
    return s;
}

std::optional<Sale> Store::FindLocked(std::int64_t id, sqlite3* db) {
    sql::Statement st(db ? db : db_, (std::string("SELECT ") + kSaleColumns + " FROM sales WHERE id = ?").c_str());
    st.Bind(1, id);
    if (!st.Step()) return std::nullopt;
    return ReadSale(st);
}

std::optional<Sale> Store::Find(std::int64_t id) {
    std::lock_guard lock(read_mutex_);
    return FindLocked(id, read_);
}

std::vector<Sale> Store::OpenSales() {
    std::lock_guard lock(mutex_);
    sql::Statement st(db_, (std::string("SELECT ") + kSaleColumns + " FROM sales WHERE state = 'open' ORDER BY id").c_str());
    std::vector<Sale> sales;
    while (st.Step()) sales.push_back(ReadSale(st));
    return sales;
}

void Store::VoidSale(std::int64_t id) {
    std::lock_guard lock(mutex_);
    sql::Statement st(db_, "UPDATE sales SET state = 'void', ended = ? WHERE id = ? AND state = 'open'");
    st.Bind(1, UtcNow()).Bind(2, id).Step();
}

void Store::QueueForUplink(const char* event, const Sale& sale) {
    if (topic_.empty()) return;
    const nlohmann::json payload = {{"event", event}, {"station", station_}, {"sale", SaleJson(sale)}};
    sql::Statement st(db_, "INSERT INTO outbox(topic, payload) VALUES(?, ?)");
    st.Bind(1, topic_).Bind(2, payload.dump()).Step();
}

Sale Store::FinishSale(std::int64_t id, std::int64_t volume_cl, std::int64_t amount_cents, const std::optional<Totalizer>& after,
                       bool reconciled) {
    std::lock_guard lock(mutex_);
    sql::Transaction tx(db_);
    sql::Statement st(db_,
                      "UPDATE sales SET state = 'payable', volume_cl = ?, amount_cents = ?, ended = ?, after_volume = ?, "
                      "after_amount = ?, reconciled = ? WHERE id = ? AND state = 'open'");
    st.Bind(1, volume_cl).Bind(2, amount_cents).Bind(3, UtcNow());
    if (after)
        st.Bind(4, after->volume_cl).Bind(5, after->amount_cents);
    else
        st.BindNull(4).BindNull(5);
    st.Bind(6, reconciled ? 1 : 0).Bind(7, id).Step();
    const bool changed = sqlite3_changes(db_) == 1;
    auto sale = FindLocked(id);
    if (!sale) throw StoreError("store: sale " + std::to_string(id) + " is missing");
    if (changed) QueueForUplink("finished", *sale);
    tx.Commit();
    return *sale;
}

// A finished sale that is not cleared yet, or why not; `sale` holds it as it stands.
SaleChange Store::Unsettled(std::int64_t id, Sale& sale) {
    auto found = FindLocked(id);
    if (!found || found->state == "open" || found->state == "void") return SaleChange::kNotFound;
    sale = *found;
    if (sale.state == "drive_off" || sale.state == "test") return SaleChange::kMarked;
    return sale.state == "cleared" ? SaleChange::kAlreadyCleared : SaleChange::kDone;
}

void Store::WriteAudit(AuditNote* audit) {
    if (!audit) return;
    audit->entry.status = 200;
    audit->entry.error.clear();
    InsertAudit(audit->entry);
}

void Store::Audit(const AuditEntry& entry) {
    std::lock_guard lock(mutex_);
    InsertAudit(entry);
}

void Store::InsertAudit(const AuditEntry& e) {
    sql::Statement st(db_, "INSERT INTO audit(time, actor, operation, target, status, error) VALUES(?, ?, ?, ?, ?, ?)");
    st.Bind(1, e.time).Bind(2, e.actor).Bind(3, e.operation).Bind(4, e.target).Bind(5, e.status).Bind(6, e.error).Step();
}

std::vector<AuditEntry> Store::AuditTrail(const AuditFilter& f) {
    std::lock_guard lock(read_mutex_);
    std::string sql = "SELECT id, time, actor, operation, target, status, error FROM audit WHERE 1";
    if (f.from) sql += " AND time >= ?";
    if (f.to) sql += " AND time < ?";
    if (f.actor) sql += " AND actor = ?";
    sql += " ORDER BY id LIMIT ?";
    sql::Statement st(read_, sql.c_str());
    int i = 1;
    if (f.from) st.Bind(i++, *f.from);
    if (f.to) st.Bind(i++, *f.to);
    if (f.actor) st.Bind(i++, *f.actor);
    st.Bind(i, f.limit);
    std::vector<AuditEntry> entries;
    while (st.Step())
        entries.push_back({st.Int(0), st.Text(1), st.Text(2), st.Text(3), st.Text(4), static_cast<int>(st.Int(5)), st.Text(6)});
    return entries;
}

SaleChange Store::Mark(std::int64_t id, const std::string& state, const std::string& who, Sale& sale, AuditNote* audit) {
    std::lock_guard lock(mutex_);
    sql::Transaction tx(db_);
    if (const auto found = Unsettled(id, sale); found != SaleChange::kDone) return found;
    if (sale.state == "locked") return SaleChange::kLockedByOther;
    if (sale.prepaid_cents) return SaleChange::kPrepaid;
    sql::Statement st(db_, "UPDATE sales SET state = ?, marked_by = ? WHERE id = ?");
    st.Bind(1, state).Bind(2, who).Bind(3, id).Step();
    sale.state = state;
    sale.marked_by = who;
    QueueForUplink("marked", sale);
    WriteAudit(audit);
    tx.Commit();
    if (audit) audit->written = true;
    return SaleChange::kDone;
}

SaleChange Store::Lock(std::int64_t id, const std::string& holder, Sale& sale, AuditNote* audit) {
    std::lock_guard lock(mutex_);
    sql::Transaction tx(db_);
    if (const auto found = Unsettled(id, sale); found != SaleChange::kDone) return found;
    if (sale.state == "locked") return sale.locked_by == holder ? SaleChange::kDone : SaleChange::kLockedByOther;
    sql::Statement st(db_, "UPDATE sales SET state = 'locked', locked_by = ? WHERE id = ?");
    st.Bind(1, holder).Bind(2, id).Step();
    WriteAudit(audit);
    tx.Commit();
    if (audit) audit->written = true;
    sale.state = "locked";
    sale.locked_by = holder;
    return SaleChange::kDone;
}

SaleChange Store::Clear(std::int64_t id, const std::string& holder, Sale& sale, AuditNote* audit) {
    std::lock_guard lock(mutex_);
    sql::Transaction tx(db_);
    if (const auto found = Unsettled(id, sale); found != SaleChange::kDone) return found;
    if (sale.state != "locked") return SaleChange::kNotLocked;
    if (sale.locked_by != holder) return SaleChange::kLockedByOther;
    sale.state = "cleared";
    sale.cleared = UtcNow();
    sql::Statement st(db_, "UPDATE sales SET state = 'cleared', cleared = ? WHERE id = ?");
    st.Bind(1, sale.cleared).Bind(2, id).Step();
    QueueForUplink("cleared", sale);
    WriteAudit(audit);
    tx.Commit();
    if (audit) audit->written = true;
    return SaleChange::kDone;
}

SaleChange Store::Unlock(std::int64_t id, Sale& sale, AuditNote* audit) {
    std::lock_guard lock(mutex_);
    sql::Transaction tx(db_);
    if (const auto found = Unsettled(id, sale); found != SaleChange::kDone) return found;
    if (sale.state != "locked") return SaleChange::kNotLocked;
    sql::Statement st(db_, "UPDATE sales SET state = 'payable', locked_by = '' WHERE id = ?");
    st.Bind(1, id).Step();
    WriteAudit(audit);
    tx.Commit();
    if (audit) audit->written = true;
    sale.state = "payable";
    sale.locked_by.clear();
    return SaleChange::kDone;
}

std::vector<Sale> Store::List(const SaleFilter& f) {
    std::lock_guard lock(read_mutex_);
    std::string sql = std::string("SELECT ") + kSaleColumns + " FROM sales WHERE id > ?";
    sql += f.state ? " AND state = ?" : " AND state IN ('payable', 'locked', 'cleared', 'drive_off', 'test')";
    if (f.pump) sql += " AND pump = ?";
    if (f.from) sql += " AND ended >= ?";
    if (f.to) sql += " AND ended < ?";
    sql += " ORDER BY id LIMIT ?";
    sql::Statement st(read_, sql.c_str());
    int i = 1;
    st.Bind(i++, f.after);
    if (f.state) st.Bind(i++, *f.state);
    if (f.pump) st.Bind(i++, *f.pump);
    if (f.from) st.Bind(i++, *f.from);
    if (f.to) st.Bind(i++, *f.to);
    st.Bind(i, f.limit);
    std::vector<Sale> sales;
    while (st.Step()) sales.push_back(ReadSale(st));
    return sales;
}

std::vector<GradeTotal> Store::Summary(const SaleFilter& f) {
    std::lock_guard lock(read_mutex_);
    // A drive-off is fuel sold, if unpaid; a test went back to the tank and counts apart.
    std::string sql =
        "SELECT grade, COUNT(*), SUM(volume_cl), SUM(amount_cents) FROM sales"
        " WHERE state IN ('payable', 'locked', 'cleared', 'drive_off')";
    if (f.from) sql += " AND ended >= ?";
    if (f.to) sql += " AND ended < ?";
    sql += " GROUP BY grade ORDER BY grade";
    sql::Statement st(read_, sql.c_str());
    int i = 1;
    if (f.from) st.Bind(i++, *f.from);
    if (f.to) st.Bind(i++, *f.to);
    std::vector<GradeTotal> totals;
    while (st.Step()) totals.push_back({st.Text(0), st.Int(1), st.Int(2), st.Int(3)});
    return totals;
}

GradeTotal Store::TestTotal(const SaleFilter& f) {
    std::lock_guard lock(read_mutex_);
    std::string sql = "SELECT COUNT(*), COALESCE(SUM(volume_cl), 0), COALESCE(SUM(amount_cents), 0) FROM sales WHERE state = 'test'";
    if (f.from) sql += " AND ended >= ?";
    if (f.to) sql += " AND ended < ?";
    sql::Statement st(read_, sql.c_str());
    int i = 1;
    if (f.from) st.Bind(i++, *f.from);
    if (f.to) st.Bind(i++, *f.to);
    st.Step();
    return {"", st.Int(0), st.Int(1), st.Int(2)};
}

std::map<int, int> Store::Unpaid() {
    std::lock_guard lock(read_mutex_);
    sql::Statement st(read_,
                      "SELECT pump, COUNT(*) FROM sales WHERE state IN ('payable', 'locked') AND prepaid_cents IS NULL GROUP BY pump");
    std::map<int, int> unpaid;
    while (st.Step()) unpaid[static_cast<int>(st.Int(0))] = static_cast<int>(st.Int(1));
    return unpaid;
}

std::map<std::string, std::int64_t> Store::CountByState() {
    std::lock_guard lock(read_mutex_);
    sql::Statement st(read_, "SELECT state, COUNT(*) FROM sales GROUP BY state");
    std::map<std::string, std::int64_t> counts;
    while (st.Step()) counts[st.Text(0)] = st.Int(1);
    return counts;
}

std::map<int, PumpControl> Store::PumpControls() {
    std::lock_guard lock(read_mutex_);
    sql::Statement st(read_, "SELECT pump, closed_reason, closed_since, closed_by, attendant FROM pump_controls");
    std::map<int, PumpControl> controls;
    while (st.Step()) {
        PumpControl& c = controls[static_cast<int>(st.Int(0))];
        if (!st.Null(1)) c.closed = Closure{st.Text(1), st.Text(2), st.Text(3)};
        c.attendant = st.Int(4) != 0;
    }
    return controls;
}

void Store::SetPumpControl(int pump, const PumpControl& control, AuditNote* audit) {
    std::lock_guard lock(mutex_);
    sql::Transaction tx(db_);
    sql::Statement st(
        db_, "INSERT OR REPLACE INTO pump_controls(pump, closed_reason, closed_since, closed_by, attendant) VALUES(?, ?, ?, ?, ?)");
    st.Bind(1, pump);
    if (control.closed)
        st.Bind(2, control.closed->reason).Bind(3, control.closed->since).Bind(4, control.closed->by);
    else
        st.BindNull(2).BindNull(3).BindNull(4);
    st.Bind(5, control.attendant ? 1 : 0).Step();
    WriteAudit(audit);
    tx.Commit();
    if (audit) audit->written = true;
}

std::optional<Closure> Store::EmergencyStop() {
    std::lock_guard lock(read_mutex_);
    sql::Statement st(read_, "SELECT since, by FROM emergency_stop WHERE id = 1");
    if (!st.Step()) return std::nullopt;
    return Closure{"emergency_stop", st.Text(0), st.Text(1)};
}

void Store::SetEmergencyStop(const std::optional<Closure>& stop, AuditNote* audit) {
    std::lock_guard lock(mutex_);
    sql::Transaction tx(db_);
    if (!stop)
        sql::Statement(db_, "DELETE FROM emergency_stop").Step();
    else
        sql::Statement(db_, "INSERT OR REPLACE INTO emergency_stop(id, since, by) VALUES(1, ?, ?)")
            .Bind(1, stop->since)
            .Bind(2, stop->by)
            .Step();
    WriteAudit(audit);
    tx.Commit();
    if (audit) audit->written = true;
}

void Store::Journal(const std::vector<JournalEvent>& events, std::size_t keep) {
    if (events.empty()) return;
    std::lock_guard lock(mutex_);
    sql::Transaction tx(db_);
    for (const auto& e : events) {
        sql::Statement st(db_, "INSERT OR REPLACE INTO events(seq, envelope) VALUES(?, ?)");
        st.Bind(1, e.seq).Bind(2, e.text).Step();
    }
    sql::Statement trim(db_, "DELETE FROM events WHERE seq <= ?");
    trim.Bind(1, events.back().seq - static_cast<std::int64_t>(keep)).Step();
    tx.Commit();
}

std::vector<JournalEvent> Store::JournalAfter(std::int64_t seq, std::size_t limit) {
    std::lock_guard lock(read_mutex_);
    sql::Statement st(read_, "SELECT seq, envelope FROM events WHERE seq > ? ORDER BY seq LIMIT ?");
    st.Bind(1, seq).Bind(2, static_cast<std::int64_t>(limit));
    std::vector<JournalEvent> events;
    while (st.Step()) events.push_back({st.Int(0), st.Text(1)});
    return events;
}

std::int64_t Store::LastSeq() {
    std::lock_guard lock(mutex_);
    sql::Statement st(db_, "SELECT COALESCE(MAX(seq), 0) FROM events");
    st.Step();
    return st.Int(0);
}

std::int64_t Store::ReservedSeq() {
    std::lock_guard lock(mutex_);
    sql::Statement st(db_, "SELECT COALESCE(MAX(reserved), 0) FROM event_seq");
    st.Step();
    return st.Int(0);
}

void Store::ReserveSeq(std::int64_t upto) {
    std::lock_guard lock(mutex_);
    sql::Statement st(db_, "INSERT INTO event_seq(id, reserved) VALUES (1, ?) ON CONFLICT(id) DO UPDATE SET reserved = excluded.reserved");
    st.Bind(1, upto).Step();
}

bool Store::Healthy() {
    try {
        std::lock_guard lock(read_mutex_);
        sql::Statement st(read_, "SELECT 1");
        return st.Step();
    } catch (const StoreError&) {
        return false;
    }
}

}  // namespace forecourt
