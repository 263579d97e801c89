#include "router.h"

#include <spdlog/spdlog.h>

#include <cctype>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>
#include <algorithm>
#include <cctype>
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

std::vector<std::string> Segments(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t start = 1;
    while (start <= path.size()) {
        const auto slash = path.find('/', start);
        parts.push_back(path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return parts;
}

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
    if (y < 1970 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 || sec < 0 || sec > 59 ||
        text[4] != '-' || text[7] != '-' || (text[10] != 'T' && text[10] != 't') || text[13] != ':' || text[16] != ':')
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

Response BadRequest(const Request& request, const std::string& message) {
    return ErrorResponse(request, http::status::bad_request, "bad_request", message);
}

// A route's method and the role it needs.
struct Route {
    http::verb method;
    Role role;
};

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

Response ErrorResponse(const Request& request, http::status status, const std::string& error, const std::string& message,
                       int code) {
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
    Respond answer = [answered, reader = guard_.Reader(request), respond = std::move(respond)](Response res) {
        if (answered->exchange(true)) return;
        RequestGuard::AllowReader(reader, res);
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

void Router::Dispatch(const Request& request, Respond respond) {
    const auto target = ParseTarget(std::string_view(request.target().data(), request.target().size()));
    if (!target) return respond(BadRequest(request, "malformed request target"));
    const auto& path = target->path;
    const auto method = request.method();
    const auto s = Segments(path);

    if (path == "/healthz" && method == http::verb::get) {
        const bool ok = store_.Healthy();
        json body = {{"status", ok ? "ok" : "store_failed"}, {"lines", config_.lines.size()}, {"lines_online", forecourt_.LinesOnline()}};
        return respond(JsonResponse(request, ok ? http::status::ok : http::status::service_unavailable, body.dump()));
    }
    if (path == "/metrics" && method == http::verb::get) return respond(Metrics(request));
    if (path == "/api/v1/openapi.json" && method == http::verb::get)
        return respond(JsonResponse(request, http::status::ok, std::string(OpenApiDocument())));
    if (s.size() < 2 || s[0] != "api" || s[1] != "v1") {
        if (auto file = ServeStatic(statics_, request, path)) return respond(std::move(*file));
        return respond(ErrorResponse(request, http::status::not_found, "not_found", "no route " + path));
    }

    // Route: the role it needs, then the handler.
    std::optional<Route> route;
    std::function<void(const Identity&)> run;
    auto need = [&](http::verb m, Role role, std::function<void(const Identity&)> handler) {
        route = Route{m, role};
        run = std::move(handler);
    };
    // The number after the collection (a pump or a sale), -1 when there is none.
    std::int64_t number = -1;
    if (s.size() >= 4)
        if (const auto id = ParseId(s[3])) number = *id;
    auto done = [request, respond](Outcome o) { respond(FromOutcome(request, o)); };
    const std::string body = request.body();

    if (s.size() == 3 && s[2] == "forecourt") {
        need(http::verb::get, Role::kViewer, [&](const Identity& who) {
            // The role lets a client show what it may do without trying it.
            // The caller's own name, so a client knows its own sale locks (locked_by) from others'.
            const json extra = {{"role", RoleName(who.role)}, {"caller", who.name}, {"uplink", uplink_status ? uplink_status() : json(nullptr)}};
            respond(JsonResponse(request, http::status::ok, forecourt_.ForecourtText(extra)));
        });
    } else if (s.size() == 3 && s[2] == "pumps") {
        need(http::verb::get, Role::kViewer, [&](const Identity&) { respond(JsonResponse(request, http::status::ok, *forecourt_.PumpsView())); });
    } else if (s.size() == 3 && s[2] == "stop") {
        need(http::verb::post, Role::kPos, [&](const Identity&) { forecourt_.StopAll(done); });
    } else if (s.size() >= 4 && s[2] == "pumps" && number >= 0 && number <= 100000) {
        const int pump = static_cast<int>(number);
        if (s.size() == 4) {
            need(http::verb::get, Role::kViewer, [&, pump](const Identity&) {
                const auto view = forecourt_.PumpView(pump);
                respond(view ? JsonResponse(request, http::status::ok, *view)
                             : ErrorResponse(request, http::status::not_found, "not_found", "no pump " + std::to_string(pump)));
            });
        } else if (s.size() == 5 && s[4] == "authorize") {
            need(http::verb::post, Role::kPos, [&, pump](const Identity& who) {
                auto decoded = DecodeAuthorize(body);
                if (auto* error = std::get_if<std::string>(&decoded)) return respond(BadRequest(request, *error));
                forecourt_.Authorize(pump, std::get<AuthorizeRequest>(decoded), who.name, done);
            });
        } else if (s.size() == 5 && s[4] == "stop") {
            need(http::verb::post, Role::kPos, [&, pump](const Identity&) { forecourt_.StopPump(pump, done); });
        } else if (s.size() == 5 && s[4] == "totals") {
            need(http::verb::get, Role::kViewer, [&, pump](const Identity& who) { forecourt_.Totals(pump, who.name, done); });
        }
    } else if (s.size() == 3 && s[2] == "prices") {
        if (method == http::verb::put) {
            need(http::verb::put, Role::kManager, [&](const Identity&) {
                auto decoded = DecodePrices(body);
                if (auto* error = std::get_if<std::string>(&decoded)) return respond(BadRequest(request, *error));
                done(forecourt_.SetPrices(std::get<0>(decoded)));
            });
        } else {
            need(http::verb::get, Role::kViewer, [&](const Identity&) { respond(JsonResponse(request, http::status::ok, PriceSetJson(forecourt_.Prices()).dump())); });
        }
    } else if (s.size() == 3 && s[2] == "sales") {
        need(http::verb::get, Role::kViewer, [&](const Identity&) {
            SaleFilter filter;
            const auto& q = target->query;
            if (auto it = q.find("state"); it != q.end()) {
                if (it->second != "payable" && it->second != "locked" && it->second != "cleared")
                    return respond(BadRequest(request, "state must be payable, locked or cleared"));
                filter.state = it->second;
            }
            if (auto it = q.find("pump"); it != q.end()) {
                const auto pump = ParseId(it->second);
                if (!pump || *pump > 100000) return respond(BadRequest(request, "pump must be a pump number"));
                filter.pump = static_cast<int>(*pump);
            }
            if (auto it = q.find("after"); it != q.end()) {
                const auto after = ParseId(it->second);
                if (!after) return respond(BadRequest(request, "after must be a sale id"));
                filter.after = *after;
            }
            if (auto it = q.find("limit"); it != q.end()) {
                const auto limit = ParseId(it->second);
                if (!limit || *limit < 1 || *limit > 1000) return respond(BadRequest(request, "limit must be from 1 to 1000"));
                filter.limit = static_cast<int>(*limit);
            }
            if (!TimeRange(q, filter)) return respond(BadRequest(request, "from and to must be instants with a zone (RFC 3339)"));
            auto sales = json::array();
            for (const auto& sale : store_.List(filter)) sales.push_back(SaleJson(sale));
            respond(JsonResponse(request, http::status::ok, json{{"sales", sales}}.dump()));
        });
    } else if (s.size() == 4 && s[2] == "sales" && s[3] == "summary") {
        need(http::verb::get, Role::kViewer, [&](const Identity&) {
            SaleFilter filter;
            if (!TimeRange(target->query, filter))
                return respond(BadRequest(request, "from and to must be instants with a zone (RFC 3339)"));
            auto grades = json::array();
            GradeTotal all;
            for (const auto& g : store_.Summary(filter)) {
                grades.push_back({{"grade", g.grade}, {"sales", g.sales}, {"volume", Hundredths(g.volume_cl)}, {"amount", Hundredths(g.amount_cents)}});
                all.sales += g.sales;
                all.volume_cl += g.volume_cl;
                all.amount_cents += g.amount_cents;
            }
            const json body = {{"from", filter.from ? json(*filter.from) : json(nullptr)},
                               {"to", filter.to ? json(*filter.to) : json(nullptr)},
                               {"grades", grades},
                               {"total", {{"sales", all.sales}, {"volume", Hundredths(all.volume_cl)}, {"amount", Hundredths(all.amount_cents)}}}};
            respond(JsonResponse(request, http::status::ok, body.dump()));
        });
    } else if (s.size() >= 4 && s[2] == "sales" && number >= 0) {
        const std::int64_t id = number;
        if (s.size() == 4) {
            need(http::verb::get, Role::kViewer, [&, id](const Identity&) {
                auto sale = store_.Find(id);
                if (!sale || sale->state == "open" || sale->state == "void")
                    return respond(ErrorResponse(request, http::status::not_found, "not_found", "no sale " + std::to_string(id)));
                respond(JsonResponse(request, http::status::ok, SaleJson(*sale).dump()));
            });
        } else if (s.size() == 5 && s[4] == "unlock") {
            need(http::verb::post, Role::kManager, [&, id](const Identity&) { done(forecourt_.Unlock(id)); });
        } else if (s.size() == 5 && (s[4] == "lock" || s[4] == "clear")) {
            const bool lock = s[4] == "lock";
            need(http::verb::post, Role::kPos, [&, id, lock](const Identity& who) {
                done(lock ? forecourt_.Lock(id, who.name) : forecourt_.Clear(id, who.name));
            });
        }
    } else if (s.size() == 6 && s[2] == "emulator" && s[3] == "pumps" && (s[5] == "lift" || s[5] == "hang")) {
        const auto parsed = ParseId(s[4]);
        const int pump = parsed && *parsed <= 100000 ? static_cast<int>(*parsed) : -1;
        const bool lift = s[5] == "lift";
        if (pump >= 0) {
            need(http::verb::post, Role::kPos, [&, pump, lift](const Identity&) {
                auto nozzle = DecodeNozzle(body);
                if (auto* error = std::get_if<std::string>(&nozzle)) return respond(BadRequest(request, *error));
                done(forecourt_.MoveNozzle(pump, std::get<int>(nozzle), lift));
            });
        }
    } else if (s.size() == 3 && s[2] == "events") {
        need(http::verb::get, Role::kViewer, [&](const Identity&) {
            respond(ErrorResponse(request, http::status::bad_request, "bad_request", "the event stream is a WebSocket: send an upgrade request"));
        });
    }

    if (!route) return respond(ErrorResponse(request, http::status::not_found, "not_found", "no route " + path));
    if (method != route->method)
        return respond(ErrorResponse(request, http::status::method_not_allowed, "method_not_allowed",
                                     std::string(http::to_string(method)) + " is not allowed on " + path));
    auto who = Authenticate(request, nullptr);
    if (auto* refused = std::get_if<Response>(&who)) return respond(std::move(*refused));
    const auto& identity = std::get<Identity>(who);
    if (static_cast<int>(identity.role) < static_cast<int>(route->role))
        return respond(ErrorResponse(request, http::status::forbidden, "forbidden",
                                     std::string("this needs the ") + RoleName(route->role) + " role"));
    try {
        run(identity);
    } catch (const StoreError& e) {
        respond(FromOutcome(request, Outcome::Fail(K::kStoreFailed, e.what())));
    }
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
