// The HTTP message types the API's rooms share.
#pragma once

#include <boost/beast/http.hpp>
#include <functional>

namespace forecourt {

namespace http = boost::beast::http;
using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;
// Called once with the answer; may be called from another thread (a line's).
using Respond = std::function<void(Response)>;

}  // namespace forecourt
