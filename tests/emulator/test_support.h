// Helpers shared by the emulator tests: a line on a manual clock and an
// independent reading of reply frames.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>
#include <string>

#include "addressing.h"
#include "clock.h"
#include "line.h"
#include "wire.h"

namespace dorv::emu::test {

inline Bytes B(std::initializer_list<int> bytes) {
    Bytes out;
    for (int b : bytes) out.push_back(static_cast<std::uint8_t>(b));
    return out;
}

inline Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Request record for controller `address`: group, address byte, then `tail`
// (command and arguments).
inline Bytes Record(int address, const std::string& tail) {
    const AddressBytes ab = EncodeAddress(address);
    Bytes r{ab.group, ab.address};
    // A loop rather than insert(): g++ 12 at -O3 reports a false array-bounds error on it.
    for (char c : tail) r.push_back(static_cast<std::uint8_t>(c));
    return r;
}

// The data bytes of a well-formed data reply, checked the way a host checks
// them; nullopt for anything else.
inline std::optional<std::string> DataOf(const Bytes& reply) {
    if (reply.size() < 4 || reply[0] != 0x02 || reply.size() % 2 != 0) return std::nullopt;
    std::string data;
    std::uint8_t check = 0x03;
    const std::size_t trailer = reply.size() - 3;
    for (std::size_t i = 1; i < trailer; i += 2) {
        if ((reply[i] ^ reply[i + 1]) != 0x7F) return std::nullopt;
        data.push_back(static_cast<char>(reply[i]));
        check ^= reply[i];
    }
    if (reply[trailer] != 0x03 || reply[trailer + 1] != 0x03 || reply.back() != (check | 0x40)) return std::nullopt;
    return data;
}

// A line with controllers at 1..4 whose fillings move only when told to.
class LineTest : public ::testing::Test {
protected:
    LineTest() : line_(LineConfig{}, clock_.AsClock()) {
        for (int a = 1; a <= 4; ++a) line_.AddController(a);
    }

    Bytes Ask(int address, const std::string& tail) { return line_.Answer(Record(address, tail)).bytes; }
    // Data of a data reply; a marker that matches no data otherwise.
    std::string Data(int address, const std::string& tail) {
        const Bytes reply = Ask(address, tail);
        const auto data = DataOf(reply);
        return data ? *data : "<not a data reply>";
    }
    bool Accepted(int address, const std::string& tail) { return Ask(address, tail) == B({0x06}); }
    bool Refused(int address, const std::string& tail) { return Ask(address, tail) == B({0x18}); }
    char Status(int address) { return Data(address, "1").front(); }
    void Run(double seconds) { clock_.Advance(std::chrono::duration<double>(seconds)); }

    ManualClock clock_;
    Line line_;
};

}  // namespace dorv::emu::test
