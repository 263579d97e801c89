// The router's route table and the API document name the same operations, and the routes
// served without a token are the ones the document says need none.
#include <gtest/gtest.h>

#include <cctype>
#include <nlohmann/json.hpp>

#include "api/openapi_document.h"
#include "api/router.h"

namespace forecourt {
namespace {

using nlohmann::json;

TEST(RouteTable, NamesTheDocumentsOperationsWithTheirSecurity) {
    const json doc = json::parse(OpenApiDocument());
    std::size_t operations = 0;
    for (const auto& [path, item] : doc["paths"].items())
        for (const auto& [method, operation] : item.items()) operations += operation.is_object() && operation.contains("operationId");
    const auto routes = ApiRoutes();
    EXPECT_EQ(routes.size(), operations);
    for (const auto& route : routes) {
        std::string method(http::to_string(route.method));
        for (auto& c : method) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const json operation = doc["paths"].value(std::string(route.path), json::object()).value(method, json::object());
        EXPECT_EQ(operation.value("operationId", ""), route.operation) << method << " " << route.path;
        EXPECT_EQ(operation.contains("security") && operation["security"].empty(), !route.role) << method << " " << route.path;
    }
}

}  // namespace
}  // namespace forecourt
