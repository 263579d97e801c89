// How a failure inside the library reaches a Windows host: every entry the host calls (GetDI30,
// the slots, the menu click, the class table's destructor) runs the driver inside Guarded, and a
// C++ exception becomes a structured exception once its handler is done, so every destructor of
// the driver's frames has run and nothing is left to unwind but plain frames:
//
//   code                     kDriverFailureCode (0xE0445256)
//   ExceptionInformation[0]  1 the caller's fault (dorv::Exception), 2 the line's (ESerialIO),
//                            3 anything else
//   ExceptionInformation[1]  the message, NUL-terminated CP1251 text, valid until the next
//                            failure on the same thread
//   ExceptionInformation[2]  the message's length in bytes
//
// Inside Guarded the library's floating-point control words are in force (fpu_control.h).
//
// An exception the host's own code raised (HostRaised) is raised again as it was, with the
// host's code, flags and information, so that the host's handler finds its own exception.
//
// The library carries its own copy of the C++ run-time, and with it its own unwinder: a C++
// exception leaving an entry could not be unwound through the host's frames, whatever language
// the host is written in.
#pragma once

#include <exception>
#include <string>
#include <utility>

#include "dorv5000/exceptions.h"
#include "host/fpu_control.h"
#include "host/host_boundary.h"
#include "host/shield.h"

namespace dorv::host {

// The message of the thread's last failure, UTF-8; RaiseToHost hands it on in CP1251.
std::string& ThreadMessage();
// Nothing with a destructor may be alive in the caller's frame: the host's handler unwinds past
// it without running any.
[[noreturn]] void RaiseToHost(win::FailureKind kind);
[[noreturn]] void RaiseHostException(const HostException& e);

template <class Call>
auto Guarded(Call&& call) -> decltype(call()) {
    LibraryFpu fpu;
    win::FailureKind kind = win::FailureKind::Other;
    HostException host;
    bool fromHost = false;
    try {
        return std::forward<Call>(call)();
    } catch (const HostRaised& e) {
        host = e.exception;
        fromHost = true;
    } catch (const ESerialIO& e) {
        kind = win::FailureKind::Line;
        ThreadMessage() = e.what();
    } catch (const Exception& e) {
        kind = win::FailureKind::Caller;
        ThreadMessage() = e.what();
    } catch (const std::exception& e) {
        ThreadMessage() = e.what();
    } catch (...) {
        ThreadMessage() = "unknown failure";
    }
    fpu.Leave();
    if (fromHost) RaiseHostException(host);
    RaiseToHost(kind);
}

}  // namespace dorv::host
