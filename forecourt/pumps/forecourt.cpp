#include "forecourt.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <future>
#include <spdlog/spdlog.h>

#include "emulator_control.h"
#include "pump_machine.h"
#include "events/event_hub.h"
#include "store/store.h"

namespace forecourt {

// Fields written by the line's thread under mutex_; read by anyone under mutex_.
struct Forecourt::Pump {
    PumpConfig config;
    std::size_t line = 0;
    PumpState state = PumpState::kOffline;
    std::optional<int> nozzle;
    std::int64_t volume_cl = 0;
    std::int64_t amount_cents = 0;
    std::optional<int> code;
    std::string since = UtcNow();
    std::optional<Sale> sale;    // the open sale: authorized, fuelling or stopped
    std::int64_t last_sale = 0;  // the last finished one
    bool by_totals = false;      // read the sale from the totalizers: the driver's current nozzle is not known
    bool stop_requested = false;
    std::vector<NozzleReading> codes;  // the last poll, nozzle n at n - 1
    PumpControl control;               // closed, attendant mode: what a manager set
    std::optional<std::string> alarm;  // since when the nozzle stayed out after its sale
    // What it showed before its line went silent.
    PumpState before_offline = PumpState::kOffline;
    // When the timeouts started: the open sale's authorization, its last delivered litre, the
    // last sale's end; and when an attendant authorization last failed.
    using Clock = std::chrono::steady_clock;
    Clock::time_point authorized_at = Clock::now(), flowed_at = Clock::now(), finished_at = Clock::now();
    Clock::time_point attendant_failed_at;
    nlohmann::json published;
    ViewCell view;  // `published`, serialized

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
    std::unique_ptr<Dispenser> dispenser;
    std::vector<Pump*> pumps;
    std::atomic<bool> online{false};  // written under mutex_
    int misses = 0;                   // line thread only
    std::atomic<double> poll_ms{0};
    std::atomic<std::uint64_t> cycles{0};
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

    bool Idle() const {
        return std::all_of(queues.begin(), queues.end(), [](const auto& q) { return q.empty(); });
    }
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

// Price changes that may wait at once: each goes out with every prices event.
constexpr std::size_t kMaxPendingPrices = 100;

// Milliseconds from now until `utc` (the store's UTC text); 0 when it has passed.
std::chrono::milliseconds Until(const std::string& utc) {
    std::tm tm{};
    int millis = 0;
    if (std::sscanf(utc.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3dZ", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour, &tm.tm_min, &tm.tm_sec,
                    &millis) != 7)
        return std::chrono::milliseconds(0);
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    const std::chrono::milliseconds at(static_cast<std::int64_t>(::timegm(&tm)) * 1000 + millis);
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch());
    return std::max(at - now, std::chrono::milliseconds(0));
}

}  // namespace

Forecourt::Forecourt(const Config& config, Store& store, EventHub& hub, const DispenserFactory& dispensers)
    : config_(config), store_(store), hub_(hub) {
    std::vector<GradePrice> initial;
    for (const auto& g : config_.grades) initial.push_back({g.id, g.name, g.price_cents});
    prices_ = store_.Prices(initial);
    for (const auto& g : config_.grades)
        if (!prices_.Find(g.id)) prices_.grades.push_back({g.id, g.name, g.price_cents});
    for (const auto& lc : config_.lines) {
        auto line = std::make_unique<Line>();
        line->config = lc;
        line->dispenser = dispensers(lc);
        lines_.push_back(std::move(line));
    }
    for (const auto& pc : config_.pumps) {
        auto pump = std::make_unique<Pump>();
        pump->config = pc;
        for (std::size_t i = 0; i < lines_.size(); ++i)
            if (lines_[i]->config.line == pc.line) pump->line = i;
        pump->codes.assign(static_cast<std::size_t>(pump->NozzleCount()), NozzleReading{});
        lines_[pump->line]->pumps.push_back(pump.get());
        pumps_.push_back(std::move(pump));
    }
    // What was authorized or fuelling when the service stopped is taken up again; the
    // driver is new and does not know which nozzle each column last started, so those
    // sales are read from the totalizers.
    for (auto& sale : store_.OpenSales()) {
        Pump* pump = Find(sale.pump);
        if (!pump) continue;
        // Never two open sales on one pump; a prepay never goes void, it is refunded whole.
        if (pump->sale && pump->sale->prepaid_cents)
            store_.FinishSale(pump->sale->id, 0, 0, std::nullopt, true);
        else if (pump->sale)
            store_.VoidSale(pump->sale->id);
        sale.reconciled = true;
        pump->sale = sale;
        pump->by_totals = true;
    }
    for (const auto& [number, control] : store_.PumpControls())
        if (Pump* pump = Find(number)) pump->control = control;
    emergency_ = store_.EmergencyStop();
    unpaid_ = store_.Unpaid();
    price_set_id_ = prices_.id;
    pending_prices_ = store_.PendingPriceSets();
    std::lock_guard lock(mutex_);
    for (auto& p : pumps_) p->view.store(std::make_shared<const std::string>(PumpJsonLocked(*p).dump()));
    StoreListLocked();
}

Forecourt::~Forecourt() { Stop(); }

void Forecourt::Start() {
    // Changes whose time passed while the service was down take effect here, before any poll
    // or request.
    if (!price_timer_.joinable()) {
        ApplyDuePrices();
        price_timer_ = std::jthread([this](std::stop_token stop) { PriceTimer(stop); });
    }
    for (auto& line : lines_) {
        Line* l = line.get();
        l->thread = std::jthread([this, l](std::stop_token stop) { Loop(*l, stop); });
    }
}

void Forecourt::Stop() {
    if (price_timer_.joinable()) {
        price_timer_.request_stop();
        price_timer_.join();
    }
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
            spdlog::error("event=store_failed line={} reason=\"{}\"", line.config.line, e.what());
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
            spdlog::error("event=store_failed line={} reason=\"{}\"", line.config.line, e.what());
        }
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        line.poll_ms = ms;
        ++line.cycles;
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
        line.dispenser->Open();
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
    if (online)
        spdlog::info("event=line_online line={}", line.config.line);
    else
        spdlog::warn("event=line_offline line={}", line.config.line);
    PumpObservation silent;
    silent.online = false;
    for (Pump* pump : line.pumps) {
        if (online) {
            PollPump(*pump);
            continue;
        }
        const PumpStep step = Step(pump->state, pump->nozzle, silent);
        SetState(*pump, step.state, step.nozzle);
    }
}

