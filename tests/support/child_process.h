// A test's child process (a service, a broker, an emulator) ends with the test that started it,
// also when the test is killed, instead of running on and taking the machine's cores. The
// kernel's signal follows the thread that forked, so only a child forked on the test's main
// thread gets it: one forked on a helper thread would die with that thread.
#pragma once

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace dorv::test {

struct Parent {  // taken before the fork
    pid_t pid = ::getpid();
    bool main_thread = ::gettid() == ::getpid();
};

// In the child, between fork and exec.
inline void EndWithParent(const Parent& parent) {
    if (!parent.main_thread) return;
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent.pid) ::_exit(127);  // the parent ended before the call
}

}  // namespace dorv::test
