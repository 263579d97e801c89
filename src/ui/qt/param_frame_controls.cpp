#include "param_frame_controls.h"

#include <QGridLayout>
#include <QStyle>
#include <climits>

#include "qt_strings.h"
#include "ui/param_window.h"
#include "ui/texts.h"
#include "window_fonts.h"

namespace dorv::ui::qt {
namespace {

constexpr int kTabControlHeight = 599;
constexpr int kTabBarHeight = 24;  // the tabs below the page; the page keeps 4 pixels around

template <typename W>
W* Named(W* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* text, int x, int y) {
    auto* label = Named(new QLabel(Q(text), parent), name);
    label->move(x, y);
    label->adjustSize();
    return label;
}

QSpinBox* MakeSpin(QWidget* parent, const char* name, QRect geometry, int min, int max, int value) {
    auto* spin = Named(new QSpinBox(parent), name);
    spin->setGeometry(geometry);
    spin->setRange(min, max);
    spin->setValue(value);
    return spin;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* text, QRect geometry) {
    auto* button = Named(new QPushButton(Q(text), parent), name);
    button->setGeometry(geometry);
    button->setFont(Bold(parent->font()));
    FitCaption(button, 8);
    // Enter belongs to the in-cell editors, never to a button of the window.
    button->setAutoDefault(false);
    return button;
}

// "Настройки драйвера" is larger and wraps within its button.
QPushButton* MakeWrappingButton(QWidget* parent, const char* name, const char* text, QRect geometry) {
    auto* button = MakeButton(parent, name, "", geometry);
    button->setFont(Bold(parent->font(), 13));
    auto* caption = Named(new QLabel(Q(text), button), "caption");
    caption->setWordWrap(true);
    caption->setAlignment(Qt::AlignCenter);
    caption->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* layout = new QGridLayout(button);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->addWidget(caption);
    button->setAccessibleName(Q(text));
    return button;
}

}  // namespace

QRect ParamFrameControls::GridGeometry() {
    return QRect(4, 4, 807, kTabControlHeight - kTabBarHeight - 4);
}

ParamFrameControls ParamFrameControls::Build(QWidget* window) {
    ParamFrameControls c;
    c.panel1 = Named(new QFrame(window), "Panel1");
    c.panel1->setGeometry(0, 0, kClientWidth, kClientHeight - kStatusBarHeight);
    c.panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    QWidget* p = c.panel1;

    c.label1 = MakeLabel(p, "Label1", text::kComPortLabel, 8, 14);
    c.comPortEdit = MakeSpin(p, "ComPortEdit", {96, 8, 89, 22}, kMinComPort, kMaxComPort, kMinComPort);
    c.label2 = MakeLabel(p, "Label2", text::kAddressLabel, 224, 14);
    c.addrEdit = MakeSpin(p, "AddrEdit", {320, 8, 89, 22}, kMinAddress, kMaxAddress, kMinAddress);
    c.idLabel = MakeLabel(p, "IDLabel", text::kIdNumberLabel, 264, 38);
    c.idLabel->hide();
    // A controller ID is a non-negative number; the field has no other limit.
    c.edIdNumber = MakeSpin(p, "edIDNumber", {320, 32, 89, 22}, 0, INT_MAX, 0);
    c.edIdNumber->hide();

    c.button1 = MakeButton(p, "Button1", text::kReadAllButton, {8, 55, 209, 25});
    c.saveBtn = MakeButton(p, "SaveBtn", text::kSaveButton, {437, 6, 194, 25});
    c.loadBtn = MakeButton(p, "LoadBtn", text::kLoadButton, {437, 37, 194, 25});
    c.writeBtn = MakeButton(p, "WriteBtn", text::kWriteAllButton, {437, 68, 194, 25});

    c.toolBar1 = Named(new QToolBar(p), "ToolBar1");
    c.toolBar1->setOrientation(Qt::Vertical);
    c.toolBar1->setMovable(false);
    c.toolBar1->setFloatable(false);
    c.toolBar1->setIconSize(QSize(16, 16));
    c.toolBar1->setGeometry(631, 4, 40, 66);
    c.copyTool = Named(c.toolBar1->addAction(window->style()->standardIcon(QStyle::SP_DialogSaveButton), QString()), "CopyTool");
    c.copyTool->setToolTip(Q(text::kCopyHint));
    c.copyTool->setStatusTip(Q(text::kCopyHint));
    c.pasteTool = Named(c.toolBar1->addAction(window->style()->standardIcon(QStyle::SP_DialogOpenButton), Q(text::kPasteCaption)), "PasteTool");
    c.pasteTool->setToolTip(Q(text::kPasteHint));
    c.pasteTool->setStatusTip(Q(text::kPasteHint));
    for (QAction* tool : {c.copyTool, c.pasteTool})
        if (QWidget* button = c.toolBar1->widgetForAction(tool)) button->setFixedSize(28, 28);

    c.driverSettingBtn = MakeWrappingButton(p, "DriverSettingBtn", text::kDriverSettingsButton, {693, 4, 116, 46});
    c.bitBtn1 = MakeButton(p, "BitBtn1", text::kCloseButton, {693, 68, 108, 25});
    c.bitBtn1->setFont(p->font());
    c.bitBtn1->setIcon(window->style()->standardIcon(QStyle::SP_DialogCloseButton));
    FitCaption(c.bitBtn1, 28);

    c.tabControl1 = Named(new QFrame(p), "TabControl1");
    c.tabControl1->setGeometry(1, 86, 815, kTabControlHeight);
    c.tabControl1->setFrameStyle(QFrame::StyledPanel | QFrame::Plain);
    c.tabs = Named(new QTabBar(c.tabControl1), "TabControl1Tabs");
    c.tabs->setShape(QTabBar::RoundedSouth);
    c.tabs->setExpanding(false);
    c.tabs->setDrawBase(false);
    for (const char* caption : text::kTabs) c.tabs->addTab(Q(caption));
    c.tabs->setCurrentIndex(0);
    c.tabs->setGeometry(4, kTabControlHeight - kTabBarHeight, 807, kTabBarHeight);
    // WriteBtn and BitBtn1 reach a few pixels into the tab control's top and stay in front.
    c.tabControl1->lower();

    c.panel2 = Named(new QFrame(window), "Panel2");
    c.panel2->setGeometry(0, kClientHeight - kStatusBarHeight, kClientWidth, 0);

    c.statusBar1 = Named(new QStatusBar(window), "StatusBar1");
    c.statusBar1->setSizeGripEnabled(false);
    c.statusBar1->setGeometry(0, kClientHeight - kStatusBarHeight, kClientWidth, kStatusBarHeight);
    c.statusBar1->setAutoFillBackground(true);
    c.statusPanel = Named(new QLabel(c.statusBar1), "StatusPanel");
    c.statusBar1->addWidget(c.statusPanel, 1);

    c.actionExit = Named(new QAction(window), "ActionExit");
    c.actionExit->setShortcuts({QKeySequence(Qt::ALT | Qt::Key_X), QKeySequence(Qt::Key_Escape)});
    c.actionExit->setShortcutContext(Qt::WindowShortcut);
    window->addAction(c.actionExit);
    return c;
}

}  // namespace dorv::ui::qt
