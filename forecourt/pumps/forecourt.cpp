#include "forecourt.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <iostream>

#include "emulator_control.h"
#include "events/event_hub.h"
#include "station_link.h"
#include "status_codes.h"
#include "store/store.h"

namespace forecourt {

// Fields written by the line's thread under mutex_; read by anyone under mutex_.
struct Forecourt::Pump {
    PumpConfig config;
    std::size_t line = 0;
    std::string state = "offline";
    std::optional<int> nozzle;
    std::int64_t volume_cl = 0;
    std::int64_t amount_cents = 0;
    std::optional<int> code;
    std::string since = UtcNow();
    std::optional<Sale> sale;   // the open sale: authorized, fuelling or stopped
    std::int64_t last_sale = 0;  // the last finished one
    bool by_totals = false;      // read the sale from the totalizers: the driver's current nozzle is not known
    bool stop_requested = false;
    std::vector<std::uint8_t> codes;  // the last poll, nozzle n at n - 1
    nlohmann::json published;

    int NozzleCount() const {
        int count = 0;
        for (const auto& n : config.nozzles) count = std::max(count, n.nozzle);
        return count;
    }
    const NozzleConfig* Nozzle(int n) const {
        for (const auto& z : config.nozzles)
            if (z.nozzle == n) return &z;
        return nullptr;
    }
};

struct Forecourt::Line {
    LineConfig config;
    std::vector<Pump*> pumps;
    bool online = false;    // under mutex_
    int misses = 0;         // line thread only
    double poll_ms = 0;     // under mutex_
    std::uint64_t cycles = 0;
    bool set_up = false;
    struct Queued {
        std::function<void()> run;
        Done done;  // told when the command cannot run
        std::string client;
    };
    std::mutex queue_mutex;
    std::condition_variable_any wake;
    std::array<std::deque<Queued>, 3> queues;  // by CommandClass
    std::jthread thread;