bool Forecourt::PollPump(Pump& pump) {
    const auto codes = LineOf(pump).dispenser->Poll(pump.config.column, pump.NozzleCount());
    if (!codes) return false;
    if (!LineOf(pump).online) return true;  // the line comes back: SetOnline polls again
    Track(pump, *codes);
    return true;
}

// Moves the pump's state on from one poll's nozzle codes.
void Forecourt::Track(Pump& pump, const std::vector<NozzleReading>& codes) {
    pump.codes = codes;
    PumpObservation seen;
    for (std::size_t i = 0; i < codes.size(); ++i)
        seen.codes.push_back(pump.Nozzle(static_cast<int>(i) + 1) ? codes[i].code : NozzleCode::kOther);
    if (pump.sale) seen.sale = pump.sale->nozzle;
    seen.by_totals = pump.by_totals;
    seen.stop_requested = pump.stop_requested;
    seen.before_offline = pump.before_offline;
    const auto now = Pump::Clock::now();
    const auto past = [&](Pump::Clock::time_point since, int seconds) {
        return seconds > 0 && now - since >= std::chrono::seconds(seconds);
    };
    const Timeouts& timeouts = config_.timeouts;
    {
        std::lock_guard lock(mutex_);
        seen.attendant = pump.control.attendant;
        const auto unpaid = unpaid_.find(pump.config.pump);
        // A failed attendant authorization is tried again after a pause, not at every poll.
        seen.may_authorize = !BlockedLocked(pump) && (unpaid == unpaid_.end() || unpaid->second < config_.unpaid_limit) &&
                             now - pump.attendant_failed_at >= std::chrono::seconds(2);
        seen.nozzle_out_expired = !pump.alarm && past(pump.finished_at, timeouts.nozzle_out_seconds);
    }
    seen.authorize_expired = pump.sale && past(pump.authorized_at, timeouts.authorize_seconds);
    seen.no_flow_expired = pump.sale && past(pump.flowed_at, timeouts.no_flow_seconds);
    const PumpStep step = Step(pump.state, pump.nozzle, seen);
    switch (step.action) {
        case PumpAction::kRelease: {
            // Nothing was delivered: the authorization is withdrawn and the sale voided, so the
            // pump calls again.
            const std::int64_t sale = pump.sale->id;
            const bool timed_out = !pump.by_totals;
            if (!LineOf(pump).dispenser->Release(pump.config.column, pump.sale->nozzle)) return;
            if (timed_out) PublishTimeout(pump, "authorize", sale);
            return Finalize(pump);
        }
        case PumpAction::kFinalize: return Finalize(pump);
        case PumpAction::kReadFilling:
            if (auto reading = ReadFilling(pump)) {
                std::lock_guard lock(mutex_);
                if (reading->first != pump.volume_cl) pump.flowed_at = now;
                pump.volume_cl = reading->first;
                pump.amount_cents = reading->second;
            }
            break;
        case PumpAction::kStopFilling: {
            const std::int64_t sale = pump.sale->id;
            const Outcome stopped = DoStop(pump);
            if (stopped.kind != Outcome::Kind::kOk) {
                spdlog::warn("event=no_flow_stop_failed pump={} reason=\"{}\"", pump.config.pump, stopped.message);
                return;
            }
            PublishTimeout(pump, "no_flow", sale);
            return;
        }
        case PumpAction::kAuthorize: {
            SetState(pump, step.state, step.nozzle);
            AuthorizeRequest request;
            request.nozzle = step.nozzle;
            const Outcome authorized = DoAuthorize(pump, request);
            if (authorized.kind != Outcome::Kind::kOk) {
                std::lock_guard lock(mutex_);
                pump.attendant_failed_at = now;
                spdlog::warn("event=attendant_authorize_failed pump={} reason=\"{}\"", pump.config.pump, authorized.message);
            }
            return;
        }
        case PumpAction::kAlarm: {
            {
                std::lock_guard lock(mutex_);
                pump.alarm = UtcNow();
            }
            // The pump's view shows the alarm before the event says so: a client that reads the
            // pump on hearing it finds it there.
            PublishPump(pump);
            PublishTimeout(pump, "nozzle_out", pump.last_sale ? std::optional(pump.last_sale) : std::nullopt);
            break;
        }
        case PumpAction::kNone: break;
    }
    SetState(pump, step.state, step.nozzle);
}

std::optional<Totalizer> Forecourt::ReadTotals(Pump& pump, int nozzle) {
    return LineOf(pump).dispenser->Totals(pump.config.column, nozzle);
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
    const auto filling = LineOf(pump).dispenser->Filling(pump.config.column);
    if (!filling) return std::nullopt;
    return std::pair{filling->volume_cl, filling->amount_cents};
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
    // A prepay that delivered nothing stays a sale: its whole prepay is to be refunded.
    if (volume > 0 || sale.prepaid_cents)
        finished = store_.FinishSale(sale.id, volume, volume > 0 ? amount : 0, after, sale.reconciled);
    else
        store_.VoidSale(sale.id);
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
        SetState(pump, PumpState::kFinished, finished->nozzle);
    }
    Track(pump, pump.codes);
}

void Forecourt::SetState(Pump& pump, PumpState state, std::optional<int> nozzle) {
    {
        std::lock_guard lock(mutex_);
        if (pump.state != state) {
            pump.since = UtcNow();
            if (state == PumpState::kOffline) pump.before_offline = pump.state;
            if (state == PumpState::kFinished) pump.finished_at = Pump::Clock::now();
            if (pump.state == PumpState::kFinished) pump.alarm.reset();  // the nozzle is back, or another is in use
        }
        pump.state = state;
        pump.nozzle = nozzle;
        pump.code =
            nozzle && *nozzle <= static_cast<int>(pump.codes.size()) ? std::optional<int>(pump.codes[*nozzle - 1].raw) : std::nullopt;
    }
    PublishPump(pump);
}

void Forecourt::PublishPump(Pump& pump, bool list) {
    std::lock_guard lock(mutex_);
    auto json = PumpJsonLocked(pump);
    if (json == pump.published) return;
    auto text = std::make_shared<const std::string>(json.dump());
    pump.view.store(text);
    pump.published = json;
    hub_.Publish("pump", std::move(json), *text);
    if (list) StoreListLocked();
}

void Forecourt::StoreListLocked() {
    std::string text = "{\"pumps\":[";
    for (std::size_t i = 0; i < pumps_.size(); ++i) {
        if (i) text += ',';
        text += *pumps_[i]->view.load();
    }
    text += "]}";
    pumps_view_.store(std::make_shared<const std::string>(std::move(text)));
}

Forecourt::View Forecourt::PumpsView() const { return pumps_view_.load(); }

