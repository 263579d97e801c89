#include "watched_link.h"

#include "links/stream_host_link.h"
#include "links/wire_bytes.h"

namespace dorv::tools {
namespace {

using links::wire::kDataLead;
using links::wire::kShortestDataReply;
constexpr std::uint8_t kRefusedLead = links::wire::kRefused;

}  // namespace

std::string RefusalMeaning(std::uint8_t code) {
    switch (code) {
        case 16: return "start refused";
        case 17: return "authorization refused";
        case 18: return "volume dose refused";
        case 19: return "money dose refused";
        case 20: return "stop refused";
        case 21: return "price refused";
        case 23: return "parameter command refused";
        case 24: return "nozzle-address programming refused";
        case 25: return "short filling reading refused";
        default: return {};
    }
}

std::string LineStateMeaning(std::uint8_t state) {
    switch (state) {
        case links::kStateNone: return "nothing sent yet";
        case links::kStateAnswered: return "answered";
        case links::kStateNoReply: return "no reply";
        case links::kStateFrameError: return "frame error";
        case links::kStateBadCheck: return "check byte wrong";
        case links::kStateNoLead: return "no lead byte, only noise";
        case links::kStateKeptTalking: return "line kept talking, request not sent";
        default: return "line state " + std::to_string(state);
    }
}

void WatchedLink::SampleRefusal(std::uint8_t line) {
    if (!probe_) return;
    const std::uint8_t status = probe_(line);
    if (!RefusalMeaning(status).empty()) {
        activity_.refused = true;
        if (activity_.refusalCode == 0) activity_.refusalCode = status;
    }
}

LinkActivity WatchedLink::End(std::uint8_t line) {
    if (activity_.transactions > 0) SampleRefusal(line);
    return activity_;
}

std::uint8_t DORV_CALL WatchedLink::ReadLineState(std::uint8_t line) {
    const std::uint8_t state = inner_.ReadLineState(line);
    if (awaitingState_) {
        awaitingState_ = false;
        if (state != kLineAnswered && activity_.silentState == 0) activity_.silentState = state;
        activity_.lastRefused = state == kLineAnswered && lead_ == kRefusedLead;
        if (state == kLineAnswered && expectsData_ && lead_ != kDataLead && lead_ != kRefusedLead) activity_.noData = true;
        if (activity_.lastRefused) {
            activity_.refused = true;
            activity_.refusedCommands += static_cast<char>(command_);
        }
    }
    return state;
}

std::int32_t DORV_CALL WatchedLink::Transact(std::uint8_t line, const std::uint8_t* frame, std::uint8_t frameLength, std::uint8_t* reply,
                                             std::uint8_t replyLength, std::uint8_t mode) {
    // The line status now holds what the command's previous exchange left, refusal codes
    // included; before the first exchange it is the previous command's.
    if (activity_.transactions > 0) SampleRefusal(line);
    ++activity_.transactions;
    awaitingState_ = false;
    std::int32_t result = 0;
    try {
        result = inner_.Transact(line, frame, frameLength, reply, replyLength, mode);
    } catch (...) {
        if (activity_.failure == 0) activity_.failure = inner_.GetLineError(line);
        throw;
    }
    if (result != 0 && activity_.failure == 0) activity_.failure = result;
    lead_ = reply ? reply[0] : 0;
    // 7F, group, address byte and its complement, then the command character.
    command_ = frame != nullptr && frameLength > 4 ? frame[4] : 0;
    expectsData_ = replyLength >= kShortestDataReply;
    awaitingState_ = true;
    return result;
}

}  // namespace dorv::tools