    bool Idle() const { return std::all_of(queues.begin(), queues.end(), [](const auto& q) { return q.empty(); }); }
};

const char* ErrorCode(Outcome::Kind kind) {
    using K = Outcome::Kind;
    switch (kind) {
        case K::kOk: return "ok";
        case K::kBadRequest: return "bad_request";
        case K::kNotFound: return "not_found";
        case K::kConflict: return "conflict";
        case K::kRefused: return "refused";
        case K::kUnpaidLimit: return "unpaid_limit";
        case K::kOffline: return "line_offline";
        case K::kForbidden: return "forbidden";
        case K::kStoreFailed: return "store_failed";
        case K::kBusy: return "too_many_requests";
        case K::kIncomplete: return "incomplete";
    }
    return "internal";
}

namespace {

constexpr int kMissesOffline = 2;

std::string FormatHundredths(std::int64_t value) {
    const std::string cents = std::to_string(value % 100);
    return std::to_string(value / 100) + "." + (cents.size() < 2 ? "0" : "") + cents;
}

// Queued reads (totals) per line and per client, and authorizations per line beyond one per
// pump: a caller past them is told to come back, the poll is never held up by them.
constexpr std::size_t kReadsPerLine = 4;
constexpr std::size_t kReadsPerClient = 1;
constexpr std::size_t kSpareAuthorizations = 4;

}  // namespace

Forecourt::Forecourt(const Config& config, Store& store, EventHub& hub, dorv::DI30& driver, StationLink& link)
    : config_(config), store_(store), hub_(hub), driver_(driver), link_(link) {
    std::vector<GradePrice> initial;
    for (const auto& g : config_.grades) initial.push_back({g.id, g.name, g.price_cents});
    prices_ = store_.Prices(initial);
    for (const auto& g : config_.grades)
        if (!prices_.Find(g.id)) prices_.grades.push_back({g.id, g.name, g.price_cents});
    for (const auto& lc : config_.lines) {
        auto line = std::make_unique<Line>();
        line->config = lc;
        lines_.push_back(std::move(line));
    }
    for (const auto& pc : config_.pumps) {
        auto pump = std::make_unique<Pump>();
        pump->config = pc;
        for (std::size_t i = 0; i < lines_.size(); ++i)
            if (lines_[i]->config.line == pc.line) pump->line = i;
        pump->codes.assign(static_cast<std::size_t>(pump->NozzleCount()), 0);
        lines_[pump->line]->pumps.push_back(pump.get());
        pumps_.push_back(std::move(pump));
    }
    // What was authorized or fuelling when the service stopped is taken up again; the
    // driver is new and does not know which nozzle each column last started, so those
    // sales are read from the totalizers.
    for (auto& sale : store_.OpenSales()) {
        Pump* pump = Find(sale.pump);
        if (!pump) continue;
        if (pump->sale) store_.VoidSale(pump->sale->id);  // never two open sales on one pump
        sale.reconciled = true;
        pump->sale = sale;
        pump->by_totals = true;
    }
    unpaid_ = store_.Unpaid();
}

Forecourt::~Forecourt() { Stop(); }

void Forecourt::Start() {
    for (auto& line : lines_) {
        Line* l = line.get();
        l->thread = std::jthread([this, l](std::stop_token stop) { Loop(*l, stop); });
    }
}

void Forecourt::Stop() {
    for (auto& line : lines_) {
        if (!line->thread.joinable()) continue;
        line->thread.request_stop();
        line->wake.notify_all();
        line->thread.join();
    }
}

Forecourt::Pump* Forecourt::Find(int number) {
    for (auto& p : pumps_)
        if (p->config.pump == number) return p.get();
    return nullptr;
}

Forecourt::Line& Forecourt::LineOf(const Pump& pump) { return *lines_[pump.line]; }

// Runs what is queued between two polls: every stop, the authorizations, and one read, so a
// crowd of readers never holds up the poll nor a till's authorization.
void Forecourt::RunQueued(Line& line) {
    bool read = false;
    for (;;) {
        Line::Queued next;
        {
            std::lock_guard lock(line.queue_mutex);
            // The queues stand in CommandClass order: the first that waits goes first.
            const auto waiting = std::find_if(line.queues.begin(), line.queues.end(), [](const auto& q) { return !q.empty(); });
            if (waiting == line.queues.end()) return;
            const bool is_read = waiting - line.queues.begin() == static_cast<std::ptrdiff_t>(CommandClass::kRead);
            if (is_read && read) return;
            read = read || is_read;
            next = std::move(waiting->front());
            waiting->pop_front();
        }
        try {
            next.run();
        } catch (const StoreError& e) {
            next.done(Outcome::Fail(Outcome::Kind::kStoreFailed, e.what()));
        }
    }
}

void Forecourt::Loop(Line& line, std::stop_token stop) {
    while (!stop.stop_requested()) {
        RunQueued(line);
        const auto start = std::chrono::steady_clock::now();
        try {
            PollCycle(line);
        } catch (const StoreError& e) {
            // A sale that could not be written stays with its pump: the next poll writes it.
            std::cerr << "dorv-forecourt: line " << line.config.line << ": " << e.what() << std::endl;
        }
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        {
            std::lock_guard lock(mutex_);
            line.poll_ms = ms;
            ++line.cycles;
        }
        std::unique_lock lock(line.queue_mutex);
        line.wake.wait_for(lock, stop, std::chrono::milliseconds(config_.poll_interval_ms), [&] { return !line.Idle(); });
    }
    // Commands still queued hear that the service is going down, outside the queue's lock.
    std::array<std::deque<Line::Queued>, 3> left;
    {
        std::lock_guard lock(line.queue_mutex);
        left.swap(line.queues);
    }
    for (auto& queue : left)
        for (auto& q : queue) q.done(Outcome::Fail(Outcome::Kind::kOffline, "the service is stopping"));
}

void Forecourt::PollCycle(Line& line) {
    if (!line.set_up) {
        try {
            driver_.SetupLine(static_cast<std::uint8_t>(line.config.line));
        } catch (const dorv::Exception&) {
        }
        line.set_up = true;
    }
    // An offline line costs a timeout per request: one pump probes it until it answers.
    const std::size_t count = line.online ? line.pumps.size() : std::min<std::size_t>(1, line.pumps.size());
    for (std::size_t i = 0; i < count; ++i) {
        if (!PollPump(*line.pumps[i])) {
            if (++line.misses >= kMissesOffline) SetOnline(line, false);
            return;
        }
    }
    line.misses = 0;
    if (!line.online) SetOnline(line, true);
}

void Forecourt::SetOnline(Line& line, bool online) {
    {
        std::lock_guard lock(mutex_);
        if (line.online == online) return;
        line.online = online;
        hub_.Publish("line", LineJsonLocked(line));
    }
    for (Pump* pump : line.pumps)
        if (!online) SetState(*pump, "offline", pump->nozzle);
        else PollPump(*pump);
}

bool Forecourt::Answered(const Pump& pump) const { return link_.LastState(pump.config.line) == dorv::kLineAnswered; }

bool Forecourt::PollPump(Pump& pump) {
    const auto line = static_cast<std::uint8_t>(pump.config.line);
    const auto count = static_cast<std::uint8_t>(pump.NozzleCount());
    std::vector<std::uint8_t> codes(count);
    try {
        const dorv::StatusRecord record = driver_.GetStatus(line, static_cast<std::uint8_t>(pump.config.column), count);
        if (driver_.GetLineStatus(line) != dorv::kLineAnswered) return false;
        for (std::size_t n = 1; n <= count; ++n) codes[n - 1] = record.bytes[2 * n];
        if (!LineOf(pump).online) return true;  // the line comes back: SetOnline polls again
        Track(pump, codes);
    } catch (const dorv::Exception&) {
        return false;
    }
    return true;
}

// Moves the pump's state on from one poll's nozzle codes.
void Forecourt::Track(Pump& pump, const std::vector<std::uint8_t>& codes) {
    pump.codes = codes;
    auto code = [&](int n) { return n >= 1 && n <= static_cast<int>(codes.size()) ? ClassifyCode(codes[n - 1]) : NozzleCode::kOther; };
    auto first = [&](auto predicate) -> std::optional<int> {
        for (int n = 1; n <= static_cast<int>(codes.size()); ++n)
            if (pump.Nozzle(n) && predicate(code(n))) return n;
        return std::nullopt;
    };
    if (pump.sale) {
        const NozzleCode c = code(pump.sale->nozzle);
        if (pump.by_totals && c == NozzleCode::kAuthorized) {
            // Authorized but never started: the start went down with the service or its reply
            // was lost and the pump never took it. Nothing was delivered: the authorization is
            // withdrawn and the sale voided, so the pump calls again.
            driver_.StopAndRelease(pump.config.line, pump.config.column, pump.sale->nozzle, 1);
            if (Answered(pump)) Finalize(pump);
            return;
        }
        if (Flowing(c)) {
            if (auto reading = ReadFilling(pump)) {
                std::lock_guard lock(mutex_);
                pump.volume_cl = reading->first;
                pump.amount_cents = reading->second;
            }
            SetState(pump, pump.stop_requested ? "stopped" : "fuelling", pump.sale->nozzle);
        } else if (Started(c)) {
            SetState(pump, pump.stop_requested ? "stopped" : "authorized", pump.sale->nozzle);
        } else {
            Finalize(pump);  // released: the filling is over
        }
        return;
    }
    if (auto n = first(Flowing)) {
        SetState(pump, "fuelling", n);  // delivering without our authorization (a free start)
    } else if (auto n = first(Started)) {
        SetState(pump, "authorized", n);
    } else if (auto n = first([](NozzleCode c) { return c == NozzleCode::kLifted; })) {
        // The customer still holds the nozzle of the sale just finished.
        const bool holding = pump.state == "finished" && pump.nozzle == n;
        SetState(pump, holding ? "finished" : "calling", n);
    } else {
        SetState(pump, "idle", std::nullopt);
    }
}

std::optional<Totalizer> Forecourt::ReadTotals(Pump& pump, int nozzle) {
    double volume = 0, amount = 0;
    driver_.ReadCounters(pump.config.line, pump.config.column, nozzle, &volume, &amount, 0, 0);
    // The driver reports a silence as a reading of zero: ask the link whether it answered.
    if (!Answered(pump)) return std::nullopt;
    return Totalizer{ToHundredths(volume), ToHundredths(amount)};
}

namespace {

// What a sale taken up from the totalizers delivered by the reading `now`.
std::optional<std::pair<std::int64_t, std::int64_t>> DeliveredSince(const Sale& sale, const std::optional<Totalizer>& now) {
    if (!now || !sale.before) return std::nullopt;
    return std::pair{now->volume_cl - sale.before->volume_cl, now->amount_cents - sale.before->amount_cents};
}

}  // namespace

std::optional<std::pair<std::int64_t, std::int64_t>> Forecourt::ReadFilling(Pump& pump) {
    if (pump.by_totals) return DeliveredSince(*pump.sale, ReadTotals(pump, pump.sale->nozzle));
    double litres = 0, money = 0;
    driver_.GetFilling(pump.config.line, pump.config.column, &litres, &money);
    if (!Answered(pump)) return std::nullopt;
    return std::pair{ToHundredths(litres), ToHundredths(money)};
}

void Forecourt::Finalize(Pump& pump) {
    Sale& sale = *pump.sale;
    const auto after = ReadTotals(pump, sale.nozzle);
    const auto reading = pump.by_totals ? DeliveredSince(sale, after) : ReadFilling(pump);
    if (!reading) return;  // try again at the next poll
    auto [volume, amount] = *reading;
    // Totalizers that did not move: the readings are an earlier filling's.
    if (after && sale.before && after->volume_cl == sale.before->volume_cl) volume = 0;
    std::optional<Sale> finished;
    if (volume > 0) finished = store_.FinishSale(sale.id, volume, amount, after, sale.reconciled);
    else store_.VoidSale(sale.id);
    {
        std::lock_guard lock(mutex_);
        pump.sale.reset();
        pump.by_totals = false;
        pump.stop_requested = false;
        if (finished) {
            pump.last_sale = finished->id;
            pump.volume_cl = finished->volume_cl;
            pump.amount_cents = finished->amount_cents;
        }
    }
    if (finished) {
        RefreshUnpaid();
        hub_.Publish("sale", SaleJson(*finished));
        SetState(pump, "finished", finished->nozzle);
    }
    Track(pump, pump.codes);
}

void Forecourt::SetState(Pump& pump, const std::string& state, std::optional<int> nozzle) {
    {
        std::lock_guard lock(mutex_);
        if (pump.state != state) pump.since = UtcNow();
        pump.state = state;
        pump.nozzle = nozzle;
        pump.code = nozzle && *nozzle <= static_cast<int>(pump.codes.size()) ? std::optional<int>(pump.codes[*nozzle - 1])
                                                                            : std::nullopt;
    }
    PublishPump(pump);
}

void Forecourt::PublishPump(Pump& pump) {
    std::lock_guard lock(mutex_);
    auto json = PumpJsonLocked(pump);
    if (json == pump.published) return;
    pump.published = json;
    hub_.Publish("pump", std::move(json));
}

nlohmann::json Forecourt::PumpJsonLocked(const Pump& p) const {
    auto nozzles = nlohmann::json::array();
    for (const auto& n : p.config.nozzles) nozzles.push_back({{"nozzle", n.nozzle}, {"grade", n.grade}});
    nlohmann::json grade = nullptr, price = nullptr, price_set = nullptr, sale = nullptr;
    Preset preset;
    if (p.sale) {
        grade = p.sale->grade;
        price = Hundredths(p.sale->price_cents);
        price_set = p.sale->price_set;
        preset = p.sale->preset;
        sale = p.sale->id;
    } else {
        if (p.last_sale) sale = p.last_sale;
        if (const NozzleConfig* n = p.nozzle ? p.Nozzle(*p.nozzle) : nullptr) {
            grade = n->grade;
            if (const GradePrice* g = prices_.Find(n->grade)) price = Hundredths(g->price_cents);
        }
    }
    const auto unpaid = unpaid_.find(p.config.pump);
    return {{"pump", p.config.pump},
            {"line", p.config.line},
            {"column", p.config.column},
            {"state", p.state},
            {"nozzle", p.nozzle ? nlohmann::json(*p.nozzle) : nlohmann::json(nullptr)},
            {"grade", grade},
            {"volume", Hundredths(p.volume_cl)},
            {"amount", Hundredths(p.amount_cents)},
            {"price", price},
            {"preset", PresetJson(preset)},
            {"sale", sale},
            {"price_set", price_set},
            {"unpaid", unpaid == unpaid_.end() ? 0 : unpaid->second},
            {"nozzles", nozzles},
            {"since", p.since},
            {"code", p.code ? nlohmann::json(*p.code) : nlohmann::json(nullptr)}};
}

nlohmann::json Forecourt::LineJsonLocked(const Line& line) const {
    const auto& c = link_.Counters(line.config.line);
    return {{"line", line.config.line},
            {"online", line.online},
            {"state", c.last_state.load()},
            {"failures", c.failures.load()}};
}

nlohmann::json Forecourt::PumpsJson() const {
    std::lock_guard lock(mutex_);
    auto pumps = nlohmann::json::array();
    for (const auto& p : pumps_) pumps.push_back(PumpJsonLocked(*p));
    return {{"pumps", pumps}};
}

std::optional<nlohmann::json> Forecourt::PumpJson(int number) const {
    std::lock_guard lock(mutex_);
    for (const auto& p : pumps_)
        if (p->config.pump == number) return PumpJsonLocked(*p);
    return std::nullopt;
}

nlohmann::json Forecourt::ForecourtJson() const {
    auto pumps = PumpsJson()["pumps"];
    std::lock_guard lock(mutex_);
    auto lines = nlohmann::json::array();
    for (const auto& l : lines_) {
        const auto& c = link_.Counters(l->config.line);
        std::string device = l->config.device;
        if (l->config.tcp) device = "tcp://" + l->config.tcp->host + ":" + std::to_string(l->config.tcp->port);
        lines.push_back({{"line", l->config.line},
                         {"online", l->online},
                         {"device", device},
                         {"state", c.last_state.load()},
                         {"exchanges", c.exchanges.load()},
                         {"failures", c.failures.load()},
                         {"poll_ms", l->poll_ms}});
    }
    return {{"station", config_.station},
            {"emulator", config_.emulator},
            {"price_set", prices_.id},
            {"unpaid_limit", config_.unpaid_limit},
            {"lines", lines},
            {"pumps", pumps}};
}

std::vector<LineMetrics> Forecourt::Metrics() const {
    std::lock_guard lock(mutex_);
    std::vector<LineMetrics> metrics;
    for (const auto& l : lines_) {
        const auto& c = link_.Counters(l->config.line);
        metrics.push_back({l->config.line, l->online, c.exchanges.load(), c.failures.load(), l->poll_ms, l->cycles});
    }
    return metrics;
}

int Forecourt::LinesOnline() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count_if(lines_.begin(), lines_.end(), [](const auto& l) { return l->online; }));
}

