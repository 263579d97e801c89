// The service tool's main window: a main menu with "&Файл" (Выход) and the dispenser menu
// "&ТРК", under which the driver adds its own item, and a status line naming the connection.
#pragma once

#include <QMainWindow>

class QAction;
class QMenu;

namespace dorv::service {

// The caption the driver looks for, accelerator included.
inline constexpr const char* kDispenserMenu = "&ТРК";
// The caption of the item the driver adds.
inline constexpr const char* kParamItemCaption = "Программирование параметров (Dorv 5000)";

class ServiceWindow final : public QMainWindow {
    Q_OBJECT
public:
    explicit ServiceWindow(const QString& connection);

    QMenu* DispenserMenu() const { return dispenserMenu_; }
    // The driver's item under "&ТРК", or null when the driver added none.
    QAction* ParamItem() const;

private:
    QMenu* dispenserMenu_;
};

}  // namespace dorv::service
