#include "json.h"

#include <cmath>
#include <cstdio>

namespace dorv::tools {

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (u < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", u);
                    out += buf;
                } else {
                    out += c;  // UTF-8 passes through
                }
        }
    }
    return out + "\"";
}

std::string JsonNumber(double value) {
    if (!std::isfinite(value)) return "null";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.15g", value);
    return buf;
}

JsonObject& JsonObject::Add(std::string_view key, std::string_view text) { return AddRaw(key, JsonString(text)); }
JsonObject& JsonObject::Add(std::string_view key, double value) { return AddRaw(key, JsonNumber(value)); }
JsonObject& JsonObject::Add(std::string_view key, std::int64_t value) { return AddRaw(key, std::to_string(value)); }
JsonObject& JsonObject::Add(std::string_view key, bool value) { return AddRaw(key, value ? "true" : "false"); }

JsonObject& JsonObject::AddRaw(std::string_view key, std::string_view json) {
    fields_.push_back(JsonString(key) + ":" + std::string(json));
    return *this;
}

std::string JsonObject::Str() const {
    std::string out = "{";
    for (std::size_t i = 0; i < fields_.size(); ++i) out += (i ? "," : "") + fields_[i];
    return out + "}";
}

std::string JsonArray(const std::vector<std::string>& items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + items[i];
    return out + "]";
}

}  // namespace dorv::tools
