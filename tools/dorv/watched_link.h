// WatchedLink: the host program's view of what each command did on the line. It passes every
// call on to the real link unchanged and notes, between Begin and End, the transactions, the
// first failure code of the link, the first transaction nobody answered, and the refusals:
// replies that start with 0x18 and the refusal codes the driver leaves in its line status.
//
// Threads: one thread at a time (the host program runs its commands one after another).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "dorv5000/host_link.h"

namespace dorv::tools {

struct LinkActivity {
    int transactions = 0;
    std::int32_t failure = 0;      // the first non-zero result of a transaction: an errno value
    std::uint8_t silentState = 0;  // line state of the first transaction not answered; 0: none
    bool refused = false;          // the controller refused a request
    std::uint8_t refusalCode = 0;  // the refusal code the driver stored, 0 when it stored none
    std::string refusedCommands;   // the command characters of the requests answered 0x18
    bool lastRefused = false;      // the last request was answered 0x18
    bool noData = false;           // a request that expected data was answered by a lone byte
};

// What a refusal code in the driver's line status means; empty for a code that is none.
std::string RefusalMeaning(std::uint8_t code);
// What a line state after a transaction means ("no reply", "frame error", ...).
std::string LineStateMeaning(std::uint8_t state);

class WatchedLink final : public HostLink {
public:
    explicit WatchedLink(HostLink& inner) : inner_(inner) {}

    // Reads the driver's line status; sampled between the transactions of a command, because
    // a command that sends more after a refusal may overwrite the code it stored.
    void SetLineStatusProbe(std::function<std::uint8_t(std::uint8_t line)> probe) { probe_ = std::move(probe); }
    void Begin() { activity_ = {}; }
    LinkActivity End(std::uint8_t line);

    std::int32_t DORV_CALL GetLineError(std::uint8_t line) override { return inner_.GetLineError(line); }
    void DORV_CALL ReportLineCode(std::uint8_t line, std::int32_t code) override { inner_.ReportLineCode(line, code); }
    void DORV_CALL ReportLineState(std::uint8_t line, std::int32_t state) override { inner_.ReportLineState(line, state); }
    std::uint8_t DORV_CALL ReadLineState(std::uint8_t line) override;
    std::int32_t DORV_CALL Transact(std::uint8_t line, const std::uint8_t* frame, std::uint8_t frameLength, std::uint8_t* reply,
                                    std::uint8_t replyLength, std::uint8_t mode) override;
    std::int32_t DORV_CALL ConfigureLine(std::uint8_t line, std::int32_t format, std::int32_t baud) override {
        return inner_.ConfigureLine(line, format, baud);
    }
    void DORV_CALL SetReplyValidator(std::uint8_t line, ReplyValidator validator, void* context) override {
        inner_.SetReplyValidator(line, validator, context);
    }
    void DORV_CALL SetLineConfigurator(std::uint8_t line, LineConfigurator configurator, void* context) override {
        inner_.SetLineConfigurator(line, configurator, context);
    }

private:
    void SampleRefusal(std::uint8_t line);

    HostLink& inner_;
    std::function<std::uint8_t(std::uint8_t)> probe_;
    LinkActivity activity_;
    bool awaitingState_ = false;  // a transaction ended and its line state is still to be read
    std::uint8_t lead_ = 0;       // byte 0 of that transaction's reply
    std::uint8_t command_ = 0;    // that transaction's command character
    bool expectsData_ = false;    // that transaction's command expected a data reply
};

}  // namespace dorv::tools
