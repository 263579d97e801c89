#include "cp1251.h"

#include <array>
#include <cstdint>

namespace dorv::platform {
namespace {

// Unicode code points of CP1251 bytes 0x80..0xBF; 0 marks the one unassigned byte (0x98).
constexpr std::array<char16_t, 64> kHigh = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457};

char32_t ByteToCodePoint(unsigned char b) {
    if (b < 0x80) return b;
    if (b >= 0xC0) return 0x0410 + (b - 0xC0);  // А..я in alphabetical order
    return kHigh[b - 0x80];
}

int CodePointToByte(char32_t cp) {
    if (cp < 0x80) return static_cast<int>(cp);
    if (cp >= 0x0410 && cp <= 0x044F) return static_cast<int>(0xC0 + (cp - 0x0410));
    for (int i = 0; i < 64; ++i)
        if (kHigh[i] != 0 && kHigh[i] == cp) return 0x80 + i;
    return -1;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

std::string Utf8ToCp1251(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        int extra = 0;
        char32_t cp = 0;
        if (b < 0x80) {
            cp = b;
        } else if ((b & 0xE0) == 0xC0) {
            extra = 1;
            cp = b & 0x1F;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2;
            cp = b & 0x0F;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3;
            cp = b & 0x07;
        } else {
            out += '?';
            ++i;
            continue;
        }
        bool ok = i + static_cast<std::size_t>(extra) < utf8.size();
        for (int k = 1; ok && k <= extra; ++k) {
            const auto c = static_cast<unsigned char>(utf8[i + k]);
            if ((c & 0xC0) != 0x80) ok = false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (!ok) {
            out += '?';
            ++i;
            continue;
        }
        const int byte = CodePointToByte(cp);
        out += byte < 0 ? '?' : static_cast<char>(byte);
        i += 1 + static_cast<std::size_t>(extra);
    }
    return out;
}

std::string Cp1251ToUtf8(std::string_view cp1251) {
    std::string out;
    out.reserve(cp1251.size() * 2);
    for (char c : cp1251) {
        const char32_t cp = ByteToCodePoint(static_cast<unsigned char>(c));
        AppendUtf8(out, cp == 0 ? U'?' : cp);
    }
    return out;
}

}  // namespace dorv::platform
