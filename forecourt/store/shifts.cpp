// Shifts: their open and close with the nozzles' readings, and the report written with the close.
#include <sqlite3.h>

#include <map>

#include "store.h"

namespace forecourt {

namespace {

constexpr const char* kShiftColumns = "id, opened, opened_by, COALESCE(closed, ''), COALESCE(closed_by, ''), unread, report";

Shift ReadShift(sql::Statement& st) {
    Shift s{st.Int(0), st.Text(1), st.Text(2), st.Text(3), st.Text(4), st.Int(5) != 0, nullptr};
    if (!st.Null(6)) s.report = nlohmann::json::parse(st.Text(6), nullptr, false);
    return s;
}

std::optional<Shift> ShiftWhere(sqlite3* db, const std::string& where, std::int64_t id = 0) {
    sql::Statement st(db, (std::string("SELECT ") + kShiftColumns + " FROM shifts WHERE " + where).c_str());
    if (id) st.Bind(1, id);
    if (!st.Step()) return std::nullopt;
    return ReadShift(st);
}

struct Tally {
    std::int64_t sales = 0;
    std::int64_t volume_cl = 0;
    std::int64_t amount_cents = 0;

    void Add(std::int64_t volume, std::int64_t amount) {
        ++sales;
        volume_cl += volume;
        amount_cents += amount;
    }
    nlohmann::json Json() const { return {{"sales", sales}, {"volume", Hundredths(volume_cl)}, {"amount", Hundredths(amount_cents)}}; }
};

bool AllRead(const std::vector<ShiftReading>& readings) {
    for (const auto& r : readings)
        if (!r.totalizer) return false;
    return true;
}

}  // namespace

ShiftChange Store::OpenShift(const std::string& by, const std::vector<ShiftReading>& readings, Shift& shift, AuditNote* audit) {
    std::lock_guard lock(mutex_);
    sql::Transaction tx(db_);
    if (auto open = ShiftWhere(db_, "closed IS NULL")) {
        shift = *open;
        return ShiftChange::kAlreadyOpen;
    }
    shift = Shift{0, UtcNow(), by, {}, {}, !AllRead(readings), nullptr};
    sql::Statement insert(db_, "INSERT INTO shifts(opened, opened_by, unread) VALUES(?, ?, ?)");
    insert.Bind(1, shift.opened).Bind(2, by).Bind(3, shift.unread ? 1 : 0).Step();
    shift.id = sqlite3_last_insert_rowid(db_);
    for (const auto& r : readings) {
        sql::Statement row(
            db_, "INSERT INTO shift_readings(shift, pump, nozzle, grade, at, volume_cl, amount_cents) VALUES(?, ?, ?, ?, ?, ?, ?)");
        row.Bind(1, shift.id).Bind(2, r.pump).Bind(3, r.nozzle).Bind(4, r.grade).Bind(5, r.at);
        if (r.totalizer)
            row.Bind(6, r.totalizer->volume_cl).Bind(7, r.totalizer->amount_cents);
        else
            row.BindNull(6).BindNull(7);
        row.Step();
    }
    WriteAudit(audit);
    tx.Commit();
    if (audit) audit->written = true;
    return ShiftChange::kDone;
}

ShiftChange Store::CloseShift(const std::string& by, const std::vector<ShiftReading>& readings, Shift& shift, AuditNote* audit) {
    std::lock_guard lock(mutex_);
    sql::Transaction tx(db_);
    auto open = ShiftWhere(db_, "closed IS NULL");
    if (!open) return ShiftChange::kNoneOpen;
    shift = *open;
    shift.report = ShiftReport(shift.id, readings);
    shift.closed = UtcNow();
    shift.closed_by = by;
    shift.unread = shift.report["unread"].get<bool>();
    sql::Statement st(db_, "UPDATE shifts SET closed = ?, closed_by = ?, unread = ?, report = ? WHERE id = ?");
    st.Bind(1, shift.closed).Bind(2, by).Bind(3, shift.unread ? 1 : 0).Bind(4, shift.report.dump()).Bind(5, shift.id).Step();
    if (!shift_topic_.empty()) {
        const nlohmann::json payload = {{"event", "closed"}, {"station", station_}, {"shift", ShiftJson(shift)}};
        sql::Statement queued(db_, "INSERT INTO outbox(topic, payload) VALUES(?, ?)");
        queued.Bind(1, shift_topic_).Bind(2, payload.dump()).Step();
    }
    WriteAudit(audit);
    tx.Commit();
    if (audit) audit->written = true;
    return ShiftChange::kDone;
}

// Each nozzle's sales are those of its line that ended after the open read the line and up to
// when the close read it: the totalizers' growth between the two readings is their fuel.
nlohmann::json Store::ShiftReport(std::int64_t shift, const std::vector<ShiftReading>& closing) {
    std::map<std::pair<int, int>, ShiftReading> opening;
    sql::Statement readings(db_, "SELECT pump, nozzle, grade, at, volume_cl, amount_cents FROM shift_readings WHERE shift = ?");
    readings.Bind(1, shift);
    while (readings.Step()) {
        ShiftReading r{static_cast<int>(readings.Int(0)), static_cast<int>(readings.Int(1)), readings.Text(2), readings.Text(3), {}};
        if (!readings.Null(4)) r.totalizer = Totalizer{readings.Int(4), readings.Int(5)};
        opening[{r.pump, r.nozzle}] = r;
    }
    const std::string opened = ShiftWhere(db_, "id = ?", shift)->opened;

    std::map<std::string, Tally> grades, cashiers;
    Tally total, drive_offs, tests, refunds, unpaid;
    bool unread = false;
    std::int64_t difference_cl = 0;
    auto nozzles = nlohmann::json::array();
    for (const auto& close : closing) {
        const auto found = opening.find({close.pump, close.nozzle});
        const std::optional<Totalizer> start = found == opening.end() ? std::nullopt : found->second.totalizer;
        sql::Statement st(db_,
                          "SELECT state, volume_cl, amount_cents, grade, locked_by, prepaid_cents FROM sales WHERE pump = ? AND nozzle = ?"
                          " AND ended > ? AND ended <= ? AND state IN ('payable', 'locked', 'cleared', 'drive_off', 'test')");
        st.Bind(1, close.pump).Bind(2, close.nozzle).Bind(3, found == opening.end() ? opened : found->second.at).Bind(4, close.at);
        Tally metered;
        while (st.Step()) {
            const std::string state = st.Text(0);
            const std::int64_t volume = st.Int(1), amount = st.Int(2);
            // Every sale went through the meter, a test delivery too.
            metered.Add(volume, amount);
            if (state == "test") {
                tests.Add(volume, amount);
                continue;
            }
            grades[st.Text(3)].Add(volume, amount);
            total.Add(volume, amount);
            if (state == "drive_off") drive_offs.Add(volume, amount);
            if (state == "cleared") cashiers[st.Text(4)].Add(volume, amount);
            const bool prepaid = !st.Null(5);
            if (prepaid && st.Int(5) > amount) refunds.Add(volume, st.Int(5) - amount);
            if (!prepaid && (state == "payable" || state == "locked")) unpaid.Add(volume, amount);
        }
        const bool read = start && close.totalizer;
        unread = unread || !read;
        nlohmann::json row = {{"pump", close.pump},
                              {"nozzle", close.nozzle},
                              {"grade", close.grade},
                              {"sales", metered.sales},
                              {"volume", Hundredths(metered.volume_cl)},
                              {"amount", Hundredths(metered.amount_cents)},
                              {"totalizer_open", TotalizerJson(start)},
                              {"totalizer_close", TotalizerJson(close.totalizer)},
                              {"unread", !read},
                              {"growth", nullptr},
                              {"difference_cl", nullptr}};
        if (read) {
            const Totalizer growth{close.totalizer->volume_cl - start->volume_cl, close.totalizer->amount_cents - start->amount_cents};
            row["growth"] = TotalizerJson(growth);
            row["difference_cl"] = growth.volume_cl - metered.volume_cl;
            difference_cl += growth.volume_cl - metered.volume_cl;
        }
        nozzles.push_back(std::move(row));
    }
    const auto listed = [](const std::map<std::string, Tally>& tallies, const char* key) {
        auto list = nlohmann::json::array();
        for (const auto& [name, tally] : tallies) {
            auto entry = tally.Json();
            entry[key] = name;
            list.push_back(std::move(entry));
        }
        return list;
    };
    auto refund_json = refunds.Json();
    refund_json.erase("volume");
    return {{"nozzles", nozzles},
            {"grades", listed(grades, "grade")},
            {"total", total.Json()},
            {"drive_offs", drive_offs.Json()},
            {"tests", tests.Json()},
            {"refunds", refund_json},
            {"cashiers", listed(cashiers, "cashier")},
            {"unpaid", unpaid.Json()},
            {"unread", unread},
            // Not known while a nozzle went unread: its growth could be anything.
            {"difference_cl", unread ? nlohmann::json(nullptr) : nlohmann::json(difference_cl)}};
}

std::optional<Shift> Store::FindShift(std::int64_t id) {
    std::lock_guard lock(read_mutex_);
    return ShiftWhere(read_, "id = ?", id);
}

std::optional<Shift> Store::OpenShiftNow() {
    std::lock_guard lock(read_mutex_);
    return ShiftWhere(read_, "closed IS NULL");
}

std::vector<Shift> Store::Shifts(int limit) {
    std::lock_guard lock(read_mutex_);
    sql::Statement st(read_, (std::string("SELECT ") + kShiftColumns + " FROM shifts ORDER BY id DESC LIMIT ?").c_str());
    st.Bind(1, limit);
    std::vector<Shift> shifts;
    while (st.Step()) shifts.push_back(ReadShift(st));
    return shifts;
}

}  // namespace forecourt
