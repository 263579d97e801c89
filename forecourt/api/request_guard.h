// What a browser may send on another site's behalf is refused before any route sees it: a
// request from a page of another origin (Origin), one for a name the service does not answer
// to (a DNS name rebound to this address: Host), and a body that does not say it is JSON (a
// page may post a form or plain text to any address without asking first).
//
// Clients that are no browser send no Origin and are not affected by it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "config/config.h"
#include "http_types.h"

namespace forecourt {

class RequestGuard {
public:
    explicit RequestGuard(const Config& config);

    // The refusal to answer, or nothing when the request may go on to its route.
    std::optional<Response> Check(const Request& request) const;
    // The answer to a browser's preflight from a configured origin; nothing for any other request.
    std::optional<Response> Preflight(const Request& request) const;
    // The configured origin the request comes from, which may read the answers it asked for.
    std::optional<std::string> Reader(const Request& request) const;
    static void AllowReader(const std::optional<std::string>& reader, Response& response);

    // The name a Host header gives, without port or brackets, lower case.
    static std::string HostName(std::string_view host);

private:
    bool HostAllowed(std::string_view host) const;
    bool OwnOrigin(std::string_view origin, std::string_view host) const;
    bool ConfiguredOrigin(std::string_view origin) const;

    const Config& config_;
};

}  // namespace forecourt