void Forecourt::RefreshUnpaid() {
    auto unpaid = store_.Unpaid();
    {
        std::lock_guard lock(mutex_);
        unpaid_.swap(unpaid);
    }
    for (auto& p : pumps_) PublishPump(*p);
}

// Runs `command` on the pump's line thread; `done` hears at once a line that is offline or a
// caller over its share. `done` is never called under a lock: it may call back in.
void Forecourt::Post(int number, CommandClass type, const std::string& client, std::function<void(Pump&)> command, Done done) {
    Pump* pump = Find(number);
    if (!pump) return done(Outcome::Error(Outcome::Kind::kNotFound, "not_found", "no pump " + std::to_string(number)));
    Line& line = LineOf(*pump);
    bool online = false;
    {
        std::lock_guard lock(mutex_);
        online = line.online;
    }
    if (!online) return done(Outcome::Fail(Outcome::Kind::kOffline, "line " + std::to_string(line.config.line) + " does not answer"));
    std::optional<Outcome> refused;
    {
        std::lock_guard lock(line.queue_mutex);
        auto& queue = line.queues[static_cast<std::size_t>(type)];
        const auto mine = std::count_if(queue.begin(), queue.end(), [&](const Line::Queued& q) { return q.client == client; });
        if (!line.thread.joinable() || line.thread.get_stop_token().stop_requested())
            refused = Outcome::Fail(Outcome::Kind::kOffline, "the service is stopping");
        else if (type == CommandClass::kRead && (queue.size() >= kReadsPerLine || static_cast<std::size_t>(mine) >= kReadsPerClient))
            refused = Outcome::Error(Outcome::Kind::kBusy, "too_many_requests",
                                     "line " + std::to_string(line.config.line) + " has enough readings queued: ask again later");
        else if (type == CommandClass::kAuthorize && queue.size() >= line.pumps.size() + kSpareAuthorizations)
            refused = Outcome::Error(Outcome::Kind::kBusy, "too_many_requests",
                                     "line " + std::to_string(line.config.line) + " has enough authorizations queued: ask again later");
        else
            queue.push_back({[pump, command = std::move(command)] { command(*pump); }, done, client});
    }
    if (refused) return done(*refused);
    line.wake.notify_all();
}

