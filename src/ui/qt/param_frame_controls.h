// The parameter window's controls, laid out as on the stations (pixel positions in the client
// area, "MS Sans Serif" 11 pixels, bold buttons, tabs at the bottom). Object names are the
// controls' names, so tests and the service tool find them by role.
#pragma once

#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabBar>
#include <QToolBar>

#include "ui/window_geometry.h"

namespace dorv::ui::qt {

class ParamGrid;

using geometry::kClientHeight;
using geometry::kClientWidth;
using geometry::kStatusBarHeight;

struct ParamFrameControls {
    QFrame* panel1 = nullptr;
    QLabel* label1 = nullptr;
    QSpinBox* comPortEdit = nullptr;
    QLabel* label2 = nullptr;
    QSpinBox* addrEdit = nullptr;
    QLabel* idLabel = nullptr;
    QSpinBox* edIdNumber = nullptr;
    QPushButton* button1 = nullptr;
    QPushButton* saveBtn = nullptr;
    QPushButton* loadBtn = nullptr;
    QPushButton* writeBtn = nullptr;
    QToolBar* toolBar1 = nullptr;
    QAction* copyTool = nullptr;
    QAction* pasteTool = nullptr;
    QPushButton* driverSettingBtn = nullptr;
    QPushButton* bitBtn1 = nullptr;
    QFrame* tabControl1 = nullptr;
    QTabBar* tabs = nullptr;
    QFrame* panel2 = nullptr;
    QStatusBar* statusBar1 = nullptr;
    QLabel* statusPanel = nullptr;
    QAction* actionExit = nullptr;

    // Builds every control but the grid, which goes into tabControl1 at GridGeometry().
    static ParamFrameControls Build(QWidget* window);
    static QRect GridGeometry();
};

}  // namespace dorv::ui::qt