Forecourt::View Forecourt::PumpView(int number) const {
    for (const auto& p : pumps_)
        if (p->config.pump == number) return p->view.load();
    return nullptr;
}

std::string Forecourt::ForecourtText(const nlohmann::json& extra) const {
    auto lines = nlohmann::json::array();
    for (const auto& l : lines_) {
        const LineHealth c = l->dispenser->Health();
        std::string device = l->config.device;
        if (l->config.tcp) device = "tcp://" + l->config.tcp->host + ":" + std::to_string(l->config.tcp->port);
        lines.push_back({{"line", l->config.line},
                         {"online", l->online.load()},
                         {"device", device},
                         {"state", c.state},
                         {"exchanges", c.exchanges},
                         {"failures", c.failures},
                         {"poll_ms", l->poll_ms.load()}});
    }
    nlohmann::json head = {{"station", config_.station},
                           {"emulator", config_.emulator},
                           {"price_set", price_set_id_.load()},
                           {"unpaid_limit", config_.unpaid_limit},
                           {"lines", lines}};
    {
        std::lock_guard lock(mutex_);
        head["emergency_stop"] = ClosureJson(emergency_);
    }
    head.update(extra);
    // The pumps go in as the bytes their views hold.
    std::string text = head.dump();
    text.pop_back();
    // The list's view is {"pumps":[...]}: its array goes in.
    const View list = pumps_view_.load();
    constexpr std::size_t kOpen = sizeof("{\"pumps\":") - 1;
    return text + ",\"pumps\":" + list->substr(kOpen, list->size() - kOpen - 1) + "}";
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
            {"state", StateName(p.state)},
            {"nozzle", p.nozzle ? nlohmann::json(*p.nozzle) : nlohmann::json(nullptr)},
            {"grade", grade},
            {"volume", Hundredths(p.volume_cl)},
            {"amount", Hundredths(p.amount_cents)},
            {"price", price},
            {"preset", PresetJson(preset)},
            {"sale", sale},
            {"prepaid", p.sale && p.sale->prepaid_cents ? nlohmann::json(Hundredths(*p.sale->prepaid_cents)) : nlohmann::json(nullptr)},
            {"price_set", price_set},
            {"unpaid", unpaid == unpaid_.end() ? 0 : unpaid->second},
            {"nozzles", nozzles},
            {"since", p.since},
            {"code", p.code ? nlohmann::json(*p.code) : nlohmann::json(nullptr)},
            {"closed", ClosureJson(p.control.closed)},
            {"mode", p.control.attendant ? "attendant" : "pos"},
            {"alarm", p.alarm ? nlohmann::json{{"alarm", "nozzle_out"}, {"since", *p.alarm}} : nlohmann::json(nullptr)}};
}

nlohmann::json Forecourt::LineJsonLocked(const Line& line) const {
    const LineHealth c = line.dispenser->Health();
    return {{"line", line.config.line}, {"online", line.online.load()}, {"state", c.state}, {"failures", c.failures}};
}

nlohmann::json Forecourt::PumpsJson() const {
    std::lock_guard lock(mutex_);
    auto pumps = nlohmann::json::array();
    for (const auto& p : pumps_) pumps.push_back(PumpJsonLocked(*p));
    return {{"pumps", pumps}};
}

std::vector<LineMetrics> Forecourt::Metrics() const {
    std::lock_guard lock(mutex_);
    std::vector<LineMetrics> metrics;
    for (const auto& l : lines_) {
        const LineHealth c = l->dispenser->Health();
        metrics.push_back({l->config.line, l->online.load(), c.exchanges, c.failures, l->poll_ms.load(), l->cycles.load()});
    }
    return metrics;
}

int Forecourt::LinesOnline() const {
    return static_cast<int>(std::count_if(lines_.begin(), lines_.end(), [](const auto& l) { return l->online.load(); }));
}

void Forecourt::RefreshUnpaid() {
    auto unpaid = store_.Unpaid();
    {
        std::lock_guard lock(mutex_);
        unpaid_.swap(unpaid);
    }
    for (auto& p : pumps_) PublishPump(*p, false);
    std::lock_guard lock(mutex_);
    StoreListLocked();
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
    Post(
        pump, CommandClass::kAuthorize, client, [this, request, done](Pump& p) { done(DoAuthorize(p, request)); }, done);
}

void Forecourt::StopPump(int pump, Done done) {
    Post(
        pump, CommandClass::kStop, {}, [this, done](Pump& p) { done(DoStop(p)); }, done);
}

void Forecourt::Totals(int pump, const std::string& client, Done done) {
    Post(
        pump, CommandClass::kRead, client, [this, done](Pump& p) { done(DoTotals(p)); }, done);
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
        Post(
            number, CommandClass::kStop, {}, [this, one](Pump& pump) { one(DoStop(pump)); }, one);
    }
}

