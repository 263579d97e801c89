#include "window_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QWidget>

namespace dorv::ui::qt {
namespace {

QSettings Store() { return QSettings(QStringLiteral("Dorv5000"), QStringLiteral("Dorv5000")); }

}  // namespace

bool WindowPlacement::Restore(QWidget& window) const {
    QSettings settings = Store();
    const QVariant value = settings.value(key_ + QStringLiteral("/pos"));
    if (!value.isValid()) return false;
    const QPoint pos = value.toPoint();
    if (!QGuiApplication::screenAt(pos + QPoint(8, 8))) return false;
    window.move(pos);
    return true;
}

void WindowPlacement::Save(const QWidget& window) const {
    QSettings settings = Store();
    settings.setValue(key_ + QStringLiteral("/pos"), window.pos());
}

void WindowPlacement::CentreOnScreen(QWidget& window) {
    const QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect frame = window.frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window.move(frame.topLeft());
}

}  // namespace dorv::ui::qt
