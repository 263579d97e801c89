#include "request_decoder.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

namespace forecourt {
namespace {

using nlohmann::json;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<std::string> PercentDecode(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            if (i + 2 >= text.size()) return std::nullopt;
            const int hi = HexDigit(text[i + 1]), lo = HexDigit(text[i + 2]);
            if (hi < 0 || lo < 0) return std::nullopt;
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else {
            out += text[i] == '+' ? ' ' : text[i];
        }
    }
    return out;
}

std::optional<json> ParseObject(std::string_view body, std::string& error) {
    json value = json::parse(body.begin(), body.end(), nullptr, false);
    if (value.is_discarded()) {
        error = "the body is not valid JSON";
        return std::nullopt;
    }
    if (!value.is_object()) {
        error = "the body must be a JSON object";
        return std::nullopt;
    }
    return value;
}

// A positive amount in hundredths (litres or money), at most `max`.
std::optional<std::int64_t> Hundredths(const json& value, double max) {
    if (!value.is_number()) return std::nullopt;
    const double v = value.get<double>();
    if (!std::isfinite(v) || v <= 0 || v > max) return std::nullopt;
    // Exactly two decimals at most: the hundredths read back as the very number sent, so
    // neither 1e-9 (zero hundredths) nor 1.000000001 is rounded into another value.
    const std::int64_t cents = std::llround(v * 100.0);
    if (cents < 1 || static_cast<double>(cents) / 100.0 != v) return std::nullopt;
    return cents;
}

// A nozzle from 1 to 4. A JSON number without a fraction is a whole number however it is
// written, so 1.0 and 1e0 are nozzle 1 as clients' schema checks take them to be.
std::optional<int> NozzleNumber(const json& value) {
    if (!value.is_number()) return std::nullopt;
    const double v = value.get<double>();
    if (!(v >= 1 && v <= 4) || v != std::floor(v)) return std::nullopt;
    return static_cast<int>(v);
}

}  // namespace

std::optional<Target> ParseTarget(std::string_view target) {
    if (target.empty() || target.front() != '/') return std::nullopt;
    Target t;
    const auto q = target.find('?');
    auto path = PercentDecode(target.substr(0, q));
    if (!path) return std::nullopt;
    t.path = *path;
    if (q == std::string_view::npos) return t;
    std::string_view query = target.substr(q + 1);
    while (!query.empty()) {
        const auto amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (pair.empty()) continue;
        const auto eq = pair.find('=');
        auto key = PercentDecode(pair.substr(0, eq));
        auto value = PercentDecode(eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1));
        if (!key || !value) return std::nullopt;
        t.query[*key] = *value;
    }
    return t;
}

std::optional<std::int64_t> ParseId(std::string_view text) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

Decoded<AuthorizeRequest> DecodeAuthorize(std::string_view body) {
    std::string error;
    auto object = ParseObject(body, error);
    if (!object) return error;
    AuthorizeRequest request;
    for (const auto& [key, value] : object->items()) {
        if (key == "nozzle") {
            const auto nozzle = NozzleNumber(value);
            if (!nozzle) return std::string("nozzle must be a whole number from 1 to 4");
            request.nozzle = *nozzle;
        } else if (key == "preset") {
            if (value.is_null()) continue;
            if (!value.is_object() || value.size() != 1)
                return std::string("preset must be null, {\"volume\": litres} or {\"amount\": money}");
            if (value.contains("volume")) {
                auto v = Hundredths(value["volume"], 999.99);
                if (!v) return std::string("preset.volume must be litres above 0, at most 999.99, with at most 2 decimals");
                request.preset = {Preset::Kind::kVolume, *v};
            } else if (value.contains("amount")) {
                auto v = Hundredths(value["amount"], 9999.99);
                if (!v) return std::string("preset.amount must be money above 0, at most 9999.99, with at most 2 decimals");
                request.preset = {Preset::Kind::kAmount, *v};
            } else {
                return std::string("preset must be null, {\"volume\": litres} or {\"amount\": money}");
            }
        } else if (key == "prepay") {
            if (!value.is_object() || value.size() != 1 || !value.contains("amount"))
                return std::string("prepay must be {\"amount\": money}");
            auto v = Hundredths(value["amount"], 9999.99);
            if (!v) return std::string("prepay.amount must be money above 0, at most 9999.99, with at most 2 decimals");
            request.prepay = *v;
        } else {
            return "unknown field " + key;
        }
    }
    // The prepay is the preset: the pump stops where the money does.
    if (request.prepay && request.preset.kind != Preset::Kind::kNone)
        return std::string("a prepay is its own preset: send prepay or preset, not both");
    return request;
}

