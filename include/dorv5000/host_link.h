// HostLink: the host's serial-line object. The driver owns no port: every request frame goes
// out and every reply comes back through this interface, which the host hands to GetDI30.
//
// The virtual operations stand at fixed places in the table (counted from 0): the driver calls
// 1 GetLineError, 2 ReportLineCode, 3 ReportLineState, 4 ReadLineState, 16 Transact,
// 17 ConfigureLine, 19 SetReplyValidator, 21 SetLineConfigurator. The other places are reserved
// and keep them where they are; the destructor comes after all of them.
//
// Threads: the driver may call Transact for one line from several threads at once (the host's
// polling, the parameter window, its read and write runs); a link serialises the transactions of
// one line and may run different lines in parallel.
#pragma once

#include <cstdint>

#include "abi.h"

namespace dorv {

// Called by the link with every reply it collected for the line, before Transact returns.
// It may drop noise ahead of the reply and then writes the new length back through `length`;
// it reports its verdict through ReportLineCode/ReportLineState and returns true when accepted.
using ReplyValidator = bool(DORV_CALL*)(void* context, std::uint8_t line, std::uint8_t* reply, std::int32_t unused1, std::uint8_t* length,
                                        std::int32_t unused2);

// Installed by the driver's SetupLine: the link calls it whenever the line settings need to be
// applied again (a port reopened, say). It calls ConfigureLine(line, 42, 4800).
using LineConfigurator = std::int32_t(DORV_CALL*)(void* context, std::uint8_t line);

// Every reply buffer a driver hands to Transact holds this many bytes. The reply length passed
// with it is what the command expects: a bound for the link's patience, not a promise, since
// a controller may answer a command with a one-byte acknowledgement or a longer frame.
inline constexpr int kReplyCapacity = 255;

// Line states the driver distinguishes: 1 = the controller answered and the reply was accepted.
inline constexpr std::uint8_t kLineAnswered = 1;
inline constexpr std::uint8_t kLineFrameError = 3;

// Codes the reply validator reports.
inline constexpr std::int32_t kCodeAccepted = 0;
inline constexpr std::int32_t kCodeBadCheck = 222;
inline constexpr std::int32_t kCodeNoLead = 223;
inline constexpr std::int32_t kCodeBadFrame = 246;

class DORV_SHARED HostLink {
public:
    virtual void DORV_CALL Reserved0() {}
    // The failure code Transact's caller takes when the transaction raised an exception.
    virtual std::int32_t DORV_CALL GetLineError(std::uint8_t line) = 0;
    // Reported by the validator: 0 accepted, 222 check byte wrong, 223 no lead byte,
    // 246 trailer or complement wrong.
    virtual void DORV_CALL ReportLineCode(std::uint8_t line, std::int32_t code) = 0;
    // Reported by the validator: 1 accepted, 3 frame error.
    virtual void DORV_CALL ReportLineState(std::uint8_t line, std::int32_t state) = 0;
    // The line's state after the last transaction; 1 means the controller answered.
    virtual std::uint8_t DORV_CALL ReadLineState(std::uint8_t line) = 0;
    virtual void DORV_CALL Reserved5() {}
    virtual void DORV_CALL Reserved6() {}
    virtual void DORV_CALL Reserved7() {}
    virtual void DORV_CALL Reserved8() {}
    virtual void DORV_CALL Reserved9() {}
    virtual void DORV_CALL Reserved10() {}
    virtual void DORV_CALL Reserved11() {}
    virtual void DORV_CALL Reserved12() {}
    virtual void DORV_CALL Reserved13() {}
    virtual void DORV_CALL Reserved14() {}
    virtual void DORV_CALL Reserved15() {}
    // Sends `frame`, collects the reply into `reply` (kReplyCapacity bytes), has it checked by
    // the installed validator. Returns 0 when the transaction completed - a silent line is a
    // completed transaction whose line state is not 1 - and a non-zero failure code when the
    // line cannot be used (port not open, device gone, write error).
    virtual std::int32_t DORV_CALL Transact(std::uint8_t line, const std::uint8_t* frame, std::uint8_t frameLength, std::uint8_t* reply,
                                            std::uint8_t replyLength, std::uint8_t mode) = 0;
    // Applies the settings the dispensers need: 42 selects 8 data bits, no parity, one stop
    // bit; 4800 is the baud rate.
    virtual std::int32_t DORV_CALL ConfigureLine(std::uint8_t line, std::int32_t format, std::int32_t baud) = 0;
    virtual void DORV_CALL Reserved18() {}
    virtual void DORV_CALL SetReplyValidator(std::uint8_t line, ReplyValidator validator, void* context) = 0;
    virtual void DORV_CALL Reserved20() {}
    virtual void DORV_CALL SetLineConfigurator(std::uint8_t line, LineConfigurator configurator, void* context) = 0;
    virtual ~HostLink() = default;
};

}  // namespace dorv