void Forecourt::Authorize(int pump, AuthorizeRequest request, const std::string& client, Done done) {
    Post(pump, CommandClass::kAuthorize, client, [this, request, done](Pump& p) { done(DoAuthorize(p, request)); }, done);
}

void Forecourt::StopPump(int pump, Done done) {
    Post(pump, CommandClass::kStop, {}, [this, done](Pump& p) { done(DoStop(p)); }, done);
}

void Forecourt::Totals(int pump, const std::string& client, Done done) {
    Post(pump, CommandClass::kRead, client, [this, done](Pump& p) { done(DoTotals(p)); }, done);
}

void Forecourt::StopAll(Done done) {
    struct Gather {
        std::mutex mutex;
        std::size_t left = 0;
        nlohmann::json results = nlohmann::json::array();
        Done done;
    };
    auto gather = std::make_shared<Gather>();
    gather->left = pumps_.size();
    gather->done = std::move(done);
    if (pumps_.empty()) return gather->done(Outcome::Ok({{"results", nlohmann::json::array()}, {"pumps", nlohmann::json::array()}}));
    for (std::size_t i = 0; i < pumps_.size(); ++i) gather->results.push_back(nullptr);
    for (std::size_t i = 0; i < pumps_.size(); ++i) {
        const int number = pumps_[i]->config.pump;
        auto one = [this, gather, i, number](Outcome o) {
            nlohmann::json result = {{"pump", number}, {"stopped", o.kind == Outcome::Kind::kOk}};
            if (o.kind != Outcome::Kind::kOk) {
                result["error"] = o.error.empty() ? ErrorCode(o.kind) : o.error;
                result["message"] = o.message;
            }
            nlohmann::json results;
            {
                std::lock_guard lock(gather->mutex);
                gather->results[i] = std::move(result);
                if (--gather->left > 0) return;
                results = std::move(gather->results);
            }
            std::string failed;
            for (const auto& r : results)
                if (!r["stopped"].get<bool>()) failed += (failed.empty() ? "" : ", ") + std::to_string(r["pump"].get<int>());
            nlohmann::json body = {{"results", results}, {"pumps", PumpsJson()["pumps"]}};
            if (failed.empty()) return gather->done(Outcome::Ok(std::move(body)));
            Outcome incomplete = Outcome::Error(Outcome::Kind::kIncomplete, "stop_incomplete", "pumps not stopped: " + failed);
            incomplete.body = std::move(body);
            gather->done(std::move(incomplete));
        };
        Post(number, CommandClass::kStop, {}, [this, one](Pump& pump) { one(DoStop(pump)); }, one);
    }
}

