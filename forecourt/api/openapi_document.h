// The API's OpenAPI document (forecourt/api/openapi.json), compiled in.
#pragma once

#include <string_view>

namespace forecourt {

std::string_view OpenApiDocument();

}  // namespace forecourt
