// For a test's child processes (a service, a broker, an emulator): the kernel ends the child
// when the test that started it ends, also when the test is killed (a CTest timeout, say).
// Otherwise the child would go on running and take the machine's cores from the tests and
// benchmarks after it.
//
// The kernel's signal follows the thread that forked, not the process, so only a child forked
// on the test's main thread gets it: one forked on a helper thread (a test whose first request
// comes from a thread of its own starts the shared service there) would die with that thread.
#pragma once

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace dorv::test {

struct Parent {
    pid_t pid = ::getpid();
    bool main_thread = ::gettid() == ::getpid();
};

// Called in the child between fork and exec, with the Parent taken before the fork.
inline void EndWithParent(const Parent& parent) {
    if (!parent.main_thread) return;
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The parent may have ended before the call.
    if (::getppid() != parent.pid) ::_exit(127);
}

}  // namespace dorv::test
