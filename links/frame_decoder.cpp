#include "links/frame_decoder.h"

#include <cstdio>
#include <vector>

#include "links/wire_bytes.h"

namespace dorv::links {

namespace {

using namespace wire;

// Line-wide requests carry one of these where a controller's address byte would stand.
constexpr std::uint8_t kCommonSetting = 'W';
constexpr std::uint8_t kAddressProgramming = ']';

struct Unwrapped {
    std::vector<std::uint8_t> bytes;  // the bytes that travel with complements
    const char* fault = nullptr;      // why the frame is not well formed
};

// Takes apart "pairs of byte and complement, 0x03 0x03, check byte" from `at` to the end.
Unwrapped UnwrapPairs(std::span<const std::uint8_t> frame, std::size_t at) {
    Unwrapped u;
    std::uint8_t check = kEnd;
    while (at < frame.size() && frame[at] != kEnd) {
        if (at + 1 >= frame.size()) return {{}, "cut short"};
        if ((frame[at] ^ frame[at + 1]) != kComplement) return {{}, "complement wrong"};
        u.bytes.push_back(frame[at]);
        check ^= frame[at];
        at += 2;
    }
    if (at + 3 > frame.size() || frame[at + 1] != kEnd) return {{}, "no 03 03 trailer"};
    if (frame[at + 2] != (check | kCheckBits)) return {{}, "check byte wrong"};
    if (at + 3 != frame.size()) return {{}, "bytes after the check byte"};
    return u;
}

std::string Text(std::span<const std::uint8_t> bytes) {
    std::string s = "\"";
    for (std::uint8_t b : bytes) {
        if (b >= 0x20 && b < 0x7F && b != '"' && b != '\\') {
            s += static_cast<char>(b);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            s += hex;
        }
    }
    return s + "\"";
}

const char* CommandName(std::uint8_t command, std::span<const std::uint8_t> data) {
    switch (command) {
        case '1': return "status";
        case '2': return "start";
        case '3': return "stop";
        case '4': return "filling volume";
        case '5': return "filling";
        case '6': return !data.empty() && data[0] == 0x01 ? "counter write" : "counters";
        case '7': return "type";
        case '8': return "release";
        case 'N': return "parameter read";
        case 'O': return "parameter write";
        case 'Q': return "price";
        case 'S': return "money dose";
        case 'T': return "volume dose";
        case 'U': return "authorize";
        case 'V': return "forced start";
        default: return nullptr;
    }
}

std::string DescribeAddress(std::uint8_t group, std::uint8_t addressByte) {
    const auto a = ControllerAddress(group, addressByte);
    char s[96];
    if (!a) {
        std::snprintf(s, sizeof s, "group %u address byte 0x%02X", group, addressByte);
    } else {
        // The hosts number columns of four nozzles by their first address when PistStep is 1.
        std::snprintf(s, sizeof s, "address %d (column %d nozzle %d)", *a, (*a - 1) / 4 * 4 + 1, (*a - 1) % 4 + 1);
    }
    return s;
}

std::string DescribeLineWide(std::uint8_t kind, std::span<const std::uint8_t> data) {
    if (kind == kCommonSetting) {
        if (data.size() != 2) return "common setting write, data " + Text(data);
        return "common setting write, setting " + std::to_string(data[0] - '0') + ", value " + std::to_string(data[1] - '0');
    }
    // ID number characters 1-5, the new address (3), then ID characters 6-10 in the long form.
    if (data.size() != 8 && data.size() != 13) return "address programming, data " + Text(data);
    std::vector<std::uint8_t> id(data.begin(), data.begin() + 5);
    id.insert(id.end(), data.begin() + 8, data.end());
    return "address programming, ID " + Text(id) + ", new address " + Text(data.subspan(5, 3));
}

}  // namespace

std::optional<int> ControllerAddress(std::uint8_t group, std::uint8_t addressByte) {
    if (addressByte < 0x20 || addressByte > 0x2F) return std::nullopt;
    const int offset = addressByte - 0x20;
    if (group == 2) return offset == 0 ? std::nullopt : std::optional<int>(offset);
    if (group < 7 || offset == 15) return std::nullopt;
    return (group - 6) * 15 + (offset == 0 ? 15 : offset);
}

std::string DescribeRequest(std::span<const std::uint8_t> frame) {
    if (frame.size() < 2 || frame[0] != kRequestLead) return "invalid request (no 7F lead)";
    const Unwrapped u = UnwrapPairs(frame, 2);
    if (u.fault) return std::string("invalid request (") + u.fault + ")";
    if (u.bytes.size() < 2) return "invalid request (no command)";
    const std::uint8_t group = frame[1];
    const std::span<const std::uint8_t> rest(u.bytes);
    if (group == kDataLead && (rest[0] == kCommonSetting || rest[0] == kAddressProgramming))
        return DescribeLineWide(rest[0], rest.subspan(1));

    const std::uint8_t command = rest[1];
    const auto data = rest.subspan(2);
    const char* name = CommandName(command, data);
    std::string s = name ? name : "command " + Text(rest.subspan(1, 1));
    s += ", " + DescribeAddress(group, rest[0]);
    if (command == 'N' || command == 'O') {
        if (data.empty()) return s;
        s += ", parameter " + std::to_string(data[0] - '0');
        if (command == 'O') s += ", value " + Text(data.subspan(1));
        return s;
    }
    if (command == '6' && !data.empty() && data[0] == 0x01) return s + ", value " + Text(data.subspan(1));
    if (!data.empty()) s += ", data " + Text(data);
    return s;
}

std::string DescribeReply(std::span<const std::uint8_t> reply) {
    if (reply.empty()) return "no reply";
    std::size_t lead = 0;
    while (lead < reply.size() && reply[lead] != kDataLead && reply[lead] != kAck && reply[lead] != kNak && reply[lead] != kRefused) ++lead;
    if (lead == reply.size()) return "invalid (no lead byte)";
    const std::string noise = lead > 0 ? " after " + std::to_string(lead) + " noise bytes" : "";
    const auto rest = reply.subspan(lead);
    if (rest[0] != kDataLead) {
        const std::string word = rest[0] == kAck ? "ack" : rest[0] == kNak ? "not acknowledged" : "refused";
        if (rest.size() == 1) return word + noise;
        return word + noise + ", then " + std::to_string(rest.size() - 1) + " more bytes";
    }
    const Unwrapped u = UnwrapPairs(rest, 1);
    if (u.fault) return std::string("invalid (") + u.fault + ")" + noise;
    return "data " + Text(u.bytes) + noise;
}

}  // namespace dorv::links
