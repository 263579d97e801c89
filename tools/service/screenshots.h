// --screenshot: opens the parameter window through the driver's menu item, reads every
// parameter of the controller at the window's line and address, and saves the window and the
// driver settings dialog as PNG pictures (the dialog's file takes "-settings" before the
// extension). Works on the offscreen platform.
#pragma once

#include <QString>

class QAction;

namespace dorv::service {

// The dialog's picture next to `file`: "docs/param-window.png" -> "docs/param-window-settings.png".
QString SettingsPictureName(const QString& file);

// Runs the whole sequence; returns the process's exit status (0 when both pictures were saved).
int TakeScreenshots(QAction* paramItem, const QString& file);

}  // namespace dorv::service