Outcome Forecourt::DoAuthorize(Pump& pump, const AuthorizeRequest& request) {
    using K = Outcome::Kind;
    if (!LineOf(pump).online) return Outcome::Fail(K::kOffline, "line " + std::to_string(pump.config.line) + " does not answer");
    if (pump.sale)
        return Outcome::Error(K::kConflict, "pump_busy", "pump " + std::to_string(pump.config.pump) + " is " + pump.state + " (sale " +
                                                             std::to_string(pump.sale->id) + ")");
    if (pump.state == "fuelling" || pump.state == "authorized")
        return Outcome::Error(K::kConflict, "pump_busy", "pump " + std::to_string(pump.config.pump) + " is " + pump.state);
    int nozzle = 0;
    if (request.nozzle) {
        nozzle = *request.nozzle;
    } else {
        int lifted = 0;
        for (std::size_t i = 0; i < pump.codes.size(); ++i)
            if (ClassifyCode(pump.codes[i]) == NozzleCode::kLifted && pump.Nozzle(static_cast<int>(i) + 1)) {
                nozzle = static_cast<int>(i) + 1;
                ++lifted;
            }
        if (lifted != 1)
            return Outcome::Error(K::kConflict, "nozzle_not_lifted", "name the nozzle: " + std::to_string(lifted) + " nozzles are lifted");
    }
    const NozzleConfig* nc = pump.Nozzle(nozzle);
    if (!nc)
        return Outcome::Error(K::kConflict, "no_such_nozzle", "pump " + std::to_string(pump.config.pump) + " has no nozzle " + std::to_string(nozzle));
    Sale sale;
    {
        std::lock_guard lock(mutex_);
        const auto unpaid = unpaid_.find(pump.config.pump);
        if (unpaid != unpaid_.end() && unpaid->second >= config_.unpaid_limit)
            return Outcome::Fail(K::kUnpaidLimit, "pump " + std::to_string(pump.config.pump) + " holds " +
                                                      std::to_string(unpaid->second) + " unpaid sales");
        const GradePrice* g = prices_.Find(nc->grade);
        sale.price_cents = g ? g->price_cents : 0;
        sale.price_set = prices_.id;
    }
    // An amount goes to the pump as the litres it buys, and the dose holds 999.99 l at most.
    const std::int64_t most_cents = 1000 * sale.price_cents - 1;
    if (request.preset.kind == Preset::Kind::kAmount && request.preset.hundredths > most_cents)
        return Outcome::Error(K::kBadRequest, "preset_too_large",
                              "preset.amount buys more than the 999.99 l a dose holds at " + FormatHundredths(sale.price_cents) +
                                  ": at most " + FormatHundredths(most_cents));
    sale.pump = pump.config.pump;
    sale.nozzle = nozzle;
    sale.grade = nc->grade;
    sale.preset = request.preset;
    sale.started = UtcNow();
    const int line = pump.config.line, column = pump.config.column;
    const auto l8 = static_cast<std::uint8_t>(line);
    bool authorizing = false;       // from here on the pump may start, whatever the driver hears back
    int status = dorv::kLineAnswered;  // of the authorization; -1: the line failed under it
    try {
        sale.before = ReadTotals(pump, nozzle);
        if (!sale.before) return Outcome::Fail(K::kOffline, "pump " + std::to_string(pump.config.pump) + " does not answer");
        // Stored before the pump is told: whatever the pump then does is this sale's.
        sale.id = store_.OpenSale(sale);
        // Before the authorization nothing can start the pump: a price or preset it did not
        // take ends the sale here.
        auto refused = [&]() -> std::optional<Outcome> {
            const int got = driver_.GetLineStatus(l8);
            if (got == dorv::kLineAnswered) return std::nullopt;
            store_.VoidSale(sale.id);
            if (got >= 16) return Outcome::Fail(K::kRefused, RefusalText(got), got);
            return Outcome::Fail(K::kOffline, "pump " + std::to_string(pump.config.pump) + " does not answer");
        };
        driver_.SetPrice(line, column, nozzle, 0, Hundredths(sale.price_cents));
        if (auto r = refused()) return *r;
        if (sale.preset.kind == Preset::Kind::kVolume) driver_.PresetVolume(line, column, nozzle, 0, Hundredths(sale.preset.hundredths));
        if (sale.preset.kind == Preset::Kind::kAmount) driver_.PresetAmount(line, column, nozzle, 0, Hundredths(sale.preset.hundredths));
        if (auto r = refused()) return *r;
        authorizing = true;
        driver_.AuthorizeNozzle(line, column, nozzle, 0);
        status = driver_.GetLineStatus(l8);
    } catch (const dorv::ESerialIO& e) {
        if (!authorizing) {
            if (sale.id) store_.VoidSale(sale.id);
            return Outcome::Fail(K::kOffline, std::string("pump ") + std::to_string(pump.config.pump) + ": " + e.what());
        }
        status = -1;
    } catch (const dorv::Exception& e) {
        // The driver refused a value before sending it: nothing reached the pump.
        if (sale.id) store_.VoidSale(sale.id);
        return Outcome::Error(K::kBadRequest, "bad_request", std::string("pump ") + std::to_string(pump.config.pump) + ": " + e.what());
    }
    // A silence or a refusal here does not say the pump did not start: a start whose reply came
    // late is repeated by the link, and the pump, running already, refuses the repetition. The
    // sale stays open and is read from the totalizers; the next polls void it if the pump never
    // started, so every litre it delivers is this sale's.
    const bool unconfirmed = status != dorv::kLineAnswered;
    {
        std::lock_guard lock(mutex_);
        pump.sale = sale;
        pump.by_totals = unconfirmed;  // the driver may not know the filling it did not see start
        pump.stop_requested = false;
        pump.volume_cl = 0;
        pump.amount_cents = 0;
    }
    SetState(pump, "authorized", nozzle);
    if (unconfirmed) {
        const std::string open = "; sale " + std::to_string(sale.id) + " stays open until the pump shows whether it started";
        if (status >= 16) return Outcome::Fail(K::kRefused, RefusalText(status) + open, status);
        return Outcome::Fail(K::kOffline, "pump " + std::to_string(pump.config.pump) + " did not confirm the authorization" + open);
    }
    std::lock_guard lock(mutex_);
    return Outcome::Ok(PumpJsonLocked(pump));
}