Outcome Forecourt::DoAuthorize(Pump& pump, const AuthorizeRequest& request, const Sale* moved) {
    using K = Outcome::Kind;
    if (!LineOf(pump).online) return Outcome::Fail(K::kOffline, "line " + std::to_string(pump.config.line) + " does not answer");
    {
        std::lock_guard lock(mutex_);
        if (auto blocked = BlockedLocked(pump)) return *blocked;
    }
    if (pump.sale)
        return Outcome::Error(
            K::kConflict, "pump_busy",
            "pump " + std::to_string(pump.config.pump) + " is " + StateName(pump.state) + " (sale " + std::to_string(pump.sale->id) + ")");
    if (pump.state == PumpState::kFuelling || pump.state == PumpState::kAuthorized)
        return Outcome::Error(K::kConflict, "pump_busy", "pump " + std::to_string(pump.config.pump) + " is " + StateName(pump.state));
    int nozzle = 0;
    if (request.nozzle) {
        nozzle = *request.nozzle;
    } else {
        int lifted = 0;
        for (std::size_t i = 0; i < pump.codes.size(); ++i)
            if (pump.codes[i].code == NozzleCode::kLifted && pump.Nozzle(static_cast<int>(i) + 1)) {
                nozzle = static_cast<int>(i) + 1;
                ++lifted;
            }
        if (lifted != 1)
            return Outcome::Error(K::kConflict, "nozzle_not_lifted", "name the nozzle: " + std::to_string(lifted) + " nozzles are lifted");
    }
    const NozzleConfig* nc = pump.Nozzle(nozzle);
    if (!nc)
        return Outcome::Error(K::kConflict, "no_such_nozzle",
                              "pump " + std::to_string(pump.config.pump) + " has no nozzle " + std::to_string(nozzle));
    Sale sale;
    if (moved) sale = *moved;
    if (request.prepay) {
        sale.preset = {Preset::Kind::kAmount, *request.prepay};
        sale.prepaid_cents = request.prepay;
    } else {
        sale.preset = request.preset;
    }
    {
        std::lock_guard lock(mutex_);
        const auto unpaid = unpaid_.find(pump.config.pump);
        // A prepaid customer cannot drive off: the limit holds postpaid fillings only.
        if (!request.prepay && unpaid != unpaid_.end() && unpaid->second >= config_.unpaid_limit)
            return Outcome::Fail(K::kUnpaidLimit,
                                 "pump " + std::to_string(pump.config.pump) + " holds " + std::to_string(unpaid->second) + " unpaid sales");
        const GradePrice* g = prices_.Find(nc->grade);
        sale.price_cents = g ? g->price_cents : 0;
        sale.price_set = prices_.id;
    }
    // An amount goes to the pump as the litres it buys, and the dose holds 999.99 l at most.
    const std::int64_t most_cents = 1000 * sale.price_cents - 1;
    if (sale.preset.kind == Preset::Kind::kAmount && sale.preset.hundredths > most_cents)
        return Outcome::Error(K::kBadRequest, "preset_too_large",
                              "preset.amount buys more than the 999.99 l a dose holds at " + FormatHundredths(sale.price_cents) +
                                  ": at most " + FormatHundredths(most_cents));
    sale.pump = pump.config.pump;
    sale.nozzle = nozzle;
    sale.grade = nc->grade;
    if (!moved) sale.started = UtcNow();
    const std::string name = "pump " + std::to_string(pump.config.pump);
    sale.before = ReadTotals(pump, nozzle);
    if (!sale.before) return Outcome::Fail(K::kOffline, name + " does not answer");
    // Stored before the pump is told: whatever the pump then does is this sale's.
    if (moved)
        store_.MoveSale(sale);
    else
        sale.id = store_.OpenSale(sale);
    bool sent = false;  // from here on the pump may start, whatever the controller answered
    const Reply reply = LineOf(pump).dispenser->Authorize(pump.config.column, nozzle, sale.price_cents, sale.preset, sent);
    if (!sent && !reply.Ok()) {
        // Before the authorization nothing can start the pump: the sale ends here (a moved
        // prepay is refunded by the move).
        if (!moved) store_.VoidSale(sale.id);
        if (reply.kind == Reply::Kind::kRefused) return Outcome::Fail(K::kRefused, reply.message, reply.code);
        if (reply.kind == Reply::Kind::kInvalid) return Outcome::Error(K::kBadRequest, "bad_request", name + ": " + reply.message);
        return Outcome::Fail(K::kOffline, reply.message.empty() ? name + " does not answer" : name + ": " + reply.message);
    }
    // A silence or a refusal here does not say the pump did not start: a start whose reply came
    // late is repeated by the link, and the pump, running already, refuses the repetition. The
    // sale stays open and is read from the totalizers; the next polls void it if the pump never
    // started, so every litre it delivers is this sale's.
    const bool unconfirmed = !reply.Ok();
    {
        std::lock_guard lock(mutex_);
        pump.sale = sale;
        pump.by_totals = unconfirmed;  // the dispenser may not know the filling it did not see start
        pump.stop_requested = false;
        pump.volume_cl = 0;
        pump.amount_cents = 0;
        pump.authorized_at = pump.flowed_at = Pump::Clock::now();
    }
    SetState(pump, PumpState::kAuthorized, nozzle);
    if (unconfirmed) {
        const std::string open = "; sale " + std::to_string(sale.id) + " stays open until the pump shows whether it started";
        if (reply.kind == Reply::Kind::kRefused) return Outcome::Fail(K::kRefused, reply.message + open, reply.code);
        return Outcome::Fail(K::kOffline, name + " did not confirm the authorization" + open);
    }
    std::lock_guard lock(mutex_);
    return Outcome::Ok(PumpJsonLocked(pump));
}

int Forecourt::PumpOfSale(std::int64_t id) const {
    std::lock_guard lock(mutex_);
    for (const auto& p : pumps_)
        if (p->sale && p->sale->id == id) return p->config.pump;
    return 0;
}

void Forecourt::Refund(std::int64_t id) {
    const auto open = store_.Find(id);
    if (!open || open->state != "open") return;
    const Sale sale = store_.FinishSale(id, 0, 0, std::nullopt, false);
    RefreshUnpaid();
    hub_.Publish("sale", SaleJson(sale));
}

Outcome Forecourt::Withdraw(Pump& pump, std::int64_t id) {
    using K = Outcome::Kind;
    const std::string name = "pump " + std::to_string(pump.config.pump);
    if (!LineOf(pump).online) return Outcome::Fail(K::kOffline, "line " + std::to_string(pump.config.line) + " does not answer");
    if (!pump.sale || pump.sale->id != id)
        return Outcome::Error(K::kConflict, "sale_started", "sale " + std::to_string(id) + " no longer waits on " + name);
    const int n = pump.sale->nozzle;
    // Asked now: the last poll may predate the authorization, or the customer's hand.
    const auto codes = LineOf(pump).dispenser->Poll(pump.config.column, pump.NozzleCount());
    if (!codes) return Outcome::Fail(K::kOffline, name + " does not answer");
    const NozzleCode code = n <= static_cast<int>(codes->size()) ? (*codes)[n - 1].code : NozzleCode::kOther;
    // A sale read from the totalizers (taken up after a restart, or its start unconfirmed): the
    // totalizer tells whether anything went out since the authorization.
    bool delivered = false;
    if (pump.by_totals) {
        const auto now = ReadTotals(pump, n);
        if (!now) return Outcome::Fail(K::kOffline, name + " does not answer");
        delivered = !pump.sale->before || now->volume_cl != pump.sale->before->volume_cl;
    }
    // Once the customer fuels the prepay is theirs at this pump. The controller shows a lifted
    // nozzle of a started pump only as it delivers: started, nothing out yet, is still withdrawn.
    if (delivered || !(Started(code) || code == NozzleCode::kHung))
        return Outcome::Error(K::kConflict, "sale_started", name + ": the nozzle of sale " + std::to_string(id) + " is lifted or fuelling");
    if (!LineOf(pump).dispenser->Release(pump.config.column, n)) return Outcome::Fail(K::kOffline, name + " does not answer");
    return Outcome::Ok(nullptr);
}

