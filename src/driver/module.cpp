#include "module.h"

#include <atomic>
#include <mutex>

namespace dorv::module {
namespace {

std::mutex g_mutex;
TVM30* g_instance = nullptr;
DriverHook g_opener;
DriverHook g_releaser;
std::atomic<bool> g_menuPending{true};

}  // namespace

TVM30* DriverInstance() {
    std::lock_guard lock(g_mutex);
    return g_instance;
}

void DriverCreated(TVM30* driver) {
    std::lock_guard lock(g_mutex);
    g_instance = driver;
}

void DriverDestroyed(TVM30* driver) {
    DriverHook releaser;
    {
        std::lock_guard lock(g_mutex);
        if (g_instance == driver) g_instance = nullptr;
        releaser = g_releaser;
    }
    if (releaser) releaser(driver);
}

bool TakeMenuPending() { return g_menuPending.exchange(false); }
void ResetMenuPendingForTests() { g_menuPending = true; }

void SetParamWindowOpener(DriverHook opener) {
    std::lock_guard lock(g_mutex);
    g_opener = std::move(opener);
}

void OpenParamWindow(TVM30* driver) {
    DriverHook opener;
    {
        std::lock_guard lock(g_mutex);
        opener = g_opener;
    }
    if (opener) opener(driver);
}

void SetWindowReleaser(DriverHook releaser) {
    std::lock_guard lock(g_mutex);
    g_releaser = std::move(releaser);
}

}  // namespace dorv::module
