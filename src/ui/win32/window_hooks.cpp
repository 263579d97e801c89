#include "window_hooks.h"

#include <windows.h>

#include <mutex>

#include "driver/module.h"
#include "param_frame_window.h"

namespace dorv::ui::win32 {
namespace {

struct ModuleWindows {
    ParamFrameWindow* window = nullptr;
    HWND handle = nullptr;
    TVM30* driver = nullptr;  // the driver the window was last opened for
    DWORD thread = 0;         // the window's thread
    bool released = false;    // released while showing: deleted once its showing has ended
};

// Changed on the window's thread only; read under the lock by a thread that destroys a driver.
ModuleWindows& Windows() {
    static ModuleWindows windows;
    return windows;
}

std::mutex& WindowsMutex() {
    static std::mutex mutex;
    return mutex;
}

void Forget() {
    std::lock_guard lock(WindowsMutex());
    Windows() = {};
}

void ReleaseOnWindowThread(TVM30* driver);

void OpenWindow(TVM30* driver) {
    ModuleWindows& w = Windows();
    if (!w.window) {
        auto* window = new ParamFrameWindow();
        if (!window->Handle()) {
            // No window can be made here (a process without a desktop or display): nothing to
            // show, and the click returns at once.
            delete window;
            return;
        }
        window->onRelease = [](TVM30* destroyed) { ReleaseOnWindowThread(destroyed); };
        std::lock_guard lock(WindowsMutex());
        w.window = window;
        w.handle = window->Handle();
        w.thread = GetCurrentThreadId();
    }
    if (driver) w.driver = driver;
    ParamFrameWindow* window = w.window;
    window->Logic().OpenParamWindow(driver);
    if (w.released && !window->Showing()) {
        // The driver went while the window showed: it goes now that its loop has returned.
        Forget();
        delete window;
    }
}

void ReleaseOnWindowThread(TVM30* driver) {
    ModuleWindows& w = Windows();
    ParamFrameWindow* window = w.window;
    if (!window || w.released) return;
    // A window showing for another driver stays; the destroyed one is not its driver.
    if (window->Showing() && w.driver && w.driver != driver) return;
    window->Release();
    if (window->Showing()) {
        // Its modal loop is still on the stack: OpenWindow deletes it when the loop returns.
        w.released = true;
        return;
    }
    Forget();
    delete window;
}

void ReleaseWindow(TVM30* driver) {
    HWND window = nullptr;
    DWORD thread = 0;
    {
        std::lock_guard lock(WindowsMutex());
        if (!Windows().window) return;
        window = Windows().handle;
        thread = Windows().thread;
    }
    if (GetCurrentThreadId() == thread) ReleaseOnWindowThread(driver);
    // From another thread: the window's thread releases it (SendMessage runs the call there, in
    // its message loop or between two of its messages) and this thread waits for that.
    else SendMessageW(window, ParamFrameWindow::kReleaseMessage, 0, reinterpret_cast<LPARAM>(driver));
}

}  // namespace

void RegisterWindowHooks() {
    module::SetParamWindowOpener(&OpenWindow);
    module::SetWindowReleaser(&ReleaseWindow);
}

}  // namespace dorv::ui::win32
