// The HTTP message types the API's rooms share.
#pragma once

#include <boost/beast/http.hpp>
#include <functional>
#include <string_view>

namespace forecourt {

namespace http = boost::beast::http;
using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;
// Called once with the answer; may be called from another thread (a line's).
using Respond = std::function<void(Response)>;

// A header value or list element without the spaces and tabs HTTP allows around it.
inline std::string_view TrimSpace(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

}  // namespace forecourt
