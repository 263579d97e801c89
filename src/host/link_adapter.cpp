#include "host/link_adapter.h"

#include "driver/messages.h"
#include "dorv5000/exceptions.h"
#include "host/calls.h"
#include "host/frame_log.h"
#include "host/fpu_control.h"
#include "host/guard.h"
#include "host/shield.h"

namespace dorv::host {

namespace {

// The host's operations, at their places in its table.
enum : int {
    kGetLineError = 1,
    kReportLineCode = 2,
    kReportLineState = 3,
    kReadLineState = 4,
    kTransact = 16,
    kConfigureLine = 17,
    kSetReplyValidator = 19,
    kSetLineConfigurator = 21,
};

using U8 = std::uint8_t;
using I32 = std::int32_t;

using GetLineErrorFn = I32(DORV_HOST_CALL*)(void*, U8);
using ReportFn = void(DORV_HOST_CALL*)(void*, U8, I32);
using ReadLineStateFn = U8(DORV_HOST_CALL*)(void*, U8);
using SetCallbackFn = void(DORV_HOST_CALL*)(void*, U8, void*, void*);
#if defined(DORV_HOST_REGISTER)
// Stack arguments in reverse (see calls.h).
using TransactFn = I32(DORV_HOST_CALL*)(void*, U8 line, const U8* frame, U8 mode, U8 replyLength, U8* reply, U8 frameLength);
using ConfigureLineFn = I32(DORV_HOST_CALL*)(void*, U8 line, I32 format, I32 baud);
#else
using TransactFn = I32(DORV_HOST_CALL*)(void*, U8 line, const U8* frame, U8 frameLength, U8* reply, U8 replyLength, U8 mode);
using ConfigureLineFn = I32(DORV_HOST_CALL*)(void*, U8 line, I32 format, I32 baud);
#endif

// The callbacks as the host calls them.
#if defined(DORV_HOST_REGISTER)
bool DORV_HOST_CALL ValidatorEntry(void* context, U8 line, U8* reply, I32 unused2, U8* length, I32 unused1) {
#else
bool DORV_HOST_CALL ValidatorEntry(void* context, U8 line, U8* reply, I32 unused1, U8* length, I32 unused2) {
#endif
    LibraryFpu fpu;
    // Nothing of C++ may unwind into the host's frames. The host's own exception out of its
    // ReportLineCode or ReportLineState goes on into its Transact once the driver's validator
    // is cleaned up and the host's control words are back.
    bool accepted = false;
    HostException host;
    bool fromHost = false;
    try {
        accepted = HostLinkAdapter::OfContext(context).Validate(line, reply, unused1, length, unused2);
    } catch (const HostRaised& e) {
        host = e.exception;
        fromHost = true;
    } catch (...) {
        accepted = false;
    }
    fpu.Leave();
    if (fromHost) RaiseHostException(host);
    return accepted;
}

I32 DORV_HOST_CALL ConfiguratorEntry(void* context, U8 line) {
    LibraryFpu fpu;
    try {
        return HostLinkAdapter::OfContext(context).Reconfigure(line);
    } catch (...) {
        return -1;
    }
}

}  // namespace

void HostLinkAdapter::FailIfFreed() const {
    if (Freed()) throw ESerialIO(msg::kLinkFailed);
}

std::int32_t HostLinkAdapter::GetLineError(std::uint8_t line) {
    if (Freed()) return -1;
    I32 result = -1;
    auto call = [&] { result = Slot<GetLineErrorFn>(host_, kGetLineError)(host_, line); };
    HostException raised;
    return Shielded(call, raised) ? result : -1;
}

void HostLinkAdapter::ReportLineCode(std::uint8_t line, std::int32_t code) {
    auto call = [&] { Slot<ReportFn>(host_, kReportLineCode)(host_, line, code); };
    ShieldedOrThrow(call);
}

void HostLinkAdapter::ReportLineState(std::uint8_t line, std::int32_t state) {
    auto call = [&] { Slot<ReportFn>(host_, kReportLineState)(host_, line, state); };
    ShieldedOrThrow(call);
}

std::uint8_t HostLinkAdapter::ReadLineState(std::uint8_t line) {
    FailIfFreed();
    U8 state = 0;
    auto call = [&] { state = Slot<ReadLineStateFn>(host_, kReadLineState)(host_, line); };
    ShieldedOrThrow(call);
    return state;
}

std::int32_t HostLinkAdapter::Transact(std::uint8_t line, const std::uint8_t* frame, std::uint8_t frameLength, std::uint8_t* reply,
                                       std::uint8_t replyLength, std::uint8_t mode) {
    I32 result = 0;
    auto call = [&] {
        auto transact = Slot<TransactFn>(host_, kTransact);
#if defined(DORV_HOST_REGISTER)
        result = transact(host_, line, frame, mode, replyLength, reply, frameLength);
#else
        result = transact(host_, line, frame, frameLength, reply, replyLength, mode);
#endif
    };
    FailIfFreed();
    frame_log::Sent(line, frame, frameLength);
    HostException raised;
    const bool returned = Shielded(call, raised);
    frame_log::ReplyDone(line);
    FailIfFreed();  // freed by the host's message loop while the link waited for the line
    if (!returned) throw HostRaised(raised);
    return result;
}

std::int32_t HostLinkAdapter::ConfigureLine(std::uint8_t line, std::int32_t format, std::int32_t baud) {
    if (Freed()) return -1;
    I32 result = 0;
    auto call = [&] { result = Slot<ConfigureLineFn>(host_, kConfigureLine)(host_, line, format, baud); };
    HostException raised;
    return Shielded(call, raised) ? result : GetLineError(line);
}

void HostLinkAdapter::SetReplyValidator(std::uint8_t line, ReplyValidator validator, void* context) {
    FailIfFreed();
    lines_[line].validator = validator;
    lines_[line].validatorContext = context;
    auto call = [&] { Slot<SetCallbackFn>(host_, kSetReplyValidator)(host_, line, reinterpret_cast<void*>(&ValidatorEntry), context_); };
    ShieldedOrThrow(call);
}

void HostLinkAdapter::SetLineConfigurator(std::uint8_t line, LineConfigurator configurator, void* context) {
    FailIfFreed();
    lines_[line].configurator = configurator;
    lines_[line].configuratorContext = context;
    auto call = [&] {
        Slot<SetCallbackFn>(host_, kSetLineConfigurator)(host_, line, reinterpret_cast<void*>(&ConfiguratorEntry), context_);
    };
    ShieldedOrThrow(call);
}

bool HostLinkAdapter::Validate(std::uint8_t line, std::uint8_t* reply, std::int32_t unused1, std::uint8_t* length, std::int32_t unused2) {
    if (Freed()) return false;
    if (reply && length) frame_log::ReplySeen(line, reply, *length);
    const ReplyValidator validator = lines_[line].validator;
    return validator && validator(lines_[line].validatorContext, line, reply, unused1, length, unused2);
}

std::int32_t HostLinkAdapter::Reconfigure(std::uint8_t line) {
    const LineConfigurator configurator = lines_[line].configurator;
    return configurator ? configurator(lines_[line].configuratorContext, line) : -1;
}

}  // namespace dorv::host
