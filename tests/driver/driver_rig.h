// A driver on a recording link, with the settings to change and what the driver sent, for the
// command tests. Each table row builds its own rig, so no row sees another's state.
#pragma once

#include <cstdio>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "dorv5000/exceptions.h"
#include "driver/messages.h"
#include "driver/tvm30.h"
#include "recording_link.h"
#include "temp_dir.h"

namespace dorv::test {

// Bytes written as characters: B("N5") is 4E 35.
inline Bytes B(std::string_view s) { return Bytes(s.begin(), s.end()); }
inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Answer Throws() { return {Answer::ThrowInTransact, {}, 0}; }

// One exchange as the link saw it: the request record, the reply length and the mode.
struct Sent {
    Bytes request;
    int replyLength;
    int mode;
    bool operator==(const Sent&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Sent& s) {
    os << "[";
    for (std::uint8_t b : s.request) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", b);
        os << hex;
    }
    return os << " ] reply " << s.replyLength << " mode " << s.mode;
}

// What a call raised: the exception's class and message, or nothing.
struct Raised {
    std::string type;
    std::string message;
    bool operator==(const Raised&) const = default;
};
inline std::ostream& operator<<(std::ostream& os, const Raised& r) {
    return os << (r.type.empty() ? "nothing" : r.type + ": " + r.message);
}
inline Raised Nothing() { return {}; }
inline Raised SerialError(const char* message) { return {"ESerialIO", message}; }
inline Raised CallerError(const char* message) { return {"Exception", message}; }

template <typename F>
Raised RaisedBy(F&& f) {
    try {
        f();
    } catch (const ESerialIO& e) {
        return {"ESerialIO", e.what()};
    } catch (const Exception& e) {
        return {"Exception", e.what()};
    } catch (const std::exception& e) {
        return {"std::exception", e.what()};
    }
    return {};
}

struct Rig {
    TempDir dir;
    RecordingLink link;
    TVM30 driver{0, &link};  // creation flags 0: StartInLiter on, everything else off

    template <typename F>
    void Set(F change) {
        DriverSettings s = driver.Settings();
        change(s);
        driver.ApplySettings(s);
    }
    void Queue(std::initializer_list<Answer> answers) {
        for (const Answer& a : answers) link.Queue(a);
    }
    // Forgets what was sent so far (the preparation of a case) and any answer left over.
    void Forget() {
        link.calls.clear();
        link.answers.clear();
    }
    std::vector<Sent> Exchanges() const {
        std::vector<Sent> r;
        for (const auto& c : link.calls) r.push_back({c.Request(), c.replyLength, c.mode});
        return r;
    }
    std::vector<Bytes> Requests() const { return link.Requests(); }
    std::vector<std::uint8_t> Commands() const {
        std::vector<std::uint8_t> r;
        for (const Bytes& b : link.Requests()) r.push_back(b.size() > 2 ? b[2] : 0);
        return r;
    }
};

}  // namespace dorv::test
