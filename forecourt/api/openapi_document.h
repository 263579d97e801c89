// The API's documents, compiled in: the OpenAPI document of its routes (forecourt/api/openapi.json)
// and the AsyncAPI document of its event stream (forecourt/api/asyncapi.json).
#pragma once

#include <string_view>

namespace forecourt {

std::string_view OpenApiDocument();
std::string_view AsyncApiDocument();

}  // namespace forecourt
