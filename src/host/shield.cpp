#include "host/shield.h"

#include <windows.h>

#include <cstdio>

#include "host/fpu_control.h"

namespace dorv::host {

namespace {

std::string Describe(const HostException& e) {
    char text[48];
    std::snprintf(text, sizeof text, "host exception %08lX", static_cast<unsigned long>(e.code));
    return text;
}

}  // namespace

HostRaised::HostRaised(const HostException& e) : std::runtime_error(Describe(e)), exception(e) {}

namespace detail {
namespace {

constexpr DWORD kUnwinding = 0x2 | 0x4;  // EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND

// A registration record of the thread's handler chain (FS:[0]), followed by what the handler
// needs to resume in CallShielded.
struct ShieldFrame {
    ShieldFrame* next;
    void* handler;
    void* resume[5];  // __builtin_setjmp's buffer
    HostException* raised;
};

ShieldFrame* ChainHead() {
    ShieldFrame* head;
    asm volatile("movl %%fs:0, %0" : "=r"(head));
    return head;
}

void SetChainHead(ShieldFrame* head) { asm volatile("movl %0, %%fs:0" : : "r"(head) : "memory"); }

// Unwinds every frame registered above `frame` (the host's own handlers run their finally
// parts). RtlUnwind is not relied on to keep EBX, ESI, EDI and EBP.
void UnwindAbove(ShieldFrame* frame, EXCEPTION_RECORD* record) {
    auto* unwind = &RtlUnwind;
    asm volatile(
        "pushl %%ebx\n\t"
        "pushl %%esi\n\t"
        "pushl %%edi\n\t"
        "pushl %%ebp\n\t"
        "pushl $0\n\t"
        "pushl %1\n\t"
        "pushl $0\n\t"
        "pushl %0\n\t"
        "call *%2\n\t"
        "popl %%ebp\n\t"
        "popl %%edi\n\t"
        "popl %%esi\n\t"
        "popl %%ebx"
        : "+a"(frame), "+d"(record), "+c"(unwind)
        :
        : "memory", "cc");
}

extern "C" EXCEPTION_DISPOSITION __cdecl ShieldHandler(EXCEPTION_RECORD* record, void* frame, CONTEXT*, void*) {
    if (record->ExceptionFlags & kUnwinding) return ExceptionContinueSearch;
    auto* shield = static_cast<ShieldFrame*>(frame);
    HostException& raised = *shield->raised;
    raised.code = record->ExceptionCode;
    raised.flags = record->ExceptionFlags;
    raised.count = record->NumberParameters < 15 ? record->NumberParameters : 15;
    for (std::uint32_t i = 0; i < raised.count; ++i) raised.information[i] = record->ExceptionInformation[i];
    UnwindAbove(shield, record);
    // Back into CallShielded, past the host's frames; the shield's record is again the head of
    // the chain.
    __builtin_longjmp(shield->resume, 1);
}

}  // namespace

__attribute__((noinline)) bool CallShielded(void (*call)(void*), void* argument, HostException* raised) {
    ShieldFrame frame{};
    frame.handler = reinterpret_cast<void*>(&ShieldHandler);
    frame.raised = raised;
    frame.next = ChainHead();
    HostFpu hostFpu;
    if (__builtin_setjmp(frame.resume) == 0) {
        SetChainHead(&frame);
        call(argument);
        SetChainHead(frame.next);
        return true;
    }
    // The handler's jump lands back here, so both ways out leave by return, and the host's
    // words go with `hostFpu` as it ends.
    SetChainHead(frame.next);
    return false;
}

}  // namespace detail
}  // namespace dorv::host
