#include "codec.h"

#include <cstring>

#include "dorv5000/host_link.h"

namespace dorv::codec {
namespace {

bool IsLead(std::uint8_t b) { return b == kDataLead || b == kAck || b == kNak || b == kRefused; }

}  // namespace

std::uint8_t BuildFrame(const std::uint8_t* request, std::size_t n, std::uint8_t* frame) {
    frame[0] = kFrameLead;
    frame[1] = request[0];
    std::uint8_t check = kEnd;
    for (std::size_t i = 1; i < n; ++i) {
        frame[2 * i] = request[i];
        frame[2 * i + 1] = request[i] ^ kComplement;
        check ^= request[i];
    }
    frame[2 * n] = kEnd;
    frame[2 * n + 1] = kEnd;
    frame[2 * n + 2] = check | 0x40;
    return static_cast<std::uint8_t>(2 * n + 3);
}

Verdict ValidateReply(std::uint8_t* b, std::uint8_t& length) {
    // Resynchronise: noise such as an echo of the request may precede the reply.
    std::size_t skip = 0;
    while (skip < length && !IsLead(b[skip])) ++skip;
    if (skip > 0) {
        std::memmove(b, b + skip, length - skip);
        length = static_cast<std::uint8_t>(length - skip);
    }
    const std::size_t L = length;
    if (L == 0) return {false, -1, kCodeNoLead};
    if (b[0] != kDataLead) return {true, kLineAnswered, kCodeAccepted};
    // The smallest data reply, 02 03 03 check, has four bytes; anything shorter is a broken frame.
    if (L < 4 || b[L - 2] != kEnd || b[L - 3] != kEnd) return {false, kLineFrameError, kCodeBadFrame};
    // h = L / 2 rounded half to even.
    std::size_t h = L / 2;
    if (L % 2 == 1 && h % 2 == 1) ++h;
    for (std::size_t i = 1; i + 2 <= h; ++i)
        if ((b[2 * i - 1] ^ b[2 * i]) != kComplement) return {false, kLineFrameError, kCodeBadFrame};
    std::uint8_t check = 0;
    for (std::size_t i = 1; i + 1 <= h; ++i) check ^= b[2 * i - 1];
    if (b[L - 1] == (check | 0x40)) return {true, kLineAnswered, kCodeAccepted};
    return {false, -1, kCodeBadCheck};
}

}  // namespace dorv::codec
