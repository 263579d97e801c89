#include "request_guard.h"

#include <algorithm>
#include <boost/asio/ip/address.hpp>
#include <cctype>

#include "router.h"

namespace forecourt {
namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    for (auto& ch : out) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return out;
}

std::string_view Field(const Request& request, http::field field) {
    const auto value = request[field];
    return TrimSpace(std::string_view(value.data(), value.size()));
}

// application/json, or a type of it such as application/merge-patch+json; parameters allowed.
bool IsJson(std::string_view content_type) {
    const std::string type = Lower(TrimSpace(content_type.substr(0, content_type.find(';'))));
    return type == "application/json" || (type.rfind("application/", 0) == 0 && type.size() > 17 && type.ends_with("+json"));
}

}  // namespace

RequestGuard::RequestGuard(const Config& config) : config_(config) {}

std::string RequestGuard::HostName(std::string_view host) {
    host = TrimSpace(host);
    if (!host.empty() && host.front() == '[') {
        const auto close = host.find(']');
        return Lower(host.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
    }
    host = host.substr(0, host.rfind(':'));
    if (!host.empty() && host.back() == '.') host.remove_suffix(1);
    return Lower(host);
}

bool RequestGuard::HostAllowed(std::string_view host) const {
    // With tokens and no names configured every name is answered: the tokens keep the API.
    if (!config_.tokens.empty() && config_.http.hosts.empty()) return true;
    const std::string name = HostName(host);
    if (name.empty()) return false;
    // No DNS name can be rebound to an address written as one.
    boost::system::error_code ec;
    boost::asio::ip::make_address(name, ec);
    if (!ec || name == "localhost") return true;
    return std::find(config_.http.hosts.begin(), config_.http.hosts.end(), name) != config_.http.hosts.end();
}

bool RequestGuard::OwnOrigin(std::string_view origin, std::string_view host) const {
    const std::string scheme = config_.tls.enabled() ? "https://" : "http://";
    return !host.empty() && HostAllowed(host) && Lower(origin) == scheme + Lower(host);
}

bool RequestGuard::ConfiguredOrigin(std::string_view origin) const {
    const std::string lower = Lower(origin);
    return std::find(config_.http.origins.begin(), config_.http.origins.end(), lower) != config_.http.origins.end();
}

std::optional<Response> RequestGuard::Check(const Request& request) const {
    const auto host = Field(request, http::field::host);
    // A client without a Host (HTTP/1.0) is no browser; every browser sends one.
    if (request.count(http::field::host) && !HostAllowed(host))
        return ErrorResponse(request, http::status::misdirected_request, "host_refused",
                             "this service does not answer to the name " + std::string(host));
    if (request.count(http::field::origin)) {
        const auto origin = Field(request, http::field::origin);
        if (!OwnOrigin(origin, host) && !ConfiguredOrigin(origin))
            return ErrorResponse(request, http::status::forbidden, "origin_refused",
                                 "requests from " + std::string(origin) + " are not served");
    }
    if (!request.body().empty() && !IsJson(Field(request, http::field::content_type)))
        return ErrorResponse(request, http::status::unsupported_media_type, "unsupported_media_type",
                             "a body is read only as Content-Type: application/json");
    return std::nullopt;
}

std::optional<Response> RequestGuard::Preflight(const Request& request) const {
    if (request.method() != http::verb::options || !request.count(http::field::origin)) return std::nullopt;
    const auto origin = Field(request, http::field::origin);
    if (!ConfiguredOrigin(origin)) return std::nullopt;
    Response res{http::status::no_content, request.version()};
    res.set(http::field::access_control_allow_methods, "GET, POST, PUT, DELETE");
    res.set(http::field::access_control_allow_headers, "Authorization, Content-Type");
    res.set(http::field::access_control_max_age, "600");
    res.keep_alive(request.keep_alive());
    AllowReader(std::string(origin), res);
    return res;
}

std::optional<std::string> RequestGuard::Reader(const Request& request) const {
    if (!request.count(http::field::origin)) return std::nullopt;
    const auto origin = Field(request, http::field::origin);
    if (!ConfiguredOrigin(origin)) return std::nullopt;
    return std::string(origin);
}

void RequestGuard::AllowReader(const std::optional<std::string>& reader, Response& response) {
    if (!reader) return;
    response.set(http::field::access_control_allow_origin, *reader);
    response.set(http::field::vary, "Origin");
}

}  // namespace forecourt
