#include "router.h"

#include <spdlog/spdlog.h>

#include <boost/asio/post.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>
#include <iostream>
#include <sstream>

#include "events/event_hub.h"
#include "openapi_document.h"
#include "pumps/forecourt.h"
#include "request_decoder.h"
#include "store/store.h"

namespace forecourt {
namespace {

using nlohmann::json;
using K = Outcome::Kind;

// An instant with its zone (2026-12-08T21:00:00Z, ...+03:00, with or without a fraction) as the
// store writes times: UTC to the millisecond, so that text order is time order.
std::optional<std::string> StoreTime(const std::string& text) {
    const auto digits = [&](std::size_t at, std::size_t count) {
        int value = 0;
        for (std::size_t i = at; i < at + count; ++i) {
            if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return -1;
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    const int y = digits(0, 4), mo = digits(5, 2), d = digits(8, 2), h = digits(11, 2), mi = digits(14, 2), sec = digits(17, 2);
    if (y < 1970 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 || sec < 0 || sec > 59 || text[4] != '-' ||
        text[7] != '-' || (text[10] != 'T' && text[10] != 't') || text[13] != ':' || text[16] != ':')
        return std::nullopt;
    std::size_t at = 19;
    int millis = 0;
    if (at < text.size() && text[at] == '.') {
        std::size_t count = 0;
        for (++at; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at, ++count)
            if (count < 3) millis = millis * 10 + (text[at] - '0');
        if (count == 0) return std::nullopt;
        for (; count < 3; ++count) millis *= 10;
    }
    long offset = 0;
    if (at + 6 == text.size() && (text[at] == '+' || text[at] == ' ' || text[at] == '-') && text[at + 3] == ':') {
        const int oh = digits(at + 1, 2), om = digits(at + 4, 2);
        if (oh < 0 || oh > 23 || om < 0 || om > 59) return std::nullopt;
        // An unescaped '+' in a query arrives as a space.
        offset = (text[at] == '-' ? -1 : 1) * (oh * 3600L + om * 60L);
    } else if (at + 1 != text.size() || (text[at] != 'Z' && text[at] != 'z')) {
        return std::nullopt;
    }
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = sec;
    const std::time_t local = ::timegm(&tm);  // normalises tm: a 31st of a short month moves on
    if (tm.tm_mday != d || tm.tm_mon != mo - 1) return std::nullopt;
    const std::time_t utc = local - offset;
    std::tm out{};
    if (!::gmtime_r(&utc, &out)) return std::nullopt;
    char buffer[40];
    const auto n = std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S", &out);
    std::snprintf(buffer + n, sizeof buffer - n, ".%03dZ", millis);
    return std::string(buffer);
}

// The optional from and to of a sales query; false when either is not an instant.
bool TimeRange(const std::map<std::string, std::string>& q, SaleFilter& filter) {
    for (auto [name, field] : {std::pair{"from", &filter.from}, std::pair{"to", &filter.to}}) {
        const auto it = q.find(name);
        if (it == q.end()) continue;
        *field = StoreTime(it->second);
        if (!*field) return false;
    }
    return true;
}

// Tokens are compared in a time that does not depend on where they first differ.
bool SameToken(const std::string& given, const std::string& known) {
    if (given.size() != known.size()) return false;
    unsigned char diff = 0;
    for (std::size_t i = 0; i < given.size(); ++i) diff |= static_cast<unsigned char>(given[i] ^ known[i]);
    return diff == 0;
}

http::status StatusOf(K kind) {
    switch (kind) {
        case K::kOk: return http::status::ok;
        case K::kBadRequest: return http::status::bad_request;
        case K::kNotFound: return http::status::not_found;
        case K::kConflict:
        case K::kRefused: return http::status::conflict;
        case K::kUnpaidLimit: return http::status::locked;
        case K::kOffline: return http::status::service_unavailable;
        case K::kForbidden: return http::status::forbidden;
        case K::kStoreFailed: return http::status::service_unavailable;
        case K::kBusy: return http::status::too_many_requests;
        case K::kIncomplete: return http::status::service_unavailable;
    }
    return http::status::internal_server_error;
}

// Seconds a client over its share of a line waits before it asks again.
constexpr int kRetryAfterSeconds = 1;

Response FromOutcome(const Request& request, const Outcome& o) {
    if (o.kind == K::kOk) return JsonResponse(request, http::status::ok, o.body.dump());
    json body = {{"error", o.error.empty() ? ErrorCode(o.kind) : o.error}, {"message", o.message}};
    if (o.kind == K::kRefused && o.code) body["code"] = o.code;
    if (o.body.is_object())
        for (const auto& [key, value] : o.body.items()) body[key] = value;
    auto res = JsonResponse(request, StatusOf(o.kind), body.dump());
    if (o.kind == K::kBusy) res.set(http::field::retry_after, std::to_string(kRetryAfterSeconds));
    return res;
}

// What a changing route acts on, as the audit trail names it: "pump 3", "sale 12", "prices".
std::string AuditTarget(std::string_view path, std::int64_t number) {
    if (path.find("{n}") != std::string_view::npos) return "pump " + std::to_string(number);
    if (path.starts_with("/api/v1/prices/pending/")) return "pending prices " + std::to_string(number);
    if (path.starts_with("/api/v1/shifts")) return "shift";
    if (path.find("{id}") != std::string_view::npos) return "sale " + std::to_string(number);
    return path == "/api/v1/stop" ? "pumps" : std::string(path.substr(path.rfind('/') + 1));
}

Response BadRequest(const Request& request, const std::string& message) {
    return ErrorResponse(request, http::status::bad_request, "bad_request", message);
}

}  // namespace

Response JsonResponse(const Request& request, http::status status, const std::string& body) {
    Response res{status, request.version()};
    res.set(http::field::content_type, "application/json");
    res.set(http::field::cache_control, "no-store");
    res.keep_alive(request.keep_alive());
    res.body() = body;
    res.prepare_payload();
    return res;
}

Response ErrorResponse(const Request& request, http::status status, const std::string& error, const std::string& message, int code) {
    json body = {{"error", error}, {"message", message}};
    if (code) body["code"] = code;
    // A message may quote what the client sent, which need not be UTF-8.
    auto res = JsonResponse(request, status, body.dump(-1, ' ', false, json::error_handler_t::replace));
    if (status == http::status::unauthorized) res.set(http::field::www_authenticate, "Bearer");
    return res;
}

Router::Router(const Config& config, Forecourt& forecourt, Store& store, EventHub& hub, std::vector<StaticFile> statics)
    : config_(config), forecourt_(forecourt), store_(store), hub_(hub), statics_(std::move(statics)), guard_(config) {}

bool Router::Trusted(const Request& request) {
    return !config_.tokens.empty() && std::holds_alternative<Identity>(Authenticate(request, nullptr));
}

std::variant<Identity, Response> Router::Authenticate(const Request& request, const std::string* query_token) {
    // Without tokens the service listens on loopback only (checked at start): every role.
    if (config_.tokens.empty()) return Identity{"local", Role::kManager};
    std::string token;
    const auto header = request[http::field::authorization];
    if (!header.empty()) {
        std::string_view h(header.data(), header.size());
        // The scheme's name is case-insensitive.
        static constexpr std::string_view kScheme = "bearer ";
        const bool bearer = h.size() > kScheme.size() && std::equal(kScheme.begin(), kScheme.end(), h.begin(), [](char a, char b) {
                                return a == std::tolower(static_cast<unsigned char>(b));
                            });
        if (!bearer) return ErrorResponse(request, http::status::unauthorized, "unauthorized", "use Authorization: Bearer TOKEN");
        h.remove_prefix(kScheme.size());
        while (!h.empty() && h.front() == ' ') h.remove_prefix(1);
        while (!h.empty() && (h.back() == ' ' || h.back() == '\t')) h.remove_suffix(1);
        token = std::string(h);
    } else if (query_token) {
        token = *query_token;
    }
    if (token.empty()) return ErrorResponse(request, http::status::unauthorized, "unauthorized", "a token is required");
    for (const auto& t : config_.tokens)
        if (SameToken(token, t.token)) return Identity{t.name, t.role};
    return ErrorResponse(request, http::status::unauthorized, "unauthorized", "unknown token");
}

std::variant<EventsRequest, Response> Router::Events(const Request& request) {
    if (auto refused = guard_.Check(request)) return std::move(*refused);
    auto target = ParseTarget(std::string_view(request.target().data(), request.target().size()));
    if (!target) return BadRequest(request, "malformed request target");
    const auto token = target->query.find("token");
    auto who = Authenticate(request, token == target->query.end() ? nullptr : &token->second);
    if (auto* refused = std::get_if<Response>(&who)) return std::move(*refused);
    EventsRequest events{std::get<Identity>(who), -1};
    if (auto after = target->query.find("after"); after != target->query.end()) {
        const auto seq = ParseId(after->second);
        if (!seq) return BadRequest(request, "after must be a sequence number");
        events.after = *seq;
    }
    return events;
}

void Router::Handle(const Request& request, Respond respond) {
    // One answer per request, whatever a route does; nothing a route throws leaves the router.
    auto answered = std::make_shared<std::atomic<bool>>(false);
    const bool head = request.method() == http::verb::head;
    Respond answer = [answered, head, reader = guard_.Reader(request), respond = std::move(respond)](Response res) {
        if (answered->exchange(true)) return;
        RequestGuard::AllowReader(reader, res);
        // A HEAD is told the length the GET's body would have, and gets none.
        if (head && !res.body().empty()) {
            const auto length = res.body().size();
            res.body().clear();
            res.content_length(length);
        }
        respond(std::move(res));
    };
    try {
        if (auto refused = guard_.Check(request)) return answer(std::move(*refused));
        if (auto preflight = guard_.Preflight(request)) return answer(std::move(*preflight));
        Dispatch(request, answer);
    } catch (const std::exception& e) {
        spdlog::error("event=request_failed method={} reason=\"{}\"", std::string(request.method_string()), e.what());
        answer(ErrorResponse(request, http::status::internal_server_error, "internal", "the request could not be served"));
    } catch (...) {
        answer(ErrorResponse(request, http::status::internal_server_error, "internal", "the request could not be served"));
    }
}

// A request that found its route: the target, the path's number ({n} or {id}; -1 when the path
// has none), the caller (nobody on an open route) and where the answer goes.
struct Router::Call {
    const Request& request;
    const Target& target;
    std::int64_t number;
    Identity who;
    Respond respond;
    // A changing route's entry: a store write that makes the change writes it in its own transaction.
    AuditNote* audit = nullptr;

    void Ok(const json& body) const { respond(JsonResponse(request, http::status::ok, body.dump())); }
    void Fail(http::status status, const std::string& error, const std::string& message) const {
        respond(ErrorResponse(request, status, error, message));
    }
    // The answer of an outcome that may come later, from a line's thread.
    std::function<void(Outcome)> Done() const {
        return [request = request, respond = respond](Outcome o) { respond(FromOutcome(request, o)); };
    }
    int pump() const { return static_cast<int>(number); }
};

struct RouteTable {
    using Handler = void (*)(Router&, const Router::Call&);
    struct Entry {
        RouteInfo info;
        Handler handler;
        bool changes = false;  // every answer of the route goes to the audit trail
        // The handler writes the store and waits for it: it runs on the writer, so a database
        // held by another process stalls no web thread.
        bool writes = false;
    };

    static const std::vector<Entry>& All();

    static void Health(Router& r, const Router::Call& c) {
        const bool ok = r.store_.Healthy();
        json body = {
            {"status", ok ? "ok" : "store_failed"}, {"lines", r.config_.lines.size()}, {"lines_online", r.forecourt_.LinesOnline()}};
        c.respond(JsonResponse(c.request, ok ? http::status::ok : http::status::service_unavailable, body.dump()));
    }
    static void Metrics(Router& r, const Router::Call& c) { c.respond(r.Metrics(c.request)); }
    static void OpenApi(Router&, const Router::Call& c) {
        c.respond(JsonResponse(c.request, http::status::ok, std::string(OpenApiDocument())));
    }
    static void AsyncApi(Router&, const Router::Call& c) {
        c.respond(JsonResponse(c.request, http::status::ok, std::string(AsyncApiDocument())));
    }
    static void Forecourt(Router& r, const Router::Call& c) {
        // The role lets a client show what it may do without trying it.
        // The caller's own name, so a client knows its own sale locks (locked_by) from others'.
        const json extra = {
            {"role", RoleName(c.who.role)}, {"caller", c.who.name}, {"uplink", r.uplink_status ? r.uplink_status() : json(nullptr)}};
        c.respond(JsonResponse(c.request, http::status::ok, r.forecourt_.ForecourtText(extra)));
    }
    // The pumps' views are serialized once per change and served as they are.
    static void Pumps(Router& r, const Router::Call& c) {
        c.respond(ViewResponse(c.request, *r.pumps_encodings_.For(r.forecourt_.PumpsView())));
    }
    static void Pump(Router& r, const Router::Call& c) {
        auto view = r.forecourt_.PumpView(c.pump());
        if (!view) return c.Fail(http::status::not_found, "not_found", "no pump " + std::to_string(c.pump()));
        c.respond(ViewResponse(c.request, Encode(std::move(view))));
    }
    static void Authorize(Router& r, const Router::Call& c) {
        auto decoded = DecodeAuthorize(c.request.body());
        if (auto* error = std::get_if<std::string>(&decoded)) return c.respond(BadRequest(c.request, *error));
        r.forecourt_.Authorize(c.pump(), std::get<AuthorizeRequest>(decoded), c.who.name, c.Done());
    }
    static void StopPump(Router& r, const Router::Call& c) { r.forecourt_.StopPump(c.pump(), c.Done()); }
    static void StopAll(Router& r, const Router::Call& c) { r.forecourt_.StopAll(c.Done()); }
    static void Totals(Router& r, const Router::Call& c) { r.forecourt_.Totals(c.pump(), c.who.name, c.Done()); }
    static void ClosePump(Router& r, const Router::Call& c) {
        auto reason = DecodeClosure(c.request.body());
        if (auto* error = std::get_if<std::string>(&reason)) return c.respond(BadRequest(c.request, *error));
        c.Done()(r.forecourt_.Close(c.pump(), std::get<CloseRequest>(reason).reason, c.who.name, c.audit));
    }
    static void OpenPump(Router& r, const Router::Call& c) { c.Done()(r.forecourt_.Open(c.pump(), c.audit)); }
    static void SetMode(Router& r, const Router::Call& c) {
        auto mode = DecodeMode(c.request.body());
        if (auto* error = std::get_if<std::string>(&mode)) return c.respond(BadRequest(c.request, *error));
        c.Done()(r.forecourt_.SetMode(c.pump(), std::get<bool>(mode), c.audit));
    }
    static void EmergencyStop(Router& r, const Router::Call& c) { r.forecourt_.EmergencyStop(c.who.name, c.Done()); }
    static void ReleaseEmergencyStop(Router& r, const Router::Call& c) { c.Done()(r.forecourt_.ReleaseEmergencyStop(c.who.name, c.audit)); }
    static void Prices(Router& r, const Router::Call& c) { c.Ok(r.forecourt_.PricesJson()); }
    static void SetPrices(Router& r, const Router::Call& c) {
        auto decoded = DecodePriceChange(c.request.body());
        if (auto* error = std::get_if<std::string>(&decoded)) return c.respond(BadRequest(c.request, *error));
        const auto& change = std::get<PriceChange>(decoded);
        std::optional<std::string> valid_from;
        if (change.valid_from && !(valid_from = StoreTime(*change.valid_from)))
            return c.respond(BadRequest(c.request, "valid_from must be an instant with a zone (RFC 3339)"));
        // A time not in the future is now: the change is made at once.
        if (!valid_from || *valid_from <= UtcNow()) return c.Done()(r.forecourt_.SetPrices(change.grades, c.audit));
        const Outcome pending = r.forecourt_.SchedulePrices(change.grades, *valid_from, c.audit);
        if (pending.kind != K::kOk) return c.Done()(pending);
        c.respond(JsonResponse(c.request, http::status::accepted, pending.body.dump()));
    }
    static void CancelPendingPrices(Router& r, const Router::Call& c) { c.Done()(r.forecourt_.CancelPendingPrices(c.number, c.audit)); }
    static void Sales(Router& r, const Router::Call& c) { r.Sales(c); }
    static void Summary(Router& r, const Router::Call& c) { r.Summary(c); }
    static void Sale(Router& r, const Router::Call& c) {
        auto sale = r.store_.Find(c.number);
        // Open and void sales are the service's own bookkeeping: no client has seen them.
        if (!sale || sale->state == "open" || sale->state == "void")
            return c.Fail(http::status::not_found, "not_found", "no sale " + std::to_string(c.number));
        c.Ok(SaleJson(*sale));
    }
    static void Lock(Router& r, const Router::Call& c) { c.Done()(r.forecourt_.Lock(c.number, c.who.name, c.audit)); }
    static void Clear(Router& r, const Router::Call& c) { c.Done()(r.forecourt_.Clear(c.number, c.who.name, c.audit)); }
    static void Unlock(Router& r, const Router::Call& c) { c.Done()(r.forecourt_.Unlock(c.number, c.audit)); }
    static void MoveSale(Router& r, const Router::Call& c) {
        auto decoded = DecodeMove(c.request.body());
        if (auto* error = std::get_if<std::string>(&decoded)) return c.respond(BadRequest(c.request, *error));
        const auto& move = std::get<MoveRequest>(decoded);
        r.forecourt_.Move(c.number, move.pump, move.nozzle, c.who.name, c.Done());
    }
    static void CancelSale(Router& r, const Router::Call& c) { r.forecourt_.Cancel(c.number, c.Done()); }
    static void MarkSale(Router& r, const Router::Call& c) {
        auto decoded = DecodeMark(c.request.body());
        if (auto* error = std::get_if<std::string>(&decoded)) return c.respond(BadRequest(c.request, *error));
        c.Done()(r.forecourt_.Mark(c.number, std::get<MarkRequest>(decoded).as, c.who.name, c.audit));
    }
    static void Audit(Router& r, const Router::Call& c) { r.AuditTrail(c); }
    static void OpenShift(Router& r, const Router::Call& c) { c.Done()(r.forecourt_.OpenShift(c.who.name, c.audit)); }
    static void CloseShift(Router& r, const Router::Call& c) { c.Done()(r.forecourt_.CloseShift(c.who.name, c.audit)); }
    static void Shifts(Router& r, const Router::Call& c) { r.Shifts(c); }
    static void Shift(Router& r, const Router::Call& c) { r.Shift(c); }
    static void Events(Router&, const Router::Call& c) {
        c.respond(BadRequest(c.request, "the event stream is a WebSocket: send an upgrade request"));
    }
    static void Nozzle(Router& r, const Router::Call& c, bool lift) {
        auto nozzle = DecodeNozzle(c.request.body());
        if (auto* error = std::get_if<std::string>(&nozzle)) return c.respond(BadRequest(c.request, *error));
        c.Done()(r.forecourt_.MoveNozzle(c.pump(), std::get<int>(nozzle), lift));
    }
    static void Lift(Router& r, const Router::Call& c) { Nozzle(r, c, true); }
    static void Hang(Router& r, const Router::Call& c) { Nozzle(r, c, false); }
};

namespace {

constexpr auto kGet = http::verb::get, kPost = http::verb::post, kPut = http::verb::put, kDelete = http::verb::delete_;
constexpr std::optional<Role> kOpen, kViewer = Role::kViewer, kPos = Role::kPos, kManager = Role::kManager;
constexpr bool kChanges = true;
// Pump numbers run to this; a larger {n} names no route.
constexpr std::int64_t kMaxPump = 100000;
constexpr bool kWrites = true;
// Writes waiting for the writer beyond this are refused (429) rather than queued without end.
constexpr int kMaxWaitingWrites = 64;

// The path's number when `path` is the pattern's (-1 when the pattern has none); nothing when
// it is not. {n} is a pump, {id} a sale: decimal digits only.
std::optional<std::int64_t> Match(std::string_view pattern, std::string_view path) {
    std::int64_t number = -1;
    while (!pattern.empty() || !path.empty()) {
        if (pattern.empty() || path.empty() || pattern.front() != '/' || path.front() != '/') return std::nullopt;
        pattern.remove_prefix(1);
        path.remove_prefix(1);
        const auto want = pattern.substr(0, pattern.find('/')), got = path.substr(0, path.find('/'));
        pattern.remove_prefix(want.size());
        path.remove_prefix(got.size());
        if (want == "{n}" || want == "{id}") {
            const auto id = ParseId(got);
            if (!id || (want == "{n}" && *id > kMaxPump)) return std::nullopt;
            number = *id;
        } else if (want != got) {
            return std::nullopt;
        }
    }
    return number;
}

}  // namespace

const std::vector<RouteTable::Entry>& RouteTable::All() {
    using T = RouteTable;
    static const std::vector<Entry> routes = {
        {{kGet, "/healthz", kOpen, "getHealth"}, T::Health},
        {{kGet, "/metrics", kOpen, "getMetrics"}, T::Metrics},
        {{kGet, "/api/v1/openapi.json", kOpen, "getOpenApiDocument"}, T::OpenApi},
        {{kGet, "/api/v1/asyncapi.json", kOpen, "getAsyncApiDocument"}, T::AsyncApi},
        {{kGet, "/api/v1/forecourt", kViewer, "getForecourt"}, T::Forecourt},
        {{kGet, "/api/v1/pumps", kViewer, "listPumps"}, T::Pumps},
        {{kGet, "/api/v1/pumps/{n}", kViewer, "getPump"}, T::Pump},
        {{kPost, "/api/v1/pumps/{n}/authorize", kPos, "authorizePump"}, T::Authorize, kChanges},
        {{kPost, "/api/v1/pumps/{n}/stop", kPos, "stopPump"}, T::StopPump, kChanges},
        {{kGet, "/api/v1/pumps/{n}/totals", kViewer, "getPumpTotals"}, T::Totals},
        {{kPost, "/api/v1/pumps/{n}/close", kManager, "closePump"}, T::ClosePump, kChanges, kWrites},
        {{kPost, "/api/v1/pumps/{n}/open", kManager, "openPump"}, T::OpenPump, kChanges, kWrites},
        {{kPut, "/api/v1/pumps/{n}/mode", kManager, "setPumpMode"}, T::SetMode, kChanges, kWrites},
        {{kPost, "/api/v1/stop", kPos, "stopAllPumps"}, T::StopAll, kChanges},
        {{kPost, "/api/v1/emergency-stop", kPos, "emergencyStop"}, T::EmergencyStop, kChanges, kWrites},
        {{kPost, "/api/v1/emergency-stop/release", kManager, "releaseEmergencyStop"}, T::ReleaseEmergencyStop, kChanges, kWrites},
        {{kGet, "/api/v1/prices", kViewer, "getPrices"}, T::Prices},
        {{kPut, "/api/v1/prices", kManager, "setPrices"}, T::SetPrices, kChanges, kWrites},
        {{kDelete, "/api/v1/prices/pending/{id}", kManager, "cancelPendingPrices"}, T::CancelPendingPrices, kChanges, kWrites},
        {{kGet, "/api/v1/sales", kViewer, "listSales"}, T::Sales},
        {{kGet, "/api/v1/sales/summary", kViewer, "summarizeSales"}, T::Summary},
        {{kGet, "/api/v1/sales/{id}", kViewer, "getSale"}, T::Sale},
        {{kPost, "/api/v1/sales/{id}/lock", kPos, "lockSale"}, T::Lock, kChanges, kWrites},
        {{kPost, "/api/v1/sales/{id}/clear", kPos, "clearSale"}, T::Clear, kChanges, kWrites},
        {{kPost, "/api/v1/sales/{id}/unlock", kManager, "unlockSale"}, T::Unlock, kChanges, kWrites},
        {{kPost, "/api/v1/sales/{id}/move", kPos, "moveSale"}, T::MoveSale, kChanges},
        {{kPost, "/api/v1/sales/{id}/cancel", kPos, "cancelSale"}, T::CancelSale, kChanges},
        {{kPost, "/api/v1/sales/{id}/mark", kManager, "markSale"}, T::MarkSale, kChanges, kWrites},
        {{kGet, "/api/v1/audit", kManager, "listAudit"}, T::Audit},
        {{kGet, "/api/v1/shifts", kPos, "listShifts"}, T::Shifts},
        {{kPost, "/api/v1/shifts", kPos, "openShift"}, T::OpenShift, kChanges, kWrites},
        {{kPost, "/api/v1/shifts/current/close", kPos, "closeShift"}, T::CloseShift, kChanges, kWrites},
        {{kGet, "/api/v1/shifts/{id}", kPos, "getShift"}, T::Shift},
        {{kGet, "/api/v1/events", kViewer, "subscribeEvents"}, T::Events},
        {{kPost, "/api/v1/emulator/pumps/{n}/lift", kPos, "liftNozzle"}, T::Lift},
        {{kPost, "/api/v1/emulator/pumps/{n}/hang", kPos, "hangNozzle"}, T::Hang},
    };
    return routes;
}

std::vector<RouteInfo> ApiRoutes() {
    std::vector<RouteInfo> out;
    for (const auto& route : RouteTable::All()) out.push_back(route.info);
    return out;
}

void Router::Dispatch(const Request& request, Respond respond) {
    const auto target = ParseTarget(std::string_view(request.target().data(), request.target().size()));
    if (!target) return respond(BadRequest(request, "malformed request target"));
    const auto& path = target->path;
    // HEAD is answered as GET is; the body is dropped where the answer leaves the router.
    const auto method = request.method() == http::verb::head ? http::verb::get : request.method();

    const RouteTable::Entry* found = nullptr;
    std::int64_t number = -1;
    std::vector<http::verb> allowed;
    for (const auto& route : RouteTable::All()) {
        const auto matched = Match(route.info.path, path);
        if (!matched) continue;
        allowed.push_back(route.info.method);
        if (route.info.method == method && !found) {
            found = &route;
            number = *matched;
        }
    }
    const bool is_static = std::any_of(statics_.begin(), statics_.end(), [&](const StaticFile& f) { return f.path == path; });
    if (allowed.empty() && is_static) allowed.push_back(http::verb::get);
    if (allowed.empty()) return respond(ErrorResponse(request, http::status::not_found, "not_found", "no route " + path));
    if (!found) {
        if (is_static && method == http::verb::get)
            if (auto file = ServeStatic(statics_, request, path)) return respond(std::move(*file));
        std::string allow;
        for (const auto m : allowed) {
            allow += (allow.empty() ? "" : ", ") + std::string(http::to_string(m));
            if (m == http::verb::get) allow += ", HEAD";
        }
        auto res = ErrorResponse(request, http::status::method_not_allowed, "method_not_allowed",
                                 std::string(request.method_string()) + " is not allowed on " + path);
        res.set(http::field::allow, allow);
        return respond(std::move(res));
    }

    Identity who;
    if (found->info.role) {
        auto asked = Authenticate(request, nullptr);
        if (auto* refused = std::get_if<Response>(&asked)) return respond(std::move(*refused));
        who = std::get<Identity>(asked);
    }
    // A changing route's answer is audited where it leaves, unless the change's own store
    // write took the entry into its transaction. An unknown caller (401) names nobody: no entry.
    // The entry is written on the writer, and the answer leaves once it is.
    std::shared_ptr<AuditNote> audit;
    if (found->changes) {
        audit = std::make_shared<AuditNote>();
        audit->entry = {0, UtcNow(), who.name, std::string(found->info.operation), AuditTarget(found->info.path, number), 0, {}};
        respond = [this, audit, respond = std::move(respond)](Response res) {
            if (audit->written) return respond(std::move(res));
            audit->entry.status = static_cast<int>(res.result_int());
            if (audit->entry.status != 200) {
                const json body = json::parse(res.body(), nullptr, false);
                if (body.is_object() && body.contains("error") && body["error"].is_string()) audit->entry.error = body["error"];
            }
            boost::asio::post(writer_, [this, audit, respond, res = std::move(res)]() mutable {
                try {
                    store_.Audit(audit->entry);
                } catch (const StoreError& e) {
                    spdlog::error("event=store_failed what=audit operation={} reason=\"{}\"", audit->entry.operation, e.what());
                }
                respond(std::move(res));
            });
        };
    }
    // A caller short of the role is refused after its request is taken for the trail.
    if (found->info.role && static_cast<int>(who.role) < static_cast<int>(*found->info.role))
        return respond(ErrorResponse(request, http::status::forbidden, "forbidden",
                                     std::string("this needs the ") + RoleName(*found->info.role) + " role"));
    if (!found->writes) return Run(found->handler, Call{request, *target, number, std::move(who), respond, audit.get()});
    if (writes_waiting_.fetch_add(1) >= kMaxWaitingWrites) {
        --writes_waiting_;
        return respond(
            FromOutcome(request, Outcome::Error(K::kBusy, "too_many_requests", "too many changes are waiting for the database")));
    }
    boost::asio::post(writer_,
                      [this, handler = found->handler, request = request, target = *target, number, who = std::move(who), respond, audit] {
                          --writes_waiting_;
                          Run(handler, Call{request, target, number, who, respond, audit.get()});
                      });
}

void Router::Run(void (*handler)(Router&, const Call&), const Call& call) {
    try {
        handler(*this, call);
    } catch (const StoreError& e) {
        call.respond(FromOutcome(call.request, Outcome::Fail(K::kStoreFailed, e.what())));
    } catch (const std::exception& e) {
        spdlog::error("event=request_failed method={} reason=\"{}\"", std::string(call.request.method_string()), e.what());
        call.respond(ErrorResponse(call.request, http::status::internal_server_error, "internal", "the request could not be served"));
    }
}

void Router::AuditTrail(const Call& c) {
    AuditFilter filter;
    const auto& q = c.target.query;
    SaleFilter range;
    if (!TimeRange(q, range)) return c.respond(BadRequest(c.request, "from and to must be instants with a zone (RFC 3339)"));
    filter.from = range.from;
    filter.to = range.to;
    if (auto it = q.find("actor"); it != q.end()) filter.actor = it->second;
    if (auto it = q.find("limit"); it != q.end()) {
        const auto limit = ParseId(it->second);
        if (!limit || *limit < 1 || *limit > 1000) return c.respond(BadRequest(c.request, "limit must be from 1 to 1000"));
        filter.limit = static_cast<int>(*limit);
    }
    auto entries = json::array();
    for (const auto& e : store_.AuditTrail(filter)) entries.push_back(AuditJson(e));
    c.Ok(json{{"entries", entries}});
}

void Router::Sales(const Call& c) {
    SaleFilter filter;
    const auto& q = c.target.query;
    if (auto it = q.find("state"); it != q.end()) {
        if (it->second != "payable" && it->second != "locked" && it->second != "cleared" && it->second != "drive_off" &&
            it->second != "test")
            return c.respond(BadRequest(c.request, "state must be payable, locked, cleared, drive_off or test"));
        filter.state = it->second;
    }
    if (auto it = q.find("pump"); it != q.end()) {
        const auto pump = ParseId(it->second);
        if (!pump || *pump > kMaxPump) return c.respond(BadRequest(c.request, "pump must be a pump number"));
        filter.pump = static_cast<int>(*pump);
    }
    if (auto it = q.find("after"); it != q.end()) {
        const auto after = ParseId(it->second);
        if (!after) return c.respond(BadRequest(c.request, "after must be a sale id"));
        filter.after = *after;
    }
    if (auto it = q.find("limit"); it != q.end()) {
        const auto limit = ParseId(it->second);
        if (!limit || *limit < 1 || *limit > 1000) return c.respond(BadRequest(c.request, "limit must be from 1 to 1000"));
        filter.limit = static_cast<int>(*limit);
    }
    if (!TimeRange(q, filter)) return c.respond(BadRequest(c.request, "from and to must be instants with a zone (RFC 3339)"));
    auto sales = json::array();
    for (const auto& sale : store_.List(filter)) sales.push_back(SaleJson(sale));
    c.Ok(json{{"sales", sales}});
}

void Router::Summary(const Call& c) {
    SaleFilter filter;
    if (!TimeRange(c.target.query, filter)) return c.respond(BadRequest(c.request, "from and to must be instants with a zone (RFC 3339)"));
    auto grades = json::array();
    GradeTotal all;
    for (const auto& g : store_.Summary(filter)) {
        grades.push_back(
            {{"grade", g.grade}, {"sales", g.sales}, {"volume", Hundredths(g.volume_cl)}, {"amount", Hundredths(g.amount_cents)}});
        all.sales += g.sales;
        all.volume_cl += g.volume_cl;
        all.amount_cents += g.amount_cents;
    }
    const GradeTotal test = store_.TestTotal(filter);
    c.Ok({{"from", filter.from ? json(*filter.from) : json(nullptr)},
          {"to", filter.to ? json(*filter.to) : json(nullptr)},
          {"grades", grades},
          {"total", {{"sales", all.sales}, {"volume", Hundredths(all.volume_cl)}, {"amount", Hundredths(all.amount_cents)}}},
          {"test", {{"sales", test.sales}, {"volume", Hundredths(test.volume_cl)}, {"amount", Hundredths(test.amount_cents)}}}});
}

void Router::Shifts(const Call& c) {
    int limit = 20;
    if (auto it = c.target.query.find("limit"); it != c.target.query.end()) {
        const auto given = ParseId(it->second);
        if (!given || *given < 1 || *given > 1000) return c.respond(BadRequest(c.request, "limit must be from 1 to 1000"));
        limit = static_cast<int>(*given);
    }
    auto shifts = json::array();
    for (const auto& shift : store_.Shifts(limit)) shifts.push_back(ShiftJson(shift, false));
    c.Ok(json{{"shifts", shifts}});
}

namespace {

// A reading in litres or money with its two decimals; empty when the JSON holds none.
std::string CsvNumber(const json& value) {
    if (!value.is_number()) return "";
    char text[40];
    std::snprintf(text, sizeof text, "%.2f", value.get<double>());
    return text;
}

// One row per nozzle, for a spreadsheet; an open shift has the header only.
std::string ShiftCsv(const json& report) {
    std::string csv =
        "pump,nozzle,grade,sales,volume,amount,totalizer_open_volume,totalizer_open_amount,totalizer_close_volume,"
        "totalizer_close_amount,growth_volume,growth_amount,difference_cl,unread\r\n";
    if (!report.is_object()) return csv;
    for (const auto& n : report["nozzles"]) {
        const auto part = [&](const char* key, const char* field) { return n[key].is_object() ? CsvNumber(n[key][field]) : ""; };
        // Grades are the station's own short ids; quoted all the same, should one hold a comma.
        std::string grade = n["grade"].get<std::string>();
        for (std::size_t at = 0; (at = grade.find('"', at)) != std::string::npos; at += 2) grade.insert(at, 1, '"');
        csv += std::to_string(n["pump"].get<int>()) + "," + std::to_string(n["nozzle"].get<int>()) + ",\"" + grade + "\"," +
               std::to_string(n["sales"].get<std::int64_t>()) + "," + CsvNumber(n["volume"]) + "," + CsvNumber(n["amount"]) + "," +
               part("totalizer_open", "volume") + "," + part("totalizer_open", "amount") + "," + part("totalizer_close", "volume") + "," +
               part("totalizer_close", "amount") + "," + part("growth", "volume") + "," + part("growth", "amount") + "," +
               (n["difference_cl"].is_number() ? std::to_string(n["difference_cl"].get<std::int64_t>()) : "") + "," +
               (n["unread"].get<bool>() ? "true" : "false") + "\r\n";
    }
    return csv;
}

}  // namespace

void Router::Shift(const Call& c) {
    const auto shift = store_.FindShift(c.number);
    if (!shift) return c.Fail(http::status::not_found, "not_found", "no shift " + std::to_string(c.number));
    const auto accept = c.request[http::field::accept];
    if (std::string_view(accept.data(), accept.size()).find("text/csv") == std::string_view::npos) return c.Ok(ShiftJson(*shift));
    Response res{http::status::ok, c.request.version()};
    res.set(http::field::content_type, "text/csv; charset=utf-8");
    res.set(http::field::content_disposition, "attachment; filename=\"shift-" + std::to_string(shift->id) + ".csv\"");
    res.set(http::field::cache_control, "no-store");
    res.keep_alive(c.request.keep_alive());
    res.body() = ShiftCsv(shift->closed.empty() ? json(nullptr) : shift->report);
    res.prepare_payload();
    c.respond(std::move(res));
}

Response Router::Metrics(const Request& request) {
    std::ostringstream out;
    out << "# TYPE dorv_line_exchanges_total counter\n";
    const auto lines = forecourt_.Metrics();
    for (const auto& l : lines) out << "dorv_line_exchanges_total{line=\"" << l.line << "\"} " << l.exchanges << "\n";
    out << "# TYPE dorv_line_failures_total counter\n";
    for (const auto& l : lines) out << "dorv_line_failures_total{line=\"" << l.line << "\"} " << l.failures << "\n";
    out << "# TYPE dorv_line_poll_cycle_milliseconds gauge\n";
    for (const auto& l : lines) out << "dorv_line_poll_cycle_milliseconds{line=\"" << l.line << "\"} " << l.poll_ms << "\n";
    out << "# TYPE dorv_line_poll_cycles_total counter\n";
    for (const auto& l : lines) out << "dorv_line_poll_cycles_total{line=\"" << l.line << "\"} " << l.cycles << "\n";
    out << "# TYPE dorv_line_online gauge\n";
    for (const auto& l : lines) out << "dorv_line_online{line=\"" << l.line << "\"} " << (l.online ? 1 : 0) << "\n";
    out << "# TYPE dorv_sales gauge\n";
    const auto counts = store_.CountByState();
    for (const char* state : {"payable", "locked", "cleared"}) {
        const auto it = counts.find(state);
        out << "dorv_sales{state=\"" << state << "\"} " << (it == counts.end() ? 0 : it->second) << "\n";
    }
    out << "# TYPE dorv_http_connections gauge\ndorv_http_connections " << connections.load() << "\n";
    out << "# TYPE dorv_event_clients gauge\ndorv_event_clients " << event_clients.load() << "\n";
    out << "# TYPE dorv_event_clients_dropped_total counter\ndorv_event_clients_dropped_total " << dropped_clients.load() << "\n";
    out << "# TYPE dorv_events_last_seq gauge\ndorv_events_last_seq " << hub_.LastSeq() << "\n";
    if (extra_metrics) out << extra_metrics();
    Response res{http::status::ok, request.version()};
    res.set(http::field::content_type, "text/plain; version=0.0.4");
    res.keep_alive(request.keep_alive());
    res.body() = out.str();
    res.prepare_payload();
    return res;
}

}  // namespace forecourt