Outcome Forecourt::DoStop(Pump& pump) {
    using K = Outcome::Kind;
    if (!LineOf(pump).online) return Outcome::Fail(K::kOffline, "line " + std::to_string(pump.config.line) + " does not answer");
    std::optional<int> nozzle = pump.sale ? std::optional<int>(pump.sale->nozzle) : std::nullopt;
    if (!nozzle && (pump.state == "fuelling" || pump.state == "authorized")) nozzle = pump.nozzle;
    if (nozzle) {
        const auto l8 = static_cast<std::uint8_t>(pump.config.line);
        try {
            const bool flowing = *nozzle <= static_cast<int>(pump.codes.size()) && Flowing(ClassifyCode(pump.codes[*nozzle - 1]));
            // A delivery is stopped and the poll closes it; an authorization is withdrawn.
            if (flowing) driver_.StopNozzle(pump.config.line, pump.config.column, *nozzle, 1);
            else driver_.StopAndRelease(pump.config.line, pump.config.column, *nozzle, 1);
            const int status = driver_.GetLineStatus(l8);
            if (status == 20) return Outcome::Fail(K::kRefused, RefusalText(status), status);
            if (status != dorv::kLineAnswered) return Outcome::Fail(K::kOffline, "pump " + std::to_string(pump.config.pump) + " does not answer");
        } catch (const dorv::Exception& e) {
            return Outcome::Fail(K::kOffline, std::string("pump ") + std::to_string(pump.config.pump) + ": " + e.what());
        }
        {
            std::lock_guard lock(mutex_);
            pump.stop_requested = true;
        }
        if (pump.sale) SetState(pump, "stopped", nozzle);
        PollPump(pump);
    }
    std::lock_guard lock(mutex_);
    return Outcome::Ok(PumpJsonLocked(pump));
}

