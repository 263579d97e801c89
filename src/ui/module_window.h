// The module's one parameter window and how it comes and goes, whatever draws it. The host's
// menu item opens it modally for a driver (built on first use and kept); destroying a driver
// releases it: the runs are stopped and joined and both windows close before the driver goes.
// A window released while its modal loop is still on the stack is deleted once the loop returns.
//
// Thread safety: the window's thread only; a toolkit brings a release from another thread there.
#pragma once

#include <functional>
#include <memory>

#include "param_window.h"

namespace dorv {
class TVM30;
}

namespace dorv::ui {

// What the slot needs of a toolkit's window.
class ModuleWindow {
public:
    virtual ~ModuleWindow() = default;
    virtual TParamFrm& Logic() = 0;
    // Its modal loop is on the stack.
    virtual bool Showing() const = 0;
    // Stops and joins the runs (without blocking what they wait for on this thread), forgets
    // the driver and ends the showings of both windows.
    virtual void Release() = 0;
};

class ModuleWindowSlot {
public:
    // `make` builds the window; null when none can be shown here (no display).
    explicit ModuleWindowSlot(std::function<std::unique_ptr<ModuleWindow>()> make);
    ~ModuleWindowSlot();
    ModuleWindowSlot(const ModuleWindowSlot&) = delete;
    ModuleWindowSlot& operator=(const ModuleWindowSlot&) = delete;

    // Shows the window for `driver` and returns when it has closed.
    void Open(TVM30* driver);
    // `driver` is being destroyed.
    void Release(TVM30* driver);
    ModuleWindow* Window() const { return window_.get(); }

private:
    void Forget();

    std::function<std::unique_ptr<ModuleWindow>()> make_;
    std::unique_ptr<ModuleWindow> window_;
    TVM30* driver_ = nullptr;  // the driver the window was last opened for
    bool released_ = false;    // released while showing
};

}  // namespace dorv::ui
