// The API's routes: who may call them (Bearer tokens with roles), what they take and what
// they answer, as the OpenAPI document describes. Each route is declared once, in a table with
// its method, role and the document's operationId; a request is looked up there, HEAD served
// as GET is without the body, and a method a path does not take answered 405 with Allow.
// Knows no socket: the server hands it whole requests and writes what it answers.
//
// Threads: Handle may run on several threads at once; `respond` may be called on a line's
// thread or the router's writer, after Handle returned.
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <boost/asio/thread_pool.hpp>
#include <nlohmann/json.hpp>

#include "config/config.h"
#include "http_types.h"
#include "request_guard.h"
#include "static_files.h"
#include "view_encodings.h"

namespace forecourt {

class EventHub;
class Forecourt;
class Store;

struct Identity {
    std::string name;
    Role role = Role::kViewer;
};

// A route as the API document names it: its method, path, the role it needs (none for the
// open ones) and the document's operationId.
struct RouteInfo {
    http::verb method;
    std::string_view path;
    std::optional<Role> role;
    std::string_view operation;
};
// Every route of the API (the console's static files aside), in the order they are matched.
std::vector<RouteInfo> ApiRoutes();

struct EventsRequest {
    Identity who;
    std::int64_t after = -1;  // -1: live events only
};

class Router {
public:
    Router(const Config& config, Forecourt& forecourt, Store& store, EventHub& hub, std::vector<StaticFile> statics = {});

    void Handle(const Request& request, Respond respond);
    // The event stream's upgrade request: who asks and from where to replay, or the refusal.
    std::variant<EventsRequest, Response> Events(const Request& request);
    // The request carries a token the station knows (false when none are configured).
    bool Trusted(const Request& request);

    std::atomic<int> connections{0};
    std::atomic<int> event_clients{0};
    std::atomic<std::uint64_t> dropped_clients{0};
    // More Prometheus lines for GET /metrics (the uplink's); set before the server starts.
    std::function<std::string()> extra_metrics;
    // The uplink's state for GET /forecourt; unset when no uplink is configured (null there).
    std::function<nlohmann::json()> uplink_status;

private:
    friend struct RouteTable;
    struct Call;
    // The caller, or the 401 to answer.
    std::variant<Identity, Response> Authenticate(const Request& request, const std::string* query_token);
    Response Metrics(const Request& request);
    void Sales(const Call& call);
    void Summary(const Call& call);
    void AuditTrail(const Call& call);
    void Shifts(const Call& call);
    void Shift(const Call& call);
    void Dispatch(const Request& request, Respond respond);
    void Run(void (*handler)(Router&, const Call&), const Call& call);

    const Config& config_;
    Forecourt& forecourt_;
    Store& store_;
    EventHub& hub_;
    std::vector<StaticFile> statics_;
    RequestGuard guard_;
    ViewEncodings pumps_encodings_;  // GET /pumps: the list's tag and gzip form, made once per change
    // The one thread that runs the routes writing the store, in the order they came.
    boost::asio::thread_pool writer_{1};
    std::atomic<int> writes_waiting_{0};
};

Response JsonResponse(const Request& request, http::status status, const std::string& body);
Response ErrorResponse(const Request& request, http::status status, const std::string& error, const std::string& message, int code = 0);

}  // namespace forecourt
