#include "window_hooks.h"

#include <QApplication>
#include <QPointer>
#include <QThread>
#include <future>
#include <memory>

#include "driver/module.h"
#include "driver_settings_dialog.h"
#include "param_frame_widget.h"
#include "ui/module_window.h"

namespace dorv::ui::qt {
namespace {

bool HaveApplication() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }

class QtModuleWindow final : public ModuleWindow {
public:
    ~QtModuleWindow() override {
        // Without the application its widgets are gone already.
        if (HaveApplication()) delete widget_;
    }
    TParamFrm& Logic() override { return widget_->Logic(); }
    bool Showing() const override { return widget_ && widget_->Showing(); }
    void Release() override {
        if (!widget_) return;  // gone with the application's widgets
        widget_->Logic().Shutdown();
        widget_->Logic().SetDriver({});
        if (!HaveApplication()) return;
        // The settings dialog over the window goes first: its OK would write to the driver.
        if (auto* dialog = widget_->SettingsDialogIfCreated(); dialog && dialog->isVisible()) dialog->reject();
        if (widget_->Showing()) widget_->reject();
    }
    ParamFrameWidget* Widget() const { return widget_; }

private:
    QPointer<ParamFrameWidget> widget_ = new ParamFrameWidget();
};

ModuleWindowSlot& Slot() {
    static ModuleWindowSlot slot([]() -> std::unique_ptr<ModuleWindow> {
        // Widgets need the host's application object; without one there is nothing to show.
        if (!HaveApplication()) return nullptr;
        return std::make_unique<QtModuleWindow>();
    });
    return slot;
}

void OpenWindow(TVM30* driver) { Slot().Open(driver); }

void ReleaseWindow(TVM30* driver) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) return Slot().Release(driver);
    // Another thread destroys the driver: the application's thread releases the window while
    // this one waits. The promise travels with the call (a call the application drops breaks
    // it, and the wait ends), and its hand-over is one the thread checkers can see, where a
    // blocking queued call's semaphore is not.
    auto released = std::make_shared<std::promise<void>>();
    auto done = released->get_future();
    QMetaObject::invokeMethod(
        app,
        [driver, released] {
            try {
                Slot().Release(driver);
            } catch (...) {
                // Nothing is left to tell: the driver goes either way.
            }
            released->set_value();
        },
        Qt::QueuedConnection);
    done.wait();
}

}  // namespace

void RegisterWindowHooks() {
    module::SetParamWindowOpener(&OpenWindow);
    module::SetWindowReleaser(&ReleaseWindow);
}

ParamFrameWidget* ModuleParamWindow() {
    const auto* window = static_cast<QtModuleWindow*>(Slot().Window());
    return window ? window->Widget() : nullptr;
}

}  // namespace dorv::ui::qt
