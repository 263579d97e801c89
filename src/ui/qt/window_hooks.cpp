#include "window_hooks.h"

#include <QApplication>
#include <QPointer>
#include <QThread>

#include "driver/module.h"
#include "param_frame_widget.h"

namespace dorv::ui::qt {
namespace {

struct ModuleWindows {
    QPointer<ParamFrameWidget> window;
    TVM30* driver = nullptr;  // the driver the window was last opened for
};

ModuleWindows& Windows() {
    static ModuleWindows windows;
    return windows;
}

void OpenWindow(TVM30* driver) {
    // Widgets need the host's application object; without one there is nothing to show.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return;
    ModuleWindows& w = Windows();
    if (!w.window) w.window = new ParamFrameWidget();
    if (driver) w.driver = driver;
    w.window->Logic().OpenParamWindow(driver);
}

void ReleaseOnWindowThread(TVM30* driver) {
    ModuleWindows& w = Windows();
    ParamFrameWidget* window = w.window;
    if (!window) return;
    // A window showing for another driver stays; the destroyed one is not its driver.
    if (window->isVisible() && w.driver && w.driver != driver) return;
    window->Logic().Shutdown();
    window->Logic().SetDriver({});
    w.window = nullptr;
    w.driver = nullptr;
    if (window->isVisible()) {
        // Released while showing (its modal loop is still on the stack): close now, delete
        // once the loop has returned.
        window->reject();
        window->deleteLater();
    } else {
        delete window;
    }
}

void ReleaseWindow(TVM30* driver) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        // The application is gone and its widgets with it; only the runs may still hold the
        // driver.
        if (ParamFrameWidget* window = Windows().window) window->Logic().Shutdown();
        Windows() = {};
        return;
    }
    if (QThread::currentThread() == app->thread()) ReleaseOnWindowThread(driver);
    else QMetaObject::invokeMethod(app, [driver] { ReleaseOnWindowThread(driver); }, Qt::BlockingQueuedConnection);
}

}  // namespace

void RegisterWindowHooks() {
    module::SetParamWindowOpener(&OpenWindow);
    module::SetWindowReleaser(&ReleaseWindow);
}

ParamFrameWidget* ModuleParamWindow() { return Windows().window; }

}  // namespace dorv::ui::qt
