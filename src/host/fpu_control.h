// The floating-point control words inside the library. Object Pascal hosts run with the x87's
// invalid-operation, zero-divide and overflow exceptions unmasked; the library's arithmetic is
// written for masked ones (an overflow gives infinity, which the range checks then refuse). A
// hardware fault would not pass through the boundary's guard, which catches C++ exceptions only.
//
// So every entry from the host (GetDI30, the slots, the callbacks, the menu click, the windows'
// procedures) runs inside a LibraryFpu: it keeps the caller's x87 control word and MXCSR, loads
// the library's own, and gives the caller's back on every way out. Guarded gives them back
// before it raises to the host, whose handler unwinds past the scope without running it.
// While the library calls the host's code (HostFpu: the shield, the link's reports, the
// windows' modal loop dispatching the host's messages), the host's own words are in force again.
#pragma once

#include <cpuid.h>

#include <cstdint>

namespace dorv::host {

struct FpuWords {
    std::uint16_t x87;
    std::uint32_t mxcsr;
};

// Windows's default for a process: every exception masked, 53-bit precision, round to nearest;
// MXCSR likewise all masked.
inline constexpr FpuWords kLibraryFpu{0x027F, 0x1F80};

inline bool HasSse() {
    static const bool sse = [] {
        unsigned a = 0, b = 0, c = 0, d = 0;
        return __get_cpuid(1, &a, &b, &c, &d) && (d & bit_SSE) != 0;
    }();
    return sse;
}

inline FpuWords ReadFpu() {
    FpuWords w{0, 0};
    asm volatile("fnstcw %0" : "=m"(w.x87));
    if (HasSse()) asm volatile("stmxcsr %0" : "=m"(w.mxcsr));
    return w;
}

inline void LoadFpu(const FpuWords& w) {
    // Pending exception flags of the caller's are cleared so the new word cannot fire them.
    asm volatile("fnclex\n\tfldcw %0" : : "m"(w.x87) : "memory");
    if (HasSse()) asm volatile("ldmxcsr %0" : : "m"(w.mxcsr) : "memory");
}

namespace detail {
// The host's words as the outermost entry on this thread found them; null outside any entry
// (the library's own threads). Every entry gives it back before it is left, an exception of the
// host's passing through included (guard.h, ValidatorEntry).
inline thread_local const FpuWords* t_hostFpu = nullptr;
}  // namespace detail

class LibraryFpu {
public:
    LibraryFpu() : caller_(ReadFpu()), outermost_(detail::t_hostFpu == nullptr) {
        if (outermost_) detail::t_hostFpu = &caller_;
        LoadFpu(kLibraryFpu);
    }
    ~LibraryFpu() { Leave(); }
    LibraryFpu(const LibraryFpu&) = delete;
    LibraryFpu& operator=(const LibraryFpu&) = delete;

    // Gives the caller's words back now; the destructor then does nothing.
    void Leave() {
        if (left_) return;
        left_ = true;
        if (outermost_) detail::t_hostFpu = nullptr;
        LoadFpu(caller_);
    }

private:
    const FpuWords caller_;
    const bool outermost_;
    bool left_ = false;
};

// Around a call of the host's code from inside an entry: the host's words while it runs, so
// that its code, and its handler should it raise, find them. On a thread of the library's own
// there is no host's word, and nothing changes.
class HostFpu {
public:
    HostFpu() : library_(ReadFpu()) {
        if (detail::t_hostFpu) LoadFpu(*detail::t_hostFpu);
    }
    ~HostFpu() { LoadFpu(library_); }  // the library's words again
    HostFpu(const HostFpu&) = delete;
    HostFpu& operator=(const HostFpu&) = delete;

private:
    const FpuWords library_;
};

}  // namespace dorv::host
