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

namespace g = geometry;

QRect At(const g::Place& p) { return {p.x, p.y, p.width, p.height}; }

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

QRect ParamFrameControls::GridGeometry() { return At(g::kGrid); }

ParamFrameControls ParamFrameControls::Build(QWidget* window) {
    ParamFrameControls c;
    c.panel1 = Named(new QFrame(window), "Panel1");
    c.panel1->setGeometry(0, 0, kClientWidth, kClientHeight - kStatusBarHeight);
    c.panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    QWidget* p = c.panel1;

    c.label1 = MakeLabel(p, "Label1", text::kComPortLabel, g::kComPortLabel.x, g::kComPortLabel.y);
    c.comPortEdit = MakeSpin(p, "ComPortEdit", At(g::kComPortEdit), kMinComPort, kMaxComPort, kMinComPort);
    c.label2 = MakeLabel(p, "Label2", text::kAddressLabel, g::kAddressLabel.x, g::kAddressLabel.y);
    c.addrEdit = MakeSpin(p, "AddrEdit", At(g::kAddressEdit), kMinAddress, kMaxAddress, kMinAddress);
    c.idLabel = MakeLabel(p, "IDLabel", text::kIdNumberLabel, g::kIdNumberLabel.x, g::kIdNumberLabel.y);
    c.idLabel->hide();
    // A controller ID is a non-negative number; the field has no other limit.
    c.edIdNumber = MakeSpin(p, "edIDNumber", At(g::kIdNumberEdit), 0, INT_MAX, 0);
    c.edIdNumber->hide();

    c.button1 = MakeButton(p, "Button1", text::kReadAllButton, At(g::kReadAllButton));
    c.saveBtn = MakeButton(p, "SaveBtn", text::kSaveButton, At(g::kSaveButton));
    c.loadBtn = MakeButton(p, "LoadBtn", text::kLoadButton, At(g::kLoadButton));
    c.writeBtn = MakeButton(p, "WriteBtn", text::kWriteAllButton, At(g::kWriteAllButton));

    c.toolBar1 = Named(new QToolBar(p), "ToolBar1");
    c.toolBar1->setOrientation(Qt::Vertical);
    c.toolBar1->setMovable(false);
    c.toolBar1->setFloatable(false);
    c.toolBar1->setIconSize(QSize(16, 16));
    c.toolBar1->setGeometry(At(g::kToolBar));
    c.copyTool = Named(c.toolBar1->addAction(window->style()->standardIcon(QStyle::SP_DialogSaveButton), QString()), "CopyTool");
    c.copyTool->setToolTip(Q(text::kCopyHint));
    c.copyTool->setStatusTip(Q(text::kCopyHint));
    c.pasteTool =
        Named(c.toolBar1->addAction(window->style()->standardIcon(QStyle::SP_DialogOpenButton), Q(text::kPasteCaption)), "PasteTool");
    c.pasteTool->setToolTip(Q(text::kPasteHint));
    c.pasteTool->setStatusTip(Q(text::kPasteHint));
    for (QAction* tool : {c.copyTool, c.pasteTool})
        if (QWidget* button = c.toolBar1->widgetForAction(tool)) button->setFixedSize(g::kToolButton, g::kToolButton);

    c.driverSettingBtn = MakeWrappingButton(p, "DriverSettingBtn", text::kDriverSettingsButton, At(g::kSettingsButton));
    c.bitBtn1 = MakeButton(p, "BitBtn1", text::kCloseButton, At(g::kCloseButton));
    c.bitBtn1->setFont(p->font());
    c.bitBtn1->setIcon(window->style()->standardIcon(QStyle::SP_DialogCloseButton));
    FitCaption(c.bitBtn1, 28);

    c.tabControl1 = Named(new QFrame(p), "TabControl1");
    c.tabControl1->setGeometry(At(g::kTabControl));
    c.tabControl1->setFrameStyle(QFrame::StyledPanel | QFrame::Plain);
    c.tabs = Named(new QTabBar(c.tabControl1), "TabControl1Tabs");
    c.tabs->setShape(QTabBar::RoundedSouth);
    c.tabs->setExpanding(false);
    c.tabs->setDrawBase(false);
    for (const char* caption : text::kTabs) c.tabs->addTab(Q(caption));
    c.tabs->setCurrentIndex(0);
    c.tabs->setGeometry(g::kGrid.x, g::kTabControl.height - g::kTabBarHeight, g::kGrid.width, g::kTabBarHeight);
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