Outcome Forecourt::DoTotals(Pump& pump) {
    auto nozzles = nlohmann::json::array();
    try {
        for (const auto& n : pump.config.nozzles) {
            const auto t = ReadTotals(pump, n.nozzle);
            if (!t) return Outcome::Fail(Outcome::Kind::kOffline, "pump " + std::to_string(pump.config.pump) + " does not answer");
            nozzles.push_back({{"nozzle", n.nozzle}, {"grade", n.grade}, {"volume", Hundredths(t->volume_cl)},
                               {"amount", Hundredths(t->amount_cents)}});
        }
    } catch (const dorv::Exception& e) {
        return Outcome::Fail(Outcome::Kind::kOffline, e.what());
    }
    return Outcome::Ok({{"pump", pump.config.pump}, {"nozzles", nozzles}});
}

PriceSet Forecourt::Prices() const {
    std::lock_guard lock(mutex_);
    return prices_;
}

Outcome Forecourt::SetPrices(const std::vector<std::pair<std::string, std::int64_t>>& changes) {
    // One change at a time: each builds on the board the one before it stored.
    std::lock_guard changing(price_change_mutex_);
    PriceSet next = Prices();
    for (const auto& change : changes) {
        const std::string& grade = change.first;
        auto it = std::find_if(next.grades.begin(), next.grades.end(), [&](const GradePrice& g) { return g.grade == grade; });
        if (it == next.grades.end()) return Outcome::Fail(Outcome::Kind::kBadRequest, "no grade " + grade);
        it->price_cents = change.second;
    }
    // Running fillings keep the price their sale was authorized with; new authorizations
    // send the new one to the pump.
    const PriceSet stored = store_.NewPriceSet(next.grades);
    {
        std::lock_guard lock(mutex_);
        prices_ = stored;
        hub_.Publish("prices", PriceSetJson(prices_));
    }
    for (auto& p : pumps_) PublishPump(*p);
    return Outcome::Ok(PriceSetJson(stored));
}

