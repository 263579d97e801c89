// The host program's command layer on the built-in emulator, and a small JSON reader that
// accepts exactly what the JSON grammar does, so that the --json output is held to it.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "commands.h"
#include "driver/tvm30.h"
#include "line.h"
#include "session.h"
#include "temp_dir.h"

namespace dorv::tools::test {

struct Json {
    enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<Json> items;
    std::map<std::string, Json> fields;

    bool Has(const std::string& key) const { return fields.count(key) != 0; }
    const Json& operator[](const std::string& key) const {
        static const Json missing;
        const auto it = fields.find(key);
        return it == fields.end() ? missing : it->second;
    }
};

class JsonReader {
public:
    // The value that makes up the whole text; nullopt when the text is not valid JSON.
    static std::optional<Json> Parse(std::string_view text) {
        JsonReader r(text);
        Json v;
        if (!r.Value(v, 0)) return std::nullopt;
        r.Blanks();
        if (r.pos_ != text.size()) return std::nullopt;
        return v;
    }

private:
    explicit JsonReader(std::string_view t) : t_(t) {}

    void Blanks() {
        while (pos_ < t_.size() && (t_[pos_] == ' ' || t_[pos_] == '\t' || t_[pos_] == '\n' || t_[pos_] == '\r')) ++pos_;
    }
    bool Take(char c) {
        Blanks();
        if (pos_ >= t_.size() || t_[pos_] != c) return false;
        ++pos_;
        return true;
    }
    bool Word(std::string_view w) {
        if (t_.substr(pos_, w.size()) != w) return false;
        pos_ += w.size();
        return true;
    }
    bool Value(Json& v, int depth) {
        if (depth > 32) return false;
        Blanks();
        if (pos_ >= t_.size()) return false;
        const char c = t_[pos_];
        if (c == '{') return Object(v, depth);
        if (c == '[') return Array(v, depth);
        if (c == '"') {
            v.kind = Json::String;
            return String(v.text);
        }
        if (Word("true")) {
            v.kind = Json::Bool;
            v.boolean = true;
            return true;
        }
        if (Word("false")) {
            v.kind = Json::Bool;
            return true;
        }
        return Word("null") || Number(v);
    }
    bool Object(Json& v, int depth) {
        v.kind = Json::Object;
        ++pos_;
        if (Take('}')) return true;
        do {
            std::string key;
            Blanks();
            if (pos_ >= t_.size() || t_[pos_] != '"' || !String(key) || !Take(':')) return false;
            if (!Value(v.fields[key], depth + 1)) return false;
        } while (Take(','));
        return Take('}');
    }
    bool Array(Json& v, int depth) {
        v.kind = Json::Array;
        ++pos_;
        if (Take(']')) return true;
        do {
            if (!Value(v.items.emplace_back(), depth + 1)) return false;
        } while (Take(','));
        return Take(']');
    }
    bool String(std::string& out) {
        ++pos_;  // the opening quote
        while (pos_ < t_.size()) {
            const auto c = static_cast<unsigned char>(t_[pos_++]);
            if (c == '"') return true;
            if (c < 0x20) return false;
            if (c >= 0x80) {
                if (!Utf8Sequence(c, out)) return false;
                continue;
            }
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (pos_ >= t_.size()) return false;
            const char e = t_[pos_++];
            const std::string_view simple = "\"\\/bfnrt", meant = "\"\\/\b\f\n\r\t";
            if (const auto k = simple.find(e); k != std::string_view::npos) {
                out += meant[k];
            } else if (e == 'u' && pos_ + 4 <= t_.size()) {
                const std::string hex(t_.substr(pos_, 4));
                if (hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
                pos_ += 4;
                const unsigned u = static_cast<unsigned>(std::strtoul(hex.c_str(), nullptr, 16));
                if (u >= 0x80) return false;  // the writer escapes control characters only
                out += static_cast<char>(u);
            } else {
                return false;
            }
        }
        return false;
    }
    // JSON text is Unicode: a byte above 0x7F must start a whole, shortest UTF-8 sequence.
    bool Utf8Sequence(unsigned char lead, std::string& out) {
        const int more = lead >= 0xF0 && lead <= 0xF4 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 && lead < 0xE0 ? 1 : -1;
        if (more < 0 || pos_ + static_cast<std::size_t>(more) > t_.size()) return false;
        std::uint32_t code = lead & (0x3F >> more);
        for (int k = 0; k < more; ++k) {
            const auto b = static_cast<unsigned char>(t_[pos_ + static_cast<std::size_t>(k)]);
            if ((b & 0xC0) != 0x80) return false;
            code = code << 6 | (b & 0x3F);
        }
        static constexpr std::uint32_t kShortest[] = {0, 0x80, 0x800, 0x10000};
        if (code < kShortest[more] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        out += t_.substr(pos_ - 1, static_cast<std::size_t>(more) + 1);
        pos_ += static_cast<std::size_t>(more);
        return true;
    }
    bool Number(Json& v) {
        const std::size_t start = pos_;
        auto digits = [&] {
            const std::size_t from = pos_;
            while (pos_ < t_.size() && t_[pos_] >= '0' && t_[pos_] <= '9') ++pos_;
            return pos_ > from;
        };
        if (pos_ < t_.size() && t_[pos_] == '-') ++pos_;
        if (pos_ < t_.size() && t_[pos_] == '0')
            ++pos_;
        else if (!digits())
            return false;
        if (pos_ < t_.size() && t_[pos_] == '.') {
            ++pos_;
            if (!digits()) return false;
        }
        if (pos_ < t_.size() && (t_[pos_] == 'e' || t_[pos_] == 'E')) {
            ++pos_;
            if (pos_ < t_.size() && (t_[pos_] == '+' || t_[pos_] == '-')) ++pos_;
            if (!digits()) return false;
        }
        v.kind = Json::Number;
        v.number = std::strtod(std::string(t_.substr(start, pos_ - start)).c_str(), nullptr);
        return true;
    }

    std::string_view t_;
    std::size_t pos_ = 0;
};

// One watched driver object over the serial link to the built-in emulator (controllers 1 to 8),
// unpaced, with the commands' output kept as text.
class CommandLayer : public ::testing::Test {
protected:
    static std::unique_ptr<Session> EmulatorSession() {
        SessionOptions o;
        o.emulator = true;
        o.baud = 0;
        o.responseTimeoutMs = 100;
        return std::make_unique<Session>(o);
    }

    // The output so far, one parsed object per line; a line that is no JSON object fails the test.
    std::vector<Json> Objects() {
        std::vector<Json> out;
        std::istringstream lines(out_.str());
        for (std::string l; std::getline(lines, l);) {
            const auto v = JsonReader::Parse(l);
            EXPECT_TRUE(v && v->kind == Json::Object) << "not a JSON object: " << l;
            if (v) out.push_back(*v);
        }
        return out;
    }

    emu::Line& Emulator() { return *session_->Emulator(); }

    dorv::test::TempDir dir_;  // first: the driver's settings file lives here
    std::unique_ptr<Session> session_ = EmulatorSession();
    std::ostringstream out_;
    CommandHost host_{*session_, out_, /*json=*/true, /*line=*/1};
    CommandContext& ctx_ = host_.Context();
};

}  // namespace dorv::tools::test
