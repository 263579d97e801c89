// A small JSON object writer for the host program's --json output: one object per line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dorv::tools {

std::string JsonString(std::string_view text);
std::string JsonNumber(double value);

class JsonObject {
public:
    JsonObject& Add(std::string_view key, std::string_view text);
    JsonObject& Add(std::string_view key, const char* text) { return Add(key, std::string_view(text)); }
    JsonObject& Add(std::string_view key, double value);
    JsonObject& Add(std::string_view key, std::int64_t value);
    JsonObject& Add(std::string_view key, int value) { return Add(key, static_cast<std::int64_t>(value)); }
    JsonObject& Add(std::string_view key, bool value);
    JsonObject& AddRaw(std::string_view key, std::string_view json);
    JsonObject& AddNull(std::string_view key) { return AddRaw(key, "null"); }
    bool Empty() const { return fields_.empty(); }
    std::string Str() const;

private:
    std::vector<std::string> fields_;
};

std::string JsonArray(const std::vector<std::string>& items);

}  // namespace dorv::tools
