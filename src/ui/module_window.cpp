#include "module_window.h"

#include <utility>

namespace dorv::ui {

ModuleWindowSlot::ModuleWindowSlot(std::function<std::unique_ptr<ModuleWindow>()> make) : make_(std::move(make)) {}
ModuleWindowSlot::~ModuleWindowSlot() = default;

void ModuleWindowSlot::Forget() {
    driver_ = nullptr;
    released_ = false;
    window_.reset();
}

void ModuleWindowSlot::Open(TVM30* driver) {
    if (!window_) {
        window_ = make_();
        if (!window_) return;
    }
    if (driver) driver_ = driver;
    ModuleWindow* window = window_.get();
    window->Logic().OpenParamWindow(driver);
    // The driver went while the window showed: it goes now that its loop has returned.
    if (released_ && !window->Showing()) Forget();
}

void ModuleWindowSlot::Release(TVM30* driver) {
    ModuleWindow* window = window_.get();
    if (!window || released_) return;
    // A window showing for another driver stays; the destroyed one is not its driver.
    if (window->Showing() && driver_ && driver_ != driver) return;
    window->Release();
    if (window->Showing()) {
        released_ = true;
        return;
    }
    Forget();
}

}  // namespace dorv::ui
