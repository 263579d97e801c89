// Stand-ins for the driver's reply validator, so the link tests need no driver.
#pragma once

#include <cstdint>
#include <cstring>

#include "dorv5000/host_link.h"

namespace dorv::links::test {

// Drops noise ahead of the lead byte and accepts what follows, unless a data reply's last byte
// is not its check byte. Reports to the link (the context) as the driver's validator does.
inline bool DORV_CALL CheckingValidator(void* context, std::uint8_t line, std::uint8_t* reply, std::int32_t, std::uint8_t* length,
                                        std::int32_t) {
    auto* link = static_cast<HostLink*>(context);
    int n = *length, skip = 0;
    while (skip < n && reply[skip] != 2 && reply[skip] != 6 && reply[skip] != 0x15 && reply[skip] != 0x18) ++skip;
    n -= skip;
    std::memmove(reply, reply + skip, static_cast<std::size_t>(n));
    *length = static_cast<std::uint8_t>(n);
    std::uint8_t check = 0x03;
    for (int i = 1; i + 3 < n; i += 2) check ^= reply[i];
    const std::int32_t code = n == 0 ? kCodeNoLead : reply[0] == 2 && reply[n - 1] != (check | 0x40) ? kCodeBadCheck : kCodeAccepted;
    if (code == kCodeAccepted) link->ReportLineState(line, kLineAnswered);
    link->ReportLineCode(line, code);
    return code == kCodeAccepted;
}

// Gives the verdict a test scripted in it, whatever the reply.
struct ScriptedVerdict {
    HostLink* link;
    bool accept;
    std::int32_t code;   // reported unless negative
    std::int32_t state;  // reported unless negative
};

inline bool DORV_CALL ScriptedValidator(void* context, std::uint8_t line, std::uint8_t*, std::int32_t, std::uint8_t*, std::int32_t) {
    const auto* v = static_cast<const ScriptedVerdict*>(context);
    if (v->state >= 0) v->link->ReportLineState(line, v->state);
    if (v->code >= 0) v->link->ReportLineCode(line, v->code);
    return v->accept;
}

}  // namespace dorv::links::test
