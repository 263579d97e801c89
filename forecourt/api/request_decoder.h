// Decoding what clients send: request targets and query strings, and the JSON bodies of the
// routes that take one. Pure functions over text: no I/O, every input allowed (fuzzed).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "pumps/forecourt.h"

namespace forecourt {

struct Target {
    std::string path;
    std::map<std::string, std::string> query;  // percent-decoded; a repeated key keeps its last value
};

// Splits "/a/b?x=1&y=%20"; nullopt for a target that is not an absolute path or holds a bad escape.
std::optional<Target> ParseTarget(std::string_view target);
// Decimal digits only, no sign, at most 18 digits: never octal, hex or a partial number.
std::optional<std::int64_t> ParseId(std::string_view text);

// A decoded body or the reason it was refused (a 400's message).
template <typename T>
using Decoded = std::variant<T, std::string>;

Decoded<AuthorizeRequest> DecodeAuthorize(std::string_view body);
struct MoveRequest {
    int pump = 0;
    std::optional<int> nozzle;
};
Decoded<MoveRequest> DecodeMove(std::string_view body);
struct MarkRequest {
    std::string as;  // drive_off or test
};
Decoded<MarkRequest> DecodeMark(std::string_view body);
Decoded<std::vector<std::pair<std::string, std::int64_t>>> DecodePrices(std::string_view body);
// A price change that may name its time: {"grades": [...], "valid_from": "2026-12-09T06:00:00+03:00"}.
struct PriceChange {
    std::vector<std::pair<std::string, std::int64_t>> grades;
    std::optional<std::string> valid_from;  // as sent; the caller reads the instant
};
Decoded<PriceChange> DecodePriceChange(std::string_view body);
// The nozzle of an emulator lift or hang; an empty body means nozzle 1.
Decoded<int> DecodeNozzle(std::string_view body);
// A pump closure's reason: 1 to 200 characters of UTF-8 text, no control characters.
struct CloseRequest {
    std::string reason;
};
Decoded<CloseRequest> DecodeClosure(std::string_view body);
// A pump's mode: true for "attendant", false for "pos".
Decoded<bool> DecodeMode(std::string_view body);

}  // namespace forecourt
