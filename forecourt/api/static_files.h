// Files served as they are, from a table compiled into the program (the console's pages).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "http_types.h"

namespace forecourt {

struct StaticFile {
    std::string path;          // "/", "/console.js"
    std::string content_type;  // "text/html; charset=utf-8"
    std::string_view bytes;
};

// The file at the request's path, for GET and HEAD; nullopt when the table has none.
std::optional<Response> ServeStatic(const std::vector<StaticFile>& files, const Request& request, const std::string& path);

}  // namespace forecourt
