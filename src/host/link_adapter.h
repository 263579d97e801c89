// The host's link object as the driver calls it: a HostLink over the host's table of entry
// points, called with the build's convention, every call that may raise shielded.
//
// What an exception raised by the host's code becomes:
// - Transact, ReadLineState: HostRaised, which the exchange takes as any failed transaction
//   (the result is GetLineError; the command raises ESerialIO with its own message);
// - ConfigureLine: its result becomes GetLineError (line);
// - GetLineError: its result becomes -1, a failure;
// - SetReplyValidator, SetLineConfigurator: HostRaised, which the slot raises again, unchanged,
//   to the host once the driver's frames are cleaned up.
// - ReportLineCode, ReportLineState (called only by the reply validator, from inside the host's
//   own Transact): HostRaised, which the validator's entry raises again, unchanged, into that
//   Transact once the driver's validator is cleaned up and the host's control words are back.
//
// The callbacks the host calls (the reply validator, the line configurator) get the object the
// host holds as their context, as the driver object itself would be.
//
// Once the host has freed the driver while a call of it was inside the link (its message loop
// ran meanwhile), nothing more reaches the host's link from it: the exchange that comes back
// fails (ESerialIO), a reply delivered to the validator is refused, and the line's error is -1.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "dorv5000/host_link.h"

namespace dorv::host {

class HostLinkAdapter final : public HostLink {
public:
    // `context`: what the host passes back to the callbacks (the driver object it holds).
    HostLinkAdapter(void* hostLink, void* context) : host_(hostLink), context_(context) {}

    std::int32_t DORV_CALL GetLineError(std::uint8_t line) override;
    void DORV_CALL ReportLineCode(std::uint8_t line, std::int32_t code) override;
    void DORV_CALL ReportLineState(std::uint8_t line, std::int32_t state) override;
    std::uint8_t DORV_CALL ReadLineState(std::uint8_t line) override;
    std::int32_t DORV_CALL Transact(std::uint8_t line, const std::uint8_t* frame, std::uint8_t frameLength, std::uint8_t* reply,
                                    std::uint8_t replyLength, std::uint8_t mode) override;
    std::int32_t DORV_CALL ConfigureLine(std::uint8_t line, std::int32_t format, std::int32_t baud) override;
    void DORV_CALL SetReplyValidator(std::uint8_t line, ReplyValidator validator, void* context) override;
    void DORV_CALL SetLineConfigurator(std::uint8_t line, LineConfigurator configurator, void* context) override;

    // The host's calls of the callbacks, passed on to what the driver installed.
    bool Validate(std::uint8_t line, std::uint8_t* reply, std::int32_t unused1, std::uint8_t* length, std::int32_t unused2);
    std::int32_t Reconfigure(std::uint8_t line);

    // The adapter of the driver object that the host passes back as the callbacks' context.
    static HostLinkAdapter& OfContext(void* context);
    void* Context() const { return context_; }

private:
    // The host has freed the driver object; it ends when its calls under way have returned.
    bool Freed() const;
    void FailIfFreed() const;

    void* const host_;
    void* const context_;
    struct Installed {
        std::atomic<ReplyValidator> validator{nullptr};
        std::atomic<void*> validatorContext{nullptr};
        std::atomic<LineConfigurator> configurator{nullptr};
        std::atomic<void*> configuratorContext{nullptr};
    };
    std::array<Installed, 256> lines_;
};

}  // namespace dorv::host
