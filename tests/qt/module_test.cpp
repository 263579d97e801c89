// libDorv5000Qt.so loaded as the service tool loads it: one module holding the driver and its
// windows. Loading it registers the windows, its menu item opens the parameter window, and
// destroying the driver takes the window away.
#include <dlfcn.h>

#include <QApplication>
#include <QMenuBar>
#include <QStandardPaths>
#include <QTest>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <thread>

#include "dorv5000/driver.h"
#include "qt_menu.h"
#include "recording_link.h"
#include "temp_dir.h"

namespace {

using GetDI30Fn = dorv::DI30*(DORV_CALL*)(std::int32_t, std::int32_t, dorv::HostLink*);

QWidget* ParamWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("ParamFrm")) return w;
    return nullptr;
}

}  // namespace

class ModuleTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void theModulesMenuItemOpensItsWindowAndTheDriverReleasesIt() {
        dorv::test::TempDir dir;
        void* module = dlopen(DORV_QT_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        QVERIFY2(module, dlerror());
        auto create = reinterpret_cast<GetDI30Fn>(dlsym(module, "GetDI30"));
        QVERIFY(create);
        QCOMPARE(dlsym(module, "_ZN4dorv6module15OpenParamWindowEPNS_5TVM30E"), nullptr);  // internals stay inside

        dorv::test::RecordingLink link;
        std::unique_ptr<dorv::DI30> driver(create(0, 0, &link));
        QMenuBar bar;
        QMenu* dispenser = bar.addMenu(QStringLiteral("&ТРК"));
        dorv::ui::qt::QtMenuItem root(&bar);
        dorv::ui::qt::QtMenuItemFactory factory;
        driver->AttachMenu(&root, &factory);
        QCOMPARE(dispenser->actions().size(), 1);

        bool opened = false;
        QTimer::singleShot(0, [&opened] {
            QWidget* window = ParamWindow();
            opened = window && window->isVisible();
            if (window) QMetaObject::invokeMethod(window, "reject");
        });
        dispenser->actions().front()->trigger();
        QVERIFY(opened);
        QVERIFY(ParamWindow());  // kept for the next click

        // The host destroys the driver while its window shows: the window goes, and the click
        // touches nothing of the destroyed driver afterwards (ASan sees any such write).
        QTimer::singleShot(0, [&driver] { driver.reset(); });
        dispenser->actions().front()->trigger();
        QVERIFY(!driver);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(ParamWindow(), nullptr);

        // Destroyed from another thread while the settings dialog shows over the window: the
        // dialog goes too, so no OK can write the settings into the destroyed driver.
        driver.reset(create(0, 0, &link));
        driver->AttachMenu(&root, &factory);
        std::atomic<bool> destroyed{false};
        std::thread destroyer;
        bool dialogOutlived = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (!destroyed) return;
            poll.stop();
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w->objectName() == QLatin1String("DriverSettingForm") && w->isVisible()) {
                    dialogOutlived = true;
                    QMetaObject::invokeMethod(w, "reject");
                }
        });
        QTimer::singleShot(0, [&] {
            QTimer::singleShot(0, [&] {
                destroyer = std::thread([&] {
                    driver.reset();
                    destroyed = true;
                });
                poll.start(10);
            });
            ParamWindow()->findChild<QPushButton*>("DriverSettingBtn")->click();
        });
        dispenser->actions().front()->trigger();
        destroyer.join();
        QVERIFY(!dialogOutlived);
        QCOMPARE(ParamWindow(), nullptr);
    }
};

QTEST_MAIN(ModuleTest)
#include "module_test.moc"
