#include "window_hooks.h"

#include <windows.h>

#include <mutex>

#include "driver/module.h"
#include "param_frame_window.h"
#include "ui/module_window.h"

namespace dorv::ui::win32 {
namespace {

void ReleaseOnWindowThread(TVM30* driver);

class Win32ModuleWindow final : public ModuleWindow {
public:
    TParamFrm& Logic() override { return window_.Logic(); }
    bool Showing() const override { return window_.Showing(); }
    void Release() override { window_.Release(); }
    ParamFrameWindow& Window() { return window_; }

private:
    ParamFrameWindow window_;
};

// Where a thread that destroys a driver sends the release: set on the window's thread, read
// under the lock by any thread.
struct WindowAddress {
    HWND handle = nullptr;
    DWORD thread = 0;
};

std::mutex& AddressMutex() {
    static std::mutex mutex;
    return mutex;
}

WindowAddress& Address() {
    static WindowAddress address;
    return address;
}

void SetAddress(WindowAddress address) {
    std::lock_guard lock(AddressMutex());
    Address() = address;
}

ModuleWindowSlot& Slot() {
    static ModuleWindowSlot slot([]() -> std::unique_ptr<ModuleWindow> {
        auto window = std::make_unique<Win32ModuleWindow>();
        // No window can be made here (a process without a desktop or display): nothing to show,
        // and the click returns at once.
        if (!window->Window().Handle()) return nullptr;
        window->Window().onRelease = [](TVM30* destroyed) { ReleaseOnWindowThread(destroyed); };
        SetAddress({window->Window().Handle(), GetCurrentThreadId()});
        return window;
    });
    return slot;
}

void OpenWindow(TVM30* driver) {
    Slot().Open(driver);
    if (!Slot().Window()) SetAddress({});
}

void ReleaseOnWindowThread(TVM30* driver) {
    Slot().Release(driver);
    if (!Slot().Window()) SetAddress({});
}

void ReleaseWindow(TVM30* driver) {
    WindowAddress window;
    {
        std::lock_guard lock(AddressMutex());
        window = Address();
    }
    if (!window.handle) return;
    if (GetCurrentThreadId() == window.thread) ReleaseOnWindowThread(driver);
    // From another thread: the window's thread releases it (SendMessage runs the call there, in
    // its message loop or between two of its messages) and this thread waits for that.
    else
        SendMessageW(window.handle, ParamFrameWindow::kReleaseMessage, 0, reinterpret_cast<LPARAM>(driver));
}

}  // namespace

void RegisterWindowHooks() {
    module::SetParamWindowOpener(&OpenWindow);
    module::SetWindowReleaser(&ReleaseWindow);
}

}  // namespace dorv::ui::win32
