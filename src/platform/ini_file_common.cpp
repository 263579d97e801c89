// The typed reads and writes of INI files, the same over every platform's string layer.
#include <cstdint>

#include "ini_file.h"

namespace dorv::platform {

std::optional<std::int32_t> ParseInteger(const std::string& text) {
    std::size_t i = 0, n = text.size();
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    while (n > i && (text[n - 1] == ' ' || text[n - 1] == '\t' || text[n - 1] == '\r')) --n;
    bool negative = false;
    if (i < n && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    int base = 10;
    if (i < n && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= n) return std::nullopt;
    std::int64_t value = 0;
    for (; i < n; ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        value = value * base + digit;
        if (value > 0xFFFFFFFFLL) return std::nullopt;
    }
    if (base == 16 && !negative) return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    if (negative) value = -value;
    if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

std::int32_t IniFile::ReadInteger(const std::string& section, const std::string& key, std::int32_t defaultValue) const {
    const auto text = ReadString(section, key);
    if (!text) return defaultValue;
    return ParseInteger(*text).value_or(defaultValue);
}

bool IniFile::ReadBool(const std::string& section, const std::string& key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void IniFile::WriteInteger(const std::string& section, const std::string& key, std::int32_t value) {
    WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(const std::string& section, const std::string& key, bool value) { WriteString(section, key, value ? "1" : "0"); }

}  // namespace dorv::platform