Outcome Forecourt::DoCancel(Pump& pump, std::int64_t id) {
    using K = Outcome::Kind;
    if (Outcome withdrawn = Withdraw(pump, id); withdrawn.kind != K::kOk) return withdrawn;
    // The nozzle back in its holder: this poll closes the sale, delivering nothing, as a full refund.
    const bool answered = PollPump(pump);
    if (PumpOfSale(id) == pump.config.pump) {
        const std::string left = "; sale " + std::to_string(id) + " ends with what the pump shows next";
        if (!answered) return Outcome::Fail(K::kOffline, "pump " + std::to_string(pump.config.pump) + " does not answer" + left);
        return Outcome::Error(K::kConflict, "sale_started", "the customer lifted the nozzle first" + left);
    }
    const auto sale = store_.Find(id);
    if (!sale) return Outcome::Fail(K::kNotFound, "no sale " + std::to_string(id));
    return Outcome::Ok(SaleJson(*sale));
}

void Forecourt::Cancel(std::int64_t id, Done done) {
    using K = Outcome::Kind;
    const int pump = PumpOfSale(id);
    const auto sale = store_.Find(id);
    if (!sale || sale->state == "void") return done(Outcome::Fail(K::kNotFound, "no sale " + std::to_string(id)));
    if (!sale->prepaid_cents) return done(Outcome::Error(K::kConflict, "not_prepaid", "sale " + std::to_string(id) + " is no prepay"));
    if (!pump) return done(Outcome::Error(K::kConflict, "sale_started", "sale " + std::to_string(id) + " waits on no pump"));
    Post(
        pump, CommandClass::kStop, {}, [this, id, done](Pump& p) { done(DoCancel(p, id)); }, done);
}

void Forecourt::Move(std::int64_t id, int to, std::optional<int> nozzle, const std::string& client, Done done) {
    using K = Outcome::Kind;
    const std::string name = "sale " + std::to_string(id);
    const int from = PumpOfSale(id);
    const auto sale = store_.Find(id);
    if (!sale || sale->state == "void") return done(Outcome::Fail(K::kNotFound, "no " + name));
    if (!sale->prepaid_cents) return done(Outcome::Error(K::kConflict, "not_prepaid", name + " is no prepay"));
    if (!from) return done(Outcome::Error(K::kConflict, "sale_started", name + " waits on no pump"));
    Pump* target = Find(to);
    if (!target) return done(Outcome::Error(K::kNotFound, "not_found", "no pump " + std::to_string(to)));
    if (to == from) return done(Outcome::Error(K::kBadRequest, "bad_request", name + " is on pump " + std::to_string(to) + " already"));
    if (!nozzle)
        for (const auto& n : target->config.nozzles)
            if (n.grade == sale->grade) nozzle = n.nozzle;
    if (!nozzle || !target->Nozzle(*nozzle))
        return done(Outcome::Error(K::kConflict, "no_such_nozzle", "pump " + std::to_string(to) + " has no such nozzle for " + name));
    {
        // Refused before the first pump lets go of it, where the second is plainly taken.
        std::lock_guard lock(mutex_);
        if (target->sale || target->state == PumpState::kFuelling || target->state == PumpState::kAuthorized)
            return done(Outcome::Error(K::kConflict, "pump_busy", "pump " + std::to_string(to) + " is " + StateName(target->state)));
    }
    // The second pump's answer; a prepay that no pump holds any more is refunded whole.
    Done settled = [this, id, done](Outcome o) {
        if (o.kind != K::kOk && PumpOfSale(id) == 0) {
            Refund(id);
            o.message += "; sale " + std::to_string(id) + " ends with its prepay refunded";
        }
        done(std::move(o));
    };
    AuthorizeRequest request{nozzle, {}, sale->prepaid_cents};
    Post(
        from, CommandClass::kAuthorize, client,
        [this, id, to, request, client, done, settled](Pump& p) {
            if (Outcome withdrawn = Withdraw(p, id); withdrawn.kind != K::kOk) return done(withdrawn);
            const auto codes = LineOf(p).dispenser->Poll(p.config.column, p.NozzleCount());
            // Withdrawn but not seen to be: the sale stays with its pump and the polls close it.
            if (!codes) return done(Outcome::Fail(K::kOffline, "pump " + std::to_string(p.config.pump) + " does not answer"));
            const NozzleCode code =
                p.sale->nozzle <= static_cast<int>(codes->size()) ? (*codes)[p.sale->nozzle - 1].code : NozzleCode::kOther;
            if (Started(code) || Flowing(code)) {
                Track(p, *codes);
                return done(Outcome::Error(K::kConflict, "sale_started", "the customer lifted the nozzle first"));
            }
            const Sale moved = *p.sale;
            {
                std::lock_guard lock(mutex_);
                p.sale.reset();
                p.by_totals = false;
                p.stop_requested = false;
            }
            Track(p, *codes);
            Post(
                to, CommandClass::kAuthorize, client,
                [this, request, moved, settled](Pump& q) { settled(DoAuthorize(q, request, &moved)); }, settled);
        },
        done);
}

Outcome Forecourt::DoStop(Pump& pump) {
    using K = Outcome::Kind;
    if (!LineOf(pump).online) return Outcome::Fail(K::kOffline, "line " + std::to_string(pump.config.line) + " does not answer");
    std::optional<int> nozzle = pump.sale ? std::optional<int>(pump.sale->nozzle) : std::nullopt;
    if (!nozzle && (pump.state == PumpState::kFuelling || pump.state == PumpState::kAuthorized)) nozzle = pump.nozzle;
    if (nozzle) {
        const std::string name = "pump " + std::to_string(pump.config.pump);
        // A delivery is stopped and the poll closes it; an authorization is withdrawn.
        const bool flowing = *nozzle <= static_cast<int>(pump.codes.size()) && Flowing(pump.codes[*nozzle - 1].code);
        const Reply reply = LineOf(pump).dispenser->Stop(pump.config.column, *nozzle, flowing);
        if (reply.kind == Reply::Kind::kRefused) return Outcome::Fail(K::kRefused, reply.message, reply.code);
        if (!reply.Ok()) return Outcome::Fail(K::kOffline, reply.message.empty() ? name + " does not answer" : name + ": " + reply.message);
        {
            std::lock_guard lock(mutex_);
            pump.stop_requested = true;
        }
        if (pump.sale) SetState(pump, PumpState::kStopped, nozzle);
        PollPump(pump);
    }
    std::lock_guard lock(mutex_);
    return Outcome::Ok(PumpJsonLocked(pump));
}

Outcome Forecourt::DoTotals(Pump& pump) {
    auto nozzles = nlohmann::json::array();
    for (const auto& n : pump.config.nozzles) {
        const auto t = ReadTotals(pump, n.nozzle);
        if (!t) return Outcome::Fail(Outcome::Kind::kOffline, "pump " + std::to_string(pump.config.pump) + " does not answer");
        nozzles.push_back(
            {{"nozzle", n.nozzle}, {"grade", n.grade}, {"volume", Hundredths(t->volume_cl)}, {"amount", Hundredths(t->amount_cents)}});
    }
    return Outcome::Ok({{"pump", pump.config.pump}, {"nozzles", nozzles}});
}