Outcome Forecourt::Lock(std::int64_t id, const std::string& holder) { return Settle(id, holder, Settlement::kLock); }

Outcome Forecourt::Clear(std::int64_t id, const std::string& holder) { return Settle(id, holder, Settlement::kClear); }

Outcome Forecourt::Unlock(std::int64_t id) { return Settle(id, {}, Settlement::kUnlock); }

Outcome Forecourt::Settle(std::int64_t id, const std::string& holder, Settlement step) {
    Sale sale;
    const std::string name = "sale " + std::to_string(id);
    const SaleChange change = step == Settlement::kLock    ? store_.Lock(id, holder, sale)
                              : step == Settlement::kClear ? store_.Clear(id, holder, sale)
                                                           : store_.Unlock(id, sale);
    switch (change) {
        case SaleChange::kNotFound: return Outcome::Fail(Outcome::Kind::kNotFound, "no " + name);
        case SaleChange::kAlreadyCleared: return Outcome::Error(Outcome::Kind::kConflict, "sale_cleared", name + " is already cleared");
        case SaleChange::kNotLocked: return Outcome::Error(Outcome::Kind::kConflict, "sale_not_locked", name + " must be locked first");
        case SaleChange::kLockedByOther: {
            Outcome o = Outcome::Error(Outcome::Kind::kConflict, "sale_locked", name + " is locked by " + sale.locked_by);
            o.body = {{"holder", sale.locked_by}};
            return o;
        }
        case SaleChange::kDone: break;
    }
    if (step == Settlement::kClear) RefreshUnpaid();
    hub_.Publish("sale", SaleJson(sale));
    return Outcome::Ok(SaleJson(sale));
}

Outcome Forecourt::MoveNozzle(int number, int nozzle, bool lift) {
    Pump* pump = Find(number);
    if (!pump) return Outcome::Fail(Outcome::Kind::kNotFound, "no pump " + std::to_string(number));
    const auto& control = LineOf(*pump).config.emulator;
    if (!control) return Outcome::Fail(Outcome::Kind::kNotFound, "line " + std::to_string(pump->config.line) + " is no emulator");
    if (!pump->Nozzle(nozzle))
        return Outcome::Error(Outcome::Kind::kConflict, "no_such_nozzle", "pump " + std::to_string(number) + " has no nozzle " + std::to_string(nozzle));
    const int address = NozzleAddress(config_, pump->config, nozzle);
    try {
        const std::string answer = EmulatorCommand(*control, std::string(lift ? "lift " : "hang ") + std::to_string(address));
        if (answer.rfind("ok", 0) != 0) return Outcome::Error(Outcome::Kind::kConflict, "emulator_refused", "emulator: " + answer);
    } catch (const std::exception& e) {
        return Outcome::Fail(Outcome::Kind::kOffline, e.what());
    }
    return Outcome::Ok({{"pump", number}, {"nozzle", nozzle}, {"lifted", lift}});
}

}  // namespace forecourt
