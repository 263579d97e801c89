// InstantLink: an in-memory HostLink that answers every request at once, with no line and no
// pacing, so that what a measurement over it sees is the driver's own work: building the frame,
// the link call, validating the reply (through the driver's validator, as a real link calls it)
// and decoding it.
//
// Replies are chosen by the request's command byte. CannedReplies holds real ones, produced by
// the emulator's controller on a manual clock: a nozzle halfway through a filling.
//
// One thread at a time.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "dorv5000/host_link.h"

namespace dorv::bench {

using Bytes = std::vector<std::uint8_t>;

class InstantLink final : public HostLink {
public:
    // From now on `command` is answered with `reply`; an empty reply is a silent controller.
    void Answer(std::uint8_t command, Bytes reply);
    std::uint64_t Exchanges() const { return exchanges_; }

    std::int32_t DORV_CALL GetLineError(std::uint8_t) override { return 0; }
    void DORV_CALL ReportLineCode(std::uint8_t, std::int32_t) override {}
    void DORV_CALL ReportLineState(std::uint8_t, std::int32_t) override {}
    std::uint8_t DORV_CALL ReadLineState(std::uint8_t line) override;
    std::int32_t DORV_CALL Transact(std::uint8_t line, const std::uint8_t* frame, std::uint8_t frameLength, std::uint8_t* reply,
                                    std::uint8_t replyLength, std::uint8_t mode) override;
    std::int32_t DORV_CALL ConfigureLine(std::uint8_t, std::int32_t, std::int32_t) override { return 0; }
    void DORV_CALL SetReplyValidator(std::uint8_t line, ReplyValidator validator, void* context) override;
    void DORV_CALL SetLineConfigurator(std::uint8_t, LineConfigurator, void*) override {}

private:
    static constexpr int kLines = 40;
    struct Line {
        ReplyValidator validator = nullptr;
        void* context = nullptr;
        std::uint8_t state = 0;
    };
    std::array<Bytes, 256> replies_;
    std::array<Line, kLines> lines_;
    std::uint64_t exchanges_ = 0;
};

// Replies of the emulator's controller at address 1 (type 'A'), its nozzle lifted and filling
// at 45.50 a litre.
struct CannedReplies {
    Bytes status;      // '1' of the lifted nozzle before the start: status '1'
    Bytes type;        // '7': 'A'
    Bytes filling;     // '5': volume, amount, price
    Bytes counters;    // '6': volume and money totalizers
    Bytes paramShort;  // 'N' of number 2: one digit
    Bytes paramLong;   // 'N' of number 52: the 13-digit ID and loader version
    Bytes idleStatus;  // '1' of an idle controller: status '0'
};
CannedReplies MakeCannedReplies();

// The command byte of a request frame: byte 2 of the requests that name no controller
// ('W', ']'), byte 4 of the others.
std::uint8_t CommandOf(const std::uint8_t* frame, std::size_t length);

}  // namespace dorv::bench