PriceSet Forecourt::Prices() const {
    std::lock_guard lock(mutex_);
    return prices_;
}

nlohmann::json Forecourt::PricesJson() const {
    std::lock_guard lock(mutex_);
    return PricesJsonLocked();
}

nlohmann::json Forecourt::PricesJsonLocked() const {
    nlohmann::json body = PriceSetJson(prices_);
    body["pending"] = nlohmann::json::array();
    for (const auto& p : pending_prices_) body["pending"].push_back(PendingPricesJson(p));
    return body;
}

Outcome Forecourt::SetPrices(const std::vector<std::pair<std::string, std::int64_t>>& changes, AuditNote* audit) {
    return ChangePrices(changes, 0, audit);
}

Outcome Forecourt::ChangePrices(const std::vector<std::pair<std::string, std::int64_t>>& changes, std::int64_t pending, AuditNote* audit) {
    // One change at a time: each builds on the board the one before it stored.
    std::lock_guard changing(price_change_mutex_);
    PriceSet next = Prices();
    for (const auto& change : changes) {
        const std::string& grade = change.first;
        auto it = std::find_if(next.grades.begin(), next.grades.end(), [&](const GradePrice& g) { return g.grade == grade; });
        if (it == next.grades.end() && pending) continue;
        if (it == next.grades.end()) return Outcome::Fail(Outcome::Kind::kBadRequest, "no grade " + grade);
        it->price_cents = change.second;
    }
    // Running fillings keep the price their sale was authorized with; new authorizations
    // send the new one to the pump.
    std::optional<PriceSet> stored;
    nlohmann::json body;
    if (pending)
        stored = store_.ApplyPendingPrices(pending, next.grades);
    else
        stored = store_.NewPriceSet(next.grades, audit);
    {
        std::lock_guard lock(mutex_);
        std::erase_if(pending_prices_, [&](const PendingPrices& p) { return pending && p.id == pending; });
        ++pending_changes_;
        if (!stored) return Outcome::Fail(Outcome::Kind::kNotFound, "no pending price set " + std::to_string(pending));
        prices_ = *stored;
        price_set_id_ = stored->id;
        body = PricesJsonLocked();
        hub_.Publish("prices", body);
    }
    for (auto& p : pumps_) PublishPump(*p, false);
    {
        std::lock_guard lock(mutex_);
        StoreListLocked();
    }
    return Outcome::Ok(std::move(body));
}

Outcome Forecourt::SchedulePrices(const std::vector<std::pair<std::string, std::int64_t>>& changes, const std::string& valid_from,
                                  AuditNote* audit) {
    std::lock_guard changing(price_change_mutex_);
    PendingPrices pending{0, valid_from, {}};
    {
        std::lock_guard lock(mutex_);
        if (pending_prices_.size() >= kMaxPendingPrices)
            return Outcome::Error(Outcome::Kind::kConflict, "too_many_pending",
                                  std::to_string(kMaxPendingPrices) + " price changes wait already: cancel one first");
        for (const auto& [grade, cents] : changes) {
            const GradePrice* g = prices_.Find(grade);
            if (!g) return Outcome::Fail(Outcome::Kind::kBadRequest, "no grade " + grade);
            pending.grades.push_back({g->grade, g->name, cents});
        }
    }
    // In the order the store reads them back.
    std::sort(pending.grades.begin(), pending.grades.end(), [](const GradePrice& a, const GradePrice& b) { return a.grade < b.grade; });
    pending = store_.AddPendingPrices(std::move(pending), audit);
    {
        std::lock_guard lock(mutex_);
        // After every change due at the same time or earlier: those were set first.
        const auto at = std::find_if(pending_prices_.begin(), pending_prices_.end(),
                                     [&](const PendingPrices& p) { return p.valid_from > pending.valid_from; });
        pending_prices_.insert(at, pending);
        ++pending_changes_;
        hub_.Publish("prices", PricesJsonLocked());
    }
    price_wake_.notify_all();
    return Outcome::Ok(PendingPricesJson(pending));
}

Outcome Forecourt::CancelPendingPrices(std::int64_t id, AuditNote* audit) {
    std::lock_guard changing(price_change_mutex_);
    switch (store_.CancelPendingPrices(id, audit)) {
        case PendingChange::kNotFound: return Outcome::Fail(Outcome::Kind::kNotFound, "no pending price set " + std::to_string(id));
        case PendingChange::kTookEffect:
            return Outcome::Error(Outcome::Kind::kConflict, "prices_in_effect", "price set " + std::to_string(id) + " took effect already");
        case PendingChange::kDone: break;
    }
    std::lock_guard lock(mutex_);
    std::erase_if(pending_prices_, [&](const PendingPrices& p) { return p.id == id; });
    ++pending_changes_;
    nlohmann::json body = PricesJsonLocked();
    hub_.Publish("prices", body);
    price_wake_.notify_all();
    return Outcome::Ok(std::move(body));
}

bool Forecourt::ApplyDuePrices() {
    for (;;) {
        PendingPrices due;
        {
            std::lock_guard lock(mutex_);
            if (pending_prices_.empty() || pending_prices_.front().valid_from > UtcNow()) return true;
            due = pending_prices_.front();
        }
        std::vector<std::pair<std::string, std::int64_t>> changes;
        for (const auto& g : due.grades) changes.emplace_back(g.grade, g.price_cents);
        try {
            ChangePrices(changes, due.id, nullptr);
            spdlog::info("event=pending_prices_applied pending={} valid_from={}", due.id, due.valid_from);
        } catch (const StoreError& e) {
            spdlog::error("event=store_failed what=pending_prices pending={} reason=\"{}\"", due.id, e.what());
            return false;
        }
    }
}

void Forecourt::PriceTimer(std::stop_token stop) {
    while (!stop.stop_requested()) {
        const bool applied = ApplyDuePrices();
        std::unique_lock lock(mutex_);
        // An hour at most: a change due years ahead needs no exact wait. A store that refused
        // is tried again in a while, not at once.
        auto wait = std::chrono::milliseconds(applied ? 3600 * 1000 : 5000);
        // A millisecond on, so the wake finds the change due by the wall clock too.
        if (applied && !pending_prices_.empty())
            wait = std::min(wait, Until(pending_prices_.front().valid_from) + std::chrono::milliseconds(1));
        const std::uint64_t seen = pending_changes_;
        price_wake_.wait_for(lock, stop, wait, [&] { return pending_changes_ != seen; });
    }
}

