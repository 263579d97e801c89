#include "screenshots.h"

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QTabBar>
#include <QTableView>
#include <QTimer>

#include <functional>
#include <iostream>

namespace dorv::service {
namespace {

constexpr int kNumberedTab = 2;
constexpr int kSampleRow = 10;  // "Дискретность датчика расхода топлива": a spin editor
constexpr int kReadColumn = 3;
constexpr int kWriteColumn = 4;
constexpr int kFirstNumberedRow = 7, kLastNumberedRow = 56;  // the model's rows, header not counted
constexpr int kPollMs = 50;
constexpr int kRunLimitMs = 120000;

QWidget* VisibleWindow(const char* name) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String(name) && w->isVisible()) return w;
    return nullptr;
}

// Calls `then` once `done` holds (checked every kPollMs), or gives up with `failed` at the
// deadline.
void When(std::function<bool()> done, std::function<void()> then, std::function<void()> failed, QDeadlineTimer deadline) {
    if (done()) return then();
    if (deadline.hasExpired()) return failed();
    QTimer::singleShot(kPollMs, [=] { When(done, then, failed, deadline); });
}

bool Save(QWidget* window, const QString& file) {
    QDir().mkpath(QFileInfo(file).path());
    const bool saved = window->grab().save(file, "PNG");
    std::cerr << (saved ? "saved " : "cannot save ") << file.toStdString() << "\n";
    return saved;
}

}  // namespace

QString SettingsPictureName(const QString& file) {
    const QFileInfo info(file);
    const QString base = info.completeBaseName() + QStringLiteral("-settings");
    const QString name = info.suffix().isEmpty() ? base : base + '.' + info.suffix();
    return info.path() == QLatin1String(".") && !file.startsWith(QLatin1String("./")) ? name : info.path() + '/' + name;
}

int TakeScreenshots(QAction* paramItem, const QString& file) {
    if (!paramItem) {
        std::cerr << "dorv-service: the driver added no menu item\n";
        return 1;
    }
    int saved = 0;
    // Runs inside the parameter window's modal loop, which paramItem->trigger() enters.
    QTimer::singleShot(0, [&] {
        QWidget* window = VisibleWindow("ParamFrm");
        if (!window) {
            std::cerr << "dorv-service: the parameter window did not open\n";
            return;
        }
        auto close = [window] { QMetaObject::invokeMethod(window, "reject", Qt::QueuedConnection); };
        window->findChild<QTabBar*>("TabControl1Tabs")->setCurrentIndex(kNumberedTab);
        window->findChild<QPushButton*>("Button1")->click();
        auto* grid = window->findChild<QTableView*>("RxDGCommon");
        auto editorShown = [window] {
            const QWidget* editor = window->findChild<QWidget*>("WriteValueEdit");
            return editor && editor->isVisible();
        };
        auto captureDialog = [&saved, window, file, close] {
            // The settings dialog runs a modal loop of its own inside the click.
            QTimer::singleShot(0, [&saved, file] {
                if (QWidget* dialog = VisibleWindow("DriverSettingForm")) {
                    if (Save(dialog, SettingsPictureName(file))) ++saved;
                    QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
                }
            });
            window->findChild<QPushButton*>("DriverSettingBtn")->click();
            close();
        };
        auto captureWindow = [&saved, window, file, captureDialog] {
            if (Save(window, file)) ++saved;
            captureDialog();
        };
        auto runEnded = [window] { return !window->property("readRunActive").toBool(); };
        auto fail = [close] {
            std::cerr << "dorv-service: the read run did not end\n";
            close();
        };
        When(
            runEnded,
            [=] {
                // What the run read, as the "Чтение" cells show it.
                int read = 0;
                for (int row = kFirstNumberedRow; row <= kLastNumberedRow; ++row) {
                    const QString text = grid->model()->index(row, kReadColumn).data().toString();
                    if (!text.isEmpty() && text != QStringLiteral("Ошибка чтения!")) ++read;
                }
                std::cerr << "read " << read << " of " << kLastNumberedRow - kFirstNumberedRow + 1 << " parameters\n";
                grid->setFocus();
                grid->setCurrentIndex(grid->model()->index(kSampleRow, kWriteColumn));
                When(editorShown, captureWindow, captureWindow, QDeadlineTimer(2000));
            },
            fail, QDeadlineTimer(kRunLimitMs));
    });
    paramItem->trigger();
    return saved == 2 ? 0 : 1;
}

}  // namespace dorv::service