Decoded<MoveRequest> DecodeMove(std::string_view body) {
    std::string error;
    auto object = ParseObject(body, error);
    if (!object) return error;
    MoveRequest request;
    bool pump = false;
    for (const auto& [key, value] : object->items()) {
        if (key == "pump") {
            const double v = value.is_number() ? value.get<double>() : 0;
            if (!(v >= 1 && v <= 100000) || v != std::floor(v)) return std::string("pump must be a pump number");
            request.pump = static_cast<int>(v);
            pump = true;
        } else if (key == "nozzle") {
            const auto nozzle = NozzleNumber(value);
            if (!nozzle) return std::string("nozzle must be a whole number from 1 to 4");
            request.nozzle = *nozzle;
        } else {
            return "unknown field " + key;
        }
    }
    if (!pump) return std::string("the body must be {\"pump\": number}");
    return request;
}

Decoded<MarkRequest> DecodeMark(std::string_view body) {
    std::string error;
    auto object = ParseObject(body, error);
    if (!object) return error;
    const std::string usage = "the body must be {\"as\": \"drive_off\"} or {\"as\": \"test\"}";
    if (object->size() != 1 || !object->contains("as") || !(*object)["as"].is_string()) return usage;
    const std::string as = (*object)["as"].get<std::string>();
    if (as != "drive_off" && as != "test") return usage;
    return MarkRequest{as};
}

Decoded<std::vector<std::pair<std::string, std::int64_t>>> DecodePrices(std::string_view body) {
    std::string error;
    auto object = ParseObject(body, error);
    if (!object) return error;
    if (object->size() != 1 || !object->contains("grades") || !(*object)["grades"].is_array() || (*object)["grades"].empty())
        return std::string("the body must be {\"grades\": [{\"grade\": id, \"price\": price}, ...]}");
    std::vector<std::pair<std::string, std::int64_t>> prices;
    for (const auto& item : (*object)["grades"]) {
        if (!item.is_object() || item.size() != 2 || !item.contains("grade") || !item["grade"].is_string() || !item.contains("price"))
            return std::string("each grade must be {\"grade\": id, \"price\": price}");
        auto cents = Hundredths(item["price"], 99.99);
        if (!cents) return std::string("price must be above 0 and at most 99.99, with at most 2 decimals");
        for (const auto& [grade, _] : prices)
            if (grade == item["grade"].get<std::string>()) return "grade " + grade + " is named twice";
        prices.emplace_back(item["grade"].get<std::string>(), *cents);
    }
    return prices;
}

Decoded<PriceChange> DecodePriceChange(std::string_view body) {
    std::string error;
    auto object = ParseObject(body, error);
    if (!object) return error;
    PriceChange change;
    if (const auto at = object->find("valid_from"); at != object->end()) {
        if (!at->is_string()) return std::string("valid_from must be an instant with a zone (RFC 3339)");
        change.valid_from = at->get<std::string>();
        object->erase(at);
    }
    auto grades = DecodePrices(object->dump());
    if (auto* refused = std::get_if<std::string>(&grades)) return std::move(*refused);
    change.grades = std::move(std::get<0>(grades));
    return change;
}

Decoded<int> DecodeNozzle(std::string_view body) {
    if (body.find_first_not_of(" \t\r\n") == std::string_view::npos) return 1;
    std::string error;
    auto object = ParseObject(body, error);
    if (!object) return error;
    int nozzle = 1;
    for (const auto& [key, value] : object->items()) {
        if (key != "nozzle") return "unknown field " + key;
        const auto number = NozzleNumber(value);
        if (!number) return std::string("nozzle must be a whole number from 1 to 4");
        nozzle = *number;
    }
    return nozzle;
}

Decoded<CloseRequest> DecodeClosure(std::string_view body) {
    std::string error;
    auto object = ParseObject(body, error);
    if (!object) return error;
    std::optional<std::string> reason;
    for (const auto& [key, value] : object->items()) {
        if (key != "reason") return "unknown field " + key;
        if (!value.is_string()) return std::string("reason must be a string");
        reason = value.get<std::string>();
    }
    if (!reason) return std::string("reason is required (maintenance, no_fuel, fault or a text)");
    // The reason is shown on every till and in the console: text of a line, nothing else.
    constexpr std::size_t kLongest = 200;
    if (reason->empty() || reason->size() > kLongest) return std::string("reason must be 1 to 200 characters");
    if (std::any_of(reason->begin(), reason->end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }))
        return std::string("reason must not hold control characters");
    // The parser took the body as UTF-8 already; dumping checks it once more for the events.
    try {
        (void)json(*reason).dump();
    } catch (const json::exception&) {
        return std::string("reason must be UTF-8 text");
    }
    return CloseRequest{*reason};
}

Decoded<bool> DecodeMode(std::string_view body) {
    std::string error;
    auto object = ParseObject(body, error);
    if (!object) return error;
    std::optional<bool> attendant;
    for (const auto& [key, value] : object->items()) {
        if (key != "mode") return "unknown field " + key;
        if (value != "attendant" && value != "pos") return std::string("mode must be attendant or pos");
        attendant = value == "attendant";
    }
    if (!attendant) return std::string("mode is required (attendant or pos)");
    return *attendant;
}

}  // namespace forecourt