Outcome Forecourt::Lock(std::int64_t id, const std::string& holder, AuditNote* audit) {
    return Settle(id, holder, Settlement::kLock, audit);
}

Outcome Forecourt::Clear(std::int64_t id, const std::string& holder, AuditNote* audit) {
    return Settle(id, holder, Settlement::kClear, audit);
}

Outcome Forecourt::Unlock(std::int64_t id, AuditNote* audit) { return Settle(id, {}, Settlement::kUnlock, audit); }

namespace {

// Why a settled sale cannot change, or nothing when the change went through.
std::optional<Outcome> Refusal(SaleChange change, const std::string& name, const Sale& sale) {
    switch (change) {
        case SaleChange::kNotFound: return Outcome::Fail(Outcome::Kind::kNotFound, "no " + name);
        case SaleChange::kAlreadyCleared: return Outcome::Error(Outcome::Kind::kConflict, "sale_cleared", name + " is already cleared");
        case SaleChange::kNotLocked: return Outcome::Error(Outcome::Kind::kConflict, "sale_not_locked", name + " must be locked first");
        case SaleChange::kLockedByOther: {
            Outcome o = Outcome::Error(Outcome::Kind::kConflict, "sale_locked", name + " is locked by " + sale.locked_by);
            o.body = {{"holder", sale.locked_by}};
            return o;
        }
        case SaleChange::kMarked:
            return Outcome::Error(Outcome::Kind::kConflict, "sale_marked", name + " is settled as " + sale.state + " by " + sale.marked_by);
        case SaleChange::kPrepaid: return Outcome::Error(Outcome::Kind::kConflict, "sale_prepaid", name + " was prepaid");
        case SaleChange::kDone: break;
    }
    return std::nullopt;
}

}  // namespace

Outcome Forecourt::Settle(std::int64_t id, const std::string& holder, Settlement step, AuditNote* audit) {
    Sale sale;
    const SaleChange change = step == Settlement::kLock    ? store_.Lock(id, holder, sale, audit)
                              : step == Settlement::kClear ? store_.Clear(id, holder, sale, audit)
                                                           : store_.Unlock(id, sale, audit);
    if (auto refused = Refusal(change, "sale " + std::to_string(id), sale)) return *refused;
    if (step == Settlement::kClear) RefreshUnpaid();
    hub_.Publish("sale", SaleJson(sale));
    return Outcome::Ok(SaleJson(sale));
}

Outcome Forecourt::Mark(std::int64_t id, const std::string& state, const std::string& who, AuditNote* audit) {
    Sale sale;
    if (auto refused = Refusal(store_.Mark(id, state, who, sale, audit), "sale " + std::to_string(id), sale)) return *refused;
    RefreshUnpaid();
    hub_.Publish("sale", SaleJson(sale));
    return Outcome::Ok(SaleJson(sale));
}

std::optional<Outcome> Forecourt::BlockedLocked(const Pump& pump) const {
    if (emergency_)
        return Outcome::Error(
            Outcome::Kind::kConflict, "emergency_stop",
            "the emergency stop is in force since " + emergency_->since + " (" + emergency_->by + "): a manager releases it");
    if (pump.control.closed)
        return Outcome::Error(Outcome::Kind::kConflict, "pump_closed",
                              "pump " + std::to_string(pump.config.pump) + " is closed: " + pump.control.closed->reason);
    return std::nullopt;
}

void Forecourt::PublishTimeout(const Pump& pump, const char* timeout, std::optional<std::int64_t> sale) {
    spdlog::warn("event=timeout pump={} timeout={}", pump.config.pump, timeout);
    // What the service does of its own accord is in the trail as well, under its own name.
    try {
        store_.Audit({0, UtcNow(), kServiceActor, std::string(timeout) + "_timeout", "pump " + std::to_string(pump.config.pump), 200, {}});
    } catch (const StoreError& e) {
        spdlog::error("event=store_failed what=audit operation={}_timeout reason=\"{}\"", timeout, e.what());
    }
    hub_.Publish("timeout", {{"pump", pump.config.pump},
                             {"timeout", timeout},
                             {"nozzle", pump.nozzle ? nlohmann::json(*pump.nozzle) : nlohmann::json(nullptr)},
                             {"sale", sale ? nlohmann::json(*sale) : nlohmann::json(nullptr)}});
}

Outcome Forecourt::ChangeControl(int number, AuditNote* audit, const std::function<void(PumpControl&)>& change) {
    Pump* pump = Find(number);
    if (!pump) return Outcome::Error(Outcome::Kind::kNotFound, "not_found", "no pump " + std::to_string(number));
    // One change at a time, each stored before it takes effect: what a caller heard is what a
    // restart finds.
    std::lock_guard changing(control_mutex_);
    PumpControl next;
    {
        std::lock_guard lock(mutex_);
        next = pump->control;
    }
    change(next);
    store_.SetPumpControl(number, next, audit);
    {
        std::lock_guard lock(mutex_);
        pump->control = next;
    }
    PublishPump(*pump);
    std::lock_guard lock(mutex_);
    return Outcome::Ok(PumpJsonLocked(*pump));
}

Outcome Forecourt::Close(int pump, const std::string& reason, const std::string& by, AuditNote* audit) {
    return ChangeControl(pump, audit, [&](PumpControl& c) { c.closed = Closure{reason, UtcNow(), by}; });
}

Outcome Forecourt::Open(int pump, AuditNote* audit) {
    return ChangeControl(pump, audit, [](PumpControl& c) { c.closed.reset(); });
}

Outcome Forecourt::SetMode(int pump, bool attendant, AuditNote* audit) {
    return ChangeControl(pump, audit, [&](PumpControl& c) { c.attendant = attendant; });
}

void Forecourt::EmergencyStop(const std::string& by, Done done) {
    std::optional<std::string> unsaved;
    nlohmann::json state;
    {
        std::lock_guard changing(control_mutex_);
        std::optional<Closure> stop;
        {
            std::lock_guard lock(mutex_);
            stop = emergency_;
        }
        if (!stop) {
            stop = Closure{"emergency_stop", UtcNow(), by};
            // In force at once, stored or not: the pumps must stop whatever the disk does.
            {
                std::lock_guard lock(mutex_);
                emergency_ = stop;
            }
            try {
                // Audited where the answer leaves: it depends on what the pumps say to the stop.
                store_.SetEmergencyStop(stop);
            } catch (const StoreError& e) {
                spdlog::error("event=store_failed reason=\"{}\"", e.what());
                unsaved = e.what();
            }
            hub_.Publish("emergency_stop", {{"in_force", true}, {"since", stop->since}, {"by", stop->by}});
        }
        state = ClosureJson(stop);
    }
    StopAll([done = std::move(done), state, unsaved](Outcome o) {
        if (unsaved && o.kind == Outcome::Kind::kOk) {
            Outcome failed =
                Outcome::Error(Outcome::Kind::kStoreFailed, "store_failed",
                               "the pumps are stopped and the emergency stop is in force, but a restart would lose it: " + *unsaved);
            failed.body = std::move(o.body);
            o = std::move(failed);
        }
        if (o.body.is_object()) o.body["emergency_stop"] = state;
        done(std::move(o));
    });
}

