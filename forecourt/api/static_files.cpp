#include "static_files.h"

namespace forecourt {

std::optional<Response> ServeStatic(const std::vector<StaticFile>& files, const Request& request, const std::string& path) {
    if (request.method() != http::verb::get && request.method() != http::verb::head) return std::nullopt;
    for (const auto& file : files) {
        if (file.path != path) continue;
        Response res{http::status::ok, request.version()};
        res.set(http::field::content_type, file.content_type);
        res.set(http::field::cache_control, "no-cache");
        if (request.method() == http::verb::get) res.body().assign(file.bytes.data(), file.bytes.size());
        res.prepare_payload();
        if (request.method() == http::verb::head) res.content_length(file.bytes.size());
        return res;
    }
    return std::nullopt;
}

}  // namespace forecourt