Outcome Forecourt::ReleaseEmergencyStop(const std::string& by, AuditNote* audit) {
    std::lock_guard changing(control_mutex_);
    {
        std::lock_guard lock(mutex_);
        if (!emergency_) return Outcome::Ok({{"emergency_stop", nullptr}});
    }
    store_.SetEmergencyStop(std::nullopt, audit);
    {
        std::lock_guard lock(mutex_);
        emergency_.reset();
    }
    hub_.Publish("emergency_stop", {{"in_force", false}, {"since", UtcNow()}, {"by", by}});
    return Outcome::Ok({{"emergency_stop", nullptr}});
}

Outcome Forecourt::MoveNozzle(int number, int nozzle, bool lift) {
    Pump* pump = Find(number);
    if (!pump) return Outcome::Fail(Outcome::Kind::kNotFound, "no pump " + std::to_string(number));
    const auto& control = LineOf(*pump).config.emulator;
    if (!control) return Outcome::Fail(Outcome::Kind::kNotFound, "line " + std::to_string(pump->config.line) + " is no emulator");
    if (!pump->Nozzle(nozzle))
        return Outcome::Error(Outcome::Kind::kConflict, "no_such_nozzle",
                              "pump " + std::to_string(number) + " has no nozzle " + std::to_string(nozzle));
    const int address = NozzleAddress(config_, pump->config, nozzle);
    try {
        const std::string answer = EmulatorCommand(*control, std::string(lift ? "lift " : "hang ") + std::to_string(address));
        if (answer.rfind("ok", 0) != 0) return Outcome::Error(Outcome::Kind::kConflict, "emulator_refused", "emulator: " + answer);
    } catch (const std::exception& e) {
        return Outcome::Fail(Outcome::Kind::kOffline, e.what());
    }
    return Outcome::Ok({{"pump", number}, {"nozzle", nozzle}, {"lifted", lift}});
}

std::vector<ShiftReading> Forecourt::ReadLine(Line& line, bool online) {
    std::vector<ShiftReading> readings;
    for (Pump* pump : line.pumps)
        for (const auto& n : pump->config.nozzles)
            readings.push_back({pump->config.pump, n.nozzle, n.grade, {}, online ? ReadTotals(*pump, n.nozzle) : std::nullopt});
    // A sale of this line that ends from now on ends after `at`, to the millisecond, so it
    // belongs to the next reading and not to this one.
    const std::string at = UtcNow();
    while (UtcNow() == at) std::this_thread::sleep_for(std::chrono::microseconds(200));
    for (auto& r : readings) r.at = at;
    return readings;
}

void Forecourt::ReadAllTotals(std::function<void(std::vector<ShiftReading>)> done) {
    struct Gather {
        std::mutex mutex;
        std::size_t left = 0;
        std::vector<std::vector<ShiftReading>> lines;
        std::function<void(std::vector<ShiftReading>)> done;
    };
    auto gather = std::make_shared<Gather>();
    gather->left = lines_.size();
    gather->lines.resize(lines_.size());
    gather->done = std::move(done);
    const auto finish = [gather](std::size_t i, std::vector<ShiftReading> readings) {
        {
            std::lock_guard lock(gather->mutex);
            gather->lines[i] = std::move(readings);
            if (--gather->left > 0) return;
        }
        std::vector<ShiftReading> all;
        for (auto& line : gather->lines) all.insert(all.end(), line.begin(), line.end());
        gather->done(std::move(all));
    };
    if (lines_.empty()) return gather->done({});
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        Line& line = *lines_[i];
        bool queued = false;
        if (line.online) {
            std::lock_guard lock(line.queue_mutex);
            if (line.thread.joinable() && !line.thread.get_stop_token().stop_requested()) {
                // Past the reads' per-client bounds: a shift waits for every line, once.
                line.queues[static_cast<std::size_t>(CommandClass::kRead)].push_back(
                    {[this, &line, i, finish] { finish(i, ReadLine(line, true)); },
                     [this, &line, i, finish](const Outcome&) { finish(i, ReadLine(line, false)); }, "shift"});
                queued = true;
            }
        }
        if (queued)
            line.wake.notify_all();
        else
            finish(i, ReadLine(line, false));
    }
}

namespace {

std::vector<ShiftReading> AwaitReadings(Forecourt& forecourt) {
    auto promise = std::make_shared<std::promise<std::vector<ShiftReading>>>();
    auto readings = promise->get_future();
    forecourt.ReadAllTotals([promise](std::vector<ShiftReading> all) { promise->set_value(std::move(all)); });
    return readings.get();
}

}  // namespace

Outcome Forecourt::OpenShift(const std::string& by, AuditNote* audit) {
    if (auto open = store_.OpenShiftNow())
        return Outcome::Error(Outcome::Kind::kConflict, "shift_open",
                              "shift " + std::to_string(open->id) + " is open since " + open->opened);
    Shift shift;
    if (store_.OpenShift(by, AwaitReadings(*this), shift, audit) == ShiftChange::kAlreadyOpen)
        return Outcome::Error(Outcome::Kind::kConflict, "shift_open",
                              "shift " + std::to_string(shift.id) + " is open since " + shift.opened);
    hub_.Publish("shift", {{"event", "opened"}, {"shift", ShiftJson(shift, false)}});
    return Outcome::Ok(ShiftJson(shift));
}

Outcome Forecourt::CloseShift(const std::string& by, AuditNote* audit) {
    if (!store_.OpenShiftNow()) return Outcome::Error(Outcome::Kind::kConflict, "no_shift_open", "no shift is open");
    Shift shift;
    if (store_.CloseShift(by, AwaitReadings(*this), shift, audit) == ShiftChange::kNoneOpen)
        return Outcome::Error(Outcome::Kind::kConflict, "no_shift_open", "no shift is open");
    hub_.Publish("shift", {{"event", "closed"}, {"shift", ShiftJson(shift, false)}});
    return Outcome::Ok(ShiftJson(shift));
}

}  // namespace forecourt
